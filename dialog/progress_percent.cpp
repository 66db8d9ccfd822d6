#include "dialog/progress_percent.h"

namespace dialog {

std::optional<int> progress_percent(uint64_t done, int64_t total) {
  if (total <= 0) return std::nullopt;
  const auto whole = static_cast<uint64_t>(total);
  if (done >= whole) return 100;
  // done < total < 2^63: done × 100 needs at most 70 bits.
  __extension__ using Wide = unsigned __int128;
  return static_cast<int>(Wide{done} * 100 / whole);
}

}  // namespace dialog
