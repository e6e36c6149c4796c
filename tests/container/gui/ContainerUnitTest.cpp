#include "container/gui/ContainerUnit.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QTreeWidget>
#include <QUrl>
#include <gtest/gtest.h>

#include <memory>

#include "QtApplication.h"
#include "TempDir.h"
#include "container/ImageList.h"
#include "container/gui/DropTarget.h"
#include "container/gui/ImageListIcons.h"
#include "picture/RegisteredFormats.h"
#include "platform/IniFile.h"

namespace driftpost {
namespace {

using testing::ProcessEvents;
using testing::ReadFile;
using testing::TempDir;
using testing::TestApplication;
using testing::WriteFile;

constexpr Qt::DropActions AnyEffect = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;

struct DropOutcome {
  bool Entered = false;
  bool Dropped = false;
  Qt::DropAction Effect = Qt::IgnoreAction;
};

// Drags `data` over the window and drops it, as a file manager would.
DropOutcome Drop(QWidget& window, const QMimeData& data, Qt::DropActions allowed = AnyEffect,
                 Qt::KeyboardModifiers keys = Qt::NoModifier) {
  const QPoint at(60, 90);
  DropOutcome outcome;
  QDragEnterEvent enter(at, allowed, &data, Qt::LeftButton, keys);
  QApplication::sendEvent(&window, &enter);
  outcome.Entered = enter.isAccepted();
  if (!outcome.Entered) return outcome;
  QDragMoveEvent move(at, allowed, &data, Qt::LeftButton, keys);
  QApplication::sendEvent(&window, &move);
  QDropEvent drop(QPointF(at), allowed, &data, Qt::LeftButton, keys);
  QApplication::sendEvent(&window, &drop);
  outcome.Dropped = drop.isAccepted();
  outcome.Effect = drop.dropAction();
  return outcome;
}

DropOutcome DropUrls(QWidget& window, const QList<QUrl>& urls, Qt::DropActions allowed = AnyEffect) {
  QMimeData data;
  data.setUrls(urls);
  return Drop(window, data, allowed);
}

QList<QUrl> Files(std::initializer_list<const char*> paths) {
  QList<QUrl> urls;
  for (const char* path : paths) urls << QUrl::fromLocalFile(QString::fromUtf8(path));
  return urls;
}

QStringList ChildCaptions(const QTreeWidgetItem* node) {
  QStringList captions;
  for (int i = 0; i < node->childCount(); ++i) captions << node->child(i)->text(0);
  return captions;
}

QImage NodeImage(const QTreeWidgetItem* node) {
  return node->icon(0).pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32);
}

std::vector<std::string> Paths(const TItemList& list) {
  std::vector<std::string> paths;
  for (int i = 0; i < list.Count(); ++i) paths.push_back(list.Path(i));
  return paths;
}

QMessageBox* ErrorBoxShowing(const QString& text) {
  for (QWidget* window : QApplication::topLevelWidgets()) {
    auto* box = qobject_cast<QMessageBox*>(window);
    if (box && box->isVisible() && box->text().contains(text)) return box;
  }
  return nullptr;
}

class ContainerUnitTest : public ::testing::Test {
 protected:
  ContainerUnitTest() { TestApplication(); }

  TContainer& Window() {
    if (!window) window = std::make_unique<TContainer>(store, ini, containerFile);
    return *window;
  }
  QTreeWidgetItem* Root() { return Window().RootNode(); }
  void Select(QTreeWidgetItem* node) { Window().TreeView->setCurrentItem(node); }
  bool RemoveEnabled() { return Window().acRemoveItemFromContainer->isEnabled(); }
  QRect Bounds() { return Window().geometry(); }

