// The line's records on Linux: the shipper's thread (line_shipper) behind the station's calls.
#include "station/line_records.h"

#include <libpq-fe.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <memory>
#include <mutex>
#include <vector>

#include "engine/notifications.h"
#include "platform/local_time.h"
#include "station/line_database.h"
#include "station/line_shipper.h"
#include "station/pg_link.h"
#include "station/run_record.h"

namespace station {

namespace {

std::mutex shipper_mutex;
std::shared_ptr<LineShipper> shipper;
ShippingStatus not_shipping;  // when no shipper runs: why

}  // namespace

bool check_database_setting(const std::string& database, std::string* why) {
  if (database.empty()) return true;
  char* error = nullptr;
  PQconninfoOption* options = PQconninfoParse(database.c_str(), &error);
  if (!options) {
    *why = "[Station] Database= " + one_line(error);
    PQfreemem(error);
    return false;
  }
  bool password = false;
  for (PQconninfoOption* o = options; o->keyword; ++o)
    password |= std::string(o->keyword) == "password" && o->val;
  PQconninfoFree(options);
  if (password)
    *why =
        "[Station] Database= names a password: give it in ~/.pgpass, the file PGPASSFILE names, "
        "or a service file instead";
  return !password;
}

bool start_shipping(const LineRecordSettings& settings, std::string* why) {
  stop_shipping();
  std::lock_guard lock(shipper_mutex);
  not_shipping = ShippingStatus{};
  if (settings.database.empty()) return true;
  if (!check_database_setting(settings.database, why)) {
    not_shipping.reason = *why;
    return false;
  }
  ShipperLimits limits;
  limits.answer_ms = settings.answer_limit_ms;
  limits.last_retry_ms = settings.retry_limit_ms;
  limits.first_retry_ms = std::min(limits.first_retry_ms, limits.last_retry_ms);
  auto started = std::make_shared<LineShipper>(
      settings.database,
      settings.station_name.empty() ? platform::host_name() : settings.station_name,
      runs_file_path(), limits);
  if (!started->start(why)) {
    not_shipping.reason = *why;
    return false;
  }
  shipper = std::move(started);
  return true;
}

void records_appended() {
  std::lock_guard lock(shipper_mutex);
  if (shipper) shipper->wake();
}

ShippingStatus shipping_status() {
  std::lock_guard lock(shipper_mutex);
  return shipper ? shipper->status() : not_shipping;
}

bool flush_shipping(int64_t max_ms) {
  std::shared_ptr<LineShipper> running;
  {
    std::lock_guard lock(shipper_mutex);
    running = shipper;
  }
  return !running || running->flush(max_ms);
}

void stop_shipping() {
  std::shared_ptr<LineShipper> stopped;
  {
    std::lock_guard lock(shipper_mutex);
    stopped = std::move(shipper);
  }
  // A thread left to end by itself keeps its shipper for as long as the program runs.
  if (stopped && !stopped->stop()) {
    static auto* left_running = new std::vector<std::shared_ptr<LineShipper>>;
    std::lock_guard lock(shipper_mutex);
    left_running->push_back(stopped);
  }
}

bool check_database(const LineRecordSettings& settings, int64_t timeout_ms, std::string* report) {
  std::string why;
  if (settings.database.empty()) {
    *report += "no database is set ([Station] Database=): the records stay in runs.csv\n";
    return true;
  }
  if (!check_database_setting(settings.database, &why)) {
    *report += why + "\n";
    return false;
  }
  const int wake_fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);  // nothing wakes the check
  PgLink link(wake_fd, [] { return false; });
  const int64_t deadline = steady_ms() + timeout_ms;
  bool ok = link.connect(settings.database, timeout_ms, &why);
  if (!ok)
    *report += why + "\n";
  else
    ok = inspect_line_database(link, std::max<int64_t>(1, deadline - steady_ms()), report);
  link.close();
  if (wake_fd >= 0) ::close(wake_fd);
  return ok;
}

}  // namespace station
