// The debug channel: quiet unless a program asks for it, and then one stamped line per trace.
#include "platform/debug_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "platform/debug_output.h"
#include "tests/support/temp_dir.h"

using testing_support::read_file;
using testing_support::TempDir;

namespace {

// A trace as the engine writes it: a line end, then the text.
void trace(const std::string& text) {
  platform::debug_output("\r\n");
  platform::debug_output(text);
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace

TEST(DebugFileTest, QuietUnlessAskedAndThenOneStampedLinePerTrace) {
  TempDir dir;
  const auto log = dir.path() / "debug.log", errors = dir.path() / "stderr";

  // Without a sink nothing reaches the user's terminal.
  const int saved = ::dup(STDERR_FILENO);
  const int captured = ::open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  ASSERT_GE(captured, 0);
  ::dup2(captured, STDERR_FILENO);
  trace("read_cfgini_file() read failed.");
  ::dup2(saved, STDERR_FILENO);
  ::close(saved);
  ::close(captured);
  EXPECT_EQ(read_file(errors), "");

  std::string why;
  {
    auto file = platform::DebugFile::open(log.string(), &why);
    ASSERT_TRUE(file) << why;
    trace("first");
    trace("second\n");  // a text with its own line end
    trace("third");
  }
  trace("after the file");  // goes nowhere again
  {
    auto file = platform::DebugFile::open(log.string(), &why);  // appends
    ASSERT_TRUE(file) << why;
    trace("fourth");
  }
  const std::string text = read_file(log);
  const std::vector<std::string> lines = lines_of(text);
  ASSERT_EQ(lines.size(), 4u) << text;
  const std::regex stamped(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d (\w+))");
  const char* expected[] = {"first", "second", "third", "fourth"};
  for (size_t k = 0; k < lines.size(); ++k) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[k], m, stamped)) << lines[k];
    EXPECT_EQ(m[1], expected[k]);
  }
  EXPECT_EQ(text.back(), '\n');

  const std::string missing = (dir.path() / "none" / "debug.log").string();
  EXPECT_FALSE(platform::DebugFile::open(missing, &why));
  EXPECT_EQ(why, missing + ": No such file or directory");
}
