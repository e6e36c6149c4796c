#include "platform/StringList.h"

#include <gtest/gtest.h>

#include "platform/Exception.h"

namespace driftpost {
namespace {

std::vector<std::string> Lines(const std::string& text) {
  TStringList list;
  list.SetText(text);
  return list.Items();
}

TEST(StringListTest, LinesEndAtCrLfOrCrLf) {
  using V = std::vector<std::string>;
  EXPECT_EQ(Lines("a\r\nb\nc\rd"), (V{"a", "b", "c", "d"}));
  EXPECT_EQ(Lines("x.bmp\r\n\r\ny.wav\r\n"), (V{"x.bmp", "", "y.wav"}));
  EXPECT_EQ(Lines("one\r\n"), (V{"one"}));
  EXPECT_EQ(Lines("\n"), (V{""}));
  EXPECT_EQ(Lines("\n\r"), (V{"", ""}));
  EXPECT_EQ(Lines(""), V{});
}

TEST(StringListTest, TextEndsEveryLineWithCrLf) {
  TStringList list;
  list.Add("bmp");
  list.Add("png");
  EXPECT_EQ(list.Text(), "bmp\r\npng\r\n");
}

TEST(StringListTest, IndexOutsideTheListRaisesTheListError) {
  TStringList list;
  list.Add("a");
  EXPECT_EQ(list[0], "a");
  try {
    list.Delete(3);
    FAIL();
  } catch (const EListError& error) {
    EXPECT_EQ(error.Message(), "Der Index der Liste überschreitet das Maximum (3)");
  }
  EXPECT_THROW(list[-1], EListError);
}

}  // namespace
}  // namespace driftpost
