// The HTTP engine: a listening server component and its per-client connections.
//
// THttpServer owns a listening TWSocketServer and makes every accepted client a
// THttpConnection (or the descendant chosen with SetClientClass). It republishes the
// connection events as server events that name the connection: OnClientConnect, one
// document event per request (OnGetDocument, OnHeadDocument, OnPostDocument, followed by
// OnPostedData for an accepted POST body), OnClientDisconnect.
//
// A THttpConnection reads one request at a time in line mode (LineEnd LF): the request line,
// the header lines up to the empty line, then it asks its owner through a document event
// what to answer and leaves the decision in Flags:
//   hfSendFile    GET/HEAD: the file Document from DocDir (HEAD: its header only), or 404;
//   hfSendStream  send DocumentStream as it is;
//   hfSelfAnswer  the handler answers itself: it hands a complete answer (status line,
//                 header, empty line, body) to SetDocumentStream and calls
//                 SendDocumentStream; the engine adds nothing to it;
//   hfNotFound    the 404 answer, then close;
//   hfAcceptData  POST: take the body through OnPostedData; GET/HEAD: close.
// An answer leaves in chunks of at most DocumentBlockSize (64 KiB) bytes, one each time the
// send queue has drained, so a long answer never blocks the thread. After it the sending direction is shut
// down and the connection closes, unless the request asked for "Keep-Alive"; a kept-alive
// connection still reads further requests but can no longer answer them.
//
// Protections against the peer: a Path with a ".." segment never reaches a file (404); a
// connection whose kept header lines grow past MaxHeaderBytes, or that sends a line longer
// than LineLimit, is closed. A file answer is read from the file a block at a time
// (TAnswerStream), never held whole.
//
// What a peer does must not cut an answer short. A peer that has finished sending (a
// half-close after its request) still gets the whole answer, then the connection closes.
// Whatever arrives while an answer is on its way is read and dropped, up to
// MaxDiscardedInput bytes; beyond that the connection stops reading and closes once the
// answer has gone. A connection that closes with input still unread first shuts down
// sending and reads on for up to DrainTime (until the peer closes), so that the reset a
// close with unread input would cause cannot destroy the answer on its way.
//
// Time limits (RequestTimeout): a connection must complete its request header within that
// time after connecting (or after its previous answer), and an answer must make progress
// at least once in that time (the system takes more of it, or the peer acknowledges more of
// what the system holds); otherwise the connection is closed and OnDropped says why.
// OnDropped also reports an answer whose document stream failed (a file that shrank while
// it was sent); what was sent of it stays sent.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "http/AnswerStream.h"
#include "net/WSocketS.h"
#include "platform/Stream.h"
#include "platform/StringList.h"

namespace driftpost {

// What a document-event handler decides; see the table above. Handlers may leave other
// values, which close the connection.
enum THttpGetFlag : std::uint8_t { hfSendFile, hfSendStream, hfSelfAnswer, hfNotFound, hfAcceptData };

enum THttpConnectionState : std::uint8_t { hcRequestLine, hcHeaders, hcBody };

// Posted to the connection's own target once the last byte of an answer has been handed
// over: the next request may begin.
constexpr unsigned WM_REQUEST_DONE = WM_USER + 40;
// The connection's time limit has come (see RequestTimeout).
constexpr unsigned WM_HTTP_TIMER = WM_USER + 41;

using THttpGetConnEvent = std::function<void(TComponent* Sender, THttpGetFlag& Flags)>;
// Why the engine ended a connection early, as a sentence for a log.
using THttpDroppedConnEvent = std::function<void(TComponent* Sender, const std::string& Reason)>;

constexpr std::chrono::milliseconds DefaultRequestTimeout{60000};

class THttpConnection : public TWSocketClient {
 public:
  // The most that the header lines kept in ReqHeaders may take, counted as their bytes plus
  // the bookkeeping of one list entry each.
  static constexpr std::size_t MaxHeaderBytes = 1 << 20;
  // The connection's send block size, and so the largest chunk of an answer.
  static constexpr int DocumentBlockSize = 1 << 16;
  static constexpr std::size_t HeaderLineOverhead = sizeof(std::string);
  // The most input read and dropped while an answer is on its way.
  static constexpr std::int64_t MaxDiscardedInput = 1 << 20;
  // How long a closing connection reads on for the peer's end before it closes anyway.
  static constexpr std::chrono::milliseconds DrainTime{2000};

