// The shared socket object of the Winsock dispatchers: the connection list with its one-entry
// cache, and the socket notices routed to each connection's dispatcher and owner port.
#include <algorithm>

#include "port/QsWsDispatch.h"

namespace {

namespace ws = platform::ws;

// A socket error met inside a data path, told to the port from the loop once that path returned:
// wParam the connection's serial number, lParam the error code.
constexpr platform::UINT kDeferredErrorMessage = 0x0B13;

bool IsConnectionLost(std::int32_t code) {
  return code == ws::WSAENETRESET || code == ws::WSAECONNABORTED || code == ws::WSAECONNRESET;
}

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
  auto* target = dynamic_cast<TQsSocketNotifyTarget*>(d->Owner());
  if (target == nullptr) return 0;
  const platform::HWND window = target->SocketNotifyWindow();
  if (window == 0) return 0;
  // The port may close or free itself in its answer: the dispatcher outlives this call.
  TQsDispatcherPin pin(*d);
  platform::LRESULT result;
  {
    TDispatchingScope dispatching(*d);
    result = platform::SendMessage(window, SocketMessage, code, param);
  }
  // A close asked for in the answer is finished here, unless a service pass up the stack does it.
  if (d->ClosePending() && !d->InDispatch()) d->ReleasePort();
  return result;
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
  if (c == nullptr || c->PeerClosed()) {
    TQsSocket::HandleDisconnect(socket);
    return;
  }
  // What the peer sent before it closed stays readable: the unlink and the notice wait until the
  // dispatcher's passes have read it all (FinishDisconnect).
  c->SetPeerClosed(socket);
  TQsWinsockDispatcher* d = c->OwnerDispatcher();
  if (d != nullptr && d->DispatcherWindow() != 0)
    platform::PostMessage(d->DispatcherWindow(), SocketMessage, static_cast<platform::WPARAM>(c->MainSocket()), 0);
  else
    FinishDisconnect(c);
  TQsSocket::HandleDisconnect(socket);
}

void TQsDeviceSocket::Unlink(TWsConnection* c) {
  if (auto* d = TQsBaseDispatcher::FindDispatcher<TQsWinsockDispatcher>(static_cast<int>(c->MainSocket())))
    d->RemoteAddressRecord() = TSockAddrIn{};
  const TSocket data = c->DataSocket();
  c->SetDataSocket(ws::INVALID_SOCKET);
  c->SetLinkUp(false);
  // An accepted client's socket is closed before the port hears of it, so that nothing the port
  // does in its answer can meet a number already reused.
  if (!c->ClientMode() && data != ws::INVALID_SOCKET && data != c->MainSocket()) {
    CloseSocket(data);
    c->FlushSend();  // the next client never gets what was meant for this one
  }
}

void TQsDeviceSocket::FinishDisconnect(TWsConnection* c) {
  const TSocket closed = c->ClosedSocket();
  const TSocket mainSocket = c->MainSocket();
  c->ClearPeerClosed();
  // Already unlinked (a lost link was told as an error): nothing more to tell.
  if (closed != c->DataSocket() && closed != mainSocket) return;
  Unlink(c);
  NotifyPort(mainSocket, closed == mainSocket ? kWsNotifyClosed : kWsNotifyClientClosed, 0);
}

void TQsDeviceSocket::ReportToPort(TWsConnection* c, TSocket socket, std::int32_t code) {
  if (IsConnectionLost(code)) {
    // Told once per link: a dead link is unlinked, so later sends do not report it again.
    if (c->DataSocket() == ws::INVALID_SOCKET || socket != c->DataSocket()) return;
    c->ClearPeerClosed();
    Unlink(c);
  }
  NotifyPort(c->MainSocket(), static_cast<platform::WPARAM>(code), 0);
}

void TQsDeviceSocket::HandleError(TSocket socket, std::int32_t code) {
  if (TWsConnection* c = FindConnection(socket)) {
    if (c->Busy()) {
      // Met inside a data path that the application called or a pass runs: told from the loop,
      // so that a port closed or freed in its answer is never under that path.
      platform::PostMessage(WindowHandle(), kDeferredErrorMessage, static_cast<platform::WPARAM>(c->Serial()),
                            static_cast<platform::LPARAM>(code));
    } else {
      ReportToPort(c, socket, code);
    }
  }
  if (OnError) OnError(this, socket, code);
}

bool TQsDeviceSocket::HandleMessage(platform::UINT msg, platform::WPARAM wParam, platform::LPARAM lParam,
                                    platform::LRESULT& result) {
  if (msg != kDeferredErrorMessage) return TQsSocket::HandleMessage(msg, wParam, lParam, result);
  result = 0;
  const auto code = static_cast<std::int32_t>(lParam);
  if (TWsConnection* c = FindConnectionBySerial(static_cast<std::uint64_t>(wParam))) {
    // A lost link is reported against the socket that carried it, if it still does.
    const TSocket socket = IsConnectionLost(code) ? c->DataSocket() : c->MainSocket();
    ReportToPort(c, socket, code);
  }
  return true;
}

TWsConnection* TQsDeviceSocket::FindConnectionBySerial(std::uint64_t serial) {
  TQsBaseDispatcher::Guard guard(connectionLock_);
  for (TWsConnection* c : connections_)
    if (c->Serial() == serial) return c;
  return nullptr;
}

void TQsDeviceSocket::HandleRead(TSocket socket) {
  if (TWsConnection* c = FindConnection(socket)) NotifyDispatcher(c->MainSocket());
  TQsSocket::HandleRead(socket);
}

void TQsDeviceSocket::HandleWrite(TSocket socket) { TQsSocket::HandleWrite(socket); }
