#include "http/HttpSrv.h"

#include <string_view>
#include <sys/stat.h>

#include "platform/Format.h"
#include "platform/TextUtils.h"

namespace driftpost {

namespace {

constexpr const char* CRLF = "\r\n";

bool StartsWithText(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && SameText(std::string(text.substr(0, prefix.size())), std::string(prefix));
}

std::string WithoutLeadingBlanks(const std::string& text) {
  std::size_t first = text.find_first_not_of(" \t");
  return first == std::string::npos ? std::string() : text.substr(first);
}

struct TWord {
  std::size_t Start;
  std::size_t End;
};

// The blank-separated words of a line, as positions.
std::vector<TWord> SplitWords(const std::string& line) {
  std::vector<TWord> words;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && line[i] == ' ') ++i;
    if (i == line.size()) break;
    std::size_t end = line.find(' ', i);
    if (end == std::string::npos) end = line.size();
    words.push_back({i, end});
    i = end;
  }
  return words;
}

bool HasParentSegment(std::string_view path) {
  std::size_t start = 0;
  for (;;) {
    std::size_t slash = path.find('/', start);
    std::string_view segment = path.substr(start, slash == std::string_view::npos ? std::string_view::npos : slash - start);
    if (segment == "..") return true;
    if (slash == std::string_view::npos) return false;
    start = slash + 1;
  }
}

}  // namespace

// ------------------------------------------------------------------ connection

THttpConnection::THttpConnection(TComponent* owner) : TWSocketClient(owner) {
  // An answer is read from its stream and handed to the system in blocks of this size,
  // one per loop turn: a file of megabytes then takes a few hundred turns, not thousands.
  SetBufSize(DocumentBlockSize);
  SetLineMode(true);
  SetLineEdit(false);
  SetLineEnd("\n");
  OnDataAvailable = [this](TComponent*, std::uint16_t error) { ConnectionDataAvailable(error); };
  OnDataSent = [this](TComponent*, std::uint16_t) { ConnectionDataSent(); };
}

THttpConnection::~THttpConnection() {
  // The socket below closes after this object's parts are gone: nothing may call back here.
  destroying_ = true;
  OnDataAvailable = nullptr;
  OnDataSent = nullptr;
}

void THttpConnection::SetDocumentStream(std::unique_ptr<TStream> stream) { documentStream_ = std::move(stream); }

bool THttpConnection::CanAnswer() const {
  return !sendingShutDown_ && hSocket_ != INVALID_SOCKET && state_ == wsConnected;
}

void THttpConnection::ConnectionDataAvailable(std::uint16_t error) {
  if (discardInput_) {
    ReceiveText();
    return;
  }
  if (requestState_ == hcBody) {
    if (acceptPostedData_ && OnPostedData) {
      int waiting = RcvdCount();
      OnPostedData(this, error);
      // Line mode offers an unread line again and again: a handler that leaves it loses it.
      if (LineMode() && waiting > 0 && RcvdCount() == waiting) ReceiveText();
      return;
    }
    ReceiveText();  // not asked for: dropped
    return;
  }

  std::string line = ReceiveText();
  if (!line.empty() && line.back() == '\n') line.pop_back();
  if (!line.empty() && line.back() == '\r') line.pop_back();
  rcvdLine_ = line;

  if (requestState_ == hcRequestLine) {
    reqContentLength_ = 0;
    for (std::string* field : {&reqContentType_, &reqAccept_, &reqReferer_, &reqAcceptLanguage_, &reqAcceptEncoding_,
                               &reqUserAgent_, &reqHost_, &reqConnection_})
      field->clear();
    answerStarted_ = false;
    closeAfterAnswer_ = false;
    ParseRequestLine(rcvdLine_);
    requestState_ = hcHeaders;
    return;
  }
  if (!rcvdLine_.empty()) {
    ParseHeaderLine(rcvdLine_);
    return;
  }
  requestState_ = hcBody;
  Dispatch();
}

