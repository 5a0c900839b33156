// TLS on a connected socket of the socket library. Once started, the socket's recv and send carry
// plain text and TLS runs on the connection underneath, driven by the socket's own reads, so a
// selected socket keeps its notices: FD_READ when plain text may be read (a read may still find
// none while the handshake runs), FD_CLOSE as before. Text sent before the handshake has ended
// waits and goes out encrypted once it has; when the handshake fails, it is never sent.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/Tls.h"
#include "platform/WinSock.h"

namespace platform::ws {

// The error recv and send give once TLS failed on the connection; TlsStatus says why.
constexpr int kTlsFailedError = WSAECONNABORTED;

// Told once, from inside the recv that decided it: the handshake ended (TLS version and cipher),
// or TLS failed (why). Record only: the socket is in the middle of a call.
struct TTlsWatch {
  std::function<void(const std::string& version, const std::string& cipher)> opened;
  std::function<void(const std::string& why)> failed;
  // A connection whose own framing tells what is complete (FTP's replies) may end without TLS's
  // closing message: recv then gives 0 as for any end, and failed is not told.
  bool cutIsEnd = false;
};

// Starts TLS as a client. hostName is checked against the server's certificate; resumeFrom is a
// socket whose TLS session the new connection takes up (INVALID_SOCKET: none). 0, or SOCKET_ERROR
// with WSAEINVAL when TLS runs on the socket already.
int StartTls(SOCKET s, std::shared_ptr<tls::TClientContext> context, const std::string& hostName,
             SOCKET resumeFrom = INVALID_SOCKET, TTlsWatch watch = {});

struct TTlsStatus {
  bool active = false;  // TLS was started on the socket
  tls::TState state = tls::TState::tsHandshaking;
  std::string version;
  std::string cipher;
  bool resumed = false;
  std::string error;  // why it failed
};
TTlsStatus TlsStatus(SOCKET s);

}  // namespace platform::ws
