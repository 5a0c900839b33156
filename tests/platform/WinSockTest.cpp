#include "platform/WinSock.h"

#include <gtest/gtest.h>

#include <fcntl.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "tests/support/LoopbackPeer.h"
#include "tests/support/Pump.h"

using namespace platform;
using namespace platform::ws;
using testpump::PumpFor;
using testpump::PumpUntil;

namespace {

constexpr UINT kSocketMessage = 2833;

// ---- The library and its binding ------------------------------------------------------------

TEST(Wsock32Library, ExportsItsFortySixEntryPointsByName) {
  RegisterWsock32();
  HLIBRARY lib = LoadLibrary("wsock32");
  ASSERT_NE(lib, 0u) << "library names compare without regard to case";
  std::vector<LibraryExport> exports = Wsock32Exports();
  ASSERT_EQ(exports.size(), 46u);
  for (const LibraryExport& e : exports) EXPECT_EQ(GetProcAddress(lib, e.name), e.address) << e.name;
  EXPECT_EQ(GetProcAddress(lib, "WSAAsyncSelectEx"), nullptr);
  EXPECT_TRUE(FreeLibrary(lib));
  EXPECT_EQ(LoadLibrary("NOSUCHLIB"), 0u);
}

TEST(Wsock32Library, ABrokenRegistrationReplacesTheBuiltinOne) {
  std::vector<LibraryExport> exports = Wsock32Exports();
  exports.pop_back();  // no WSAAsyncSelect
  RegisterLibrary(kLibraryName, exports);
  HLIBRARY lib = LoadLibrary(kLibraryName);
  EXPECT_EQ(GetProcAddress(lib, "WSAAsyncSelect"), nullptr);
  EXPECT_NE(GetProcAddress(lib, "accept"), nullptr);
  FreeLibrary(lib);
  UnregisterLibrary(kLibraryName);
  EXPECT_EQ(LoadLibrary(kLibraryName), 0u) << "unregistered: no such library";
  RegisterWsock32();
  lib = LoadLibrary(kLibraryName);
  EXPECT_NE(GetProcAddress(lib, "WSAAsyncSelect"), nullptr) << "the built-in library is back";
  FreeLibrary(lib);
}

struct ErrnoCase {
  int error;
  int winsock;
};

class ErrnoMapping : public ::testing::TestWithParam<ErrnoCase> {};

TEST_P(ErrnoMapping, GivesWinsocksNumber) { EXPECT_EQ(WinsockErrorFromErrno(GetParam().error), GetParam().winsock); }

INSTANTIATE_TEST_SUITE_P(
    Winsock, ErrnoMapping,
    ::testing::Values(ErrnoCase{EWOULDBLOCK, 10035}, ErrnoCase{EINPROGRESS, 10035}, ErrnoCase{ECONNREFUSED, 10061},
                      ErrnoCase{ECONNRESET, 10054}, ErrnoCase{ECONNABORTED, 10053}, ErrnoCase{ENETRESET, 10052},
                      ErrnoCase{EADDRINUSE, 10048}, ErrnoCase{EADDRNOTAVAIL, 10049}, ErrnoCase{ENETUNREACH, 10051},
                      ErrnoCase{EHOSTUNREACH, 10065}, ErrnoCase{ETIMEDOUT, 10060}, ErrnoCase{ENOTCONN, 10057},
                      ErrnoCase{EBADF, 10038}, ErrnoCase{ENOTSOCK, 10038}, ErrnoCase{EINVAL, 10022},
                      ErrnoCase{EMFILE, 10024}, ErrnoCase{EPIPE, 10054}, ErrnoCase{0, 0}));

// ---- Start-up, conversions and lookups ------------------------------------------------------

TEST(WinsockStartup, CallsFailUntilStartedAndVersionsBelowOneOneAreRefused) {
  EXPECT_EQ(socket(AF_INET, SOCK_STREAM, 0), INVALID_SOCKET);
  EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
  WSADATA data;
  EXPECT_EQ(WSAStartup(0x0001, &data), WSAVERNOTSUPPORTED);
  ASSERT_EQ(WSAStartup(0x0202, &data), 0);
  EXPECT_EQ(data.wVersion, 0x0101) << "the library offers 1.1 whatever higher version is asked";
  SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
  EXPECT_NE(s, INVALID_SOCKET);
  EXPECT_EQ(closesocket(s), 0);
  EXPECT_EQ(WSACleanup(), 0);
  EXPECT_EQ(WSACleanup(), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
}

class WinsockStarted : public ::testing::Test {
 protected:
  void SetUp() override {
    WSADATA data;
    ASSERT_EQ(WSAStartup(0x0101, &data), 0);
  }
  void TearDown() override { WSACleanup(); }
};

TEST_F(WinsockStarted, AddressTextConversions) {
  struct Case {
    const char* text;
    std::uint32_t expected;
  } cases[] = {
      {"192.168.1.20", htonl(0xC0A80114)},
      {"127.0.0.1", htonl(0x7F000001)},
      {"ftp.example.com", INADDR_NONE},
      {"", INADDR_NONE},
      {"1.2.3.4.5", INADDR_NONE},
  };
  for (const Case& c : cases) EXPECT_EQ(inet_addr(c.text), c.expected) << c.text;
  EXPECT_STREQ(inet_ntoa(in_addr{htonl(0xC0A80114)}), "192.168.1.20");
  EXPECT_EQ(ntohs(htons(2121)), 2121);
}

TEST_F(WinsockStarted, ServiceProtocolAndHostLookups) {
  servent* ftp = getservbyname("ftp", "tcp");
  ASSERT_NE(ftp, nullptr);
  EXPECT_EQ(ntohs(static_cast<std::uint16_t>(ftp->s_port)), 21);
  EXPECT_EQ(getservbyname("no-such-service", "tcp"), nullptr);
  EXPECT_EQ(WSAGetLastError(), WSANO_DATA);
  servent* byPort = getservbyport(htons(21), "tcp");
  ASSERT_NE(byPort, nullptr);
  EXPECT_STREQ(byPort->s_name, "ftp");
  protoent* tcp = getprotobyname("tcp");
  ASSERT_NE(tcp, nullptr);
  EXPECT_EQ(tcp->p_proto, 6);

  hostent* local = gethostbyname("localhost");
  ASSERT_NE(local, nullptr);
  ASSERT_NE(local->h_addr_list[0], nullptr);
  std::uint32_t first;
  std::memcpy(&first, local->h_addr_list[0], 4);
  EXPECT_EQ(first, htonl(0x7F000001));
  EXPECT_EQ(gethostbyname(std::string(300, 'a').c_str()), nullptr) << "names over 255 characters are refused";
  EXPECT_EQ(WSAGetLastError(), WSAEFAULT);
}

// ---- Asynchronous selection -------------------------------------------------------------------

struct Notice {
  SOCKET socket;
  long event;
  int error;
};

std::vector<Notice>* gNotices = nullptr;

LRESULT RecordNotice(HWND hwnd, UINT msg, WPARAM w, LPARAM l) {
  if (msg == kSocketMessage && gNotices)
    gNotices->push_back({static_cast<SOCKET>(w), static_cast<long>(l & 0xFFFF), static_cast<int>(l >> 16)});
  return DefWindowProc(hwnd, msg, w, l);
}

class AsyncSelect : public WinsockStarted {
 protected:
  void SetUp() override {
    WinsockStarted::SetUp();
    RegisterWindowClass("NoticeRecorder", RecordNotice);
    window_ = CreateWindowOfClass("NoticeRecorder");
    gNotices = &notices_;
  }
  void TearDown() override {
    for (SOCKET s : sockets_) closesocket(s);
    for (int fd : peers_) peer::Close(fd);
    DestroyWindow(window_);
    gNotices = nullptr;
    WinsockStarted::TearDown();
  }

  SOCKET Selected(long events = FD_READ | FD_WRITE | FD_ACCEPT | FD_CONNECT | FD_CLOSE) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    EXPECT_NE(s, INVALID_SOCKET);
    EXPECT_EQ(WSAAsyncSelect(s, window_, kSocketMessage, events), 0);
    sockets_.push_back(s);
    return s;
  }
  static sockaddr_in Loopback(std::uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(0x7F000001);
    return a;
  }
  int ConnectTo(SOCKET s, std::uint16_t port) {
    sockaddr_in a = Loopback(port);
    return connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  }
  // A selected client connected to a plain peer; returns the peer's end.
  int ConnectedPair(SOCKET& client) {
    std::uint16_t port;
    int listener = peer::Listen(port);
    peers_.push_back(listener);
    client = Selected();
    ConnectTo(client, port);
    int server = peer::Accept(listener);
    peers_.push_back(server);
    EXPECT_TRUE(PumpUntil([&] { return Count(client, FD_WRITE) == 1; }));
    return server;
  }

  int Count(SOCKET s, long event) const {
    int n = 0;
    for (const Notice& notice : notices_) n += notice.socket == s && notice.event == event;
    return n;
  }
  const Notice* Find(SOCKET s, long event) const {
    for (const Notice& notice : notices_)
      if (notice.socket == s && notice.event == event) return &notice;
    return nullptr;
  }

  HWND window_ = 0;
  std::vector<Notice> notices_;
  std::vector<SOCKET> sockets_;
  std::vector<int> peers_;
};

TEST_F(AsyncSelect, ConnectCompletesWithConnectThenWriteNotices) {
  std::uint16_t port;
  peers_.push_back(peer::Listen(port));
  SOCKET s = Selected();
  EXPECT_EQ(ConnectTo(s, port), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
  ASSERT_TRUE(PumpUntil([&] { return Count(s, FD_WRITE) == 1; }));
  ASSERT_EQ(notices_.size(), 2u);
  EXPECT_EQ(notices_[0].event, FD_CONNECT);
  EXPECT_EQ(notices_[0].error, 0);
  EXPECT_EQ(notices_[1].event, FD_WRITE);
  PumpFor(50);
  EXPECT_EQ(notices_.size(), 2u) << "nothing more while nothing happens";
}

TEST_F(AsyncSelect, RefusedConnectIsOneConnectNoticeWithTheError) {
  SOCKET s = Selected();
  ConnectTo(s, peer::UnusedPort());
  ASSERT_TRUE(PumpUntil([&] { return Count(s, FD_CONNECT) == 1; }));
  PumpFor(50);
  ASSERT_EQ(notices_.size(), 1u);
  EXPECT_EQ(notices_[0].error, WSAECONNREFUSED);
}

TEST_F(AsyncSelect, ReadIsReenabledByEachReceive) {
  SOCKET s;
  int server = ConnectedPair(s);
  peer::Send(server, "0123456789");
  ASSERT_TRUE(PumpUntil([&] { return Count(s, FD_READ) == 1; }));
  peer::Send(server, "abc");
  PumpFor(50);
  EXPECT_EQ(Count(s, FD_READ), 1) << "no second notice before a receive";

  char buf[64];
  EXPECT_EQ(recv(s, buf, 5, 0), 5);
  ASSERT_TRUE(PumpUntil([&] { return Count(s, FD_READ) == 2; })) << "data remains: notified again";
  EXPECT_EQ(recv(s, buf, sizeof buf, 0), 8);
  PumpFor(50);
  EXPECT_EQ(Count(s, FD_READ), 2) << "all read: quiet until new data";
  EXPECT_EQ(recv(s, buf, sizeof buf, 0), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
  peer::Send(server, "z");
  EXPECT_TRUE(PumpUntil([&] { return Count(s, FD_READ) == 3; }));
}

struct CloseCase {
  const char* name;
  bool reset;
  int expectedError;
};

class AsyncSelectClose : public AsyncSelect, public ::testing::WithParamInterface<CloseCase> {};

TEST_P(AsyncSelectClose, PeerCloseIsNotifiedOnceAndUnreadDataStays) {
  SOCKET s;
  int server = ConnectedPair(s);
  peer::Send(server, "last words");
  ASSERT_TRUE(PumpUntil([&] { return Count(s, FD_READ) == 1; }));
  if (GetParam().reset) {
    char buf[64];
    recv(s, buf, sizeof buf, 0);  // a reset discards what was unread: read it first
    peer::Reset(server);
  } else {
    peer::Close(server);
  }
  peers_.pop_back();
  ASSERT_TRUE(PumpUntil([&] { return Count(s, FD_CLOSE) == 1; }));
  EXPECT_EQ(Find(s, FD_CLOSE)->error, GetParam().expectedError);
  if (!GetParam().reset) {
    char buf[64];
    EXPECT_EQ(recv(s, buf, sizeof buf, 0), 10);
    EXPECT_EQ(std::string(buf, 10), "last words");
    EXPECT_EQ(recv(s, buf, sizeof buf, 0), 0) << "then the end of the stream";
  }
  PumpFor(100);
  EXPECT_EQ(Count(s, FD_CLOSE), 1);
  EXPECT_LE(Count(s, FD_READ), 1) << "the end of the stream is no data notice";
}

INSTANTIATE_TEST_SUITE_P(Winsock, AsyncSelectClose,
                         ::testing::Values(CloseCase{"Orderly", false, 0}, CloseCase{"Reset", true, WSAECONNRESET}),
                         [](const auto& info) { return std::string(info.param.name); });

struct ArrivalCase {
  const char* name;
  const char* bytes;  // sent just before the close, both waiting when the loop first looks
  int readNotices;
};

class AsyncSelectLastBytes : public AsyncSelect, public ::testing::WithParamInterface<ArrivalCase> {};

// Readable together with the peer's close: only bytes that wait make a read notice, the bare end
// of the stream does not; the close notice comes either way and the bytes stay readable.
TEST_P(AsyncSelectLastBytes, ReadNoticeOnlyForBytesThatCameWithTheClose) {
  SOCKET s;
  int server = ConnectedPair(s);
  const std::string bytes = GetParam().bytes;
  if (!bytes.empty()) peer::Send(server, bytes);
  peer::Close(server);
  peers_.pop_back();
  ASSERT_TRUE(PumpUntil([&] { return Count(s, FD_CLOSE) == 1; }));
  PumpFor(50);
  EXPECT_EQ(Count(s, FD_READ), GetParam().readNotices);
  char buf[64];
  EXPECT_EQ(recv(s, buf, sizeof buf, 0), static_cast<int>(bytes.size()));
  EXPECT_EQ(std::string(buf, bytes.size()), bytes);
  EXPECT_EQ(recv(s, buf, sizeof buf, 0), 0);
  PumpFor(50);
  EXPECT_EQ(Count(s, FD_READ), GetParam().readNotices) << "the end of the stream is no data notice";
  EXPECT_EQ(Count(s, FD_CLOSE), 1);
}

INSTANTIATE_TEST_SUITE_P(Winsock, AsyncSelectLastBytes,
                         ::testing::Values(ArrivalCase{"BytesThenClose", "the tail", 1},
                                           ArrivalCase{"CloseAlone", "", 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(AsyncSelect, AcceptIsReenabledByAcceptAndTheAcceptedSocketInheritsTheSelection) {
  SOCKET listener = Selected();
  sockaddr_in any = Loopback(0);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&any), sizeof any), 0);
  ASSERT_EQ(listen(listener, 4), 0);
  sockaddr_in bound{};
  int len = sizeof bound;
  ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&bound), &len), 0);
  std::uint16_t port = ntohs(bound.sin_port);

