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

TerminalView::Row* TerminalView::find(int index) {
  for (Row& r : rows_)
    if (r.index == index) return &r;
  return nullptr;
}

const TerminalView::Row* TerminalView::find(int index) const {
  return const_cast<TerminalView*>(this)->find(index);
}

bool TerminalView::all_finished() const {
  return std::all_of(rows_.begin(), rows_.end(), [](const Row& r) { return r.finished; });
}

void TerminalView::send_message(uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  using namespace engine;
  auto slot_of = [msg](uint32_t base) { return static_cast<int>(msg - base); };
  auto in = [msg](uint32_t base) { return msg - base < uint32_t(kModuleCount); };
  Row* r = nullptr;
  if (msg == WM_SLOT_RESULT) {
    if ((r = find(static_cast<int>(wParam)))) r->ok = lParam ? 1 : 0;
  } else if (in(WM_SLOT_STATUS)) {
    if ((r = find(slot_of(WM_SLOT_STATUS)))) {
      r->status = one_line(reinterpret_cast<const char*>(wParam));
      if (!live_ && !r->status.empty())
        std::fprintf(out_, "Module%d: %s\n", r->index + 1, r->status.c_str());
    }
  } else if (in(WM_SLOT_PROGRESS)) {
    // The true percentage, never more than 100.
    if ((r = find(slot_of(WM_SLOT_PROGRESS))) && lParam > 0)
      r->percent =
          static_cast<int>(std::min<uint64_t>(100, uint64_t(wParam) * 100 / uint64_t(lParam)));
  } else if (in(WM_SLOT_FINISHED)) {
    if ((r = find(slot_of(WM_SLOT_FINISHED)))) r->finished = true;
  }
  if (r) dirty_ = true;
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
