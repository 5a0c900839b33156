// Opening the Winsock port: the peer's address and TCP port from their texts, then the dispatcher.
#include <charconv>

#include "comm/QsExcept.h"
#include "port/QsWsPort.h"

namespace {

namespace ws = platform::ws;

// A dotted address has at most 15 characters; a longer text is never cut into one.
constexpr std::size_t kMaxDottedAddress = 15;

// The port number when text is all decimal digits; 0 for no number or one outside 1..65535.
std::uint16_t DecimalPort(const std::string& text, bool& isNumber) {
  unsigned long value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  isNumber = !text.empty() && ptr == end && (ec == std::errc() || ec == std::errc::result_out_of_range);
  if (!isNumber || ec != std::errc() || value > 0xFFFF) return 0;
  return static_cast<std::uint16_t>(value);
}

}  // namespace

std::uint32_t TQsCustomWinsockPort::ResolveAddress() const {
  if (socketMode_ != smClient) return ws::INADDR_ANY;
  if (serverAddress_.empty()) throw EQsSocketException(ws::WSAEDESTADDRREQ);
  TQsDeviceSocket& ds = DeviceSocket();
  std::uint32_t address =
      serverAddress_.size() <= kMaxDottedAddress ? ds.TextToAddress(serverAddress_) : ws::INADDR_NONE;
  if (address == ws::INADDR_NONE) address = ds.ResolveHost(serverAddress_);
  if (address == 0) throw EQsSocketException(-kErrCannotResolveAddress);
  return address;
}

std::uint16_t TQsCustomWinsockPort::ResolvePort() const {
  bool isNumber = false;
  std::uint16_t port = DecimalPort(wsPort_, isNumber);
  if (!isNumber) port = DeviceSocket().ResolveService(wsPort_);
  if (port == 0) throw EQsSocketException(-kErrInvalidPort);
  return port;
}

int TQsCustomWinsockPort::OpenDispatcher() {
  if (DeviceLayer() != dlSocket) return TQsCustomComPort::OpenDispatcher();
  const std::uint32_t address = ResolveAddress();
  const std::uint16_t port = ResolvePort();
  auto* dispatcher = dynamic_cast<TQsWinsockDispatcher*>(CurrentDispatcher());
  if (dispatcher == nullptr) RaiseForCode(nullptr, kErrNullApi);
  dispatcher->SetConnectionParams(address, DeviceSocket().HostToNetPort(port), socketMode_ == smClient, telnetMode_);
  if (const int r = dispatcher->OpenSocket(InBufferSize(), OutBufferSize()); r < 0) throw EQsSocketException(-r);
  SetState(psOpen);
  return 0;
}
