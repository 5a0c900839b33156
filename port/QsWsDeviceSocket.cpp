// The shared socket object of the Winsock dispatchers: the connection list with its one-entry
// cache, and the socket notices routed to each connection's dispatcher and owner port.
#include <algorithm>

#include "port/QsWsDispatch.h"

namespace {

namespace ws = platform::ws;

constexpr long kSelectAll = ws::FD_READ | ws::FD_WRITE | ws::FD_ACCEPT | ws::FD_CONNECT | ws::FD_CLOSE;

// Restores a dispatcher's Dispatching flag however the port's answer is left.
class TDispatchingScope {
 public:
  explicit TDispatchingScope(TQsBaseDispatcher& d) : d_(d), was_(d.Dispatching()) { d_.SetDispatching(true); }
  ~TDispatchingScope() { d_.SetDispatching(was_); }
  TDispatchingScope(const TDispatchingScope&) = delete;
  TDispatchingScope& operator=(const TDispatchingScope&) = delete;

 private:
  TQsBaseDispatcher& d_;
  bool was_;
};

}  // namespace

TQsDeviceSocket& DeviceSocket() {
  static TQsDeviceSocket instance(nullptr);
  return instance;
}

TQsDeviceSocket::TQsDeviceSocket(platform::TComponent* owner) : TQsSocket(owner) {}

TQsDeviceSocket::~TQsDeviceSocket() {
  // The connections still open go with their owner; they leave the list themselves.
  TQsBaseDispatcher::Guard guard(connectionLock_);
  while (!connections_.empty()) delete connections_.back();
}

// ---- The connection list ----------------------------------------------------------------------

void TQsDeviceSocket::AddConnection(TWsConnection* connection) {
  TQsBaseDispatcher::Guard guard(connectionLock_);
  connections_.push_back(connection);
}

void TQsDeviceSocket::RemoveConnection(TWsConnection* connection) {
  TQsBaseDispatcher::Guard guard(connectionLock_);
  std::erase(connections_, connection);
  if (lastFound_ == connection) ForgetLastFound();
}

void TQsDeviceSocket::ForgetLastFound() {
  TQsBaseDispatcher::Guard guard(connectionLock_);
  lastFoundSocket_ = ws::INVALID_SOCKET;
  lastFound_ = nullptr;
}

TWsConnection* TQsDeviceSocket::FindConnection(TSocket socket) {
  if (socket == ws::INVALID_SOCKET) return nullptr;  // every unlinked connection has it as its data socket
  TQsBaseDispatcher::Guard guard(connectionLock_);
  // A cached hit is checked again: the connection's data socket may have changed since.
  if (lastFound_ != nullptr && lastFoundSocket_ == socket &&
      (lastFound_->DataSocket() == socket || lastFound_->MainSocket() == socket))
    return lastFound_;
  for (TWsConnection* c : connections_) {
    if (c->DataSocket() == socket || c->MainSocket() == socket) {
      lastFoundSocket_ = socket;
      lastFound_ = c;
      return c;
    }
  }
  return nullptr;
}

bool TQsDeviceSocket::HoldsConnection(const TWsConnection* connection) {
  TQsBaseDispatcher::Guard guard(connectionLock_);
  return std::find(connections_.begin(), connections_.end(), connection) != connections_.end();
}

int TQsDeviceSocket::ConnectionCount() {
  TQsBaseDispatcher::Guard guard(connectionLock_);
  return static_cast<int>(connections_.size());
}

// ---- Routing ----------------------------------------------------------------------------------

platform::LRESULT TQsDeviceSocket::NotifyPort(TSocket socket, platform::WPARAM code, platform::LPARAM param) {
  auto* d = TQsBaseDispatcher::FindDispatcher<TQsWinsockDispatcher>(static_cast<int>(socket));
  if (d == nullptr) return 0;
  TDispatchingScope dispatching(*d);
  auto* target = dynamic_cast<TQsSocketNotifyTarget*>(d->Owner());
  if (target == nullptr) return 0;
  const platform::HWND window = target->SocketNotifyWindow();
  return window == 0 ? 0 : platform::SendMessage(window, SocketMessage, code, param);
}

