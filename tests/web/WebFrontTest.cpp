#include "web/WebFront.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "TempDir.h"
#include "net/NetTestKit.h"
#include "platform/TextUtils.h"
#include "web/Latin9.h"
#include "web/MyHttpConnection.h"

namespace driftpost {
namespace {

using testing::RunLoopUntil;
using testing::TempDir;
using testing::TRawClient;
using testing::WriteFile;

constexpr std::size_t Everything = std::string::npos;
const std::string Head = R"(<html><head><meta http-equiv="content-type" content="text/html; charset=ISO-8859-15"><title>)";

std::string HtmlAnswer(const std::string& version, const std::string& page) {
  return version + " 200 OK\r\nContent-Type: text/html\r\nContent-Length: " + std::to_string(page.size()) +
         "\r\n\r\n" + page;
}

std::string Body(const std::string& answer) {
  std::size_t end = answer.find("\r\n\r\n");
  return end == std::string::npos ? std::string() : answer.substr(end + 4);
}

std::string SorryPage() {
  return Head + "Sorry</title></head><BODY><BR><H3>Sorry! The file you are trying to access is not available or "
                "access to this file is denied!</H3><BR><BR><A HREF=\"/\">Back to mainpage</A></BODY></HTML>\r\n";
}

// Every %XX escape a current browser would write for these bytes.
std::string Escaped(const std::string& bytes) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    if (c == '/' || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
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
    TRawClient client(std::stoi(server.ListeningSocket()->BoundPort()));
    client.Send(request);
    return client.Read(Everything);
  }
  std::string Get(const std::string& target) { return Exchange("GET " + target + " HTTP/1.0\r\n\r\n"); }

  std::string Shared(const std::string& name, const std::string& content) {
    WriteFile(dir.File(name), content);
    return dir.File(name);
  }
  std::string IdOf(const std::string& path) { return std::to_string(store.AddItem(path).Id); }

  TempDir dir;
  TConsoleLog log{nullptr};
  TItemStore store{{"bmp", "jpg", "jpeg", "png"}};
  bool displayHeader = false;
  TWebFront front{log, store, displayHeader};
  THttpServer server;
};

TEST_F(WebFrontTest, TheIndexPageOfAnEmptyStore) {
  const std::string page = Head + "Driftpost</title></head><BODY><H4>Welcome!</H4><BR>"
                                  "You have not shared any files yet. <BR>If you wish to share files, please drag "
                                  "documents into the Container on your desktop. <BR></BODY></HTML>\r\n";
  ASSERT_EQ(page.size(), 288u);
  const std::string answer = Get("/");
  EXPECT_EQ(answer, HtmlAnswer("HTTP/1.0", page));
  EXPECT_EQ(answer.size() - page.size(), 65u);
  EXPECT_EQ(Exchange("GET /INDEX.HTML http/1.1\r\n\r\n"), HtmlAnswer("HTTP/1.1", page));
  // HEAD is the engine's: the document folder's index, not the program's page.
  EXPECT_EQ(Exchange("HEAD / HTTP/1.0\r\n\r\n"),
            "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nContent-Length: 6\r\n\r\n");
}

TEST_F(WebFrontTest, APictureHasAnIndexRowAndTwoPages) {
  const std::string id = IdOf("C:\\Pics\\cat.bmp");
  const std::string extra(id.size() - 4, '#');  // the sizes below are for a four-digit identifier
  const std::string index =
      Head + "Driftpost</title></head><BODY><H4>Welcome!</H4><BR>"
             R"(<table cellpadding="0" cellspacing="0" border="0" width="100%"><tbody>)"
             R"(<tr><td width="18"><IMG SRC="folder"></td><td width="18"></td><td width="50%">Pictures</td><td></td></tr>)"
             R"(<tr><td width="18"></td><td width="18"><IMG SRC="picture"></td><td width="50%">)"
             R"(<a href=")" + id + R"(.ahtml">AVI! </a> <a href=")" + id + R"(.html">cat.bmp</a></td>)"
             R"(<td>in C:\Pics\</td></tr></tbody></table><br></BODY></HTML>)" "\r\n";
  EXPECT_EQ(index.size(), 525u + 2 * extra.size());
  EXPECT_EQ(Get("/"), HtmlAnswer("HTTP/1.0", index));

  const std::string page = Head + R"(C:\Pics\cat.bmp</title></head><BODY><CENTER><IMG SRC="/)" + id +
                           R"(.jpeg"></CENTER></BODY></HTML>)" "\r\n";
  EXPECT_EQ(page.size(), 183u + extra.size());
  EXPECT_EQ(Get("/" + id + ".html"), HtmlAnswer("HTTP/1.0", page));
  EXPECT_EQ(Get("/" + id + ".HTML?x=1"), HtmlAnswer("HTTP/1.0", page));
  EXPECT_NE(Get("/0" + id + ".html").find("<IMG SRC=\"/0" + id + ".jpeg\">"), std::string::npos);

  const std::string alternative = R"(<html><head><meta name="ISBN" content="A!:cat"><title>cat.bmp</title></head>)"
                                  R"(<BODY><IMG SRC="/)" + id + R"(.ajpeg"></BODY></HTML>)" "\r\n";
  EXPECT_EQ(alternative.size(), 121u + extra.size());
  EXPECT_EQ(Get("/" + id + ".ahtml"), HtmlAnswer("HTTP/1.0", alternative));

  // Other extensions of a picture get an empty answer, not even a status line.
  EXPECT_EQ(Get("/" + id + ".png"), "");
  EXPECT_EQ(Get("/" + id + ".htm"), "");
  EXPECT_EQ(Get("/" + id), "");
  // Conversion to JPEG and the icons come later; until then they answer as unknown items.
  EXPECT_EQ(Body(Get("/" + id + ".jpeg")), SorryPage());
  EXPECT_EQ(Body(Get("/folder.gif")), SorryPage());
}

