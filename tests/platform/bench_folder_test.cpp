// The bench options of the command line and the change into the bench folder, on Linux and,
// cross-built, under Wine.
#include "platform/bench_folder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/executable_dir.h"
#include "tests/support/temp_dir.h"

#ifdef _WIN32
#include <windows.h>
// windows.h first.
#include <knownfolders.h>
#include <objbase.h>
#include <shlobj.h>
#endif

namespace {

namespace fs = std::filesystem;

std::string utf8(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

fs::path from_utf8(const std::string& text) {
  return fs::path(std::u8string(text.begin(), text.end()));
}

// Reads a whole command line as the programs do: the bench options, and the rest apart.
platform::BenchRequest read_line(const std::vector<std::string>& args, std::string* error,
                                 std::vector<std::string>* rest) {
  platform::BenchRequest request;
  error->clear();
  for (size_t i = 1; i < args.size(); ++i) {
    if (!platform::read_bench_option(args, &i, &request, error))
      rest->push_back(args[i]);
    else if (!error->empty())
      break;
  }
  return request;
}

// Every test leaves the working directory and the remembered start folder as it found them.
class BenchFolderTest : public ::testing::Test {
 protected:
  void TearDown() override { platform::set_start_directory({}); }

  testing_support::TempDir started_in;
  testing_support::ScopedWorkingDirectory cwd{started_in.path()};
};

TEST_F(BenchFolderTest, EveryFormOfTheOptionIsReadAndEachFolderIsEnteredFromTheOneBefore) {
  testing_support::TempDir root;
  // A name outside the ANSI code page: Windows must read it from the wide command line.
  const std::string bench_name = "bench \xe5\xb7\xa5\xe4\xbd\x9c \xc3\xbc";
  fs::create_directories(root.path() / "line" / from_utf8(bench_name));
  const std::string root_dir = utf8(root.path());

  std::string error;
  std::vector<std::string> rest;
  platform::BenchRequest request = read_line(
      {"prog", "-C", root_dir, "--verbose", "--bench=line", "-C" + bench_name, "3"}, &error, &rest);
  EXPECT_EQ(error, "");
  EXPECT_EQ(request.folders, (std::vector<std::string>{root_dir, "line", bench_name}));
  EXPECT_EQ(rest, (std::vector<std::string>{"--verbose", "3"}));
  EXPECT_FALSE(request.default_bench);

  // The program works in the last folder as if started there; it remembers where it was started.
  const std::string start = platform::working_directory();
  ASSERT_TRUE(platform::enter_bench(request, &error)) << error;
  EXPECT_TRUE(fs::equivalent(fs::current_path(), root.path() / "line" / from_utf8(bench_name)));
  EXPECT_EQ(platform::start_directory(), start);
  std::ofstream("ZEBL.ini") << "[FilePath]\n";
  EXPECT_TRUE(fs::exists(root.path() / "line" / from_utf8(bench_name) / "ZEBL.ini"));

  // Without a bench option nothing changes, and the start folder is where the program is.
  fs::current_path(started_in.path());
  platform::set_start_directory({});
  ASSERT_TRUE(platform::enter_bench({}, &error));
  EXPECT_TRUE(fs::equivalent(fs::current_path(), started_in.path()));
  EXPECT_EQ(platform::start_directory(), platform::working_directory());
}

TEST_F(BenchFolderTest, AFolderThatIsMissingOrAFileOrAnEmptyNameIsRefusedAndNothingChanges) {
  std::ofstream(started_in.path() / "ZEBL.ini") << "[FilePath]\n";
  std::string error;
  std::vector<std::string> rest;
  for (const auto& [line, told] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"prog", "--bench"}, "option '--bench' requires a folder"},
           {{"prog", "-C"}, "option '-C' requires a folder"},
           {{"prog", "--bench="}, "option '--bench' requires a folder"},
           {{"prog", "-C", ""}, "option '-C' requires a folder"},
       }) {
    read_line(line, &error, &rest);
    EXPECT_EQ(error, told);
  }

  const fs::path here = fs::current_path();
  platform::BenchRequest request;
  request.folders = {"missing"};
  EXPECT_FALSE(platform::enter_bench(request, &error));
  EXPECT_EQ(error.rfind("bench folder missing: ", 0), 0u) << error;
  request.folders = {"ZEBL.ini"};
  EXPECT_FALSE(platform::enter_bench(request, &error));
  EXPECT_EQ(error, "bench folder ZEBL.ini: not a folder");
  request.default_bench = true;
  request.folders = {"."};
  EXPECT_FALSE(platform::enter_bench(request, &error));
  EXPECT_EQ(error, "--default-bench and --bench name two benches: give one of them");
  EXPECT_TRUE(fs::equivalent(fs::current_path(), here));
}

