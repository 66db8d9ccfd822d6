#pragma once

#include <cstdint>
#include <optional>

namespace dialog {

// The position of a progress notice: `done` × 100 ÷ `total` in exact integer arithmetic,
// truncated and kept within 0..100 (53 of 100 is 53, 59 of 100 is 59, 1023 of 1024 is 99). A
// total of 0 or less gives nothing: the bar is left as it is.
std::optional<int> progress_percent(uint64_t done, int64_t total);

}  // namespace dialog
