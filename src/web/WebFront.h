// The web front: the program's answers to the Newton's requests. It handles the HTTP
// server's GET and HEAD events, maps a request path to an answer (the URL scheme below),
// generates the HTML pages and delivers the shared files.
//
//   "/" or "/index.html" (any letter case)   the index page of every shared item
//   /<id>.html, /<id>.ahtml                   a picture's page and its page scaled to fit
//   /<id>.jpeg, /<id>.ajpeg, /<id>.gif        the picture itself
//   /<id>.<anything>                          a sound or package file
//   /picture, /folder, /package, /sound       the pages' small icons (any extension)
//   /<full path of an Others entry>           that file
//   anything else                             the "Sorry" page
//
// Every GET is answered by the web front itself: the whole answer (status line, header,
// empty line, body) is built in an answer stream first and then handed to the connection.
// Pages and pictures are made in memory; a shared file's bytes are read from the file as
// they are sent (TAnswerStream), never held whole.
// When building fails (a shared file was moved, cannot be read, ...) the client gets
// "500 Internal Server Error" and the connection closes. HEAD requests are left to the
// engine, which answers them from its document folder.
//
// The web front uses the console log, the item store and the header-logging switch, which
// outlive it; it keeps only the request counter.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "container/ItemStore.h"
#include "http/AnswerStream.h"
#include "http/HttpSrv.h"
#include "platform/ConsoleLog.h"
#include "platform/Stream.h"

namespace driftpost {

class TWebFront {
 public:
  TWebFront(TConsoleLog& log, const TItemStore& store, const bool& displayHeader);

  // Binds the server's GET and HEAD events here.
  void BindTo(THttpServer& server);

  // The server's document events.
  void HttpServer1GetDocument(TComponent* Sender, THttpConnection* Client, THttpGetFlag& Flags);
  void HttpServer1HeadDocument(TComponent* Sender, THttpConnection* Client, THttpGetFlag& Flags);

  // GET and HEAD requests so far; the first request of a run is number 1.
  std::int32_t RequestCount() const { return requestCount_; }

  // Builds the index page and hands it to the connection.
  void SendIndexPage(THttpConnection& Client, THttpGetFlag& Flags);
  // Routes every other path and hands its answer to the connection.
  void SendRequestedItem(THttpConnection& Client, THttpGetFlag& Flags);
  // One "HDR" line per header line that the connection has received.
  void LogRequestHeaders(const THttpConnection& Client);

  // The position in Others of the entry that a request names, or -1. `requestPath` is the
  // connection's Path, `requestTarget` the target it was cut from (with a query, when the
  // entry's link held a '?'). An entry named byte for byte wins over one whose name differs
  // only in letter case, which this platform's file names do not ignore.
  int FindOtherEntry(const std::string& requestPath, const std::string& requestTarget) const;

  static std::string HtmlHead(const std::string& title);
  static void AddTableRow(std::string& rows, const std::string& cell1, const std::string& cell2,
                          const std::string& cell3, const std::string& cell4);

 private:
  using TAnswerBuilder = std::function<void(TAnswerStream& answer)>;

  // Builds an answer with `build` and hands it over; a failure becomes the 500 answer.
  void HandOver(THttpConnection& Client, const TAnswerBuilder& build);
  void WriteIndexPage(TStream& answer, const std::string& version) const;
  void WriteRequestedItem(TAnswerStream& answer, const THttpConnection& Client) const;
  void WritePicturePage(TStream& answer, const std::string& version, const std::string& path,
                        const std::string& name) const;
  void WriteAlternativePicturePage(TStream& answer, const std::string& version, const std::string& path,
                                   const std::string& name) const;
  void SendSorryPage(TStream& answer, const std::string& version) const;
  void SendInternalError(TStream& answer, const std::string& version, const std::string& reason) const;

  // Deliveries.
  // The header and the file as the answer's tail, read as it is sent.
  void SendFileBytes(TAnswerStream& answer, const std::string& version, const std::string& path,
                     const char* contentTypeLine) const;
  // The picture as JPEG, at its own size or, with `scale`, shrunk with the triangle filter to
  // fit 320 by 320 when it is larger. A JPEG file that is not shrunk goes out with its own
  // bytes; any other picture is decoded and encoded anew, an icon or a metafile drawn on
  // white first. Raises the picture pipeline's errors: an unknown extension, a damaged file.
  void SendPictureAsJpeg(TStream& answer, const std::string& version, const std::string& path, bool scale) const;
  // One of the pages' 16 by 16 icons as JPEG (`index` in the program's image list), on white.
  void SendIcon(TStream& answer, const std::string& version, int index) const;

  TConsoleLog& log_;
  const TItemStore& store_;
  const bool& displayHeader_;
  std::int32_t requestCount_ = 0;
};

}  // namespace driftpost
