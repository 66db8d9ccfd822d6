#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

namespace engine {

// What the bench knows of the port behind a COM number. A field that is not known is empty.
struct PortFacts {
  std::string device;   // the device path the COM number leads to
  std::string id_path;  // udev's ID_PATH
  std::string serial;   // udev's ID_SERIAL_SHORT
};

// What a module told of itself when asked after ATE0 ([Station] Identify). A field it did not
// give (ERROR, no answer, not asked) is empty.
struct ModuleIdentity {
  std::string imei;      // AT+CGSN
  std::string revision;  // AT+CGMR
};

// One finished run, or a START whose AT port could not be opened, as the engine tells it.
struct RunRecord {
  std::string run_id;  // a random UUID (version 4), made when the run begins
  std::tm start{};     // local time, as platform::clock() gives it
  std::tm end{};
  int module = 0;
  int com = 0;
  PortFacts port;
  std::string file;
  std::optional<int64_t> size;  // none when the file was not loaded
  std::string sha256;           // of the bytes loaded, lower-case hex; empty when none were
  std::optional<int> result;    // none when the AT port could not be opened
  std::string cause;
  int64_t duration_ms = 0;
  int attempts = 0;  // of the file sequence: 1, or 2 when it was retried; 0 when there was no run
  ModuleIdentity identity;
};

}  // namespace engine
