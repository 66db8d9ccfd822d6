#include "platform/random_id.h"

#include <cstddef>
#include <cstdint>

#ifdef _WIN32
#include <windows.h>
// windows.h first: bcrypt.h needs its types.
#include <bcrypt.h>
#else
#include <sys/random.h>

#include <cerrno>
#endif

namespace platform {

namespace {

bool random_bytes(uint8_t* to, size_t size) {
#ifdef _WIN32
  return BCryptGenRandom(nullptr, to, static_cast<ULONG>(size), BCRYPT_USE_SYSTEM_PREFERRED_RNG) ==
         0;
#else
  for (size_t done = 0; done < size;) {
    const ssize_t n = getrandom(to + done, size - done, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
#endif
}

}  // namespace

std::string uuid_v4() {
  uint8_t bytes[16];
  if (!random_bytes(bytes, sizeof bytes)) return {};
  bytes[6] = static_cast<uint8_t>((bytes[6] & 0x0F) | 0x40);  // version 4
  bytes[8] = static_cast<uint8_t>((bytes[8] & 0x3F) | 0x80);  // the RFC's variant
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text;
  for (size_t k = 0; k < sizeof bytes; ++k) {
    if (k == 4 || k == 6 || k == 8 || k == 10) text += '-';
    text += kHex[bytes[k] >> 4];
    text += kHex[bytes[k] & 0xF];
  }
  return text;
}

}  // namespace platform
