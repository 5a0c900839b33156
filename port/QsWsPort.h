// The Winsock port: the port component over a TCP connection. With DeviceLayer dlSocket, opening
// resolves the peer's address and TCP port, hands them to a TQsWinsockDispatcher and opens it;
// the dispatcher's socket notices come back on the port window and become the accept, connect,
// disconnect and error events. Buffers, triggers, output, trace and log are the port's own.
#pragma once

#include <cstdint>
#include <string>

#include "port/QsPort.h"
#include "port/QsWsDispatch.h"

// Posted to the port window to close the port once the dispatcher's call has returned.
constexpr platform::UINT ClosePortMessage = 2834;

enum TSocketMode : std::uint8_t { smClient = 0, smServer = 1 };

// Sender, the caller's IPv4 address (network order), in-out: keep the caller.
using TSocketAcceptEvent = platform::TEvent<platform::TComponent*, std::uint32_t, bool&>;
// Sender, Winsock error code.
using TSocketErrorCodeEvent = platform::TEvent<platform::TComponent*, int>;

class TQsCustomWinsockPort : public TQsCustomComPort, public TQsSocketNotifyTarget {
 public:
  explicit TQsCustomWinsockPort(platform::TComponent* owner);
  std::string ClassName() const override { return "TQsCustomWinsockPort"; }
  const platform::PropertyTable& Properties() const override;

  // Host name or dotted IPv4 address of the peer. Changing it while open raises 9006; the stored
  // text has no leading or trailing blanks.
  const std::string& ServerAddress() const { return serverAddress_; }
  void SetServerAddress(const std::string& value);
  // Decimal TCP port or service name; the same rules.
  const std::string& WsPort() const { return wsPort_; }
  void SetWsPort(const std::string& value);
  TSocketMode SocketMode() const { return socketMode_; }
  void SetSocketMode(TSocketMode value) { socketMode_ = value; }
  bool TelnetMode() const { return telnetMode_; }
  void SetTelnetMode(bool value) { telnetMode_ = value; }

  TSocketAcceptEvent OnSocketAccept;
  TPortNotifyEvent OnSocketConnect;
  TPortNotifyEvent OnSocketDisconnect;
  TSocketErrorCodeEvent OnSocketError;

  platform::HWND SocketNotifyWindow() const override { return PortWindow(); }

 protected:
  std::unique_ptr<TQsBaseDispatcher> CreateDispatcher() override;
  int OpenDispatcher() override;
  void CheckPortNumber() override;
  void PortOpened() override;
  void PortClosing() override;
  // The dispatcher's socket notices and the deferred close, on the port window.
  bool HandleWindowMessage(platform::UINT msg, platform::WPARAM wParam, platform::LPARAM lParam,
                           platform::LRESULT& result) override;

  virtual bool NotifyAccept(std::uint32_t addr);
  virtual void NotifyConnect();
  virtual void NotifyDisconnect();
  virtual void NotifyError(int errorCode);

 private:
  void SetConnectionText(std::string& field, const std::string& value);
  std::uint32_t ResolveAddress() const;
  std::uint16_t ResolvePort() const;

  std::string serverAddress_;
  std::string wsPort_ = "telnet";
  TSocketMode socketMode_ = smClient;
  bool telnetMode_ = true;
};
