#include "tests/tools/tool_process.h"

#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

namespace testing_support {

void exec_in(const std::vector<std::string>& argv, const std::filesystem::path& dir,
             const std::string& runtime_dir) {
  if (::chdir(dir.c_str()) != 0) ::_exit(126);
  ::setenv("XDG_RUNTIME_DIR", runtime_dir.c_str(), 1);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  ::execv(args[0], args.data());
  ::_exit(127);
}

Process spawn(const std::vector<std::string>& argv, const std::filesystem::path& dir,
              const std::string& runtime_dir, bool with_errors) {
  int fds[2];
  if (::pipe(fds) != 0) return {};
  pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(fds[1], STDOUT_FILENO);
    if (with_errors) ::dup2(fds[1], STDERR_FILENO);
    ::close(fds[0]);
    exec_in(argv, dir, runtime_dir);
  }
  ::close(fds[1]);
  return {pid, fds[0]};
}

std::string read_all(int fd) {
  std::string out;
  char buf[4096];
  for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) out.append(buf, static_cast<size_t>(n));
  ::close(fd);
  return out;
}

int wait_exit(pid_t pid) {
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string read_until(int fd, const std::string& text) {
  std::string seen;
  char c;
  while (seen.find(text) == std::string::npos && ::read(fd, &c, 1) == 1) seen += c;
  return seen;
}

std::string wait_ready(int fd) {
  return read_until(fd, "ready\n");
}

void ToolBench::write_settings(int modules, int sleep_ms, size_t size) {
  std::ofstream ini(bench.path() / "ZEBL.ini");
  ini << "[FilePath]\nPath=" << (bench.path() / "update.bin").string() << "\nSleepTime=" << sleep_ms
      << "\n";
  const char* ordinals[] = {"First", "Second", "Third", "Fourth", "Fifth", "Sixth"};
  for (int k = 0; k < modules; ++k)
    ini << "[ATPort_" << ordinals[k] << "]\nnumber=" << k + 1 << "\n";
  std::ofstream(bench.path() / "update.bin", std::ios::binary) << std::string(size, 'Q');
}

Process ToolBench::start_simulator(const std::vector<std::string>& extra) {
  std::vector<std::string> argv = {QUILL_SIMULATOR, "--store", "store"};
  argv.insert(argv.end(), extra.begin(), extra.end());
  Process sim = spawn(argv, bench.path(), runtime.str());
  wait_ready(sim.output);
  return sim;
}

void ToolBench::stop(Process& p) {
  ::kill(p.pid, SIGTERM);
  EXPECT_EQ(wait_exit(p.pid), 0);
  ::close(p.output);
}

}  // namespace testing_support
