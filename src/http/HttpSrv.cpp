#include "http/HttpSrv.h"

#include <cctype>
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

// "HTTP/" and a digit, a dot and a digit: a version that may be echoed in a status line.
bool IsHttpVersion(const std::string& version) {
  auto digit = [&version](std::size_t i) { return std::isdigit(static_cast<unsigned char>(version[i])) != 0; };
  return version.size() == 8 && version.compare(0, 5, "HTTP/") == 0 && digit(5) && version[6] == '.' && digit(7);
}

// A time limit as a log shows it: "60 s", or "0.25 s" for a fraction.
std::string SecondsText(std::chrono::milliseconds time) {
  const long long ms = time.count();
  if (ms % 1000 == 0) return IntToStr(ms / 1000) + " s";
  std::string fraction = IntToStr(1000 + ms % 1000).substr(1);
  while (fraction.back() == '0') fraction.pop_back();
  return IntToStr(ms / 1000) + "." + fraction + " s";
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
  StopTimer();
}

void THttpConnection::SetDocumentStream(std::unique_ptr<TStream> stream) { documentStream_ = std::move(stream); }

bool THttpConnection::CanAnswer() const {
  return !sendingShutDown_ && hSocket_ != INVALID_SOCKET && state_ == wsConnected;
}

void THttpConnection::Dup(TSocket handle) {
  TWSocketClient::Dup(handle);
  if (state_ == wsConnected) BeginTimedPhase(TTimedPhase::Request);
}

