#include "tools/simulator/pty_module_server.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <vector>

namespace simulator {

namespace fs = std::filesystem;

namespace {

// While a terminal is in exclusive mode, how often the server looks whether its client has gone:
// the kernel may release the client's flock only after it tells of the closing.
constexpr int64_t kAbandonCheckMs = 100;

int64_t now_ms() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// A descriptor closed with its owner.
class OwnedFd {
 public:
  OwnedFd() = default;
  explicit OwnedFd(int fd) : fd_(fd) {}
  ~OwnedFd() { reset(); }
  OwnedFd(const OwnedFd&) = delete;
  OwnedFd& operator=(const OwnedFd&) = delete;

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  void reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

// Every change of the ports folder is made under an flock on the folder, as the port numbering
// does, so that two simulators starting side by side never both take one link.
class PortsFolderLock {
 public:
  explicit PortsFolderLock(const fs::path& dir)
      : fd_(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    if (fd_ && ::flock(fd_.get(), LOCK_EX) != 0) fd_.reset();
  }
  explicit operator bool() const { return static_cast<bool>(fd_); }

 private:
  OwnedFd fd_;
};

// Whether `link` leads to something that exists.
bool leads_somewhere(const fs::path& link) {
  struct stat target {};
  return ::stat(link.c_str(), &target) == 0 || (errno != ENOENT && errno != ENOTDIR);
}

// Makes `link` lead to `device`. A link that leads to something that exists belongs to someone
// else (another simulator, a port of the bench, a link made by hand) and is never replaced; only
// a dangling link, as a simulator that did not end properly leaves it, is.
bool claim_link(const fs::path& link, const std::string& device, std::string& why) {
  std::error_code ec;
  struct stat st {};
  if (::lstat(link.c_str(), &st) == 0) {
    if (!S_ISLNK(st.st_mode)) {
      why = link.string() + " exists and is not a link";
      return false;
    }
    if (leads_somewhere(link)) {
      why = link.string() + " is in use: it leads to " + fs::read_symlink(link, ec).string() +
            ", which exists (another simulator, or a port of the bench); remove the link if it "
            "is left over";
      return false;
    }
    fs::remove(link, ec);
  } else if (errno != ENOENT) {
    why = link.string() + ": " + std::strerror(errno);
    return false;
  }
  if (!ec) fs::create_symlink(device, link, ec);
  if (ec) {
    why = link.string() + ": " + ec.message();
    return false;
  }
  return true;
}

}  // namespace

bool com_link_free(const fs::path& ports, unsigned com) {
  const fs::path link = ports / ("COM" + std::to_string(com));
  struct stat st {};
  if (::lstat(link.c_str(), &st) != 0) return errno == ENOENT || errno == ENOTDIR;
  return S_ISLNK(st.st_mode) && !leads_somewhere(link);
}

struct PtyModuleServer::Module {
  unsigned com;
  SimulatedModule protocol;
  OwnedFd master;
  OwnedFd own_slave;
  std::string device;
  fs::path link;                                    // set once the link is ours
  std::deque<std::pair<int64_t, std::string>> due;  // replies not yet sent, by time
  std::string outgoing;                             // bytes due but not yet taken by the terminal
  int close_watch = -1;                             // of the terminal in close_notices_fd_
  bool gone = false;
};

PtyModuleServer::PtyModuleServer(std::filesystem::path ports, std::filesystem::path store)
    : ports_(std::move(ports)),
      store_(std::move(store)),
      wake_fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      close_notices_fd_(::inotify_init1(IN_CLOEXEC | IN_NONBLOCK)),
      every_close_noticed_(close_notices_fd_ >= 0) {}

PtyModuleServer::~PtyModuleServer() {
  stop();
  if (thread_.joinable()) thread_.join();
  for (auto& [com, m] : modules_) pull_out(*m);
  ::close(wake_fd_);
  if (close_notices_fd_ >= 0) ::close(close_notices_fd_);
}

bool PtyModuleServer::add(unsigned com, Faults faults, std::string* why) {
  auto fail = [why](std::string reason) {
    if (why) *why = std::move(reason);
    return false;
  };
  std::string name = "COM" + std::to_string(com);
  {
    std::lock_guard lock(mutex_);
    if (modules_.count(com)) return fail(name + " is simulated already");
  }
  // Until the module is registered, its descriptors are closed with it on every failure.
  auto m = std::make_unique<Module>();
  m->com = com;
  m->protocol = SimulatedModule(std::move(faults), identity_for_com(com));
  m->master.reset(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
  if (!m->master || ::grantpt(m->master.get()) != 0 || ::unlockpt(m->master.get()) != 0)
    return fail(std::string("no pseudo-terminal: ") + std::strerror(errno));
  m->device = ::ptsname(m->master.get());
  m->own_slave.reset(::open(m->device.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
  if (!m->own_slave) return fail(m->device + ": " + std::strerror(errno));
  termios t{};
  ::tcgetattr(m->own_slave.get(), &t);
  ::cfmakeraw(&t);
  ::tcsetattr(m->own_slave.get(), TCSANOW, &t);

  std::error_code ec;
  fs::create_directories(ports_, ec);
  if (ec) return fail(ports_.string() + ": " + ec.message());
  {
    PortsFolderLock folder(ports_);
    if (!folder) return fail(ports_.string() + ": " + std::strerror(errno));
    std::string reason;
    if (!claim_link(ports_ / name, m->device, reason)) return fail(reason);
  }
  m->link = ports_ / name;
  if (close_notices_fd_ >= 0)
    m->close_watch = ::inotify_add_watch(close_notices_fd_, m->device.c_str(),
                                         IN_CLOSE_WRITE | IN_CLOSE_NOWRITE);
  m->protocol.set_store_listener([this, com](const std::string& file, const std::string& content) {
    store(com, file, content);
  });

  std::lock_guard lock(mutex_);
  if (m->close_watch < 0) every_close_noticed_ = false;
  modules_[com] = std::move(m);
  return true;
}

void PtyModuleServer::store(unsigned com, const std::string& name, const std::string& content) {
  if (store_.empty()) return;
  fs::path dir = store_ / ("COM" + std::to_string(com));
  std::error_code ec;
  fs::create_directories(dir, ec);
  std::ofstream(dir / name, std::ios::binary | std::ios::trunc)
      .write(content.data(), static_cast<std::streamsize>(content.size()));
}

void PtyModuleServer::pull_out(Module& m) {
  if (m.gone) return;
  m.gone = true;
  {
    // Only a link that still leads to this module's terminal is removed.
    PortsFolderLock folder(ports_);
    std::error_code ec;
    if (fs::read_symlink(m.link, ec) == m.device) fs::remove(m.link, ec);
  }
  if (m.close_watch >= 0) ::inotify_rm_watch(close_notices_fd_, m.close_watch);
  m.master.reset();
  m.own_slave.reset();
}

bool PtyModuleServer::release_abandoned_terminals() {
  bool exclusive_left = false;
  for (auto& [com, m] : modules_) {
    if (m->gone) continue;
    const int fd = m->own_slave.get();
    int exclusive = 0;
    if (::ioctl(fd, TIOCGEXCL, &exclusive) != 0 || !exclusive) continue;
    // The client's flock is on the same terminal: while it holds it, ours is refused.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      exclusive_left = true;
      continue;
    }
    // Released before the mode is cleared: until then nobody but root can open the terminal, so
    // a client that comes next never meets our lock.
    ::flock(fd, LOCK_UN);
    ::ioctl(fd, TIOCNXCL);
  }
  return exclusive_left;
}

bool PtyModuleServer::drain_close_notices() {
  alignas(inotify_event) char buffer[4096];
  bool any = false;
  while (::read(close_notices_fd_, buffer, sizeof buffer) > 0) any = true;
  return any;
}

void PtyModuleServer::serve(Module& m, int64_t now) {
  // Bytes from the tool.
  char buffer[4096];
  while (!m.gone && m.protocol.taking_bytes()) {
    ssize_t n = ::read(m.master.get(), buffer, sizeof buffer);
    if (n <= 0) break;
    for (auto& reply : m.protocol.receive({buffer, static_cast<size_t>(n)}))
      m.due.emplace_back(now + reply.delay_ms, std::move(reply.bytes));
    if (m.protocol.pulled_out()) pull_out(m);
  }
  if (m.gone) return;
  // Replies that are due, in order.
  while (!m.due.empty() && m.due.front().first <= now) {
    m.outgoing += m.due.front().second;
    m.due.pop_front();
  }
  while (!m.outgoing.empty()) {
    ssize_t n = ::write(m.master.get(), m.outgoing.data(), m.outgoing.size());
    if (n <= 0) break;
    m.outgoing.erase(0, static_cast<size_t>(n));
  }
}

void PtyModuleServer::run() {
  std::vector<pollfd> fds;
  std::vector<Module*> order;
  // Terminals in exclusive mode are looked at on every check interval; the others when a client
  // closes one (without close notices: always).
  bool check_terminals = true;
  int64_t next_check = 0;
  for (;;) {
    int64_t now = now_ms();
    if (check_terminals && now >= next_check) {
      std::lock_guard lock(mutex_);
      check_terminals = release_abandoned_terminals() || !every_close_noticed_;
      next_check = now + kAbandonCheckMs;
    }
    int timeout = check_terminals ? static_cast<int>(std::max<int64_t>(0, next_check - now)) : -1;
    fds.assign(1, pollfd{wake_fd_, POLLIN, 0});
    fds.push_back(pollfd{close_notices_fd_, POLLIN, 0});
    order.clear();
    {
      std::lock_guard lock(mutex_);
      for (auto& [com, m] : modules_) {
        if (m->gone) continue;
        short events = 0;
        if (m->protocol.taking_bytes()) events |= POLLIN;
        if (!m->outgoing.empty()) events |= POLLOUT;
        if (!m->due.empty()) {
          int64_t wait = std::max<int64_t>(0, m->due.front().first - now);
          if (timeout < 0 || wait < timeout) timeout = static_cast<int>(wait);
        }
        fds.push_back({m->master.get(), events, 0});
        order.push_back(m.get());
      }
    }
    // With no hang-up possible (our own slave stays open), an idle module costs nothing here.
    if (::poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) return;
    if (fds[0].revents & POLLIN) return;
    if ((fds[1].revents & POLLIN) && drain_close_notices()) {
      check_terminals = true;  // a client may have gone: look at once
      next_check = 0;
    }
    now = now_ms();
    std::lock_guard lock(mutex_);
    for (Module* m : order) serve(*m, now);
  }
}

void PtyModuleServer::start() {
  thread_ = std::thread([this] { run(); });
}

void PtyModuleServer::stop() {
  uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(wake_fd_, &one, sizeof one);
}

std::string PtyModuleServer::device(unsigned com) const {
  std::lock_guard lock(mutex_);
  auto it = modules_.find(com);
  return it == modules_.end() ? std::string() : it->second->device;
}

std::map<std::string, std::string> PtyModuleServer::files(unsigned com) const {
  std::lock_guard lock(mutex_);
  auto it = modules_.find(com);
  return it == modules_.end() ? std::map<std::string, std::string>{} : it->second->protocol.files();
}

bool PtyModuleServer::pulled_out(unsigned com) const {
  std::lock_guard lock(mutex_);
  auto it = modules_.find(com);
  return it != modules_.end() && it->second->gone;
}

}  // namespace simulator
