#include "tools/runner/terminal_view.h"

#include <algorithm>

#include "tools/runner/time_stamp.h"

namespace runner {

namespace {

constexpr int kBarWidth = 30;
constexpr const char* kSettling = "Prepare to download, please wait...";
constexpr const char* kDataPhase = "Start downloading file...";

// A status text on one line: line ends removed.
std::string one_line(const char* text) {
  std::string s = text ? text : "";
  std::replace(s.begin(), s.end(), '\r', ' ');
  std::replace(s.begin(), s.end(), '\n', ' ');
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

std::string minutes_seconds(long seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%02ld:%02ld", seconds / 60, seconds % 60);
  return text;
}

// `text` cut to `width` columns, the cut marked with "...".
std::string fit(std::string text, int width) {
  if (width <= 0) return {};
  if (static_cast<int>(text.size()) <= width) return text;
  if (width <= 3) return text.substr(0, static_cast<size_t>(width));
  return text.substr(0, static_cast<size_t>(width - 3)) + "...";
}

}  // namespace

TerminalView::TerminalView(std::vector<Module> modules, std::FILE* out, Mode mode, int width)
    : out_(out), mode_(out ? mode : Mode::silent), width_(width > 0 ? width : 80) {
  for (const Module& m : modules) {
    rows_.emplace_back();
    rows_.back().module = m;
  }
}

TerminalView::Row* TerminalView::find(int index) {
  for (Row& r : rows_)
    if (r.module.index == index) return &r;
  return nullptr;
}

const TerminalView::Row* TerminalView::find(int index) const {
  return const_cast<TerminalView*>(this)->find(index);
}

bool TerminalView::all_finished() const {
  return std::all_of(rows_.begin(), rows_.end(), [](const Row& r) { return r.finished; });
}

std::chrono::system_clock::time_point TerminalView::start_time(int index) const {
  return find(index) ? find(index)->wall_start : std::chrono::system_clock::time_point{};
}

std::chrono::system_clock::time_point TerminalView::end_time(int index) const {
  return find(index) ? find(index)->wall_end : std::chrono::system_clock::time_point{};
}

void TerminalView::clear(Row& r) {
  Row fresh;
  fresh.module = r.module;
  r = fresh;
  dirty_ = true;
}

void TerminalView::started(int index) {
  if (Row* r = find(index)) {
    clear(*r);
    r->start = Clock::now();
    r->wall_start = std::chrono::system_clock::now();
  }
}

void TerminalView::waiting(int index, const std::string& status) {
  if (Row* r = find(index)) {
    clear(*r);
    send_message(engine::WM_SLOT_STATUS + static_cast<uint32_t>(index),
                 reinterpret_cast<uintptr_t>(status.c_str()), 0);
  }
}

void TerminalView::set_width(int width) {
  if (width <= 0 || width == width_) return;
  width_ = width;
  width_changed_ = true;
  dirty_ = true;
}

void TerminalView::event(const Row& r, const std::string& text) {
  if (mode_ != Mode::lines) return;
  std::fprintf(out_, "%s Module%d COM%d: %s\n", local_time_stamp().c_str(), r.module.index + 1,
               r.module.com, text.c_str());
  std::fflush(out_);
}

void TerminalView::note(const std::string& text) {
  if (mode_ == Mode::silent) {
    std::fprintf(stderr, "%s\n", text.c_str());
  } else if (mode_ == Mode::lines) {
    std::fprintf(out_, "%s %s\n", local_time_stamp().c_str(), text.c_str());
    std::fflush(out_);
  } else {
    // Above the rows: the rows are cleared, the note written, and the rows drawn below it.
    if (drawn_) std::fprintf(out_, "\033[%zuA\r\033[J", rows_.size());
    std::fprintf(out_, "%s\n", fit(text, width_).c_str());
    drawn_ = false;
    dirty_ = true;
    draw();
  }
}

void TerminalView::send_message(uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  using namespace engine;
  auto slot_of = [msg](uint32_t base) { return static_cast<int>(msg - base); };
  auto in = [msg](uint32_t base) { return msg - base < uint32_t(kModuleCount); };
  const Clock::time_point now = Clock::now();
  Row* r = nullptr;
  if (msg == WM_SLOT_RESULT) {
    if ((r = find(static_cast<int>(wParam)))) {
      r->ok = lParam ? 1 : 0;
      if (r->ok == 1) r->percent = 100;  // a module that passed holds the whole file
    }
  } else if (in(WM_SLOT_STATUS)) {
    if ((r = find(slot_of(WM_SLOT_STATUS)))) {
      r->status = one_line(reinterpret_cast<const char*>(wParam));
      r->settling = r->status == kSettling;
      if (r->settling || r->status == kDataPhase) r->phase_start = now;
      if (r->status == kDataPhase) {
        r->done = 0;
        r->reported_tenth = 0;
      }
      if (!r->status.empty()) event(*r, r->status);
    }
  } else if (in(WM_SLOT_PROGRESS)) {
    // The true percentage, never more than 100; a module with its result keeps its last state.
    if ((r = find(slot_of(WM_SLOT_PROGRESS))) && lParam > 0 && r->ok < 0) {
      r->done = static_cast<int64_t>(wParam);
      r->total = static_cast<int64_t>(lParam);
      r->percent =
          static_cast<int>(std::min<uint64_t>(100, uint64_t(wParam) * 100 / uint64_t(lParam)));
      if (r->done > 0 && r->status == kDataPhase) r->transfer_begun = true;
      if (r->percent / 10 < r->reported_tenth) r->reported_tenth = r->percent / 10;
      if (r->transfer_begun && r->percent / 10 > r->reported_tenth) {
        r->reported_tenth = r->percent / 10;
        event(*r, std::to_string(r->reported_tenth * 10) + "% (" + rate_text(*r, now, false) + ")");
      }
    }
  } else if (in(WM_SLOT_FINISHED)) {
    if ((r = find(slot_of(WM_SLOT_FINISHED)))) {
      r->finished = true;
      r->end = now;
      r->wall_end = std::chrono::system_clock::now();
      if (r->start == Clock::time_point{}) {
        r->start = r->end;
        r->wall_start = r->wall_end;
      }
    }
  }
  if (r) dirty_ = true;
}

std::string TerminalView::rate_text(const Row& r, Clock::time_point now,
                                    bool with_time_left) const {
  double seconds = std::chrono::duration<double>(now - r.phase_start).count();
  if (seconds <= 0.0 || r.done <= 0) return "-- KiB/s";
  double rate = static_cast<double>(r.done) / seconds;
  char text[64];
  std::snprintf(text, sizeof text, "%.1f KiB/s", rate / 1024.0);
  std::string out = text;
  if (with_time_left)
    out += ", " +
           minutes_seconds(static_cast<long>(static_cast<double>(r.total - r.done) / rate + 0.5)) +
           " left";
  return out;
}

std::string TerminalView::line(const Row& r, Clock::time_point now) const {
  // The bar gives way first when the terminal is narrow; the status text is cut last of all.
  const int bar_width = std::clamp(width_ - 64, 5, kBarWidth);
  int filled = r.percent * bar_width / 100;
  std::string bar = std::string(filled, '#') + std::string(bar_width - filled, '-');
  const char* state = r.ok == 1 ? "PASS" : r.ok == 0 ? "FAIL" : "    ";
  Clock::time_point until = r.finished ? r.end : now;
  long elapsed =
      r.start == Clock::time_point{}
          ? 0
          : static_cast<long>(
                std::chrono::duration_cast<std::chrono::seconds>(until - r.start).count());
  std::string detail = r.status;
  if (!r.finished && r.settling && r.module.settle_ms > 0) {
    long waited = static_cast<long>(
        std::chrono::duration_cast<std::chrono::seconds>(now - r.phase_start).count());
    long left = (r.module.settle_ms + 999) / 1000 - waited;
    // After the settling wait the module is asked for its first answer (AT, up to 30 times).
    detail = left > 0 ? "settling, " + std::to_string(left) + " s left"
                      : "waiting for the module to answer AT, " + std::to_string(-left) + " s";
  } else if (!r.finished && r.transfer_begun && r.status == kDataPhase && r.done < r.total) {
    detail = rate_text(r, now, true);
  }
  char head[128];
  std::snprintf(head, sizeof head, "Module%d COM%d [%s] %3d%% %s %s ", r.module.index + 1,
                r.module.com, bar.c_str(), r.percent, state, minutes_seconds(elapsed).c_str());
  return fit(head + detail, width_);
}

void TerminalView::draw() {
  if (mode_ != Mode::live) return;
  const Clock::time_point now = Clock::now();
  // The clocks of running modules move every second.
  if (!dirty_ && !all_finished() && now - last_draw_ >= std::chrono::seconds(1)) dirty_ = true;
  if (!dirty_) return;
  // Back to the first row of the block, then each row cleared and written anew; after a width
  // change everything below is cleared, since the old rows may have been wrapped.
  if (drawn_) std::fprintf(out_, "\033[%zuA\r%s", rows_.size(), width_changed_ ? "\033[J" : "");
  for (const Row& r : rows_) std::fprintf(out_, "\r\033[2K%s\n", line(r, now).c_str());
  std::fflush(out_);
  drawn_ = true;
  dirty_ = false;
  width_changed_ = false;
  last_draw_ = now;
}

}  // namespace runner
