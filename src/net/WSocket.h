// The asynchronous socket component and the free functions the socket layer shares.
//
// TWSocket is a non-blocking TCP (or UDP) socket that never blocks the thread it belongs
// to. Each instance registers a message target (its "hidden window") with the thread's
// TMessageLoop; readiness notifications and name-lookup completions arrive there as
// messages and become events (OnDataAvailable, OnDataSent, OnSessionClosed, ...). Data
// given to Send is copied into a queue of TBuffer blocks and leaves as the connection
// drains; OnDataSent fires once each time the queue has run empty. In line mode received
// bytes are collected and offered to OnDataAvailable one line at a time (LineEnd included),
// which the handler reads with ReceiveText.
//
// The class chain: TCustomWSocket (states, notifications, send queue, close, errors,
// lookups) -> TCustomSocksWSocket (SOCKS settings; connecting through a SOCKS server is not
// supported) -> TCustomLineWSocket (line mode) -> TCustomSyncWSocket (a wait that pumps
// messages) -> TWSocket. The listening server and its clients (WSocketS.h) and the HTTP
// connection derive from TWSocket.
//
// Rules a user of these classes relies on:
// - Everything runs on the thread that created the socket, from that thread's loop.
// - Errors of operations go through RaiseSocketError: with OnError set, OnError fires and the
//   operation returns; otherwise ESocketException is raised to the caller. The texts read
//   "Error <code> in function <name>" CR LF <WinsockErrorText(code)>.
// - An exception escaping an event handler that runs from the loop goes to
//   BackgroundException (default: OnBgException may clear CanClose, else Abort), except in
//   OnDataAvailable, where it is swallowed and ends the read loop.
// - Never destroy a socket inside one of its own handlers: use CloseLater or FreeLater.
//   A socket freed with FreeLater must have been created with new.
// - While a socket is being destroyed it fires no events.
#pragma once

#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <netinet/in.h>
#include <string>

#include "net/WSockbuf.h"
#include "platform/Component.h"
#include "platform/Exception.h"
#include "platform/Format.h"
#include "platform/MessageLoop.h"
#include "platform/StringList.h"
#include "platform/Winsock.h"

namespace driftpost {

using winsock::TSocket;
using winsock::INVALID_SOCKET;

// The exception class of the whole socket layer.
class ESocketException : public Exception {
 public:
  using Exception::Exception;
};

enum TSocketState {
  wsInvalidState,
  wsOpened,
  wsBound,
  wsConnecting,
  wsConnected,
  wsAccepting,
  wsListening,
  wsClosed
};
enum TSocketSendFlags { wsSendNormal, wsSendUrgent };
enum TSocketLingerOnOff { wsLingerOff, wsLingerOn, wsLingerNoSet };
// TWSocketOptions is a set of these bits.
enum TWSocketOption : unsigned { wsoNoReceiveLoop = 1 };
using TWSocketOptions = unsigned;

// Message numbers of the socket's own target.
constexpr unsigned WM_SOCKET_SELECT = WM_USER + 1;       // readiness notification
constexpr unsigned WM_HOST_BY_NAME_DONE = WM_USER + 2;   // DnsLookup finished
constexpr unsigned WM_HOST_BY_ADDR_DONE = WM_USER + 3;   // ReverseLookup finished
constexpr unsigned WM_CLOSE_LATER = WM_USER + 4;         // Close from the loop
constexpr unsigned WM_FREE_LATER = WM_USER + 5;          // delete from the loop
constexpr unsigned WM_TEST_EXCEPTION = WM_USER + 6;      // raises "Test exception in WSocket"
constexpr unsigned WM_LINE_MODE_CHANGED = WM_USER + 20;  // LineMode changed with bytes buffered

// Event types. Error is the 16-bit code carried by the notification, 0 for success.
using TDataAvailable = std::function<void(TComponent* Sender, std::uint16_t Error)>;
using TDataSent = TDataAvailable;
using TSessionClosed = TDataAvailable;
using TSessionAvailable = TDataAvailable;
using TSessionConnected = TDataAvailable;
using TDnsLookupDone = TDataAvailable;
using TSendData = std::function<void(TComponent* Sender, int BytesSent)>;
using TChangeState = std::function<void(TComponent* Sender, TSocketState OldState, TSocketState NewState)>;
using TBgExceptionEvent = std::function<void(TComponent* Sender, const std::exception& E, bool& CanClose)>;
using TNotifyEvent = std::function<void(TComponent* Sender)>;

class TCustomWSocket : public TComponent, protected TMessageTarget {
 public:
  // Larger than any system's limit: the system takes its own maximum instead
  // (net.core.somaxconn here).
  static constexpr int DefaultListenBacklog = 0x7FFFFFFF;

