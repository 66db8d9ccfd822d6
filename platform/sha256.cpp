#include "platform/sha256.h"

#ifdef _WIN32
#include <windows.h>
// windows.h first: bcrypt.h needs its types.
#include <bcrypt.h>

#include <algorithm>
#else
#include <openssl/evp.h>
#endif

namespace platform {

namespace {

std::string hex(const unsigned char* digest, size_t length) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text;
  for (size_t k = 0; k < length; ++k) {
    text += kHex[digest[k] >> 4];
    text += kHex[digest[k] & 0xF];
  }
  return text;
}

}  // namespace

std::string sha256_hex(const uint8_t* data, size_t size) {
#ifdef _WIN32
  unsigned char digest[32];
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  if (!BCRYPT_SUCCESS(
          ::BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)))
    return {};
  BCRYPT_HASH_HANDLE hash = nullptr;
  bool ok = BCRYPT_SUCCESS(::BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0));
  // The data goes in pieces that a ULONG can count.
  for (size_t done = 0; ok && done < size;) {
    const ULONG piece = static_cast<ULONG>(std::min<size_t>(size - done, 1u << 30));
    ok = BCRYPT_SUCCESS(::BCryptHashData(hash, const_cast<PUCHAR>(data + done), piece, 0));
    done += piece;
  }
  ok = ok && BCRYPT_SUCCESS(::BCryptFinishHash(hash, digest, sizeof digest, 0));
  if (hash) ::BCryptDestroyHash(hash);
  ::BCryptCloseAlgorithmProvider(algorithm, 0);
  return ok ? hex(digest, sizeof digest) : std::string();
#else
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(data, size, digest, &length, EVP_sha256(), nullptr) != 1) return {};
  return hex(digest, length);
#endif
}

}  // namespace platform
