#include "container/gui/DropTarget.h"

#include <QDragEnterEvent>
#include <QMimeData>
#include <QUrl>
#include <gtest/gtest.h>

#include "QtApplication.h"

namespace driftpost {
namespace {

constexpr Qt::DropActions All = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;
constexpr Qt::KeyboardModifiers ShiftControl = Qt::ShiftModifier | Qt::ControlModifier;

TEST(DropTargetTest, EffectFollowsTheSourceTheDragTypesAndTheKeys) {
  const TDragTypes any = dtCopy | dtMove | dtLink;
  EXPECT_EQ(DropEffect(All, any, Qt::NoModifier), Qt::CopyAction);
  EXPECT_EQ(DropEffect(All, any, Qt::ShiftModifier), Qt::MoveAction);
  EXPECT_EQ(DropEffect(All, any, ShiftControl), Qt::LinkAction);
  EXPECT_EQ(DropEffect(All, any, Qt::ControlModifier), Qt::CopyAction);
  EXPECT_EQ(DropEffect(Qt::MoveAction | Qt::LinkAction, any, Qt::NoModifier), Qt::MoveAction);
  EXPECT_EQ(DropEffect(Qt::CopyAction | Qt::MoveAction, any, ShiftControl), Qt::CopyAction);
  EXPECT_EQ(DropEffect(Qt::IgnoreAction, any, Qt::NoModifier), Qt::IgnoreAction);
  // A link-only target links whenever the source allows it, whatever the keys, else refuses.
  for (Qt::KeyboardModifiers keys : {Qt::KeyboardModifiers(), Qt::KeyboardModifiers(Qt::ShiftModifier), ShiftControl}) {
    EXPECT_EQ(DropEffect(All, dtLink, keys), Qt::LinkAction);
    EXPECT_EQ(DropEffect(Qt::CopyAction | Qt::MoveAction, dtLink, keys), Qt::IgnoreAction);
  }
}

TEST(DropTargetTest, OnlyTheRegisteredWindowTakesDropsAndOnlyAfterAnEnter) {
  testing::TestApplication();
  QWidget first;
  QWidget second;
  TDropFileTarget target;
  target.Dragtypes = dtLink;
  int drops = 0;
  target.OnDrop = [&drops](Qt::KeyboardModifiers, const QPoint&, Qt::DropAction&) { ++drops; };
  target.Register(&first);
  target.Register(&second);
  EXPECT_FALSE(first.acceptDrops());

  QMimeData data;
  data.setUrls({QUrl::fromLocalFile("/tmp/a.jpg")});
  QDragEnterEvent enter(QPoint(1, 1), All, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&first, &enter);
  EXPECT_FALSE(enter.isAccepted());
  // A drop without a drag over the window before it, or after the drag left, is refused.
  QDropEvent early(QPointF(1, 1), All, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&second, &early);
  EXPECT_FALSE(early.isAccepted());
  QApplication::sendEvent(&second, &enter);
  EXPECT_TRUE(enter.isAccepted());
  QDragLeaveEvent leave;
  QApplication::sendEvent(&second, &leave);
  QDropEvent afterLeave(QPointF(1, 1), All, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&second, &afterLeave);
  EXPECT_FALSE(afterLeave.isAccepted());
  EXPECT_EQ(drops, 0);

  target.Unregister();
  EXPECT_FALSE(second.acceptDrops());
  {
    QWidget shortLived;
    target.Register(&shortLived);
  }
  EXPECT_EQ(target.Target(), nullptr);
}

}  // namespace
}  // namespace driftpost