  explicit TCustomWSocket(TComponent* owner = nullptr);
  ~TCustomWSocket() override;

  // ---- properties
  const std::string& Addr() const { return addrStr_; }
  void SetAddr(const std::string& value);
  const std::string& Port() const { return portStr_; }
  virtual void SetPort(const std::string& value);
  const std::string& Proto() const { return protoStr_; }
  virtual void SetProto(const std::string& value);
  const std::string& LocalAddr() const { return localAddr_; }
  void SetLocalAddr(const std::string& value);
  const std::string& LocalPort() const { return localPortStr_; }
  void SetLocalPort(const std::string& value);
  std::string PeerAddr() { return GetPeerAddr(); }
  std::string PeerPort() { return GetPeerPort(); }
  const std::string& DnsResult() const { return dnsResult_; }
  const TStringList& DnsResultList() const { return dnsResultList_; }
  TSocketState State() const { return state_; }
  // Bytes received since the connection began (64 bits: a long download passes 2 GiB).
  std::int64_t ReadCount() const { return readCount_; }
  // Bytes waiting to be read (in line mode: the size of the line on offer).
  int RcvdCount() { return GetRcvdCount(); }
  int LastError() const { return lastError_; }
  bool MultiThreaded() const { return multiThreaded_; }
  void SetMultiThreaded(bool value) { multiThreaded_ = value; }
  TWSocketOptions ComponentOptions() const { return componentOptions_; }
  void SetComponentOptions(TWSocketOptions value) { componentOptions_ = value; }
  int FlushTimeout() const { return flushTimeout_; }
  void SetFlushTimeout(int value) { flushTimeout_ = value; }
  TSocketSendFlags SendFlags() const;
  void SetSendFlags(TSocketSendFlags value);
  // Applied when a socket handle is created (Connect) or adopted (Dup); reset to
  // wsLingerOn with 0 seconds (an abortive close) after every close.
  TSocketLingerOnOff LingerOnOff() const { return lingerOnOff_; }
  void SetLingerOnOff(TSocketLingerOnOff value) { lingerOnOff_ = value; }
  int LingerTimeout() const { return lingerTimeout_; }
  void SetLingerTimeout(int value) { lingerTimeout_ = value; }
  // The queue length Listen asks for; by default the most the system allows, so that a burst
  // of connections waits for its turn instead of being dropped.
  int ListenBacklog() const { return listenBacklog_; }
  void SetListenBacklog(int value) { listenBacklog_ = value; }
  // The socket's descriptor, INVALID_SOCKET when there is none.
  TSocket HSocket() const { return hSocket_; }
  // The socket's message target ("window"), for posting to it.
  THandle Handle() const { return handle_; }
  TMessageLoop& Loop() const { return loop_; }
  // True when everything queued has been handed to the system.
  bool AllSent() const { return allSent_; }
  // The block size of the send queue (1514 bytes unless set otherwise).
  int BufSize() const { return bufSize_; }
  // The size of blocks made from now on; 0 or less means 1514. Blocks already queued keep
  // theirs.
  void SetBufSize(int size) { bufSize_ = size > 0 ? size : TBuffer::DefaultSize; }

  // ---- events
  TSessionAvailable OnSessionAvailable;
  TSessionConnected OnSessionConnected;
  TSessionClosed OnSessionClosed;
  TChangeState OnChangeState;
  TDataAvailable OnDataAvailable;
  TDataSent OnDataSent;
  TSendData OnSendData;
  // Line mode: a line grew past LineLimit without a LineEnd (see TCustomLineWSocket).
  TNotifyEvent OnLineTooLong;
  TDnsLookupDone OnDnsLookupDone;
  TNotifyEvent OnError;
  TBgExceptionEvent OnBgException;

