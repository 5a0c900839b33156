// Internal to the socket library: the asynchronous selection state machine that the socket calls
// keep informed. Every function is a no-op for a socket that is not selected.
#pragma once

#include "platform/WinSock.h"

namespace platform::ws::async {

// Selected sockets never block, as the library does. Sets the flag only where it is missing (one
// system call saved per selection); false when s is not an open descriptor or keeps blocking.
bool MakeNonBlocking(SOCKET s);
void Select(SOCKET s, HWND hwnd, UINT msg, long events);  // s is non-blocking already
void Cancel(SOCKET s);
void OnReceive(SOCKET s);                   // re-enables FD_READ
void OnReadPending(SOCKET s);               // FD_READ at once: a layer above the descriptor holds bytes
void OnSendBlocked(SOCKET s);               // FD_WRITE once room returns
void OnConnectStarted(SOCKET s, bool done);  // done: the connect completed at once
void OnListen(SOCKET s);
void OnAccept(SOCKET listener, SOCKET accepted);  // re-enables FD_ACCEPT, selects the new socket alike
void OnClose(SOCKET s);                     // forgets the socket and purges its queued notices

}  // namespace platform::ws::async
