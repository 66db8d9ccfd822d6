#include "tools/runner/terminal_view.h"

#include <algorithm>

namespace runner {

namespace {

constexpr int kBarWidth = 30;

// A status text on one line: line ends removed.
std::string one_line(const char* text) {
  std::string s = text ? text : "";
  std::replace(s.begin(), s.end(), '\r', ' ');
  std::replace(s.begin(), s.end(), '\n', ' ');
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

}  // namespace

TerminalView::TerminalView(std::vector<int> modules, std::FILE* out, bool live)
    : out_(out), live_(live) {
  for (int index : modules) {
    rows_.emplace_back();
    rows_.back().index = index;
  }
}

TerminalView::Row& TerminalView::row(int index) {
  return const_cast<Row&>(static_cast<const TerminalView*>(this)->row(index));
}

const TerminalView::Row& TerminalView::row(int index) const {
  static const Row none;
  for (const Row& r : rows_)
    if (r.index == index) return r;
  return none;
}

bool TerminalView::all_finished() const {
  return std::all_of(rows_.begin(), rows_.end(), [](const Row& r) { return r.finished; });
}

void TerminalView::send_message(uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  using namespace engine;
  if (msg == WM_SLOT_RESULT) {
    Row& r = row(static_cast<int>(wParam));
    if (r.index >= 0) r.ok = lParam ? 1 : 0;
  } else if (msg - WM_SLOT_STATUS < uint32_t(kModuleCount)) {
    Row& r = row(static_cast<int>(msg - WM_SLOT_STATUS));
    if (r.index < 0) return;
    r.status = one_line(reinterpret_cast<const char*>(wParam));
    if (!live_ && !r.status.empty())
      std::fprintf(out_, "Module%d: %s\n", r.index + 1, r.status.c_str());
  } else if (msg - WM_SLOT_PROGRESS < uint32_t(kModuleCount)) {
    Row& r = row(static_cast<int>(msg - WM_SLOT_PROGRESS));
    // The true percentage, never more than 100.
    if (r.index >= 0 && lParam > 0)
      r.percent =
          static_cast<int>(std::min<uint64_t>(100, uint64_t(wParam) * 100 / uint64_t(lParam)));
  } else if (msg - WM_SLOT_FINISHED < uint32_t(kModuleCount)) {
    Row& r = row(static_cast<int>(msg - WM_SLOT_FINISHED));
    if (r.index >= 0) r.finished = true;
  } else {
    return;
  }
  dirty_ = true;
}

std::string TerminalView::line(const Row& r) const {
  int filled = r.percent * kBarWidth / 100;
  std::string bar = std::string(filled, '#') + std::string(kBarWidth - filled, '-');
  const char* state = r.ok == 1 ? "PASS" : r.ok == 0 ? "FAIL" : "    ";
  char text[512];
  std::snprintf(text, sizeof text, "Module%d [%s] %3d%% %s  %.200s", r.index + 1, bar.c_str(),
                r.percent, state, r.status.c_str());
  return text;
}

void TerminalView::draw() {
  if (!live_ || !dirty_) return;
  // Back to the first line of the block, then each line cleared and written anew.
  if (drawn_) std::fprintf(out_, "\033[%zuA", rows_.size());
  for (const Row& r : rows_) std::fprintf(out_, "\r\033[2K%s\n", line(r).c_str());
  std::fflush(out_);
  drawn_ = true;
  dirty_ = false;
}

}  // namespace runner
