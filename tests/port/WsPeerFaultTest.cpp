// The socket port against peers that go away at awkward moments: a close right after a burst of
// data, a reset while the application writes, a server's client that resets; and input larger
// than one pass of the dispatcher's ring.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "port/QsWsPort.h"
#include "tests/support/LoopbackPeer.h"
#include "tests/support/Pump.h"

using namespace platform;
using testpump::PumpFor;
using testpump::PumpUntil;

namespace {

std::string Pattern(std::size_t n) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i % 251);
  return s;
}

class FaultPort : public TQsCustomWinsockPort {
 public:
  explicit FaultPort(std::uint16_t inBufferSize = 4096) : TQsCustomWinsockPort(nullptr) {
    SetDeviceLayer(dlSocket);
    SetTelnetMode(false);
    SetInBufferSize(inBufferSize);
    OnSocketConnect = TPortNotifyEvent(this, &FaultPort::Connected);
    OnSocketDisconnect = TPortNotifyEvent(this, &FaultPort::Disconnected);
    OnSocketError = TSocketErrorCodeEvent(this, &FaultPort::Failed);
    OnSocketAccept = TSocketAcceptEvent(this, &FaultPort::Accepting);
    SetOnDataAvailable(TTriggerAvailEvent(this, &FaultPort::Avail));
  }

  bool CarrierOn() const {
    const TQsBaseDispatcher* d = CurrentDispatcher();
    return d != nullptr && (d->ModemBits() & 0x80) != 0;
  }
  TQsBaseDispatcher* Current() const { return CurrentDispatcher(); }

  int connects = 0, accepts = 0, disconnects = 0;
  std::vector<int> errors;
  std::string received;
  bool reads = true;               // the application reads what arrives
  bool writing = false;            // the application is inside PutString
  bool errorUnderWrite = false;    // an error event came while it was
  std::function<void()> onError;   // what the application does on an error (may free the port)

 private:
  void Connected(TComponent*) { ++connects; }
  void Disconnected(TComponent*) { ++disconnects; }
  void Accepting(TComponent*, std::uint32_t, bool& accept) {
    accept = true;
    ++accepts;
  }
  void Failed(TComponent*, int code) {
    errors.push_back(code);
    errorUnderWrite = errorUnderWrite || writing;
    if (onError) onError();
  }
  void Avail(TComponent*, std::uint16_t count) {
    if (!reads) return;
    std::string buf(count, '\0');
    if (CurrentDispatcher()->ReadBlock(buf.data(), count) == count) received += buf;
  }
};

struct Client {
  std::unique_ptr<FaultPort> port;
  int listener = -1;
  int peer = -1;
  explicit Client(std::uint16_t inBufferSize = 4096) : port(std::make_unique<FaultPort>(inBufferSize)) {
    std::uint16_t p = 0;
    listener = peer::Listen(p);
    port->SetServerAddress("127.0.0.1");
    port->SetWsPort(std::to_string(p));
    port->SetOpen(true);
    peer = peer::Accept(listener);
    EXPECT_TRUE(PumpUntil([&] { return port->connects == 1; }));
  }
  ~Client() {
    port.reset();
    if (peer >= 0) peer::Close(peer);
    peer::Close(listener);
  }
};

// ---- Every byte the peer sent before it closed reaches the application -------------------------

struct BurstCase {
  const char* name;
  std::size_t bytes;
  std::uint16_t inBufferSize;
};

class WsPeerCloseAfterBurst : public ::testing::TestWithParam<BurstCase> {};

TEST_P(WsPeerCloseAfterBurst, DeliversEverythingThenTheClose) {
  const BurstCase& c = GetParam();
  Client s(c.inBufferSize);
  const std::string sent = Pattern(c.bytes);
  peer::Send(s.peer, sent);
  peer::Close(s.peer);
  s.peer = -1;
  ASSERT_TRUE(PumpUntil([&] { return s.port->State() == psClosed; }, 10000));
  EXPECT_EQ(s.port->received.size(), sent.size());
  EXPECT_TRUE(s.port->received == sent) << "bytes lost or out of order";
  EXPECT_EQ(s.port->disconnects, 1);
  EXPECT_TRUE(s.port->errors.empty());
}

INSTANTIATE_TEST_SUITE_P(Cases, WsPeerCloseAfterBurst,
                         ::testing::Values(BurstCase{"Ring5000", 5000, 4096}, BurstCase{"Ring8192", 8192, 4096},
                                           BurstCase{"Ring20000", 20000, 4096},
                                           BurstCase{"LargeRing20000", 20000, 30000},
                                           BurstCase{"LargeRing65000", 65000, 65535}),
                         [](const auto& info) { return std::string(info.param.name); });

// An application that reads nothing still hears of the close, however much waits unread.
TEST(WsPeerCloseUnread, ClosesWithTheInputRingFull) {
  Client s(30000);
  s.port->reads = false;
  peer::Send(s.peer, Pattern(50000));
  peer::Close(s.peer);
  s.peer = -1;
  ASSERT_TRUE(PumpUntil([&] { return s.port->State() == psClosed; }, 5000));
  EXPECT_EQ(s.port->disconnects, 1);
}