void THttpConnection::ConnectionDataAvailable(std::uint16_t error) {
  if (discardInput_) {
    ReceiveText();
    return;
  }
  if (draining_) {
    DiscardInput();
    return;
  }
  if (requestState_ == hcBody) {
    if (acceptPostedData_ && OnPostedData) {
      lastActivity_ = std::chrono::steady_clock::now();
      int waiting = RcvdCount();
      OnPostedData(this, error);
      // Line mode offers an unread line again and again: a handler that leaves it loses it.
      if (LineMode() && waiting > 0 && RcvdCount() == waiting) ReceiveText();
      return;
    }
    DiscardInput();  // not asked for: dropped
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
  // The version is echoed in the status line: anything but a real one would put the
  // client's bytes there.
  if (!IsHttpVersion(version_)) version_ = "HTTP/1.0";
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

void THttpConnection::DiscardInput() {
  char scratch[16384];
  const int got = Receive(scratch, sizeof scratch);
  if (got > 0) discarded_ += got;
  if (!draining_ && discarded_ > MaxDiscardedInput && !ReceivingPaused()) {
    // Enough: the peer waits until the answer has gone, and the connection then closes.
    closeAfterAnswer_ = true;
    PauseReceiving();
  }
}

void THttpConnection::Dispatch() {
  BeginTimedPhase(TTimedPhase::Answer);
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
    DropInputDuringAnswer();
    throw;
  }
  DropInputDuringAnswer();
}

void THttpConnection::DropInputDuringAnswer() {
  // Nothing after the request can be answered on this connection (sending ends with the
  // answer), so it is no longer parsed: it is read raw and dropped, and no line limit can
  // cut the answer short.
  if (requestState_ == hcBody && !acceptPostedData_) {
    discarded_ = 0;
    SetLineMode(false);
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
  // The name may have been given to something else since it was looked at.
  if (!file->Regular()) throw EFOpenError::ForFile(document_);
  const std::int64_t size = file->Size();
  auto answer = std::make_unique<TAnswerStream>();
  if (sendContent) answer->AttachFile(std::move(file), size);
  documentStream_ = std::move(answer);
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
  std::int64_t got;
  try {
    got = documentStream_->Read(chunk_.data(), static_cast<std::int64_t>(chunk_.size()));
  } catch (const std::exception& failure) {
    // The rest of the answer cannot be had: what is queued still leaves, then the
    // connection closes, so the client sees the answer end early.
    documentStream_.reset();
    closeAfterAnswer_ = true;
    FireDropped(failure.what());
    CloseLater();
    return;
  }
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
    CloseGracefully();
  }
}

int THttpConnection::RawSend(const void* data, int length) {
  int sent = TWSocketClient::RawSend(data, length);
  if (sent > 0) {
    handedOver_ += sent;
    lastActivity_ = std::chrono::steady_clock::now();
  }
  return sent;
}

bool THttpConnection::PeerTookMore() {
  // The system may hold megabytes of an answer: a slow peer takes them for a long time
  // without room for more, and that is progress too.
  unsigned long waiting = 0;
  if (hSocket_ == INVALID_SOCKET || winsock::BytesUnacknowledged(hSocket_, waiting) != 0) return false;
  const std::int64_t acknowledged = handedOver_ - static_cast<std::int64_t>(waiting);
  if (acknowledged <= acknowledged_) return false;
  acknowledged_ = acknowledged;
  return true;
}

void THttpConnection::AnswerNotFound() {
  if (!CanAnswer()) return;
  answerStarted_ = true;
  const std::string body = "<HTML><HEAD><TITLE>404 Not Found</TITLE></HEAD><BODY><H1>404 Not Found</H1>The "
                           "requested URL " +
                           EscapeHtml(path_) + " was not found on this server.<P></BODY></HTML>" + CRLF;
  const std::string header = version_ + " 404 Not Found" + CRLF + "Content-Type: text/html" + CRLF +
                             "Content-Length: " + IntToStr(static_cast<long long>(body.size())) + CRLF + CRLF;
  // The answer to HEAD is the header that GET would get, without its body.
  if (method_ == "HEAD") {
    SendText(header);
    return;
  }
  QueueText(header);
  SendText(body);
}

void THttpConnection::RequestDone() {
  requestState_ = hcRequestLine;
  SetLineMode(true);
  if (peerFinished_ || closeAfterAnswer_ || !SameText(reqConnection_, "Keep-Alive")) {
    CloseLater();
    return;
  }
  BeginTimedPhase(TTimedPhase::Request);
}

bool THttpConnection::AnswerInProgress() const {
  // A stream handed over but never sent (a POST handler's) is no answer on its way.
  return !AllSent() || closeWhenSent_ || (documentStream_ && answerStarted_ && !sendingShutDown_);
}

bool THttpConnection::InputWaiting() const {
  // Only what the system holds unread makes a close reset the connection.
  unsigned long waiting = 0;
  return hSocket_ != INVALID_SOCKET && winsock::BytesWaiting(hSocket_, waiting) == 0 && waiting > 0;
}

bool THttpConnection::KeepOpenForAnswer() {
  peerFinished_ = true;
  // What came before the end is taken first; it may be the request itself.
  ReadLoop(0);
  return hSocket_ != INVALID_SOCKET && state_ == wsConnected && AnswerInProgress();
}

void THttpConnection::CloseGracefully() {
  if (hSocket_ == INVALID_SOCKET || state_ != wsConnected || draining_) {
    if (!draining_) Close();
    return;
  }
  if (peerFinished_) {
    // All the peer will ever send is here already: taken, it cannot cause a reset.
    while (InputWaiting() && hSocket_ != INVALID_SOCKET) {
      char scratch[16384];
      if (Receive(scratch, sizeof scratch) <= 0) break;
    }
    Close();
    return;
  }
  if (InputWaiting()) {
    BeginDrain();
    return;
  }
  Close();
}

void THttpConnection::BeginDrain() {
  Shutdown(1);
  sendingShutDown_ = true;
  draining_ = true;
  SetLineMode(false);
  ResumeReceiving();
  timedPhase_ = TTimedPhase::None;
  StopTimer();
  ArmTimer(std::chrono::steady_clock::now() + DrainTime);
  // Whatever waits already is taken now; the rest as it comes, until the peer closes.
  ReadLoop(0);
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
      CloseGracefully();
      return;
    case WM_HTTP_TIMER:
      TimerFired();
      return;
    case WM_SOCKET_SELECT: {
      // The peer's end of sending (not a reset) must not discard the answer still on its
      // way: the connection stays until it has gone.
      const long events = SelectEvent(message.LParam);
      const int error = SelectError(message.LParam);
      if (!(events & FD_CLOSE) || error != 0 || hSocket_ == INVALID_SOCKET ||
          static_cast<TSocket>(message.WParam) != hSocket_ || paused_ || state_ != wsConnected)
        break;
      if (events != FD_CLOSE) {
        TMessage others = message;
        others.LParam = MakeSelectLParam(events & ~FD_CLOSE, error);
        TWSocketClient::WndProc(others);
        if (hSocket_ == INVALID_SOCKET || static_cast<TSocket>(message.WParam) != hSocket_) return;
      }
      if (KeepOpenForAnswer()) return;
      if (hSocket_ == INVALID_SOCKET || static_cast<TSocket>(message.WParam) != hSocket_) return;
      TMessage close = message;
      close.LParam = MakeSelectLParam(FD_CLOSE, 0);
      TWSocketClient::WndProc(close);
      return;
    }
    default:
      break;
  }
  TWSocketClient::WndProc(message);
}

