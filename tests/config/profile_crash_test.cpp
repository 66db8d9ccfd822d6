// A settings write interrupted at any moment leaves either the old file or the new one.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "config/private_profile.h"
#include "tests/support/temp_dir.h"

using config::WriteStep;
using testing_support::read_file;

namespace {

WriteStep kill_at;

void kill_self_at(WriteStep step) {
  if (step == kill_at) ::raise(SIGKILL);
}

// Runs `body` in a child process; gives its wait status. The child's exit code is its result.
int in_child(const std::function<int()>& body) {
  pid_t pid = ::fork();
  if (pid == 0) ::_exit(body());
  int status = 0;
  ::waitpid(pid, &status, 0);
  return status;
}

int files_in(const std::filesystem::path& dir) {
  int n = 0;
  for (auto& entry : std::filesystem::directory_iterator(dir)) n += entry.is_regular_file();
  return n;
}

class ProfileCrashTest : public ::testing::Test {
 protected:
  void SetUp() override { std::ofstream(file, std::ios::binary) << old_content; }

  testing_support::TempDir dir;
  std::string file = (dir.path() / "ZEBL.ini").string();
  // Large enough that the new file takes several writes of the kernel's page size.
  std::string old_value = std::string(100000, 'o');
  std::string new_value = std::string(200000, 'n');
  std::string old_content = "[FilePath]\r\nPath=" + old_value + "\r\nSleepTime=8000\r\n";
  std::string new_content = "[FilePath]\r\nPath=" + new_value + "\r\nSleepTime=8000\r\n";
};

}  // namespace

TEST_F(ProfileCrashTest, AWriterKilledAtEachStepLeavesTheOldOrTheNewFile) {
  const struct {
    WriteStep step;
    bool renamed;
  } steps[] = {{WriteStep::temporary_created, false},
               {WriteStep::temporary_written, false},
               {WriteStep::flushed, false},
               {WriteStep::renamed, true}};
  for (const auto& s : steps) {
    SCOPED_TRACE(static_cast<int>(s.step));
    std::ofstream(file, std::ios::binary | std::ios::trunc) << old_content;
    int status = in_child([&] {
      kill_at = s.step;
      config::set_write_step_hook(kill_self_at);
      config::write_private_profile_string("FilePath", "Path", new_value, file);
      return 0;
    });
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGKILL);
    EXPECT_EQ(read_file(file), s.renamed ? new_content : old_content);

    // A temporary file left by the killed writer disturbs neither reading nor the next write.
    ASSERT_TRUE(config::write_private_profile_string("FilePath", "SleepTime", "0", file));
    EXPECT_EQ(config::get_private_profile_string("FilePath", "SleepTime", "", file), "0");
    EXPECT_EQ(config::get_private_profile_string("FilePath", "Path", "", file).size(), 259u);
  }
}

TEST_F(ProfileCrashTest, AFullDiskDuringTheWriteKeepsTheOldFileAndRemovesTheTemporaryOne) {
  int status = in_child([&] {
    ::signal(SIGXFSZ, SIG_IGN);  // the write then fails with EFBIG, as on a full disk
    rlimit limit{150000, 150000};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    return config::write_private_profile_string("FilePath", "Path", new_value, file) ? 1 : 0;
  });
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the failed write was reported as done";
  EXPECT_EQ(read_file(file), old_content);
  EXPECT_EQ(files_in(dir.path()), 1);
}
