#include "web/WebFront.h"

#include <algorithm>
#include <limits>
#include <memory>

#include "container/ImageList.h"
#include "picture/Bitmap.h"
#include "picture/JPEGImage.h"
#include "picture/Picture.h"
#include "picture/PictureFit.h"
#include "platform/Exception.h"
#include "platform/Format.h"
#include "platform/TextUtils.h"
#include "web/Latin9.h"

namespace driftpost {

namespace {

constexpr const char* CRLF = "\r\n";

// One literal per content type, as the answers write them.
constexpr const char* TextHtmlLine = "Content-Type: text/html";
constexpr const char* ImageJpegLine = "Content-Type: image/jpeg";
constexpr const char* ImageGifLine = "Content-Type: image/gif";
constexpr const char* AudioWavLine = "Content-Type: audio/x-wav";
constexpr const char* NewtonPackageLine = "Content-Type: application/x-newton-compatible-pkg";
constexpr const char* BinaryLine = "Content-Type: application/binary";

void WriteAnswerHeader(TStream& answer, const std::string& version, const char* contentTypeLine,
                       std::int64_t length) {
  answer.WriteText(version + " 200 OK" + CRLF + contentTypeLine + CRLF + "Content-Length: " + IntToStr(length) +
                   CRLF + CRLF);
}

void WriteHtmlAnswer(TStream& answer, const std::string& version, const std::string& page) {
  WriteAnswerHeader(answer, version, TextHtmlLine, static_cast<std::int64_t>(page.size()));
  answer.WriteText(page);
}

void WriteJpegAnswer(TStream& answer, const std::string& version, TMemoryStream& jpeg) {
  WriteAnswerHeader(answer, version, ImageJpegLine, jpeg.Size());
  if (jpeg.Size() > 0) answer.WriteBuffer(jpeg.Memory(), jpeg.Size());
}

// The Newton shows at most 320 by 320 pixels.
constexpr std::int64_t ScreenSide = 320;

bool IsAllDigits(const std::string& text) {
  if (text.empty()) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  return true;
}

// The item identifier that a digit text names; a value beyond 32 bits is not one.
std::int32_t IdentifierOf(const std::string& digits) {
  std::int64_t value = 0;
  for (char c : digits) {
    value = value * 10 + (c - '0');
    if (value > std::numeric_limits<std::int32_t>::max())
      throw EConvertError(Format("'%s' ist kein gültiger Integerwert", {digits}));
  }
  return static_cast<std::int32_t>(value);
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Every "%XX" with two hexadecimal digits becomes its byte; any other '%' stays.
std::string DecodePercentEscapes(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

// The characters that a part of a request stands for, as UTF-8: a current browser sends a
// path as UTF-8 (%XX-escaped), and the part after a '?' in the page's ISO-8859-15.
std::string RequestCharacters(const std::string& part) {
  const std::string decoded = DecodePercentEscapes(part);
  return IsUtf8(decoded) ? decoded : Latin9ToUtf8(decoded);
}

// The forms in which a request may name a shared path, in this order: the characters they
// stand for, the bytes with their %XX escapes decoded, and the bytes as they came. A page
// escapes every '%' of a name, so an escape in a request is one, and the decoded forms come
// first. A browser sends the path part of a link and the part after a '?' (a character of
// the name) each in its own encoding, so the character form is made of both separately.
// An old browser sends the page's ISO-8859-15 bytes with the link's UTF-8 escapes in them,
// which makes one more form.
std::vector<std::string> RequestKeys(const std::string& key) {
  std::string characters;
  std::size_t question = key.find('?');
  if (question == std::string::npos) {
    characters = RequestCharacters(key);
  } else {
    characters = RequestCharacters(key.substr(0, question)) + "?" + RequestCharacters(key.substr(question + 1));
  }
  const std::string decoded = DecodePercentEscapes(key);
  std::vector<std::string> keys{characters};
  for (const std::string& form : {MixedToUtf8(decoded), decoded, key})
    if (std::find(keys.begin(), keys.end(), form) == keys.end()) keys.push_back(form);
  return keys;
}

enum class TLetterCase { Exact, Ignored };

// Whether a request key names a shared path: the path as stored (UTF-8), as written into the
// page (ISO-8859-15), or as the characters the page shows, each with or without its leading
// '/'; byte for byte or with letter case ignored.
bool KeyNamesPath(const std::string& key, const std::string& path, TLetterCase letterCase) {
  const bool rooted = !path.empty() && path[0] == '/';
  for (const std::string& stored : {path, rooted ? path.substr(1) : path}) {
    const std::string written = Utf8ToLatin9(stored);
    const std::string shown = Latin9ToUtf8(written);
    if (letterCase == TLetterCase::Exact ? (key == stored || key == written || key == shown)
                                         : (AnsiSameText(key, stored) || Latin9SameText(key, written) ||
                                            AnsiSameText(key, shown)))
      return true;
  }
  return false;
}

struct TCategoryLook {
  TItemCategory Category;
  const char* Caption;
  const char* Icon;
};

constexpr TCategoryLook IndexCategories[] = {
    {TItemCategory::Pictures, "Pictures", R"(<IMG SRC="picture">)"},
    {TItemCategory::Sounds, "Sounds", R"(<IMG SRC="sound">)"},
    {TItemCategory::Packages, "Packages", R"(<IMG SRC="package">)"},
    {TItemCategory::Others, "Others", R"(<IMG SRC="package">)"},
};

struct TIconName {
  const char* Name;
  int Index;
};

constexpr TIconName IconNames[] = {
    {"picture", iiPicture},
    {"folder", iiBox},
    {"package", iiPackage},
    {"sound", iiLoudspeaker},
};

}  // namespace

TWebFront::TWebFront(TConsoleLog& log, const TItemStore& store, const bool& displayHeader)
    : log_(log), store_(store), displayHeader_(displayHeader) {}

void TWebFront::BindTo(THttpServer& server) {
  server.OnGetDocument = [this](TComponent* sender, THttpConnection* client, THttpGetFlag& flags) {
    HttpServer1GetDocument(sender, client, flags);
  };
  server.OnHeadDocument = [this](TComponent* sender, THttpConnection* client, THttpGetFlag& flags) {
    HttpServer1HeadDocument(sender, client, flags);
  };
}

void TWebFront::HttpServer1GetDocument(TComponent*, THttpConnection* Client, THttpGetFlag& Flags) {
  if (!Client) return;
  // The counter wraps around instead of overflowing after 2^31 requests.
  requestCount_ = static_cast<std::int32_t>(static_cast<std::uint32_t>(requestCount_) + 1u);
  log_.LogLine(IntToStr(requestCount_) + ": GET " + Client->Path());
  if (displayHeader_) LogRequestHeaders(*Client);
  if (SameText(Client->Path(), "/index.html") || SameText(Client->Path(), "/"))
    SendIndexPage(*Client, Flags);
  else
    SendRequestedItem(*Client, Flags);
}

void TWebFront::HttpServer1HeadDocument(TComponent*, THttpConnection* Client, THttpGetFlag&) {
  if (!Client) return;
  requestCount_ = static_cast<std::int32_t>(static_cast<std::uint32_t>(requestCount_) + 1u);
  // Flags stay hfSendFile: the engine answers from its document folder.
  log_.LogLine(IntToStr(requestCount_) + ": HEAD " + Client->Path());
}

void TWebFront::LogRequestHeaders(const THttpConnection& Client) {
  const TStringList& lines = Client.ReqHeaders();
  for (int i = 0; i < lines.Count(); ++i) log_.LogLine("HDR" + IntToStr(i + 1) + ") " + lines[i]);
}

void TWebFront::SendIndexPage(THttpConnection& Client, THttpGetFlag& Flags) {
  Flags = hfSelfAnswer;
  HandOver(Client, [this, &Client](TAnswerStream& answer) { WriteIndexPage(answer, Client.Version()); });
}

void TWebFront::SendRequestedItem(THttpConnection& Client, THttpGetFlag& Flags) {
  Flags = hfSelfAnswer;
  HandOver(Client, [this, &Client](TAnswerStream& answer) { WriteRequestedItem(answer, Client); });
}

void TWebFront::HandOver(THttpConnection& Client, const TAnswerBuilder& build) {
  auto answer = std::make_unique<TAnswerStream>();
  try {
    build(*answer);
  } catch (const std::exception& error) {
    // A client left without an answer would wait on the open connection until it gives up.
    const std::string reason = error.what();
    log_.LogLine(IntToStr(requestCount_) + ": 500 Internal Server Error: " + reason);
    answer = std::make_unique<TAnswerStream>();
    SendInternalError(*answer, Client.Version(), reason);
    Client.CloseAfterAnswer();
  }
  answer->SetPosition(0);
  Client.SetDocumentStream(std::move(answer));
  Client.SendDocumentStream();
}

std::string TWebFront::HtmlHead(const std::string& title) {
  return R"(<html><head><meta http-equiv="content-type" content="text/html; charset=ISO-8859-15"><title>)" + title +
         "</title>" + "</head>";
}

void TWebFront::AddTableRow(std::string& rows, const std::string& cell1, const std::string& cell2,
                            const std::string& cell3, const std::string& cell4) {
  rows.append("<tr>").append(R"(<td width="18">)").append(cell1).append("</td>");
  rows.append(R"(<td width="18">)").append(cell2).append("</td>");
  rows.append(R"(<td width="50%">)").append(cell3).append("</td>");
  rows.append("<td>").append(cell4).append("</td>").append("</tr>");
}

void TWebFront::WriteIndexPage(TStream& answer, const std::string& version) const {
  // The page grows in one block, reserved for what its rows will hold: a row's markup takes
  // less than IndexRowBytes besides the item's path, which it shows twice at most.
  constexpr std::size_t IndexRowBytes = 256;
  std::size_t reserve = 1024;
  for (const TCategoryLook& look : IndexCategories) {
    const TItemList& list = store_.List(look.Category);
    reserve += IndexRowBytes;
    for (int i = 0; i < list.Count(); ++i) reserve += IndexRowBytes + 2 * list.Path(i).size();
  }
  std::string page;
  page.reserve(reserve);
  page.append(HtmlHead("Driftpost")).append("<BODY>").append("<H4>Welcome!</H4>").append("<BR>");
  bool empty = true;
  for (const TCategoryLook& look : IndexCategories) {
    const TItemList& list = store_.List(look.Category);
    if (list.Count() == 0) continue;
    empty = false;
    page += R"(<table cellpadding="0" cellspacing="0" border="0" width="100%">)";
    page += "<tbody>";
    AddTableRow(page, R"(<IMG SRC="folder">)", "", look.Caption, "");
    for (int i = 0; i < list.Count(); ++i) {
      const std::string id = IntToStr(list.Id(i));
      const std::string& path = list.Path(i);
      const std::string file = Utf8ToLatin9(ExtractFileName(path));
      const std::string dir = Utf8ToLatin9(ExtractFilePath(path));
      std::string link;
      switch (look.Category) {
        case TItemCategory::Pictures:
          link = R"(<a href=")" + id + R"(.ahtml">)" + "AVI! " + "</a> " + R"(<a href=")" + id + R"(.html">)" + file +
                 "</a>";
          break;
        case TItemCategory::Sounds:
          link = R"(<A HREF=")" + id + R"(.wav">)" + file + "</a>";
          break;
        case TItemCategory::Packages:
          link = R"(<A HREF=")" + id + R"(.pkg">)" + file + "</a>";
          break;
        case TItemCategory::Others:
          // The full path is the link: a browser asks for it and FindOtherEntry finds it.
          link = R"(<A HREF=")" + Utf8ToLatin9Link(path) + R"(">)" + file + "</a>";
          break;
      }
      AddTableRow(page, "", look.Icon, link, "in " + dir);
    }
    page.append("</tbody>").append("</table><br>");
  }
  if (empty) {
    page += "You have not shared any files yet. <BR>";
    page += "If you wish to share files, please drag documents into the Container on your desktop. <BR>";
  }
  page += std::string("</BODY>") + "</HTML>" + CRLF;
  WriteHtmlAnswer(answer, version, page);
}

void TWebFront::WriteRequestedItem(TAnswerStream& answer, const THttpConnection& Client) const {
  const std::string& path = Client.Path();
  const std::string& version = Client.Version();
  const std::string extension = LowerCase(ExtractFileExt(path));
  const std::string stripped = StripExtension(path);
  // Without its first character, whatever that is (for a proper request the '/').
  const std::string name = stripped.empty() ? std::string() : stripped.substr(1);

  if (IsAllDigits(name)) {
    const std::int32_t id = IdentifierOf(name);
    const TItemList& pictures = store_.List(TItemCategory::Pictures);
    if (int index = pictures.IndexOfId(id); index >= 0) {
      const std::string& picture = pictures.Path(index);
      if (extension == ".html")
        WritePicturePage(answer, version, picture, name);
      else if (extension == ".ahtml")
        WriteAlternativePicturePage(answer, version, picture, name);
      else if (extension == ".jpeg")
        SendPictureAsJpeg(answer, version, picture, false);
      else if (extension == ".ajpeg")
        SendPictureAsJpeg(answer, version, picture, true);
      else if (extension == ".gif")
        SendFileBytes(answer, version, picture, ImageGifLine);
      // Any other extension gets an empty answer: not a byte.
      return;
    }
    const TItemList& sounds = store_.List(TItemCategory::Sounds);
    if (int index = sounds.IndexOfId(id); index >= 0) {
      SendFileBytes(answer, version, sounds.Path(index), AudioWavLine);
      return;
    }
    const TItemList& packages = store_.List(TItemCategory::Packages);
    if (int index = packages.IndexOfId(id); index >= 0) {
      SendFileBytes(answer, version, packages.Path(index), NewtonPackageLine);
      return;
    }
    SendSorryPage(answer, version);
    return;
  }

  for (const TIconName& icon : IconNames) {
    if (name == icon.Name) {
      SendIcon(answer, version, icon.Index);
      return;
    }
  }
  if (int other = FindOtherEntry(path, Client.RequestTarget()); other >= 0) {
    SendFileBytes(answer, version, store_.List(TItemCategory::Others).Path(other), BinaryLine);
    return;
  }
  SendSorryPage(answer, version);
}

void TWebFront::WritePicturePage(TStream& answer, const std::string& version, const std::string& path,
                                 const std::string& name) const {
  const bool gif = LowerCase(ExtractFileExt(path)) == ".gif";
  std::string page = HtmlHead(Utf8ToLatin9(path)) + "<BODY>" + "<CENTER>";
  page += R"(<IMG SRC="/)" + name + (gif ? R"(.gif">)" : R"(.jpeg">)");
  page += std::string("</CENTER>") + "</BODY>" + "</HTML>" + CRLF;
  WriteHtmlAnswer(answer, version, page);
}

void TWebFront::WriteAlternativePicturePage(TStream& answer, const std::string& version, const std::string& path,
                                            const std::string& name) const {
  const bool gif = LowerCase(ExtractFileExt(path)) == ".gif";
  std::string page = R"(<html><head><meta name="ISBN" content="A!:)" +
                     Utf8ToLatin9(ExtractFileName(StripExtension(path))) + R"(">)";
  page += "<title>" + Utf8ToLatin9(ExtractFileName(path)) + "</title>" + "</head>" + "<BODY>";
  page += R"(<IMG SRC="/)" + name + (gif ? R"(.gif">)" : R"(.ajpeg">)");
  page += std::string("</BODY>") + "</HTML>" + CRLF;
  WriteHtmlAnswer(answer, version, page);
}

