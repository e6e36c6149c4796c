#include "app/TrayIcon.h"

#include <gtest/gtest.h>

#include "QtApplication.h"

namespace driftpost {
namespace {

class TrayIconTest : public ::testing::Test {
 protected:
  QApplication& application = testing::TestApplication();
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
  EXPECT_EQ(tray.SystemTrayIcon().toolTip().size(), 63);
  // Bytes that are no UTF-8 count one each, and a sequence cut by the end is not read past.
  tray.SetHint(std::string(62, 'x') + "\xE2\x82");
  EXPECT_EQ(tray.Hint(), std::string(62, 'x') + "\xE2");
}

TEST_F(TrayIconTest, EventsFireWithoutATrayAndClicksOnlyWhileEnabled) {
  int shown = 0, hidden = 0, doubleClicks = 0, menus = 0;
  tray.OnShow = [&shown] { ++shown; };
  tray.OnHide = [&hidden] { ++hidden; };
  tray.OnDblClick = [&doubleClicks] { ++doubleClicks; };
  tray.OnPopupMenu = [&menus] { ++menus; };
  tray.SetVisible(true);
  tray.SetVisible(true);
  // The offscreen platform has no tray: the icon stays out of sight and nothing fails.
  EXPECT_EQ(tray.SystemTrayIcon().isVisible(), TTrayIcon::TrayAvailable());
  emit tray.SystemTrayIcon().activated(QSystemTrayIcon::DoubleClick);
  emit tray.SystemTrayIcon().activated(QSystemTrayIcon::Context);
  tray.Enabled = false;
  emit tray.SystemTrayIcon().activated(QSystemTrayIcon::DoubleClick);
  tray.SetVisible(false);
  EXPECT_EQ(shown, 1);
  EXPECT_EQ(hidden, 1);
  EXPECT_EQ(doubleClicks, 1);
  EXPECT_EQ(menus, 1);
}

}  // namespace
}  // namespace driftpost
