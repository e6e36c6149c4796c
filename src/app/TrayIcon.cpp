#include "app/TrayIcon.h"

#include <QMenu>

#include "container/ImageList.h"
#include "container/gui/ImageListIcons.h"

namespace driftpost {

namespace {

std::size_t SequenceLength(unsigned char lead) {
  if (lead >= 0xC0 && lead < 0xE0) return 2;
  if (lead >= 0xE0 && lead < 0xF0) return 3;
  if (lead >= 0xF0 && lead < 0xF8) return 4;
  return 1;
}

// The first `count` characters of UTF-8 text; a byte that starts no complete sequence counts
// as one character, so any bytes are cut without reading past the end.
std::string FirstCharacters(const std::string& text, int count) {
  std::size_t at = 0;
  for (int taken = 0; taken < count && at < text.size(); ++taken) {
    std::size_t length = SequenceLength(static_cast<unsigned char>(text[at]));
    if (length > text.size() - at) length = 1;
    for (std::size_t i = 1; i < length; ++i)
      if ((static_cast<unsigned char>(text[at + i]) & 0xC0) != 0x80) length = 1;
    at += length;
  }
  return text.substr(0, at);
}

}  // namespace

TTrayIcon::TTrayIcon(QObject* owner) : QObject(owner), tray_(std::make_unique<QSystemTrayIcon>()) {
  connect(tray_.get(), &QSystemTrayIcon::activated, this,
          [this](QSystemTrayIcon::ActivationReason reason) { Activated(reason); });
}

TTrayIcon::~TTrayIcon() {
  if (visible_) Hide();
}

bool TTrayIcon::TrayAvailable() { return QSystemTrayIcon::isSystemTrayAvailable(); }

void TTrayIcon::SetIcon(const QIcon& icon) {
  icon_ = icon;
  UpDate();
}

void TTrayIcon::SetImageList(const TImageList* imageList) {
  imageList_ = imageList;
  TakeIconFromImageList();
}

void TTrayIcon::SetImageIndex(int index) {
  imageIndex_ = index;
  TakeIconFromImageList();
}

void TTrayIcon::TakeIconFromImageList() {
  if (!imageList_) return;
  icon_ = ImageListIcon(imageIndex_, *imageList_);
  UpDate();
}

void TTrayIcon::SetHint(const std::string& hint) {
  hint_ = FirstCharacters(hint, MaxHintLength);
  UpDate();
}

void TTrayIcon::SetPopupMenu(QMenu* menu) {
  popupMenu_ = menu;
  tray_->setContextMenu(menu);
}

void TTrayIcon::SetVisible(bool visible) {
  if (visible == visible_) return;
  if (visible)
    Show();
  else
    Hide();
}

void TTrayIcon::Show() {
  visible_ = true;
  UpDate();
  // Without a tray Qt leaves the icon out; nothing else depends on it being seen.
  if (TrayAvailable()) tray_->show();
  if (OnShow) OnShow();
}

void TTrayIcon::Hide() {
  visible_ = false;
  tray_->hide();
  if (OnHide) OnHide();
}

void TTrayIcon::UpDate() {
  tray_->setIcon(icon_);
  tray_->setToolTip(QString::fromUtf8(hint_.data(), static_cast<qsizetype>(hint_.size())));
}

void TTrayIcon::Activated(QSystemTrayIcon::ActivationReason reason) {
  if (!Enabled) return;
  switch (reason) {
    case QSystemTrayIcon::Trigger:
      if (OnClick) OnClick();
      break;
    case QSystemTrayIcon::DoubleClick:
      if (OnDblClick) OnDblClick();
      break;
    case QSystemTrayIcon::Context:
      // Qt opens the pop-up menu itself at the cursor.
      if (OnPopupMenu) OnPopupMenu();
      break;
    default: break;
  }
}

}  // namespace driftpost
