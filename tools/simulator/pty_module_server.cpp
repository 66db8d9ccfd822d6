#include "tools/simulator/pty_module_server.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <sys/file.h>
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
    struct stat target {};
    if (::stat(link.c_str(), &target) == 0 || (errno != ENOENT && errno != ENOTDIR)) {
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

struct PtyModuleServer::Module {
  unsigned com;
  SimulatedModule protocol;
  OwnedFd master;
  OwnedFd own_slave;
  std::string device;
  fs::path link;                                    // set once the link is ours
  std::deque<std::pair<int64_t, std::string>> due;  // replies not yet sent, by time
  std::string outgoing;                             // bytes due but not yet taken by the terminal
  bool gone = false;
};

PtyModuleServer::PtyModuleServer(std::filesystem::path ports, std::filesystem::path store)
    : ports_(std::move(ports)),
      store_(std::move(store)),
      wake_fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

PtyModuleServer::~PtyModuleServer() {
  stop();
  if (thread_.joinable()) thread_.join();
  for (auto& [com, m] : modules_) pull_out(*m);
  ::close(wake_fd_);
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
  m->protocol = SimulatedModule(std::move(faults));
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
  m->protocol.set_store_listener([this, com](const std::string& file, const std::string& content) {
    store(com, file, content);
  });

  std::lock_guard lock(mutex_);
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
  m.master.reset();
  m.own_slave.reset();
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
  for (;;) {
    int64_t now = now_ms();
    int timeout = -1;
    fds.assign(1, pollfd{wake_fd_, POLLIN, 0});
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
