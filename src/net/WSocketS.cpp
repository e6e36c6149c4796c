#include "net/WSocketS.h"

#include <algorithm>
#include <exception>

namespace driftpost {

namespace {

// Accept failures that say the process is out of descriptors or memory for a moment.
bool IsResourceShortage(int error) { return error == winsock::WSAEMFILE || error == winsock::WSAENOBUFS; }

// Accept failures that concern only the pending connection: it is gone (reset or aborted
// before it was taken), or another taker was quicker. The listening socket is fine.
bool IsPendingConnectionGone(int error) {
  return error == winsock::WSAEWOULDBLOCK || error == winsock::WSAECONNABORTED || error == winsock::WSAECONNRESET;
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
  while (!clients_.empty()) {
    TWSocketClient* client = clients_.back();
    try {
      delete client;
    } catch (...) {
    }
    // Destruction removes the client through the owner's notification; never loop forever.
    if (!clients_.empty() && clients_.back() == client) clients_.pop_back();
  }
}

bool TCustomWSocketServer::IsClient(const TComponent* component) const {
  return std::find(clients_.begin(), clients_.end(), component) != clients_.end();
}

void TCustomWSocketServer::AddClient(TWSocketClient* client) {
  if (client && client->Owner() == this && !IsClient(client)) clients_.push_back(client);
}

void TCustomWSocketServer::Notification(TComponent* component, TOperation operation) {
  TWSocket::Notification(component, operation);
  if (operation == TOperation::opInsert) {
    // A fully built client handed to this server later; new clients list themselves.
    if (component->Owner() == this) AddClient(dynamic_cast<TWSocketClient*>(component));
  } else {
    // The component may be half destroyed: compare addresses only.
    auto it = std::find(clients_.begin(), clients_.end(), component);
    if (it != clients_.end()) clients_.erase(it);
  }
}

int TCustomWSocketServer::GetClientCount() { return static_cast<int>(clients_.size()); }

TWSocketClient* TCustomWSocketServer::GetClient(int index) {
  if (index < 0 || index >= static_cast<int>(clients_.size())) return nullptr;
  return clients_[static_cast<std::size_t>(index)];
}

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
  TWSocketClient* client = clientClass_(this);
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
      return;
    }
    if (IsPendingConnectionGone(code)) return;
    winsock::WSASetLastError(code);
    SocketError("Accept");
    return;
  }
  try {
    client->Dup(handle);
  } catch (...) {
    if (IsClient(client)) delete client;  // closes the adopted handle
    throw;
  }
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
