#include "platform/TextUtils.h"

#include <gtest/gtest.h>

namespace driftpost {
namespace {

TEST(TextUtilsTest, ExtensionIsTextAfterLastDotFollowingLastSeparator) {
  EXPECT_EQ(ExtractFileExt("C:\\Photos\\Trip.JPG"), ".JPG");
  EXPECT_EQ(ExtractFileExt("C:\\My.Folder\\file"), "");
  EXPECT_EQ(ExtractFileExt("/home/me/pics.old/scan"), "");
  EXPECT_EQ(ExtractFileExt("/home/me/archive.tar.gz"), ".gz");
  EXPECT_EQ(ExtractFileExt("disk:name.txt"), ".txt");
  EXPECT_EQ(ExtractFileExt("disk.x:name"), "");
  EXPECT_EQ(ExtractFileExt("trailing."), ".");
  EXPECT_EQ(ExtractFileExt(""), "");
}

TEST(TextUtilsTest, StripExtensionCutsFromTheExtensionDot) {
  EXPECT_EQ(StripExtension("C:\\Tools\\Driftpost.exe"), "C:\\Tools\\Driftpost");
  EXPECT_EQ(StripExtension("/usr/bin/driftpost"), "/usr/bin/driftpost");
  EXPECT_EQ(StripExtension("/a.b/c"), "/a.b/c");
  EXPECT_EQ(ChangeFileExt("/opt/driftpost", ".ini"), "/opt/driftpost.ini");
}

TEST(TextUtilsTest, FileNameAndDirectorySplitAtLastSeparator) {
  EXPECT_EQ(ExtractFileName("C:\\Pics\\cat.bmp"), "cat.bmp");
  EXPECT_EQ(ExtractFilePath("C:\\Pics\\cat.bmp"), "C:\\Pics\\");
  EXPECT_EQ(ExtractFileName("/home/me/cat.bmp"), "cat.bmp");
  EXPECT_EQ(ExtractFilePath("/home/me/cat.bmp"), "/home/me/");
  EXPECT_EQ(ExtractFileName("cat.bmp"), "cat.bmp");
  EXPECT_EQ(ExtractFilePath("cat.bmp"), "");
  EXPECT_EQ(ExtractFileName("C:cat"), "cat");
}

TEST(TextUtilsTest, TrimRemovesBlanksAndControlCharactersAtBothEnds) {
  EXPECT_EQ(Trim(" 8080 "), "8080");
  EXPECT_EQ(Trim("\t\r\n 80\x01"), "80");
  EXPECT_EQ(Trim("a b"), "a b");
  EXPECT_EQ(Trim("   "), "");
  EXPECT_EQ(Trim("\xE4"), "\xE4");  // bytes above 127 are text, not blanks
}

TEST(TextUtilsTest, AsciiCaseMappingLeavesOtherBytesAlone) {
  EXPECT_EQ(LowerCase("Trip.JPG"), "trip.jpg");
  EXPECT_EQ(UpperCase("http/1.0"), "HTTP/1.0");
  EXPECT_EQ(LowerCase("\xC3\x84"), "\xC3\x84");
  EXPECT_TRUE(SameText("/INDEX.HTML", "/index.html"));
  EXPECT_FALSE(SameText("/index.htm", "/index.html"));
}

TEST(TextUtilsTest, AnsiComparisonFoldsLettersBeyondAscii) {
  EXPECT_TRUE(AnsiSameText("/home/JÜRGEN/Ärger.txt", "/home/jürgen/ärger.TXT"));
  EXPECT_TRUE(AnsiSameText("ΣΟΦΙΑ", "σοφια"));
  EXPECT_FALSE(AnsiSameText("/a/b.txt", "/a/c.txt"));
  EXPECT_EQ(AnsiLowerCase("ÀÉÎ"), "àéî");
  // Invalid UTF-8 is compared byte for byte and never read past its end.
  EXPECT_TRUE(AnsiSameText("\xC3", "\xC3"));
  EXPECT_FALSE(AnsiSameText("\xC4\x41", "\xC4\x61x"));
  EXPECT_EQ(AnsiLowerCase("A\xE0\x80"), "a\xE0\x80");
}

TEST(TextUtilsTest, StrToIntAcceptsOnlyWholeIntegers) {
  EXPECT_EQ(TryStrToInt("80"), 80);
  EXPECT_EQ(TryStrToInt("-2"), -2);
  EXPECT_EQ(TryStrToInt(" 7"), 7);
  EXPECT_EQ(TryStrToInt("$10"), 16);
  EXPECT_EQ(TryStrToInt("0x1f"), 31);
  EXPECT_EQ(TryStrToInt("2147483647"), 2147483647);
  EXPECT_EQ(TryStrToInt("2147483648"), std::nullopt);
  EXPECT_EQ(TryStrToInt("-2147483648"), INT32_MIN);
  EXPECT_EQ(TryStrToInt("12abc"), std::nullopt);
  EXPECT_EQ(TryStrToInt(""), std::nullopt);
  EXPECT_EQ(TryStrToInt("-"), std::nullopt);
  EXPECT_EQ(TryStrToInt("99999999999999999999"), std::nullopt);
  EXPECT_EQ(StrToIntDef("x", 5), 5);
}

TEST(TextUtilsTest, ControlCharactersAreShownAsHexadecimalEscapes) {
  // C0 controls, DEL, and C1 controls as bare bytes or in their UTF-8 form.
  EXPECT_EQ(EscapeControlCharacters(std::string("a\x1B[2J\x07\x00\r\nb\x7F", 11)),
            "a\\x1B[2J\\x07\\x00\\x0D\\x0Ab\\x7F");
  EXPECT_EQ(EscapeControlCharacters("\x9B" "1m \xC2\x9B" "1m"), "\\x9B1m \\xC2\\x9B1m");
  // Printable text stays, also beyond ASCII, and so do bytes that are no UTF-8 but no
  // control either.
  EXPECT_EQ(EscapeControlCharacters("Grüße 日本 \xE9t\xE9 \\x41"), "Grüße 日本 \xE9t\xE9 \\x41");
  EXPECT_EQ(EscapeControlCharacters(""), "");
}

TEST(TextUtilsTest, HtmlEscapesTheFourMarkupCharacters) {
  EXPECT_EQ(EscapeHtml(R"(<a href="x">&amp;</a>)"), "&lt;a href=&quot;x&quot;&gt;&amp;amp;&lt;/a&gt;");
  EXPECT_EQ(EscapeHtml("plain 'text'"), "plain 'text'");
}

}  // namespace
}  // namespace driftpost
