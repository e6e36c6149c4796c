#include "net/WSocketS.h"

#include <algorithm>
#include <exception>

namespace driftpost {

namespace {

// Accept failures that say the process is out of descriptors or memory for a moment.
bool IsResourceShortage(int error) { return error == winsock::WSAEMFILE || error == winsock::WSAENOBUFS; }

// Accept failures that concern the listening socket itself; every other one concerns only
// the pending connection (gone before it was taken, refused by a filter, ...).
bool IsListenerFault(int error) {
  return error == winsock::WSAEBADF || error == winsock::WSAENOTSOCK || error == winsock::WSAEINVAL ||
         error == winsock::WSAEOPNOTSUPP || error == winsock::WSAEFAULT;
}

}  // namespace

// ------------------------------------------------------------------ client

TWSocketClient::TWSocketClient(TComponent* owner) : TWSocket(owner) {
  // The owner's insert notification came while this object was only a TComponent; now that
  // it is a client, a server that owns it lists it.
  if (auto* server = dynamic_cast<TCustomWSocketServer*>(owner)) server->AddClient(this);
}

void TWSocketClient::StartSession() {
  if (!banner_.empty()) SendText(banner_ + "\r\n");
}

std::string TWSocketClient::GetPeerAddr() { return peerAddr_; }

std::string TWSocketClient::GetPeerPort() { return peerPort_; }

void TWSocketClient::Dup(TSocket handle) {
  TWSocket::Dup(handle);
  peerAddr_ = TWSocket::GetPeerAddr();
  peerPort_ = TWSocket::GetPeerPort();
}

void TWSocketClient::FireSessionClosed(int error) {
  if (sessionClosedFlag_) return;
  sessionClosedFlag_ = true;
  // Posted before the client's own handlers run, so the client is freed only after they
  // have all returned.
  // The client's own handle goes along: handles are never reused, so the server can tell
  // this client from a later one that happens to get the same address.
  if (server_)
    loop_.PostMessage(server_->Handle(), WM_CLIENT_CLOSED, handle_, reinterpret_cast<TLParam>(this));
  TWSocket::FireSessionClosed(error);
}

// ------------------------------------------------------------------ server

TCustomWSocketServer::TCustomWSocketServer(TComponent* owner) : TWSocket(owner) {}

TCustomWSocketServer::~TCustomWSocketServer() {
  destroying_ = true;
  if (resumeTimer_) loop_.KillTimer(resumeTimer_);
  while (TWSocketClient* client = clients_.Last()) {
    try {
      delete client;
    } catch (...) {
    }
    // Destruction removes the client through the owner's notification; never loop forever.
    clients_.Remove(client);
  }
}

bool TCustomWSocketServer::IsClient(const TComponent* component) const { return clients_.Contains(component); }

void TCustomWSocketServer::AddClient(TWSocketClient* client) {
  if (client && client->Owner() == this) clients_.Add(client);
}

void TCustomWSocketServer::Notification(TComponent* component, TOperation operation) {
  if (operation == TOperation::opInsert) {
    // A client in the making is listed once it is one (its constructor calls AddClient).
    if (creatingClient_ && component->Owner() == this) return;
    TWSocket::Notification(component, operation);
    // A fully built client handed to this server later.
    if (component->Owner() == this) AddClient(dynamic_cast<TWSocketClient*>(component));
    return;
  }
  // The component may be half destroyed: it is looked up by its address only.
  if (clients_.Remove(component)) return;
  TWSocket::Notification(component, operation);
}

int TCustomWSocketServer::GetClientCount() { return clients_.Count(); }

TWSocketClient* TCustomWSocketServer::GetClient(int index) { return clients_.At(index); }

void TCustomWSocketServer::FireClientCreate(TWSocketClient* client) {
  if (OnClientCreate) OnClientCreate(this, client);
}

void TCustomWSocketServer::FireClientConnect(TWSocketClient* client, int error) {
  if (OnClientConnect) OnClientConnect(this, client, static_cast<std::uint16_t>(error));
}

void TCustomWSocketServer::FireClientDisconnect(TWSocketClient* client, int error) {
  if (OnClientDisconnect) OnClientDisconnect(this, client, static_cast<std::uint16_t>(error));
}

void TCustomWSocketServer::FireSessionAvailable(int error) {
  TWSocket::FireSessionAvailable(error);
  if (error != 0) return;
  ++clientNum_;
  creatingClient_ = true;
  TWSocketClient* client;
  try {
    client = clientClass_(this);
  } catch (...) {
    creatingClient_ = false;
    throw;
  }
  creatingClient_ = false;
  AddClient(client);
  FireClientCreate(client);
  std::string number = std::to_string(clientNum_);
  client->SetName(Name().empty() ? "Client" + number : Name() + "Client" + number);
  client->SetBanner(banner_);
  client->SetServer(this);

  TSocket handle = TryAccept();
  if (handle == INVALID_SOCKET) {
    // The client never had a connection: it goes at once, without events.
    int code = lastError_;
    delete client;
    if (IsResourceShortage(code)) {
      SuspendAccept();
    } else if (IsListenerFault(code)) {
      winsock::WSASetLastError(code);
      SocketError("Accept");
    }
    return;
  }
  // Taking the connection over fails when the peer has already reset it (it then has no
  // address any more) or the system refuses its options: that connection is dropped, as
  // one that was gone before it could be accepted. The handle closes with the client.
  try {
    client->Dup(handle);
  } catch (const std::exception&) {
  }
  if (!IsClient(client)) return;
  if (client->State() != wsConnected || client->HSocket() == INVALID_SOCKET) {
    delete client;
    return;
  }
  try {
    FireClientConnect(client, error);
    if (IsClient(client) && client->State() == wsConnected) {
      if (maxClients_ > 0 && maxClients_ < ClientCount()) {
        client->SetBanner(bannerToBusy_);
        client->StartSession();
        client->Close();
      } else {
        client->StartSession();
      }
    }
  } catch (const std::exception& failure) {
    // About this client only: it is aborted (unless its own handler keeps it), and its
    // end reaches the owner as usual.
    if (IsClient(client)) client->BackgroundException(failure);
  }
}

void TCustomWSocketServer::WndProc(TMessage& message) {
  switch (message.Msg) {
    case WM_CLIENT_CLOSED:
      ClientClosed(reinterpret_cast<TWSocketClient*>(message.LParam), message.WParam);
      return;
    case WM_RESUME_ACCEPT:
      resumeTimer_ = 0;
      ResumeAccept();
      return;
    default:
      TWSocket::WndProc(message);
  }
}

void TCustomWSocketServer::ClientClosed(TWSocketClient* client, THandle clientHandle) {
  // A client that is no longer listed has been freed already: the pointer is not used.
  if (!IsClient(client) || client->Handle() != clientHandle) return;
  std::exception_ptr failure;
  try {
    FireClientDisconnect(client, 0);
  } catch (...) {
    failure = std::current_exception();
  }
  if (IsClient(client)) delete client;
  // A descriptor has just been released.
  ResumeAccept();
  if (failure) std::rethrow_exception(failure);
}

void TCustomWSocketServer::SuspendAccept() {
  if (acceptSuspended_) return;
  acceptSuspended_ = true;
  // Keep every notification but FD_ACCEPT: a readable listening socket must not make the
  // loop spin while no descriptor can be had.
  if (hSocket_ != INVALID_SOCKET && !paused_)
    winsock::WSAAsyncSelect(hSocket_, handle_, WM_SOCKET_SELECT, selectEvent_ & ~FD_ACCEPT);
  resumeTimer_ = loop_.SetTimer(handle_, WM_RESUME_ACCEPT, AcceptRetryDelay);
}

void TCustomWSocketServer::ResumeAccept() {
  if (!acceptSuspended_) return;
  acceptSuspended_ = false;
  if (resumeTimer_) loop_.KillTimer(resumeTimer_);
  resumeTimer_ = 0;
  if (hSocket_ != INVALID_SOCKET && state_ == wsListening) Select(selectEvent_);
}

void TCustomWSocketServer::AssignDefaults() {
  TWSocket::AssignDefaults();
  acceptSuspended_ = false;
  if (resumeTimer_) loop_.KillTimer(resumeTimer_);
  resumeTimer_ = 0;
}

}  // namespace driftpost