void THttpConnection::ParseRequestLine(const std::string& line) {
  std::size_t blank = line.find(' ');
  method_ = UpperCase(line.substr(0, blank));
  std::vector<TWord> words = SplitWords(line);
  auto wordText = [&line](const TWord& word) { return line.substr(word.Start, word.End - word.Start); };
  // The method is everything before the first blank (nothing when the line starts with
  // one); the words after it are the target and the version.
  const std::size_t first = blank == 0 ? 0 : 1;
  target_.clear();
  std::string version;
  if (words.size() > first) target_ = wordText(words[first]);
  if (words.size() > first + 1) version = wordText(words[first + 1]);
  // An old browser writes the blanks of a link into the request line as they are. When the
  // line ends in a protocol version after more words than that, the target runs up to it.
  if (words.size() > first + 2 && StartsWithText(wordText(words.back()), "HTTP/")) {
    target_ = line.substr(words[first].Start, words[words.size() - 2].End - words[first].Start);
    version = wordText(words.back());
  }
  std::size_t question = target_.find('?');
  if (question == std::string::npos) {
    path_ = target_;
    params_.clear();
  } else {
    path_ = target_.substr(0, question);
    params_ = target_.substr(question + 1);
  }
  version_ = UpperCase(Trim(version));
  if (version_.empty()) version_ = "HTTP/1.0";
}

void THttpConnection::ParseHeaderLine(const std::string& line) {
  std::size_t cost = line.size() + HeaderLineOverhead;
  if (reqHeaderBytes_ + cost > MaxHeaderBytes) {
    CutOff();
    return;
  }
  reqHeaderBytes_ += cost;
  std::size_t colon = line.find(':');
  if (colon != std::string::npos) {
    const std::string value = WithoutLeadingBlanks(line.substr(colon + 1));
    if (StartsWithText(line, "content-type:")) {
      reqContentType_ = value;
    } else if (StartsWithText(line, "content-length:")) {
      // A value that is not a number is ignored.
      if (std::optional<std::int32_t> length = TryStrToInt(value)) reqContentLength_ = *length;
    } else if (StartsWithText(line, "Accept:")) {
      reqAccept_ = value;
    } else if (StartsWithText(line, "Referer:")) {
      reqReferer_ = value;
    } else if (StartsWithText(line, "Accept-Language:")) {
      reqAcceptLanguage_ = value;
    } else if (StartsWithText(line, "Accept-Encoding:")) {
      reqAcceptEncoding_ = value;
    } else if (StartsWithText(line, "User-Agent:")) {
      reqUserAgent_ = value;
    } else if (StartsWithText(line, "Host:")) {
      reqHost_ = value;
    } else if (StartsWithText(line, "Connection:")) {
      reqConnection_ = value;
    }
  }
  reqHeaders_.Add(line);
}

void THttpConnection::CutOff() {
  // The rest of what the peer sent is never parsed, also not the final line that closing
  // offers.
  discardInput_ = true;
  documentStream_.reset();
  Close();
}

void THttpConnection::Dispatch() {
  if (!path_.empty() && path_[0] == '/')
    document_ = docDir_ + path_;
  else
    document_ = docDir_ + "/" + path_;
  if (document_.back() == '/') document_ += defaultDoc_;

  try {
    THttpGetFlag flags;
    if (method_ == "GET") {
      flags = hfSendFile;
      FireGetDocument(flags);
      AnswerGetOrHead(flags, true);
    } else if (method_ == "POST") {
      flags = hfNotFound;
      FirePostDocument(flags);
      if (flags == hfNotFound) {
        AnswerNotFound();
        CloseLater();
      } else if (flags == hfAcceptData) {
        acceptPostedData_ = true;
      }
    } else if (method_ == "HEAD") {
      flags = hfSendFile;
      FireHeadDocument(flags);
      AnswerGetOrHead(flags, false);
    } else {
      AnswerNotFound();
      CloseLater();
    }
  } catch (...) {
    // Nothing will answer this request any more: the client is not left waiting for it.
    if (!answerStarted_) CloseLater();
    throw;
  }
}

