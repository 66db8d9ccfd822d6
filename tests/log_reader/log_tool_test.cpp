// quillmark-log as the operator runs it, in a bench folder.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace {

struct ToolRun {
  int status;
  std::string out, err;
};

// Runs the tool in `dir` with its standard output and error going to files.
ToolRun run(const testing_support::TempDir& dir, std::vector<std::string> args) {
  args.insert(args.begin(), QUILL_LOG_TOOL);
  std::string out = (dir.path() / "out.txt").string(), err = (dir.path() / "err.txt").string();
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = ::fork();
  if (pid == 0) {
    int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (o < 0 || e < 0 || ::chdir(dir.str().c_str()) != 0) ::_exit(127);
    ::dup2(o, 1);
    ::dup2(e, 2);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, testing_support::read_file(out),
          testing_support::read_file(err)};
}

const std::string kSent = "\xB7\xA2\xB3\xF6: ";
const std::string kReceived = "\xCA\xD5\xB5\xBD: ";

}  // namespace

TEST(LogToolTest, TheTailOfALogOfSeveralBlocksIsTheEndOfTheWholeOutput) {
  testing_support::TempDir logs;
  auto rec = [](const std::string& prefix, const std::string& text, const char* end = "\r\n") {
    return "06/18/2021 14:03:07 " + prefix + text + end;
  };
  std::string piece(1024, '\0');
  for (size_t i = 0; i < piece.size(); ++i) piece[i] = static_cast<char>(i * 7);
  // Garbage first, then packets whose records each make a line, then a record written with CR LF
  // line ends and a cut one: more than two blocks of the reader.
  std::string log = "\x01garbage\r\n";
  while (log.size() < (5u << 19))
    log += rec(kSent, "AT+CFSWFILE=0,\"a.bin\",1,1024,10000\r\n") +
           rec(kReceived, "\r\nDOWNLOAD\r\n") + rec(kSent, piece) + rec(kReceived, "\r\nOK\r\n");
  log += rec(kSent, "AT+CFSTERM\r\r\n", "\r\r\n") + rec(kReceived, "\r\nOK", "");
  std::ofstream(logs.path() / "AtLog_3.ini", std::ios::binary) << log;

  const ToolRun whole = run(logs, {"--module", "3"});
  ASSERT_EQ(whole.status, 0) << whole.err;
  std::vector<std::string> lines;
  for (size_t at = 0; at < whole.out.size();) {
    const size_t end = whole.out.find('\n', at) + 1;
    lines.push_back(whole.out.substr(at, end - at));
    at = end;
  }
  ASSERT_EQ(lines[0], "(damaged: 10 bytes before the first record)\n");
  for (size_t count : {size_t{1}, size_t{2}, size_t{5}, size_t{1001}, lines.size() - 1}) {
    SCOPED_TRACE(count);
    const ToolRun tail = run(logs, {"--module", "3", "--tail", std::to_string(count)});
    ASSERT_EQ(tail.status, 0) << tail.err;
    std::string expected = lines[0];
    for (size_t k = lines.size() - count; k < lines.size(); ++k) expected += lines[k];
    EXPECT_EQ(tail.out, expected);
  }
}

TEST(LogToolTest, PrintsTheLogsOfABenchFolder) {
  testing_support::TempDir bench;
  testing_support::TempDir logs;
  ToolRun none = run(bench, {});
  EXPECT_EQ(none.status, 1);
  EXPECT_NE(none.err.find("no AT traffic log"), std::string::npos);

  std::ofstream(logs.path() / "AtLog_2.ini", std::ios::binary)
      << "06/18/2021 14:03:07 " + kSent + "AT\r\n\r\n" + "06/18/2021 14:03:08 " + kReceived +
             "\r\nOK\r\n\r\n";
  std::ofstream(logs.path() / "AtLog_5.ini", std::ios::binary) << "";

  ToolRun all = run(bench, {"--dir", logs.str()});
  EXPECT_EQ(all.status, 0) << all.err;
  EXPECT_EQ(all.out,
            "== AtLog_2.ini ==\n"
            "06/18/2021 14:03:07  sent      AT\\r\\n\n"
            "06/18/2021 14:03:08  received  \\r\\nOK\\r\\n\n"
            "\n== AtLog_5.ini ==\n");

  ToolRun one = run(logs, {"--module=2", "--tail", "1"});
  EXPECT_EQ(one.status, 0);
  EXPECT_EQ(one.out, "06/18/2021 14:03:08  received  \\r\\nOK\\r\\n\n");

  ToolRun missing = run(logs, {"--module", "3"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("AtLog_3.ini: No such file or directory"), std::string::npos);

  for (std::vector<std::string> bad :
       {std::vector<std::string>{"--module", "7"}, {"--tail", "-1"}, {"--tail"}, {"AtLog_2.ini"}}) {
    ToolRun r = run(logs, bad);
    EXPECT_EQ(r.status, 2) << bad[0];
    EXPECT_NE(r.err.find("Usage: quillmark-log"), std::string::npos);
    EXPECT_EQ(r.out, "");
  }
  ToolRun help = run(logs, {"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("Usage: quillmark-log", 0), 0u);
  EXPECT_EQ(run(logs, {"--version"}).out, std::string("quillmark-log ") + QUILL_VERSION + "\n");
}
