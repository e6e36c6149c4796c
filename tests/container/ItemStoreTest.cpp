#include "container/ItemStore.h"

#include <csignal>
#include <gtest/gtest.h>
#include <set>
#include <sys/resource.h>
#include <sys/stat.h>

#include "TempDir.h"
#include "picture/RegisteredFormats.h"
#include "platform/Exception.h"

namespace driftpost {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

class ItemStoreTest : public ::testing::Test {
 protected:
  TItemStore store{RegisteredExtensions()};
};

TEST_F(ItemStoreTest, ClassifiesByLowerCasedExtension) {
  EXPECT_EQ(store.Classify("C:\\Photos\\Trip.JPG"), TItemCategory::Pictures);
  EXPECT_EQ(store.Classify("C:\\Music\\song.Wav"), TItemCategory::Sounds);
  EXPECT_EQ(store.Classify("/music/song.aif"), TItemCategory::Sounds);
  EXPECT_EQ(store.Classify("/music/song.AU"), TItemCategory::Sounds);
  EXPECT_EQ(store.Classify("C:\\Apps\\tool.pkg"), TItemCategory::Packages);
  EXPECT_EQ(store.Classify("C:\\Docs\\readme"), TItemCategory::Others);
  EXPECT_EQ(store.Classify("C:\\Docs\\notes.txt"), TItemCategory::Others);
  EXPECT_EQ(store.Classify("C:\\My.Folder\\file"), TItemCategory::Others);
  EXPECT_EQ(store.Classify("/home/me/pics.old/scan"), TItemCategory::Others);
  EXPECT_EQ(store.Classify("C:\\Anim\\a.gif"), TItemCategory::Pictures);
  EXPECT_EQ(store.Classify("/home/me/a.GIF"), TItemCategory::Pictures);
  EXPECT_EQ(store.Classify("trailing."), TItemCategory::Others);
}

TEST_F(ItemStoreTest, PiecesOfRegisteredExtensionsCountAsPictures) {
  for (const char* path : {"x.c", "x.p", "x.ps", "x.PS", "x.mp", "x.ic", "x.ng"})
    EXPECT_EQ(store.Classify(path), TItemCategory::Pictures) << path;
  for (const char* path : {"x.txt", "x.doc", "x.mp3", "x.pngx", "x.html"})
    EXPECT_EQ(store.Classify(path), TItemCategory::Others) << path;
}

TEST_F(ItemStoreTest, IdentifiersArePositiveAndUniqueAcrossLists) {
  std::set<std::int32_t> ids;
  for (int i = 0; i < 50; ++i)
    for (const char* path : {"/a.bmp", "/b.wav", "/c.pkg", "/d.txt"}) {
      std::int32_t id = store.AddItem(path).Id;
      EXPECT_GT(id, 0);
      EXPECT_TRUE(ids.insert(id).second) << id;
    }
  EXPECT_EQ(store.List(TItemCategory::Pictures).Count(), 50);
}

TEST_F(ItemStoreTest, SamePathTwiceGivesTwoEntries) {
  std::int32_t first = store.AddItem("/pics/cat.bmp").Id;
  std::int32_t second = store.AddItem("/pics/cat.bmp").Id;
  const TItemList& pictures = store.List(TItemCategory::Pictures);
  ASSERT_EQ(pictures.Count(), 2);
  EXPECT_NE(first, second);
  EXPECT_EQ(pictures.IndexOfId(second), 1);
  EXPECT_EQ(pictures.IndexOfId(0), -1);
}

TEST_F(ItemStoreTest, ObserverHearsEveryAddedEntryInOrder) {
  std::vector<std::pair<TItemCategory, std::string>> heard;
  store.OnItemAdded = [&](TItemCategory category, const TItemEntry& entry) {
    heard.emplace_back(category, entry.Path);
    EXPECT_EQ(store.List(category).IndexOfId(entry.Id), store.List(category).Count() - 1);
  };
  store.AddItem("/a.bmp");
  store.AddItem("/b.wav");
  ASSERT_EQ(heard.size(), 2u);
  EXPECT_EQ(heard[0], std::make_pair(TItemCategory::Pictures, std::string("/a.bmp")));
  EXPECT_EQ(heard[1], std::make_pair(TItemCategory::Sounds, std::string("/b.wav")));
}

TEST_F(ItemStoreTest, SavesPicturesPackagesSoundsOthers) {
  TempDir dir;
  store.AddItem("C:\\O.txt");
  store.AddItem("C:\\S.wav");
  store.AddItem("C:\\P.pkg");
  store.AddItem("C:\\A.bmp");
  store.SaveContainerFile(dir.File("d.container"));
  EXPECT_EQ(ReadFile(dir.File("d.container")), "C:\\A.bmp\r\nC:\\P.pkg\r\nC:\\S.wav\r\nC:\\O.txt\r\n");
}

TEST_F(ItemStoreTest, LoadsEveryLineAndClassifiesItAfresh) {
  TempDir dir;
  WriteFile(dir.File("d.container"), "x.bmp\r\n\r\ny.wav");
  store.LoadContainerFile(dir.File("d.container"));
  ASSERT_EQ(store.List(TItemCategory::Pictures).Count(), 1);
  EXPECT_EQ(store.List(TItemCategory::Pictures).Path(0), "x.bmp");
  ASSERT_EQ(store.List(TItemCategory::Others).Count(), 1);
  EXPECT_EQ(store.List(TItemCategory::Others).Path(0), "");
  ASSERT_EQ(store.List(TItemCategory::Sounds).Count(), 1);
  EXPECT_EQ(store.List(TItemCategory::Sounds).Path(0), "y.wav");
}

TEST_F(ItemStoreTest, LoadKeepsBytesThatAreNotUtf8AndLineEndsOfEveryKind) {
  TempDir dir;
  WriteFile(dir.File("d.container"), "/m\xFC" "ll.txt\r/b.pkg\n/c.wav\r\n");
  store.LoadContainerFile(dir.File("d.container"));
  EXPECT_EQ(store.List(TItemCategory::Others).Path(0), "/m\xFC" "ll.txt");
  EXPECT_EQ(store.List(TItemCategory::Packages).Path(0), "/b.pkg");
  EXPECT_EQ(store.List(TItemCategory::Sounds).Path(0), "/c.wav");
}

TEST_F(ItemStoreTest, EmptyStoreAndEmptyFileRoundTrip) {
  TempDir dir;
  store.SaveContainerFile(dir.File("d.container"));
  EXPECT_EQ(ReadFile(dir.File("d.container")), "");
  TItemStore other(RegisteredExtensions());
  other.LoadContainerFile(dir.File("d.container"));
  for (TItemCategory category : AllCategories) EXPECT_EQ(other.List(category).Count(), 0);
}

TEST_F(ItemStoreTest, MissingOrUnreadableFileLoadsNothingSilently) {
  TempDir dir;
  EXPECT_NO_THROW(store.LoadContainerFile(dir.File("none.container")));
  EXPECT_EQ(store.LoadFailure(), "");
  EXPECT_NO_THROW(store.LoadContainerFile(dir.Path()));  // a folder
  for (TItemCategory category : AllCategories) EXPECT_EQ(store.List(category).Count(), 0);
}

TEST_F(ItemStoreTest, AShareListThatCouldNotBeReadIsNeverSavedOver) {
  TempDir dir;
  // A pipe in its place cannot be read (and must not hold up the start).
  const std::string unreadable = dir.File("pipe.container");
  ASSERT_EQ(::mkfifo(unreadable.c_str(), 0600), 0);
  store.LoadContainerFile(unreadable);
  EXPECT_EQ(store.LoadFailure(), "The share list " + unreadable + " could not be read (Datei " + unreadable +
                                     " kann nicht geöffnet werden); it is kept as it is and not saved over");
  store.AddItem("/dropped/later.bmp");
  EXPECT_THROW(store.SaveContainerFile(unreadable), EFCreateError);
  struct stat info;
  ASSERT_EQ(::stat(unreadable.c_str(), &info), 0);
  EXPECT_TRUE(S_ISFIFO(info.st_mode));
  // Another file is written as ever.
  store.SaveContainerFile(dir.File("other.container"));
  EXPECT_EQ(ReadFile(dir.File("other.container")), "/dropped/later.bmp\r\n");
}

TEST_F(ItemStoreTest, APathWithALineBreakIsRefusedForTheListFileCouldNotKeepIt) {
  for (const char* path : {"/a\nb.bmp", "/a\rb.txt", "\n"}) {
    EXPECT_THROW(store.AddItem(path), EItemPathError) << path;
  }
  try {
    store.AddItem("/two\nlines.txt");
  } catch (const EItemPathError& error) {
    EXPECT_EQ(error.Message(),
              "Cannot share /two\\x0Alines.txt: its name holds a line break, which the share list cannot keep");
  }
  for (TItemCategory category : AllCategories) EXPECT_EQ(store.List(category).Count(), 0);
  EXPECT_EQ(store.ContainerText(), "");
}

TEST_F(ItemStoreTest, ReloadedFilesGetNewIdentifiers) {
  TempDir dir;
  WriteFile(dir.File("d.container"), "/a.bmp\r\n/b.bmp\r\n/c.bmp\r\n");
  TItemStore first(RegisteredExtensions()), second(RegisteredExtensions());
  first.LoadContainerFile(dir.File("d.container"));
  second.LoadContainerFile(dir.File("d.container"));
  const TItemList& a = first.List(TItemCategory::Pictures);
  const TItemList& b = second.List(TItemCategory::Pictures);
  ASSERT_EQ(a.Count(), 3);
  ASSERT_EQ(b.Count(), 3);
  EXPECT_FALSE(a.Id(0) == b.Id(0) && a.Id(1) == b.Id(1) && a.Id(2) == b.Id(2));
}

TEST_F(ItemStoreTest, RemoveTakesTheFirstMatchIgnoringLetterCase) {
  std::int32_t first = store.AddItem("/Pics/Ärger.BMP").Id;
  std::int32_t second = store.AddItem("/pics/ärger.bmp").Id;
  std::int32_t third = store.AddItem("/pics/other.bmp").Id;
  store.Remove(TItemCategory::Pictures, "/PICS/ärger.bmp");
  const TItemList& pictures = store.List(TItemCategory::Pictures);
  ASSERT_EQ(pictures.Count(), 2);
  EXPECT_EQ(pictures.IndexOfId(first), -1);
  EXPECT_EQ(pictures.IndexOfId(second), 0);
  EXPECT_EQ(pictures.IndexOfId(third), 1);
}

TEST_F(ItemStoreTest, RemoveWithoutMatchRaisesTheListErrorWithMinusOne) {
  store.AddItem("/a.bmp");
  try {
    store.Remove(TItemCategory::Pictures, "/renamed caption");
    FAIL() << "nothing raised";
  } catch (const EListError& error) {
    EXPECT_EQ(error.Message(), "Der Index der Liste überschreitet das Maximum (-1)");
  }
  EXPECT_EQ(store.List(TItemCategory::Pictures).Count(), 1);
  EXPECT_THROW(store.Remove(TItemCategory::Sounds, "/a.bmp"), EListError);
}

TEST_F(ItemStoreTest, RemoveIdTakesExactlyThatEntry) {
  std::int32_t first = store.AddItem("/p/a.jpg").Id;
  std::int32_t second = store.AddItem("/p/A.JPG").Id;
  store.RemoveId(TItemCategory::Pictures, second);
  const TItemList& pictures = store.List(TItemCategory::Pictures);
  ASSERT_EQ(pictures.Count(), 1);
  EXPECT_EQ(pictures.Id(0), first);
  EXPECT_EQ(pictures.Path(0), "/p/a.jpg");
  // The identifier must be in the list named.
  EXPECT_THROW(store.RemoveId(TItemCategory::Sounds, first), EListError);
  EXPECT_THROW(store.RemoveId(TItemCategory::Pictures, second), EListError);
  EXPECT_EQ(pictures.Count(), 1);
}

TEST_F(ItemStoreTest, FailedSaveKeepsTheOldShareList) {
  TempDir dir;
  const std::string name = dir.File("d.container");
  WriteFile(name, "/old.bmp\r\n");
  for (int i = 0; i < 100; ++i) store.AddItem("/new/picture" + std::to_string(i) + ".bmp");
  struct rlimit saved;
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  auto previous = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit limited = saved;
  limited.rlim_cur = 64;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
  EXPECT_THROW(store.SaveContainerFile(name), EFCreateError);
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previous);
  EXPECT_EQ(ReadFile(name), "/old.bmp\r\n");
}

}  // namespace
}  // namespace driftpost