  TempDir dir;
  std::string ini = dir.File("driftpost.ini");
  std::string containerFile = dir.File("driftpost.container");
  TItemStore store{RegisteredExtensions()};
  std::unique_ptr<TContainer> window;
};

TEST_F(ContainerUnitTest, ShowsTheStripAndTheRootAtTheDesignBounds) {
  TContainer& container = Window();
  EXPECT_EQ(container.windowTitle(), "Driftpost - Container");
  EXPECT_EQ(container.objectName(), "Container");
  EXPECT_TRUE(container.windowFlags().testFlag(Qt::Tool));
  EXPECT_EQ(container.SharedLabel->text(), "The following files are shared right now:");
  EXPECT_EQ(container.TreeView->indentation(), 19);
  EXPECT_EQ(container.TreeView->topLevelItemCount(), 1);
  EXPECT_EQ(Root()->text(0), "Shared Items");
  EXPECT_EQ(NodeImage(Root()), ImageListImage(iiBox));
  EXPECT_TRUE(Root()->flags().testFlag(Qt::ItemIsEditable));
  EXPECT_FALSE(container.isVisible());

  container.show();
  ProcessEvents();
  EXPECT_EQ(Bounds(), QRect(791, 109, 348, 291));
  EXPECT_FALSE(container.isMaximized());
}

TEST_F(ContainerUnitTest, NewerCategoriesGoFirstAndItemsCarryTheirImages) {
  ASSERT_TRUE(DropUrls(Window(), Files({"/home/me/cat.JPG"})).Dropped);
  ASSERT_TRUE(DropUrls(Window(), Files({"/home/me/song.wav"})).Dropped);
  EXPECT_EQ(ChildCaptions(Root()), (QStringList{"Sounds", "Pictures"}));
  EXPECT_EQ(ChildCaptions(Window().CategoryNode(TItemCategory::Pictures)), QStringList{"/home/me/cat.JPG"});
  EXPECT_EQ(ChildCaptions(Window().CategoryNode(TItemCategory::Sounds)), QStringList{"/home/me/song.wav"});
  EXPECT_EQ(NodeImage(Window().CategoryNode(TItemCategory::Sounds)), ImageListImage(iiBox));
  EXPECT_EQ(NodeImage(Window().CategoryNode(TItemCategory::Pictures)->child(0)), ImageListImage(iiPicture));
  EXPECT_EQ(NodeImage(Window().CategoryNode(TItemCategory::Sounds)->child(0)), ImageListImage(iiLoudspeaker));

  ASSERT_TRUE(DropUrls(Window(), Files({"/apps/tool.pkg", "/docs/readme"})).Dropped);
  EXPECT_EQ(ChildCaptions(Root()), (QStringList{"Other", "Packages", "Sounds", "Pictures"}));
  EXPECT_EQ(NodeImage(Window().CategoryNode(TItemCategory::Packages)->child(0)), ImageListImage(iiPackage));
  EXPECT_EQ(NodeImage(Window().CategoryNode(TItemCategory::Others)->child(0)), ImageListImage(iiPackage));
}

TEST_F(ContainerUnitTest, FilesOfOneDropKeepTheirOrder) {
  const DropOutcome outcome = DropUrls(Window(), Files({"/p/c.bmp", "/p/a.png", "/p/b.tif"}));
  EXPECT_TRUE(outcome.Dropped);
  EXPECT_EQ(outcome.Effect, Qt::LinkAction);
  EXPECT_EQ(Paths(store.List(TItemCategory::Pictures)), (std::vector<std::string>{"/p/c.bmp", "/p/a.png", "/p/b.tif"}));
  EXPECT_EQ(ChildCaptions(Window().CategoryNode(TItemCategory::Pictures)),
            (QStringList{"/p/c.bmp", "/p/a.png", "/p/b.tif"}));
  // Folders are shared by their path as well, and the same file twice is two entries.
  ASSERT_TRUE(DropUrls(Window(), Files({"/home/me/holiday", "/p/c.bmp"})).Dropped);
  EXPECT_EQ(Paths(store.List(TItemCategory::Others)), std::vector<std::string>{"/home/me/holiday"});
  EXPECT_EQ(store.List(TItemCategory::Pictures).Count(), 4);
}

TEST_F(ContainerUnitTest, UrlsThatAreNoLocalFilesAreIgnored) {
  QList<QUrl> mixed{QUrl("http://example.com/x.jpg"), QUrl::fromLocalFile("/home/me/y.jpg"),
                    QUrl("mailto:me@example.com"), QUrl("file://elsewhere.example/z.jpg")};
  EXPECT_TRUE(DropUrls(Window(), mixed).Dropped);
  EXPECT_EQ(Paths(store.List(TItemCategory::Pictures)), std::vector<std::string>{"/home/me/y.jpg"});

  const DropOutcome web = DropUrls(Window(), {QUrl("https://example.com/a.jpg")});
  EXPECT_FALSE(web.Entered);
  QMimeData text;
  text.setText(QStringLiteral("/home/me/typed.jpg"));
  EXPECT_FALSE(Drop(Window(), text).Entered);
  EXPECT_EQ(store.List(TItemCategory::Pictures).Count(), 1);
  EXPECT_EQ(ChildCaptions(Root()), QStringList{"Pictures"});
}

TEST_F(ContainerUnitTest, DropIsTakenAsALinkOnlyWhereTheSourceAllowsOne) {
  EXPECT_FALSE(DropUrls(Window(), Files({"/a.jpg"}), Qt::CopyAction | Qt::MoveAction).Entered);
  EXPECT_EQ(store.List(TItemCategory::Pictures).Count(), 0);
  const DropOutcome linked = DropUrls(Window(), Files({"/a.jpg"}), Qt::CopyAction | Qt::LinkAction);
  EXPECT_TRUE(linked.Dropped);
  EXPECT_EQ(linked.Effect, Qt::LinkAction);
  EXPECT_EQ(store.List(TItemCategory::Pictures).Count(), 1);
}

TEST_F(ContainerUnitTest, FileNamesThatAreNoUtf8KeepTheirBytes) {
  QMimeData data;
  data.setData(QStringLiteral("text/uri-list"), QByteArray("file:///tmp/caf%E9.jpg\r\n"));
  ASSERT_TRUE(Drop(Window(), data).Dropped);
  EXPECT_EQ(Paths(store.List(TItemCategory::Pictures)), std::vector<std::string>{"/tmp/caf\xE9.jpg"});
  Select(Window().CategoryNode(TItemCategory::Pictures)->child(0));
  Window().acRemoveItemFromContainer->trigger();
  EXPECT_EQ(store.List(TItemCategory::Pictures).Count(), 0);
}

TEST_F(ContainerUnitTest, RemoveIsEnabledExactlyOnItemNodes) {
  DropUrls(Window(), Files({"/p/a.jpg", "/p/b.jpg"}));
  QTreeWidgetItem* pictures = Window().CategoryNode(TItemCategory::Pictures);
  EXPECT_EQ(Window().SelectedNode(), nullptr);
  EXPECT_FALSE(RemoveEnabled());
  Select(Root());
  EXPECT_FALSE(RemoveEnabled());
  Select(pictures);
  EXPECT_FALSE(RemoveEnabled());
  Select(pictures->child(0));
  EXPECT_TRUE(RemoveEnabled());

  Window().acRemoveItemFromContainer->trigger();
  EXPECT_EQ(Paths(store.List(TItemCategory::Pictures)), std::vector<std::string>{"/p/b.jpg"});
  EXPECT_EQ(ChildCaptions(pictures), QStringList{"/p/b.jpg"});
  Select(pictures->child(0));
  Window().acRemoveItemFromContainer->trigger();
  // The category stays, empty.
  EXPECT_EQ(store.List(TItemCategory::Pictures).Count(), 0);
  EXPECT_EQ(ChildCaptions(Root()), QStringList{"Pictures"});
  EXPECT_EQ(pictures->childCount(), 0);
  EXPECT_FALSE(RemoveEnabled());
}

TEST_F(ContainerUnitTest, RightClickSelectsTheNodeUnderTheCursorAndOpensTheMenu) {
  QAction console(QStringLiteral("Console"));
  Window().AddConsoleAction(&console);
  Window().show();
  DropUrls(Window(), Files({"/p/a.jpg"}));
  ProcessEvents();
  QTreeWidgetItem* item = Window().CategoryNode(TItemCategory::Pictures)->child(0);
  QWidget* viewport = Window().TreeView->viewport();

  const QPoint onItem = Window().TreeView->visualItemRect(item).center();
  QContextMenuEvent onItemClick(QContextMenuEvent::Mouse, onItem, viewport->mapToGlobal(onItem));
  QApplication::sendEvent(viewport, &onItemClick);
  EXPECT_EQ(Window().SelectedNode(), item);
  EXPECT_TRUE(Window().PopupMenu->isVisible());
  EXPECT_TRUE(RemoveEnabled());
  Window().PopupMenu->close();

  const QPoint onRoot = Window().TreeView->visualItemRect(Root()).center();
  QContextMenuEvent onRootClick(QContextMenuEvent::Mouse, onRoot, viewport->mapToGlobal(onRoot));
  QApplication::sendEvent(viewport, &onRootClick);
  EXPECT_EQ(Window().SelectedNode(), Root());
  EXPECT_FALSE(RemoveEnabled());
  Window().PopupMenu->close();

  const QList<QAction*> actions = Window().PopupMenu->actions();
  ASSERT_EQ(actions.size(), 3);
  EXPECT_EQ(actions[0]->text(), "Remove item from container");
  EXPECT_EQ(actions[0]->toolTip(), "Remove item from container");
  EXPECT_EQ(actions[0]->icon().pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32),
            ImageListImage(iiRemove));
  EXPECT_TRUE(actions[1]->isSeparator());
  EXPECT_EQ(actions[2], &console);
}

