// The socket library bound at run time: "WSOCK32" is loaded by name and its 46 entry points are
// looked up into one process-wide table. A missing library or entry point does not stop the
// program; the socket objects report it when they are first used.
#pragma once

#include "platform/Library.h"
#include "platform/WinSock.h"

struct TSocketFunctions {
  platform::HLIBRARY Library = 0;

  decltype(&platform::ws::accept) accept = nullptr;
  decltype(&platform::ws::bind) bind = nullptr;
  decltype(&platform::ws::closesocket) closesocket = nullptr;
  decltype(&platform::ws::connect) connect = nullptr;
  decltype(&platform::ws::getpeername) getpeername = nullptr;
  decltype(&platform::ws::getsockname) getsockname = nullptr;
  decltype(&platform::ws::getsockopt) getsockopt = nullptr;
  decltype(&platform::ws::htonl) htonl = nullptr;
  decltype(&platform::ws::htons) htons = nullptr;
  decltype(&platform::ws::inet_addr) inet_addr = nullptr;
  decltype(&platform::ws::inet_ntoa) inet_ntoa = nullptr;
  decltype(&platform::ws::ioctlsocket) ioctlsocket = nullptr;
  decltype(&platform::ws::listen) listen = nullptr;
  decltype(&platform::ws::ntohl) ntohl = nullptr;
  decltype(&platform::ws::ntohs) ntohs = nullptr;
  decltype(&platform::ws::recv) recv = nullptr;
  decltype(&platform::ws::recvfrom) recvfrom = nullptr;
  decltype(&platform::ws::select) select = nullptr;
  decltype(&platform::ws::send) send = nullptr;
  decltype(&platform::ws::sendto) sendto = nullptr;
  decltype(&platform::ws::setsockopt) setsockopt = nullptr;
  decltype(&platform::ws::shutdown) shutdown = nullptr;
  decltype(&platform::ws::socket) socket = nullptr;
  decltype(&platform::ws::gethostbyaddr) gethostbyaddr = nullptr;
  decltype(&platform::ws::gethostbyname) gethostbyname = nullptr;
  decltype(&platform::ws::gethostname) gethostname = nullptr;
  decltype(&platform::ws::getservbyport) getservbyport = nullptr;
  decltype(&platform::ws::getservbyname) getservbyname = nullptr;
  decltype(&platform::ws::getprotobynumber) getprotobynumber = nullptr;
  decltype(&platform::ws::getprotobyname) getprotobyname = nullptr;
  decltype(&platform::ws::WSAStartup) WSAStartup = nullptr;
  decltype(&platform::ws::WSACleanup) WSACleanup = nullptr;
  decltype(&platform::ws::WSASetLastError) WSASetLastError = nullptr;
  decltype(&platform::ws::WSAGetLastError) WSAGetLastError = nullptr;
  decltype(&platform::ws::WSAIsBlocking) WSAIsBlocking = nullptr;
  decltype(&platform::ws::WSAUnhookBlockingHook) WSAUnhookBlockingHook = nullptr;
  decltype(&platform::ws::WSASetBlockingHook) WSASetBlockingHook = nullptr;
  decltype(&platform::ws::WSACancelBlockingCall) WSACancelBlockingCall = nullptr;
  decltype(&platform::ws::WSAAsyncGetServByName) WSAAsyncGetServByName = nullptr;
  decltype(&platform::ws::WSAAsyncGetServByPort) WSAAsyncGetServByPort = nullptr;
  decltype(&platform::ws::WSAAsyncGetProtoByName) WSAAsyncGetProtoByName = nullptr;
  decltype(&platform::ws::WSAAsyncGetProtoByNumber) WSAAsyncGetProtoByNumber = nullptr;
  decltype(&platform::ws::WSAAsyncGetHostByName) WSAAsyncGetHostByName = nullptr;
  decltype(&platform::ws::WSAAsyncGetHostByAddr) WSAAsyncGetHostByAddr = nullptr;
  decltype(&platform::ws::WSACancelAsyncRequest) WSACancelAsyncRequest = nullptr;
  decltype(&platform::ws::WSAAsyncSelect) WSAAsyncSelect = nullptr;
};

// The process-wide table; empty until the first binding.
TSocketFunctions& SocketFunctions();

// Loads the library when the table holds none, then looks up the entry points in order. Stops at
// the first missing one (false; later slots keep what they held, the library stays loaded).
bool LoadSocketLibrary();
// Releases the library and empties the table, as at program end (tests use it to start afresh).
void ReleaseSocketLibrary();
