#include "station/line_shipper.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "engine/notifications.h"
#include "station/line_database.h"
#include "station/run_record.h"

namespace station {

namespace {

// Counting reads the files in pieces of this size, each under the file's lock for a moment.
constexpr size_t kCountBytes = 1 << 20;
// flush() gives up when no batch was confirmed for this long.
constexpr int64_t kFlushStallMs = 500;

std::string base_name(const std::string& path) {
  return std::filesystem::path(path).filename().string();
}

}  // namespace

LineShipper::LineShipper(std::string conninfo, std::string station, std::string runs_path,
                         ShipperLimits limits)
    : conninfo_(std::move(conninfo)),
      station_(std::move(station)),
      runs_path_(std::move(runs_path)),
      position_path_(ship_position_path(runs_path_)),
      limits_(limits) {}

LineShipper::~LineShipper() {
  if (thread_.joinable()) thread_.detach();
  if (wake_fd_ >= 0) ::close(wake_fd_);
}

bool LineShipper::start(std::string* why) {
  wake_fd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wake_fd_ < 0) {
    *why = std::string("eventfd: ") + std::strerror(errno);
    return false;
  }
  link_ = std::make_unique<PgLink>(wake_fd_, [this] { return on_wake(); });
  status_.on = true;
  thread_ = std::thread([this] { run(); });
  return true;
}

void LineShipper::wake() {
  appended_.fetch_add(1);
  const uint64_t one = 1;
  if (::write(wake_fd_, &one, sizeof one) < 0) {
    // The counter is full: the thread is woken anyway.
  }
}

bool LineShipper::stop() {
  stopping_ = true;
  const uint64_t one = 1;
  if (::write(wake_fd_, &one, sizeof one) < 0) {
    // Already woken.
  }
  std::unique_lock lock(mutex_);
  const bool ended =
      changed_.wait_for(lock, std::chrono::milliseconds(500), [this] { return ended_; });
  lock.unlock();
  if (ended)
    thread_.join();
  else
    thread_.detach();  // held up in a system call: it ends by itself, touching nothing shared
  return ended;
}

bool LineShipper::on_wake() {
  uint64_t count = 0;
  while (::read(wake_fd_, &count, sizeof count) > 0) {
  }
  return stopping_;
}

ShippingStatus LineShipper::status() {
  std::lock_guard lock(mutex_);
  ShippingStatus status = status_;
  status.waiting += appended_.load();
  return status;
}

bool LineShipper::flush(int64_t max_ms) {
  const int64_t deadline = steady_ms() + max_ms;
  int64_t progress_at = steady_ms();
  std::unique_lock lock(mutex_);
  uint64_t seen = confirmed_;
  for (;;) {
    if (status_.waiting + appended_.load() == 0) return true;
    if (!connected_ && !status_.last_failure.empty()) return false;
    const int64_t now = steady_ms();
    if (confirmed_ != seen) seen = confirmed_, progress_at = now;
    if (now - progress_at >= kFlushStallMs || now >= deadline) return false;
    changed_.wait_for(lock, std::chrono::milliseconds(20));
  }
}

void LineShipper::publish() {
  std::lock_guard lock(mutex_);
  status_.waiting = counted_waiting_;
  connected_ = link_->connected();
  changed_.notify_all();
}

void LineShipper::run() {
  begin();
  while (!stopping_) {
    count();
    publish();
    if (counted_waiting_ == 0 || !next_file()) {
      // Nothing to send: wait for a record, looking at the files now and then, and notice a
      // connection that the server ended.
      pollfd fds[2] = {{wake_fd_, POLLIN, 0}, {link_->socket(), POLLIN, 0}};
      const int n =
          ::poll(fds, link_->connected() ? 2 : 1, static_cast<int>(limits_.idle_rescan_ms));
      if (n > 0 && fds[0].revents & POLLIN) on_wake();
      if (n > 0 && link_->connected() && fds[1].revents) link_->still_open();
      continue;
    }
    std::string why;
    if (!link_->connected()) {
      if (steady_ms() < retry_at_ms_) {
        wait_wake(retry_at_ms_);
        continue;
      }
      if (!link_->connect(conninfo_, INT64_MAX, &why) ||
          !prepare_line_table(*link_, limits_.answer_ms, &why)) {
        link_->close();
        if (!stopping_) failed(why);
        continue;
      }
      engine::debug_trace("line records: connected to the database");
    }
    ship_batch();
  }
  link_->close();
  std::lock_guard lock(mutex_);
  ended_ = true;
  changed_.notify_all();
}

void LineShipper::begin() {
  std::string why;
  if (!read_ship_positions(position_path_, &positions_, &why))
    engine::debug_trace("line records: %s: every runs file is read from its beginning",
                        why.c_str());
  list_files();
  ShipPositions kept;
  for (Tracked& file : files_) {
    const auto found = positions_.find(file.name);
    if (found == positions_.end()) continue;
    if (resume_at(file.sent, found->second)) {
      kept[file.name] = found->second;
    } else {
      engine::debug_trace(
          "line records: the position of %s does not match its records (replaced, cut or "
          "edited): it is read from its beginning",
          file.name.c_str());
    }
    file.counted = file.sent;
  }
  positions_ = kept;
}

