#include "platform/IndexedList.h"

#include <gtest/gtest.h>
#include <vector>

namespace driftpost {
namespace {

struct TBase {
  virtual ~TBase() = default;
  int Number = 0;
};
struct TItem : TBase {};

std::vector<int> Contents(const TIndexedList<TItem, TBase>& list) {
  std::vector<int> numbers;
  for (int i = 0; i < list.Count(); ++i) numbers.push_back(list.At(i)->Number);
  return numbers;
}

class IndexedListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int i = 0; i < 100; ++i) items[i].Number = i;
  }
  TItem items[100];
  TIndexedList<TItem, TBase> list;
};

TEST_F(IndexedListTest, KeepsTheOrderOfAddingThroughRemovalsAndCompaction) {
  EXPECT_FALSE(list.Add(nullptr));
  for (TItem& item : items) EXPECT_TRUE(list.Add(&item));
  EXPECT_FALSE(list.Add(&items[5]));
  // Remove every number but the multiples of 7, in a scrambled order; the list squeezes
  // its holes out on the way.
  for (int i = 0; i < 100; ++i) {
    const int n = (i * 37) % 100;
    if (n % 7 != 0) {
      EXPECT_TRUE(list.Remove(&items[n]));
    }
  }
  EXPECT_FALSE(list.Remove(&items[1]));
  EXPECT_EQ(Contents(list), (std::vector<int>{0, 7, 14, 21, 28, 35, 42, 49, 56, 63, 70, 77, 84, 91, 98}));
  EXPECT_TRUE(list.Contains(static_cast<TBase*>(&items[49])));
  EXPECT_FALSE(list.Contains(&items[50]));
  EXPECT_EQ(list.Last(), &items[98]);
  EXPECT_EQ(list.At(15), nullptr);
  EXPECT_EQ(list.At(-1), nullptr);
  list.Remove(&items[98]);
  EXPECT_EQ(list.Last(), &items[91]);
  // Added again after removal: at the end.
  list.Add(&items[1]);
  EXPECT_EQ(list.Last(), &items[1]);
  EXPECT_EQ(list.Count(), 15);
}

TEST_F(IndexedListTest, VisitsFromTheLastAndSkipsWhatIsRemovedMeanwhile) {
  for (int i = 0; i < 10; ++i) list.Add(&items[i]);
  std::vector<int> visited;
  list.ForEachFromLast([&](TItem* item) {
    visited.push_back(item->Number);
    // Each visit removes the item two places before it, and itself when it is 5.
    if (item->Number >= 2) list.Remove(&items[item->Number - 2]);
    if (item->Number == 5) list.Remove(item);
    // Asking by position during the visit moves nothing.
    if (item->Number == 8) {
      EXPECT_EQ(list.At(2), &items[2]);
    }
  });
  EXPECT_EQ(visited, (std::vector<int>{9, 8, 5, 4, 1, 0}));
  EXPECT_EQ(Contents(list), (std::vector<int>{0, 1, 4, 8, 9}));
}

}  // namespace
}  // namespace driftpost