  peers_.push_back(peer::Connect(port));
  peers_.push_back(peer::Connect(port));
  ASSERT_TRUE(PumpUntil([&] { return Count(listener, FD_ACCEPT) == 1; }));
  PumpFor(50);
  EXPECT_EQ(Count(listener, FD_ACCEPT), 1) << "one notice until accept is called";

  sockaddr_in from{};
  int fromLen = sizeof from;
  SOCKET first = accept(listener, reinterpret_cast<sockaddr*>(&from), &fromLen);
  ASSERT_NE(first, INVALID_SOCKET);
  sockets_.push_back(first);
  EXPECT_EQ(from.sin_addr.s_addr, htonl(0x7F000001));
  char nothing;
  EXPECT_EQ(recv(first, &nothing, 1, 0), SOCKET_ERROR) << "an accepted socket never blocks either";
  EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
  ASSERT_TRUE(PumpUntil([&] { return Count(listener, FD_ACCEPT) == 2 && Count(first, FD_WRITE) == 1; }));

  peer::Send(peers_[0], "hi");
  EXPECT_TRUE(PumpUntil([&] { return Count(first, FD_READ) == 1; })) << "the accepted socket is selected alike";
}

// A selection, even one that cancels notices, leaves the socket non-blocking, whether it was so
// already or had been made blocking again; a socket nobody selected stays as it was made.
struct BlockingCase {
  const char* name;
  bool selectFirst;      // selected once before
  bool blockingAgain;    // then made blocking again through ioctlsocket
  bool select;           // selected (again) last
  long events;
  bool nonBlocking;      // expected
};

