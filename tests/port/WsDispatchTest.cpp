// The Winsock dispatcher on its own, over loopback peers: a dispatcher opened with OpenSocket, its
// owner's socket notices received by a test window, data read from an avail handler.
#include "port/QsWsDispatch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <unistd.h>

#include <cerrno>

#include "comm/QsExcept.h"
#include "platform/Clock.h"
#include "platform/WinSockFilter.h"
#include "tests/support/LoopbackPeer.h"
#include "tests/support/Pump.h"

using namespace platform;
namespace ws = platform::ws;
using testpump::PumpFor;
using testpump::PumpUntil;
using Bytes = std::string;

namespace {



// The dispatcher's owner: a component whose window records the socket notices and answers an
// accept notice with acceptAnswer.
class TestOwner : public TComponent, public TQsSocketNotifyTarget {
 public:
  TestOwner() : TComponent(nullptr) {
    static const bool registered [[maybe_unused]] = RegisterWindowClass("WsTestOwner", &TestOwner::Proc);
    window_ = CreateWindowOfClass("WsTestOwner");
    SetWindowLongPtr(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  }
  ~TestOwner() override { DestroyWindow(window_); }
  HWND SocketNotifyWindow() const override { return window_; }

  std::vector<std::pair<WPARAM, LPARAM>> notices;
  LRESULT acceptAnswer = 1;
  std::function<void(WPARAM)> onNotice;

  bool Got(WPARAM code) const {
    for (const auto& n : notices)
      if (n.first == code) return true;
    return false;
  }

 private:
  static LRESULT Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<TestOwner*>(GetWindowLongPtr(hwnd, GWLP_USERDATA));
    if (self == nullptr || msg != SocketMessage) return DefWindowProc(hwnd, msg, wParam, lParam);
    self->notices.emplace_back(wParam, lParam);
    if (self->onNotice) self->onNotice(wParam);
    return wParam == kWsNotifyAccept ? self->acceptAnswer : 0;
  }
  HWND window_ = 0;
};

// A dispatcher with an avail handler that reads everything into received.
struct Station {
  TestOwner owner;
  std::unique_ptr<TQsWinsockDispatcher> d = std::make_unique<TQsWinsockDispatcher>(&owner);
  Bytes received;
  std::size_t largestAvail = 0;
  std::chrono::microseconds readDelay{0};  // an application slower than its peer

