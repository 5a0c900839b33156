// TLS for a connection whose bytes the caller moves (OpenSSL over memory buffers). The TLS layer
// never touches a descriptor and never blocks, so a socket keeps its own notification rules: the
// caller hands every received byte to Received(), sends what TakeOutput() gives, and reads and
// writes the plain text through Read() and Write().
//
// A client trusts, by default, the system's trust store and checks the certificate against the
// host name it connected to. A file of trusted certificates replaces the store (the name is still
// checked); a certificate's SHA-256 fingerprint trusts that one certificate as it is, whatever its
// issuer, name or dates (a vendor's own server with a self-made certificate).
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace platform::tls {

struct TTrust {
  std::string caFile;       // PEM file of trusted certificates instead of the system's store
  std::string fingerprint;  // SHA-256 of the server's certificate: 64 hex digits, colons allowed
};

// The fingerprint in its one stored form (lower-case hex, no colons), or "" when it is not one.
std::string NormalFingerprint(const std::string& text);

// One client configuration, shared by the connections of one log-on (control and data).
class TClientContext {
 public:
  // Throws platform::Exception when the certificate file cannot be read or the fingerprint is
  // not a SHA-256 fingerprint.
  explicit TClientContext(const TTrust& trust);
  ~TClientContext();
  TClientContext(const TClientContext&) = delete;
  TClientContext& operator=(const TClientContext&) = delete;

  struct TImpl;
  TImpl& Impl() { return *impl_; }

 private:
  std::unique_ptr<TImpl> impl_;
};

enum class TState { tsHandshaking, tsOpen, tsClosed, tsFailed };

// What Read() and Write() return besides a count.
constexpr long kWouldBlock = -1;  // more received bytes are needed
constexpr long kFailed = -2;      // the connection failed: ErrorText() says why

class TSession {
 public:
  // hostName: the name or address the user connected to. resume: an open session to the same
  // server whose TLS session this one takes up (a data connection reusing its control
  // connection's; servers may insist on it).
  TSession(TClientContext& context, const std::string& hostName, const TSession* resume = nullptr);
  ~TSession();
  TSession(const TSession&) = delete;
  TSession& operator=(const TSession&) = delete;

  // Ciphertext from the peer, and the end of it (the socket was closed or reset).
  void Received(const char* bytes, std::size_t count);
  void PeerEnded();
  // Ciphertext to send, taken out of the session.
  std::size_t PendingOutput() const;
  std::size_t TakeOutput(char* buffer, std::size_t capacity);

  // Runs the handshake as far as the bytes received allow.
  TState Advance();
  TState State() const;

  // Plain text received: a count, 0 once the peer closed TLS properly, kWouldBlock or kFailed.
  // A peer whose connection ends without closing TLS fails: what came may be cut short.
  long Read(char* buffer, std::size_t capacity);
  // Plain text to send: the count taken (all of it), or kFailed when the session is not open.
  long Write(const char* bytes, std::size_t count);
  // Queues TLS's own closing message; nothing can be written afterwards.
  void Close();

  std::string ErrorText() const;
  bool Cut() const;  // it failed only because the connection ended without TLS's closing message
  std::string Version() const;      // "TLSv1.3"
  std::string Cipher() const;
  std::string PeerFingerprint() const;
  bool Resumed() const;  // the handshake took up the session given as resume

  struct TImpl;

 private:
  std::unique_ptr<TImpl> impl_;
};

}  // namespace platform::tls
