#include "app/core/Settings.h"

#include <gtest/gtest.h>

#include "TempDir.h"

namespace driftpost {
namespace {

using testing::TempDir;
using testing::WriteFile;

TEST(SettingsTest, FilesAreNamedAfterTheExecutable) {
  EXPECT_EQ(IniFileNameFor("/opt/driftpost/driftpost"), "/opt/driftpost/driftpost.ini");
  EXPECT_EQ(ContainerFileNameFor("/opt/driftpost/driftpost"), "/opt/driftpost/driftpost.container");
  EXPECT_EQ(IniFileNameFor("/home/me/drift.post/driftpost.bin"), "/home/me/drift.post/driftpost.ini");
  EXPECT_EQ(ContainerFileNameFor("/home/me/drift.post/driftpost"), "/home/me/drift.post/driftpost.container");
  EXPECT_EQ(DocumentFolderFor("/opt/driftpost/driftpost"), "/opt/driftpost/wwwroot");
}

TEST(SettingsTest, WithoutSettingsFileThePortIs80AndHeadersAreNotLogged) {
  TempDir dir;
  TServerSettings settings = ReadServerSettings(dir.File("driftpost.ini"));
  EXPECT_EQ(settings.Port, "80");
  EXPECT_FALSE(settings.DisplayHeader);
}

TEST(SettingsTest, RequestTimeoutIsInSecondsWithZeroForNoLimitAndSixtyByDefault) {
  TempDir dir;
  EXPECT_EQ(ReadServerSettings(dir.File("none.ini")).RequestTimeout, 60);
  for (auto [text, seconds] : {std::pair{"15", 15}, {"0", 0}, {"-5", 60}, {"soon", 60}, {"", 60}, {"$10", 16}}) {
    WriteFile(dir.File("d.ini"), std::string("[Data]\nRequestTimeout=") + text + "\n");
    EXPECT_EQ(ReadServerSettings(dir.File("d.ini")).RequestTimeout, seconds) << text;
  }
}

TEST(SettingsTest, HeaderSwitchLooksAtTheLowEightBitsOnly) {
  TempDir dir;
  for (auto [text, on] : {std::pair{"1", true}, {"256", false}, {"257", true}, {"0", false}, {"yes", false}}) {
    WriteFile(dir.File("d.ini"), std::string("[Data]\nPort=8080\nDisplayHeader=") + text + "\n");
    TServerSettings settings = ReadServerSettings(dir.File("d.ini"));
    EXPECT_EQ(settings.DisplayHeader, on) << text;
    EXPECT_EQ(settings.Port, "8080");
  }
}

}  // namespace
}  // namespace driftpost
