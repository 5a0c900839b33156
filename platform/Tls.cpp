#include "platform/Tls.h"

#include <openssl/err.h>

#include <climits>

#include "platform/SysUtils.h"
#include "platform/TlsTrust.h"

namespace platform::tls {

struct TSession::TImpl {
  SSL* ssl = nullptr;
  BIO* in = nullptr;   // ciphertext received, owned by ssl
  BIO* out = nullptr;  // ciphertext to send, owned by ssl
  TState state = TState::tsHandshaking;
  bool peerEnded = false;
  bool closing = false;
  bool cut = false;
  std::string refusal;  // why the certificate was refused, set during the handshake
  std::string error;

  void Fail(std::string text) {
    state = TState::tsFailed;
    error = std::move(text);
    ERR_clear_error();
  }

  // OpenSSL's reason for the last failure, read off its (per-thread) error queue.
  static std::string Reason() {
    const unsigned long code = ERR_peek_last_error();
    const char* reason = code != 0 ? ERR_reason_error_string(code) : nullptr;
    return reason != nullptr ? reason : "no reason given";
  }
};

TSession::TSession(TClientContext& context, const std::string& hostName, const TSession* resume)
    : impl_(std::make_unique<TImpl>()) {
  TImpl& s = *impl_;
  s.ssl = SSL_new(context.Impl().ctx);
  s.in = BIO_new(BIO_s_mem());
  s.out = BIO_new(BIO_s_mem());
  if (s.ssl == nullptr || s.in == nullptr || s.out == nullptr) {
    BIO_free(s.in);
    BIO_free(s.out);
    SSL_free(s.ssl);
    throw Exception("TLS cannot be set up");
  }
  SSL_set_bio(s.ssl, s.in, s.out);
  SSL_set_connect_state(s.ssl);
  ApplyTrust(s.ssl, context.Impl(), hostName, &s.refusal);
  if (resume != nullptr) {
    // The session last handed to the resumed connection: in TLS 1.3 that is its newest ticket.
    SSL_SESSION* taken = SSL_get1_session(resume->impl_->ssl);
    if (taken != nullptr) {
      SSL_set_session(s.ssl, taken);
      SSL_SESSION_free(taken);
    }
  }
}

TSession::~TSession() { SSL_free(impl_->ssl); }

void TSession::Received(const char* bytes, std::size_t count) {
  while (count > 0) {
    const int chunk = count > INT_MAX ? INT_MAX : static_cast<int>(count);
    BIO_write(impl_->in, bytes, chunk);
    bytes += chunk;
    count -= static_cast<std::size_t>(chunk);
  }
}

void TSession::PeerEnded() { impl_->peerEnded = true; }

std::size_t TSession::PendingOutput() const { return BIO_ctrl_pending(impl_->out); }

std::size_t TSession::TakeOutput(char* buffer, std::size_t capacity) {
  const int chunk = capacity > INT_MAX ? INT_MAX : static_cast<int>(capacity);
  const int taken = chunk > 0 ? BIO_read(impl_->out, buffer, chunk) : 0;
  return taken > 0 ? static_cast<std::size_t>(taken) : 0;
}

TState TSession::Advance() {
  TImpl& s = *impl_;
  if (s.state != TState::tsHandshaking) return s.state;
  ERR_clear_error();
  const int result = SSL_do_handshake(s.ssl);
  if (result == 1) {
    s.state = TState::tsOpen;
    return s.state;
  }
  const int why = SSL_get_error(s.ssl, result);
  if (why == SSL_ERROR_WANT_READ && !s.peerEnded) return s.state;
  if (!s.refusal.empty()) {
    s.Fail(s.refusal);
  } else if (why == SSL_ERROR_WANT_READ) {
    s.Fail("The server ended the connection during the TLS handshake");
  } else {
    s.Fail("The TLS handshake failed: " + TImpl::Reason());
  }
  return s.state;
}

TState TSession::State() const { return impl_->state; }

long TSession::Read(char* buffer, std::size_t capacity) {
  TImpl& s = *impl_;
  if (Advance() == TState::tsHandshaking) return kWouldBlock;
  if (s.state == TState::tsFailed) return kFailed;
  if (s.state == TState::tsClosed) return 0;
  ERR_clear_error();
  const int chunk = capacity > INT_MAX ? INT_MAX : static_cast<int>(capacity);
  const int result = SSL_read(s.ssl, buffer, chunk);
  if (result > 0) return result;
  switch (SSL_get_error(s.ssl, result)) {
    case SSL_ERROR_ZERO_RETURN:
      s.state = TState::tsClosed;
      return 0;
    case SSL_ERROR_WANT_READ:
      if (!s.peerEnded) return kWouldBlock;
      // No closing message: the peer, or someone between, cut the connection.
      s.cut = true;
      s.Fail("The server ended the connection without closing TLS: what it sent may be cut short");
      return kFailed;
    default:
      s.Fail("TLS failed: " + TImpl::Reason());
      return kFailed;
  }
}

long TSession::Write(const char* bytes, std::size_t count) {
  TImpl& s = *impl_;
  if (s.state != TState::tsOpen || s.closing) return kFailed;
  std::size_t done = 0;
  while (done < count) {
    ERR_clear_error();
    const std::size_t left = count - done;
    const int chunk = left > INT_MAX ? INT_MAX : static_cast<int>(left);
    const int result = SSL_write(s.ssl, bytes + done, chunk);
    if (result <= 0) {
      s.Fail("TLS failed: " + TImpl::Reason());
      return kFailed;
    }
    done += static_cast<std::size_t>(result);
  }
  return static_cast<long>(count);
}

void TSession::Close() {
  TImpl& s = *impl_;
  if (s.closing || (s.state != TState::tsOpen && s.state != TState::tsClosed)) return;
  s.closing = true;
  ERR_clear_error();
  SSL_shutdown(s.ssl);
  ERR_clear_error();
}

std::string TSession::ErrorText() const { return impl_->error; }

bool TSession::Cut() const { return impl_->cut; }

std::string TSession::Version() const { return impl_->state == TState::tsHandshaking ? "" : SSL_get_version(impl_->ssl); }

std::string TSession::Cipher() const {
  const char* name = SSL_get_cipher_name(impl_->ssl);
  return name != nullptr && impl_->state != TState::tsHandshaking ? name : "";
}

std::string TSession::PeerFingerprint() const { return FingerprintOf(SSL_get0_peer_certificate(impl_->ssl)); }

bool TSession::Resumed() const { return SSL_session_reused(impl_->ssl) == 1; }

}  // namespace platform::tls
