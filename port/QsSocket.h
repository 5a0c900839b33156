// The socket object: starts the socket library, owns a hidden window that receives the library's
// asynchronous notifications (SocketMessage), turns each into a virtual handler call and an event,
// and offers thin operations over the library. Socket handles are plain values the caller keeps;
// one object serves any number of sockets.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Component.h"
#include "platform/Event.h"
#include "platform/MessageLoop.h"
#include "platform/WinSock.h"

constexpr platform::UINT SocketMessage = 2833;

using TSocket = platform::ws::SOCKET;
using TSockAddrIn = platform::ws::sockaddr_in;

class TQsSocket;
using TSocketNotifyEvent = platform::TEvent<TQsSocket*, TSocket>;
using TSocketErrorEvent = platform::TEvent<TQsSocket*, TSocket, std::int32_t>;

class TQsSocket : public platform::TComponent {
 public:
  explicit TQsSocket(platform::TComponent* owner);
  ~TQsSocket() override;
  std::string ClassName() const override { return "TQsSocket"; }

  platform::HWND WindowHandle() const { return window_; }
  bool LibraryBound() const { return libraryBound_; }
  // 0 when the library is usable, else why not: 9002 (missing library or entry point), 9003 (wrong
  // version) or the code the library's start-up returned.
  std::int32_t StartupError() const { return startupError_; }
  std::int32_t LastError() const;

  TSocketNotifyEvent OnAccept;
  TSocketNotifyEvent OnConnect;
  TSocketNotifyEvent OnDisconnect;
  TSocketErrorEvent OnError;
  TSocketNotifyEvent OnRead;
  TSocketNotifyEvent OnWrite;

  // Each operation raises the not-initialised EQsSocketException when StartupError is not 0.
  // "Reported" failures go to HandleError; the library's return value is the result.
  std::uint16_t HostToNetPort(std::uint16_t port) const;
  std::uint16_t NetToHostPort(std::uint16_t port) const;
  std::string AddressToText(std::uint32_t address) const;  // network order
  // INADDR_NONE when the text (its first 15 characters) is no dotted address.
  std::uint32_t TextToAddress(const std::string& text) const;
  // The host's first address (network order), or 0 when it has none. Names over 255 characters
  // are refused (0).
  std::uint32_t ResolveHost(const std::string& host) const;
  // The TCP service's port (host order), or 0 when there is no such service.
  std::uint16_t ResolveService(const std::string& service) const;

  TSocket CreateSocket();  // raises EQsSocketException on failure
  int BindSocket(TSocket socket, const TSockAddrIn& address);
  int ListenSocket(TSocket socket, int backlog);
  TSocket AcceptSocket(TSocket socket, TSockAddrIn& address);
  int ConnectSocket(TSocket socket, const TSockAddrIn& address);
  int ReceiveSocket(TSocket socket, void* buffer, int length, int flags);
  int SendSocket(TSocket socket, const void* buffer, int length, int flags);
  int ShutdownSocket(TSocket socket, int how);
  int CloseSocket(TSocket socket);
  int SelectEvents(TSocket socket, long mask);
  int SetSocketOption(TSocket socket, int level, int option, const void* value, int length);

 protected:
  virtual void HandleAccept(TSocket socket);
  virtual void HandleConnect(TSocket socket);
  virtual void HandleDisconnect(TSocket socket);
  // Calls OnError when assigned; otherwise raises EQsSocketException of the code.
  virtual void HandleError(TSocket socket, std::int32_t code);
  virtual void HandleRead(TSocket socket);
  virtual void HandleWrite(TSocket socket);

  // The hidden window's message handlers. Returns true when the message had a handler. Derived
  // classes handle further messages and pass the rest on.
  virtual bool HandleMessage(platform::UINT msg, platform::WPARAM wParam, platform::LPARAM lParam,
                             platform::LRESULT& result);

  void CheckStarted() const;

 private:
  static platform::LRESULT WindowProc(platform::HWND hwnd, platform::UINT msg, platform::WPARAM wParam,
                                      platform::LPARAM lParam);
  void HandleSocketMessage(platform::WPARAM wParam, platform::LPARAM lParam);
  int Reported(TSocket socket, int result);
  int ReportedUnlessWouldBlock(TSocket socket, int result);

  platform::HWND window_ = 0;
  bool libraryBound_ = false;
  std::int32_t startupError_ = 0;
  platform::ws::WSADATA startupData_{};
};
