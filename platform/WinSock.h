// Windows Sockets 1.1 over BSD sockets: the library "WSOCK32" with its 46 entry points, as the
// engine binds them at run time (platform/Library.h). Socket handles are the file descriptors;
// errors are Winsock's numbers (WSAGetLastError), mapped from errno.
//
// Asynchronous selection (WSAAsyncSelect) runs on the selecting thread's message loop and keeps
// Winsock's notification rules:
//  - FD_READ is posted when data waits, and again only after the next recv (at once if data remains);
//  - FD_WRITE once the connection is up, and again after a send that would block, once room returns;
//  - FD_ACCEPT when a connection waits, re-enabled by accept;
//  - FD_CONNECT once when a connect completes, with the error in the high word when it failed;
//  - FD_CLOSE once when the peer closed (error 0) or reset the connection; unread data stays readable;
//  - closing a socket removes its notifications still queued, so that a new socket that reuses the
//    descriptor never receives an old socket's notices.
// A socket that is selected is operated from the thread that selected it.
#pragma once

#if defined(SOL_SOCKET) || defined(FIONREAD)
#error "platform/WinSock.h clashes with the system's socket headers: include platform/NativeSockets.h first"
#endif

#include <cstdint>
#include <vector>

#include "platform/Library.h"
#include "platform/MessageLoop.h"