  void OnTrigger(UINT msg, WPARAM first, LPARAM) {
    if (msg != DM_AVAIL) return;
    largestAvail = std::max<std::size_t>(largestAvail, first);
    if (readDelay.count() > 0) std::this_thread::sleep_for(readDelay);
    std::string buf(first, '\0');
    if (d->ReadBlock(buf.data(), static_cast<int>(first)) == static_cast<int>(first)) received += buf;
  }
  int OpenClient(std::uint16_t port, bool telnet, int inSize = 4096, int outSize = 4096) {
    d->SetConnectionParams(ws::htonl(0x7F000001), ws::htons(port), true, telnet);
    return Open(inSize, outSize);
  }
  int OpenServer(std::uint16_t port, bool telnet) {
    d->SetConnectionParams(0, ws::htons(port), false, telnet);
    return Open(4096, 4096);
  }
  int Open(int inSize, int outSize) {
    d->AddMethodHandler(TQsNotifyMethod::Of<&Station::OnTrigger>(this));
    const int r = d->OpenSocket(inSize, outSize);
    if (r == 0) d->SetAvailThreshold(1);
    return r;
  }
  bool Linked() { return (d->ModemBits() & kWsCarrierBit) != 0; }
  int Write(const Bytes& bytes) { return d->WriteBlock(bytes.data(), static_cast<int>(bytes.size())); }
};

// A client dispatcher linked to a plain peer.
struct ClientPair {
  Station s;
  int listener = -1;
  int peer = -1;
  explicit ClientPair(bool telnet, int inSize = 4096) {
    std::uint16_t port = 0;
    listener = peer::Listen(port);
    EXPECT_EQ(s.OpenClient(port, telnet, inSize), 0);
    peer = peer::Accept(listener);
    EXPECT_TRUE(PumpUntil([&] { return s.owner.Got(kWsNotifyConnect); }));
  }
  ~ClientPair() {
    if (peer >= 0) peer::Close(peer);
    peer::Close(listener);
  }
  bool ReceiveAtLeast(std::size_t n) {
    return PumpUntil([&] { return s.received.size() >= n; });
  }
};

Bytes B(std::initializer_list<int> values) {
  Bytes out;
  for (int v : values) out.push_back(static_cast<char>(v));
  return out;
}

// ---- Client mode ------------------------------------------------------------------------------

TEST(WsDispatcher, ClientLinksCarriesDataBothWaysAndSeesThePeerClose) {
  ClientPair p(false);
  EXPECT_TRUE(p.s.Linked());
  EXPECT_TRUE(p.s.d->Started());
  EXPECT_NE(p.s.d->DispatcherWindow(), 0u);

  peer::Send(p.peer, "hello world");
  ASSERT_TRUE(p.ReceiveAtLeast(11));
  EXPECT_EQ(p.s.received, "hello world");

  EXPECT_EQ(p.s.Write("sent back"), 0);
  EXPECT_EQ(peer::Receive(p.peer, 2000, 9), "sent back");

  peer::Close(p.peer);
  p.peer = -1;
  ASSERT_TRUE(PumpUntil([&] { return p.s.owner.Got(kWsNotifyClosed); }));
  EXPECT_FALSE(p.s.Linked());
  EXPECT_FALSE(p.s.owner.Got(kWsNotifyClientClosed));
}

TEST(WsDispatcher, RefusedConnectGivesOnlyTheErrorNotice) {
  Station s;
  ASSERT_EQ(s.OpenClient(peer::UnusedPort(), false), 0);
  ASSERT_TRUE(PumpUntil([&] { return s.owner.Got(ws::WSAECONNREFUSED); }));
  PumpFor(100);
  EXPECT_FALSE(s.owner.Got(kWsNotifyConnect));
  EXPECT_FALSE(s.Linked());
}

TEST(WsDispatcher, PeerResetReachesThePortAsAnError) {
  ClientPair p(false);
  peer::Reset(p.peer);
  p.peer = -1;
  ASSERT_TRUE(PumpUntil([&] { return p.s.owner.Got(ws::WSAECONNRESET); }));
  PumpFor(100);  // nothing else is left to crash on
}

TEST(WsDispatcher, BytesWrittenBeforeTheLinkWaitInTheSendRing) {
  std::uint16_t port = 0;
  const int listener = peer::Listen(port);
  Station s;
  ASSERT_EQ(s.OpenClient(port, false), 0);
  // Not linked yet: the send attempt has no socket and is reported, from the loop once the write
  // has returned; the bytes stay.
  EXPECT_EQ(s.Write("early bytes"), 0);
  EXPECT_FALSE(s.owner.Got(ws::WSAENOTSOCK));
  EXPECT_TRUE(PumpUntil([&] { return s.owner.Got(ws::WSAENOTSOCK); }));
  EXPECT_EQ(s.d->OutputCount(), 11);
  const int fd = peer::Accept(listener);
  ASSERT_TRUE(PumpUntil([&] { return s.owner.Got(kWsNotifyConnect); }));
  // Sent by the next timer pass.
  ASSERT_TRUE(PumpUntil([&] { return s.d->OutputCount() == 0; }));
  EXPECT_EQ(peer::Receive(fd, 2000, 11), "early bytes");
  peer::Close(fd);
  peer::Close(listener);
}

TEST(WsDispatcher, ReadOfFourFromTenHeldLeavesSix) {
  ClientPair p(false);
  p.s.d->RemoveMethodHandler(TQsNotifyMethod::Of<&Station::OnTrigger>(&p.s));
  peer::Send(p.peer, "0123456789");
  // Read the device directly, without pumping, so the service does not take the bytes first.
  TDeviceStatus status;
  const std::uint64_t end = MonotonicMilliseconds() + 2000;
  while (status.inCount < 10 && MonotonicMilliseconds() < end) p.s.d->DeviceStatus(status);
  ASSERT_EQ(status.inCount, 10u);
  std::uint8_t buf[4];
  ASSERT_EQ(p.s.d->DeviceRead(buf, 4), 4);
  EXPECT_EQ(Bytes(reinterpret_cast<char*>(buf), 4), "0123");
  p.s.d->DeviceStatus(status);
  EXPECT_EQ(status.inCount, 6u);
}

// ---- Server mode ------------------------------------------------------------------------------

TEST(WsDispatcher, ServerTakesOneClientAtATimeAndListensOn) {
  Station s;
  const std::uint16_t port = peer::UnusedPort();
  ASSERT_EQ(s.OpenServer(port, false), 0);
  const int first = peer::Connect(port);
  ASSERT_GE(first, 0);
  ASSERT_TRUE(PumpUntil([&] { return s.owner.Got(kWsNotifyAccept); }));
  EXPECT_EQ(static_cast<std::uint32_t>(s.owner.notices[0].second), ws::htonl(0x7F000001));
  EXPECT_TRUE(s.Linked());
  const std::uint16_t firstPort = s.d->RemoteAddress().sin_port;

  // A second caller is taken and closed at once, without a notice; the first keeps its address.
  const int second = peer::Connect(port);
  EXPECT_TRUE(PumpUntil([&] { return peer::SeesClose(second, 0); }));
  EXPECT_EQ(s.owner.notices.size(), 1u);
  EXPECT_EQ(s.d->RemoteAddress().sin_port, firstPort);

  peer::Send(first, "from the client");
  ASSERT_TRUE(PumpUntil([&] { return s.received.size() >= 15; }));
  EXPECT_EQ(s.received, "from the client");
  EXPECT_EQ(s.Write("to the client"), 0);
  EXPECT_EQ(peer::Receive(first, 2000, 13), "to the client");

  peer::Close(first);
  ASSERT_TRUE(PumpUntil([&] { return s.owner.Got(kWsNotifyClientClosed); }));
  EXPECT_FALSE(s.Linked());

  // The listening socket stays: a new client is accepted.
  const int third = peer::Connect(port);
  ASSERT_TRUE(PumpUntil([&] { return s.owner.notices.size() >= 3 && s.Linked(); }));
  EXPECT_EQ(s.owner.notices.back().first, kWsNotifyAccept);
  peer::Close(second);
  peer::Close(third);
}

TEST(WsDispatcher, ServerRefusesAClientThePortDoesNotAccept) {
  Station s;
  s.owner.acceptAnswer = 0;
  const std::uint16_t port = peer::UnusedPort();
  ASSERT_EQ(s.OpenServer(port, false), 0);
  const int fd = peer::Connect(port);
  ASSERT_TRUE(PumpUntil([&] { return s.owner.Got(kWsNotifyAccept); }));
  EXPECT_TRUE(peer::SeesClose(fd, 2000));
  EXPECT_FALSE(s.Linked());
  EXPECT_EQ(s.d->RemoteAddress().sin_addr.s_addr, 0u);
  peer::Close(fd);
}

TEST(WsDispatcher, ListeningOnAPortInUseFailsTheOpenWithTheSocketError) {
  std::uint16_t port = 0;
  const int listener = peer::Listen(port);
  Station s;
  EXPECT_EQ(s.OpenServer(port, false), -ws::WSAEADDRINUSE);
  EXPECT_FALSE(s.d->Started());
  EXPECT_EQ(DeviceSocket().FindConnection(static_cast<TSocket>(listener)), nullptr);
  peer::Close(listener);
}

// ---- Telnet through the connection --------------------------------------------------------------

struct TelnetCase {
  const char* name;
  bool telnet;
  Bytes sent;       // what the peer sends
  Bytes delivered;  // what the dispatcher delivers
  Bytes answers;    // what the peer gets back
};

class WsTelnet : public ::testing::TestWithParam<TelnetCase> {};

const Bytes kTermAnswer = B({255, 250, 24, 0, 'v', 't', '1', '0', '0', 255, 240});

// Each case runs twice: in one piece, and cut into single bytes with a service pass between them.
TEST_P(WsTelnet, ReceivesFiltersAndAnswers) {
  const TelnetCase& c = GetParam();
  for (bool byteByByte : {false, true}) {
    SCOPED_TRACE(byteByByte ? "byte by byte" : "in one piece");
    ClientPair p(c.telnet);
    if (byteByByte) {
      for (char ch : c.sent) {
        peer::Send(p.peer, Bytes(1, ch));
        PumpFor(5);
      }
    } else {
      peer::Send(p.peer, c.sent);
    }
    peer::Send(p.peer, "$");  // a marker: everything before it has been filtered once it arrives
    ASSERT_TRUE(p.ReceiveAtLeast(c.delivered.size() + 1));
    EXPECT_EQ(p.s.received, c.delivered + "$");
    EXPECT_EQ(peer::Receive(p.peer, 200), c.answers);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WsTelnet,
    ::testing::Values(
        TelnetCase{"DoubledIac", true, B({72, 255, 255, 73}), B({72, 255, 73}), ""},
        TelnetCase{"TelnetOffPassesEverything", false, B({72, 255, 255, 73, 255, 253, 24, 13, 0}),
                   B({72, 255, 255, 73, 255, 253, 24, 13, 0}), ""},
        TelnetCase{"TerminalType", true, B({255, 253, 24, 255, 250, 24, 1, 255, 240}), "",
                   B({255, 251, 24}) + kTermAnswer},
        TelnetCase{"BinaryThenCarriageReturnNul", true, B({255, 251, 0, 13, 0}), B({13, 0}), B({255, 253, 0})},
        TelnetCase{"CarriageReturnNulOutsideBinary", true, B({13, 0, 10}), B({13, 10}), ""},
        TelnetCase{"EchoBothWays", true, B({255, 253, 1, 255, 251, 1, 255, 253, 1}), "",
                   B({255, 252, 1, 255, 253, 1, 255, 252, 1})},
        TelnetCase{"UnknownCommandsAndOptions", true, B({65, 255, 241, 255, 249, 255, 251, 99, 66}), B({65, 66}),
                   B({255, 254, 99})}),
    [](const ::testing::TestParamInfo<TelnetCase>& info) { return info.param.name; });

TEST(WsDispatcher, TelnetSendEscapingStoresTwoBytesPerIacAndCountsSourceBytes) {
  ClientPair p(true);
  const Bytes iacs(10, static_cast<char>(255));
  ASSERT_EQ(p.s.d->DeviceWrite(reinterpret_cast<const std::uint8_t*>(iacs.data()), 10), 10);
  EXPECT_EQ(peer::Receive(p.peer, 2000, 20), Bytes(20, static_cast<char>(255)));
  EXPECT_EQ(p.s.Write(B({13, 65, 13, 10})), 0);
  EXPECT_EQ(peer::Receive(p.peer, 2000, 5), B({13, 0, 65, 13, 10}));

  // Once binary transmission is agreed, 13 is an ordinary byte.
  peer::Send(p.peer, B({255, 251, 0}));
  ASSERT_TRUE(PumpUntil([&] { return p.s.d->Connection()->BinaryMode(); }));
  ASSERT_EQ(peer::Receive(p.peer, 2000, 3), B({255, 253, 0}));
  EXPECT_EQ(p.s.Write(B({13, 65})), 0);
  EXPECT_EQ(peer::Receive(p.peer, 2000, 2), B({13, 65}));
}

TEST(WsDispatcher, TelnetNegotiationIsRecordedInTheDispatchLog) {
  ClientPair p(true);
  p.s.d->StartLog(10000);
  peer::Send(p.peer, B({255, 253, 24, 255, 250, 24, 1, 255, 240, 255, 241}));
  peer::Send(p.peer, "$");
  ASSERT_TRUE(p.ReceiveAtLeast(1));
  const std::string file = ::testing::TempDir() + "wsdispatch_telnet.log";
  ASSERT_EQ(p.s.d->DumpLog(file, true, false), 0);
  std::ifstream in(file);
  std::stringstream text;
  text << in.rdbuf();
  std::remove(file.c_str());
  for (const char* expected : {"Recv DO", "Sent WILL", "Sent Term", "vt100", "Command", "[Terminal Type]"})
    EXPECT_NE(text.str().find(expected), std::string::npos) << expected << " missing from\n" << text.str();
}

// ---- Whatever the peer sends -------------------------------------------------------------------

TEST(WsDispatcher, EndlessSubnegotiationNeitherBlocksNorHangs) {
  ClientPair p(true, 256);
  Bytes flood = B({255, 250, 24, 1});
  flood += Bytes(100000, 'x');
  std::thread sender([&] {
    peer::Send(p.peer, flood);
    peer::Send(p.peer, B({255, 240}) + "after");
  });
  ASSERT_TRUE(PumpUntil([&] { return p.s.received.size() >= 5; }, 20000));
  sender.join();
  EXPECT_EQ(p.s.received, "after");
  EXPECT_EQ(peer::Receive(p.peer, 200), kTermAnswer);
}

// A small receive ring that wraps many times, and one as large as the dispatcher's input ring,
// which one pass can fill completely: its next bytes land where the last notice was given.
TEST(WsDispatcher, FloodingPeerIsReadInFullAndInOrder) {
  for (int inSize : {1024, 8192}) {
    SCOPED_TRACE(inSize);
    ClientPair p(false, inSize);
    Bytes flood;
    for (int i = 0; i < 400000; ++i) flood.push_back(static_cast<char>('a' + i % 23));
    std::thread sender([&] { peer::Send(p.peer, flood); });
    const bool all = PumpUntil([&] { return p.s.received.size() >= flood.size(); }, 20000);
    if (!all) peer::Reset(p.peer);  // frees a sender blocked on a full window
    sender.join();
    if (!all) p.peer = -1;
    ASSERT_TRUE(all) << p.s.received.size();
    EXPECT_TRUE(p.s.received == flood);
  }
}

// A peer that floods faster than its application reads keeps bytes waiting in the socket after
// every fill: each pass is bounded, so another connection's bytes still arrive while the flood
// goes on, and no notice offers more than the receive ring holds.
TEST(WsDispatcher, FloodedConnectionLeavesAnotherItsTurn) {
  ClientPair flooded(false), quiet(false);
  flooded.s.readDelay = std::chrono::microseconds(200);
  std::atomic<bool> stop{false}, stopped{false};
  std::thread sender([&] {
    const Bytes block(65536, 'f');
    while (!stop.load()) peer::Send(flooded.peer, block);
    stopped = true;
  });
  const bool floodOn = flooded.ReceiveAtLeast(1 << 20);
  peer::Send(quiet.peer, "ping");
  const bool heard = quiet.ReceiveAtLeast(4);
  const bool floodStillOn = !stopped.load();
  stop = true;
  ASSERT_TRUE(PumpUntil([&] { return stopped.load(); }, 20000));  // frees a send blocked on a full window
  sender.join();
  ASSERT_TRUE(floodOn);
  EXPECT_TRUE(heard);
  EXPECT_TRUE(floodStillOn);
  EXPECT_EQ(quiet.s.received, "ping");
  EXPECT_EQ(flooded.s.received.find_first_not_of('f'), Bytes::npos);
  EXPECT_LE(flooded.s.largestAvail, 4096u);
}

// Counts the receives of a socket that bring bytes; the bytes come from the descriptor as usual.
class CountingFilter : public ws::filter::TSocketFilter {
 public:
  explicit CountingFilter(int fd) : fd_(fd) {}
  int Recv(ws::SOCKET, char* buf, int len) override {
    const ssize_t n = ::read(fd_, buf, static_cast<std::size_t>(len));
    if (n < 0) {
      ws::WSASetLastError(ws::WinsockErrorFromErrno(errno));
      return ws::SOCKET_ERROR;
    }
    if (n > 0) ++receivesWithBytes;
    return static_cast<int>(n);
  }
  int Send(ws::SOCKET, const char* buf, int len) override {
    peer::Send(fd_, std::string_view(buf, static_cast<std::size_t>(len)));
    return len;
  }
  void Shutdown(ws::SOCKET, int) override {}
  bool HoldsInput() const override { return false; }
  int receivesWithBytes = 0;

 private:
  int fd_;
};

struct WholeRingCase {
  const char* name;
  bool telnet;
  int inSize;
};

class WsWholeRingReceives : public ::testing::TestWithParam<WholeRingCase> {};

// Bytes waiting in the socket are taken a whole receive ring at a time, also after a short first
// arrival has moved the ring's positions and while deliveries wrap around the input ring: a
// receive ring topped up piecemeal would need about twice as many receives.
TEST_P(WsWholeRingReceives, OneReceivePerRingful) {
  const WholeRingCase& c = GetParam();
  ClientPair p(c.telnet, c.inSize);
  peer::Send(p.peer, Bytes(1000, 's'));
  ASSERT_TRUE(p.ReceiveAtLeast(1000));
  PumpFor(30);  // the receive that finds the socket empty
  const auto s = static_cast<ws::SOCKET>(p.s.d->DeviceId());
  auto counter = std::make_shared<CountingFilter>(static_cast<int>(s));
  ws::filter::Attach(s, counter);
  Bytes stream;
  for (int i = 0; i < 32768; ++i) stream.push_back(static_cast<char>('a' + i % 23));
  peer::Send(p.peer, stream);  // fits the loopback window: all of it waits in the socket
  const bool all = p.ReceiveAtLeast(1000 + stream.size());
  ws::filter::Detach(s);
  ASSERT_TRUE(all);
  EXPECT_EQ(p.s.received.substr(1000), stream);
  const int ringfuls = (static_cast<int>(stream.size()) + c.inSize - 1) / c.inSize;
  EXPECT_EQ(counter->receivesWithBytes, ringfuls);
}

INSTANTIATE_TEST_SUITE_P(WsDispatcher, WsWholeRingReceives,
                         ::testing::Values(WholeRingCase{"Plain4096", false, 4096},
                                           WholeRingCase{"Telnet4096", true, 4096},
                                           WholeRingCase{"Plain3000", false, 3000}),
                         [](const auto& info) { return std::string(info.param.name); });

// Records the length of every send of a socket; the bytes go to the descriptor as usual.
class SendRecordingFilter : public ws::filter::TSocketFilter {
 public:
  explicit SendRecordingFilter(int fd) : fd_(fd) {}
  int Recv(ws::SOCKET, char* buf, int len) override {
    const ssize_t n = ::read(fd_, buf, static_cast<std::size_t>(len));
    if (n >= 0) return static_cast<int>(n);
    ws::WSASetLastError(ws::WinsockErrorFromErrno(errno));
    return ws::SOCKET_ERROR;
  }
  int Send(ws::SOCKET, const char* buf, int len) override {
    peer::Send(fd_, std::string_view(buf, static_cast<std::size_t>(len)));
    sends.push_back(len);
    return len;
  }
  void Shutdown(ws::SOCKET, int) override {}
  bool HoldsInput() const override { return false; }
  std::vector<int> sends;

 private:
  int fd_;
};

struct WholeSendCase {
  const char* name;
  bool telnet;
  int outSize;
  std::size_t block;
};

class WsWholeBlockSends : public ::testing::TestWithParam<WholeSendCase> {};

// A block written while nothing waits to be sent goes out in one send, however often the send ring
// has gone round: split at the ring's end, its second part would wait for the peer's delayed
// acknowledgement of the first (about 40 ms on Linux), which is what a command-and-reply protocol
// such as FTP then waits on every few hundred commands.
TEST_P(WsWholeBlockSends, OneSendPerBlock) {
  const WholeSendCase& c = GetParam();
  std::uint16_t port = 0;
  const int listener = peer::Listen(port);
  Station station;
  ASSERT_EQ(station.OpenClient(port, c.telnet, 4096, c.outSize), 0);
  const int peerFd = peer::Accept(listener);
  ASSERT_TRUE(PumpUntil([&] { return station.owner.Got(kWsNotifyConnect); }));
  const auto s = static_cast<ws::SOCKET>(station.d->DeviceId());
  auto recorder = std::make_shared<SendRecordingFilter>(static_cast<int>(s));
  ws::filter::Attach(s, recorder);
  const std::size_t ring = static_cast<std::size_t>(c.outSize) + 4096;
  const std::size_t blocks = 3 * ring / c.block + 2;  // round the ring three times, ending mid-way
  Bytes sent;
  for (std::size_t i = 0; i < blocks; ++i) {
    Bytes block(c.block - 2, static_cast<char>('a' + i % 26));
    block += "\r\n";
    ASSERT_EQ(station.Write(block), 0) << "block " << i;
    sent += block;
  }
  ws::filter::Detach(s);
  EXPECT_EQ(peer::Receive(peerFd, 5000, sent.size()), sent);
  EXPECT_EQ(recorder->sends.size(), blocks);
  EXPECT_EQ(std::count(recorder->sends.begin(), recorder->sends.end(), static_cast<int>(c.block)),
            static_cast<std::ptrdiff_t>(blocks));
  station.d.reset();
  peer::Close(peerFd);
  peer::Close(listener);
}

INSTANTIATE_TEST_SUITE_P(WsDispatcher, WsWholeBlockSends,
                         ::testing::Values(WholeSendCase{"Plain24", false, 4096, 24},
                                           WholeSendCase{"Plain37", false, 4096, 37},
                                           WholeSendCase{"Telnet37", true, 4096, 37},
                                           WholeSendCase{"Plain1000", false, 1000, 1000}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(WsDispatcher, PeerVanishingMidFloodLeavesAWorkingDispatcher) {
  for (bool reset : {false, true}) {
    SCOPED_TRACE(reset ? "reset" : "close");
    ClientPair p(true, 512);
    Bytes junk;
    for (int i = 0; i < 50000; ++i) junk.push_back(static_cast<char>(i * 7919 % 256));
    std::thread sender([&] {
      peer::Send(p.peer, junk);
      if (reset)
        peer::Reset(p.peer);
      else
        peer::Close(p.peer);
    });
    sender.join();
    p.peer = -1;
    ASSERT_TRUE(PumpUntil([&] { return p.s.owner.Got(kWsNotifyClosed) || p.s.owner.Got(ws::WSAECONNRESET); }));
    PumpFor(150);
    EXPECT_FALSE(p.s.Linked() && !reset);
    EXPECT_EQ(p.s.Write("after the peer left"), 0);  // accepted into the ring; no crash
    p.s.d->ClosePort();
    EXPECT_FALSE(p.s.d->Started());
  }
}

// ---- Service -------------------------------------------------------------------------------------

TEST(WsDispatcher, StartingAStartedServiceRaises) {
  ClientPair p(false);
  try {
    p.s.d->StartDispatching();
    FAIL() << "no exception";
  } catch (const EQsException& e) {
    EXPECT_STREQ(e.what(), "Dispatcher already started");
  }
}

TEST(WsDispatcher, CloseFromInsideAPortNoticeIsDeferredToTheNextPass) {
  std::uint16_t port = 0;
  const int listener = peer::Listen(port);
  Station s;
  s.owner.onNotice = [&](WPARAM code) {
    if (code == kWsNotifyConnect) s.d->ClosePort();
  };
  ASSERT_EQ(s.OpenClient(port, false), 0);
  const int fd = peer::Accept(listener);
  ASSERT_TRUE(PumpUntil([&] { return s.owner.Got(kWsNotifyConnect); }));
  EXPECT_TRUE(s.d->ClosePending());
  ASSERT_TRUE(PumpUntil([&] { return !s.d->Started(); }));
  EXPECT_EQ(s.d->DispatcherWindow(), 0u);
  EXPECT_TRUE(peer::SeesClose(fd, 2000));
  s.d.reset();
  peer::Close(fd);
  peer::Close(listener);
}

TEST(WsDispatcher, DestroyingAnOpenDispatcherClosesItsConnection) {
  const int before = DeviceSocket().ConnectionCount();
  {
    ClientPair p(false);
    EXPECT_EQ(DeviceSocket().ConnectionCount(), before + 1);
    p.s.d.reset();
    EXPECT_TRUE(peer::SeesClose(p.peer, 2000));
  }
  EXPECT_EQ(DeviceSocket().ConnectionCount(), before);
}

}  // namespace
