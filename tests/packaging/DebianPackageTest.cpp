// Packs the build with CPack's Debian generator, as `cpack -G DEB` in the build folder does,
// and reads the package back with dpkg-deb: its control fields and the files it installs.
#include <gtest/gtest.h>

#include <filesystem>

#include "RunCommand.h"
#include "TempDir.h"

namespace driftpost {
namespace {

using testing::RunCommand;
using testing::TempDir;

std::string PackageIn(const std::string& folder) {
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (name.starts_with("driftpost_") && name.ends_with(".deb")) return entry.path().string();
  }
  return std::string();
}

TEST(DebianPackageTest, NamesItsLibrariesMaintainerAndDescriptionAndHoldsTheDesktopFiles) {
  TempDir out;
  std::string output;
  ASSERT_EQ(RunCommand(DRIFTPOST_CPACK_COMMAND " -G DEB --config " DRIFTPOST_BINARY_DIR "/CPackConfig.cmake -B " +
                           out.Path(),
                       output),
            0)
      << output;
  const std::string package = PackageIn(out.Path());
  ASSERT_FALSE(package.empty()) << output;

  std::string info;
  ASSERT_EQ(RunCommand("dpkg-deb -I " + package, info), 0) << info;
  for (const char* field : {"\n Package: driftpost\n", "\n Version: 1.0-1\n", "\n Section: net\n",
                            "\n Maintainer: ", "\n Description: share files with an Apple Newton"})
    EXPECT_NE(info.find(field), std::string::npos) << field << "\n" << info;
  // Found by dpkg-shlibdeps from the libraries the program links.
  const std::size_t depends = info.find("\n Depends: ");
  ASSERT_NE(depends, std::string::npos) << info;
  const std::string line = info.substr(depends, info.find('\n', depends + 1) - depends);
  for (const char* library : {"libc6 (>=", "libqt6widgets6 (>=", "libqt6gui6 (>=", "libqt6core6 (>=",
                              "libjpeg62-turbo (>=", "zlib1g (>="})
    EXPECT_NE(line.find(library), std::string::npos) << library << " in" << line;

  std::string files;
  ASSERT_EQ(RunCommand("dpkg-deb -c " + package, files), 0) << files;
  for (const char* file : {" ./usr/bin/driftpost\n", " ./usr/share/applications/driftpost.desktop\n",
                           " ./usr/share/icons/hicolor/48x48/apps/driftpost.png\n",
                           " ./usr/share/icons/hicolor/scalable/apps/driftpost.svg\n"})
    EXPECT_NE(files.find(file), std::string::npos) << file << "\n" << files;
}

}  // namespace
}  // namespace driftpost
