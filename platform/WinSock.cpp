#include "platform/NativeSockets.h"  // first: it removes the system's clashing macros

#include "platform/WinSock.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/WinSockAsync.h"
#include "platform/WinSockFilter.h"

namespace platform::ws {
namespace {

thread_local int tLastError = 0;
std::atomic<int> gStartups{0};

constexpr std::uint16_t kVersion11 = 0x0101;
constexpr std::size_t kMaxNameLength = 255;

int Fail(int error) {
  tLastError = error;
  return SOCKET_ERROR;
}

int FailErrno() { return Fail(WinsockErrorFromErrno(errno)); }

bool Started() {
  if (gStartups.load() > 0) return true;
  tLastError = WSANOTINITIALISED;
  return false;
}

int Fd(SOCKET s) { return static_cast<int>(s); }

// Winsock's address records are laid out like the BSD ones but for the family's width.
bool ToNative(const sockaddr* name, int namelen, ::sockaddr_in& out) {
  if (name == nullptr || namelen < static_cast<int>(sizeof(sockaddr_in))) return false;
  const auto* in = reinterpret_cast<const sockaddr_in*>(name);
  out = {};
  out.sin_family = static_cast<sa_family_t>(in->sin_family);
  out.sin_port = in->sin_port;
  out.sin_addr.s_addr = in->sin_addr.s_addr;
  return true;
}

int FromNative(const ::sockaddr_storage& native, sockaddr* name, int* namelen) {
  if (name == nullptr || namelen == nullptr || *namelen < static_cast<int>(sizeof(sockaddr_in))) return Fail(WSAEFAULT);
  const auto& in = reinterpret_cast<const ::sockaddr_in&>(native);
  sockaddr_in out{};
  out.sin_family = static_cast<short>(in.sin_family);
  out.sin_port = in.sin_port;
  out.sin_addr.s_addr = in.sin_addr.s_addr;
  std::memcpy(name, &out, sizeof out);
  *namelen = sizeof out;
  return 0;
}

// Winsock's socket-level option numbers differ from Linux's.
bool NativeOption(int level, int optname, int& nativeLevel, int& nativeName) {
  if (level == SOL_SOCKET) {
    nativeLevel = native::kSolSocket;
    switch (optname) {
      case SO_REUSEADDR: nativeName = native::kSoReuseAddr; return true;
      case SO_KEEPALIVE: nativeName = native::kSoKeepAlive; return true;
      case SO_LINGER: nativeName = native::kSoLinger; return true;
      case SO_SNDBUF: nativeName = native::kSoSndBuf; return true;
      case SO_RCVBUF: nativeName = native::kSoRcvBuf; return true;
      case SO_ERROR: nativeName = native::kSoError; return true;
    }
    return false;
  }
  if (level == IPPROTO_TCP && optname == TCP_NODELAY) {
    nativeLevel = native::kIpProtoTcp;
    nativeName = native::kTcpNoDelay;
    return true;
  }
  return false;
}

int LookupError(int gaiError) {
  switch (gaiError) {
    case EAI_AGAIN: return WSATRY_AGAIN;
    case EAI_FAIL: return WSANO_RECOVERY;
#ifdef EAI_NODATA
    case EAI_NODATA: return WSANO_DATA;
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY: return WSANO_DATA;
#endif
    default: return WSAHOST_NOT_FOUND;
  }
}

// The library hands out one record per thread that stays valid until the thread's next lookup.
struct HostRecord {
  std::string name;
  std::vector<std::uint32_t> addresses;
  std::vector<char*> addressList;
  char* noAliases[1] = {nullptr};
  hostent entry{};

  hostent* Publish() {
    addressList.clear();
    for (std::uint32_t& a : addresses) addressList.push_back(reinterpret_cast<char*>(&a));
    addressList.push_back(nullptr);
    entry = hostent{name.data(), noAliases, AF_INET, 4, addressList.data()};
    return &entry;
  }
};

struct ServiceRecord {
  ::servent native{};
  char buffer[1024];
  servent entry{};

  servent* Publish() {
    entry = servent{native.s_name, native.s_aliases, static_cast<short>(native.s_port), native.s_proto};
    return &entry;
  }
};

struct ProtocolRecord {
  ::protoent native{};
  char buffer[1024];
  protoent entry{};

