// The listening server and its clients.
//
// TWSocketServer listens (Proto, Port, Addr as for TWSocket::Listen) and creates one client
// object per accepted connection, of the class chosen with SetClientClass (TWSocketClient
// or a descendant). The server owns its clients as a component owner; they are listed in
// accept order (ClientCount, Client(i)). Every client lives until its session has closed
// and the server has handled WM_CLIENT_CLOSED for it: OnClientDisconnect (Error always 0)
// fires, then the client is freed, from the loop, never inside one of its own handlers.
//
// Per connection the owner sees OnClientCreate (set per-client options here, before the
// connection is adopted), OnClientConnect, and later OnClientDisconnect. With MaxClients
// above 0, a client beyond the limit is sent BannerToBusy and closed at once; otherwise it
// is sent Banner (nothing when empty).
//
// Nothing one connection does stops the server: a connection that fails while it is taken
// (reset before it was accepted, no peer address any more, options refused) is dropped
// without events, and an exception from the owner's OnClientConnect goes to that client's
// BackgroundException, not to the server's. When accepting fails because the process has
// run out of descriptors or buffers, the server stays up: it stops asking for connections
// and asks again once a client has been freed, or after a short while (AcceptRetryDelay).
//
// Taking a client in and letting it go cost the same however many clients there are:
// clients take no interest in one another, so a client coming or going is told to the
// server alone, not to every other client as component notifications otherwise are.
#pragma once

#include <chrono>

#include "net/WSocket.h"
#include "platform/IndexedList.h"

namespace driftpost {

class TWSocketClient;
class TCustomWSocketServer;

// A client class: makes a new client owned by `owner`. ClientClassOf<T>() gives one.
using TWSocketClientClass = TWSocketClient* (*)(TComponent* owner);
template <class T>
TWSocketClient* NewClientOf(TComponent* owner) {
  return new T(owner);
}
template <class T>
constexpr TWSocketClientClass ClientClassOf() {
  return &NewClientOf<T>;
}

using TWSocketClientCreateEvent = std::function<void(TComponent* Sender, TWSocketClient* Client)>;
using TWSocketClientConnectEvent =
    std::function<void(TComponent* Sender, TWSocketClient* Client, std::uint16_t Error)>;

constexpr unsigned WM_CLIENT_CLOSED = WM_USER + 30;  // WParam: the client's handle, LParam: the client
constexpr unsigned WM_RESUME_ACCEPT = WM_USER + 31;  // ask for connections again

class TWSocketClient : public TWSocket {
 public:
  explicit TWSocketClient(TComponent* owner = nullptr);

  const std::string& Banner() const { return banner_; }
  void SetBanner(const std::string& value) { banner_ = value; }
  TCustomWSocketServer* Server() const { return server_; }
  void SetServer(TCustomWSocketServer* server) { server_ = server; }

  // Sends Banner followed by CR LF, unless Banner is empty.
  virtual void StartSession();
  // The peer's address and port as captured when the connection was adopted; they stay
  // readable after the connection has closed.
  std::string GetPeerAddr() override;
  std::string GetPeerPort() override;
  void Dup(TSocket handle) override;

 protected:
  friend class TCustomWSocketServer;

  void FireSessionClosed(int error) override;

 private:
  std::string banner_;
  TCustomWSocketServer* server_ = nullptr;
  std::string peerAddr_;
  std::string peerPort_;
  bool sessionClosedFlag_ = false;
};

class TCustomWSocketServer : public TWSocket {
 public:
  static constexpr std::chrono::milliseconds AcceptRetryDelay{250};

  explicit TCustomWSocketServer(TComponent* owner = nullptr);
  ~TCustomWSocketServer() override;

  const std::string& Banner() const { return banner_; }
  void SetBanner(const std::string& value) { banner_ = value; }
  const std::string& BannerToBusy() const { return bannerToBusy_; }
  void SetBannerToBusy(const std::string& value) { bannerToBusy_ = value; }
  int MaxClients() const { return maxClients_; }
  void SetMaxClients(int value) { maxClients_ = value; }
  TWSocketClientClass ClientClass() const { return clientClass_; }
  void SetClientClass(TWSocketClientClass value) { clientClass_ = value ? value : ClientClassOf<TWSocketClient>(); }
  int ClientCount() { return GetClientCount(); }
  // The client at `index`, or nullptr when the index is out of range.
  TWSocketClient* Client(int index) { return GetClient(index); }
  // Connections accepted so far; never reset.
  unsigned ClientSerial() const { return clientNum_; }
  // Whether accepting is suspended because descriptors ran out.
  bool AcceptSuspended() const { return acceptSuspended_; }

  TWSocketClientCreateEvent OnClientCreate;
  TWSocketClientConnectEvent OnClientConnect;
  TWSocketClientConnectEvent OnClientDisconnect;

  void WndProc(TMessage& message) override;

 protected:
  friend class TWSocketClient;

  void Notification(TComponent* component, TOperation operation) override;
  void AssignDefaults() override;
  void FireSessionAvailable(int error) override;
  virtual void FireClientCreate(TWSocketClient* client);
  virtual void FireClientConnect(TWSocketClient* client, int error);
  virtual void FireClientDisconnect(TWSocketClient* client, int error);
  virtual int GetClientCount();
  virtual TWSocketClient* GetClient(int index);

 private:
  bool IsClient(const TComponent* component) const;
  void AddClient(TWSocketClient* client);
  void ClientClosed(TWSocketClient* client, THandle clientHandle);
  void SuspendAccept();
  void ResumeAccept();

  std::string banner_ = "Welcome to TcpSrv";
  std::string bannerToBusy_ = "Sorry, too many clients";
  TWSocketClientClass clientClass_ = ClientClassOf<TWSocketClient>();
  TIndexedList<TWSocketClient, TComponent> clients_;
  bool creatingClient_ = false;  // the component being inserted is a client in the making
  unsigned clientNum_ = 0;
  int maxClients_ = 0;
  bool acceptSuspended_ = false;
  unsigned resumeTimer_ = 0;
};

class TWSocketServer : public TCustomWSocketServer {
 public:
  using TCustomWSocketServer::TCustomWSocketServer;
};

}  // namespace driftpost