void LineShipper::list_files() {
  const std::filesystem::path runs(runs_path_);
  std::vector<std::string> retired;
  std::error_code error;
  const std::filesystem::path folder =
      runs.has_parent_path() ? runs.parent_path() : std::filesystem::path(".");
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    const std::string name = entry.path().filename().string();
    if (name.starts_with(kRetiredRunsPrefix) && name.ends_with(".csv")) retired.push_back(name);
  }
  std::sort(retired.begin(), retired.end());
  files_.clear();
  for (const std::string& name : retired) {
    Tracked file{name, true, {}, {}};
    file.sent.path = (folder / name).string();
    file.counted = file.sent;
    files_.push_back(file);
  }
  Tracked live{base_name(runs_path_), false, {}, {}};
  live.sent.path = runs_path_;
  live.counted = live.sent;
  files_.push_back(live);
}

void LineShipper::restart_file(Tracked& file, const char* why) {
  engine::debug_trace("line records: %s %s: it is read from its beginning", file.name.c_str(), why);
  const std::string path = file.sent.path;
  file.sent = RunsCursor{};
  file.sent.path = path;
  file.counted = file.sent;
  positions_.erase(file.name);
}

// The records appended are counted by their writers' wakes until the files are read again. The
// writers wake the shipper while they hold the runs file's lock, so the wakes are forgotten when
// the read reaches the end of the runs file under that lock: each one's record has just been
// counted, and no other can come in between.
void LineShipper::count() {
  counted_waiting_ = 0;
  const std::function<void()> forget_wakes = [this] { appended_.store(0); };
  for (Tracked& file : files_) {
    if (file.counted.offset < file.sent.offset) file.counted = file.sent;
    ScanResult result;
    std::string why;
    do {
      if (!scan_runs_file(file.counted, kCountBytes, file.final, nullptr, &result, &why,
                          file.final ? std::function<void()>() : forget_wakes)) {
        engine::debug_trace("line records: %s: %s", file.name.c_str(), why.c_str());
        break;
      }
      if (result.shrunk) {
        restart_file(file, "is shorter than before");
        result.more = true;
      }
    } while (result.more && !stopping_);
    counted_waiting_ += file.counted.number - file.sent.number;
  }
}

LineShipper::Tracked* LineShipper::next_file() {
  for (Tracked& file : files_)
    if (file.sent.offset < file.counted.offset) return &file;
  return nullptr;
}

void LineShipper::ship_batch() {
  Tracked* file = next_file();
  if (!file) return;
  RunsCursor cursor = file->sent;
  std::vector<RowAt> rows;
  ScanResult result;
  std::string why;
  if (!scan_runs_file(cursor, limits_.batch_bytes, file->final, &rows, &result, &why)) {
    failed(file->name + ": " + why);
    return;
  }
  if (result.shrunk) {
    restart_file(*file, "is shorter than before");
    return;
  }
  if (result.skipped)
    engine::debug_trace("line records: %s: %lld damaged lines or records without a run id skipped",
                        file->name.c_str(), static_cast<long long>(result.skipped));
  if (!rows.empty() && !insert_line_rows(*link_, station_, rows, limits_.answer_ms, &why)) {
    link_->close();
    if (!stopping_) failed(why);
    return;
  }
  file->sent = cursor;
  if (!rows.empty()) {
    const RowAt& last = rows.back();
    positions_[file->name] = {last.end, last.start, last.number,
                              *last.row[static_cast<size_t>(RunColumn::run_id)]};
    if (!write_ship_positions(position_path_, positions_, &why))
      engine::debug_trace("line records: %s", why.c_str());
  }
  retry_ms_ = 0;
  if (file->counted.offset < cursor.offset) file->counted = cursor;
  counted_waiting_ = 0;
  for (const Tracked& f : files_) counted_waiting_ += f.counted.number - f.sent.number;
  std::lock_guard lock(mutex_);
  status_.last_failure.clear();
  status_.waiting = counted_waiting_;
  connected_ = true;
  ++confirmed_;
  changed_.notify_all();
}

void LineShipper::failed(const std::string& why) {
  retry_ms_ =
      retry_ms_ == 0 ? limits_.first_retry_ms : std::min(retry_ms_ * 2, limits_.last_retry_ms);
  retry_at_ms_ = steady_ms() + retry_ms_;
  engine::debug_trace("line records: %s; next attempt in %lld ms", why.c_str(),
                      static_cast<long long>(retry_ms_));
  std::lock_guard lock(mutex_);
  status_.last_failure = why;
  connected_ = false;
  changed_.notify_all();
}

void LineShipper::wait_wake(int64_t until_ms) {
  while (!stopping_) {
    const int64_t left = until_ms - steady_ms();
    if (left <= 0) return;
    pollfd fd = {wake_fd_, POLLIN, 0};
    if (::poll(&fd, 1, static_cast<int>(std::min<int64_t>(left, 60000))) > 0 && on_wake()) return;
    if (fd.revents & POLLIN) {
      // Records appended while waiting are counted, and wait for the next attempt.
      count();
      publish();
    }
  }
}

}  // namespace station
