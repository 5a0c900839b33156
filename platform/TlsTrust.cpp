#include "platform/TlsTrust.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/x509v3.h>

#include <cctype>

#include "platform/SysUtils.h"

namespace platform::tls {
namespace {

// Where a connection keeps what its certificate check needs: the verification callback only gets
// the SSL object.
struct TCheck {
  const TClientContext::TImpl* context;
  std::string hostName;
  std::string* refusal;
};

int CheckIndex() {
  static const int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr,
                                                [](void*, void* check, CRYPTO_EX_DATA*, int, long, void*) {
                                                  delete static_cast<TCheck*>(check);
                                                });
  return index;
}

std::string TextForVerifyError(long code, const std::string& hostName) {
  switch (code) {
    case X509_V_ERR_CERT_HAS_EXPIRED:
      return "The server's certificate has expired";
    case X509_V_ERR_CERT_NOT_YET_VALID:
      return "The server's certificate is not valid yet";
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
      return "The server's certificate is not made out to " + hostName;
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_CERT_UNTRUSTED:
      return "The server's certificate is not signed by a trusted issuer";
    default:
      return std::string("The server's certificate is refused: ") + X509_verify_cert_error_string(code);
  }
}

int VerifyPeer(int chainOk, X509_STORE_CTX* store) {
  auto* ssl = static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
  const auto* check = static_cast<const TCheck*>(SSL_get_ex_data(ssl, CheckIndex()));
  if (check == nullptr) return 0;
  if (!check->context->fingerprint.empty()) {
    // A trusted fingerprint decides alone: the issuers above the server's own certificate, its
    // name and its dates do not count.
    if (X509_STORE_CTX_get_error_depth(store) != 0) return 1;
    if (FingerprintOf(X509_STORE_CTX_get_current_cert(store)) == check->context->fingerprint) return 1;
    *check->refusal = "The server's certificate does not match the trusted fingerprint";
    return 0;
  }
  if (chainOk) return 1;
  if (check->refusal->empty()) *check->refusal = TextForVerifyError(X509_STORE_CTX_get_error(store), check->hostName);
  return 0;
}

bool IsAddress(const std::string& host) {
  unsigned char address[16];
  return inet_pton(AF_INET, host.c_str(), address) == 1 || inet_pton(AF_INET6, host.c_str(), address) == 1;
}

}  // namespace

std::string NormalFingerprint(const std::string& text) {
  std::string hex;
  for (char c : text) {
    if (c == ':') continue;
    if (!std::isxdigit(static_cast<unsigned char>(c))) return "";
    hex += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return hex.size() == 64 ? hex : "";
}

std::string FingerprintOf(const X509* certificate) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (certificate == nullptr || X509_digest(certificate, EVP_sha256(), digest, &length) != 1) return "";
  static const char kHex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned int i = 0; i < length; ++i) {
    hex += kHex[digest[i] >> 4];
    hex += kHex[digest[i] & 15];
  }
  return hex;
}

TClientContext::TClientContext(const TTrust& trust) : impl_(std::make_unique<TImpl>()) {
  if (!trust.fingerprint.empty()) {
    impl_->fingerprint = NormalFingerprint(trust.fingerprint);
    if (impl_->fingerprint.empty()) throw Exception("\"" + trust.fingerprint + "\" is not a SHA-256 fingerprint");
  }
  impl_->ctx = SSL_CTX_new(TLS_client_method());
  if (impl_->ctx == nullptr) throw Exception("TLS cannot be set up");
  SSL_CTX_set_min_proto_version(impl_->ctx, TLS1_2_VERSION);
  SSL_CTX_set_verify(impl_->ctx, SSL_VERIFY_PEER, VerifyPeer);
  if (!impl_->fingerprint.empty()) return;  // the fingerprint alone decides: no store to read
  ERR_clear_error();
  const bool loaded = !trust.caFile.empty()
                          ? SSL_CTX_load_verify_locations(impl_->ctx, trust.caFile.c_str(), nullptr) == 1
                          : SSL_CTX_set_default_verify_paths(impl_->ctx) == 1;
  ERR_clear_error();
  if (!loaded) {
    SSL_CTX_free(impl_->ctx);
    throw Exception(trust.caFile.empty() ? "The system's trusted certificates cannot be read"
                                         : "The certificate file \"" + trust.caFile + "\" cannot be read");
  }
}

TClientContext::~TClientContext() { SSL_CTX_free(impl_->ctx); }

void ApplyTrust(SSL* ssl, const TClientContext::TImpl& context, const std::string& hostName, std::string* refusal) {
  SSL_set_ex_data(ssl, CheckIndex(), new TCheck{&context, hostName, refusal});
  if (!IsAddress(hostName)) SSL_set_tlsext_host_name(ssl, hostName.c_str());
  if (!context.fingerprint.empty()) return;
  if (IsAddress(hostName)) {
    X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), hostName.c_str());
  } else {
    SSL_set1_host(ssl, hostName.c_str());
  }
}

}  // namespace platform::tls
