#include "picture/RegisteredFormats.h"

#include <gtest/gtest.h>

namespace driftpost {
namespace {

TEST(RegisteredFormatsTest, ExtensionsJoinIntoTheRecognitionText) {
  std::vector<std::string> extensions = RegisteredExtensions();
  ASSERT_EQ(extensions.size(), 39u);
  std::string joined;
  for (const std::string& extension : extensions) joined += extension + "\r\n";
  EXPECT_EQ(joined.rfind("bmp\r\nico\r\nwmf\r\nemf\r\njfif\r\n", 0), 0u);
  EXPECT_EQ(joined.substr(joined.size() - 5), "png\r\n");
  EXPECT_NE(joined.find("ps"), std::string::npos);
  EXPECT_EQ(joined.find("gif"), std::string::npos);
  EXPECT_EQ(joined,
            "bmp\r\nico\r\nwmf\r\nemf\r\njfif\r\njpg\r\njpe\r\njpeg\r\nrle\r\ndib\r\nwin\r\nvst\r\nvda\r\n"
            "tga\r\nicb\r\ntiff\r\ntif\r\nfax\r\neps\r\npcx\r\npcc\r\nscr\r\nrpf\r\nrla\r\nsgi\r\nrgba\r\n"
            "rgb\r\nbw\r\npsd\r\npdd\r\nppm\r\npgm\r\npbm\r\ncel\r\npic\r\npcd\r\ncut\r\npsp\r\npng\r\n");
}

}  // namespace
}  // namespace driftpost