TEST_F(WebFrontTest, AGifPictureIsLinkedAndSentAsItIs) {
  const std::string gif = Shared("anim.GIF", std::string("GIF89a\0\x01\xff", 9));
  const std::string id = IdOf(gif);
  EXPECT_NE(Get("/" + id + ".html").find("<IMG SRC=\"/" + id + ".gif\">"), std::string::npos);
  EXPECT_NE(Get("/" + id + ".ahtml").find("<IMG SRC=\"/" + id + ".gif\">"), std::string::npos);
  EXPECT_EQ(Get("/" + id + ".gif"), "HTTP/1.0 200 OK\r\nContent-Type: image/gif\r\nContent-Length: 9\r\n\r\n" +
                                        std::string("GIF89a\0\x01\xff", 9));
}

TEST_F(WebFrontTest, SoundsPackagesAndUnknownItems) {
  const std::string sound = IdOf(Shared("song.wav", "RIFF----WAVE"));
  const std::string package = IdOf(Shared("app.pkg", "package"));
  const std::string wav = "HTTP/1.0 200 OK\r\nContent-Type: audio/x-wav\r\nContent-Length: 12\r\n\r\nRIFF----WAVE";
  for (const char* extension : {".wav", ".pkg", ""}) EXPECT_EQ(Get("/" + sound + extension), wav);
  EXPECT_EQ(Get("/" + package + ".pkg"),
            "HTTP/1.0 200 OK\r\nContent-Type: application/x-newton-compatible-pkg\r\nContent-Length: 7\r\n\r\npackage");

  std::string unknown = "99999";
  while (store.List(TItemCategory::Sounds).IndexOfId(std::stoi(unknown)) >= 0 ||
         store.List(TItemCategory::Packages).IndexOfId(std::stoi(unknown)) >= 0)
    unknown += "1";
  ASSERT_EQ(SorryPage().size(), 278u);
  for (const std::string& target : {"/" + unknown, std::string("/index.htm"), std::string("/nothing/here")})
    EXPECT_EQ(Get(target), HtmlAnswer("HTTP/1.0", SorryPage())) << target;
}

