// TCustomWSocket: states, notifications, the receive and send paths, close, error reports
// and the asynchronous lookups; and the SOCKS and synchronous layers above it.
#include "net/WSocket.h"

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>

#include "platform/TextUtils.h"

namespace driftpost {

namespace detail {
void AddSocketInstance();
void RemoveSocketInstance();
}  // namespace detail

namespace {

// The errors after which a send can never succeed: the connection is over.
bool EndsConnection(int error) {
  return error == winsock::WSAEINVAL || error == winsock::WSAENOTSOCK || error == winsock::WSAECONNABORTED ||
         error == winsock::WSAECONNRESET || error == winsock::WSAENOTCONN;
}

}  // namespace

TCustomWSocket::TCustomWSocket(TComponent* owner) : TComponent(owner), loop_(TMessageLoop::Current()) {
  handle_ = loop_.AllocateHandle(this);
  AssignDefaults();
  detail::AddSocketInstance();
}

TCustomWSocket::~TCustomWSocket() {
  destroying_ = true;
  try {
    CancelLookup();
  } catch (...) {
  }
  if (state_ != wsClosed) {
    try {
      Close();
    } catch (...) {
    }
  }
  // A handle whose close failed or never got a state of its own is not leaked.
  if (hSocket_ != INVALID_SOCKET) winsock::closesocket(hSocket_);
  detail::RemoveSocketInstance();
  ClearSendQueue();
  loop_.DeallocateHandle(handle_);
}

// ------------------------------------------------------------------ properties

void TCustomWSocket::AssignDefaults() {
  sin_ = sockaddr_in{};
  sin_.sin_family = AF_INET;
  addrFamily_ = PF_INET;
  portAssigned_ = portResolved_ = false;
  addrAssigned_ = addrResolved_ = false;
  protoAssigned_ = true;
  protoResolved_ = false;
  proto_ = IPPROTO_TCP;
  // Assigned from named strings: GCC 12 warns wrongly (-Wrestrict) about literals here.
  static const std::string tcp = "tcp", anyPort = "0", anyAddress = "0.0.0.0";
  protoStr_ = tcp;
  socketType_ = SOCK_STREAM;
  localPortStr_ = anyPort;
  localPortResolved_ = false;
  localAddr_ = anyAddress;
  lingerOnOff_ = wsLingerOn;
  lingerTimeout_ = 0;
  hSocket_ = INVALID_SOCKET;
  state_ = wsClosed;
  allSent_ = true;
  paused_ = false;
  receivePaused_ = false;
  readCount_ = 0;
  closeInvoked_ = false;
  flushTimeout_ = 60;
}

// Addr, Port and Proto may change only while the socket is closed; a changed text must be
// resolved again before the next use.
void TCustomWSocket::AssignEndpointText(const char* name, const std::string& value, std::string& text,
                                        bool& assigned, bool& resolved) {
  std::string trimmed = Trim(value);
  if (assigned && trimmed == text) return;
  if (state_ != wsClosed) {
    RaiseSocketError(std::string("Cannot change ") + name + " if not closed");
    return;
  }
  text = trimmed;
  assigned = !trimmed.empty();
  resolved = false;
}

void TCustomWSocket::SetAddr(const std::string& value) {
  AssignEndpointText("Addr", value, addrStr_, addrAssigned_, addrResolved_);
}

void TCustomWSocket::SetPort(const std::string& value) {
  AssignEndpointText("Port", value, portStr_, portAssigned_, portResolved_);
}

void TCustomWSocket::SetProto(const std::string& value) {
  AssignEndpointText("Proto", value, protoStr_, protoAssigned_, protoResolved_);
}

void TCustomWSocket::SetLocalPort(const std::string& value) {
  if (state_ != wsClosed) {
    RaiseSocketError("Cannot change LocalPort if not closed");
    return;
  }
  localPortStr_ = value;
  localPortResolved_ = false;
}

void TCustomWSocket::SetLocalAddr(const std::string& value) {
  if (state_ != wsClosed) {
    RaiseSocketError("Cannot change LocalAddr if not closed");
    return;
  }
  std::string text = value.empty() ? "0.0.0.0" : value;
  std::uint32_t address = 0;
  bool valid = IsDottedAddress(text);
  if (valid) {
    try {
      address = WSocketResolveHost(text);
    } catch (const ESocketException&) {
      valid = false;
    }
  }
  if (!valid) {
    RaiseSocketError("SetLocalAddr(): Invalid IP address");
    return;
  }
  localAddr_ = winsock::inet_ntoa(address);
}

TSocketSendFlags TCustomWSocket::SendFlags() const {
  if (sendFlagValue_ == 0) return wsSendNormal;
  if (sendFlagValue_ == 1) return wsSendUrgent;
  throw ESocketException("Invalid internal SendFlags");
}

void TCustomWSocket::SetSendFlags(TSocketSendFlags value) {
  switch (value) {
    case wsSendNormal: sendFlagValue_ = 0; break;
    case wsSendUrgent: sendFlagValue_ = MSG_OOB; break;
    default: RaiseSocketError("Invalid SendFlags");
  }
}

// ------------------------------------------------------------------ errors and events

void TCustomWSocket::RaiseSocketError(const std::string& message) {
  if (OnError) {
    FireError();
    return;
  }
  throw ESocketException(message);
}

void TCustomWSocket::RaiseSocketErrorFmt(const std::string& format, std::initializer_list<FormatArg> args) {
  RaiseSocketError(Format(format, args));
}

void TCustomWSocket::SocketError(const std::string& function) {
  int code = winsock::WSAGetLastError();
  std::string line = "Error " + IntToStr(code) + " in function " + function + "\r\n" + WinsockErrorText(code);
  if (code == winsock::WSAECONNRESET || code == winsock::WSAENOTCONN) {
    if (hSocket_ != INVALID_SOCKET) winsock::closesocket(hSocket_);
    hSocket_ = INVALID_SOCKET;
    ChangeState(wsClosed);
  }
  lastError_ = code;
  RaiseSocketError(line);
}

void TCustomWSocket::BackgroundException(const std::exception& e) {
  bool canClose = true;
  if (OnBgException) {
    try {
      OnBgException(this, e, canClose);
    } catch (...) {
    }
  }
  if (canClose) {
    try {
      Abort();
    } catch (...) {
    }
  }
}

void TCustomWSocket::ChangeState(TSocketState newState) {
  TSocketState oldState = state_;
  state_ = newState;
  FireChangeState(oldState, newState);
}

bool TCustomWSocket::FireDataAvailable(int error) {
  if (!OnDataAvailable) return false;
  OnDataAvailable(this, static_cast<std::uint16_t>(error));
  return true;
}

void TCustomWSocket::FireSessionAvailable(int error) {
  if (OnSessionAvailable) OnSessionAvailable(this, static_cast<std::uint16_t>(error));
}

void TCustomWSocket::FireSessionConnected(int error) {
  if (OnSessionConnected) OnSessionConnected(this, static_cast<std::uint16_t>(error));
}

void TCustomWSocket::FireSessionClosed(int error) {
  if (OnSessionClosed && !destroying_) OnSessionClosed(this, static_cast<std::uint16_t>(error));
}

void TCustomWSocket::FireDataSent(int error) {
  if (OnDataSent) OnDataSent(this, static_cast<std::uint16_t>(error));
}

void TCustomWSocket::FireChangeState(TSocketState oldState, TSocketState newState) {
  if (OnChangeState && !destroying_) OnChangeState(this, oldState, newState);
}

void TCustomWSocket::FireDnsLookupDone(int error) {
  if (OnDnsLookupDone) OnDnsLookupDone(this, static_cast<std::uint16_t>(error));
}

void TCustomWSocket::FireError() {
  if (OnError) OnError(this);
}

// ------------------------------------------------------------------ messages

void TCustomWSocket::HandleMessage(TMessage& message) {
  try {
    WndProc(message);
  } catch (const std::exception& e) {
    BackgroundException(e);
  }
}

void TCustomWSocket::WndProc(TMessage& message) {
  switch (message.Msg) {
    case WM_SOCKET_SELECT: {
      // A notification for an earlier handle, or while paused, is stale.
      if (hSocket_ == INVALID_SOCKET || static_cast<TSocket>(message.WParam) != hSocket_ || paused_) return;
      const long events = SelectEvent(message.LParam);
      const int error = SelectError(message.LParam);
      if (events & FD_CONNECT) {
        ChangeState(wsConnected);
        FireSessionConnected(error);
        if (error != 0 && state_ != wsClosed) Close();
      }
      if (events & FD_READ) ReadLoop(error);
      if (events & FD_WRITE) {
        TryToSend();
        if (allSent_) FireDataSent(error);
      }
      if (events & FD_ACCEPT) FireSessionAvailable(error);
      if ((events & FD_CLOSE) && state_ != wsConnecting) {
        ReadLoop(0);  // what the peer sent before closing is offered first
        if (!closeInvoked_) {
          closeInvoked_ = true;
          FireSessionClosed(error);
        }
        if (state_ != wsClosed) Close();
      }
      return;
    }
    case WM_HOST_BY_NAME_DONE:
    case WM_HOST_BY_ADDR_DONE: {
      if (dnsTask_ == 0 || message.WParam != dnsTask_) return;
      winsock::TTaskHandle task = dnsTask_;
      dnsTask_ = 0;
      const int error = SelectError(message.LParam);
      winsock::THostEntry answer = winsock::TakeLookupResult(task);
      if (error == 0) {
        dnsResultList_.Clear();
        if (message.Msg == WM_HOST_BY_NAME_DONE) {
          for (winsock::TInAddr address : answer.Addresses) dnsResultList_.Add(winsock::inet_ntoa(address));
          dnsResult_ = dnsResultList_.Count() > 0 ? dnsResultList_[0] : std::string();
        } else {
          dnsResult_ = answer.Name;
          dnsResultList_.Add(answer.Name);
        }
      }
      FireDnsLookupDone(error);
      return;
    }
    case WM_CLOSE_LATER:
      Close();
      return;
    case WM_FREE_LATER:
      delete this;
      return;
    case WM_TEST_EXCEPTION:
      throw ESocketException("Test exception in WSocket");
    default:
      return;
  }
}

void TCustomWSocket::ReadLoop(int error) {
  for (;;) {
    try {
      lastError_ = 0;
      if (!FireDataAvailable(error)) {
        // Nobody reads: drop what arrived so the notification does not come back at once.
        char scratch[1024];
        if (Receive(scratch, sizeof scratch) < 0 && lastError_ == winsock::WSAEWOULDBLOCK) {
          lastError_ = 0;
          break;
        }
      }
      if (componentOptions_ & wsoNoReceiveLoop) break;
      if (lastError_ != 0 || receivePaused_) break;
      unsigned long waiting = 0;
      if (hSocket_ == INVALID_SOCKET) break;
      if (winsock::BytesWaiting(hSocket_, waiting) != 0) {
        lastError_ = winsock::WSAGetLastError();
        break;
      }
      if (waiting == 0) break;
    } catch (...) {
      // A failing handler ends this pass only; the connection stays as it is.
      break;
    }
  }
}

// ------------------------------------------------------------------ listen, accept, connect

int TCustomWSocket::Select(long mask) {
  if (receivePaused_) mask &= ~FD_READ;
  return winsock::WSAAsyncSelect(hSocket_, handle_, WM_SOCKET_SELECT, paused_ ? 0 : mask);
}

void TCustomWSocket::Listen() {
  if (!portAssigned_) {
    winsock::WSASetLastError(winsock::WSAEINVAL);
    SocketError("listen: port not assigned");
    return;
  }
  if (!protoAssigned_) {
    winsock::WSASetLastError(winsock::WSAEINVAL);
    SocketError("listen: protocol not assigned");
    return;
  }
  if (!addrAssigned_) {
    winsock::WSASetLastError(winsock::WSAEINVAL);
    SocketError("listen: address not assigned");
    return;
  }
  try {
    if (!protoResolved_) {
      proto_ = WSocketResolveProto(protoStr_);
      socketType_ = proto_ == IPPROTO_UDP ? SOCK_DGRAM : SOCK_STREAM;
      protoResolved_ = true;
    }
    if (!portResolved_) {
      portNum_ = WSocketResolvePort(portStr_, protoStr_);
      sin_.sin_port = htons(static_cast<std::uint16_t>(portNum_));
      portResolved_ = true;
    }
    if (!addrResolved_) {
      sin_.sin_addr.s_addr = WSocketResolveHost(addrStr_);
      addrResolved_ = true;
    }
  } catch (const ESocketException& e) {
    RaiseSocketError("listen: " + e.Message());
    return;
  }
  ClearSendQueue();
  hSocket_ = winsock::socket(addrFamily_, socketType_, proto_);
  if (hSocket_ == INVALID_SOCKET) {
    SocketError("socket");
    return;
  }
  if (socketType_ == SOCK_STREAM) {
    // Linux refuses to bind a port that connections of an earlier run still hold in
    // TIME_WAIT; the server must be able to restart at once. A port some other socket
    // listens on is still refused.
    winsock::setsockopt(hSocket_, SOL_SOCKET, SO_REUSEADDR, 1);
  }
  if (winsock::bind(hSocket_, sin_) != 0) {
    // The handle is released before the report, so that neither OnError nor an exception
    // leaves it open behind a socket that counts as closed.
    int code = winsock::WSAGetLastError();
    winsock::closesocket(hSocket_);
    hSocket_ = INVALID_SOCKET;
    winsock::WSASetLastError(code);
    SocketError("Bind");
    return;
  }
  ChangeState(wsBound);
  if (socketType_ == SOCK_DGRAM) {
    ChangeState(wsListening);
    ChangeState(wsConnected);
    FireSessionConnected(0);
  } else {
    if (winsock::listen(hSocket_, listenBacklog_) != 0) {
      SocketError("Listen");
      return;
    }
    ChangeState(wsListening);
  }
  selectEvent_ = FD_READ | FD_WRITE | FD_ACCEPT | FD_CLOSE;
  if (Select(selectEvent_) != 0) SocketError("WSAASyncSelect");
}

TSocket TCustomWSocket::TryAccept() {
  if (state_ != wsListening) {
    winsock::WSASetLastError(winsock::WSAEINVAL);
    lastError_ = winsock::WSAEINVAL;
    return INVALID_SOCKET;
  }
  sockaddr_in peer{};
  aSocket_ = winsock::accept(hSocket_, &peer);
  if (aSocket_ == INVALID_SOCKET) lastError_ = winsock::WSAGetLastError();
  return aSocket_;
}

TSocket TCustomWSocket::Accept() {
  if (state_ != wsListening) {
    winsock::WSASetLastError(winsock::WSAEINVAL);
    SocketError("not a listening socket");
    return INVALID_SOCKET;
  }
  TSocket handle = TryAccept();
  if (handle == INVALID_SOCKET) SocketError("Accept");
  return handle;
}

void TCustomWSocket::Dup(TSocket handle) {
  // Descriptor 0 is a valid socket on this platform; only negative values are no handle.
  if (handle < 0) {
    winsock::WSASetLastError(winsock::WSAEINVAL);
    SocketError("Dup");
    return;
  }
  if (state_ != wsClosed) {
    int result = winsock::closesocket(hSocket_);
    hSocket_ = INVALID_SOCKET;
    if (result != 0) {
      SocketError("Dup (closesocket)");
      return;
    }
    ChangeState(wsClosed);
  }
  hSocket_ = handle;
  SetLingerOption();
  selectEvent_ = FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE;
  if (Select(selectEvent_) != 0) {
    int code = winsock::WSAGetLastError();
    winsock::closesocket(hSocket_);
    hSocket_ = INVALID_SOCKET;
    winsock::WSASetLastError(code);
    SocketError("WSAAsyncSelect");
    return;
  }
  ChangeState(wsConnected);
}

void TCustomWSocket::SetLingerOption() {
  if (lingerOnOff_ == wsLingerNoSet) return;
  if (hSocket_ == INVALID_SOCKET) {
    RaiseSocketError("Cannot set linger option at this time");
    return;
  }
  if (winsock::SetLinger(hSocket_, lingerOnOff_ == wsLingerOn ? 1 : 0, lingerTimeout_) != 0)
    SocketError("setsockopt(SO_LINGER)");
}

void TCustomWSocket::Connect() {
  if (hSocket_ != INVALID_SOCKET && state_ != wsClosed) {
    RaiseSocketError("Connect: Socket already in use");
    return;
  }
  if (!portAssigned_) {
    RaiseSocketError("Connect: No Port Specified");
    return;
  }
  if (!addrAssigned_) {
    RaiseSocketError("Connect: No IP Address Specified");
    return;
  }
  if (!protoAssigned_) {
    RaiseSocketError("Connect: No Protocol Specified");
    return;
  }
  try {
    if (!protoResolved_) {
      proto_ = WSocketResolveProto(protoStr_);
      socketType_ = proto_ == IPPROTO_UDP ? SOCK_DGRAM : SOCK_STREAM;
      protoResolved_ = true;
    }
    if (!portResolved_) {
      portNum_ = WSocketResolvePort(portStr_, protoStr_);
      sin_.sin_port = htons(static_cast<std::uint16_t>(portNum_));
      portResolved_ = true;
    }
    if (!localPortResolved_) {
      localPortNum_ = WSocketResolvePort(localPortStr_, protoStr_);
      localPortResolved_ = true;
    }
    if (!addrResolved_) {
      sin_.sin_addr.s_addr = WSocketResolveHost(addrStr_);
      addrResolved_ = true;
    }
  } catch (const ESocketException& e) {
    RaiseSocketError("connect: " + e.Message());
    return;
  }
  ClearSendQueue();
  hSocket_ = winsock::socket(addrFamily_, socketType_, proto_);
  if (hSocket_ == INVALID_SOCKET) {
    SocketError("Connect (socket)");
    return;
  }
  ChangeState(wsOpened);
  if (socketType_ == SOCK_DGRAM) {
    BindLocal();
    if (sin_.sin_addr.s_addr == winsock::INADDR_NONE_VALUE &&
        winsock::setsockopt(hSocket_, SOL_SOCKET, SO_BROADCAST, 1) != 0) {
      SocketError("setsockopt(SO_BROADCAST)");
      return;
    }
  } else {
    if (localPortNum_ != 0 || localAddr_ != "0.0.0.0") BindLocal();
    SetLingerOption();
    if (winsock::setsockopt(hSocket_, SOL_SOCKET, SO_KEEPALIVE, 1) != 0) {
      SocketError("setsockopt(SO_KEEPALIVE)");
      return;
    }
    if (winsock::setsockopt(hSocket_, SOL_SOCKET, SO_REUSEADDR, 1) != 0) {
      SocketError("setsockopt(SO_REUSEADDR)");
      return;
    }
  }
  selectEvent_ = FD_READ | FD_WRITE | FD_ACCEPT | FD_CONNECT | FD_CLOSE;
  if (Select(selectEvent_) != 0) {
    SocketError("WSAAsyncSelect");
    return;
  }
  if (socketType_ == SOCK_DGRAM) {
    ChangeState(wsConnected);
    FireSessionConnected(0);
    return;
  }
  if (winsock::connect(hSocket_, sin_) == 0 || winsock::WSAGetLastError() == winsock::WSAEWOULDBLOCK) {
    ChangeState(wsConnecting);
  } else {
    lastError_ = winsock::WSAGetLastError();
    SocketError("Connect");
  }
}

void TCustomWSocket::BindLocal() {
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(static_cast<std::uint16_t>(localPortNum_));
  local.sin_addr.s_addr = WSocketResolveHost(localAddr_);
  if (winsock::bind(hSocket_, local) != 0) {
    RaiseSocketErrorFmt("winsock.bind failed, error #%d", {winsock::WSAGetLastError()});
    return;
  }
  if (winsock::getsockname(hSocket_, local) != 0) {
    RaiseSocketErrorFmt("winsock.getsockname failed, error #%d", {winsock::WSAGetLastError()});
    return;
  }
  localPortNum_ = ntohs(local.sin_port);
  localPortStr_ = IntToStr(localPortNum_);
}

// ------------------------------------------------------------------ close

void TCustomWSocket::Close() { DoClose(true, 0); }

void TCustomWSocket::DoClose(bool shut, int error) {
  if (hSocket_ == INVALID_SOCKET) {
    if (state_ != wsClosed) {
      ChangeState(wsClosed);
      AssignDefaults();
    }
    return;
  }
  if (state_ == wsClosed) return;
  if (shut) Shutdown(1);
  // The descriptor is released even when the system reports an error, so the handle is
  // forgotten before any report.
  int result = winsock::closesocket(hSocket_);
  hSocket_ = INVALID_SOCKET;
  if (result != 0 && winsock::WSAGetLastError() != winsock::WSANOTINITIALISED) {
    lastError_ = winsock::WSAGetLastError();
    SocketError("Disconnect (closesocket)");
    return;
  }
  ChangeState(wsClosed);
  if (!destroying_ && !closeInvoked_) {
    closeInvoked_ = true;
    FireSessionClosed(error);
  }
  try {
    AssignDefaults();
  } catch (...) {
  }
}

void TCustomWSocket::CloseLater() { loop_.PostMessage(handle_, WM_CLOSE_LATER, 0, 0); }

void TCustomWSocket::FreeLater() { loop_.PostMessage(handle_, WM_FREE_LATER, 0, 0); }

void TCustomWSocket::Abort() {
  CancelLookup();
  ClearSendQueue();
  if (state_ == wsConnected && socketType_ == SOCK_STREAM) {
    lingerOnOff_ = wsLingerOff;
    SetLingerOption();
  }
  DoClose(false, 0);
}

void TCustomWSocket::Shutdown(int how) {
  if (hSocket_ != INVALID_SOCKET) winsock::shutdown(hSocket_, how);
}

void TCustomWSocket::Flush() {
  while (hSocket_ != INVALID_SOCKET && !allSent_) {
    TryToSend();
    PumpMessages();
    // Wait for the socket to drain instead of spinning.
    if (hSocket_ != INVALID_SOCKET && !allSent_) loop_.WaitForWork(std::chrono::milliseconds(10));
  }
}

void TCustomWSocket::WaitForClose() {
  char scratch[1];
  while (hSocket_ != INVALID_SOCKET && state_ != wsClosed) {
    PumpMessages();
    if (hSocket_ == INVALID_SOCKET) break;
    unsigned long waiting = 0;
    if (winsock::BytesWaiting(hSocket_, waiting) != 0) break;
    if (waiting > 0) FireDataAvailable(0);
    if (hSocket_ == INVALID_SOCKET) break;
    // A peek of one byte tells whether the stream goes on (data, or would block) or has
    // ended; a read of zero bytes says nothing on this platform.
    int peeked = winsock::recv(hSocket_, scratch, sizeof scratch, MSG_PEEK);
    if (peeked == 0 || (peeked < 0 && winsock::WSAGetLastError() != winsock::WSAEWOULDBLOCK)) break;
    PumpMessages();
    loop_.WaitForWork(std::chrono::milliseconds(10));
  }
}

bool TCustomWSocket::Pause() {
  paused_ = true;
  if (hSocket_ == INVALID_SOCKET) return false;
  return winsock::WSAAsyncSelect(hSocket_, handle_, 0, 0) == 0;
}

bool TCustomWSocket::Resume() {
  paused_ = false;
  if (hSocket_ == INVALID_SOCKET) return false;
  return Select(selectEvent_) == 0;
}

void TCustomWSocket::PauseReceiving() {
  if (receivePaused_) return;
  receivePaused_ = true;
  if (hSocket_ != INVALID_SOCKET && !paused_) Select(selectEvent_);
}

void TCustomWSocket::ResumeReceiving() {
  if (!receivePaused_) return;
  receivePaused_ = false;
  if (hSocket_ != INVALID_SOCKET && !paused_) Select(selectEvent_);
}

void TCustomWSocket::PumpMessages() {
  if (!multiThreaded_) {
    loop_.PumpMessages();
    return;
  }
  // The private pump: this thread's messages only, and a quit request only noted.
  loop_.ProcessMessages();
  if (loop_.QuitRequested()) terminated_ = true;
}

// ------------------------------------------------------------------ receive

int TCustomWSocket::RawRecv(void* buffer, int length, int flags) {
  int result = winsock::recv(hSocket_, buffer, length, flags);
  if (result > 0) readCount_ += result;
  return result;
}

int TCustomWSocket::RawRecvFrom(void* buffer, int length, int flags, sockaddr_in& from) {
  int result = winsock::recvfrom(hSocket_, buffer, length, flags, &from);
  if (result > 0) readCount_ += result;
  return result;
}

int TCustomWSocket::Receive(void* buffer, int length) {
  int result = RawRecv(buffer, length, 0);
  if (result < 0) lastError_ = winsock::WSAGetLastError();
  return result;
}

int TCustomWSocket::ReceiveFrom(void* buffer, int length, sockaddr_in& from) {
  int result = RawRecvFrom(buffer, length, 0, from);
  if (result < 0) lastError_ = winsock::WSAGetLastError();
  return result;
}

std::string TCustomWSocket::ReceiveText() {
  int count = GetRcvdCount();
  if (count <= 0) return {};
  std::string text(static_cast<std::size_t>(count), '\0');
  int got = Receive(text.data(), count);
  if (got <= 0) return {};
  text.resize(static_cast<std::size_t>(got));
  return text;
}

int TCustomWSocket::GetRcvdCount() {
  unsigned long waiting = 0;
  if (winsock::BytesWaiting(hSocket_, waiting) != 0) {
    SocketError("ioctlSocket");
    return -1;
  }
  return static_cast<int>(std::min<unsigned long>(waiting, 0x7FFFFFFF));
}

// ------------------------------------------------------------------ send

int TCustomWSocket::RawSend(const void* data, int length) {
  int result = socketType_ == SOCK_DGRAM ? winsock::sendto(hSocket_, data, length, sendFlagValue_, sin_)
                                         : winsock::send(hSocket_, data, length, sendFlagValue_);
  if (result > 0 && OnSendData) OnSendData(this, result);
  return result;
}

void TCustomWSocket::QueueData(const void* data, int length) {
  if (length <= 0) return;
  const char* bytes = static_cast<const char*>(data);
  if (sendQueue_.empty()) sendQueue_.push_back(std::make_unique<TBuffer>(bufSize_));
  int written = sendQueue_.back()->Write(bytes, length);
  while (written < length) {
    bytes += written;
    length -= written;
    sendQueue_.push_back(std::make_unique<TBuffer>(bufSize_));
    written = sendQueue_.back()->Write(bytes, length);
  }
}

void TCustomWSocket::ClearSendQueue() { sendQueue_.clear(); }

void TCustomWSocket::TryToSend() {
  if (hSocket_ == INVALID_SOCKET || sendQueue_.empty()) return;
  for (;;) {
    TBuffer& block = *sendQueue_.front();
    int unsent = 0;
    const char* data = block.Peek(unsent);
    if (unsent > 0) {
      int sent = RawSend(data, unsent);
      if (sent == 0) return;
      if (sent < 0) {
        int error = winsock::WSAGetLastError();
        if (EndsConnection(error)) {
          closeInvoked_ = true;
          Close();
          FireSessionClosed(error);
          return;
        }
        if (error == winsock::WSAEWOULDBLOCK) return;  // FD_WRITE will follow
        lastError_ = error;
        SocketError("TryToSend failed");
        return;
      }
      block.Remove(sent);
      if (sent < unsent) return;
    }
    if (sendQueue_.size() > 1) {
      sendQueue_.pop_front();
      continue;
    }
    // The last block stays for reuse.
    allSent_ = true;
    return;
  }
}

int TCustomWSocket::Send(const void* data, int length) {
  if (state_ != wsConnected) {
    winsock::WSASetLastError(winsock::WSAENOTCONN);
    SocketError("Send");
    return -1;
  }
  allSent_ = false;
  if (length > 0)
    QueueData(data, length);
  else
    length = 0;
  TryToSend();
  // Everything left at once: OnDataSent still fires, from the loop, never inside Send.
  if (allSent_ && hSocket_ != INVALID_SOCKET)
    loop_.PostMessage(handle_, WM_SOCKET_SELECT, static_cast<TWParam>(hSocket_), MakeSelectLParam(FD_WRITE, 0));
  return length;
}

int TCustomWSocket::SendText(const std::string& text) { return Send(text.data(), static_cast<int>(text.size())); }

int TCustomWSocket::SendTo(const sockaddr_in& to, const void* data, int length) {
  int result = winsock::sendto(hSocket_, data, length, sendFlagValue_, to);
  if (result > 0 && OnSendData) OnSendData(this, result);
  return result;
}

// ------------------------------------------------------------------ names

std::string TCustomWSocket::GetPeerAddr() {
  if (state_ != wsConnected) return "error";
  sockaddr_in peer{};
  if (winsock::getpeername(hSocket_, peer) != 0) {
    SocketError("GetPeerName");
    return "error";
  }
  return winsock::inet_ntoa(peer.sin_addr.s_addr);
}

std::string TCustomWSocket::GetPeerPort() {
  if (state_ != wsConnected) return "error";
  sockaddr_in peer{};
  if (winsock::getpeername(hSocket_, peer) != 0) {
    SocketError("GetPeerPort");
    return "error";
  }
  return IntToStr(ntohs(peer.sin_port));
}

int TCustomWSocket::PeerName(sockaddr_in& name) {
  if (state_ != wsConnected) return -1;
  return winsock::getpeername(hSocket_, name);
}

int TCustomWSocket::LocalName(sockaddr_in& name) { return winsock::getsockname(hSocket_, name); }

std::string TCustomWSocket::BoundPort() {
  if (state_ != wsBound && state_ != wsConnected && state_ != wsListening) return "error";
  sockaddr_in local{};
  if (winsock::getsockname(hSocket_, local) != 0) return "error";
  return IntToStr(ntohs(local.sin_port));
}

// ------------------------------------------------------------------ lookups

void TCustomWSocket::DnsLookup(const std::string& host) {
  if (host.empty()) {
    RaiseSocketError("DNS lookup: invalid host name.");
    FireDnsLookupDone(winsock::WSAEINVAL);
    return;
  }
  try {
    CancelLookup();
  } catch (const ESocketException&) {
  }
  dnsResult_.clear();
  dnsResultList_.Clear();
  if (IsDottedAddress(host)) {
    dnsResult_ = winsock::inet_ntoa(WSocketResolveHost(host));
    FireDnsLookupDone(0);
    return;
  }
  dnsTask_ = winsock::WSAAsyncGetHostByName(handle_, WM_HOST_BY_NAME_DONE, host);
  if (dnsTask_ == 0) RaiseSocketErrorFmt("%s: can't start DNS lookup, error #%d", {host, winsock::WSAGetLastError()});
}

void TCustomWSocket::ReverseLookup(const std::string& address) {
  if (address.empty()) {
    RaiseSocketError("DNS lookup: invalid host name.");
    FireDnsLookupDone(winsock::WSAEINVAL);
    return;
  }
  try {
    CancelLookup();
  } catch (const ESocketException&) {
  }
  dnsResult_.clear();
  dnsResultList_.Clear();
  if (!IsDottedAddress(address)) {
    RaiseSocketErrorFmt("%s: can't start DNS lookup, error #%d", {address, winsock::WSAEINVAL});
    return;
  }
  dnsTask_ = winsock::WSAAsyncGetHostByAddr(handle_, WM_HOST_BY_ADDR_DONE, WSocketResolveHost(address));
  if (dnsTask_ == 0)
    RaiseSocketErrorFmt("%s: can't start DNS lookup, error #%d", {address, winsock::WSAGetLastError()});
}

void TCustomWSocket::CancelLookup() {
  if (dnsTask_ == 0) return;
  winsock::TTaskHandle task = dnsTask_;
  dnsTask_ = 0;
  if (winsock::WSACancelAsyncRequest(task) != 0) {
    SocketError("WSACancelAsyncRequest");
    return;
  }
  if (!destroying_) FireDnsLookupDone(winsock::WSAEINTR);
}

// ------------------------------------------------------------------ SOCKS and synchronous layers

void TCustomSocksWSocket::Listen() {
  if (!socksServer_.empty()) {
    RaiseSocketError("Listening is not supported thru socks server");
    return;
  }
  TCustomWSocket::Listen();
}

void TCustomSocksWSocket::Connect() {
  if (!socksServer_.empty()) {
    if (!SameText(Trim(Proto()), "tcp"))
      RaiseSocketError("tcp is the only protocol supported thru socks server");
    else
      RaiseSocketError("Connect: connecting thru a socks server is not supported");
    return;
  }
  TCustomWSocket::Connect();
}

int TCustomSyncWSocket::WaitUntilReady(const bool& done, int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done) {
    PumpMessages();
    if (done) break;
    if (terminated_ || loop_.QuitRequested()) return WaitTimedOut;
    if (timeoutMs > 0 && std::chrono::steady_clock::now() >= deadline) return WaitTimedOut;
    loop_.WaitForWork(std::chrono::milliseconds(10));
  }
  return 0;
}

}  // namespace driftpost
