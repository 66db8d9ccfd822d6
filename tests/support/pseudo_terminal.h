#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace testing_support {

// A pseudo-terminal whose slave stands for a module's serial port. The helper keeps a slave
// descriptor of its own open, so the master never sees a hang-up between the tool's openings.
class PseudoTerminal {
 public:
  PseudoTerminal();
  ~PseudoTerminal();
  PseudoTerminal(const PseudoTerminal&) = delete;
  PseudoTerminal& operator=(const PseudoTerminal&) = delete;

  int master() const { return master_; }
  const std::string& slave_path() const { return slave_path_; }

  // Registers the slave as COM<n> in `ports_dir` (created when missing).
  void link_as(const std::filesystem::path& ports_dir, unsigned n) const;

  // Everything that arrives on the master within `timeout_ms` of quiet.
  std::string read_master(int timeout_ms);
  void write_master(std::string_view bytes);

 private:
  int master_ = -1;
  int own_slave_ = -1;
  std::string slave_path_;
};

}  // namespace testing_support
