#include "web/Latin9.h"

#include <gtest/gtest.h>

namespace driftpost {
namespace {

TEST(Latin9Test, ConvertsCharactersAndComparesLetters) {
  EXPECT_EQ(Utf8ToLatin9("/plain ASCII.txt"), "/plain ASCII.txt");
  EXPECT_EQ(Utf8ToLatin9("Äöß € Š ž Œ Ÿ"), "\xC4\xF6\xDF \xA4 \xA6 \xB8 \xBC \xBE");
  // What Latin-9 replaced or never had is one '?' per character; bytes that are no UTF-8
  // (a name in a legacy encoding, a surrogate) stay as they are.
  EXPECT_EQ(Utf8ToLatin9("¤½ 日本 😀"), "?? ?? ?");
  EXPECT_EQ(Utf8ToLatin9("caf\xE9 \xED\xA0\x80"), "caf\xE9 \xED\xA0\x80");
  EXPECT_EQ(Latin9ToUtf8("\xC4 \xA4 \xBE ?"), "Ä € Ÿ ?");
  EXPECT_TRUE(IsUtf8("Grüße 日本"));
  EXPECT_FALSE(IsUtf8("Gr\xFC\xDF"));
  EXPECT_FALSE(IsUtf8("\xC0\xAF"));  // overlong
  EXPECT_TRUE(Latin9SameText("ABC \xC4\xDE \xA6\xB4\xBC\xBE", "abc \xE4\xFE \xA8\xB8\xBD\xFF"));
  EXPECT_FALSE(Latin9SameText("\xD7", "\xF7"));  // multiplication and division signs are no letters
  EXPECT_FALSE(Latin9SameText("ab", "abc"));
}

}  // namespace
}  // namespace driftpost
