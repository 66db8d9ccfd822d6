#include "tests/tools/tool_process.h"

#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testing_support {

Process spawn(const std::vector<std::string>& argv, const std::filesystem::path& dir,
              const std::string& runtime_dir, bool with_errors) {
  int fds[2];
  if (::pipe(fds) != 0) return {};
  pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(fds[1], STDOUT_FILENO);
    if (with_errors) ::dup2(fds[1], STDERR_FILENO);
    ::close(fds[0]);
    if (::chdir(dir.c_str()) != 0) ::_exit(126);
    ::setenv("XDG_RUNTIME_DIR", runtime_dir.c_str(), 1);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    ::_exit(127);
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

}  // namespace testing_support