void PrintTo(const BlockingCase& c, std::ostream* os) { *os << c.name; }

class SelectBlocking : public AsyncSelect, public ::testing::WithParamInterface<BlockingCase> {};

TEST_P(SelectBlocking, LeavesTheSocketNonBlocking) {
  const BlockingCase& c = GetParam();
  SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_NE(s, INVALID_SOCKET);
  sockets_.push_back(s);
  std::uint32_t off = 0;
  if (c.selectFirst) {
    ASSERT_EQ(WSAAsyncSelect(s, window_, kSocketMessage, FD_READ), 0);
  }
  if (c.blockingAgain) {
    ASSERT_EQ(ioctlsocket(s, FIONBIO, &off), 0);
  }
  if (c.select) {
    ASSERT_EQ(WSAAsyncSelect(s, window_, kSocketMessage, c.events), 0);
  }
  EXPECT_EQ((::fcntl(static_cast<int>(s), F_GETFL) & O_NONBLOCK) != 0, c.nonBlocking);
}

INSTANTIATE_TEST_SUITE_P(
    Winsock, SelectBlocking,
    ::testing::Values(BlockingCase{"never_selected", false, false, false, 0, false},
                      BlockingCase{"selected", false, false, true, FD_READ | FD_WRITE | FD_CLOSE, true},
                      BlockingCase{"selected_twice", true, false, true, FD_READ | FD_CLOSE, true},
                      BlockingCase{"blocking_again_then_selected", true, true, true, FD_READ, true},
                      BlockingCase{"blocking_again_then_cancelled", true, true, true, 0, true},
                      BlockingCase{"blocking_again_not_selected", true, true, false, 0, false}),
    [](const auto& info) { return std::string(info.param.name); });

