#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "tests/support/message_recorder.h"

namespace testing_support {

// Every byte value, and the protocol's own words, inside `size` bytes of data.
std::string tricky_content(size_t size, int seed);

// The messages of one slot as short text: "S:<status>", "P:<done>/<total>", "R:<result>", "F".
std::vector<std::string> run_trace(const MessageRecorder& window, int index);

// The trace of a run that stores a file of `size` bytes without a fault.
std::vector<std::string> passing_trace(size_t size);

}  // namespace testing_support