void TWebFront::SendSorryPage(TStream& answer, const std::string& version) const {
  std::string page = HtmlHead("Sorry") + "<BODY>" + "<BR>";
  page += "<H3>Sorry! The file you are trying to access is not available or access to this file is denied!</H3><BR>";
  page += "<BR>";
  page += R"(<A HREF="/">Back to mainpage</A>)";
  page += std::string("</BODY>") + "</HTML>" + CRLF;
  WriteHtmlAnswer(answer, version, page);
}

void TWebFront::SendInternalError(TStream& answer, const std::string& version, const std::string& reason) const {
  const std::string body = "<HTML><HEAD><TITLE>500 Internal Server Error</TITLE></HEAD><BODY>"
                           "<H1>500 Internal Server Error</H1>" +
                           EscapeHtml(Utf8ToLatin9(reason)) + "<P></BODY></HTML>" + CRLF;
  answer.WriteText(version + " 500 Internal Server Error" + CRLF + TextHtmlLine + CRLF + "Content-Length: " +
                   IntToStr(static_cast<long long>(body.size())) + CRLF + CRLF);
  answer.WriteText(body);
}

void TWebFront::SendFileBytes(TAnswerStream& answer, const std::string& version, const std::string& path,
                              const char* contentTypeLine) const {
  auto file = std::make_unique<TFileStream>(path, fmOpenRead);
  // What was opened is checked, not what the name was a moment before.
  if (!file->Regular()) throw EFOpenError::ForFile(path);
  const std::int64_t size = file->Size();
  WriteAnswerHeader(answer, version, contentTypeLine, size);
  answer.AttachFile(std::move(file), size);
}