// A telnet peer whose last byte is a lone CR (the filter waits for what follows a CR) and that
// then closes: the close is still told, after the bytes before the CR.
TEST(WsPeerCloseAfterLoneCr, TheCloseIsToldAfterTheDeliverableBytes) {
  for (const char* last : {"230 ok\r", "\r"}) {
    SCOPED_TRACE(last);
    auto port = std::make_unique<FaultPort>();
    port->SetTelnetMode(true);
    std::uint16_t p = 0;
    const int listener = peer::Listen(p);
    port->SetServerAddress("127.0.0.1");
    port->SetWsPort(std::to_string(p));
    port->SetOpen(true);
    const int conn = peer::Accept(listener);
    ASSERT_TRUE(PumpUntil([&] { return port->connects == 1; }));
    peer::Send(conn, last);
    peer::Close(conn);
    ASSERT_TRUE(PumpUntil([&] { return port->State() == psClosed; }, 5000)) << "the close was never told";
    const std::string text(last);
    EXPECT_EQ(port->received, text.substr(0, text.size() - 1));
    EXPECT_EQ(port->disconnects, 1);
    port.reset();
    peer::Close(listener);
  }
}

// ---- A connection ring larger than the dispatcher's input ring does not wait for the timer ----

class WsLargeInBuffer : public ::testing::TestWithParam<std::size_t> {};

TEST_P(WsLargeInBuffer, ArrivesWithoutTheServiceTimer) {
  Client s(65535);
  // With the tick gone, only the passes the data itself asks for can carry it.
  TQsBaseDispatcher* d = s.port->Current();
  ASSERT_NE(d, nullptr);
  ASSERT_TRUE(KillTimer(0, d->TimerId()));
  const std::string sent = Pattern(GetParam());
  peer::Send(s.peer, sent);
  ASSERT_TRUE(PumpUntil([&] { return s.port->received.size() >= sent.size(); }, 5000))
      << s.port->received.size() << " of " << sent.size() << " bytes arrived";
  EXPECT_TRUE(s.port->received == sent);
}

INSTANTIATE_TEST_SUITE_P(Sizes, WsLargeInBuffer, ::testing::Values(9000, 40000, 65535));

// ---- A reset while the application writes ----------------------------------------------------

enum class TOnError { Close, Free };

class WsResetWhileWriting : public ::testing::TestWithParam<TOnError> {};

TEST_P(WsResetWhileWriting, TheErrorComesAfterTheWriteAndThePortRecovers) {
  Client s;
  FaultPort* raw = s.port.get();
  raw->onError = [&] {
    if (GetParam() == TOnError::Close)
      s.port->SetOpen(false);
    else
      s.port.reset();
  };
  peer::Reset(s.peer);
  s.peer = -1;
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the reset has arrived
  // Writes straight into the dead connection, without the loop in between.
  for (int i = 0; i < 5 && s.port && s.port->State() == psOpen; ++i) {
    raw->writing = true;
    try {
      s.port->PutString("data that meets the reset");
    } catch (const std::exception&) {
    }
    if (s.port) raw->writing = false;
  }
  ASSERT_TRUE(PumpUntil([&] { return !s.port || s.port->State() == psClosed; }));
  if (s.port) {
    EXPECT_FALSE(raw->errorUnderWrite) << "the error event ran inside PutString";
    ASSERT_FALSE(raw->errors.empty());
    EXPECT_EQ(raw->errors.front(), 10054);
  }
  // The port (or a new one) opens again and works.
  if (!s.port) s.port = std::make_unique<FaultPort>();
  std::uint16_t p = 0;
  const int listener = peer::Listen(p);
  s.port->onError = nullptr;
  s.port->SetWsPort(std::to_string(p));
  s.port->SetServerAddress("127.0.0.1");
  const int before = s.port->connects;
  s.port->SetOpen(true);
  const int fd = peer::Accept(listener);
  ASSERT_TRUE(PumpUntil([&] { return s.port->connects > before; }));
  s.port->received.clear();
  peer::Send(fd, "ping");
  EXPECT_TRUE(PumpUntil([&] { return s.port->received == "ping"; }));
  peer::Close(fd);
  peer::Close(listener);
}

INSTANTIATE_TEST_SUITE_P(Cases, WsResetWhileWriting, ::testing::Values(TOnError::Close, TOnError::Free),
                         [](const auto& info) { return info.param == TOnError::Close ? "Close" : "Free"; });

// ---- A server whose client resets ---------------------------------------------------------------

TEST(WsServerClientReset, DropsTheLinkOnceAndServesTheNextCaller) {
  FaultPort port;
  const std::uint16_t p = peer::UnusedPort();
  port.SetSocketMode(smServer);
  port.SetWsPort(std::to_string(p));
  port.SetOpen(true);
  const int first = peer::Connect(p);
  ASSERT_TRUE(PumpUntil([&] { return port.accepts == 1 && port.CarrierOn(); }));
  peer::Reset(first);
  ASSERT_TRUE(PumpUntil([&] { return !port.errors.empty(); }));
  // Output the application leaves behind meets no dead socket on later passes.
  for (int i = 0; i < 6; ++i) {
    try {
      port.PutString("late");
    } catch (const std::exception&) {
    }
    PumpFor(50);
  }
  EXPECT_FALSE(port.CarrierOn()) << "the link stayed up";
  EXPECT_EQ(std::count(port.errors.begin(), port.errors.end(), 10054), 1) << "the reset was told again";
  EXPECT_EQ(port.State(), psOpen);

  const int second = peer::Connect(p);
  ASSERT_TRUE(PumpUntil([&] { return port.accepts == 2; }));
  peer::Send(second, "ping");
  ASSERT_TRUE(PumpUntil([&] { return port.received.find("ping") != std::string::npos; }));
  port.PutString("pong");
  EXPECT_NE(peer::Receive(second, 1000).find("pong"), std::string::npos);
  peer::Close(second);
}

}  // namespace
