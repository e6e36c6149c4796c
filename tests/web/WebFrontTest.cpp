#include "web/WebFront.h"

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>

#include "TempDir.h"
#include "net/NetTestKit.h"
#include "picture/Bitmap.h"
#include "picture/JPEGImage.h"
#include "platform/TextUtils.h"
#include "web/Latin9.h"
#include "web/MyHttpConnection.h"

namespace driftpost {
namespace {

using testing::ReadFile;
using testing::WriteFile;

const std::string Head = R"(<html><head><meta http-equiv="content-type" content="text/html; charset=ISO-8859-15"><title>)";
const std::string Sorry = Head + "Sorry</title></head><BODY><BR><H3>Sorry! The file you are trying to access is not "
                                 "available or access to this file is denied!</H3><BR><BR><A HREF=\"/\">Back to "
                                 "mainpage</A></BODY></HTML>\r\n";

std::string Answer(const std::string& contentType, const std::string& body, const std::string& version = "HTTP/1.0") {
  return version + " 200 OK\r\nContent-Type: " + contentType + "\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\n\r\n" + body;
}

// Every byte but letters, digits, '/' and '.' as %XX, as a browser escapes a path.
std::string Escaped(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    char escape[4];
    std::snprintf(escape, sizeof escape, "%%%02X", c);
    out += (std::isalnum(c) || c == '/' || c == '.') ? std::string(1, static_cast<char>(c)) : escape;
  }
  return out;
}

class WebFrontTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(dir.File("www"));
    WriteFile(dir.File("www/index.html"), "engine");
    server.SetAddr("127.0.0.1");
    server.SetPort("0");
    server.SetDocDir(dir.File("www"));
    server.SetClientClass(HttpConnectionClassOf<TMyHttpConnection>());
    front.BindTo(server);
    server.Start();
  }
  std::string Exchange(const std::string& request) {
    testing::TRawClient client(std::stoi(server.ListeningSocket()->BoundPort()));
    client.Send(request);
    return client.Read(std::string::npos);
  }
  std::string Get(const std::string& target) { return Exchange("GET " + target + " HTTP/1.0\r\n\r\n"); }
  std::string Share(const std::string& name, const std::string& content) {
    std::filesystem::create_directories(std::filesystem::path(dir.File(name)).parent_path());
    WriteFile(dir.File(name), content);
    return std::to_string(store.AddItem(dir.File(name)).Id);
  }

  testing::TempDir dir;
  TConsoleLog log{nullptr};
  TItemStore store{{"bmp", "jpg", "png", "ico"}};
  bool displayHeader = false;
  TWebFront front{log, store, displayHeader};
  THttpServer server;
};

TEST_F(WebFrontTest, TheIndexPageOfAnEmptyStore) {
  const std::string page = Head + "Driftpost</title></head><BODY><H4>Welcome!</H4><BR>You have not shared any files "
                                  "yet. <BR>If you wish to share files, please drag documents into the Container on "
                                  "your desktop. <BR></BODY></HTML>\r\n";
  EXPECT_EQ(page.size(), 288u);
  EXPECT_EQ(Get("/"), Answer("text/html", page));
  EXPECT_EQ(Answer("text/html", page).size() - page.size(), 65u);
  EXPECT_EQ(Exchange("GET /INDEX.HTML http/1.1\r\n\r\n"), Answer("text/html", page, "HTTP/1.1"));
  // HEAD is the engine's, from its document folder.
  EXPECT_EQ(Exchange("HEAD / HTTP/1.0\r\n\r\n"), "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nContent-Length: 6\r\n\r\n");
}

TEST_F(WebFrontTest, APictureHasAnIndexRowAndTwoPages) {
  const std::string id = std::to_string(store.AddItem("C:\\Pics\\cat.bmp").Id);
  const std::size_t extra = id.size() - 4;  // the sizes below are for a four-digit identifier
  const std::string index = Head + "Driftpost</title></head><BODY><H4>Welcome!</H4><BR>"
      R"(<table cellpadding="0" cellspacing="0" border="0" width="100%"><tbody><tr><td width="18"><IMG SRC="folder">)"
      R"(</td><td width="18"></td><td width="50%">Pictures</td><td></td></tr><tr><td width="18"></td><td width="18">)"
      R"(<IMG SRC="picture"></td><td width="50%"><a href=")" + id + R"(.ahtml">AVI! </a> <a href=")" + id +
      R"(.html">cat.bmp</a></td><td>in C:\Pics\</td></tr></tbody></table><br></BODY></HTML>)" "\r\n";
  EXPECT_EQ(index.size(), 525 + 2 * extra);
  EXPECT_EQ(Get("/"), Answer("text/html", index));
  const std::string page = Head + R"(C:\Pics\cat.bmp</title></head><BODY><CENTER><IMG SRC="/)" + id +
                           R"(.jpeg"></CENTER></BODY></HTML>)" "\r\n";
  EXPECT_EQ(page.size(), 183 + extra);
  EXPECT_EQ(Get("/" + id + ".HTML?x=1"), Answer("text/html", page));
  EXPECT_NE(Get("/0" + id + ".html").find("<IMG SRC=\"/0" + id + ".jpeg\">"), std::string::npos);
  const std::string alternative = R"(<html><head><meta name="ISBN" content="A!:cat"><title>cat.bmp</title></head>)"
                                  R"(<BODY><IMG SRC="/)" + id + R"(.ajpeg"></BODY></HTML>)" "\r\n";
  EXPECT_EQ(alternative.size(), 121 + extra);
  EXPECT_EQ(Get("/" + id + ".ahtml"), Answer("text/html", alternative));
  // Any other extension gets an empty answer.
  EXPECT_EQ(Get("/" + id + ".htm") + Get("/" + id + ".png"), "");
}

