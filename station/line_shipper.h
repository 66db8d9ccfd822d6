#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "station/line_records.h"
#include "station/pg_link.h"
#include "station/runs_file_scan.h"
#include "station/ship_position.h"

namespace station {

// The limits of the shipper's waits.
struct ShipperLimits {
  int64_t answer_ms = 20000;        // for an answer of the database
  int64_t first_retry_ms = 1000;    // the wait after a first failure, doubled after each
  int64_t last_retry_ms = 30000;    // the longest wait
  int64_t idle_rescan_ms = 5000;    // the files are looked at again after this long without news
  size_t batch_bytes = 512 * 1024;  // of the runs file per batch
};

// The thread that ships the records of the runs file `runs_path` and of the files retired beside
// it. All its waiting is in poll() on the database's socket and a wake descriptor.
class LineShipper {
 public:
  LineShipper(std::string conninfo, std::string station, std::string runs_path,
              ShipperLimits limits);
  ~LineShipper();

  bool start(std::string* why);
  void wake();
  // Asks the thread to end and waits for it a moment at most; a thread held up in a system call
  // (a name being looked up) is left to end on its own: false, and the shipper must then live on.
  bool stop();
  ShippingStatus status();
  bool flush(int64_t max_ms);

 private:
  struct Tracked {
    std::string name;
    bool final = false;  // a retired file: no record is added to it
    RunsCursor sent;     // confirmed by the database
    RunsCursor counted;  // counted as complete
  };

  void run();
  void begin();
  void list_files();
  void count();
  Tracked* next_file();
  void ship_batch();
  void failed(const std::string& why);
  void wait_wake(int64_t until_ms);
  bool on_wake();
  void restart_file(Tracked& file, const char* why);
  void publish();

  const std::string conninfo_;
  const std::string station_;
  const std::string runs_path_;
  const std::string position_path_;
  const ShipperLimits limits_;
  int wake_fd_ = -1;
  std::thread thread_;

  // The thread's own.
  std::unique_ptr<PgLink> link_;
  std::vector<Tracked> files_;
  ShipPositions positions_;
  int64_t retry_ms_ = 0;     // the wait after the next failure
  int64_t retry_at_ms_ = 0;  // no connection before then
  int64_t counted_waiting_ = 0;

  std::atomic<bool> stopping_{false};
  std::atomic<int64_t> appended_{0};  // records_appended calls since the last count

  std::mutex mutex_;
  std::condition_variable changed_;
  ShippingStatus status_;
  bool connected_ = false;
  bool ended_ = false;
  uint64_t confirmed_ = 0;  // batches confirmed
};

}  // namespace station
