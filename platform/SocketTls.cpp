#include "platform/NativeSockets.h"  // first: it removes the system's clashing macros

#include "platform/SocketTls.h"

#include <cerrno>

#include "platform/WinSockFilter.h"

namespace platform::ws {
namespace {

constexpr int kChunk = 64 * 1024;
constexpr int kSendWaitMs = 10000;

int Fail(int error) {
  WSASetLastError(error);
  return SOCKET_ERROR;
}

class TTlsFilter : public filter::TSocketFilter {
 public:
  TTlsFilter(std::shared_ptr<tls::TClientContext> context, const std::string& hostName, const tls::TSession* resume,
             TTlsWatch watch)
      : context_(std::move(context)), session_(*context_, hostName, resume), watch_(std::move(watch)) {}

  const tls::TSession& Session() const { return session_; }

  // Starts the handshake: its first message goes out at once.
  void Begin(SOCKET s) {
    session_.Advance();
    Flush(s);
  }

  int Recv(SOCKET s, char* buf, int len) override {
    more_ = false;
    int total = 0;
    for (;;) {
      const long n = total < len ? TakePlain(buf + total, len - total) : 0;
      total += static_cast<int>(n > 0 ? n : 0);
      SendHeld(s);
      if (total == len || (Over() && total > 0)) {
        more_ = true;  // a full buffer may have left some behind; an end waits to be told
        return total;
      }
      if (session_.State() == tls::TState::tsClosed || EndedByCut()) return 0;
      if (session_.State() == tls::TState::tsFailed) return Fail(kTlsFailedError);
      char chunk[kChunk];
      const ssize_t r = ::recv(static_cast<int>(s), chunk, sizeof chunk, 0);
      if (r > 0) {
        session_.Received(chunk, static_cast<std::size_t>(r));
      } else if (r == 0) {
        session_.PeerEnded();
      } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
        return total > 0 ? total : Fail(WSAEWOULDBLOCK);
      } else if (errno != EINTR) {
        const int error = errno;
        if (total > 0) return total;
        session_.PeerEnded();
        return Fail(WinsockErrorFromErrno(error));
      }
    }
  }

  int Send(SOCKET s, const char* buf, int len) override {
    switch (session_.State()) {
      case tls::TState::tsHandshaking:
        held_.append(buf, static_cast<std::size_t>(len));
        return len;
      case tls::TState::tsOpen:
        SendHeld(s);
        if (session_.Write(buf, static_cast<std::size_t>(len)) < 0) return Fail(kTlsFailedError);
        return Flush(s) ? len : Fail(WSAECONNRESET);
      case tls::TState::tsClosed:
        return Fail(WSAESHUTDOWN);
      case tls::TState::tsFailed:
        break;
    }
    return Fail(kTlsFailedError);
  }

  void Shutdown(SOCKET s, int how) override {
    if (how == SD_RECEIVE) return;
    SendHeld(s);
    session_.Close();
    Flush(s);
  }

  bool HoldsInput() const override { return more_; }

 private:
  // Plain text out of the session: a count, or 0 when none is there now.
  long TakePlain(char* buf, int len) {
    long total = 0;
    while (total < len) {
      const long n = session_.Read(buf + total, static_cast<std::size_t>(len - total));
      if (n <= 0) break;
      total += n;
    }
    return total;
  }

  bool EndedByCut() const { return watch_.cutIsEnd && session_.Cut(); }

  bool Over() const {
    return session_.State() == tls::TState::tsClosed || session_.State() == tls::TState::tsFailed;
  }

  // Tells the watcher of the handshake's end or of the failure, once each.
  void Watch() {
    const tls::TState state = session_.State();
    if (state != tls::TState::tsHandshaking && !toldOpen_ && state != tls::TState::tsFailed) {
      toldOpen_ = true;
      if (watch_.opened) watch_.opened(session_.Version(), session_.Cipher());
    }
    if (state == tls::TState::tsFailed && !toldFailed_ && !EndedByCut()) {
      toldFailed_ = true;
      if (watch_.failed) watch_.failed(session_.ErrorText());
    }
  }

  // What was sent during the handshake goes out once it has ended; TLS's own answers go always.
  void SendHeld(SOCKET s) {
    Watch();
    if (!held_.empty() && session_.State() == tls::TState::tsOpen) {
      session_.Write(held_.data(), held_.size());
      held_.clear();
    }
    if (session_.State() == tls::TState::tsFailed) held_.clear();  // never sent in clear or to a refused server
    // The peer's closing message is answered at once: some servers (vsftpd) close the connection,
    // and only then report the transfer, once the client has closed TLS too.
    if (session_.State() == tls::TState::tsClosed) session_.Close();
    Flush(s);
  }

  // Sends the session's ciphertext, waiting for room if the socket is full (a peer that reads
  // nothing for kSendWaitMs fails the send).
  bool Flush(SOCKET s) {
    char chunk[kChunk];
    for (std::size_t n; (n = session_.TakeOutput(chunk, sizeof chunk)) > 0;) {
      for (std::size_t sent = 0; sent < n;) {
        const ssize_t r = ::send(static_cast<int>(s), chunk + sent, n - sent, MSG_NOSIGNAL);
        if (r > 0) {
          sent += static_cast<std::size_t>(r);
          continue;
        }
        if (r < 0 && errno == EINTR) continue;
        pollfd ready{static_cast<int>(s), POLLOUT, 0};
        if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && ::poll(&ready, 1, kSendWaitMs) == 1) continue;
        return false;
      }
    }
    return true;
  }

  std::shared_ptr<tls::TClientContext> context_;
  tls::TSession session_;
  std::string held_;
  bool more_ = false;
  TTlsWatch watch_;
  bool toldOpen_ = false;
  bool toldFailed_ = false;
};

}  // namespace

int StartTls(SOCKET s, std::shared_ptr<tls::TClientContext> context, const std::string& hostName, SOCKET resumeFrom,
             TTlsWatch watch) {
  if (filter::Find(s) != nullptr) return Fail(WSAEINVAL);
  const auto from = resumeFrom != INVALID_SOCKET ? std::dynamic_pointer_cast<TTlsFilter>(filter::Find(resumeFrom))
                                                 : nullptr;
  auto layer =
      std::make_shared<TTlsFilter>(std::move(context), hostName, from ? &from->Session() : nullptr, std::move(watch));
  filter::Attach(s, layer);
  layer->Begin(s);
  return 0;
}

TTlsStatus TlsStatus(SOCKET s) {
  TTlsStatus status;
  const auto layer = std::dynamic_pointer_cast<TTlsFilter>(filter::Find(s));
  if (!layer) return status;
  const tls::TSession& session = layer->Session();
  status.active = true;
  status.state = session.State();
  status.version = session.Version();
  status.cipher = session.Cipher();
  status.resumed = session.Resumed();
  status.error = session.ErrorText();
  return status;
}

}  // namespace platform::ws