TEST_F(ContainerUnitTest, EditedCaptionIsOnlyACaptionAndCannotBeRemoved) {
  DropUrls(Window(), Files({"/p/a.jpg"}));
  QTreeWidgetItem* item = Window().CategoryNode(TItemCategory::Pictures)->child(0);
  item->setText(0, QStringLiteral("my favourite"));
  EXPECT_EQ(Paths(store.List(TItemCategory::Pictures)), std::vector<std::string>{"/p/a.jpg"});

  Select(item);
  ::testing::internal::CaptureStderr();
  Window().acRemoveItemFromContainer->trigger();
  const std::string errors = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(errors.find("Der Index der Liste \xC3\xBC" "berschreitet das Maximum (-1)"), std::string::npos) << errors;
  QMessageBox* box = ErrorBoxShowing(QStringLiteral("Der Index der Liste überschreitet das Maximum (-1)"));
  ASSERT_NE(box, nullptr);
  box->close();
  EXPECT_EQ(store.List(TItemCategory::Pictures).Count(), 1);
  EXPECT_EQ(Window().CategoryNode(TItemCategory::Pictures)->childCount(), 1);

  // A caption edited only in its letter case still names its entry.
  item->setText(0, QStringLiteral("/P/A.JPG"));
  Window().acRemoveItemFromContainer->trigger();
  EXPECT_EQ(store.List(TItemCategory::Pictures).Count(), 0);
}

