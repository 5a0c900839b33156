// Inside the TLS layer: the client configuration and the check of a server's certificate.
#pragma once

#include <openssl/ssl.h>

#include <string>

#include "platform/Tls.h"

namespace platform::tls {

struct TClientContext::TImpl {
  SSL_CTX* ctx = nullptr;
  std::string fingerprint;  // normal form; empty when the trust store and the name decide
};

// The SHA-256 fingerprint of a certificate, lower-case hex.
std::string FingerprintOf(const X509* certificate);

// Makes a connection check the server as the context says: the host name (unless a fingerprint
// decides) and the certificate, noting in *refusal why a certificate was refused.
void ApplyTrust(SSL* ssl, const TClientContext::TImpl& context, const std::string& hostName, std::string* refusal);

}  // namespace platform::tls