// A refused selection says why and leaves the socket as it was.
TEST_F(AsyncSelect, ARefusedSelectionLeavesTheSocketAsItWas) {
  SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_NE(s, INVALID_SOCKET);
  sockets_.push_back(s);
  EXPECT_EQ(WSAAsyncSelect(s, 0, kSocketMessage, FD_READ), SOCKET_ERROR) << "no window";
  EXPECT_EQ(WSAGetLastError(), WSAEINVAL);
  EXPECT_EQ(::fcntl(static_cast<int>(s), F_GETFL) & O_NONBLOCK, 0) << "still blocking";

  SOCKET closed = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_NE(closed, INVALID_SOCKET);
  ASSERT_EQ(closesocket(closed), 0);
  EXPECT_EQ(WSAAsyncSelect(closed, window_, kSocketMessage, FD_READ), SOCKET_ERROR) << "a closed socket";
  EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
}

TEST_F(AsyncSelect, SendThatWouldBlockGetsAWriteNoticeOnceRoomReturns) {
  SOCKET s;
  int server = ConnectedPair(s);
  int small = 8192;
  ASSERT_EQ(setsockopt(s, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&small), sizeof small), 0);
  std::string block(65536, 'x');
  std::size_t sent = 0;
  int rc;
  while ((rc = send(s, block.data(), static_cast<int>(block.size()), 0)) > 0) sent += static_cast<std::size_t>(rc);
  ASSERT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
  int writesBefore = Count(s, FD_WRITE);
  PumpFor(30);
  EXPECT_EQ(Count(s, FD_WRITE), writesBefore) << "no room yet";
  EXPECT_EQ(peer::Receive(server, 1000, sent).size(), sent);
  EXPECT_TRUE(PumpUntil([&] { return Count(s, FD_WRITE) == writesBefore + 1; }));
}

TEST_F(AsyncSelect, ClosingASocketPurgesItsQueuedNotices) {
  SOCKET s;
  int server = ConnectedPair(s);
  peer::Send(server, "data");
  // Let the notice be queued without dispatching it.
  MSG msg;
  std::uint64_t end = MonotonicMilliseconds() + 2000;
  bool queued = false;
  while (!queued && MonotonicMilliseconds() < end) {
    WaitMessage(10);
    queued = PeekMessage(msg, PM_NOREMOVE) && msg.message == kSocketMessage;
  }
  ASSERT_TRUE(queued);
  ASSERT_EQ(closesocket(s), 0);
  sockets_.clear();
  int left = 0;
  while (PeekMessage(msg, PM_REMOVE)) left += msg.message == kSocketMessage && msg.wParam == s;
  EXPECT_EQ(left, 0);
}

}  // namespace
