#include "web/Latin9.h"

#include <gtest/gtest.h>

namespace driftpost {
namespace {

TEST(Latin9Test, Utf8BecomesTheLatin9BytesOrAQuestionMark) {
  EXPECT_EQ(Utf8ToLatin9("/home/me/plain ASCII.txt"), "/home/me/plain ASCII.txt");
  // Latin-1 letters keep their byte; the euro and the letters Latin-9 added get theirs.
  EXPECT_EQ(Utf8ToLatin9("Äöü ß ÿ"), "\xC4\xF6\xFC \xDF \xFF");
  EXPECT_EQ(Utf8ToLatin9("€ Š š Ž ž Œ œ Ÿ"), "\xA4 \xA6 \xA8 \xB4 \xB8 \xBC \xBD \xBE");
  // What Latin-9 replaced, and what it never had, becomes '?': one per character.
  EXPECT_EQ(Utf8ToLatin9("¤¦¨´¸¼½¾"), "????????");
  EXPECT_EQ(Utf8ToLatin9("日本 ő 😀"), "?? ? ?");
  // Bytes that are no UTF-8 stay as they are: a name in a legacy encoding keeps its bytes.
  EXPECT_EQ(Utf8ToLatin9("caf\xE9 \xC3"), "caf\xE9 \xC3");
  EXPECT_EQ(Utf8ToLatin9(std::string("\xED\xA0\x80", 3)), "\xED\xA0\x80");  // a surrogate
}

TEST(Latin9Test, BackToUtf8AndRecognisingUtf8) {
  EXPECT_EQ(Latin9ToUtf8("\xC4 \xA4 \xBE ?"), "Ä € Ÿ ?");
  EXPECT_EQ(Latin9ToUtf8(Utf8ToLatin9("Grüße, Œuvre")), "Grüße, Œuvre");
  EXPECT_TRUE(IsUtf8("plain"));
  EXPECT_TRUE(IsUtf8("Grüße 日本"));
  EXPECT_FALSE(IsUtf8("Gr\xFC\xDF"));
  EXPECT_FALSE(IsUtf8("\xE6\x97"));  // cut short
  EXPECT_FALSE(IsUtf8("\xC0\xAF"));  // overlong
}

TEST(Latin9Test, LetterCaseIsIgnoredForEveryLatin9Letter) {
  EXPECT_TRUE(Latin9SameText("ABC \xC4\xD6\xDE", "abc \xE4\xF6\xFE"));
  EXPECT_TRUE(Latin9SameText("\xA6\xB4\xBC\xBE", "\xA8\xB8\xBD\xFF"));  // Š Ž Œ Ÿ
  EXPECT_FALSE(Latin9SameText("\xD7", "\xF7"));                        // the multiplication and division signs
  EXPECT_FALSE(Latin9SameText("\xDF", "\xFF"));                        // ß is no capital of ÿ
  EXPECT_FALSE(Latin9SameText("ab", "abc"));
}

}  // namespace
}  // namespace driftpost