TEST_F(WebFrontTest, PicturesAndIconsGoOutAsJpeg) {
  // 500 by 2 shrinks to 320 by Round (1.28) = 1; at full size it is encoded as it is.
  TBitmap wide;
  wide.SetPixelFormat(pd8Bit);
  wide.SetSize(500, 2);
  TMemoryStream file;
  wide.SaveStream(file);
  const std::string picture = Share("wide.bmp", std::string(file.Bytes().begin(), file.Bytes().end()));
  const std::string jpegHeader = "HTTP/1.0 200 OK\r\nContent-Type: image/jpeg\r\nContent-Length: ";
  const std::string scaled = Get("/" + picture + ".ajpeg");
  EXPECT_EQ(scaled.substr(0, jpegHeader.size()), jpegHeader);
  TJPEGImage image;
  TMemoryStream body;
  body.WriteText(scaled.substr(scaled.find("\r\n\r\n") + 4));
  body.SetPosition(0);
  image.LoadStream(body);
  EXPECT_EQ(image.Width(), 320);
  EXPECT_EQ(image.Height(), 1);
  EXPECT_EQ(Get("/" + picture + ".jpeg").substr(0, jpegHeader.size()), jpegHeader);
  EXPECT_EQ(Get("/sound.x").substr(0, jpegHeader.size()), jpegHeader);
  // A file that is gone.
  const std::string gone = std::to_string(store.AddItem("C:\\Pics\\cat.bmp").Id);
  EXPECT_EQ(Get("/" + gone + ".jpeg").substr(0, 34), "HTTP/1.0 500 Internal Server Error");
  // An icon, which no JPEG picture can copy, is drawn at its own size first.
  const std::string icon = Share("symbol.ico", ReadFile(DRIFTPOST_TEST_DATA "/ico/palette4.ico"));
  for (const char* extension : {".jpeg", ".ajpeg"}) {
    const std::string answer = Get("/" + icon + extension);
    ASSERT_EQ(answer.substr(0, jpegHeader.size()), jpegHeader) << extension;
    TMemoryStream iconBody;
    iconBody.WriteText(answer.substr(answer.find("\r\n\r\n") + 4));
    iconBody.SetPosition(0);
    image.LoadStream(iconBody);
    EXPECT_EQ(image.Width(), 32);
    EXPECT_EQ(image.Height(), 32);
  }
}

TEST_F(WebFrontTest, FilesAreDeliveredWithTheirTypes) {
  const std::string gifBytes("GIF89a\0\x01", 8);
  const std::string gif = Share("anim.GIF", gifBytes);
  const std::string sound = Share("song.wav", "RIFF----WAVE");
  const std::string package = Share("app.pkg", "package");
  EXPECT_NE(Get("/" + gif + ".ahtml").find("<IMG SRC=\"/" + gif + ".gif\">"), std::string::npos);
  EXPECT_EQ(Get("/" + gif + ".gif"), Answer("image/gif", gifBytes));
  for (const char* extension : {".wav", ".pkg", ""})
    EXPECT_EQ(Get("/" + sound + extension), Answer("audio/x-wav", "RIFF----WAVE"));
  EXPECT_EQ(Get("/" + package + ".pkg"), Answer("application/x-newton-compatible-pkg", "package"));
  EXPECT_EQ(Sorry.size(), 278u);
  EXPECT_EQ(Get("/99999"), Answer("text/html", Sorry));
  EXPECT_EQ(Get("/index.htm"), Answer("text/html", Sorry));
}

