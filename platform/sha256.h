#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// The SHA-256 of `size` bytes in lower-case hex; empty when the system's hash is not available.
std::string sha256_hex(const uint8_t* data, size_t size);

}  // namespace platform
