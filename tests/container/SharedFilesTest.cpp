#include "container/SharedFiles.h"

#include <gtest/gtest.h>

namespace driftpost {
namespace {

TEST(SharedFilesTest, EveryPathIsSharedInOrderAsADropWouldAndDuplicatesStay) {
  TItemStore store({"bmp", "jpg"});
  const int added = ShareFiles(store, {"/home/me/song.wav", "/home/me/Photos", "/home/me/cat.JPG",
                                       "/home/me/song.wav", "/home/me/Photos.bmp"});
  EXPECT_EQ(added, 5);
  EXPECT_EQ(store.List(TItemCategory::Sounds).Count(), 2);
  EXPECT_NE(store.List(TItemCategory::Sounds).Id(0), store.List(TItemCategory::Sounds).Id(1));
  // A folder is one entry, sorted by its name like a file.
  EXPECT_EQ(store.List(TItemCategory::Others).Path(0), "/home/me/Photos");
  EXPECT_EQ(store.List(TItemCategory::Pictures).Count(), 2);
}

TEST(SharedFilesTest, PathsTheShareListCouldNotKeepAreLeftOut) {
  TItemStore store({"bmp"});
  // Written one per line, these would come back as other paths after a restart.
  EXPECT_EQ(ShareFiles(store, {"/a/two\nlines.bmp", "/a/cr\r.bmp", std::string("/a/zero\0.bmp", 12), "relative.bmp",
                               "", "/a/kept.bmp"}),
            1);
  EXPECT_EQ(store.ContainerText(), "/a/kept.bmp\r\n");
  EXPECT_TRUE(CanShare("/"));
  EXPECT_FALSE(CanShare("a/b"));
}

}  // namespace
}  // namespace driftpost
