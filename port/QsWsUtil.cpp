#include "port/QsWsUtil.h"

namespace {

template <typename F>
bool Bind(platform::HLIBRARY library, const char* name, F& slot) {
  void* address = platform::GetProcAddress(library, name);
  if (address == nullptr) return false;
  slot = reinterpret_cast<F>(address);
  return true;
}

bool BindAll(TSocketFunctions& f) {
  const platform::HLIBRARY l = f.Library;
  return Bind(l, "accept", f.accept) && Bind(l, "bind", f.bind) && Bind(l, "closesocket", f.closesocket) &&
         Bind(l, "connect", f.connect) && Bind(l, "getpeername", f.getpeername) &&
         Bind(l, "getsockname", f.getsockname) && Bind(l, "getsockopt", f.getsockopt) && Bind(l, "htonl", f.htonl) &&
         Bind(l, "htons", f.htons) && Bind(l, "inet_addr", f.inet_addr) && Bind(l, "inet_ntoa", f.inet_ntoa) &&
         Bind(l, "ioctlsocket", f.ioctlsocket) && Bind(l, "listen", f.listen) && Bind(l, "ntohl", f.ntohl) &&
         Bind(l, "ntohs", f.ntohs) && Bind(l, "recv", f.recv) && Bind(l, "recvfrom", f.recvfrom) &&
         Bind(l, "select", f.select) && Bind(l, "send", f.send) && Bind(l, "sendto", f.sendto) &&
         Bind(l, "setsockopt", f.setsockopt) && Bind(l, "shutdown", f.shutdown) && Bind(l, "socket", f.socket) &&
         Bind(l, "gethostbyaddr", f.gethostbyaddr) && Bind(l, "gethostbyname", f.gethostbyname) &&
         Bind(l, "gethostname", f.gethostname) && Bind(l, "getservbyport", f.getservbyport) &&
         Bind(l, "getservbyname", f.getservbyname) && Bind(l, "getprotobynumber", f.getprotobynumber) &&
         Bind(l, "getprotobyname", f.getprotobyname) && Bind(l, "WSAStartup", f.WSAStartup) &&
         Bind(l, "WSACleanup", f.WSACleanup) && Bind(l, "WSASetLastError", f.WSASetLastError) &&
         Bind(l, "WSAGetLastError", f.WSAGetLastError) && Bind(l, "WSAIsBlocking", f.WSAIsBlocking) &&
         Bind(l, "WSAUnhookBlockingHook", f.WSAUnhookBlockingHook) &&
         Bind(l, "WSASetBlockingHook", f.WSASetBlockingHook) &&
         Bind(l, "WSACancelBlockingCall", f.WSACancelBlockingCall) &&
         Bind(l, "WSAAsyncGetServByName", f.WSAAsyncGetServByName) &&
         Bind(l, "WSAAsyncGetServByPort", f.WSAAsyncGetServByPort) &&
         Bind(l, "WSAAsyncGetProtoByName", f.WSAAsyncGetProtoByName) &&
         Bind(l, "WSAAsyncGetProtoByNumber", f.WSAAsyncGetProtoByNumber) &&
         Bind(l, "WSAAsyncGetHostByName", f.WSAAsyncGetHostByName) &&
         Bind(l, "WSAAsyncGetHostByAddr", f.WSAAsyncGetHostByAddr) &&
         Bind(l, "WSACancelAsyncRequest", f.WSACancelAsyncRequest) && Bind(l, "WSAAsyncSelect", f.WSAAsyncSelect);
}

}  // namespace

TSocketFunctions& SocketFunctions() {
  static TSocketFunctions table;
  return table;
}

bool LoadSocketLibrary() {
  TSocketFunctions& f = SocketFunctions();
  if (f.Library == 0) {
    platform::ws::EnsureWsock32Registered();
    f.Library = platform::LoadLibrary(platform::ws::kLibraryName);
    if (f.Library == 0) return false;
  }
  return BindAll(f);
}

void ReleaseSocketLibrary() {
  TSocketFunctions& f = SocketFunctions();
  if (f.Library != 0) platform::FreeLibrary(f.Library);
  f = TSocketFunctions{};
}
