// The conversion of UTF-8 text into UTF-16 settings files and back (the byte order marks and the
// exact round trip of any file are the fuzzer's to check).
#include "config/profile_encoding.h"

#include <gtest/gtest.h>

#include <string>

using config::decode_profile;
using config::encode_profile;
using config::ProfileEncoding;

TEST(ProfileEncodingTest, OnlyWellFormedUtf8GoesIntoUtf16) {
  const struct {
    std::string text;
    bool valid;
  } cases[] = {
      {"plain", true},
      {"\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF", true},
      {std::string("nul\0inside", 10), true},
      {"\xC0\xAF", false},          // overlong
      {"\xE0\x9F\xBF", false},      // overlong
      {"\xED\xA0\x80", false},      // a surrogate
      {"\xF4\x90\x80\x80", false},  // beyond U+10FFFF
      {"\xE6\x96", false},          // cut short
      {"\x80", false},              // a stray continuation byte
      {"\xE6\x41\x87", false},      // a missing continuation byte
  };
  for (const auto& c : cases) {
    for (ProfileEncoding e : {ProfileEncoding::utf16le, ProfileEncoding::utf16be}) {
      auto bytes = encode_profile(e, c.text);
      ASSERT_EQ(bytes.has_value(), c.valid) << testing::PrintToString(c.text);
      if (!bytes) continue;
      auto back = decode_profile(*bytes);
      EXPECT_EQ(back.encoding, e);
      EXPECT_TRUE(back.exact);
      EXPECT_EQ(back.text, c.text);
    }
  }
}
