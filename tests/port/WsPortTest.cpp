// The Winsock port end to end on loopback: address and service resolution and their errors, client
// and server connections, the peer's close and reset, refused connections and telnet bytes.
#include "port/QsWsPort.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "comm/QsExcept.h"
#include "platform/Clock.h"
#include "tests/support/LoopbackPeer.h"
#include "tests/support/Pump.h"

using namespace platform;
namespace ws = platform::ws;
using testpump::PumpFor;
using testpump::PumpUntil;

namespace {


std::string B(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out.push_back(static_cast<char>(v));
  return out;
}

// A socket port with every event recorded.
class TestPort : public TQsCustomWinsockPort {
 public:
  TestPort() : TQsCustomWinsockPort(nullptr) {
    SetDeviceLayer(dlSocket);
    SetTelnetMode(false);
    OnSocketConnect = TPortNotifyEvent(this, &TestPort::Connected);
    OnSocketDisconnect = TPortNotifyEvent(this, &TestPort::Disconnected);
    OnSocketError = TSocketErrorCodeEvent(this, &TestPort::Failed);
    OnSocketAccept = TSocketAcceptEvent(this, &TestPort::Accepting);
    SetOnDataAvailable(TTriggerAvailEvent(this, &TestPort::Avail));
  }

  int connects = 0, disconnects = 0;
  std::vector<int> errors;
  std::vector<std::uint32_t> callers;
  bool acceptCallers = true;
  std::string received;
  std::vector<std::string> order;  // events in the order they came

