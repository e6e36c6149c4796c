// Installs the build into a fresh folder as `cmake --install` does for a user, and checks
// what a desktop needs of it: the program, a valid menu entry and the icon it names.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <utility>

#include "RunCommand.h"
#include "TempDir.h"

namespace driftpost {
namespace {

using testing::ReadFile;
using testing::RunCommand;
using testing::TempDir;

// Width and height from a PNG file's header, or 0 by 0 when the file is no PNG file.
std::pair<std::uint32_t, std::uint32_t> PngSize(const std::string& fileName) {
  const std::string bytes = ReadFile(fileName);
  if (bytes.size() < 24 || bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0 || bytes.compare(12, 4, "IHDR") != 0)
    return {0, 0};
  auto big = [&bytes](std::size_t at) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    return value;
  };
  return {big(16), big(20)};
}

TEST(InstallTest, InstallsTheProgramAValidMenuEntryAndItsIcon) {
  TempDir prefix;
  std::string output;
  ASSERT_EQ(RunCommand(DRIFTPOST_CMAKE_COMMAND " --install " DRIFTPOST_BINARY_DIR " --prefix " + prefix.Path(), output),
            0)
      << output;

  output.clear();
  EXPECT_EQ(RunCommand(prefix.File("bin/driftpost") + " --version", output), 0);
  EXPECT_EQ(output, "Driftpost V1.00 BETA\n");

  const std::string entry = prefix.File("share/applications/driftpost.desktop");
  output.clear();
  EXPECT_EQ(RunCommand("desktop-file-validate " + entry, output), 0) << output;
  EXPECT_EQ(output, "") << "warnings or hints";
  const std::string text = ReadFile(entry);
  for (const char* line : {"\nName=Driftpost\n", "\nExec=driftpost %F\n", "\nIcon=driftpost\n",
                           "\nCategories=Network;FileTransfer;\n", "\nComment="})
    EXPECT_NE(text.find(line), std::string::npos) << line;

  // The icon the entry names, in every size the theme looks for, from 16 to 256 pixels.
  for (std::uint32_t size : {16u, 32u, 48u, 64u, 128u, 256u}) {
    const std::string folder = std::to_string(size) + "x" + std::to_string(size);
    EXPECT_EQ(PngSize(prefix.File("share/icons/hicolor/" + folder + "/apps/driftpost.png")), std::pair(size, size));
  }
  const std::string svg = ReadFile(prefix.File("share/icons/hicolor/scalable/apps/driftpost.svg"));
  EXPECT_NE(svg.find("<svg xmlns=\"http://www.w3.org/2000/svg\""), std::string::npos);
  EXPECT_NE(svg.find("<rect "), std::string::npos);
}

}  // namespace
}  // namespace driftpost