void TWebFront::SendPictureAsJpeg(TStream& answer, const std::string& version, const std::string& path,
                                  bool scale) const {
  TMemoryStream jpegData;
  {
    // The picture and its copies live only while the JPEG bytes are made.
    TPicture picture;
    TJPEGImage jpeg;
    // The reader is chosen by the file's extension; a file it cannot read raises its error.
    picture.LoadFile(path);
    const int width = picture.Width(), height = picture.Height();
    if (scale && (width > ScreenSide || height > ScreenSide)) {
      ResamplePicture(picture, FitIntoSquare(width, height, ScreenSide));
    } else if (!dynamic_cast<TBitmap*>(picture.Graphic()) && !dynamic_cast<TJPEGImage*>(picture.Graphic())) {
      // An icon or a metafile cannot be encoded as it is: it is drawn on white first.
      DrawOnWhite(picture);
    }
    // A JPEG file that was not scaled keeps its own bytes; everything else is a bitmap now,
    // whose pixels the encoder takes over.
    if (auto* bitmap = dynamic_cast<TBitmap*>(picture.Graphic()))
      jpeg.TakeBitmap(*bitmap);
    else
      jpeg.CopyFrom(picture.Graphic());
    jpeg.SaveStream(jpegData);
  }
  WriteJpegAnswer(answer, version, jpegData);
}