#ifndef _WIN32
// Sets $HOME for the test's scope.
class ScopedHome {
 public:
  explicit ScopedHome(const std::string& home) {
    if (const char* old = std::getenv("HOME")) previous_ = old;
    ::setenv("HOME", home.c_str(), 1);
  }
  ~ScopedHome() { ::setenv("HOME", previous_.c_str(), 1); }

 private:
  std::string previous_;
};

TEST_F(BenchFolderTest, TheDefaultBenchIsMadeInTheHomeOnFirstStartAndKeptAfterwards) {
  testing_support::TempDir home;
  ScopedHome use_home(home.str() + "/");
  platform::BenchRequest request;
  request.default_bench = true;
  std::string error;
  ASSERT_TRUE(platform::enter_bench(request, &error)) << error;
  EXPECT_TRUE(fs::is_directory(home.path() / "quillmark"));
  EXPECT_TRUE(fs::equivalent(fs::current_path(), home.path() / "quillmark"));
  std::ofstream("ZEBL.ini") << "[FilePath]\n";

  // The second start finds it with what it holds.
  fs::current_path(started_in.path());
  ASSERT_TRUE(platform::enter_bench(request, &error)) << error;
  EXPECT_TRUE(fs::exists(home.path() / "quillmark" / "ZEBL.ini"));

  // A file in its place is refused, never replaced.
  fs::remove_all(home.path() / "quillmark");
  std::ofstream(home.path() / "quillmark") << "notes";
  fs::current_path(started_in.path());
  EXPECT_FALSE(platform::enter_bench(request, &error));
  EXPECT_EQ(error, "bench folder " + home.str() + "/quillmark: not a folder");
  EXPECT_TRUE(fs::equivalent(fs::current_path(), started_in.path()));

  // In somebody else's home (root with another user's HOME) nothing is made.
  if (::geteuid() == 0) {
    fs::remove(home.path() / "quillmark");
    ASSERT_EQ(::chown(home.str().c_str(), 4321, 4321), 0);
    EXPECT_FALSE(platform::enter_bench(request, &error));
    EXPECT_EQ(error, "bench folder " + home.str() + "/quillmark: not made: " + home.str() +
                         " belongs to user 4321, not to user 0");
    EXPECT_FALSE(fs::exists(home.path() / "quillmark"));
  }
}
#else
TEST_F(BenchFolderTest, TheDefaultBenchIsTheQuillmarkFolderOfTheUsersDocuments) {
  PWSTR documents = nullptr;
  ASSERT_EQ(::SHGetKnownFolderPath(FOLDERID_Documents, 0, nullptr, &documents), S_OK);
  const fs::path expected = fs::path(documents) / "quillmark";
  ::CoTaskMemFree(documents);

  platform::BenchRequest request;
  request.default_bench = true;
  std::string error;
  ASSERT_TRUE(platform::enter_bench(request, &error)) << error;
  EXPECT_TRUE(fs::is_directory(expected));
  EXPECT_TRUE(fs::equivalent(fs::current_path(), expected));
  // Entered again, it is found as it is.
  fs::current_path(started_in.path());
  ASSERT_TRUE(platform::enter_bench(request, &error)) << error;
  EXPECT_TRUE(fs::equivalent(fs::current_path(), expected));
}
#endif

}  // namespace
