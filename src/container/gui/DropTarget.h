// Dropping onto a window. TDropTarget makes a window accept drags and decides the drop effect
// from what the drag's source allows, the component's Dragtypes and the keyboard; a
// TDropFileTarget accepts drags that carry files, collects their names into Files in the
// order the file manager lists them and fires OnDrop.
//
// The component only uses the window it is registered on: it watches the window's drag
// events and lets go of it on Unregister or when either of them is destroyed.
#pragma once

#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <string>
#include <vector>

class QDropEvent;
class QMimeData;

namespace driftpost {

// The effects a drop target allows: any combination of these.
using TDragTypes = Qt::DropActions;
constexpr Qt::DropAction dtCopy = Qt::CopyAction;
constexpr Qt::DropAction dtMove = Qt::MoveAction;
constexpr Qt::DropAction dtLink = Qt::LinkAction;

// The effect of a drop: of the effects the source allows, only those in `dragTypes` count.
// Shift and Ctrl together ask for a link, Shift alone for a move; otherwise copy comes first,
// then move, then link. Qt::IgnoreAction when none is left, which refuses the drop.
Qt::DropAction DropEffect(Qt::DropActions allowed, TDragTypes dragTypes, Qt::KeyboardModifiers keys);

class TDropTarget : public QObject {
  Q_OBJECT

 public:
  explicit TDropTarget(QObject* owner = nullptr);
  ~TDropTarget() override;

  // Makes `window` accept drops through this component, letting go of a previous window.
  void Register(QWidget* window);
  void Unregister();
  QWidget* Target() const { return target_; }

  TDragTypes Dragtypes = dtCopy;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

  // Whether the drag's data is of the kind this target takes.
  virtual bool HasData(const QMimeData& data) const = 0;
  // Reads the dropped data; false when it held nothing usable.
  virtual bool ReadData(const QMimeData& data) = 0;
  // The drop has been read and is accepted with `effect`, which the handler may change.
  virtual void DoDrop(Qt::KeyboardModifiers keys, const QPoint& point, Qt::DropAction& effect) = 0;

 private:
  void DragEnter(QDropEvent& event);
  void DragOver(QDropEvent& event);
  void DragLeave();
  void Drop(QDropEvent& event);
  // Accepts the event with the computed effect, or refuses it.
  Qt::DropAction Answer(QDropEvent& event) const;

  QPointer<QWidget> target_;
  // A drag whose data this target takes is over the window.
  bool dragging_ = false;
  QPoint point_;
};

class TDropFileTarget : public TDropTarget {
  Q_OBJECT

 public:
  using TDropTarget::TDropTarget;

  // The full paths of the last drop, in the order the source listed them.
  std::vector<std::string> Files;

  std::function<void(Qt::KeyboardModifiers keys, const QPoint& point, Qt::DropAction& effect)> OnDrop;

 protected:
  bool HasData(const QMimeData& data) const override;
  bool ReadData(const QMimeData& data) override;
  void DoDrop(Qt::KeyboardModifiers keys, const QPoint& point, Qt::DropAction& effect) override;
};

}  // namespace driftpost
