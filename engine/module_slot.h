#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "engine/run_notes.h"
#include "platform/serial_port.h"
#include "platform/stop_signal.h"

namespace engine {

// The result of a run, which is also the worker thread's exit code.
enum DownloadError : int {
  DL_OK = 0,
  DL_FILE_READ = 3,
  DL_PACKET_ERROR = 6,
  DL_ATE0_FAILED = 10,
  DL_CFSINIT_FAILED = 11,
  DL_CFSWFILE_FAILED = 12,
  DL_BYTE_COUNT_FAILED = 13,
  DL_CFSTERM_FAILED = 14,
  DL_PAUSED = 15,
  DL_AT_FAILED = 16,
  DL_CBAINIT_FAILED = 17,
  DL_CBAPPS_FAILED = 18,
};

constexpr int kModuleCount = 6;

// The AT port handle of a slot. The worker takes a reference to the port for each operation while
// the window thread may close it at any moment: the port object outlives the handle as long as an
// operation still uses it, so a descriptor is never closed (and reused) under a running worker.
class PortHandle {
 public:
  std::shared_ptr<platform::SerialPort> get() const {
    std::lock_guard lock(mutex_);
    return port_;
  }
  bool is_open() const { return get() != nullptr; }
  // A port put in forgets why the last opening failed.
  void reset(std::shared_ptr<platform::SerialPort> port = nullptr) {
    std::lock_guard lock(mutex_);
    if (port) open_failure_.clear();
    port_ = std::move(port);
  }
  // Takes the port out of the handle; why its device failed, if it did, is kept.
  std::shared_ptr<platform::SerialPort> take() {
    std::lock_guard lock(mutex_);
    if (port_) {
      if (std::string why = port_->failure(); !why.empty()) last_failure_ = std::move(why);
    }
    return std::move(port_);
  }
  // Why the device of a port taken since the last clear failed ("device gone"), or empty.
  std::string last_failure() const {
    std::lock_guard lock(mutex_);
    return last_failure_;
  }
  void clear_failure() {
    std::lock_guard lock(mutex_);
    last_failure_.clear();
    open_failure_.clear();
  }
  // Why the last opening of the port failed, as the system told it ("/dev/ttyUSB0: Permission
  // denied", "COM9 is not present"), until a port is put in or the failures are cleared.
  void note_open_failure(std::string why) {
    std::lock_guard lock(mutex_);
    open_failure_ = std::move(why);
  }
  std::string open_failure() const {
    std::lock_guard lock(mutex_);
    return open_failure_;
  }

 private:
  mutable std::mutex mutex_;
  std::shared_ptr<platform::SerialPort> port_;
  std::string last_failure_;
  std::string open_failure_;
};

// The state of one module position. The flags shared between the window thread and the slot's
// worker are atomic words, each written by one side and read by the other.
struct ModuleSlot {
  int32_t index = 0;                    // 0..5; Module1 is 0
  std::atomic<int32_t> resultOk{0};     // 1 after a good trial opening or a successful run
  std::atomic<int32_t> upgraded{0};     // 1 after a load and after a successful run
  std::atomic<int32_t> busy{0};         // 1 from START until the worker's last notification
  int32_t atPort = 0;                   // COM number of the AT port; 0 = none
  int32_t diagPort = 0;                 // COM number of the diagnostic port; 0 = none
  PortHandle hAT;                       // the open AT port, or none
  std::atomic<int32_t> active{0};       // 1 while the worker runs
  int32_t onlyUpgradeScript = 0;        // Upgrade Type option, equal in all slots
  int32_t selectType = 0;               // Type option, equal in all slots
  int32_t sleepTime = 8000;             // settling time in ms before the AT port is opened
  int32_t identify = 0;                 // 1: the module is asked for its IMEI and revision
  std::string workDir;                  // working directory at the last settings load
  std::string filePath;                 // full path of the update file
  std::unique_ptr<uint8_t[]> fileData;  // the loaded update file, or null
  int32_t fileSize = 0;                 // bytes of fileData
  std::thread hThread;                  // the current worker thread
  std::atomic<int32_t> runEnabled{0};   // 0 asks the run to stop at its next check
  platform::StopSignal stopRequest;     // raised with runEnabled 0: ends the settling wait at once

  // What a run works on, taken when the run is accepted: settings changed during the run take
  // effect at the next run and never mix into the run under way.
  struct RunSnapshot {
    std::string filePath;  // the update file
    std::string fileName;  // the name the module stores it under
    int32_t atPort = 0;
    int32_t sleepTime = 0;  // ms
    bool identify = false;  // the module is asked for its identity after ATE0
  };
  RunSnapshot run;
  std::atomic<bool> workerRunning{false};  // the worker's thread routine has not returned yet
  std::atomic<bool> recordOnly{false};     // that routine only records a START that failed
  std::atomic<int32_t> exitCode{0};        // result code of the last run
  // The cause of the run under way as it is told, and the outcome of the last one. Noted by the
  // senders of status lines, which see the slot as const.
  mutable RunNotes notes;

  // Module number shown to the operator and used in file names: 1..6.
  int number() const { return index + 1; }
};

// True from the moment a worker thread is started for the slot until its routine has returned:
// while it is true the slot's port, file image, thread and run snapshot belong to the run.
inline bool worker_in_progress(const ModuleSlot& slot) {
  return slot.workerRunning.load();
}

// The table of the six module positions; lives as long as the program.
std::array<ModuleSlot, kModuleCount>& slots();

}  // namespace engine