  // ---- operations
  // Resolves Proto, Port and Addr (the local address to bind) and listens on them.
  virtual void Listen();
  // Accepts a pending connection of a listening socket: its handle, or INVALID_SOCKET.
  virtual TSocket Accept();
  // Adopts an already connected handle (an accepted client).
  virtual void Dup(TSocket handle);
  // Starts connecting to Addr:Port; OnSessionConnected follows from the loop.
  virtual void Connect();
  virtual void Close();
  virtual void CloseLater();
  virtual void FreeLater();
  // Drops the send queue and closes without shutting down sending first.
  virtual void Abort();
  // Sends the queue while pumping messages, until it is empty or the socket closed.
  virtual void Flush();
  virtual void WaitForClose();
  virtual int Receive(void* buffer, int length);
  // Everything readable now (in line mode: exactly the line on offer); empty if nothing.
  virtual std::string ReceiveText();
  virtual int ReceiveFrom(void* buffer, int length, sockaddr_in& from);
  // Queues the bytes and starts sending: the length accepted, or -1 when not connected.
  virtual int Send(const void* data, int length);
  virtual int SendTo(const sockaddr_in& to, const void* data, int length);
  virtual int SendText(const std::string& text);
  // Queues bytes without sending them yet, so that a header and its body leave together.
  void QueueData(const void* data, int length);
  void QueueText(const std::string& text) { QueueData(text.data(), static_cast<int>(text.size())); }
  void ClearSendQueue();
  // Hands queued bytes to the system until it would block; never blocks itself.
  void TryToSend();
  virtual void DnsLookup(const std::string& host);
  virtual void ReverseLookup(const std::string& address);
  virtual void CancelLookup();
  virtual std::string GetPeerAddr();
  virtual std::string GetPeerPort();
  virtual int PeerName(sockaddr_in& name);
  virtual std::string BoundPort();
  virtual int LocalName(sockaddr_in& name);
  // how: 0 receiving, 1 sending, 2 both.
  virtual void Shutdown(int how);
  // Stops all notifications / requests them again.
  virtual bool Pause();
  virtual bool Resume();
  // Stops asking for received data, or asks for it again. Meanwhile what the peer sends
  // waits in the system (and its window slows the peer down) while the other notifications,
  // FD_WRITE and FD_CLOSE, go on.
  void PauseReceiving();
  void ResumeReceiving();
  bool ReceivingPaused() const { return receivePaused_; }
  // Lets pending messages run (other sockets' events may fire meanwhile).
  virtual void PumpMessages();
  bool Terminated() const { return terminated_; }

  // The message handler; derived classes handle their own messages and pass the rest on.
  virtual void WndProc(TMessage& message);

 protected:
  void HandleMessage(TMessage& message) override;

  virtual void AssignDefaults();
  virtual void DoClose(bool shut, int error);
  virtual int GetRcvdCount();
  virtual void BindLocal();
  virtual int RawSend(const void* data, int length);
  virtual void RaiseSocketErrorFmt(const std::string& format, std::initializer_list<FormatArg> args);
  virtual void RaiseSocketError(const std::string& message);
  virtual void BackgroundException(const std::exception& e);
  // Returns whether a handler ran.
  virtual bool FireDataAvailable(int error);
  virtual void FireSessionAvailable(int error);
  virtual void FireSessionConnected(int error);
  virtual void FireSessionClosed(int error);
  virtual void FireDataSent(int error);
  virtual void FireChangeState(TSocketState oldState, TSocketState newState);
  virtual void FireDnsLookupDone(int error);
  virtual void FireError();
  virtual int RawRecv(void* buffer, int length, int flags);
  virtual int RawRecvFrom(void* buffer, int length, int flags, sockaddr_in& from);

  void ChangeState(TSocketState newState);
  // Reports the thread's last socket error for `function` (see the header comment); the
  // connection-ending codes 10054 and 10057 close the handle at once.
  void SocketError(const std::string& function);
  // Applies LingerOnOff/LingerTimeout to the handle.
  void SetLingerOption();
  // Accepts without reporting a failure: the handle, or INVALID_SOCKET with LastError set.
  TSocket TryAccept();
  // Requests `mask` (or nothing while paused) for the handle.
  int Select(long mask);
  void ReadLoop(int error);
  const std::deque<std::unique_ptr<TBuffer>>& SendQueue() const { return sendQueue_; }