TEST_F(ContainerUnitTest, RemovingRemovesTheNodesOwnEntryWhenPathsDifferOnlyInCase) {
  DropUrls(Window(), Files({"/p/a.jpg", "/p/A.JPG"}));
  Select(Window().CategoryNode(TItemCategory::Pictures)->child(1));
  Window().acRemoveItemFromContainer->trigger();
  EXPECT_EQ(Paths(store.List(TItemCategory::Pictures)), std::vector<std::string>{"/p/a.jpg"});
  EXPECT_EQ(ChildCaptions(Window().CategoryNode(TItemCategory::Pictures)), QStringList{"/p/a.jpg"});
}

TEST_F(ContainerUnitTest, LoadsTheShareListAtCreationAndSavesItAtShutDown) {
  WriteFile(containerFile, "/p/x.bmp\r\n\r\n/s/y.wav\r\n");
  Window();
  EXPECT_EQ(ChildCaptions(Root()), (QStringList{"Sounds", "Other", "Pictures"}));
  EXPECT_EQ(ChildCaptions(Window().CategoryNode(TItemCategory::Others)), QStringList{""});
  DropUrls(Window(), Files({"/k/app.pkg"}));
  EXPECT_TRUE(Window().ShutDown());
  EXPECT_EQ(ReadFile(containerFile), "/p/x.bmp\r\n/k/app.pkg\r\n/s/y.wav\r\n\r\n");
  // After the shut-down the window no longer takes drops or entries.
  EXPECT_FALSE(DropUrls(Window(), Files({"/p/late.jpg"})).Entered);
  store.AddItem("/p/later.jpg");
  EXPECT_EQ(Window().CategoryNode(TItemCategory::Pictures)->childCount(), 1);
}

