#include "port/QsSocket.h"

#include <cstring>

#include "comm/QsExcept.h"
#include "platform/Application.h"
#include "port/QsWsUtil.h"

namespace {

namespace ws = platform::ws;

constexpr char kWindowClass[] = "TQsSocketWindow";
constexpr std::uint16_t kVersion11 = 0x0101;
constexpr int kErrorLoadingLibrary = 9002;
constexpr int kErrorWrongVersion = 9003;
constexpr platform::UINT kQueryEndSession = 17;
constexpr std::size_t kMaxNameLength = 255;
constexpr std::size_t kMaxDottedAddress = 15;

const ws::sockaddr* AsSockAddr(const TSockAddrIn& address) { return reinterpret_cast<const ws::sockaddr*>(&address); }

}  // namespace

TQsSocket::TQsSocket(platform::TComponent* owner) : platform::TComponent(owner) {
  libraryBound_ = LoadSocketLibrary();
  if (!libraryBound_) {
    startupError_ = kErrorLoadingLibrary;
    return;
  }
  int rc = SocketFunctions().WSAStartup(kVersion11, &startupData_);
  if (rc != 0) {
    startupError_ = rc;
    return;
  }
  if (startupData_.wVersion != kVersion11) startupError_ = kErrorWrongVersion;
  platform::RegisterWindowClass(kWindowClass, &TQsSocket::WindowProc);
  window_ = platform::CreateWindowOfClass(kWindowClass);
  platform::SetWindowLongPtr(window_, platform::GWLP_USERDATA, reinterpret_cast<platform::LONG_PTR>(this));
}

TQsSocket::~TQsSocket() {
  if (libraryBound_) {
    SocketFunctions().WSACancelBlockingCall();
    SocketFunctions().WSACleanup();
  }
  if (window_ != 0) {
    platform::SetWindowLongPtr(window_, platform::GWLP_USERDATA, 0);
    platform::DestroyWindow(window_);
  }
}

void TQsSocket::CheckStarted() const {
  if (startupError_ != 0) throw EQsSocketException::NotInitialized(startupError_);
}

std::int32_t TQsSocket::LastError() const {
  CheckStarted();
  return SocketFunctions().WSAGetLastError();
}

// ---- Conversions and lookups ----------------------------------------------------------------

std::uint16_t TQsSocket::HostToNetPort(std::uint16_t port) const {
  CheckStarted();
  return SocketFunctions().htons(port);
}

std::uint16_t TQsSocket::NetToHostPort(std::uint16_t port) const {
  CheckStarted();
  return SocketFunctions().ntohs(port);
}

std::string TQsSocket::AddressToText(std::uint32_t address) const {
  CheckStarted();
  return SocketFunctions().inet_ntoa(ws::in_addr{address});
}

std::uint32_t TQsSocket::TextToAddress(const std::string& text) const {
  CheckStarted();
  return SocketFunctions().inet_addr(text.substr(0, kMaxDottedAddress).c_str());
}

std::uint32_t TQsSocket::ResolveHost(const std::string& host) const {
  CheckStarted();
  if (host.size() > kMaxNameLength) return 0;
  ws::hostent* entry = SocketFunctions().gethostbyname(host.c_str());
  if (entry == nullptr || entry->h_addr_list == nullptr || entry->h_addr_list[0] == nullptr) return 0;
  std::uint32_t address;
  std::memcpy(&address, entry->h_addr_list[0], sizeof address);
  return address;
}

std::uint16_t TQsSocket::ResolveService(const std::string& service) const {
  CheckStarted();
  if (service.size() > kMaxNameLength) return 0;
  ws::servent* entry = SocketFunctions().getservbyname(service.c_str(), "tcp");
  if (entry == nullptr) return 0;
  return NetToHostPort(static_cast<std::uint16_t>(entry->s_port));
}

// ---- Socket operations ------------------------------------------------------------------------

int TQsSocket::Reported(TSocket socket, int result) {
  if (result == ws::SOCKET_ERROR) HandleError(socket, SocketFunctions().WSAGetLastError());
  return result;
}

int TQsSocket::ReportedUnlessWouldBlock(TSocket socket, int result) {
  if (result == ws::SOCKET_ERROR) {
    int error = SocketFunctions().WSAGetLastError();
    if (error != ws::WSAEWOULDBLOCK) HandleError(socket, error);
  }
  return result;
}

TSocket TQsSocket::CreateSocket() {
  CheckStarted();
  TSocket s = SocketFunctions().socket(ws::AF_INET, ws::SOCK_STREAM, 0);
  if (s == ws::INVALID_SOCKET) throw EQsSocketException(SocketFunctions().WSAGetLastError());
  return s;
}

