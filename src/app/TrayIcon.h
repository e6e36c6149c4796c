// The program's icon in the desktop's notification area (the tray): an icon with a hint, the
// program's pop-up menu on a right click, and click and double-click events. It wraps
// QSystemTrayIcon; where the desktop has no tray the icon is simply absent and everything
// else goes on working.
//
// The component owns its QSystemTrayIcon and its icon; the image list and the pop-up menu
// are only used (the menu is forgotten when it is destroyed). Destroying it hides the icon.
#pragma once

#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>

#include <functional>
#include <memory>
#include <string>

namespace driftpost {

class TImageList;

class TTrayIcon : public QObject {
  Q_OBJECT

 public:
  // Desktops show at most this many characters of a tray icon's hint.
  static constexpr int MaxHintLength = 63;

  explicit TTrayIcon(QObject* owner = nullptr);
  ~TTrayIcon() override;

  const QIcon& Icon() const { return icon_; }
  void SetIcon(const QIcon& icon);
  // With an image list set, the icon is its image at ImageIndex.
  const TImageList* ImageList() const { return imageList_; }
  void SetImageList(const TImageList* imageList);
  int ImageIndex() const { return imageIndex_; }
  void SetImageIndex(int index);

  // A longer hint is cut to its first MaxHintLength characters (UTF-8 sequences kept whole).
  const std::string& Hint() const { return hint_; }
  void SetHint(const std::string& hint);

  QMenu* PopupMenu() const { return popupMenu_; }
  void SetPopupMenu(QMenu* menu);

  bool Visible() const { return visible_; }
  void SetVisible(bool visible);
  // While false, clicks on the icon are ignored.
  bool Enabled = true;

  void Show();
  void Hide();
  // Hands the current icon and hint to the tray.
  void UpDate();

  // Whether the desktop shows tray icons at all.
  static bool TrayAvailable();
  // The platform's icon, which reports the user's clicks.
  QSystemTrayIcon& SystemTrayIcon() { return *tray_; }

  std::function<void()> OnClick;
  std::function<void()> OnDblClick;
  std::function<void()> OnShow;
  std::function<void()> OnHide;
  std::function<void()> OnPopupMenu;

 private:
  void Activated(QSystemTrayIcon::ActivationReason reason);
  void TakeIconFromImageList();

  std::unique_ptr<QSystemTrayIcon> tray_;
  QIcon icon_;
  const TImageList* imageList_ = nullptr;
  int imageIndex_ = 0;
  std::string hint_;
  QPointer<QMenu> popupMenu_;
  bool visible_ = false;
};

}  // namespace driftpost
