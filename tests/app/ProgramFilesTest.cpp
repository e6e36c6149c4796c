#include "app/core/ProgramFiles.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <optional>
#include <sys/stat.h>

#include "TempDir.h"
#include "platform/Exception.h"

namespace driftpost {
namespace {

using testing::TempDir;
using testing::WriteFile;

// Sets the variables for one test and puts the old values back after it.
class ProgramFilesTest : public ::testing::Test {
 protected:
  void Set(const char* name, const char* value) {
    if (!saved_.contains(name)) {
      const char* old = std::getenv(name);
      saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
    }
    if (value)
      ::setenv(name, value, 1);
    else
      ::unsetenv(name);
  }
  void TearDown() override {
    for (const auto& [name, value] : saved_) Set(name.c_str(), value ? value->c_str() : nullptr);
  }

  TempDir dir;

 private:
  std::map<std::string, std::optional<std::string>> saved_;
};

TEST_F(ProgramFilesTest, ABuildTreeCopyKeepsItsFilesBesideTheExecutable) {
  Set("XDG_CONFIG_HOME", dir.File("config").c_str());
  const TProgramFiles files = ProgramFilesFor("/home/me/driftpost/build/driftpost", TFileLayout::BesideExecutable);
  EXPECT_EQ(files.IniFileName, "/home/me/driftpost/build/driftpost.ini");
  EXPECT_EQ(files.ContainerFileName, "/home/me/driftpost/build/driftpost.container");
  EXPECT_EQ(files.DocumentFolder, "/home/me/driftpost/build/wwwroot");
}

TEST_F(ProgramFilesTest, AnInstalledCopyUsesTheXdgFoldersAndMakesThemOnFirstUse) {
  Set("XDG_CONFIG_HOME", dir.File("config").c_str());
  Set("XDG_DATA_HOME", dir.File("data").c_str());
  const TProgramFiles files = ProgramFilesFor("/usr/bin/driftpost", TFileLayout::XdgFolders);
  EXPECT_EQ(files.IniFileName, dir.File("config/driftpost/driftpost.ini"));
  EXPECT_EQ(files.ContainerFileName, dir.File("config/driftpost/driftpost.container"));
  EXPECT_EQ(files.DocumentFolder, dir.File("data/driftpost/wwwroot"));

  CreateProgramFolders(files, TFileLayout::XdgFolders);
  struct stat info;
  ASSERT_EQ(::stat(dir.File("config/driftpost").c_str(), &info), 0);
  EXPECT_TRUE(S_ISDIR(info.st_mode));
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  ASSERT_EQ(::stat(files.DocumentFolder.c_str(), &info), 0);
  EXPECT_TRUE(S_ISDIR(info.st_mode));
  // A second start finds them there.
  EXPECT_NO_THROW(CreateProgramFolders(files, TFileLayout::XdgFolders));
}

TEST_F(ProgramFilesTest, WithoutTheVariablesTheHomeFolderDecides) {
  Set("HOME", dir.Path().c_str());
  Set("XDG_CONFIG_HOME", nullptr);
  // A relative value is not a base folder and is ignored.
  Set("XDG_DATA_HOME", "relative/data");
  const TProgramFiles files = ProgramFilesFor("/usr/bin/driftpost", TFileLayout::XdgFolders);
  EXPECT_EQ(files.IniFileName, dir.File(".config/driftpost/driftpost.ini"));
  EXPECT_EQ(files.DocumentFolder, dir.File(".local/share/driftpost/wwwroot"));
}

TEST_F(ProgramFilesTest, AFileInTheWayOfAFolderIsReported) {
  Set("XDG_CONFIG_HOME", dir.File("config").c_str());
  Set("XDG_DATA_HOME", dir.File("data").c_str());
  WriteFile(dir.File("config"), "not a folder");
  try {
    CreateProgramFolders(ProgramFilesFor("/usr/bin/driftpost", TFileLayout::XdgFolders), TFileLayout::XdgFolders);
    FAIL() << "the folder cannot be made";
  } catch (const EFCreateError& error) {
    EXPECT_NE(error.Message().find(dir.File("config")), std::string::npos) << error.Message();
  }
}

}  // namespace
}  // namespace driftpost
