#include "tests/support/pseudo_terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <stdexcept>

namespace testing_support {

PseudoTerminal::PseudoTerminal() {
  master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
    throw std::runtime_error("no pseudo-terminal");
  slave_path_ = ::ptsname(master_);
  own_slave_ = ::open(slave_path_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  termios t{};
  ::tcgetattr(own_slave_, &t);
  ::cfmakeraw(&t);
  ::tcsetattr(own_slave_, TCSANOW, &t);
}

PseudoTerminal::~PseudoTerminal() {
  if (own_slave_ >= 0) ::close(own_slave_);
  if (master_ >= 0) ::close(master_);
}

void PseudoTerminal::link_as(const std::filesystem::path& ports_dir, unsigned n) const {
  std::filesystem::create_directories(ports_dir);
  std::filesystem::path link = ports_dir / ("COM" + std::to_string(n));
  std::error_code ignored;
  std::filesystem::remove(link, ignored);
  std::filesystem::create_symlink(slave_path_, link);
}

std::string PseudoTerminal::read_master(int timeout_ms) {
  std::string out;
  for (;;) {
    pollfd p{master_, POLLIN, 0};
    if (::poll(&p, 1, timeout_ms) <= 0 || !(p.revents & POLLIN)) return out;
    char buf[4096];
    ssize_t n = ::read(master_, buf, sizeof buf);
    if (n <= 0) return out;
    out.append(buf, static_cast<size_t>(n));
  }
}

void PseudoTerminal::write_master(std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(master_, bytes.data(), bytes.size());
    if (n <= 0) throw std::runtime_error("write to pseudo-terminal master failed");
    bytes.remove_prefix(static_cast<size_t>(n));
  }
}

}  // namespace testing_support
