#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace testing_support {

// What the umockdev bench does not give a plugged line (the ids of its USB device, more udev
// properties), written into the mock's /sys below UMOCKDEV_DIR. Both take a path from plug().
inline std::filesystem::path in_mock(const std::string& syspath) {
  const char* root = std::getenv("UMOCKDEV_DIR");
  EXPECT_NE(root, nullptr);
  return std::string(root ? root : "") + syspath;
}

inline void set_usb_ids(const std::string& tty_syspath, const std::string& vendor,
                        const std::string& product) {
  // .../1-<socket>/1-<socket>:1.<interface>/ttyUSB<k>/tty/ttyUSB<k>
  std::filesystem::path device = in_mock(tty_syspath).parent_path().parent_path().parent_path();
  std::ofstream(device.parent_path() / "idVendor") << vendor << "\n";
  std::ofstream(device.parent_path() / "idProduct") << product << "\n";
}

inline void add_udev_property(const std::string& tty_syspath, const std::string& assignment) {
  std::ofstream(in_mock(tty_syspath) / "uevent", std::ios::app) << assignment << "\n";
}

// Runs `command` through the shell: its standard output, and its exit status in `status`.
inline std::string run_command(const std::string& command, int* status) {
  std::string out;
  FILE* pipe = ::popen(command.c_str(), "r");
  char buffer[4096];
  for (size_t n; pipe && (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
    out.append(buffer, n);
  int raw = pipe ? ::pclose(pipe) : -1;
  *status = raw != -1 && WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return out;
}

}  // namespace testing_support