TEST_F(WebFrontTest, OtherFilesAreFoundByEveryFormOfTheirLink) {
  Share("Mäppchen/my notes Šö€ 日本 ä.txt", "notes");
  Share("empty", "");
  // Characters ISO-8859-15 lacks are escaped as UTF-8 in the link; the text shows '?'.
  const std::string before = Utf8ToLatin9(dir.File("Mäppchen/my notes Šö€ "));
  const std::string lacking = "%E6%97%A5%E6%9C%AC";
  const std::string after = " \xE4.txt";
  EXPECT_NE(Get("/").find("<A HREF=\"" + before + lacking + after + "\">my notes \xA6\xF6\xA4 ?? \xE4.txt</a>"),
            std::string::npos);
  // Links of earlier pages wrote '?' for those characters; it starts a query, which a
  // browser sends in the page's character set, whatever it does with the path before it.
  for (const std::string& target : {
           before + lacking + after,                                                // an old browser, blanks and all
           Escaped(before) + lacking + Escaped(after),                              // the page's bytes escaped
           Escaped(Latin9ToUtf8(before)) + lacking + Escaped(Latin9ToUtf8(after)),  // a current browser: UTF-8
           before + "??" + after,                                                   // an earlier page's link
           Escaped(Latin9ToUtf8(before)) + "??" + Escaped(after),
           Utf8ToLatin9(LowerCase(dir.File("")) + "MÄPPCHEN/my NOTES šÖ€ ?? Ä.TXT"),  // typed in other case
       })
    EXPECT_EQ(Get(target), Answer("application/binary", "notes")) << target;
  // The path as stored: the browser's '/' before it, or one more, and escaped.
  const std::string empty = dir.File("empty");
  EXPECT_EQ(Get(empty), Answer("application/binary", ""));
  EXPECT_EQ(Get(Escaped("/" + empty)), Answer("application/binary", ""));
  EXPECT_EQ(Get(empty + "x"), Answer("text/html", Sorry));
}

TEST_F(WebFrontTest, NamesThatDifferOnlyInCaseOrInCharactersLatin9LacksKeepTheirOwnLinks) {
  const std::vector<std::pair<std::string, std::string>> files = {
      {"Case.txt", "upper"}, {"case.txt", "lower"}, {"日.txt", "sun"}, {"本.txt", "book"},
      {"100%.txt", "percent"}, {"%E6%97%A5.txt", "escaped"}, {"a\"b#c.txt", "quote"}};
  for (const auto& [name, content] : files) Share(name, content);
  const std::string index = Get("/");
  for (const auto& [name, content] : files) {
    const std::string link = Utf8ToLatin9Link(dir.File(name));
    ASSERT_NE(index.find("<A HREF=\"" + link + "\">"), std::string::npos) << link;
    EXPECT_EQ(Get(link), Answer("application/binary", content)) << link;
  }
  // A name typed in another letter case still finds a file.
  EXPECT_EQ(Get(dir.File("CASE.TXT")), Answer("application/binary", "upper"));
}

TEST_F(WebFrontTest, AnAnswerThatCannotBeBuiltIsA500AndEndsTheConnection) {
  const std::string sound = Share("gone <b>.wav", "x");
  std::filesystem::remove(dir.File("gone <b>.wav"));
  const std::string body = "<HTML><HEAD><TITLE>500 Internal Server Error</TITLE></HEAD><BODY><H1>500 Internal Server "
                           "Error</H1>Datei " + dir.File("gone &lt;b&gt;.wav") + " kann nicht ge\xF6" "ffnet werden"
                           "<P></BODY></HTML>\r\n";
  EXPECT_EQ(Exchange("GET /" + sound + " HTTP/1.0\r\nConnection: Keep-Alive\r\n\r\n"),
            "HTTP/1.0 500 Internal Server Error\r\nContent-Type: text/html\r\nContent-Length: " +
                std::to_string(body.size()) + "\r\n\r\n" + body);
  // Closed in spite of Keep-Alive.
  EXPECT_TRUE(testing::RunLoopUntil([this] { return server.ClientCount() == 0; }));
  EXPECT_EQ(log.Lines().back(), "1: 500 Internal Server Error: Datei " + dir.File("gone <b>.wav") +
                                    " kann nicht geöffnet werden");
  EXPECT_EQ(Get("/99999999999.html").substr(0, 34), "HTTP/1.0 500 Internal Server Error");
  EXPECT_EQ(log.Lines().back(), "2: 500 Internal Server Error: '99999999999' ist kein gültiger Integerwert");
}

TEST_F(WebFrontTest, RequestsAreLoggedWithTheirNumbersAndHeaderLines) {
  Get("/");
  Exchange("HEAD /x HTTP/1.0\r\n\r\n");
  displayHeader = true;
  testing::TRawClient client(std::stoi(server.ListeningSocket()->BoundPort()));
  client.Send("GET /one HTTP/1.0\r\nConnection: Keep-Alive\r\nHost: x\r\n\r\n");
  client.Read(std::string::npos);
  // A kept-alive connection keeps every header line, so the next request repeats them.
  client.Send("GET /two HTTP/1.0\r\nUser-Agent: y\r\n\r\n");
  ASSERT_TRUE(testing::RunLoopUntil([this] { return log.Count() == 9; }));
  EXPECT_EQ(std::vector<std::string>(log.Lines().begin(), log.Lines().end()),
            (std::vector<std::string>{"1: GET /", "2: HEAD /x", "3: GET /one", "HDR1) Connection: Keep-Alive",
                                      "HDR2) Host: x", "4: GET /two", "HDR1) Connection: Keep-Alive", "HDR2) Host: x",
                                      "HDR3) User-Agent: y"}));
}

}  // namespace
}  // namespace driftpost
