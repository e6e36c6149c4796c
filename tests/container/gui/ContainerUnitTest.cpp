#include "container/gui/ContainerUnit.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QMenu>
#include <QMimeData>
#include <QTreeWidget>
#include <QUrl>
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <sys/stat.h>

#include "QtApplication.h"
#include "TempDir.h"
#include "container/gui/ImageListIcons.h"
#include "picture/RegisteredFormats.h"

namespace driftpost {
namespace {

using testing::ErrorBoxShowing;
using testing::ProcessEvents;
using testing::ReadFile;
using testing::TempDir;
using testing::TestApplication;
using testing::WriteFile;

constexpr Qt::DropActions AnyEffect = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;

// Drags `data` over the window and drops it, as a file manager would; the drop's effect, or
// nothing when the window refused the drag.
std::optional<Qt::DropAction> Drop(QWidget& window, const QMimeData& data, Qt::DropActions allowed = AnyEffect) {
  QDragEnterEvent enter(QPoint(60, 90), allowed, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&window, &enter);
  if (!enter.isAccepted()) return std::nullopt;
  QDropEvent drop(QPointF(60, 90), allowed, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&window, &drop);
  return drop.isAccepted() ? std::optional(drop.dropAction()) : std::nullopt;
}

std::optional<Qt::DropAction> DropFiles(QWidget& window, std::initializer_list<const char*> paths,
                                        Qt::DropActions allowed = AnyEffect) {
  QMimeData data;
  QList<QUrl> urls;
  for (const char* path : paths) urls << QUrl::fromLocalFile(QString::fromUtf8(path));
  data.setUrls(urls);
  return Drop(window, data, allowed);
}

QStringList ChildCaptions(const QTreeWidgetItem* node) {
  QStringList captions;
  for (int i = 0; i < node->childCount(); ++i) captions << node->child(i)->text(0);
  return captions;
}

QImage NodeImage(const QTreeWidgetItem* node) {
  return node->icon(0).pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32);
}

class ContainerUnitTest : public ::testing::Test {
 protected:
  ContainerUnitTest() { TestApplication(); }

  TContainer& Window() {
    if (!window) window = std::make_unique<TContainer>(store, ini, containerFile);
    return *window;
  }
  QTreeWidgetItem* Root() { return Window().RootNode(); }
  QTreeWidgetItem* Category(TItemCategory category) { return Window().CategoryNode(category); }
  std::vector<std::string> Paths(TItemCategory category) {
    std::vector<std::string> paths;
    for (int i = 0; i < store.List(category).Count(); ++i) paths.push_back(store.List(category).Path(i));
    return paths;
  }
  void Select(QTreeWidgetItem* node) { Window().TreeView->setCurrentItem(node); }
  bool RemoveEnabled() { return Window().acRemoveItemFromContainer->isEnabled(); }
  void Remove(QTreeWidgetItem* node) {
    Select(node);
    Window().acRemoveItemFromContainer->trigger();
  }
  void ShowAt(const QRect& bounds) {
    Window().show();
    Window().setGeometry(bounds);
    ProcessEvents();
  }

