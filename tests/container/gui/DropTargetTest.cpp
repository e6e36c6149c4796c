#include "container/gui/DropTarget.h"

#include <QDragEnterEvent>
#include <QMimeData>
#include <QUrl>
#include <gtest/gtest.h>

#include "QtApplication.h"

namespace driftpost {
namespace {

using testing::TestApplication;

constexpr Qt::DropActions All = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;

TEST(DropTargetTest, EffectFollowsTheSourceTheDragTypesAndTheKeys) {
  const TDragTypes any = dtCopy | dtMove | dtLink;
  EXPECT_EQ(DropEffect(All, any, Qt::NoModifier), Qt::CopyAction);
  EXPECT_EQ(DropEffect(All, any, Qt::ShiftModifier), Qt::MoveAction);
  EXPECT_EQ(DropEffect(All, any, Qt::ShiftModifier | Qt::ControlModifier), Qt::LinkAction);
  EXPECT_EQ(DropEffect(All, any, Qt::ControlModifier), Qt::CopyAction);
  EXPECT_EQ(DropEffect(Qt::MoveAction | Qt::LinkAction, any, Qt::NoModifier), Qt::MoveAction);
  EXPECT_EQ(DropEffect(Qt::LinkAction, any, Qt::ShiftModifier), Qt::LinkAction);
  // Shift and Ctrl without a link to be had fall back to the usual order.
  EXPECT_EQ(DropEffect(Qt::CopyAction | Qt::MoveAction, any, Qt::ShiftModifier | Qt::ControlModifier),
            Qt::CopyAction);
  EXPECT_EQ(DropEffect(Qt::IgnoreAction, any, Qt::NoModifier), Qt::IgnoreAction);
}

TEST(DropTargetTest, LinkOnlyTargetLinksWheneverTheSourceAllowsItAndRefusesOtherwise) {
  for (Qt::KeyboardModifiers keys : {Qt::KeyboardModifiers(Qt::NoModifier), Qt::KeyboardModifiers(Qt::ShiftModifier),
                                     Qt::KeyboardModifiers(Qt::ControlModifier),
                                     Qt::ShiftModifier | Qt::ControlModifier}) {
    EXPECT_EQ(DropEffect(All, dtLink, keys), Qt::LinkAction);
    EXPECT_EQ(DropEffect(Qt::LinkAction, dtLink, keys), Qt::LinkAction);
    EXPECT_EQ(DropEffect(Qt::CopyAction | Qt::MoveAction, dtLink, keys), Qt::IgnoreAction);
  }
}

TEST(DropTargetTest, RegisteringMovesTheTargetAndUnregisteringLetsGo) {
  TestApplication();
  QWidget first;
  QWidget second;
  TDropFileTarget target;
  target.Dragtypes = dtLink;
  int drops = 0;
  target.OnDrop = [&drops](Qt::KeyboardModifiers, const QPoint&, Qt::DropAction&) { ++drops; };

  target.Register(&first);
  EXPECT_TRUE(first.acceptDrops());
  target.Register(&second);
  EXPECT_EQ(target.Target(), &second);
  EXPECT_FALSE(first.acceptDrops());
  EXPECT_TRUE(second.acceptDrops());

  QMimeData data;
  data.setUrls({QUrl::fromLocalFile("/tmp/a.jpg")});
  QDragEnterEvent onFirst(QPoint(1, 1), All, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&first, &onFirst);
  EXPECT_FALSE(onFirst.isAccepted());

  // A drop without an accepted drag before it is refused.
  QDropEvent early(QPointF(1, 1), All, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&second, &early);
  EXPECT_FALSE(early.isAccepted());
  EXPECT_EQ(drops, 0);

  QDragEnterEvent enter(QPoint(1, 1), All, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&second, &enter);
  EXPECT_TRUE(enter.isAccepted());
  QDragLeaveEvent leave;
  QApplication::sendEvent(&second, &leave);
  QDropEvent afterLeave(QPointF(1, 1), All, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&second, &afterLeave);
  EXPECT_FALSE(afterLeave.isAccepted());

  QApplication::sendEvent(&second, &enter);
  QDropEvent drop(QPointF(2, 3), All, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&second, &drop);
  EXPECT_TRUE(drop.isAccepted());
  EXPECT_EQ(drop.dropAction(), Qt::LinkAction);
  EXPECT_EQ(drops, 1);
  EXPECT_EQ(target.Files, std::vector<std::string>{"/tmp/a.jpg"});

  target.Unregister();
  EXPECT_EQ(target.Target(), nullptr);
  EXPECT_FALSE(second.acceptDrops());
}

TEST(DropTargetTest, HandlerMayRefuseTheDrop) {
  TestApplication();
  QWidget window;
  TDropFileTarget target;
  target.Dragtypes = dtCopy;
  target.Register(&window);
  target.OnDrop = [](Qt::KeyboardModifiers, const QPoint&, Qt::DropAction& effect) { effect = Qt::IgnoreAction; };
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile("/tmp/a.jpg")});
  QDragEnterEvent enter(QPoint(1, 1), All, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&window, &enter);
  ASSERT_TRUE(enter.isAccepted());
  EXPECT_EQ(enter.dropAction(), Qt::CopyAction);
  QDropEvent drop(QPointF(1, 1), All, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&window, &drop);
  EXPECT_FALSE(drop.isAccepted());
}

TEST(DropTargetTest, DestroyedWindowIsForgotten) {
  TestApplication();
  TDropFileTarget target;
  {
    QWidget window;
    target.Register(&window);
  }
  EXPECT_EQ(target.Target(), nullptr);
  target.Unregister();
}

}  // namespace
}  // namespace driftpost
