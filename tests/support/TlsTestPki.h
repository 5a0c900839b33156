// Certificates made by the tests (an authority of their own and the server certificates it signs,
// with the names and dates a case needs) and a TLS server over memory buffers to play the far end.
#pragma once

#include <openssl/ssl.h>

#include <string>

#include "platform/Tls.h"

namespace testtls {

struct TIdentity {
  std::string certificatePem;
  std::string keyPem;
};

class TAuthority {
 public:
  explicit TAuthority(const std::string& commonName);
  ~TAuthority();
  TAuthority(const TAuthority&) = delete;
  TAuthority& operator=(const TAuthority&) = delete;

  const std::string& CertificatePem() const { return pem_; }
  // A server certificate for the given subject names ("DNS:localhost,IP:127.0.0.1"), valid from
  // fromDays to toDays counted from now (negative: in the past).
  TIdentity Issue(const std::string& altNames, long fromDays, long toDays) const;

 private:
  EVP_PKEY* key_ = nullptr;
  X509* certificate_ = nullptr;
  std::string pem_;
};

// The certificate's SHA-256 fingerprint as `openssl x509 -fingerprint -sha256` prints it
// (upper-case pairs with colons).
std::string PrintedFingerprint(const std::string& certificatePem);

// Writes text to a file (for CA files and servers' certificates), returning its path.
std::string WriteFile(const std::string& path, const std::string& text);

// A TLS server over memory buffers. Connections made from one server share its session cache, so
// a client can take up an earlier session.
class TMemoryServer {
 public:
  explicit TMemoryServer(const TIdentity& identity);
  ~TMemoryServer();
  TMemoryServer(const TMemoryServer&) = delete;
  TMemoryServer& operator=(const TMemoryServer&) = delete;

  void NewConnection();  // drops the current connection (without a word) and starts a fresh one
  void Received(const char* bytes, std::size_t count);
  std::size_t TakeOutput(char* buffer, std::size_t capacity);
  bool Handshake();       // true once it is done
  std::string ReadAll();  // every plain byte that has arrived
  void Write(const std::string& text);
  void Close();           // TLS's closing message
  bool Resumed() const;

 private:
  SSL_CTX* ctx_ = nullptr;
  SSL* ssl_ = nullptr;
};

// Moves ciphertext both ways until neither side has anything to send, letting each side run its
// handshake. (A client takes the server's session tickets only when it reads.)
void Pump(platform::tls::TSession& client, TMemoryServer& server);

}  // namespace testtls
