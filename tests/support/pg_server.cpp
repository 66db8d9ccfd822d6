#include "tests/support/pg_server.h"

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

namespace testing_support {

namespace {

// Whether process `pid` runs (a zombie that no one reaps does not).
bool running(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  const size_t name_end = text.rfind(')');
  return name_end != std::string::npos && name_end + 2 < text.size() && text[name_end + 2] != 'Z';
}

// Sends `sig` to the server and to each of its processes: every backend makes itself the leader of
// a process group of its own, so a signal to the server's group does not reach them.
// Gives the ids of those processes.
std::vector<pid_t> signal_server(pid_t server, int sig) {
  std::vector<pid_t> children;
  ::kill(-server, sig);
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string id = entry.path().filename().string();
    if (id.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream stat(entry.path() / "stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const size_t name_end = text.rfind(')');
    if (name_end == std::string::npos) continue;
    char state = 0;
    int parent = 0;
    if (std::sscanf(text.c_str() + name_end + 1, " %c %d", &state, &parent) == 2 &&
        parent == server) {
      children.push_back(std::stoi(id));
      ::kill(children.back(), sig);
    }
  }
  return children;
}

constexpr const char* kUser = "quill";
constexpr const char* kPassword = "line-records-test";
constexpr uid_t kNobody = 65534;
constexpr gid_t kNoGroup = 65534;

// The newest server programs installed.
std::string server_bin() {
  std::string found;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/usr/lib/postgresql", error)) {
    const std::string bin = (entry.path() / "bin").string();
    if (std::filesystem::exists(bin + "/postgres") && bin > found) found = bin;
  }
  return found;
}

bool as_root() {
  return ::geteuid() == 0;
}

// In a child: drops to the unprivileged owner of the cluster when the tests run as root (the
// server refuses to run as root).
void become_owner() {
  if (!as_root()) return;
  if (::setgroups(0, nullptr) != 0 || ::setgid(kNoGroup) != 0 || ::setuid(kNobody) != 0) _exit(126);
}

std::string shell_quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

bool write_file(const std::string& path, const std::string& text, mode_t mode) {
  std::ofstream(path, std::ios::trunc) << text;
  return ::chmod(path.c_str(), mode) == 0;
}

}  // namespace

PgServer::PgServer() {
  bin_ = server_bin();
  if (bin_.empty()) {
    why_ = "no PostgreSQL server under /usr/lib/postgresql (scripts/setup installs it)";
    return;
  }
  data_dir_ = dir_.str() + "/data";
  socket_dir_ = dir_.str();
  port_ = 5432;
  if (as_root() && ::chown(dir_.str().c_str(), kNobody, kNoGroup) != 0) {
    why_ = "the server's folder could not be given to nobody";
    return;
  }
  // The password for initdb is read by the server's owner; the client's is private to the tests.
  const std::string initdb_password = dir_.str() + "/initdb-password";
  write_file(initdb_password, std::string(kPassword) + "\n", 0644);
  write_file(password_file(), std::string("*:*:*:*:") + kPassword + "\n", 0600);
  std::string output;
  if (!run_as_owner(bin_ + "/initdb -D " + shell_quoted(data_dir_) + " -U " + kUser +
                        " --auth-local=scram-sha-256 --auth-host=scram-sha-256 --pwfile=" +
                        shell_quoted(initdb_password) + " -E UTF8 --locale=C --no-sync",
                    &output)) {
    why_ = "initdb failed: " + output;
    return;
  }
  std::filesystem::remove(initdb_password);
  start();
}

PgServer::~PgServer() {
  if (pid_ <= 0) return;
  if (paused_) signal_server(pid_, SIGCONT);
  ::kill(pid_, SIGQUIT);  // immediate shutdown: the folder goes anyway
  int status;
  ::waitpid(pid_, &status, 0);
  for (int k = 0; k < 500 && ::kill(-pid_, 0) == 0; ++k)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

std::string PgServer::password_file() const {
  return dir_.str() + "/pgpass";
}

std::string PgServer::conninfo(const std::string& database) const {
  return "host=" + socket_dir_ + " port=" + std::to_string(port_) + " user=" + kUser +
         " dbname=" + database;
}

bool PgServer::run_as_owner(const std::string& command, std::string* output) const {
  int pipe_fds[2];
  if (::pipe(pipe_fds) != 0) return false;
  const pid_t child = ::fork();
  if (child == 0) {
    ::dup2(pipe_fds[1], 1);
    ::dup2(pipe_fds[1], 2);
    ::close(pipe_fds[0]);
    become_owner();
    ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  ::close(pipe_fds[1]);
  std::string text;
  char buffer[4096];
  ssize_t n;
  while ((n = ::read(pipe_fds[0], buffer, sizeof buffer)) > 0) text.append(buffer, n);
  ::close(pipe_fds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  if (output) *output = text;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool PgServer::start() {
  if (bin_.empty() || running_) return running_;
  const std::string log = dir_.str() + "/server.log";
  const pid_t child = ::fork();
  if (child == 0) {
    ::setpgid(0, 0);  // its own group: a hard stop or a pause reaches every server process
    const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (fd >= 0) {
      ::dup2(fd, 1);
      ::dup2(fd, 2);
    }
    become_owner();
    const std::string postgres = bin_ + "/postgres";
    const std::string port = std::to_string(port_);
    // No TCP: the Unix socket in the test's folder only. fsync off, since only the server's
    // processes are ever killed, never the machine; every commit still reaches the files.
    ::execl(postgres.c_str(), "postgres", "-D", data_dir_.c_str(), "-k", socket_dir_.c_str(), "-p",
            port.c_str(), "-c", "listen_addresses=", "-c", "fsync=off", "-c", "max_connections=40",
            static_cast<char*>(nullptr));
    _exit(127);
  }
  ::setpgid(child, child);
  pid_ = child;
  // Ready when it takes a query.
  for (int k = 0; k < 600; ++k) {
    int status;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = 0;
      std::ifstream in(log);
      why_ = "the server ended at its start: " +
             std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
      return false;
    }
    std::string out;
    if (run_as_owner(bin_ + "/pg_isready -q -h " + shell_quoted(socket_dir_) + " -p " +
                     std::to_string(port_))) {
      running_ = true;
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  why_ = "the server did not become ready within a minute";
  return false;
}

void PgServer::kill_hard() {
  if (pid_ <= 0) return;
  if (paused_) signal_server(pid_, SIGCONT);
  paused_ = false;
  const std::vector<pid_t> children = signal_server(pid_, SIGKILL);
  int status;
  ::waitpid(pid_, &status, 0);
  // The server's other processes are gone before it may start again on the folder.
  while (::kill(-pid_, 0) == 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  for (pid_t child : children)
    while (running(child)) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  pid_ = 0;
  running_ = false;
}

void PgServer::pause() {
  if (pid_ <= 0) return;
  signal_server(pid_, SIGSTOP);
  paused_ = true;
}

void PgServer::resume() {
  if (pid_ <= 0) return;
  signal_server(pid_, SIGCONT);
  paused_ = false;
}

std::string PgServer::query(const std::string& database, const std::string& sql, bool* ok) const {
  static int serial = 0;
  const std::string script = dir_.str() + "/query-" + std::to_string(++serial) + ".sql";
  write_file(script, sql, 0644);
  const std::string command = "PGPASSFILE=" + shell_quoted(password_file()) + " " + bin_ +
                              "/psql -X -A -t -q -v ON_ERROR_STOP=1 -d " +
                              shell_quoted(conninfo(database)) + " -f " + shell_quoted(script) +
                              " 2>&1";
  std::string text;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe) {
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
  }
  const int status = pipe ? ::pclose(pipe) : -1;
  std::filesystem::remove(script);
  const bool done = status == 0;
  if (ok) *ok = done;
  if (!done) return text.empty() ? "psql failed" : text;
  while (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

bool PgServer::create_database(const std::string& name) {
  bool ok = false;
  query("postgres", "CREATE DATABASE \"" + name + "\" OWNER " + kUser + ";", &ok);
  return ok;
}

bool PgServer::create_limited_user(const std::string& name, const std::string& database) {
  bool ok = false;
  query("postgres",
        "CREATE ROLE \"" + name + "\" LOGIN PASSWORD '" + kPassword + "';\n" +
            "GRANT CONNECT ON DATABASE \"" + database + "\" TO \"" + name + "\";\n",
        &ok);
  if (!ok) return false;
  query(database,
        "REVOKE CREATE ON SCHEMA public FROM PUBLIC;\n"
        "GRANT USAGE ON SCHEMA public TO \"" +
            name + "\";\n" + "GRANT SELECT, INSERT ON ALL TABLES IN SCHEMA public TO \"" + name +
            "\";\n" +
            "ALTER DEFAULT PRIVILEGES IN SCHEMA public GRANT SELECT, INSERT ON TABLES TO \"" +
            name + "\";\n",
        &ok);
  return ok;
}

}  // namespace testing_support