  explicit THttpConnection(TComponent* owner = nullptr);
  ~THttpConnection() override;

  // ---- the request record, valid during a document event
  const std::string& Method() const { return method_; }
  const std::string& Version() const { return version_; }
  // The target up to its first '?', exactly as received.
  const std::string& Path() const { return path_; }
  // The target after its first '?'; empty without one.
  const std::string& Params() const { return params_; }
  // The request target as received, before it is split into Path and Params.
  const std::string& RequestTarget() const { return target_; }
  // Every non-empty header line of this connection so far, also of earlier requests.
  const TStringList& ReqHeaders() const { return reqHeaders_; }
  THttpConnectionState RequestState() const { return requestState_; }
  std::int32_t ReqContentLength() const { return reqContentLength_; }
  const std::string& ReqContentType() const { return reqContentType_; }
  const std::string& ReqAccept() const { return reqAccept_; }
  const std::string& ReqReferer() const { return reqReferer_; }
  const std::string& ReqAcceptLanguage() const { return reqAcceptLanguage_; }
  const std::string& ReqAcceptEncoding() const { return reqAcceptEncoding_; }
  const std::string& ReqUserAgent() const { return reqUserAgent_; }
  const std::string& ReqHost() const { return reqHost_; }
  const std::string& ReqConnection() const { return reqConnection_; }
  bool AcceptPostedData() const { return acceptPostedData_; }

  const std::string& DocDir() const { return docDir_; }
  void SetDocDir(const std::string& value) { docDir_ = value; }
  const std::string& DefaultDoc() const { return defaultDoc_; }
  void SetDefaultDoc(const std::string& value) { defaultDoc_ = value; }
  // DocDir + Path ('/' stays the separator), DefaultDoc appended to a folder path.
  const std::string& Document() const { return document_; }

  // The answer handed over by a handler. The connection owns it from then on and frees it
  // when it has been sent, when another answer replaces it, or with the connection.
  TStream* DocumentStream() const { return documentStream_.get(); }
  void SetDocumentStream(std::unique_ptr<TStream> stream);

  // The time limit for a request header and for each step of an answer (0: none).
  std::chrono::milliseconds RequestTimeout() const { return requestTimeout_; }
  void SetRequestTimeout(std::chrono::milliseconds value);

  // ---- events
  THttpGetConnEvent OnGetDocument;
  THttpGetConnEvent OnHeadDocument;
  THttpGetConnEvent OnPostDocument;
  // Body data of an accepted POST is waiting; the handler reads it (ReceiveText).
  TDataAvailable OnPostedData;
  // The connection is being ended early: a time limit passed, or the answer's stream failed.
  THttpDroppedConnEvent OnDropped;

  // ---- answers
  // Sends DocumentStream from its position to its end, then ends the request. Without a
  // stream the connection is closed.
  void SendDocumentStream();
  // The header for Document and, with sendContent, the file itself. Raises EFOpenError
  // when Document is no regular file inside DocDir or cannot be opened.
  void SendDocumentFile(bool sendContent);
  // The 404 page for Path (its header only for HEAD); the caller closes the connection
  // afterwards.
  void AnswerNotFound();
  // Ends the connection after the current answer even when the request asked for
  // "Keep-Alive" (for answers that report a failure).
  void CloseAfterAnswer() { closeAfterAnswer_ = true; }

  static std::string ContentTypeForFile(const std::string& fileName);

  void WndProc(TMessage& message) override;
  void Dup(TSocket handle) override;

 protected:
  virtual void FireGetDocument(THttpGetFlag& flags);
  virtual void FireHeadDocument(THttpGetFlag& flags);
  virtual void FirePostDocument(THttpGetFlag& flags);
  virtual void FireDropped(const std::string& reason);
  // Reads the next chunk of DocumentStream into the send queue; at its end shuts down
  // sending and posts WM_REQUEST_DONE. Runs each time the send queue has drained. A stream
  // that fails ends the answer there: the connection closes once the queue has drained.
  virtual void PumpDocument();
  // Every byte the system takes is progress of the answer.
  int RawSend(const void* data, int length) override;
  // Whether the peer has acknowledged bytes since this was last asked.
  bool PeerTookMore();
  void FireSessionClosed(int error) override;

