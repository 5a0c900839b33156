// The Winsock dispatcher's device operations: opening, setting up and closing the connection, the
// data paths and counts handed to the connection, and the connection parameters.
#include "port/QsWsDispatch.h"

#include "comm/QsExcept.h"

namespace {

namespace ws = platform::ws;

constexpr long kSelectAll = ws::FD_READ | ws::FD_WRITE | ws::FD_ACCEPT | ws::FD_CONNECT | ws::FD_CLOSE;  // 59
constexpr int kListenBacklog = 5;
constexpr std::uint32_t kReportedBaud = 19200;

}  // namespace

TQsWinsockDispatcher::TQsWinsockDispatcher(platform::TComponent* owner) : TQsBaseDispatcher(owner) {
  localAddress_.sin_family = ws::AF_INET;
  remoteAddress_.sin_family = ws::AF_INET;
}

TQsWinsockDispatcher::~TQsWinsockDispatcher() { Destroy(); }

void TQsWinsockDispatcher::SetConnectionParams(std::uint32_t address, std::uint16_t port, bool clientMode,
                                               bool useTelnet) {
  clientMode_ = clientMode;
  useTelnet_ = useTelnet;
  remoteAddress_ = TSockAddrIn{};
  remoteAddress_.sin_family = ws::AF_INET;
  remoteAddress_.sin_port = port;
  remoteAddress_.sin_addr.s_addr = address;
  localAddress_.sin_family = ws::AF_INET;
  if (!clientMode) localAddress_.sin_port = port;
}

TWsConnection* TQsWinsockDispatcher::Connection() {
  if (linked_ != nullptr) return linked_;
  const int id = DeviceId();
  return id < 0 ? nullptr : DeviceSocket().FindConnection(static_cast<TSocket>(id));
}

// ---- Opening and closing ----------------------------------------------------------------------

int TQsWinsockDispatcher::DeviceOpen(const std::string& /*name*/, int inSize, int outSize) {
  TQsDeviceSocket& ds = DeviceSocket();
  setupError_ = 0;
  try {
    TQsBaseDispatcher::Guard guard(ds.ConnectionLock());
    // Owned by the shared socket object, which keeps it in its connection list until DeviceClose.
    auto* connection = new TWsConnection(ds, inSize, outSize);
    return static_cast<int>(connection->MainSocket());
  } catch (const std::exception&) {
    const int error = ds.LastError();  // raises itself when the socket library is unusable
    return -(error != 0 ? error : ws::WSAENOBUFS);
  }
}

bool TQsWinsockDispatcher::SetupStepOk(int result) {
  if (result != ws::SOCKET_ERROR) return true;
  const int error = DeviceSocket().LastError();
  if (error == ws::WSAEWOULDBLOCK) return true;
  setupError_ = error;
  return false;
}

bool TQsWinsockDispatcher::DeviceSetup(int /*inSize*/, int /*outSize*/) {
  TQsDeviceSocket& ds = DeviceSocket();
  const auto s = static_cast<TSocket>(DeviceId());
  const std::uint32_t allBits = 0xFFFFFFFF;
  if (!SetupStepOk(ds.SetSocketOption(s, ws::SOL_SOCKET, ws::SO_REUSEADDR, &allBits, sizeof allBits))) return false;
  if (!SetupStepOk(ds.BindSocket(s, localAddress_))) return false;
  if (!SetupStepOk(ds.SelectEvents(s, kSelectAll))) return false;
  if (!SetupStepOk(clientMode_ ? ds.ConnectSocket(s, remoteAddress_) : ds.ListenSocket(s, kListenBacklog)))
    return false;
  if (TWsConnection* c = ds.FindConnection(s)) {
    c->Configure(clientMode_, useTelnet_);
    c->SetOwnerDispatcher(this);
    linked_ = c;
  }
  return true;
}

int TQsWinsockDispatcher::DeviceClose() {
  TQsDeviceSocket& ds = DeviceSocket();
  TQsBaseDispatcher::Guard guard(ds.ConnectionLock());
  TWsConnection* c = Connection();
  linked_ = nullptr;
  if (c == nullptr) return -1;
  c->Dispose();
  ds.ForgetLastFound();
  SetDeviceId(-1);
  return 0;
}

// ---- Data and counts --------------------------------------------------------------------------

int TQsWinsockDispatcher::DeviceRead(std::uint8_t* buf, int size) {
  TWsConnection* c = Connection();
  return c != nullptr && c->LinkUp() ? c->Read(buf, size) : 0;
}

int TQsWinsockDispatcher::DeviceWrite(const std::uint8_t* buf, int size) {
  TWsConnection* c = Connection();
  return c != nullptr ? c->Write(buf, size) : 0;
}

int TQsWinsockDispatcher::DeviceStatus(TDeviceStatus& status) {
  if (TWsConnection* c = Connection()) {
    status.inCount = c->ReceiveCount();
    status.outCount = c->SendCount();
  }
  // Only a failed set-up is reported: the library's last error outlives the call that set it (a
  // would-block is the rule on these sockets) and would otherwise read as line errors.
  return setupError_;
}

int TQsWinsockDispatcher::DeviceFlush(int queue) {
  if (TWsConnection* c = Connection()) {
    if (queue == 0) c->FlushSend();
    if (queue == 1) c->FlushReceive();
  }
  return 0;
}

bool TQsWinsockDispatcher::DeviceModemStatus(std::uint8_t& status) {
  TWsConnection* c = Connection();
  status = c != nullptr && c->LinkUp() ? kWsCarrierBit : 0;
  return true;
}

int TQsWinsockDispatcher::DeviceGetState(TQsLineSettings& settings) {
  settings.baudRate = kReportedBaud;
  settings.byteSize = 8;
  settings.parity = 0;
  settings.stopBits = 1;
  return 0;
}

int TQsWinsockDispatcher::DeviceEscape(int /*func*/) { return 0; }
int TQsWinsockDispatcher::DeviceReadFailed(int /*code*/) { return 0; }
int TQsWinsockDispatcher::DeviceSetState(const TQsLineSettings& /*settings*/) { return 0; }
bool TQsWinsockDispatcher::DeviceWaitEvent(std::uint32_t& /*eventMask*/) { return true; }

int TQsWinsockDispatcher::ServiceOnce() {
  DispatchEvents(0, true, 0);
  return 0;
}