  TempDir dir;
  std::string ini = dir.File("driftpost.ini");
  std::string containerFile = dir.File("driftpost.container");
  TItemStore store{RegisteredExtensions()};
  std::unique_ptr<TContainer> window;
};

TEST_F(ContainerUnitTest, DropsFillTheTreeNewestCategoryFirstInTheSourcesOrder) {
  EXPECT_EQ(DropFiles(Window(), {"/home/me/cat.JPG"}), Qt::LinkAction);
  DropFiles(Window(), {"/home/me/song.wav"});
  EXPECT_EQ(ChildCaptions(Root()), (QStringList{"Sounds", "Pictures"}));

  DropFiles(Window(), {"/p/c.bmp", "/apps/tool.pkg", "/p/a.png", "/home/me/holiday"});
  EXPECT_EQ(ChildCaptions(Root()), (QStringList{"Other", "Packages", "Sounds", "Pictures"}));
  EXPECT_EQ(ChildCaptions(Category(TItemCategory::Pictures)),
            (QStringList{"/home/me/cat.JPG", "/p/c.bmp", "/p/a.png"}));
  EXPECT_EQ(Paths(TItemCategory::Pictures), (std::vector<std::string>{"/home/me/cat.JPG", "/p/c.bmp", "/p/a.png"}));
  EXPECT_EQ(Paths(TItemCategory::Others), std::vector<std::string>{"/home/me/holiday"});

  EXPECT_EQ(NodeImage(Root()), ImageListImage(iiBox));
  EXPECT_EQ(NodeImage(Category(TItemCategory::Sounds)), ImageListImage(iiBox));
  EXPECT_EQ(NodeImage(Category(TItemCategory::Pictures)->child(0)), ImageListImage(iiPicture));
  EXPECT_EQ(NodeImage(Category(TItemCategory::Sounds)->child(0)), ImageListImage(iiLoudspeaker));
  EXPECT_EQ(NodeImage(Category(TItemCategory::Packages)->child(0)), ImageListImage(iiPackage));
  EXPECT_EQ(NodeImage(Category(TItemCategory::Others)->child(0)), ImageListImage(iiPackage));
}

TEST_F(ContainerUnitTest, OnlyLocalFilesAreTakenAndOnlyAsLinks) {
  QMimeData mixed;
  mixed.setUrls({QUrl("http://example.com/x.jpg"), QUrl::fromLocalFile("/home/me/y.jpg"),
                 QUrl("mailto:me@example.com"), QUrl("file://elsewhere.example/z.jpg")});
  EXPECT_EQ(Drop(Window(), mixed), Qt::LinkAction);
  EXPECT_EQ(Paths(TItemCategory::Pictures), std::vector<std::string>{"/home/me/y.jpg"});

  QMimeData web;
  web.setUrls({QUrl("https://example.com/a.jpg")});
  QMimeData text;
  text.setText(QStringLiteral("/home/me/typed.jpg"));
  EXPECT_EQ(Drop(Window(), web), std::nullopt);
  EXPECT_EQ(Drop(Window(), text), std::nullopt);
  EXPECT_EQ(DropFiles(Window(), {"/a.jpg"}, Qt::CopyAction | Qt::MoveAction), std::nullopt);
  EXPECT_EQ(store.List(TItemCategory::Pictures).Count(), 1);

  // A name that is no UTF-8 keeps its bytes, and its node still removes it.
  QMimeData latin1;
  latin1.setData(QStringLiteral("text/uri-list"), QByteArray("file:///tmp/caf%E9.jpg\r\n"));
  EXPECT_EQ(Drop(Window(), latin1, Qt::CopyAction | Qt::LinkAction), Qt::LinkAction);
  EXPECT_EQ(Paths(TItemCategory::Pictures), (std::vector<std::string>{"/home/me/y.jpg", "/tmp/caf\xE9.jpg"}));
  Remove(Category(TItemCategory::Pictures)->child(1));
  EXPECT_EQ(Paths(TItemCategory::Pictures), std::vector<std::string>{"/home/me/y.jpg"});
}

TEST_F(ContainerUnitTest, RemoveWorksOnItemNodesOnlyAndLeavesTheCategory) {
  DropFiles(Window(), {"/p/a.jpg", "/p/A.JPG"});
  QTreeWidgetItem* pictures = Category(TItemCategory::Pictures);
  EXPECT_FALSE(RemoveEnabled());
  Select(Root());
  EXPECT_FALSE(RemoveEnabled());
  Select(pictures);
  EXPECT_FALSE(RemoveEnabled());
  Select(pictures->child(1));
  EXPECT_TRUE(RemoveEnabled());

  // Of two paths that differ only in letter case the node's own entry goes.
  Remove(pictures->child(1));
  EXPECT_EQ(Paths(TItemCategory::Pictures), std::vector<std::string>{"/p/a.jpg"});
  EXPECT_EQ(ChildCaptions(pictures), QStringList{"/p/a.jpg"});
  Remove(pictures->child(0));
  EXPECT_EQ(store.List(TItemCategory::Pictures).Count(), 0);
  EXPECT_EQ(ChildCaptions(Root()), QStringList{"Pictures"});
  EXPECT_FALSE(RemoveEnabled());
}

TEST_F(ContainerUnitTest, RightClickSelectsTheNodeUnderTheCursorForTheMenu) {
  QAction console(QStringLiteral("Console"));
  Window().AddConsoleAction(&console);
  Window().show();
  DropFiles(Window(), {"/p/a.jpg"});
  ProcessEvents();
  QWidget* viewport = Window().TreeView->viewport();
  for (QTreeWidgetItem* node : {Category(TItemCategory::Pictures)->child(0), Root()}) {
    const QPoint at = Window().TreeView->visualItemRect(node).center();
    QContextMenuEvent click(QContextMenuEvent::Mouse, at, viewport->mapToGlobal(at));
    QApplication::sendEvent(viewport, &click);
    EXPECT_EQ(Window().SelectedNode(), node);
    EXPECT_TRUE(Window().PopupMenu->isVisible());
    EXPECT_EQ(RemoveEnabled(), node != Root());
    Window().PopupMenu->close();
  }
  const QList<QAction*> actions = Window().PopupMenu->actions();
  ASSERT_EQ(actions.size(), 3);
  EXPECT_EQ(actions[0], Window().acRemoveItemFromContainer);
  EXPECT_TRUE(actions[1]->isSeparator());
  EXPECT_EQ(actions[2], &console);
}

TEST_F(ContainerUnitTest, EditedCaptionNamingNoEntryShowsTheListError) {
  DropFiles(Window(), {"/p/a.jpg"});
  QTreeWidgetItem* item = Category(TItemCategory::Pictures)->child(0);
  item->setText(0, QStringLiteral("my favourite"));
  ::testing::internal::CaptureStderr();
  Remove(item);
  const std::string errors = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(errors.find("Der Index der Liste \xC3\xBC" "berschreitet das Maximum (-1)"), std::string::npos) << errors;
  QMessageBox* box = ErrorBoxShowing(QStringLiteral("Der Index der Liste überschreitet das Maximum (-1)"));
  ASSERT_NE(box, nullptr);
  box->close();
  EXPECT_EQ(Paths(TItemCategory::Pictures), std::vector<std::string>{"/p/a.jpg"});
  EXPECT_EQ(Category(TItemCategory::Pictures)->childCount(), 1);

  // A caption changed only in its letter case still names its entry.
  item->setText(0, QStringLiteral("/P/A.JPG"));
  Remove(item);
  EXPECT_EQ(store.List(TItemCategory::Pictures).Count(), 0);
}

TEST_F(ContainerUnitTest, ShareListIsLoadedAtCreationAndSavedAtShutDown) {
  WriteFile(containerFile, "/p/x.bmp\r\n\r\n/s/y.wav\r\n");
  EXPECT_EQ(ChildCaptions(Root()), (QStringList{"Sounds", "Other", "Pictures"}));
  DropFiles(Window(), {"/k/app.pkg"});
  EXPECT_TRUE(Window().ShutDown());
  EXPECT_EQ(ReadFile(containerFile), "/p/x.bmp\r\n/k/app.pkg\r\n/s/y.wav\r\n\r\n");
  // Shut down, the window takes no more drops and makes no more nodes.
  EXPECT_EQ(DropFiles(Window(), {"/p/late.jpg"}), std::nullopt);
  store.AddItem("/p/later.jpg");
  EXPECT_EQ(Category(TItemCategory::Pictures)->childCount(), 1);
}

TEST_F(ContainerUnitTest, ADroppedPathWithALineBreakIsRefusedAndTheOthersAreTaken) {
  std::vector<std::string> logged;
  Window().OnLogLine = [&logged](const std::string& line) { logged.push_back(line); };
  ::testing::internal::CaptureStderr();
  DropFiles(Window(), {"/p/one.bmp", "/p/two\nlines.bmp", "/p/three.bmp"});
  const std::string boxed = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(Paths(TItemCategory::Pictures), (std::vector<std::string>{"/p/one.bmp", "/p/three.bmp"}));
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_EQ(logged[0], "Cannot share /p/two\\x0Alines.bmp: the share list cannot keep that name");
  EXPECT_NE(boxed.find(logged[0]), std::string::npos) << boxed;
  EXPECT_TRUE(Window().ShutDown());
  EXPECT_EQ(ReadFile(containerFile), "/p/one.bmp\r\n/p/three.bmp\r\n");
}

TEST_F(ContainerUnitTest, AShareListThatCouldNotBeReadIsReportedAndKept) {
  ASSERT_EQ(::mkfifo(containerFile.c_str(), 0600), 0);
  ::testing::internal::CaptureStderr();
  Window();
  EXPECT_NE(::testing::internal::GetCapturedStderr().find("could not be read"), std::string::npos);
  std::vector<std::string> logged;
  Window().OnLogLine = [&logged](const std::string& line) { logged.push_back(line); };
  DropFiles(Window(), {"/p/new.bmp"});
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(Window().ShutDown());
  ::testing::internal::GetCapturedStderr();
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_NE(logged[0].find("was not saved"), std::string::npos) << logged[0];
  struct stat info;
  ASSERT_EQ(::stat(containerFile.c_str(), &info), 0);
  EXPECT_TRUE(S_ISFIFO(info.st_mode));
}

TEST_F(ContainerUnitTest, ShareListThatCannotBeWrittenIsReportedAndThePlacementStillSaved) {
  containerFile = dir.File("missing-folder/driftpost.container");
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(Window().ShutDown());
  EXPECT_NE(::testing::internal::GetCapturedStderr().find("missing-folder"), std::string::npos);
  EXPECT_EQ(ReadFile(ini), "[Container]\r\nWS=0\r\nTop=109\r\nLeft=791\r\nHeight=291\r\nWidth=348\r\n");
}

TEST_F(ContainerUnitTest, HidingAndShowingKeepsPlaceAndSize) {
  Window().show();
  ProcessEvents();
  EXPECT_EQ(Window().geometry(), QRect(791, 109, 348, 291));
  ShowAt(QRect(100, 120, 400, 300));
  for (int i = 0; i < 5; ++i) {
    Window().hide();
    Window().show();
    ProcessEvents();
    EXPECT_EQ(Window().geometry(), QRect(100, 120, 400, 300)) << "after " << i + 1 << " hides";
  }
  EXPECT_EQ(ReadFile(ini), "[Container]\r\nWS=0\r\nTop=120\r\nLeft=100\r\nHeight=300\r\nWidth=400\r\n");
}

TEST_F(ContainerUnitTest, MaximizedWindowHiddenWritesStateTwoAndItsNormalBounds) {
  ShowAt(QRect(100, 120, 400, 300));
  Window().showMaximized();
  ProcessEvents();
  ASSERT_TRUE(Window().isMaximized());
  Window().hide();
  EXPECT_EQ(ReadFile(ini), "[Container]\r\nWS=2\r\nTop=120\r\nLeft=100\r\nHeight=300\r\nWidth=400\r\n");
  EXPECT_FALSE(Window().isMaximized());

  Window().show();
  ProcessEvents();
  EXPECT_TRUE(Window().isMaximized());
  EXPECT_EQ(Window().normalGeometry(), QRect(100, 120, 400, 300));
  // At exit the second save finds the window normal: the next run starts normal.
  EXPECT_TRUE(Window().ShutDown());
  EXPECT_EQ(ReadFile(ini), "[Container]\r\nWS=0\r\nTop=120\r\nLeft=100\r\nHeight=300\r\nWidth=400\r\n");
}

TEST_F(ContainerUnitTest, BoundsFromTheSettingsAreClampedToWhatQtHolds) {
  WriteFile(ini, "[Container]\nLeft=2147483647\nTop=-2147483648\nWidth=2147483647\nHeight=-5\nWS=9\n");
  Window().show();
  ProcessEvents();
  EXPECT_TRUE(Window().isVisible());
  EXPECT_FALSE(Window().isMaximized());
  EXPECT_LE(Window().geometry().width(), QWIDGETSIZE_MAX);
}

}  // namespace
}  // namespace driftpost
