#include "container/gui/UriList.h"

#include <gtest/gtest.h>

#include <climits>
#include <unistd.h>

namespace driftpost {
namespace {

using Paths = std::vector<std::string>;

TEST(UriListTest, ReadsLocalFilesInOrder) {
  EXPECT_EQ(LocalFilesOfUriList("file:///home/me/b.jpg\r\nfile:///home/me/a.wav\r\nfile:///c\r\n"),
            (Paths{"/home/me/b.jpg", "/home/me/a.wav", "/c"}));
  // A last line without its end, bare LF line ends and blank lines.
  EXPECT_EQ(LocalFilesOfUriList("file:///a\n\nfile:///b"), (Paths{"/a", "/b"}));
  EXPECT_EQ(LocalFilesOfUriList(""), Paths{});
}

TEST(UriListTest, UndoesPercentEncodingByteForByte) {
  EXPECT_EQ(LocalFilesOfUriList("file:///home/me/My%20Pictures/caf%C3%A9.jpg"),
            Paths{"/home/me/My Pictures/caf\xC3\xA9.jpg"});
  // Names need not be UTF-8; a '%' without two hex digits stays as it is.
  EXPECT_EQ(LocalFilesOfUriList("file:///caf%e9.jpg\r\nfile:///100%.txt\r\nfile:///x%4"),
            (Paths{"/caf\xE9.jpg", "/100%.txt", "/x%4"}));
  EXPECT_EQ(LocalFilesOfUriList("file:///a%23b%3Fc"), Paths{"/a#b?c"});
}

TEST(UriListTest, TakesOnlyFilesOfThisMachine) {
  char host[HOST_NAME_MAX + 1] = {};
  ASSERT_EQ(::gethostname(host, sizeof host - 1), 0);
  const std::string list = std::string("# dragged from the file manager\r\n") +
                           "http://example.com/a.jpg\r\n"
                           "FILE://LocalHost/b.jpg\r\n"
                           "file://" + host + "/c.jpg\r\n"
                           "file://elsewhere.example/d.jpg\r\n"
                           "file:/e.jpg\r\n"
                           "mailto:me@example.com\r\n"
                           "smb://server/share/f.jpg\r\n";
  EXPECT_EQ(LocalFilesOfUriList(list), (Paths{"/b.jpg", "/c.jpg", "/e.jpg"}));
}

TEST(UriListTest, LeavesOutWhatNamesNoFile) {
  EXPECT_EQ(LocalFilesOfUriList("file:\r\nfile:relative/x.jpg\r\nfile://\r\nfile://host-without-path\r\n"
                                "file:///bad%00name.jpg\r\nfile:///a.jpg?query#fragment\r\n"),
            Paths{"/a.jpg"});
}

}  // namespace
}  // namespace driftpost
