#include "container/ImageList.h"

#include <gtest/gtest.h>

#include "platform/Exception.h"

namespace driftpost {
namespace {

int OpaquePixels(const TImageListIcon& icon) {
  int count = 0;
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) count += icon.Transparent(x, y) ? 0 : 1;
  return count;
}

TEST(ImageListTest, UsedPositionsHoldMaskedDrawings) {
  const TImageList& list = TImageList::Instance();
  for (int index : {iiBox, iiPicture, iiRemove, iiLoudspeaker, iiPackage}) {
    int opaque = OpaquePixels(list.Icon(index));
    EXPECT_GT(opaque, 60) << index;
    EXPECT_LT(opaque, 256) << index;  // every icon has a transparent part
  }
  EXPECT_EQ(OpaquePixels(list.Icon(0)), 0);
  // The remove button is red with a white cross through its middle.
  EXPECT_EQ(list.Icon(iiRemove).Color(7, 7), 0xFFFFFFu);
  EXPECT_EQ(list.Icon(iiRemove).Color(7, 2), 0xE02020u);
}

TEST(ImageListTest, DrawingThroughTheMaskKeepsTheBackground) {
  const TImageListIcon& box = TImageList::Instance().Icon(iiBox);
  EXPECT_EQ(box.Over(0, 0, 0xFFFFFF), 0xFFFFFFu);
  EXPECT_EQ(box.Over(5, 10, 0xFFFFFF), box.Color(5, 10));
}

TEST(ImageListTest, IndexOutsideTheListRaisesTheListError) {
  EXPECT_THROW(TImageList::Instance().Icon(14), EListError);
  EXPECT_THROW(TImageList::Instance().Icon(-1), EListError);
}

}  // namespace
}  // namespace driftpost
