#include "container/gui/DropTarget.h"

#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QEvent>
#include <QMimeData>

#include "container/gui/UriList.h"

namespace driftpost {

namespace {

const QString UriListFormat = QStringLiteral("text/uri-list");

std::vector<std::string> LocalFilesOf(const QMimeData& data) {
  const QByteArray list = data.data(UriListFormat);
  return LocalFilesOfUriList(std::string(list.constData(), static_cast<std::size_t>(list.size())));
}

}  // namespace

Qt::DropAction DropEffect(Qt::DropActions allowed, TDragTypes dragTypes, Qt::KeyboardModifiers keys) {
  const Qt::DropActions effects = allowed & dragTypes;
  const bool shift = keys.testFlag(Qt::ShiftModifier);
  const bool control = keys.testFlag(Qt::ControlModifier);
  if (shift && control && effects.testFlag(Qt::LinkAction)) return Qt::LinkAction;
  if (shift && !control && effects.testFlag(Qt::MoveAction)) return Qt::MoveAction;
  if (effects.testFlag(Qt::CopyAction)) return Qt::CopyAction;
  if (effects.testFlag(Qt::MoveAction)) return Qt::MoveAction;
  if (effects.testFlag(Qt::LinkAction)) return Qt::LinkAction;
  return Qt::IgnoreAction;
}

TDropTarget::TDropTarget(QObject* owner) : QObject(owner) {}

TDropTarget::~TDropTarget() { Unregister(); }

void TDropTarget::Register(QWidget* window) {
  if (window == target_) return;
  Unregister();
  if (!window) return;
  target_ = window;
  window->setAcceptDrops(true);
  window->installEventFilter(this);
}

void TDropTarget::Unregister() {
  if (!target_) return;
  target_->removeEventFilter(this);
  target_->setAcceptDrops(false);
  target_ = nullptr;
  dragging_ = false;
}

bool TDropTarget::eventFilter(QObject* watched, QEvent* event) {
  if (watched != target_) return false;
  switch (event->type()) {
    case QEvent::DragEnter: DragEnter(*static_cast<QDragEnterEvent*>(event)); return true;
    case QEvent::DragMove: DragOver(*static_cast<QDragMoveEvent*>(event)); return true;
    case QEvent::DragLeave: DragLeave(); return true;
    case QEvent::Drop: Drop(*static_cast<QDropEvent*>(event)); return true;
    default: return false;
  }
}

Qt::DropAction TDropTarget::Answer(QDropEvent& event) const {
  const Qt::DropAction effect = DropEffect(event.possibleActions(), Dragtypes, event.modifiers());
  if (effect == Qt::IgnoreAction) {
    event.ignore();
  } else {
    event.setDropAction(effect);
    event.accept();
  }
  return effect;
}

void TDropTarget::DragEnter(QDropEvent& event) {
  point_ = event.position().toPoint();
  dragging_ = event.mimeData() && HasData(*event.mimeData());
  if (!dragging_) {
    event.ignore();
    return;
  }
  Answer(event);
}

void TDropTarget::DragOver(QDropEvent& event) {
  point_ = event.position().toPoint();
  if (!dragging_) {
    event.ignore();
    return;
  }
  Answer(event);
}

void TDropTarget::DragLeave() { dragging_ = false; }

void TDropTarget::Drop(QDropEvent& event) {
  // Only a drag that was taken when it entered the window may drop.
  const QMimeData* data = event.mimeData();
  const bool entered = dragging_;
  dragging_ = false;
  point_ = event.position().toPoint();
  if (!entered || !data) {
    event.ignore();
    return;
  }
  Qt::DropAction effect = Answer(event);
  if (effect == Qt::IgnoreAction) return;
  if (!ReadData(*data)) {
    event.ignore();
    return;
  }
  DoDrop(event.modifiers(), point_, effect);
  if (effect == Qt::IgnoreAction) {
    event.ignore();
  } else {
    event.setDropAction(effect);
    event.accept();
  }
}

bool TDropFileTarget::HasData(const QMimeData& data) const {
  return data.hasFormat(UriListFormat) && !LocalFilesOf(data).empty();
}

bool TDropFileTarget::ReadData(const QMimeData& data) {
  Files.clear();
  if (data.hasFormat(UriListFormat)) Files = LocalFilesOf(data);
  return !Files.empty();
}

void TDropFileTarget::DoDrop(Qt::KeyboardModifiers keys, const QPoint& point, Qt::DropAction& effect) {
  if (OnDrop) OnDrop(keys, point, effect);
}

}  // namespace driftpost
