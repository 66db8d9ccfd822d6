#include "config/profile_encoding.h"

#include <cstdint>

namespace config {

namespace {

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeMark = "\xFF\xFE";
constexpr std::string_view kUtf16BeMark = "\xFE\xFF";
constexpr char32_t kReplacement = 0xFFFD;

bool is_high_surrogate(char32_t u) {
  return u >= 0xD800 && u <= 0xDBFF;
}

bool is_low_surrogate(char32_t u) {
  return u >= 0xDC00 && u <= 0xDFFF;
}

void append_utf8(std::string& out, char32_t c) {
  auto byte = [&out](uint32_t b) { out += static_cast<char>(b); };
  if (c < 0x80) {
    byte(c);
  } else if (c < 0x800) {
    byte(0xC0 | (c >> 6));
    byte(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    byte(0xE0 | (c >> 12));
    byte(0x80 | ((c >> 6) & 0x3F));
    byte(0x80 | (c & 0x3F));
  } else {
    byte(0xF0 | (c >> 18));
    byte(0x80 | ((c >> 12) & 0x3F));
    byte(0x80 | ((c >> 6) & 0x3F));
    byte(0x80 | (c & 0x3F));
  }
}

// The next code point of well-formed UTF-8 at `pos`, advancing `pos`; nothing for an ill-formed
// sequence (a stray or missing continuation byte, an overlong form, a surrogate, beyond U+10FFFF).
std::optional<char32_t> next_utf8(std::string_view text, size_t& pos) {
  const auto lead = static_cast<uint8_t>(text[pos]);
  size_t length = 0;
  char32_t c = 0;
  char32_t least = 0;
  if (lead < 0x80) {
    ++pos;
    return lead;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, c = lead & 0x1F, least = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, c = lead & 0x0F, least = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, c = lead & 0x07, least = 0x10000;
  } else {
    return std::nullopt;
  }
  if (text.size() - pos < length) return std::nullopt;
  for (size_t i = 1; i < length; ++i) {
    const auto b = static_cast<uint8_t>(text[pos + i]);
    if ((b & 0xC0) != 0x80) return std::nullopt;
    c = (c << 6) | (b & 0x3F);
  }
  if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return std::nullopt;
  pos += length;
  return c;
}

DecodedProfile decode_utf16(std::string_view units, ProfileEncoding encoding) {
  DecodedProfile out;
  out.encoding = encoding;
  out.exact = units.size() % 2 == 0;
  const bool little = encoding == ProfileEncoding::utf16le;
  const size_t count = units.size() / 2;
  auto unit = [&](size_t i) -> char32_t {
    const auto a = static_cast<uint8_t>(units[2 * i]);
    const auto b = static_cast<uint8_t>(units[2 * i + 1]);
    return little ? a | (b << 8) : (a << 8) | b;
  };
  out.text.reserve(units.size() + units.size() / 2);
  for (size_t i = 0; i < count; ++i) {
    char32_t u = unit(i);
    if (is_high_surrogate(u) && i + 1 < count && is_low_surrogate(unit(i + 1))) {
      u = 0x10000 + ((u - 0xD800) << 10) + (unit(i + 1) - 0xDC00);
      ++i;
    } else if (is_high_surrogate(u) || is_low_surrogate(u)) {
      u = kReplacement;
      out.exact = false;
    }
    append_utf8(out.text, u);
  }
  return out;
}

std::optional<std::string> encode_utf16(std::string_view text, ProfileEncoding encoding) {
  const bool little = encoding == ProfileEncoding::utf16le;
  std::string out(little ? kUtf16LeMark : kUtf16BeMark);
  out.reserve(out.size() + 2 * text.size());
  auto put = [&](char32_t u) {
    const char low = static_cast<char>(u & 0xFF);
    const char high = static_cast<char>(u >> 8);
    out += little ? low : high;
    out += little ? high : low;
  };
  for (size_t pos = 0; pos < text.size();) {
    const std::optional<char32_t> c = next_utf8(text, pos);
    if (!c) return std::nullopt;
    if (*c < 0x10000) {
      put(*c);
    } else {
      put(0xD800 + ((*c - 0x10000) >> 10));
      put(0xDC00 + ((*c - 0x10000) & 0x3FF));
    }
  }
  return out;
}

}  // namespace

DecodedProfile decode_profile(std::string_view file) {
  if (file.starts_with(kUtf16LeMark))
    return decode_utf16(file.substr(kUtf16LeMark.size()), ProfileEncoding::utf16le);
  if (file.starts_with(kUtf16BeMark))
    return decode_utf16(file.substr(kUtf16BeMark.size()), ProfileEncoding::utf16be);
  DecodedProfile out;
  if (file.starts_with(kUtf8Mark)) {
    out.encoding = ProfileEncoding::utf8_bom;
    file.remove_prefix(kUtf8Mark.size());
  }
  out.text = std::string(file);
  return out;
}

std::optional<std::string> encode_profile(ProfileEncoding encoding, std::string_view text) {
  switch (encoding) {
    case ProfileEncoding::bytes:
      return std::string(text);
    case ProfileEncoding::utf8_bom:
      return std::string(kUtf8Mark) + std::string(text);
    case ProfileEncoding::utf16le:
    case ProfileEncoding::utf16be:
      break;
  }
  return encode_utf16(text, encoding);
}

}  // namespace config
