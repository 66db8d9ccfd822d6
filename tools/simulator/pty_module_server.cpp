#include "tools/simulator/pty_module_server.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <vector>

namespace simulator {

namespace {

int64_t now_ms() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

struct PtyModuleServer::Module {
  unsigned com;
  SimulatedModule protocol;
  int master = -1;
  int own_slave = -1;
  std::string device;
  std::filesystem::path link;
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
  auto m = std::make_unique<Module>();
  m->com = com;
  m->protocol = SimulatedModule(std::move(faults));
  m->master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (m->master < 0 || ::grantpt(m->master) != 0 || ::unlockpt(m->master) != 0)
    return fail(std::string("no pseudo-terminal: ") + std::strerror(errno));
  m->device = ::ptsname(m->master);
  m->own_slave = ::open(m->device.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (m->own_slave < 0) return fail(m->device + ": " + std::strerror(errno));
  termios t{};
  ::tcgetattr(m->own_slave, &t);
  ::cfmakeraw(&t);
  ::tcsetattr(m->own_slave, TCSANOW, &t);

  std::error_code ec;
  std::filesystem::create_directories(ports_, ec);
  m->link = ports_ / ("COM" + std::to_string(com));
  std::filesystem::remove(m->link, ec);
  std::filesystem::create_symlink(m->device, m->link, ec);
  if (ec) return fail(m->link.string() + ": " + ec.message());
  m->protocol.set_store_listener([this, com](const std::string& name, const std::string& content) {
    store(com, name, content);
  });

  std::lock_guard lock(mutex_);
  modules_[com] = std::move(m);
  return true;
}

void PtyModuleServer::store(unsigned com, const std::string& name, const std::string& content) {
  if (store_.empty()) return;
  std::filesystem::path dir = store_ / ("COM" + std::to_string(com));
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  std::ofstream(dir / name, std::ios::binary | std::ios::trunc)
      .write(content.data(), static_cast<std::streamsize>(content.size()));
}

void PtyModuleServer::pull_out(Module& m) {
  if (m.gone) return;
  m.gone = true;
  std::error_code ec;
  std::filesystem::remove(m.link, ec);
  ::close(m.master);
  ::close(m.own_slave);
}

void PtyModuleServer::serve(Module& m, int64_t now) {
  // Bytes from the tool.
  char buffer[4096];
  while (!m.gone && m.protocol.taking_bytes()) {
    ssize_t n = ::read(m.master, buffer, sizeof buffer);
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
    ssize_t n = ::write(m.master, m.outgoing.data(), m.outgoing.size());
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
        fds.push_back({m->master, events, 0});
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