TEST_F(ContainerUnitTest, ShareListThatCannotBeWrittenIsReportedAtShutDown) {
  containerFile = dir.File("missing-folder/driftpost.container");
  Window();
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(Window().ShutDown());
  EXPECT_NE(::testing::internal::GetCapturedStderr().find("missing-folder"), std::string::npos);
  // The placement was saved all the same.
  EXPECT_EQ(TIniFile(ini).ReadInteger("Container", "WS", -1), 0);
}

TEST_F(ContainerUnitTest, ClosingHidesTheWindow) {
  Window().show();
  ProcessEvents();
  EXPECT_FALSE(Window().close());
  EXPECT_FALSE(Window().isVisible());
  EXPECT_EQ(TIniFile(ini).ReadInteger("Container", "Left", -1), 791);
}

TEST_F(ContainerUnitTest, HidingAndShowingKeepsPlaceAndSize) {
  Window().show();
  ProcessEvents();
  Window().setGeometry(100, 120, 400, 300);
  ProcessEvents();
  for (int i = 0; i < 5; ++i) {
    Window().hide();
    ProcessEvents();
    Window().show();
    ProcessEvents();
    EXPECT_EQ(Bounds(), QRect(100, 120, 400, 300)) << "after " << i + 1 << " hides";
  }
  TIniFile settings(ini);
  EXPECT_EQ(settings.ReadInteger("Container", "Left", -1), 100);
  EXPECT_EQ(settings.ReadInteger("Container", "Top", -1), 120);
  EXPECT_EQ(settings.ReadInteger("Container", "Width", -1), 400);
  EXPECT_EQ(settings.ReadInteger("Container", "Height", -1), 300);
}

TEST_F(ContainerUnitTest, MaximizedWindowHiddenWritesStateTwoAndItsNormalBounds) {
  Window().show();
  ProcessEvents();
  Window().setGeometry(100, 120, 400, 300);
  ProcessEvents();
  Window().showMaximized();
  ProcessEvents();
  ASSERT_TRUE(Window().isMaximized());

  Window().hide();
  ProcessEvents();
  TIniFile settings(ini);
  EXPECT_EQ(settings.ReadInteger("Container", "WS", -1), 2);
  EXPECT_EQ(settings.ReadInteger("Container", "Left", -1), 100);
  EXPECT_EQ(settings.ReadInteger("Container", "Top", -1), 120);
  EXPECT_EQ(settings.ReadInteger("Container", "Width", -1), 400);
  EXPECT_EQ(settings.ReadInteger("Container", "Height", -1), 300);
  EXPECT_FALSE(Window().isMaximized());

  Window().show();
  ProcessEvents();
  EXPECT_TRUE(Window().isMaximized());
  EXPECT_EQ(Window().normalGeometry(), QRect(100, 120, 400, 300));

  // At exit the second save finds the window normal: the next run starts normal.
  EXPECT_TRUE(Window().ShutDown());
  EXPECT_EQ(TIniFile(ini).ReadInteger("Container", "WS", -1), 0);
  EXPECT_EQ(TIniFile(ini).ReadInteger("Container", "Width", -1), 400);
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