 private:
  // What the time limit applies to.
  enum class TTimedPhase { None, Request, Answer };

  void ConnectionDataAvailable(std::uint16_t error);
  void ConnectionDataSent();
  // Reads and drops what is waiting; past MaxDiscardedInput (except while draining) stops
  // reading and marks the connection to close after its answer.
  void DiscardInput();
  // After a request has been dispatched: the input that follows it is dropped unparsed.
  void DropInputDuringAnswer();
  // The peer has finished sending: true when the connection stays open for the answer on
  // its way.
  bool KeepOpenForAnswer();
  bool AnswerInProgress() const;
  // Whether the system holds received bytes that nobody has read.
  bool InputWaiting() const;
  // Closes, first draining unread input (see the header comment).
  void CloseGracefully();
  void BeginDrain();
  void BeginTimedPhase(TTimedPhase phase);
  void ArmTimer(std::chrono::steady_clock::time_point due);
  // When the timer must look next: at the end of the time limit, during an answer sooner.
  std::chrono::steady_clock::time_point NextLook(std::chrono::steady_clock::time_point now) const;
  void StopTimer();
  void TimerFired();
  void ParseRequestLine(const std::string& line);
  void ParseHeaderLine(const std::string& line);
  void Dispatch();
  void AnswerGetOrHead(THttpGetFlag flags, bool sendContent);
  // Whether Document lies inside DocDir and names a regular file.
  bool DocumentServable() const;
  // Whether an answer can still reach the peer: connected, and sending not shut down by an
  // earlier answer.
  bool CanAnswer() const;
  void RequestDone();
  void CutOff();

  std::string rcvdLine_;
  std::string method_;
  std::string version_;
  std::string path_;
  std::string params_;
  std::string target_;
  TStringList reqHeaders_;
  std::size_t reqHeaderBytes_ = 0;
  THttpConnectionState requestState_ = hcRequestLine;
  std::string docDir_;
  std::string defaultDoc_;
  std::string document_;
  std::unique_ptr<TStream> documentStream_;
  std::vector<char> chunk_;
  std::string answerContentType_;
  std::int32_t reqContentLength_ = 0;
  std::string reqContentType_;
  std::string reqAccept_;
  std::string reqReferer_;
  std::string reqAcceptLanguage_;
  std::string reqAcceptEncoding_;
  std::string reqUserAgent_;
  std::string reqHost_;
  std::string reqConnection_;
  bool acceptPostedData_ = false;
  bool answerStarted_ = false;    // something of the current request's answer was queued
  bool sendingShutDown_ = false;  // an earlier answer ended with a shutdown of sending
  bool closeAfterAnswer_ = false;
  bool closeWhenSent_ = false;    // a close waits for the send queue to drain
  bool discardInput_ = false;     // the connection was cut off: nothing more is parsed
  bool peerFinished_ = false;     // the peer has shut down its sending side
  bool draining_ = false;         // sending is shut down; input is read until the peer ends
  std::int64_t discarded_ = 0;    // input dropped during the current answer
  std::chrono::milliseconds requestTimeout_ = DefaultRequestTimeout;
  TTimedPhase timedPhase_ = TTimedPhase::None;
  // The time limit of the phase counts from here: the phase's start, for an answer its last
  // progress. The loop's timer may be due earlier; it then looks again.
  std::chrono::steady_clock::time_point lastActivity_{};
  unsigned timer_ = 0;
  std::chrono::steady_clock::time_point timerDue_{};
  std::int64_t handedOver_ = 0;    // bytes the system has taken from this connection
  std::int64_t acknowledged_ = 0;  // of those, what the peer had acknowledged at the last look
};

// A client class for THttpServer::SetClientClass that is sure to make connections.
template <class T>
constexpr TWSocketClientClass HttpConnectionClassOf() {
  static_assert(std::is_base_of_v<THttpConnection, T>, "an HTTP server's clients are THttpConnections");
  return ClientClassOf<T>();
}

using THttpGetEvent = std::function<void(TComponent* Sender, THttpConnection* Client, THttpGetFlag& Flags)>;
using THttpConnectEvent = std::function<void(TComponent* Sender, THttpConnection* Client, std::uint16_t Error)>;
using THttpPostedDataEvent = THttpConnectEvent;
using THttpDroppedEvent =
    std::function<void(TComponent* Sender, THttpConnection* Client, const std::string& Reason)>;

class THttpServer : public TComponent {
 public:
  explicit THttpServer(TComponent* owner = nullptr);
  // Frees the listening socket and every remaining connection without firing events.
  ~THttpServer() override;