// ------------------------------------------------------------------ time limits

void THttpConnection::SetRequestTimeout(std::chrono::milliseconds value) {
  requestTimeout_ = std::max(value, std::chrono::milliseconds(0));
  if (timedPhase_ != TTimedPhase::None) BeginTimedPhase(timedPhase_);
}

void THttpConnection::BeginTimedPhase(TTimedPhase phase) {
  timedPhase_ = phase;
  lastActivity_ = std::chrono::steady_clock::now();
  PeerTookMore();
  if (requestTimeout_.count() <= 0 || draining_) {
    if (!draining_) StopTimer();
    return;
  }
  ArmTimer(NextLook(lastActivity_));
}

std::chrono::steady_clock::time_point THttpConnection::NextLook(std::chrono::steady_clock::time_point now) const {
  // What the peer acknowledges is seen only when it is looked at: during an answer that is
  // done four times in each time limit, so that a peer that stopped taking is found soon.
  const auto due = lastActivity_ + requestTimeout_;
  if (timedPhase_ != TTimedPhase::Answer) return due;
  return std::min(due, now + requestTimeout_ / 4);
}

void THttpConnection::ArmTimer(std::chrono::steady_clock::time_point due) {
  // A timer that comes earlier looks again then; only a later one must be replaced.
  if (timer_ != 0 && timerDue_ <= due) return;
  StopTimer();
  timerDue_ = due;
  const auto delay = std::chrono::ceil<std::chrono::milliseconds>(due - std::chrono::steady_clock::now());
  timer_ = loop_.SetTimer(handle_, WM_HTTP_TIMER, std::max(delay, std::chrono::milliseconds(0)));
}

void THttpConnection::StopTimer() {
  if (timer_ != 0) loop_.KillTimer(timer_);
  timer_ = 0;
}

void THttpConnection::TimerFired() {
  timer_ = 0;
  if (hSocket_ == INVALID_SOCKET || state_ != wsConnected) return;
  if (draining_) {
    Close();
    return;
  }
  if (timedPhase_ == TTimedPhase::None || requestTimeout_.count() <= 0) return;
  const auto now = std::chrono::steady_clock::now();
  if (timedPhase_ == TTimedPhase::Answer && PeerTookMore()) lastActivity_ = now;
  if (now < lastActivity_ + requestTimeout_) {
    ArmTimer(NextLook(now));
    return;
  }
  if (timedPhase_ == TTimedPhase::Request) {
    FireDropped("no complete request within " + SecondsText(requestTimeout_));
    Close();
  } else {
    FireDropped("the answer made no progress for " + SecondsText(requestTimeout_));
    // Nothing queued can reach this peer: the system lets go of it at once.
    Abort();
  }
}

void THttpConnection::FireSessionClosed(int error) {
  timedPhase_ = TTimedPhase::None;
  StopTimer();
  TWSocketClient::FireSessionClosed(error);
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

void THttpConnection::FireDropped(const std::string& reason) {
  if (OnDropped && !destroying_) OnDropped(this, reason);
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
  connection->OnDropped = [this, connection](TComponent*, const std::string& reason) {
    if (OnConnectionDropped) OnConnectionDropped(this, connection, reason);
  };
  connection->SetRequestTimeout(requestTimeout_);
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
