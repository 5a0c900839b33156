// Internal to the socket library: a layer between a socket's callers and its descriptor (TLS).
// Once a filter is attached, recv and send of that socket go through it, shutdown tells it first,
// and closesocket frees it. Sockets without one pay a single relaxed load per call.
#pragma once

#include <memory>

#include "platform/WinSock.h"

namespace platform::ws::filter {

class TSocketFilter {
 public:
  virtual ~TSocketFilter() = default;
  // Winsock's conventions: a count, 0 at the end, or SOCKET_ERROR with WSASetLastError.
  virtual int Recv(SOCKET s, char* buf, int len) = 0;
  virtual int Send(SOCKET s, const char* buf, int len) = 0;
  // Called before the descriptor is shut down (how: SD_RECEIVE, SD_SEND or SD_BOTH).
  virtual void Shutdown(SOCKET s, int how) = 0;
  // Whether received bytes wait inside the filter, which the descriptor's readiness cannot show.
  virtual bool HoldsInput() const = 0;
};

// Replaces any filter the socket had.
void Attach(SOCKET s, std::shared_ptr<TSocketFilter> filter);
// The socket's filter, or nullptr; shared, so that a close from another call cannot free it
// while it works.
std::shared_ptr<TSocketFilter> Find(SOCKET s);
void Detach(SOCKET s);

}  // namespace platform::ws::filter
