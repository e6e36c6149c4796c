#include "app/core/WindowPlacement.h"

#include <gtest/gtest.h>

#include "TempDir.h"
#include "platform/IniFile.h"

namespace driftpost {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

TEST(WindowPlacementTest, WithoutSettingsTheDesignBoundsStay) {
  TempDir dir;
  TWindowPlacement container{ContainerDesignBounds, TWindowState::wsNormal};
  RestoreWindowPlacement(container, "Container", dir.File("d.ini"));
  EXPECT_EQ(container.Bounds, (TWindowGeometry{791, 109, 348, 291}));
  EXPECT_EQ(container.State, TWindowState::wsNormal);
  TWindowPlacement console{ConsoleDesignBounds, TWindowState::wsNormal};
  RestoreWindowPlacement(console, "WebServer", dir.File("d.ini"));
  EXPECT_EQ(console.Bounds, (TWindowGeometry{354, 447, 357, 286}));
}

TEST(WindowPlacementTest, SavingAMaximizedWindowWritesStateTwoAndNormalBounds) {
  TempDir dir;
  TWindowPlacement window{{10, 20, 300, 200}, TWindowState::wsMaximized};
  SaveWindowPlacement(window, "Container", dir.File("d.ini"));
  EXPECT_EQ(window.State, TWindowState::wsNormal);
  EXPECT_EQ(ReadFile(dir.File("d.ini")), "[Container]\r\nWS=2\r\nTop=20\r\nLeft=10\r\nHeight=200\r\nWidth=300\r\n");

  TWindowPlacement shown{ContainerDesignBounds, TWindowState::wsNormal};
  RestoreWindowPlacement(shown, "Container", dir.File("d.ini"));
  EXPECT_EQ(shown.Bounds, (TWindowGeometry{10, 20, 300, 200}));
  EXPECT_EQ(shown.State, TWindowState::wsMaximized);

  // The second save at exit finds the window normal, so the next run starts normal.
  SaveWindowPlacement(window, "Container", dir.File("d.ini"));
  TIniFile ini(dir.File("d.ini"));
  EXPECT_EQ(ini.ReadInteger("Container", "WS", -1), 0);
}

TEST(WindowPlacementTest, RepeatedSaveAndRestoreDoesNotDrift) {
  TempDir dir;
  TWindowPlacement window{{-30, 5, 640, 480}, TWindowState::wsNormal};
  for (int i = 0; i < 5; ++i) {
    SaveWindowPlacement(window, "Container", dir.File("d.ini"));
    window = TWindowPlacement{ContainerDesignBounds, TWindowState::wsMinimized};
    RestoreWindowPlacement(window, "Container", dir.File("d.ini"));
  }
  EXPECT_EQ(window.Bounds, (TWindowGeometry{-30, 5, 640, 480}));
  EXPECT_EQ(window.State, TWindowState::wsNormal);
}

TEST(WindowPlacementTest, UnknownStateAndBadNumbersChangeNothing) {
  TempDir dir;
  WriteFile(dir.File("d.ini"), "[WebServer]\nWS=7\nWidth=abc\nHeight=100\n");
  TWindowPlacement window{ConsoleDesignBounds, TWindowState::wsMinimized};
  RestoreWindowPlacement(window, "WebServer", dir.File("d.ini"));
  EXPECT_EQ(window.State, TWindowState::wsMinimized);
  EXPECT_EQ(window.Bounds, (TWindowGeometry{354, 447, 357, 100}));
}

TEST(WindowPlacementTest, AWindowIsMovedOntoTheScreenAndShrunkOnlyWhenItCannotFit) {
  const TWindowGeometry screen{0, 0, 1024, 768};
  const TFrameMargins none;
  // The design bounds reach past a 1024 pixels wide screen: moved left, size kept.
  EXPECT_EQ(FitIntoArea(ContainerDesignBounds, none, screen), (TWindowGeometry{676, 109, 348, 291}));
  // With a frame of 4 pixels and a title bar of 24, the frame lies within the area too; a
  // panel of 30 pixels at the top is not part of the area.
  const TFrameMargins frame{4, 24, 4, 4};
  EXPECT_EQ(FitIntoArea({-50, 0, 300, 200}, frame, {0, 30, 1024, 738}), (TWindowGeometry{4, 54, 300, 200}));
  EXPECT_EQ(FitIntoArea({900, 700, 300, 200}, frame, {0, 30, 1024, 738}), (TWindowGeometry{720, 564, 300, 200}));
  // A window within the area stays where it is.
  EXPECT_EQ(FitIntoArea({100, 120, 400, 300}, frame, screen), (TWindowGeometry{100, 120, 400, 300}));
  // Too large: as large as the area allows, frame included.
  EXPECT_EQ(FitIntoArea({10, 10, 2000, 300}, frame, screen), (TWindowGeometry{4, 24, 1016, 300}));
  // A second screen to the right counts from its own left edge.
  EXPECT_EQ(FitIntoArea({100, 100, 348, 291}, none, {1024, 0, 1280, 1024}), (TWindowGeometry{1024, 100, 348, 291}));
  // Whatever the settings file held, the sums do not overflow.
  EXPECT_EQ(FitIntoArea({2147483647, -2147483647 - 1, 2147483647, -5}, frame, screen),
            (TWindowGeometry{4, 24, 1016, 0}));
}

}  // namespace
}  // namespace driftpost