int TQsSocket::BindSocket(TSocket socket, const TSockAddrIn& address) {
  CheckStarted();
  TSockAddrIn copy = address;
  return Reported(socket, SocketFunctions().bind(socket, AsSockAddr(copy), sizeof copy));
}

int TQsSocket::ListenSocket(TSocket socket, int backlog) {
  CheckStarted();
  return ReportedUnlessWouldBlock(socket, SocketFunctions().listen(socket, backlog));
}

TSocket TQsSocket::AcceptSocket(TSocket socket, TSockAddrIn& address) {
  CheckStarted();
  int length = sizeof address;
  TSocket accepted = SocketFunctions().accept(socket, reinterpret_cast<ws::sockaddr*>(&address), &length);
  if (accepted == ws::INVALID_SOCKET) HandleError(socket, SocketFunctions().WSAGetLastError());
  return accepted;
}

int TQsSocket::ConnectSocket(TSocket socket, const TSockAddrIn& address) {
  CheckStarted();
  TSockAddrIn copy = address;
  return ReportedUnlessWouldBlock(socket, SocketFunctions().connect(socket, AsSockAddr(copy), sizeof copy));
}

int TQsSocket::ReceiveSocket(TSocket socket, void* buffer, int length, int flags) {
  CheckStarted();
  return ReportedUnlessWouldBlock(socket, SocketFunctions().recv(socket, static_cast<char*>(buffer), length, flags));
}

int TQsSocket::SendSocket(TSocket socket, const void* buffer, int length, int flags) {
  CheckStarted();
  return ReportedUnlessWouldBlock(socket,
                                  SocketFunctions().send(socket, static_cast<const char*>(buffer), length, flags));
}

int TQsSocket::ShutdownSocket(TSocket socket, int how) {
  CheckStarted();
  return ReportedUnlessWouldBlock(socket, SocketFunctions().shutdown(socket, how));
}

int TQsSocket::CloseSocket(TSocket socket) {
  CheckStarted();
  return Reported(socket, SocketFunctions().closesocket(socket));
}

int TQsSocket::SelectEvents(TSocket socket, long mask) {
  CheckStarted();
  return Reported(socket, SocketFunctions().WSAAsyncSelect(socket, window_, SocketMessage, mask));
}

int TQsSocket::SetSocketOption(TSocket socket, int level, int option, const void* value, int length) {
  CheckStarted();
  return Reported(socket,
                  SocketFunctions().setsockopt(socket, level, option, static_cast<const char*>(value), length));
}

// ---- Notifications ----------------------------------------------------------------------------

void TQsSocket::HandleAccept(TSocket socket) {
  if (OnAccept) OnAccept(this, socket);
}
void TQsSocket::HandleConnect(TSocket socket) {
  if (OnConnect) OnConnect(this, socket);
}
void TQsSocket::HandleDisconnect(TSocket socket) {
  if (OnDisconnect) OnDisconnect(this, socket);
}
void TQsSocket::HandleRead(TSocket socket) {
  if (OnRead) OnRead(this, socket);
}
void TQsSocket::HandleWrite(TSocket socket) {
  if (OnWrite) OnWrite(this, socket);
}

void TQsSocket::HandleError(TSocket socket, std::int32_t code) {
  if (OnError)
    OnError(this, socket, code);
  else
    throw EQsSocketException(code);
}

void TQsSocket::HandleSocketMessage(platform::WPARAM wParam, platform::LPARAM lParam) {
  TSocket socket = static_cast<TSocket>(wParam);
  int event = static_cast<int>(lParam & 0xFFFF);
  int error = static_cast<int>((lParam >> 16) & 0xFFFF);
  if (error != 0) {
    HandleError(socket, error);
    return;
  }
  switch (event) {
    case ws::FD_READ: HandleRead(socket); break;
    case ws::FD_WRITE: HandleWrite(socket); break;
    case ws::FD_ACCEPT: HandleAccept(socket); break;
    case ws::FD_CONNECT: HandleConnect(socket); break;
    case ws::FD_CLOSE: HandleDisconnect(socket); break;
    default: break;
  }
}

bool TQsSocket::HandleMessage(platform::UINT msg, platform::WPARAM wParam, platform::LPARAM lParam,
                              platform::LRESULT& result) {
  if (msg != SocketMessage) return false;
  HandleSocketMessage(wParam, lParam);
  result = 0;
  return true;
}

platform::LRESULT TQsSocket::WindowProc(platform::HWND hwnd, platform::UINT msg, platform::WPARAM wParam,
                                        platform::LPARAM lParam) {
  auto* self = reinterpret_cast<TQsSocket*>(platform::GetWindowLongPtr(hwnd, platform::GWLP_USERDATA));
  platform::LRESULT result = 0;
  if (self != nullptr) platform::GuardHandler([&] { self->HandleMessage(msg, wParam, lParam, result); });
  if (msg == kQueryEndSession) result = 1;
  return result;
}
