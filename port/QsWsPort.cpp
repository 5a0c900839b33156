// The Winsock port's properties and its handling of the dispatcher's socket notices.
#include "port/QsWsPort.h"

#include "comm/QsExcept.h"

namespace {

namespace ws = platform::ws;

std::string TrimBlanks(const std::string& text) {
  const auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
  std::size_t begin = 0, end = text.size();
  while (begin < end && blank(text[begin])) ++begin;
  while (end > begin && blank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

bool IsConnectionLost(int code) {
  return code == ws::WSAENETRESET || code == ws::WSAECONNABORTED || code == ws::WSAECONNRESET;
}

}  // namespace

TQsCustomWinsockPort::TQsCustomWinsockPort(platform::TComponent* owner) : TQsCustomComPort(owner) {}

const platform::PropertyTable& TQsCustomWinsockPort::Properties() const {
  using P = TQsCustomWinsockPort;
  static const platform::PropertyTable table =
      platform::PropertyTable(&TQsCustomComPort::Properties())
          .Property("ServerAddress", &P::ServerAddress, &P::SetServerAddress)
          .Property("WsPort", &P::WsPort, &P::SetWsPort)
          .Enumeration("SocketMode", &P::SocketMode, &P::SetSocketMode,
                       std::vector<std::pair<std::string, TSocketMode>>{{"smClient", smClient}, {"smServer", smServer}})
          .Property("TelnetMode", &P::TelnetMode, &P::SetTelnetMode);
  return table;
}

void TQsCustomWinsockPort::SetConnectionText(std::string& field, const std::string& value) {
  if (value == field) return;
  if (State() == psOpen) throw EQsSocketException(-kErrCannotChangeWhileConnected);
  field = TrimBlanks(value);
}

void TQsCustomWinsockPort::SetServerAddress(const std::string& value) { SetConnectionText(serverAddress_, value); }
void TQsCustomWinsockPort::SetWsPort(const std::string& value) { SetConnectionText(wsPort_, value); }

// ---- The device layer ---------------------------------------------------------------------------

std::unique_ptr<TQsBaseDispatcher> TQsCustomWinsockPort::CreateDispatcher() {
  if (DeviceLayer() != dlSocket) return TQsCustomComPort::CreateDispatcher();
  return std::make_unique<TQsWinsockDispatcher>(this);
}

void TQsCustomWinsockPort::CheckPortNumber() {
  if (DeviceLayer() != dlSocket) TQsCustomComPort::CheckPortNumber();
}

void TQsCustomWinsockPort::PortOpened() {
  // The port window is hooked through HandleWindowMessage, which sees every message the port's
  // own procedure does not handle.
  TQsCustomComPort::PortOpened();
}

void TQsCustomWinsockPort::PortClosing() {
  const std::shared_ptr<bool> alive = AliveToken();
  TQsCustomComPort::PortClosing();
  if (*alive) NotifyDisconnect();
}

// ---- Notices ------------------------------------------------------------------------------------

bool TQsCustomWinsockPort::HandleWindowMessage(platform::UINT msg, platform::WPARAM wParam, platform::LPARAM lParam,
                                               platform::LRESULT& result) {
  if (msg == ClosePortMessage) {
    SetOpen(false);
    result = 0;
    return true;
  }
  if (msg != SocketMessage) return TQsCustomComPort::HandleWindowMessage(msg, wParam, lParam, result);
  result = 0;
  switch (wParam) {
    case kWsNotifyAccept:
      result = NotifyAccept(static_cast<std::uint32_t>(lParam)) ? 1 : 0;
      break;
    case kWsNotifyConnect:
      NotifyConnect();
      break;
    case kWsNotifyClosed:
      // Closed later, once the dispatcher's call has returned.
      platform::PostMessage(PortWindow(), ClosePortMessage, 0, 0);
      break;
    case kWsNotifyClientClosed:
      NotifyDisconnect();
      break;
    default:
      NotifyError(static_cast<int>(wParam));
      break;
  }
  return true;
}

bool TQsCustomWinsockPort::NotifyAccept(std::uint32_t addr) {
  bool accept = true;
  if (OnSocketAccept) OnSocketAccept(this, addr, accept);
  return accept;
}

void TQsCustomWinsockPort::NotifyConnect() {
  if (OnSocketConnect) OnSocketConnect(this);
}

void TQsCustomWinsockPort::NotifyDisconnect() {
  if (OnSocketDisconnect) OnSocketDisconnect(this);
}

void TQsCustomWinsockPort::NotifyError(int errorCode) {
  if (IsConnectionLost(errorCode)) {
    if (socketMode_ == smClient)
      platform::PostMessage(PortWindow(), ClosePortMessage, 0, 0);
    else
      NotifyDisconnect();
  }
  if (OnSocketError) OnSocketError(this, errorCode);
}