void THttpConnection::AnswerGetOrHead(THttpGetFlag flags, bool sendContent) {
  switch (flags) {
    case hfSendFile:
      try {
        SendDocumentFile(sendContent);
        return;
      } catch (const EFOpenError&) {
        // Missing, outside the folder, or there but unreadable: all alike unavailable.
      }
      AnswerNotFound();
      CloseLater();
      return;
    case hfSendStream:
      SendDocumentStream();
      return;
    case hfSelfAnswer:
      return;
    case hfNotFound:
      AnswerNotFound();
      CloseLater();
      return;
    default:
      CloseLater();
      return;
  }
}

bool THttpConnection::DocumentServable() const {
  // Without a document folder, Document would be a path from the root of the file system.
  if (docDir_.empty() || document_.size() < docDir_.size()) return false;
  std::string_view requested = std::string_view(document_).substr(docDir_.size());
  if (requested.find('\0') != std::string_view::npos || HasParentSegment(requested)) return false;
  struct stat info;
  return ::stat(document_.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::string THttpConnection::ContentTypeForFile(const std::string& fileName) {
  std::string extension = LowerCase(ExtractFileExt(fileName));
  if (!extension.empty()) extension.erase(0, 1);
  if (extension == "htm" || extension == "html") return "text/html";
  if (extension == "gif") return "image/gif";
  if (extension == "bmp") return "image/bmp";
  if (extension == "jpg" || extension == "jpeg") return "image/jpeg";
  if (extension == "txt") return "text/plain";
  return "application/binary";
}

void THttpConnection::SendDocumentFile(bool sendContent) {
  if (!DocumentServable()) throw EFOpenError::ForFile(document_);
  answerContentType_ = ContentTypeForFile(document_);
  documentStream_.reset();
  auto file = std::make_unique<TFileStream>(document_, fmOpenRead | fmShareDenyWrite);
  const std::int64_t size = file->Size();
  if (!sendContent) file->Seek(0, TSeekOrigin::soEnd);
  documentStream_ = std::move(file);
  if (!CanAnswer()) {
    documentStream_.reset();
    CloseLater();
    return;
  }
  answerStarted_ = true;
  SendText(version_ + " 200 OK" + CRLF + "Content-Type: " + answerContentType_ + CRLF +
           "Content-Length: " + IntToStr(size) + CRLF + CRLF);
  if (sendContent) SendDocumentStream();
}

void THttpConnection::SendDocumentStream() {
  if (!documentStream_) {
    CloseLater();
    return;
  }
  if (!CanAnswer()) {
    // After an earlier answer shut sending down (or the peer left) nothing can reach the
    // client; waiting would only keep the connection open.
    documentStream_.reset();
    CloseLater();
    return;
  }
  if (chunk_.empty()) chunk_.resize(static_cast<std::size_t>(BufSize()));
  answerStarted_ = true;
  PumpDocument();
}

void THttpConnection::PumpDocument() {
  if (!documentStream_) return;
  if (chunk_.empty()) chunk_.resize(static_cast<std::size_t>(BufSize()));
  std::int64_t got = documentStream_->Read(chunk_.data(), static_cast<std::int64_t>(chunk_.size()));
  if (got > 0) {
    Send(chunk_.data(), static_cast<int>(got));
    return;
  }
  // Whatever is still queued (a header) leaves before sending is shut down; the next
  // OnDataSent comes back here.
  if (!AllSent()) return;
  documentStream_.reset();
  // Shutting down sending also pushes out a last short segment that Nagle's algorithm may
  // hold back, so the end of an answer never waits for the peer's delayed acknowledgement.
  Shutdown(1);
  sendingShutDown_ = true;
  loop_.PostMessage(handle_, WM_REQUEST_DONE, 0, 0);
}

void THttpConnection::ConnectionDataSent() {
  PumpDocument();
  if (closeWhenSent_ && AllSent()) {
    closeWhenSent_ = false;
    Close();
  }
}

void THttpConnection::AnswerNotFound() {
  if (!CanAnswer()) return;
  answerStarted_ = true;
  const std::string body =
      "<HTML><HEAD><TITLE>404 Not Found</TITLE></HEAD><BODY><H1>404 Not Found</H1>The requested URL " + path_ +
      " was not found on this server.<P></BODY></HTML>" + CRLF;
  QueueText(version_ + " 404 Not Found" + CRLF + "Content-Type: text/html" + CRLF +
            "Content-Length: " + IntToStr(static_cast<long long>(body.size())) + CRLF + CRLF);
  SendText(body);
}

void THttpConnection::RequestDone() {
  requestState_ = hcRequestLine;
  if (closeAfterAnswer_ || !SameText(reqConnection_, "Keep-Alive")) CloseLater();
}

void THttpConnection::WndProc(TMessage& message) {
  switch (message.Msg) {
    case WM_REQUEST_DONE:
      RequestDone();
      return;
    case WM_CLOSE_LATER:
      // Closing drops what the send queue still holds: an answer that is on its way (the
      // 404 page) is let out first.
      if (hSocket_ != INVALID_SOCKET && state_ == wsConnected && !AllSent()) {
        closeWhenSent_ = true;
        return;
      }
      break;
    default:
      break;
  }
  TWSocketClient::WndProc(message);
}

void THttpConnection::FireGetDocument(THttpGetFlag& flags) {
  if (OnGetDocument) OnGetDocument(this, flags);
}

void THttpConnection::FireHeadDocument(THttpGetFlag& flags) {
  if (OnHeadDocument) OnHeadDocument(this, flags);
}

void THttpConnection::FirePostDocument(THttpGetFlag& flags) {
  if (OnPostDocument) OnPostDocument(this, flags);
}

// ------------------------------------------------------------------ server

THttpServer::THttpServer(TComponent* owner) : TComponent(owner) { wsocketServer_ = new TWSocketServer(this); }

THttpServer::~THttpServer() {
  destroying_ = true;
  TWSocketServer* socket = wsocketServer_;
  wsocketServer_ = nullptr;
  // The listening socket frees its connections; nothing fires while it goes.
  delete socket;
}

void THttpServer::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation == TOperation::opRemove && component == wsocketServer_) wsocketServer_ = nullptr;
}