TEST_F(WebFrontTest, OtherFilesAreFoundByEveryFormOfTheirLink) {
  std::filesystem::create_directories(dir.File("Mäppchen"));
  const std::string odd = Shared("Mäppchen/my notes Šö€ 日本 ä.txt", "notes");
  const std::string empty = Shared("empty", "");
  store.AddItem(odd);
  store.AddItem(empty);
  const std::string notes = "HTTP/1.0 200 OK\r\nContent-Type: application/binary\r\nContent-Length: 5\r\n\r\nnotes";

  // The index page links the entry by its path, in the page's character set.
  const std::string written = Utf8ToLatin9(odd);
  EXPECT_EQ(written.substr(written.size() - 21), std::string("my notes \xA6\xF6\xA4 ?? \xE4.txt"));
  EXPECT_NE(Get("/").find("<A HREF=\"" + written + "\">" + Utf8ToLatin9("my notes Šö€ 日本 ä.txt") + "</a>"),
            std::string::npos);

  // The '?' that stands for what ISO-8859-15 lacks starts the query: a browser sends what
  // follows it in the page's character set, whatever it does with the path before it.
  const std::size_t question = written.find('?');
  const std::string before = written.substr(0, question);
  const std::string after = written.substr(question + 2);
  const std::vector<std::string> forms = {
      // an old browser: the bytes of the page, blanks and all
      written,
      // escaped, as the page's bytes
      Escaped(before) + "??" + Escaped(after),
      // a current browser: the path in UTF-8, the query in the page's character set
      Escaped(Latin9ToUtf8(before)) + "??" + Escaped(after),
      // typed in another letter case
      Utf8ToLatin9(LowerCase(dir.File("")) + "MÄPPCHEN/my NOTES šÖ€ ?? Ä.TXT"),
  };
  for (const std::string& target : forms) EXPECT_EQ(Get(target), notes) << target;
  // The path as stored, also escaped, and without its leading '/'.
  EXPECT_EQ(Get(Escaped("/" + empty)), "HTTP/1.0 200 OK\r\nContent-Type: application/binary\r\nContent-Length: 0\r\n\r\n");
  EXPECT_EQ(Get(Escaped(empty)).substr(0, 15), "HTTP/1.0 200 OK");
  EXPECT_EQ(Body(Get(empty + "x")), SorryPage());
}

TEST_F(WebFrontTest, AnAnswerThatCannotBeBuiltIsA500AndEndsTheConnection) {
  const std::string sound = Shared("gone <b>.wav", "x");
  const std::string id = IdOf(sound);
  std::filesystem::remove(sound);
  const std::string answer = Exchange("GET /" + id + ".wav HTTP/1.0\r\nConnection: Keep-Alive\r\n\r\n");
  const std::string reason = "Datei " + sound + " kann nicht geöffnet werden";
  // The page says why in its own character set, with what HTML would take as markup escaped.
  const std::string shown = "Datei " + dir.File("gone &lt;b&gt;.wav") + " kann nicht ge\xF6" "ffnet werden";
  const std::string body = "<HTML><HEAD><TITLE>500 Internal Server Error</TITLE></HEAD><BODY><H1>500 Internal "
                           "Server Error</H1>" + shown + "<P></BODY></HTML>\r\n";
  EXPECT_EQ(answer, "HTTP/1.0 500 Internal Server Error\r\nContent-Type: text/html\r\nContent-Length: " +
                        std::to_string(body.size()) + "\r\n\r\n" + body);
  // Closed in spite of Keep-Alive: the client is not kept waiting for more.
  EXPECT_TRUE(RunLoopUntil([this] { return server.ClientCount() == 0; }));
  EXPECT_EQ(log.Lines().back(), "1: 500 Internal Server Error: " + reason);

  // A digit text beyond an identifier's range.
  EXPECT_EQ(Get("/99999999999.html").substr(0, 36), "HTTP/1.0 500 Internal Server Error\r\n");
  EXPECT_EQ(log.Lines().back(), "2: 500 Internal Server Error: '99999999999' ist kein gültiger Integerwert");
}

TEST_F(WebFrontTest, RequestsAreLoggedWithTheirNumbersAndHeaderLines) {
  Get("/");
  Exchange("HEAD /x HTTP/1.0\r\n\r\n");
  Get("/a b");
  EXPECT_EQ(std::vector<std::string>(log.Lines().begin(), log.Lines().end()),
            (std::vector<std::string>{"1: GET /", "2: HEAD /x", "3: GET /a b"}));

  displayHeader = true;
  log.Clear();
  TRawClient client(std::stoi(server.ListeningSocket()->BoundPort()));
  client.Send("GET /one HTTP/1.0\r\nConnection: Keep-Alive\r\nHost: x\r\n\r\n");
  client.Read(Everything);
  client.Send("GET /two HTTP/1.0\r\nUser-Agent: y\r\n\r\n");
  ASSERT_TRUE(RunLoopUntil([this] { return log.Count() == 7; }));
  // A kept-alive connection keeps every header line, so the second request repeats them.
  EXPECT_EQ(std::vector<std::string>(log.Lines().begin(), log.Lines().end()),
            (std::vector<std::string>{"4: GET /one", "HDR1) Connection: Keep-Alive", "HDR2) Host: x", "5: GET /two",
                                      "HDR1) Connection: Keep-Alive", "HDR2) Host: x", "HDR3) User-Agent: y"}));
  EXPECT_EQ(front.RequestCount(), 5);
}

}  // namespace
}  // namespace driftpost
