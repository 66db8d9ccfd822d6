// The line's records in a build without PostgreSQL's client library (Windows): a database set is
// refused once with its reason, and the runs file stays the record.
#include <mutex>

#include "station/line_records.h"

namespace station {

namespace {

std::mutex status_mutex;
ShippingStatus status;

constexpr const char* kUnsupported =
    "[Station] Database= is not used: this Windows build has no PostgreSQL client library; "
    "runs.csv stays the record";

}  // namespace

bool check_database_setting(const std::string& database, std::string* why) {
  // Without the library the setting cannot be parsed; only a password in it is refused.
  if (database.find("password") == std::string::npos) return true;
  *why =
      "[Station] Database= names a password: give it in ~/.pgpass, the file PGPASSFILE names, or "
      "a service file instead";
  return false;
}

bool start_shipping(const LineRecordSettings& settings, std::string* why) {
  std::lock_guard lock(status_mutex);
  status = ShippingStatus{};
  if (settings.database.empty()) return true;
  status.unsupported = true;
  status.reason = check_database_setting(settings.database, why) ? kUnsupported : *why;
  *why = status.reason;
  return false;
}

void records_appended() {}

ShippingStatus shipping_status() {
  std::lock_guard lock(status_mutex);
  return status;
}

bool flush_shipping(int64_t) {
  return true;
}

void stop_shipping() {}

bool check_database(const LineRecordSettings& settings, int64_t, std::string* report) {
  if (settings.database.empty()) return true;
  *report += std::string(kUnsupported) + "\n";
  return false;
}

}  // namespace station