  TMessageLoop& loop_;
  THandle handle_ = 0;
  bool destroying_ = false;

  std::string dnsResult_;
  TStringList dnsResultList_;
  TSocket aSocket_ = INVALID_SOCKET;
  void AssignEndpointText(const char* name, const std::string& value, std::string& text, bool& assigned,
                          bool& resolved);

  std::deque<std::unique_ptr<TBuffer>> sendQueue_;
  int bufSize_ = TBuffer::DefaultSize;
  int lastError_ = 0;
  winsock::TTaskHandle dnsTask_ = 0;
  bool dnsByAddress_ = false;
  long selectEvent_ = 0;
  TSocket hSocket_ = INVALID_SOCKET;
  std::string addrStr_;
  bool addrAssigned_ = false;
  bool addrResolved_ = false;
  int addrFamily_ = PF_INET;
  int proto_ = 6;
  std::string protoStr_ = "tcp";
  bool protoAssigned_ = true;
  bool protoResolved_ = false;
  std::string portStr_;
  bool portAssigned_ = false;
  bool portResolved_ = false;
  int portNum_ = 0;
  std::string localPortStr_ = "0";
  bool localPortResolved_ = false;
  int localPortNum_ = 0;
  std::string localAddr_ = "0.0.0.0";
  int socketType_ = SOCK_STREAM;
  TSocketLingerOnOff lingerOnOff_ = wsLingerOn;
  int lingerTimeout_ = 0;
  int listenBacklog_ = DefaultListenBacklog;
  bool allSent_ = true;
  bool paused_ = false;
  bool receivePaused_ = false;
  bool closeInvoked_ = false;  // the closed session has been reported
  std::int64_t readCount_ = 0;
  int flushTimeout_ = 60;
  bool multiThreaded_ = false;
  TWSocketOptions componentOptions_ = 0;
  int sendFlagValue_ = 0;
  TSocketState state_ = wsClosed;
  bool terminated_ = false;
  sockaddr_in sin_{};
};

// SOCKS client settings. This program never connects through a SOCKS server: with
// SocksServer empty everything passes straight through; with it set, Listen and Connect
// report an error instead of silently bypassing the proxy.
class TCustomSocksWSocket : public TCustomWSocket {
 public:
  using TCustomWSocket::TCustomWSocket;

  const std::string& SocksServer() const { return socksServer_; }
  void SetSocksServer(const std::string& value) { socksServer_ = value; }
  const std::string& SocksPort() const { return socksPort_; }
  void SetSocksPort(const std::string& value) { socksPort_ = value; }
  int SocksLevel() const { return socksLevel_; }
  void SetSocksLevel(int value) { socksLevel_ = value; }
  const std::string& SocksUsercode() const { return socksUsercode_; }
  void SetSocksUsercode(const std::string& value) { socksUsercode_ = value; }
  const std::string& SocksPassword() const { return socksPassword_; }
  void SetSocksPassword(const std::string& value) { socksPassword_ = value; }
  bool SocksAuthentication() const { return socksAuthentication_; }
  void SetSocksAuthentication(bool value) { socksAuthentication_ = value; }

  TSessionConnected OnSocksConnected;
  TDataAvailable OnSocksError;
  std::function<void(TComponent* Sender, int AuthState)> OnSocksAuthState;

  void Listen() override;
  void Connect() override;

 private:
  std::string socksServer_;
  std::string socksPort_ = "1080";
  int socksLevel_ = 5;
  std::string socksUsercode_;
  std::string socksPassword_;
  bool socksAuthentication_ = false;
};

// Line mode. With LineMode on (and LineEnd not empty), received bytes are collected and
// every line, LineEnd included, is offered to OnDataAvailable in turn; the handler reads it
// with ReceiveText (or Receive) or switches LineMode off, whereupon the unread bytes are
// offered as plain data, in order. When the peer closes, an unterminated last line is
// offered once before OnSessionClosed. A line longer than LineLimit bytes (LineEnd not
// counted; 0 or less: no limit) is never collected whole: OnLineTooLong fires, and unless
// its handler has dealt with it (closed the socket or switched LineMode off) the buffered
// bytes are dropped and the socket is closed.
class TCustomLineWSocket : public TCustomSocksWSocket {
 public:
  static constexpr int DefaultLineLimit = 65536;