void THttpServer::SetClientClass(TWSocketClientClass value) {
  clientClass_ = value ? value : HttpConnectionClassOf<THttpConnection>();
}

int THttpServer::ClientCount() const { return wsocketServer_ ? wsocketServer_->ClientCount() : 0; }

void THttpServer::Start() {
  if (!wsocketServer_) wsocketServer_ = new TWSocketServer(this);
  TWSocketServer& socket = *wsocketServer_;
  if (socket.State() == wsListening) return;
  socket.SetClientClass(clientClass_);
  socket.OnClientCreate = [this](TComponent*, TWSocketClient* client) { WSocketServerClientCreate(client); };
  socket.OnClientConnect = [this](TComponent*, TWSocketClient* client, std::uint16_t error) {
    WSocketServerClientConnect(client, error);
  };
  socket.OnClientDisconnect = [this](TComponent*, TWSocketClient* client, std::uint16_t error) {
    WSocketServerClientDisconnect(client, error);
  };
  socket.OnSessionClosed = [this](TComponent*, std::uint16_t) { WSocketServerSessionClosed(); };
  socket.OnChangeState = [this](TComponent*, TSocketState, TSocketState newState) {
    WSocketServerChangeState(newState);
  };
  socket.SetBanner("");
  socket.SetProto("tcp");
  socket.SetPort(port_);
  socket.SetAddr(addr_);
  try {
    socket.Listen();
  } catch (...) {
    // A socket bound but not listening would refuse the next Start's settings. It never
    // served, so its closing is not reported as the server stopping.
    if (wsocketServer_ && wsocketServer_->State() != wsClosed) {
      wsocketServer_->OnSessionClosed = nullptr;
      wsocketServer_->Close();
    }
    throw;
  }
}