void TQsDeviceSocket::NotifyDispatcher(TSocket socket) {
  auto* d = TQsBaseDispatcher::FindDispatcher<TQsWinsockDispatcher>(static_cast<int>(socket));
  if (d != nullptr && d->DispatcherWindow() != 0)
    platform::SendMessage(d->DispatcherWindow(), SocketMessage, static_cast<platform::WPARAM>(socket), 0);
}

// ---- Handlers ---------------------------------------------------------------------------------

void TQsDeviceSocket::AcceptCaller(TSocket listener, TWsConnection* connection) {
  TQsWinsockDispatcher* d = connection->OwnerDispatcher();
  if (connection->DataSocket() != ws::INVALID_SOCKET) {
    // One client at a time: a second caller is taken and dropped. Its address goes to a scratch
    // record, so that the linked client's address stays as it is.
    TSockAddrIn refused{};
    const TSocket extra = AcceptSocket(listener, refused);
    if (extra != ws::INVALID_SOCKET) CloseSocket(extra);
    return;
  }
  const TSocket accepted = AcceptSocket(listener, d->RemoteAddressRecord());
  if (accepted == ws::INVALID_SOCKET) {
    d->RemoteAddressRecord() = TSockAddrIn{};
    return;
  }
  connection->SetDataSocket(accepted);
  const TSocket mainSocket = connection->MainSocket();
  const platform::LRESULT answer = NotifyPort(
      mainSocket, kWsNotifyAccept, static_cast<platform::LPARAM>(d->RemoteAddress().sin_addr.s_addr));
  // The port may have closed the connection (and its sockets) while it answered.
  if (!HoldsConnection(connection)) return;
  if (answer == 1) {
    connection->SetLinkUp(true);
  } else {
    CloseSocket(accepted);
    d->RemoteAddressRecord() = TSockAddrIn{};
    connection->SetDataSocket(ws::INVALID_SOCKET);
  }
  TQsSocket::HandleAccept(listener);
}

void TQsDeviceSocket::HandleAccept(TSocket socket) {
  TWsConnection* c = FindConnection(socket);
  if (c == nullptr || c->OwnerDispatcher() == nullptr) {
    TQsSocket::HandleAccept(socket);
    return;
  }
  AcceptCaller(socket, c);
}

void TQsDeviceSocket::HandleConnect(TSocket socket) {
  TWsConnection* c = FindConnection(socket);
  if (c == nullptr) return;
  c->SetLinkUp(true);
  if (c->ClientMode()) c->SetDataSocket(socket);
  NotifyPort(socket, kWsNotifyConnect, 0);
  TQsSocket::HandleConnect(socket);
}

void TQsDeviceSocket::HandleDisconnect(TSocket socket) {
  TWsConnection* c = FindConnection(socket);
  if (c == nullptr) {
    TQsSocket::HandleDisconnect(socket);
    return;
  }
  const TSocket mainSocket = c->MainSocket();
  if (auto* d = TQsBaseDispatcher::FindDispatcher<TQsWinsockDispatcher>(static_cast<int>(mainSocket))) {
    d->RemoteAddressRecord() = TSockAddrIn{};
    c->SetDataSocket(ws::INVALID_SOCKET);
    c->SetLinkUp(false);
  }
  if (socket == mainSocket) {
    NotifyPort(mainSocket, kWsNotifyClosed, 0);
  } else {
    NotifyPort(mainSocket, kWsNotifyClientClosed, 0);
    CloseSocket(socket);
  }
  TQsSocket::HandleDisconnect(socket);
}

void TQsDeviceSocket::HandleError(TSocket socket, std::int32_t code) {
  if (TWsConnection* c = FindConnection(socket)) NotifyPort(c->MainSocket(), static_cast<platform::WPARAM>(code), 0);
  if (OnError) OnError(this, socket, code);
}

void TQsDeviceSocket::HandleRead(TSocket socket) {
  if (TWsConnection* c = FindConnection(socket)) NotifyDispatcher(c->MainSocket());
  TQsSocket::HandleRead(socket);
}

void TQsDeviceSocket::HandleWrite(TSocket socket) { TQsSocket::HandleWrite(socket); }
