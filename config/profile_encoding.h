#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace config {

// How the bytes of a settings file hold its text. The file's text is handled as UTF-8 (or as the
// bytes themselves when the file has no byte order mark) and goes back in the file's own encoding,
// so that a file saved on Windows as "UTF-8 with BOM" or as "Unicode" stays readable there.
enum class ProfileEncoding {
  bytes,     // no byte order mark: the bytes are the text, nothing is translated
  utf8_bom,  // EF BB BF, then the text
  utf16le,   // FF FE, then UTF-16 code units, low byte first
  utf16be,   // FE FF, then UTF-16 code units, high byte first
};

struct DecodedProfile {
  ProfileEncoding encoding = ProfileEncoding::bytes;
  // The text without the byte order mark; UTF-8 for the UTF-16 encodings.
  std::string text;
  // False when UTF-16 bytes do not convert exactly: an odd byte count (the last byte is left out)
  // or an unpaired surrogate (read as U+FFFD). Such a file must not be rewritten, since writing
  // `text` back would change bytes that nobody edited.
  bool exact = true;
};

// The text of a settings file's bytes.
DecodedProfile decode_profile(std::string_view file);

// The bytes of a settings file holding `text` in `encoding`. Nothing when the encoding is UTF-16
// and `text` is not valid UTF-8, which has no exact UTF-16 form.
std::optional<std::string> encode_profile(ProfileEncoding encoding, std::string_view text);

}  // namespace config