  protoent* Publish() {
    entry = protoent{native.p_name, native.p_aliases, static_cast<short>(native.p_proto)};
    return &entry;
  }
};

thread_local HostRecord tHost;
thread_local ServiceRecord tService;
thread_local ProtocolRecord tProtocol;
thread_local char tAddressText[16];

bool NameFits(const char* name) { return name != nullptr && std::strlen(name) <= kMaxNameLength; }

void FdSetToPoll(fd_set* set, short events, std::vector<pollfd>& fds) {
  if (set == nullptr) return;
  for (std::uint32_t i = 0; i < set->fd_count && i < kFdSetSize; ++i) fds.push_back({Fd(set->fd_array[i]), events, 0});
}

void KeepReady(fd_set* set, const std::vector<pollfd>& fds, short mask) {
  if (set == nullptr) return;
  std::uint32_t kept = 0;
  for (std::uint32_t i = 0; i < set->fd_count && i < kFdSetSize; ++i)
    for (const pollfd& p : fds)
      if (p.fd == Fd(set->fd_array[i]) && (p.revents & mask)) {
        set->fd_array[kept++] = set->fd_array[i];
        break;
      }
  set->fd_count = kept;
}

HANDLE AsyncLookupUnsupported() {
  // The engine never asks for asynchronous lookups; the blocking ones serve it.
  tLastError = WSAEOPNOTSUPP;
  return 0;
}

}  // namespace

int WinsockErrorFromErrno(int error) {
  switch (error) {
    case 0: return 0;
    case EINTR: return WSAEINTR;
    case EBADF: return WSAENOTSOCK;
    case EACCES:
    case EPERM: return WSAEACCES;
    case EFAULT: return WSAEFAULT;
    case EINVAL: return WSAEINVAL;
    case EMFILE:
    case ENFILE: return WSAEMFILE;
#if EAGAIN != EWOULDBLOCK
    case EAGAIN:
#endif
    case EWOULDBLOCK:
    case EINPROGRESS: return WSAEWOULDBLOCK;
    case EALREADY: return WSAEALREADY;
    case ENOTSOCK: return WSAENOTSOCK;
    case EDESTADDRREQ: return WSAEDESTADDRREQ;
    case EMSGSIZE: return WSAEMSGSIZE;
    case EPROTOTYPE: return WSAEPROTOTYPE;
    case ENOPROTOOPT: return WSAENOPROTOOPT;
    case EPROTONOSUPPORT: return WSAEPROTONOSUPPORT;
    case ESOCKTNOSUPPORT: return WSAESOCKTNOSUPPORT;
    case EOPNOTSUPP: return WSAEOPNOTSUPP;
    case EPFNOSUPPORT: return WSAEPFNOSUPPORT;
    case EAFNOSUPPORT: return WSAEAFNOSUPPORT;
    case EADDRINUSE: return WSAEADDRINUSE;
    case EADDRNOTAVAIL: return WSAEADDRNOTAVAIL;
    case ENETDOWN: return WSAENETDOWN;
    case ENETUNREACH: return WSAENETUNREACH;
    case ENETRESET: return WSAENETRESET;
    case ECONNABORTED: return WSAECONNABORTED;
    case ECONNRESET:
    case EPIPE: return WSAECONNRESET;
    case ENOBUFS:
    case ENOMEM: return WSAENOBUFS;
    case EISCONN: return WSAEISCONN;
    case ENOTCONN: return WSAENOTCONN;
    case ESHUTDOWN: return WSAESHUTDOWN;
    case ETIMEDOUT: return WSAETIMEDOUT;
    case ECONNREFUSED: return WSAECONNREFUSED;
    case ENAMETOOLONG: return WSAENAMETOOLONG;
    case EHOSTDOWN: return WSAEHOSTDOWN;
    case EHOSTUNREACH: return WSAEHOSTUNREACH;
    default: return WSAEINVAL;
  }
}

// ---- Sockets --------------------------------------------------------------------------------

SOCKET socket(int af, int type, int protocol) {
  if (!Started()) return INVALID_SOCKET;
  if (af != AF_INET) return Fail(WSAEAFNOSUPPORT), INVALID_SOCKET;
  int nativeType = type == SOCK_STREAM ? native::kSockStream : type == 2 ? native::kSockDgram : -1;
  if (nativeType < 0) return Fail(WSAESOCKTNOSUPPORT), INVALID_SOCKET;
  int fd = ::socket(native::kAfInet, nativeType | SOCK_CLOEXEC, protocol);
  if (fd < 0) return FailErrno(), INVALID_SOCKET;
  return static_cast<SOCKET>(fd);
}

int bind(SOCKET s, const sockaddr* name, int namelen) {
  if (!Started()) return SOCKET_ERROR;
  ::sockaddr_in native;
  if (!ToNative(name, namelen, native)) return Fail(WSAEFAULT);
  return ::bind(Fd(s), reinterpret_cast<::sockaddr*>(&native), sizeof native) == 0 ? 0 : FailErrno();
}

int listen(SOCKET s, int backlog) {
  if (!Started()) return SOCKET_ERROR;
  if (::listen(Fd(s), backlog) != 0) return FailErrno();
  async::OnListen(s);
  return 0;
}

SOCKET accept(SOCKET s, sockaddr* addr, int* addrlen) {
  if (!Started()) return INVALID_SOCKET;
  ::sockaddr_storage peer{};
  socklen_t len = sizeof peer;
  int fd = ::accept4(Fd(s), reinterpret_cast<::sockaddr*>(&peer), &len, SOCK_CLOEXEC);
  int error = errno;
  SOCKET accepted = fd < 0 ? INVALID_SOCKET : static_cast<SOCKET>(fd);
  async::OnAccept(s, accepted);
  if (fd < 0) return Fail(WinsockErrorFromErrno(error)), INVALID_SOCKET;
  if (addr != nullptr && addrlen != nullptr && FromNative(peer, addr, addrlen) != 0) {
    ::close(fd);
    return INVALID_SOCKET;
  }
  return accepted;
}

int connect(SOCKET s, const sockaddr* name, int namelen) {
  if (!Started()) return SOCKET_ERROR;
  ::sockaddr_in native;
  if (!ToNative(name, namelen, native)) return Fail(WSAEFAULT);
  if (::connect(Fd(s), reinterpret_cast<::sockaddr*>(&native), sizeof native) == 0) {
    async::OnConnectStarted(s, true);
    return 0;
  }
  int error = errno;
  if (error == EINPROGRESS) async::OnConnectStarted(s, false);
  return Fail(WinsockErrorFromErrno(error));
}

int recv(SOCKET s, char* buf, int len, int flags) {
  if (!Started()) return SOCKET_ERROR;
  if (len < 0) return Fail(WSAEFAULT);
  if (auto layer = filter::Find(s)) {
    const int n = layer->Recv(s, buf, len);
    async::OnReceive(s);
    // Bytes the layer holds are not in the descriptor: only the layer knows to tell of them.
    if (layer->HoldsInput()) async::OnReadPending(s);
    return n;
  }
  int native = (flags & MSG_PEEK ? native::kMsgPeek : 0) | (flags & MSG_OOB ? native::kMsgOob : 0);
  ssize_t n = ::recv(Fd(s), buf, static_cast<size_t>(len), native);
  int error = errno;
  async::OnReceive(s);
  return n < 0 ? Fail(WinsockErrorFromErrno(error)) : static_cast<int>(n);
}

int recvfrom(SOCKET s, char* buf, int len, int flags, sockaddr* from, int* fromlen) {
  if (from == nullptr) return recv(s, buf, len, flags);
  if (!Started()) return SOCKET_ERROR;
  ::sockaddr_storage peer{};
  socklen_t peerLen = sizeof peer;
  ssize_t n = ::recvfrom(Fd(s), buf, static_cast<size_t>(std::max(len, 0)), flags & MSG_PEEK ? native::kMsgPeek : 0,
                         reinterpret_cast<::sockaddr*>(&peer), &peerLen);
  int error = errno;
  async::OnReceive(s);
  if (n < 0) return Fail(WinsockErrorFromErrno(error));
  if (FromNative(peer, from, fromlen) != 0) return SOCKET_ERROR;
  return static_cast<int>(n);
}

int send(SOCKET s, const char* buf, int len, int flags) {
  if (!Started()) return SOCKET_ERROR;
  if (len < 0) return Fail(WSAEFAULT);
  if (auto layer = filter::Find(s)) return layer->Send(s, buf, len);
  ssize_t n = ::send(Fd(s), buf, static_cast<size_t>(len), MSG_NOSIGNAL | (flags & MSG_OOB ? native::kMsgOob : 0));
  if (n >= 0) return static_cast<int>(n);
  int error = errno;
  if (error == EAGAIN || error == EWOULDBLOCK) async::OnSendBlocked(s);
  return Fail(WinsockErrorFromErrno(error));
}

int sendto(SOCKET s, const char* buf, int len, int flags, const sockaddr* to, int tolen) {
  if (to == nullptr) return send(s, buf, len, flags);
  if (!Started()) return SOCKET_ERROR;
  ::sockaddr_in native;
  if (!ToNative(to, tolen, native)) return Fail(WSAEFAULT);
  ssize_t n = ::sendto(Fd(s), buf, static_cast<size_t>(std::max(len, 0)), MSG_NOSIGNAL,
                       reinterpret_cast<::sockaddr*>(&native), sizeof native);
  if (n >= 0) return static_cast<int>(n);
  int error = errno;
  if (error == EAGAIN || error == EWOULDBLOCK) async::OnSendBlocked(s);
  return Fail(WinsockErrorFromErrno(error));
}

int shutdown(SOCKET s, int how) {
  if (!Started()) return SOCKET_ERROR;
  int native = how == SD_RECEIVE ? SHUT_RD : how == SD_SEND ? SHUT_WR : how == SD_BOTH ? SHUT_RDWR : -1;
  if (native < 0) return Fail(WSAEINVAL);
  if (auto layer = filter::Find(s)) layer->Shutdown(s, how);
  return ::shutdown(Fd(s), native) == 0 ? 0 : FailErrno();
}

int closesocket(SOCKET s) {
  if (!Started()) return SOCKET_ERROR;
  async::OnClose(s);
  filter::Detach(s);
  return ::close(Fd(s)) == 0 ? 0 : FailErrno();
}

int getpeername(SOCKET s, sockaddr* name, int* namelen) {
  if (!Started()) return SOCKET_ERROR;
  ::sockaddr_storage native{};
  socklen_t len = sizeof native;
  if (::getpeername(Fd(s), reinterpret_cast<::sockaddr*>(&native), &len) != 0) return FailErrno();
  return FromNative(native, name, namelen);
}

int getsockname(SOCKET s, sockaddr* name, int* namelen) {
  if (!Started()) return SOCKET_ERROR;
  ::sockaddr_storage native{};
  socklen_t len = sizeof native;
  if (::getsockname(Fd(s), reinterpret_cast<::sockaddr*>(&native), &len) != 0) return FailErrno();
  return FromNative(native, name, namelen);
}

int getsockopt(SOCKET s, int level, int optname, char* optval, int* optlen) {
  if (!Started()) return SOCKET_ERROR;
  int nativeLevel, nativeName;
  if (!NativeOption(level, optname, nativeLevel, nativeName)) return Fail(WSAENOPROTOOPT);
  if (optval == nullptr || optlen == nullptr || *optlen < 0) return Fail(WSAEFAULT);
  socklen_t len = static_cast<socklen_t>(*optlen);
  if (::getsockopt(Fd(s), nativeLevel, nativeName, optval, &len) != 0) return FailErrno();
  if (nativeName == native::kSoError && len == sizeof(int)) {
    int value;
    std::memcpy(&value, optval, sizeof value);
    value = WinsockErrorFromErrno(value);
    std::memcpy(optval, &value, sizeof value);
  }
  *optlen = static_cast<int>(len);
  return 0;
}

int setsockopt(SOCKET s, int level, int optname, const char* optval, int optlen) {
  if (!Started()) return SOCKET_ERROR;
  int nativeLevel, nativeName;
  if (!NativeOption(level, optname, nativeLevel, nativeName)) return Fail(WSAENOPROTOOPT);
  if (optval == nullptr || optlen < 0) return Fail(WSAEFAULT);
  if (nativeName == native::kSoLinger) {
    // Winsock's linger record has 16-bit fields.
    if (optlen < static_cast<int>(sizeof(linger))) return Fail(WSAEFAULT);
    linger in;
    std::memcpy(&in, optval, sizeof in);
    ::linger native{in.l_onoff, in.l_linger};
    return ::setsockopt(Fd(s), nativeLevel, nativeName, &native, sizeof native) == 0 ? 0 : FailErrno();
  }
  int value = 0;
  std::memcpy(&value, optval, std::min<std::size_t>(static_cast<std::size_t>(optlen), sizeof value));
  return ::setsockopt(Fd(s), nativeLevel, nativeName, &value, sizeof value) == 0 ? 0 : FailErrno();
}

int ioctlsocket(SOCKET s, long cmd, std::uint32_t* argp) {
  if (!Started()) return SOCKET_ERROR;
  if (argp == nullptr) return Fail(WSAEFAULT);
  if (cmd == FIONBIO) {
    int flags = ::fcntl(Fd(s), F_GETFL);
    if (flags < 0) return FailErrno();
    flags = *argp ? flags | O_NONBLOCK : flags & ~O_NONBLOCK;
    return ::fcntl(Fd(s), F_SETFL, flags) == 0 ? 0 : FailErrno();
  }
  if (cmd == FIONREAD) {
    int bytes = 0;
    if (::ioctl(Fd(s), native::kFionRead, &bytes) != 0) return FailErrno();
    *argp = static_cast<std::uint32_t>(bytes);
    return 0;
  }
  return Fail(WSAEINVAL);
}

int select(int, fd_set* readfds, fd_set* writefds, fd_set* exceptfds, const timeval* timeout) {
  if (!Started()) return SOCKET_ERROR;
  std::vector<pollfd> fds;
  FdSetToPoll(readfds, POLLIN, fds);
  FdSetToPoll(writefds, POLLOUT, fds);
  FdSetToPoll(exceptfds, POLLPRI, fds);
  int ms = timeout == nullptr ? -1 : static_cast<int>(timeout->tv_sec * 1000 + timeout->tv_usec / 1000);
  int n = ::poll(fds.data(), fds.size(), ms);
  if (n < 0) return FailErrno();
  KeepReady(readfds, fds, POLLIN | POLLHUP | POLLERR);
  KeepReady(writefds, fds, POLLOUT | POLLERR);
  KeepReady(exceptfds, fds, POLLPRI);
  int ready = 0;
  for (fd_set* set : {readfds, writefds, exceptfds})
    if (set) ready += static_cast<int>(set->fd_count);
  return ready;
}

int WSAAsyncSelect(SOCKET s, HWND hwnd, UINT msg, long events) {
  if (!Started()) return SOCKET_ERROR;
  if (events != 0 && !IsWindow(hwnd)) return Fail(WSAEINVAL);
  if (!async::MakeNonBlocking(s)) return FailErrno();
  if (events == 0)
    async::Cancel(s);
  else
    async::Select(s, hwnd, msg, events);
  return 0;
}

// ---- Conversions ----------------------------------------------------------------------------

std::uint32_t htonl(std::uint32_t value) { return ::htonl(value); }
std::uint16_t htons(std::uint16_t value) { return ::htons(value); }
std::uint32_t ntohl(std::uint32_t value) { return ::ntohl(value); }
std::uint16_t ntohs(std::uint16_t value) { return ::ntohs(value); }

std::uint32_t inet_addr(const char* cp) {
  if (cp == nullptr) return INADDR_NONE;
  return ::inet_addr(cp);
}

char* inet_ntoa(in_addr in) {
  unsigned char b[4];
  std::memcpy(b, &in.s_addr, 4);
  std::snprintf(tAddressText, sizeof tAddressText, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
  return tAddressText;
}

// ---- Lookups --------------------------------------------------------------------------------

hostent* gethostbyname(const char* name) {
  if (!Started()) return nullptr;
  if (!NameFits(name)) return Fail(WSAEFAULT), nullptr;
  addrinfo hints{};
  hints.ai_family = native::kAfInet;
  hints.ai_socktype = native::kSockStream;
  hints.ai_flags = AI_CANONNAME;
  addrinfo* found = nullptr;
  int rc = ::getaddrinfo(name, nullptr, &hints, &found);
  if (rc != 0) return Fail(LookupError(rc)), nullptr;
  tHost.name = found->ai_canonname ? found->ai_canonname : name;
  tHost.addresses.clear();
  for (addrinfo* a = found; a; a = a->ai_next) {
    std::uint32_t address = reinterpret_cast<::sockaddr_in*>(a->ai_addr)->sin_addr.s_addr;
    if (std::find(tHost.addresses.begin(), tHost.addresses.end(), address) == tHost.addresses.end())
      tHost.addresses.push_back(address);
  }
  ::freeaddrinfo(found);
  return tHost.Publish();
}

hostent* gethostbyaddr(const char* addr, int len, int type) {
  if (!Started()) return nullptr;
  if (addr == nullptr || len != 4 || type != AF_INET) return Fail(WSAEFAULT), nullptr;
  ::sockaddr_in native{};
  native.sin_family = native::kAfInet;
  std::memcpy(&native.sin_addr, addr, 4);
  char host[NI_MAXHOST];
  int rc = ::getnameinfo(reinterpret_cast<::sockaddr*>(&native), sizeof native, host, sizeof host, nullptr, 0,
                         NI_NAMEREQD);
  if (rc != 0) return Fail(LookupError(rc)), nullptr;
  tHost.name = host;
  tHost.addresses = {native.sin_addr.s_addr};
  return tHost.Publish();
}

int gethostname(char* name, int namelen) {
  if (!Started()) return SOCKET_ERROR;
  if (name == nullptr || namelen <= 0) return Fail(WSAEFAULT);
  return ::gethostname(name, static_cast<size_t>(namelen)) == 0 ? 0 : Fail(WSAEFAULT);
}

servent* getservbyname(const char* name, const char* proto) {
  if (!Started()) return nullptr;
  if (!NameFits(name)) return Fail(WSAEFAULT), nullptr;
  ::servent* result = nullptr;
  ::getservbyname_r(name, proto, &tService.native, tService.buffer, sizeof tService.buffer, &result);
  if (result == nullptr) return Fail(WSANO_DATA), nullptr;
  return tService.Publish();
}

servent* getservbyport(int port, const char* proto) {
  if (!Started()) return nullptr;
  ::servent* result = nullptr;
  ::getservbyport_r(port, proto, &tService.native, tService.buffer, sizeof tService.buffer, &result);
  if (result == nullptr) return Fail(WSANO_DATA), nullptr;
  return tService.Publish();
}

protoent* getprotobyname(const char* name) {
  if (!Started()) return nullptr;
  if (!NameFits(name)) return Fail(WSAEFAULT), nullptr;
  ::protoent* result = nullptr;
  ::getprotobyname_r(name, &tProtocol.native, tProtocol.buffer, sizeof tProtocol.buffer, &result);
  if (result == nullptr) return Fail(WSANO_DATA), nullptr;
  return tProtocol.Publish();
}

protoent* getprotobynumber(int number) {
  if (!Started()) return nullptr;
  ::protoent* result = nullptr;
  ::getprotobynumber_r(number, &tProtocol.native, tProtocol.buffer, sizeof tProtocol.buffer, &result);
  if (result == nullptr) return Fail(WSANO_DATA), nullptr;
  return tProtocol.Publish();
}

// ---- Start-up and errors --------------------------------------------------------------------

int WSAStartup(std::uint16_t versionRequested, WSADATA* data) {
  if (data == nullptr) return WSAEFAULT;
  // Version 1.1 is what this library offers; a request below 1.1 cannot be served.
  std::uint8_t major = versionRequested & 0xFF, minor = versionRequested >> 8;
  if (major < 1 || (major == 1 && minor < 1)) return WSAVERNOTSUPPORTED;
  *data = WSADATA{};
  data->wVersion = kVersion11;
  data->wHighVersion = kVersion11;
  std::snprintf(data->szDescription, sizeof data->szDescription, "Windows Sockets over BSD sockets");
  std::snprintf(data->szSystemStatus, sizeof data->szSystemStatus, "Running");
  data->iMaxSockets = 1024;
  data->iMaxUdpDg = 65467;
  ++gStartups;
  return 0;
}

int WSACleanup() {
  int count = gStartups.load();
  while (count > 0 && !gStartups.compare_exchange_weak(count, count - 1)) {
  }
  return count > 0 ? 0 : Fail(WSANOTINITIALISED);
}

void WSASetLastError(int error) { tLastError = error; }
int WSAGetLastError() { return tLastError; }

// Blocking hooks belong to 16-bit Windows: calls never block the message loop here.
int WSAIsBlocking() { return 0; }
int WSAUnhookBlockingHook() { return 0; }
FARPROC WSASetBlockingHook(FARPROC) { return nullptr; }
int WSACancelBlockingCall() { return Fail(WSAEINVAL); }

HANDLE WSAAsyncGetServByName(HWND, UINT, const char*, const char*, char*, int) { return AsyncLookupUnsupported(); }
HANDLE WSAAsyncGetServByPort(HWND, UINT, int, const char*, char*, int) { return AsyncLookupUnsupported(); }
HANDLE WSAAsyncGetProtoByName(HWND, UINT, const char*, char*, int) { return AsyncLookupUnsupported(); }
HANDLE WSAAsyncGetProtoByNumber(HWND, UINT, int, char*, int) { return AsyncLookupUnsupported(); }
HANDLE WSAAsyncGetHostByName(HWND, UINT, const char*, char*, int) { return AsyncLookupUnsupported(); }
HANDLE WSAAsyncGetHostByAddr(HWND, UINT, const char*, int, int, char*, int) { return AsyncLookupUnsupported(); }
int WSACancelAsyncRequest(HANDLE) { return Fail(WSAEINVAL); }

// ---- The library ----------------------------------------------------------------------------

std::vector<LibraryExport> Wsock32Exports() {
  auto e = [](const char* name, auto fn) { return LibraryExport{name, reinterpret_cast<void*>(fn)}; };
  return {
      e("accept", &accept), e("bind", &bind), e("closesocket", &closesocket), e("connect", &connect),
      e("getpeername", &getpeername), e("getsockname", &getsockname), e("getsockopt", &getsockopt),
      e("htonl", &htonl), e("htons", &htons), e("inet_addr", &inet_addr), e("inet_ntoa", &inet_ntoa),
      e("ioctlsocket", &ioctlsocket), e("listen", &listen), e("ntohl", &ntohl), e("ntohs", &ntohs),
      e("recv", &recv), e("recvfrom", &recvfrom), e("select", &select), e("send", &send), e("sendto", &sendto),
      e("setsockopt", &setsockopt), e("shutdown", &shutdown), e("socket", &socket),
      e("gethostbyaddr", &gethostbyaddr), e("gethostbyname", &gethostbyname), e("gethostname", &gethostname),
      e("getservbyport", &getservbyport), e("getservbyname", &getservbyname),
      e("getprotobynumber", &getprotobynumber), e("getprotobyname", &getprotobyname),
      e("WSAStartup", &WSAStartup), e("WSACleanup", &WSACleanup), e("WSASetLastError", &WSASetLastError),
      e("WSAGetLastError", &WSAGetLastError), e("WSAIsBlocking", &WSAIsBlocking),
      e("WSAUnhookBlockingHook", &WSAUnhookBlockingHook), e("WSASetBlockingHook", &WSASetBlockingHook),
      e("WSACancelBlockingCall", &WSACancelBlockingCall), e("WSAAsyncGetServByName", &WSAAsyncGetServByName),
      e("WSAAsyncGetServByPort", &WSAAsyncGetServByPort), e("WSAAsyncGetProtoByName", &WSAAsyncGetProtoByName),
      e("WSAAsyncGetProtoByNumber", &WSAAsyncGetProtoByNumber),
      e("WSAAsyncGetHostByName", &WSAAsyncGetHostByName), e("WSAAsyncGetHostByAddr", &WSAAsyncGetHostByAddr),
      e("WSACancelAsyncRequest", &WSACancelAsyncRequest), e("WSAAsyncSelect", &WSAAsyncSelect),
  };
}

void RegisterWsock32() { RegisterBuiltinLibrary(kLibraryName, &Wsock32Exports); }

void EnsureWsock32Registered() {
  static std::once_flag once;
  std::call_once(once, RegisterWsock32);
}

}  // namespace platform::ws