namespace platform::ws {

using SOCKET = std::uint32_t;
constexpr SOCKET INVALID_SOCKET = ~SOCKET{0};
constexpr int SOCKET_ERROR = -1;


constexpr short AF_INET = 2;
constexpr int SOCK_STREAM = 1;
constexpr int IPPROTO_TCP = 6;
constexpr std::uint32_t INADDR_ANY = 0;
constexpr std::uint32_t INADDR_NONE = 0xFFFFFFFF;

constexpr int SOL_SOCKET = 0xFFFF;
constexpr int SO_REUSEADDR = 0x0004;
constexpr int SO_KEEPALIVE = 0x0008;
constexpr int SO_LINGER = 0x0080;
constexpr int SO_SNDBUF = 0x1001;
constexpr int SO_RCVBUF = 0x1002;
constexpr int SO_ERROR = 0x1007;
constexpr int TCP_NODELAY = 0x0001;

constexpr int SD_RECEIVE = 0;
constexpr int SD_SEND = 1;
constexpr int SD_BOTH = 2;

constexpr long FIONBIO = static_cast<long>(0x8004667EL);
constexpr long FIONREAD = 0x4004667FL;

constexpr long FD_READ = 1;
constexpr long FD_WRITE = 2;
constexpr long FD_OOB = 4;
constexpr long FD_ACCEPT = 8;
constexpr long FD_CONNECT = 16;
constexpr long FD_CLOSE = 32;

constexpr int MSG_OOB = 1;
constexpr int MSG_PEEK = 2;

// The error numbers the engine meets.
constexpr int WSAEINTR = 10004;
constexpr int WSAEBADF = 10009;
constexpr int WSAEACCES = 10013;
constexpr int WSAEFAULT = 10014;
constexpr int WSAEINVAL = 10022;
constexpr int WSAEMFILE = 10024;
constexpr int WSAEWOULDBLOCK = 10035;
constexpr int WSAEINPROGRESS = 10036;
constexpr int WSAEALREADY = 10037;
constexpr int WSAENOTSOCK = 10038;
constexpr int WSAEDESTADDRREQ = 10039;
constexpr int WSAEMSGSIZE = 10040;
constexpr int WSAEPROTOTYPE = 10041;
constexpr int WSAENOPROTOOPT = 10042;
constexpr int WSAEPROTONOSUPPORT = 10043;
constexpr int WSAESOCKTNOSUPPORT = 10044;
constexpr int WSAEOPNOTSUPP = 10045;
constexpr int WSAEPFNOSUPPORT = 10046;
constexpr int WSAEAFNOSUPPORT = 10047;
constexpr int WSAEADDRINUSE = 10048;
constexpr int WSAEADDRNOTAVAIL = 10049;
constexpr int WSAENETDOWN = 10050;
constexpr int WSAENETUNREACH = 10051;
constexpr int WSAENETRESET = 10052;
constexpr int WSAECONNABORTED = 10053;
constexpr int WSAECONNRESET = 10054;
constexpr int WSAENOBUFS = 10055;
constexpr int WSAEISCONN = 10056;
constexpr int WSAENOTCONN = 10057;
constexpr int WSAESHUTDOWN = 10058;
constexpr int WSAETIMEDOUT = 10060;
constexpr int WSAECONNREFUSED = 10061;
constexpr int WSAENAMETOOLONG = 10063;
constexpr int WSAEHOSTDOWN = 10064;
constexpr int WSAEHOSTUNREACH = 10065;
constexpr int WSASYSNOTREADY = 10091;
constexpr int WSAVERNOTSUPPORTED = 10092;
constexpr int WSANOTINITIALISED = 10093;
constexpr int WSAHOST_NOT_FOUND = 11001;
constexpr int WSATRY_AGAIN = 11002;
constexpr int WSANO_RECOVERY = 11003;
constexpr int WSANO_DATA = 11004;

// Winsock's number for an errno value (WSAEINVAL for anything unknown).
int WinsockErrorFromErrno(int error);

struct in_addr {
  std::uint32_t s_addr;  // network order
};

// The 16-byte Internet socket address.
struct sockaddr_in {
  short sin_family;
  std::uint16_t sin_port;  // network order
  in_addr sin_addr;
  char sin_zero[8];
};
static_assert(sizeof(sockaddr_in) == 16);

struct sockaddr {
  std::uint16_t sa_family;
  char sa_data[14];
};

struct linger {
  std::uint16_t l_onoff;
  std::uint16_t l_linger;
};

struct WSADATA {
  std::uint16_t wVersion;
  std::uint16_t wHighVersion;
  char szDescription[257];
  char szSystemStatus[129];
  std::uint16_t iMaxSockets;
  std::uint16_t iMaxUdpDg;
  char* lpVendorInfo;
};

struct hostent {
  char* h_name;
  char** h_aliases;
  short h_addrtype;
  short h_length;
  char** h_addr_list;
};

struct servent {
  char* s_name;
  char** s_aliases;
  short s_port;  // network order
  char* s_proto;
};

struct protoent {
  char* p_name;
  char** p_aliases;
  short p_proto;
};

constexpr int kFdSetSize = 64;
struct fd_set {
  std::uint32_t fd_count;
  SOCKET fd_array[kFdSetSize];
};

struct timeval {
  long tv_sec;
  long tv_usec;
};

using FARPROC = void* (*)();
using HANDLE = std::uintptr_t;

// ---- The entry points (the library's exported functions) -------------------------------------

SOCKET accept(SOCKET s, sockaddr* addr, int* addrlen);
int bind(SOCKET s, const sockaddr* name, int namelen);
int closesocket(SOCKET s);
int connect(SOCKET s, const sockaddr* name, int namelen);
int getpeername(SOCKET s, sockaddr* name, int* namelen);
int getsockname(SOCKET s, sockaddr* name, int* namelen);
int getsockopt(SOCKET s, int level, int optname, char* optval, int* optlen);
std::uint32_t htonl(std::uint32_t value);
std::uint16_t htons(std::uint16_t value);
std::uint32_t inet_addr(const char* cp);
char* inet_ntoa(in_addr in);
int ioctlsocket(SOCKET s, long cmd, std::uint32_t* argp);
int listen(SOCKET s, int backlog);
std::uint32_t ntohl(std::uint32_t value);
std::uint16_t ntohs(std::uint16_t value);
int recv(SOCKET s, char* buf, int len, int flags);
int recvfrom(SOCKET s, char* buf, int len, int flags, sockaddr* from, int* fromlen);
int select(int nfds, fd_set* readfds, fd_set* writefds, fd_set* exceptfds, const timeval* timeout);
int send(SOCKET s, const char* buf, int len, int flags);
int sendto(SOCKET s, const char* buf, int len, int flags, const sockaddr* to, int tolen);
int setsockopt(SOCKET s, int level, int optname, const char* optval, int optlen);
int shutdown(SOCKET s, int how);
SOCKET socket(int af, int type, int protocol);
hostent* gethostbyaddr(const char* addr, int len, int type);
hostent* gethostbyname(const char* name);
int gethostname(char* name, int namelen);
servent* getservbyport(int port, const char* proto);
servent* getservbyname(const char* name, const char* proto);
protoent* getprotobynumber(int number);
protoent* getprotobyname(const char* name);
int WSAStartup(std::uint16_t versionRequested, WSADATA* data);
int WSACleanup();
void WSASetLastError(int error);
int WSAGetLastError();
int WSAIsBlocking();
int WSAUnhookBlockingHook();
FARPROC WSASetBlockingHook(FARPROC hook);
int WSACancelBlockingCall();
HANDLE WSAAsyncGetServByName(HWND hwnd, UINT msg, const char* name, const char* proto, char* buf, int buflen);
HANDLE WSAAsyncGetServByPort(HWND hwnd, UINT msg, int port, const char* proto, char* buf, int buflen);
HANDLE WSAAsyncGetProtoByName(HWND hwnd, UINT msg, const char* name, char* buf, int buflen);
HANDLE WSAAsyncGetProtoByNumber(HWND hwnd, UINT msg, int number, char* buf, int buflen);
HANDLE WSAAsyncGetHostByName(HWND hwnd, UINT msg, const char* name, char* buf, int buflen);
HANDLE WSAAsyncGetHostByAddr(HWND hwnd, UINT msg, const char* addr, int len, int type, char* buf, int buflen);
int WSACancelAsyncRequest(HANDLE request);
int WSAAsyncSelect(SOCKET s, HWND hwnd, UINT msg, long events);

// The library's name and its table of entry points, in the order the engine binds them. Tests copy
// and alter the table to register a broken library under the same name.
inline constexpr const char* kLibraryName = "WSOCK32";
std::vector<LibraryExport> Wsock32Exports();
// Makes "WSOCK32" loadable (idempotent). Done when the program starts; tests that removed the
// library call it to restore it.
void RegisterWsock32();
// Registers it once per process (later calls do nothing, so that a test that removed it keeps it
// removed). The engine's binding calls this before it loads the library.
void EnsureWsock32Registered();

}  // namespace platform::ws