void THttpServer::Stop() {
  if (!wsocketServer_) return;
  wsocketServer_->Close();
  for (int i = wsocketServer_->ClientCount() - 1; i >= 0; --i) {
    TWSocketClient* client = wsocketServer_->Client(i);
    if (!client) continue;
    try {
      client->Abort();
    } catch (...) {
    }
  }
}

void THttpServer::SetPort(const std::string& value) {
  if (value == port_) return;
  port_ = value;
  Restart();
}

void THttpServer::SetAddr(const std::string& value) {
  if (value == addr_) return;
  addr_ = value;
  Restart();
}

void THttpServer::Restart() {
  if (!wsocketServer_ || wsocketServer_->State() != wsListening) return;
  // Only the listening socket closes; the open connections go on.
  wsocketServer_->Close();
  Start();
}

void THttpServer::WSocketServerClientCreate(TWSocketClient* client) {
  // Taken over when the connection adopts its socket.
  client->SetLingerOnOff(lingerOnOff_);
  client->SetLingerTimeout(lingerTimeout_);
}

void THttpServer::WSocketServerClientConnect(TWSocketClient* client, std::uint16_t error) {
  auto* connection = dynamic_cast<THttpConnection*>(client);
  if (!connection) {
    client->CloseLater();
    return;
  }
  connection->SetLineMode(true);
  connection->SetLineEdit(false);
  connection->SetLineEnd("\n");
  connection->SetDocDir(docDir_);
  connection->SetDefaultDoc(defaultDoc_);
  connection->OnGetDocument = [this, connection](TComponent*, THttpGetFlag& flags) {
    FireGetDocument(connection, flags);
  };
  connection->OnHeadDocument = [this, connection](TComponent*, THttpGetFlag& flags) {
    FireHeadDocument(connection, flags);
  };
  connection->OnPostDocument = [this, connection](TComponent*, THttpGetFlag& flags) {
    FirePostDocument(connection, flags);
  };
  connection->OnPostedData = [this, connection](TComponent*, std::uint16_t postError) {
    FirePostedData(connection, postError);
  };
  if (OnClientConnect) OnClientConnect(this, connection, error);
}

void THttpServer::WSocketServerClientDisconnect(TWSocketClient* client, std::uint16_t error) {
  auto* connection = dynamic_cast<THttpConnection*>(client);
  if (connection && OnClientDisconnect) OnClientDisconnect(this, connection, error);
}

void THttpServer::WSocketServerChangeState(TSocketState newState) {
  if (newState == wsListening) FireServerStarted();
}

void THttpServer::WSocketServerSessionClosed() {
  if (!destroying_) FireServerStopped();
}

void THttpServer::FireServerStarted() {
  if (OnServerStarted) OnServerStarted(this);
}

void THttpServer::FireServerStopped() {
  if (OnServerStopped) OnServerStopped(this);
}

void THttpServer::FireGetDocument(THttpConnection* client, THttpGetFlag& flags) {
  if (OnGetDocument) OnGetDocument(this, client, flags);
}

void THttpServer::FireHeadDocument(THttpConnection* client, THttpGetFlag& flags) {
  if (OnHeadDocument) OnHeadDocument(this, client, flags);
}

void THttpServer::FirePostDocument(THttpConnection* client, THttpGetFlag& flags) {
  if (OnPostDocument) OnPostDocument(this, client, flags);
}

void THttpServer::FirePostedData(THttpConnection* client, std::uint16_t error) {
  if (OnPostedData) OnPostedData(this, client, error);
}

}  // namespace driftpost