  explicit TCustomLineWSocket(TComponent* owner = nullptr);
  ~TCustomLineWSocket() override;

  bool LineMode() const { return lineMode_; }
  virtual void SetLineMode(bool value);
  const std::string& LineEnd() const { return lineEnd_; }
  void SetLineEnd(const std::string& value) { lineEnd_ = value; }
  bool LineEcho() const { return lineEcho_; }
  void SetLineEcho(bool value) { lineEcho_ = value; }
  bool LineEdit() const { return lineEdit_; }
  void SetLineEdit(bool value) { lineEdit_ = value; }
  int LineLimit() const { return lineLimit_; }
  void SetLineLimit(int value) { lineLimit_ = value; }
  // Set whenever a line has been found (and when the session closed).
  bool LineReceived() const { return lineReceived_; }
  void SetLineReceived(bool value) { lineReceived_ = value; }

  void WndProc(TMessage& message) override;

 protected:
  int GetRcvdCount() override;
  bool FireDataAvailable(int error) override;
  void FireSessionClosed(int error) override;
  int RawRecv(void* buffer, int length, int flags) override;
  // Applies backspace and tab editing (with echo when LineEcho) to the `count` bytes
  // received last; returns the lowest buffer position editing changed.
  virtual int EditLine(int count);

 private:
  char* Data() { return rcvBuf_.data() + rcvStart_; }
  void DropFront(int count);
  void ReleaseBuffer();
  // Offers every complete line found from `searchFrom` on.
  void DeliverLines(int searchFrom, int error);
  int FindLineEnd(int from) const;
  // Whether the buffer holds a line, or the start of one, longer than LineLimit.
  bool OverLimit() const;
  void LineTooLong();

  // The valid bytes are rcvBuf_[rcvStart_, rcvStart_ + rcvdCnt_).
  std::vector<char> rcvBuf_;
  int rcvStart_ = 0;
  int rcvdCnt_ = 0;
  std::string lineEnd_ = "\r\n";
  bool lineMode_ = false;
  int lineLength_ = 0;  // bytes of the line on offer still unread, LineEnd included
  bool lineReceived_ = false;
  bool lineEcho_ = false;
  bool lineEdit_ = false;
  int lineLimit_ = DefaultLineLimit;
};

// Adds a wait that pumps messages until a flag is set.
class TCustomSyncWSocket : public TCustomLineWSocket {
 public:
  using TCustomLineWSocket::TCustomLineWSocket;
  static constexpr int WaitTimedOut = 12001;

  // Pumps messages until `done` is true (0), or until `timeoutMs` milliseconds have passed
  // (0 or less: no limit) or the loop is told to quit (WaitTimedOut).
  virtual int WaitUntilReady(const bool& done, int timeoutMs);
};

class TWSocket : public TCustomSyncWSocket {
 public:
  using TCustomSyncWSocket::TCustomSyncWSocket;
};

// ---- free functions

// The start-up record: the socket interface's version and description.
struct TWSAData {
  std::uint16_t wVersion = 0;
  std::uint16_t wHighVersion = 0;
  char szDescription[257] = {};
  char szSystemStatus[129] = {};
  std::uint16_t iMaxSockets = 0;
  std::uint16_t iMaxUdpDg = 0;
};
void GetWinsockInfo(TWSAData& data);
// The number of socket objects alive in the process.
int WSocketInstanceCount();

// Host name or dotted address -> IPv4 address in network order (blocking for names).
std::uint32_t WSocketResolveHost(const std::string& host);
// Service name or number -> port number in host order.
int WSocketResolvePort(const std::string& port, const std::string& proto);
// Protocol name or number -> protocol number.
int WSocketResolveProto(const std::string& proto);
bool IsDottedAddress(const std::string& text);
// The decimal digits after leading blanks (0 when there are none), wrapping like a 32-bit
// integer on overflow.
int ParseLeadingNumber(const std::string& text);
std::string WinsockErrorText(int code);

}  // namespace driftpost
