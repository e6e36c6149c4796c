#include "app/TrayIcon.h"

#include <QMenu>
#include <gtest/gtest.h>

#include "QtApplication.h"
#include "container/ImageList.h"
#include "container/gui/ImageListIcons.h"

namespace driftpost {
namespace {

using testing::TestApplication;

class TrayIconTest : public ::testing::Test {
 protected:
  QApplication& application = TestApplication();
  TTrayIcon tray;
};

TEST_F(TrayIconTest, HintIsCutTo63Characters) {
  const std::string seventy(70, 'h');
  tray.SetHint(seventy);
  EXPECT_EQ(tray.Hint(), seventy.substr(0, 63));
  EXPECT_EQ(tray.SystemTrayIcon().toolTip(), QString::fromStdString(seventy.substr(0, 63)));

  // Characters, not bytes: "ä" is two bytes in UTF-8 and is never cut in half.
  std::string umlauts;
  for (int i = 0; i < 70; ++i) umlauts += "\xC3\xA4";
  tray.SetHint(umlauts);
  EXPECT_EQ(tray.Hint(), umlauts.substr(0, 126));
  EXPECT_EQ(tray.SystemTrayIcon().toolTip().size(), 63);

  // Bytes that are no UTF-8 count one each, and a sequence cut by the end is not read past.
  tray.SetHint(std::string(62, 'x') + "\xE2\x82");
  EXPECT_EQ(tray.Hint(), std::string(62, 'x') + "\xE2");
  tray.SetHint("short");
  EXPECT_EQ(tray.Hint(), "short");
}

TEST_F(TrayIconTest, IconComesFromTheImageList) {
  tray.SetImageIndex(iiBox);
  EXPECT_TRUE(tray.Icon().isNull());
  tray.SetImageList(&TImageList::Instance());
  EXPECT_EQ(tray.Icon().pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32), ImageListImage(iiBox));
  tray.SetImageIndex(iiPackage);
  EXPECT_EQ(tray.Icon().pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32), ImageListImage(iiPackage));
}

TEST_F(TrayIconTest, ShowingAndHidingFireTheirEventsEvenWithoutATray) {
  int shown = 0;
  int hidden = 0;
  tray.OnShow = [&shown] { ++shown; };
  tray.OnHide = [&hidden] { ++hidden; };
  tray.SetVisible(true);
  tray.SetVisible(true);
  EXPECT_TRUE(tray.Visible());
  // The offscreen platform has no tray: the icon stays out of sight and nothing fails.
  EXPECT_EQ(tray.SystemTrayIcon().isVisible(), TTrayIcon::TrayAvailable());
  tray.SetVisible(false);
  EXPECT_EQ(shown, 1);
  EXPECT_EQ(hidden, 1);
}

TEST_F(TrayIconTest, ClicksFireTheirEventsOnlyWhileEnabled) {
  int clicks = 0;
  int doubleClicks = 0;
  int menus = 0;
  tray.OnClick = [&clicks] { ++clicks; };
  tray.OnDblClick = [&doubleClicks] { ++doubleClicks; };
  tray.OnPopupMenu = [&menus] { ++menus; };
  emit tray.SystemTrayIcon().activated(QSystemTrayIcon::Trigger);
  emit tray.SystemTrayIcon().activated(QSystemTrayIcon::DoubleClick);
  emit tray.SystemTrayIcon().activated(QSystemTrayIcon::Context);
  tray.Enabled = false;
  emit tray.SystemTrayIcon().activated(QSystemTrayIcon::DoubleClick);
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(doubleClicks, 1);
  EXPECT_EQ(menus, 1);
}

TEST_F(TrayIconTest, DestroyedMenuIsForgotten) {
  auto* menu = new QMenu;
  tray.SetPopupMenu(menu);
  EXPECT_EQ(tray.PopupMenu(), menu);
  EXPECT_EQ(tray.SystemTrayIcon().contextMenu(), menu);
  delete menu;
  EXPECT_EQ(tray.PopupMenu(), nullptr);
}

}  // namespace
}  // namespace driftpost