 private:
  void Connected(TComponent*) {
    ++connects;
    order.push_back("connect");
  }
  void Disconnected(TComponent*) {
    ++disconnects;
    order.push_back("disconnect");
  }
  void Failed(TComponent*, int code) {
    errors.push_back(code);
    order.push_back("error " + std::to_string(code));
  }
  void Accepting(TComponent*, std::uint32_t addr, bool& accept) {
    callers.push_back(addr);
    accept = acceptCallers;
  }
  void Avail(TComponent*, std::uint16_t count) {
    std::string buf(count, '\0');
    if (Dispatcher()->ReadBlock(buf.data(), count) == count) received += buf;
  }
};

// ---- Resolution and its errors ------------------------------------------------------------------

struct ResolveCase {
  const char* name;
  std::string address;
  std::string port;
  int code;
};

class WsPortResolve : public ::testing::TestWithParam<ResolveCase> {};

TEST_P(WsPortResolve, RefusesToOpenAndStaysClosed) {
  const ResolveCase& c = GetParam();
  TestPort port;
  port.SetServerAddress(c.address);
  port.SetWsPort(c.port);
  try {
    port.SetOpen(true);
    FAIL() << "opened";
  } catch (const EQsSocketException& e) {
    EXPECT_EQ(e.Code(), c.code);
    EXPECT_STRNE(e.what(), "");
  }
  EXPECT_EQ(port.State(), psClosed);
  EXPECT_FALSE(port.Open());
  EXPECT_EQ(port.PortWindow(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WsPortResolve,
    ::testing::Values(ResolveCase{"EmptyAddress", "", "21", 10039},
                      ResolveCase{"EmptyAddressBeforeABadPort", "", "no-such-service", 10039},
                      ResolveCase{"UnknownHost", "no-such-host.invalid", "21", 9007},
                      // Cut to 15 characters it would be another, valid address.
                      ResolveCase{"OverlongDottedAddress", "192.168.100.1000", "21", 9007},
                      ResolveCase{"HugeAddress", std::string(100000, 'a'), "21", 9007},
                      ResolveCase{"PortZero", "127.0.0.1", "0", 9005},
                      ResolveCase{"UnknownService", "127.0.0.1", "no-such-service", 9005},
                      ResolveCase{"PortAbove65535", "127.0.0.1", "65557", 9005},
                      ResolveCase{"NegativePort", "127.0.0.1", "-1", 9005},
                      ResolveCase{"EndlessDigits", "127.0.0.1", std::string(5000, '9'), 9005},
                      ResolveCase{"HugeServiceName", "127.0.0.1", std::string(100000, 'x'), 9005}),
    [](const ::testing::TestParamInfo<ResolveCase>& info) { return info.param.name; });

TEST(WsPort, DefaultsAndTrimmedTexts) {
  TestPort port;
  TQsCustomWinsockPort plain(nullptr);
  EXPECT_EQ(plain.WsPort(), "telnet");
  EXPECT_TRUE(plain.TelnetMode());
  EXPECT_EQ(plain.SocketMode(), smClient);
  EXPECT_EQ(plain.DeviceLayer(), dlSerial);
  port.SetServerAddress(" 127.0.0.1 ");
  EXPECT_EQ(port.ServerAddress(), "127.0.0.1");
  port.SetProperty("WsPort", Variant(std::string("\tftp  ")));
  EXPECT_EQ(port.WsPort(), "ftp");
}

TEST(WsPort, ServiceNamesAndHostNamesResolve) {
  std::uint16_t listenPort = 0;
  const int listener = peer::Listen(listenPort);
  for (const char* service : {"ftp", "telnet"}) {
    SCOPED_TRACE(service);
    TestPort port;
    port.SetServerAddress("127.0.0.1");
    port.SetWsPort(service);
    EXPECT_NO_THROW(port.SetOpen(true));
    EXPECT_EQ(port.State(), psOpen);
  }
  TestPort byName;
  byName.SetServerAddress("localhost");
  byName.SetWsPort(std::to_string(listenPort));
  byName.SetOpen(true);
  ASSERT_TRUE(PumpUntil([&] { return byName.connects == 1; }));
  peer::Close(listener);
}

// ---- Client mode ------------------------------------------------------------------------------

struct ClientSetup {
  TestPort port;
  int listener = -1;
  int peer = -1;
  explicit ClientSetup(bool telnet = false) {
    std::uint16_t p = 0;
    listener = peer::Listen(p);
    port.SetServerAddress("127.0.0.1");
    port.SetWsPort(std::to_string(p));
    port.SetTelnetMode(telnet);
    port.SetOpen(true);
    peer = peer::Accept(listener);
    EXPECT_TRUE(PumpUntil([&] { return port.connects == 1; }));
  }
  ~ClientSetup() {
    if (peer >= 0) peer::Close(peer);
    peer::Close(listener);
  }
};

TEST(WsPort, ClientConnectsExchangesDataAndClosesAfterThePeerDoes) {
  ClientSetup s;
  peer::Send(s.peer, "220 ready\r\n");
  ASSERT_TRUE(PumpUntil([&] { return s.port.received.size() >= 11; }));
  EXPECT_EQ(s.port.received, "220 ready\r\n");
  s.port.PutString("USER anonymous\r\n");
  EXPECT_EQ(peer::Receive(s.peer, 2000, 16), "USER anonymous\r\n");

  // Changing the peer while connected is refused and keeps the old value; the same text is fine.
  try {
    s.port.SetServerAddress("10.0.0.1");
    FAIL() << "no exception";
  } catch (const EQsSocketException& e) {
    EXPECT_EQ(e.Code(), 9006);
  }
  EXPECT_EQ(s.port.ServerAddress(), "127.0.0.1");
  EXPECT_NO_THROW(s.port.SetServerAddress("127.0.0.1"));

  peer::Close(s.peer);
  s.peer = -1;
  ASSERT_TRUE(PumpUntil([&] { return s.port.State() == psClosed; }));
  EXPECT_EQ(s.port.disconnects, 1);
  EXPECT_TRUE(s.port.errors.empty());
}

TEST(WsPort, ResetReportsTheErrorThenClosesThePortOnce) {
  ClientSetup s;
  peer::Reset(s.peer);
  s.peer = -1;
  ASSERT_TRUE(PumpUntil([&] { return s.port.State() == psClosed; }));
  ASSERT_EQ(s.port.errors, std::vector<int>{10054});
  EXPECT_EQ(s.port.disconnects, 1);
  EXPECT_EQ(s.port.order, (std::vector<std::string>{"connect", "error 10054", "disconnect"}));
}

TEST(WsPort, RefusedConnectionOnlyReportsTheError) {
  TestPort port;
  port.SetServerAddress("127.0.0.1");
  port.SetWsPort(std::to_string(peer::UnusedPort()));
  port.SetOpen(true);
  ASSERT_TRUE(PumpUntil([&] { return !port.errors.empty(); }));
  EXPECT_EQ(port.errors, std::vector<int>{10061});
  EXPECT_EQ(port.State(), psOpen);
  EXPECT_EQ(port.connects, 0);
  port.SetOpen(false);
  EXPECT_EQ(port.disconnects, 1);
}

TEST(WsPort, TelnetStreamIsFilteredAndEscapedByteForByte) {
  ClientSetup s(true);
  peer::Send(s.peer, B({'a', 255, 255, 'b', 255, 253, 24, 255, 250, 24, 1, 255, 240, 255, 251, 1, 13, 0, 'c'}));
  ASSERT_TRUE(PumpUntil([&] { return s.port.received.size() >= 5; }));
  EXPECT_EQ(s.port.received, B({'a', 255, 'b', 13, 'c'}));
  EXPECT_EQ(peer::Receive(s.peer, 300),
            B({255, 251, 24, 255, 250, 24, 0, 'v', 't', '1', '0', '0', 255, 240, 255, 253, 1}));
  s.port.PutString(B({'x', 255, 13, 'y', 13, 10}));
  EXPECT_EQ(peer::Receive(s.peer, 2000, 8), B({'x', 255, 255, 13, 0, 'y', 13, 10}));
}

// ---- Server mode ------------------------------------------------------------------------------

TEST(WsPort, ServerAcceptsServesAndOutlivesItsClients) {
  TestPort port;
  const std::uint16_t p = peer::UnusedPort();
  port.SetSocketMode(smServer);
  port.SetWsPort(std::to_string(p));
  port.SetOpen(true);
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    const int client = peer::Connect(p);
    ASSERT_TRUE(PumpUntil([&] { return port.callers.size() == static_cast<std::size_t>(round + 1); }));
    EXPECT_EQ(port.callers.back(), ws::htonl(0x7F000001));
    peer::Send(client, "ping");
    ASSERT_TRUE(PumpUntil([&] { return port.received.size() >= 4; }));
    EXPECT_EQ(port.received, "ping");
    port.received.clear();
    port.PutString("pong");
    EXPECT_EQ(peer::Receive(client, 2000, 4), "pong");
    peer::Close(client);
    ASSERT_TRUE(PumpUntil([&] { return port.disconnects == round + 1; }));
    EXPECT_EQ(port.State(), psOpen);
  }
  port.acceptCallers = false;
  const int refused = peer::Connect(p);
  ASSERT_TRUE(PumpUntil([&] { return port.callers.size() == 3; }));
  EXPECT_TRUE(peer::SeesClose(refused, 2000));
  peer::Close(refused);
}

}  // namespace
