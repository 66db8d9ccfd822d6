#include "engine/at_log.h"

#include <ctime>
#include <mutex>

#include "platform/clock.h"
#include "platform/executable_dir.h"
#include "platform/files.h"

namespace engine {

namespace {

std::once_flag directory_once;
std::string directory;

// The bench folder holds everything of its bench, its logs too; the program's own folder holds
// nothing that changes.
std::string choose_directory() {
  return platform::working_directory();
}

// The direction prefixes in code page 936: "发出: " and "收到: ".
constexpr std::string_view kSentPrefix = "\xB7\xA2\xB3\xF6\x3A\x20";
constexpr std::string_view kReceivedPrefix = "\xCA\xD5\xB5\xBD\x3A\x20";

std::string stamp(const char* pattern) {
  std::tm now = platform::clock().local_time();
  char text[32];
  size_t n = std::strftime(text, sizeof text, pattern, &now);
  return std::string(text, n);
}

}  // namespace

const std::string& at_log_directory() {
  std::call_once(directory_once, [] { directory = choose_directory(); });
  return directory;
}

bool set_at_log_directory(std::string dir) {
  bool taken = false;
  std::call_once(directory_once, [&] {
    if (!dir.empty() && dir.back() != '/') dir += '/';
    directory = std::move(dir);
    taken = true;
  });
  return taken;
}

std::string at_log_path(const ModuleSlot& slot) {
  return at_log_directory() + "AtLog_" + std::to_string(slot.number()) + ".ini";
}

void write_at_log(const ModuleSlot& slot, Direction direction, std::string_view text) {
  platform::File file = platform::File::open(at_log_path(slot), platform::FileAccess::append);
  if (!file.is_open()) return;
  if (!text.empty()) {
    // Date and time are two readings of the clock, as two stamps.
    std::string record = stamp("%m/%d/%Y ");
    record += stamp("%H:%M:%S ");
    record += direction == Direction::sent ? kSentPrefix : kReceivedPrefix;
    if (text.back() == '\r') text.remove_suffix(1);
    record += text;
    record += "\r\n";
    // One write per record, appended: a record is never interleaved with another.
    file.write_all(record);
  }
}

}  // namespace engine