void TWebFront::SendIcon(TStream& answer, const std::string& version, int index) const {
  const TImageListIcon& icon = TImageList::Instance().Icon(index);
  // The display's own format, white; the icon's transparent parts stay white.
  TBitmap bitmap;
  bitmap.SetSize(TImageList::Width, TImageList::Height);
  for (int y = 0; y < TImageList::Height; ++y) {
    for (int x = 0; x < TImageList::Width; ++x) {
      const std::uint32_t rgb = icon.Over(x, y, 0xFFFFFF);
      bitmap.SetPixel(x, y, RGBColor(static_cast<std::uint8_t>(rgb >> 16), static_cast<std::uint8_t>(rgb >> 8),
                                     static_cast<std::uint8_t>(rgb)));
    }
  }
  TJPEGImage jpeg;
  jpeg.CopyFrom(&bitmap);
  TMemoryStream jpegData;
  jpeg.SaveStream(jpegData);
  WriteJpegAnswer(answer, version, jpegData);
}

int TWebFront::FindOtherEntry(const std::string& requestPath, const std::string& requestTarget) const {
  // The whole target is tried first: a link holding a '?' arrives cut into Path and Params.
  std::vector<std::string> keys;
  for (const std::string* requested : {&requestTarget, &requestPath}) {
    if (requested == &requestTarget && requestTarget.size() <= requestPath.size()) continue;
    // Without its first character: the '/' that the browser put before the path.
    const std::string key = requested->empty() ? std::string() : requested->substr(1);
    for (std::string& form : RequestKeys(key)) keys.push_back(std::move(form));
  }
  const TItemList& others = store_.List(TItemCategory::Others);
  for (TLetterCase letterCase : {TLetterCase::Exact, TLetterCase::Ignored})
    for (const std::string& key : keys)
      for (int i = 0; i < others.Count(); ++i)
        if (KeyNamesPath(key, others.Path(i), letterCase)) return i;
  return -1;
}

}  // namespace driftpost