  // Begins listening on Addr:Port; does nothing when already listening. Raises
  // ESocketException when listening fails (the server stays stopped).
  virtual void Start();
  // Stops listening and aborts every connection; each one's OnClientDisconnect follows from
  // the loop.
  virtual void Stop();

  const std::string& Port() const { return port_; }
  // A different value restarts a listening server on it (OnServerStopped, OnServerStarted).
  void SetPort(const std::string& value);
  const std::string& Addr() const { return addr_; }
  void SetAddr(const std::string& value);
  const std::string& DocDir() const { return docDir_; }
  void SetDocDir(const std::string& value) { docDir_ = value; }
  const std::string& DefaultDoc() const { return defaultDoc_; }
  void SetDefaultDoc(const std::string& value) { defaultDoc_ = value; }
  TSocketLingerOnOff LingerOnOff() const { return lingerOnOff_; }
  void SetLingerOnOff(TSocketLingerOnOff value) { lingerOnOff_ = value; }
  int LingerTimeout() const { return lingerTimeout_; }
  void SetLingerTimeout(int value) { lingerTimeout_ = value; }
  // Given to every connection as it connects (see THttpConnection::RequestTimeout).
  std::chrono::milliseconds RequestTimeout() const { return requestTimeout_; }
  void SetRequestTimeout(std::chrono::milliseconds value) { requestTimeout_ = value; }
  // THttpConnection or a descendant (see HttpConnectionClassOf); takes effect at Start.
  TWSocketClientClass ClientClass() const { return clientClass_; }
  void SetClientClass(TWSocketClientClass value);

  // Live connections, the departing one included during its OnClientDisconnect.
  int ClientCount() const;
  // The listening socket, or nullptr once it has been taken away.
  TWSocketServer* ListeningSocket() const { return wsocketServer_; }

  TNotifyEvent OnServerStarted;
  TNotifyEvent OnServerStopped;
  THttpConnectEvent OnClientConnect;
  THttpConnectEvent OnClientDisconnect;
  THttpGetEvent OnGetDocument;
  THttpGetEvent OnHeadDocument;
  THttpGetEvent OnPostDocument;
  THttpPostedDataEvent OnPostedData;
  // A connection was ended early; Reason says why (THttpConnection::OnDropped).
  THttpDroppedEvent OnConnectionDropped;

 protected:
  void Notification(TComponent* component, TOperation operation) override;

  virtual void FireServerStarted();
  virtual void FireServerStopped();
  virtual void FireGetDocument(THttpConnection* client, THttpGetFlag& flags);
  virtual void FireHeadDocument(THttpConnection* client, THttpGetFlag& flags);
  virtual void FirePostDocument(THttpConnection* client, THttpGetFlag& flags);
  virtual void FirePostedData(THttpConnection* client, std::uint16_t error);

 private:
  void WSocketServerClientCreate(TWSocketClient* client);
  void WSocketServerClientConnect(TWSocketClient* client, std::uint16_t error);
  void WSocketServerClientDisconnect(TWSocketClient* client, std::uint16_t error);
  void WSocketServerChangeState(TSocketState newState);
  void WSocketServerSessionClosed();
  void Restart();

  TWSocketServer* wsocketServer_ = nullptr;  // owned as a component
  TWSocketClientClass clientClass_ = HttpConnectionClassOf<THttpConnection>();
  std::string port_ = "80";
  std::string addr_ = "0.0.0.0";
  std::string docDir_ = "wwwroot";
  std::string defaultDoc_ = "index.html";
  TSocketLingerOnOff lingerOnOff_ = wsLingerNoSet;
  int lingerTimeout_ = 0;
  std::chrono::milliseconds requestTimeout_ = DefaultRequestTimeout;
  bool destroying_ = false;
};

}  // namespace driftpost
