#pragma once

// Programs started against a virtual X display of their own: a private Xvfb on a free display
// number, child processes with extra environment, and the xdotool calls that find, focus and type
// into their windows. Used by the real-window test and by the window benchmark.

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace x_session {

struct Child {
  pid_t pid = -1;
  int output = -1;  // read end of its standard output, when captured
};

// True when `program` is found on PATH.
inline bool on_path(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path ? path : "");
  for (std::string dir; std::getline(dirs, dir, ':');) {
    if (!dir.empty() && ::access((dir + "/" + program).c_str(), X_OK) == 0) return true;
  }
  return false;
}

// Starts argv[0] (looked up on PATH) in `dir` with `env` ("NAME=value") added to this process's
// environment; its standard output is captured when `capture` is set, its standard error goes to
// /dev/null unless `keep_stderr` is set.
inline Child spawn(const std::vector<std::string>& argv, const std::filesystem::path& dir = {},
                   const std::vector<std::string>& env = {}, bool capture = false,
                   bool keep_stderr = false) {
  int fds[2] = {-1, -1};
  if (capture && ::pipe2(fds, O_CLOEXEC) != 0) return {};
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (capture) ::dup2(fds[1], STDOUT_FILENO);
    if (!keep_stderr) {
      const int null = ::open("/dev/null", O_WRONLY);
      ::dup2(null, STDERR_FILENO);
    }
    if (!dir.empty() && ::chdir(dir.c_str()) != 0) ::_exit(126);
    for (const std::string& e : env) ::putenv(const_cast<char*>(e.c_str()));
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execvp(args[0], args.data());
    ::_exit(127);
  }
  if (capture) ::close(fds[1]);
  return {pid, capture ? fds[0] : -1};
}

// The exit code of a process that has ended (-1 when a signal ended it).
inline int exit_code(int status) {
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline int wait_exit(pid_t pid) {
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid) return -1;
  return exit_code(status);
}

// True, with its exit code, once the process has ended; never blocks.
inline bool has_exited(pid_t pid, int* code) {
  int status = 0;
  if (::waitpid(pid, &status, WNOHANG) != pid) return false;
  *code = exit_code(status);
  return true;
}

// True once the process has ended, without collecting its exit code.
inline bool ended(pid_t pid) {
  siginfo_t info{};
  return ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
         info.si_pid == pid;
}

inline std::string read_all(int fd) {
  std::string out;
  char buf[4096];
  for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) out.append(buf, static_cast<size_t>(n));
  ::close(fd);
  return out;
}

// Reads one line (without its end) from a descriptor, a byte at a time so nothing after it is lost.
inline bool read_line(int fd, std::string* line) {
  line->clear();
  char c;
  while (::read(fd, &c, 1) == 1) {
    if (c == '\n') return true;
    *line += c;
  }
  return false;
}

// Runs a program to its end; gives its exit code and standard output.
inline int run(const std::vector<std::string>& argv, const std::vector<std::string>& env,
               std::string* out = nullptr) {
  Child child = spawn(argv, {}, env, true);
  if (child.pid < 0) return -1;
  std::string text = read_all(child.output);
  if (out) *out = std::move(text);
  return wait_exit(child.pid);
}

// Checks `condition` every 10 ms until it holds (true) or `attempts` checks have failed (false).
// The bound only turns a wait that can never end into a failure.
inline bool await(const std::function<bool()>& condition, int attempts = 6000) {
  for (int i = 0; i < attempts; ++i) {
    if (condition()) return true;
    ::usleep(10000);
  }
  return condition();
}

// A private X server on the first free display number, ended with its owner.
class Xvfb {
 public:
  Xvfb() {
    int fds[2];
    if (::pipe(fds) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(fds[0]);
      if (fds[1] != 3) {
        ::dup2(fds[1], 3);
        ::close(fds[1]);
      }
      const int null = ::open("/dev/null", O_WRONLY);
      ::dup2(null, STDOUT_FILENO);
      ::dup2(null, STDERR_FILENO);
      // -noreset: the server would otherwise reset whenever its last client (an xdotool call)
      // disconnects, and refuse a program that connects at that moment.
      ::execlp("Xvfb", "Xvfb", "-displayfd", "3", "-noreset", "-screen", "0", "1024x768x24",
               "-nolisten", "tcp", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(fds[1]);
    std::string number;
    if (read_line(fds[0], &number) && !number.empty()) display_ = ":" + number;
    ::close(fds[0]);
  }
  ~Xvfb() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  Xvfb(const Xvfb&) = delete;
  Xvfb& operator=(const Xvfb&) = delete;

  // ":<n>", or empty when the server did not start.
  const std::string& display() const { return display_; }
  std::string env() const { return "DISPLAY=" + display_; }

 private:
  pid_t pid_ = -1;
  std::string display_;
};

// The visible windows of process `pid` whose name matches `name` (an extended regular expression).
inline std::vector<std::string> windows(const Xvfb& x, pid_t pid, const std::string& name) {
  std::string out;
  run({"xdotool", "search", "--all", "--onlyvisible", "--pid", std::to_string(pid), "--name", name},
      {x.env()}, &out);
  std::vector<std::string> ids;
  std::stringstream lines(out);
  for (std::string id; std::getline(lines, id);)
    if (!id.empty()) ids.push_back(id);
  return ids;
}

// Waits for one visible window of `pid` named `name`; empty when the process ended first.
inline std::string await_window(const Xvfb& x, pid_t pid, const std::string& name) {
  std::string found;
  await([&] {
    if (ended(pid)) return true;
    std::vector<std::string> ids = windows(x, pid, name);
    if (!ids.empty()) found = ids.front();
    return !found.empty();
  });
  return found;
}

// Gives `window` the input focus and types `key` into it (XTEST: real key events).
inline bool press(const Xvfb& x, const std::string& window, const std::string& key) {
  return run({"xdotool", "windowfocus", "--sync", window, "key", key}, {x.env()}) == 0;
}

}  // namespace x_session
