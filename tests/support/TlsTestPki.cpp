#include "tests/support/TlsTestPki.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <vector>

namespace testtls {
namespace {

void Require(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string("test certificates: ") + what);
}

EVP_PKEY* NewKey() {
  EVP_PKEY* key = EVP_EC_gen("P-256");
  Require(key != nullptr, "key");
  return key;
}

void AddExtension(X509* certificate, X509* issuer, int nid, const std::string& value) {
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, issuer, certificate, nullptr, nullptr, 0);
  X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.c_str());
  Require(extension != nullptr, "extension");
  X509_add_ext(certificate, extension, -1);
  X509_EXTENSION_free(extension);
}

X509* NewCertificate(EVP_PKEY* key, const std::string& commonName, long fromDays, long toDays) {
  static long serial = 1;
  X509* certificate = X509_new();
  X509_set_version(certificate, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(certificate), serial++);
  X509_gmtime_adj(X509_getm_notBefore(certificate), fromDays * 86400);
  X509_gmtime_adj(X509_getm_notAfter(certificate), toDays * 86400);
  X509_set_pubkey(certificate, key);
  X509_NAME* name = X509_get_subject_name(certificate);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(commonName.c_str()), -1,
                             -1, 0);
  return certificate;
}

std::string Pem(X509* certificate) {
  BIO* bio = BIO_new(BIO_s_mem());
  PEM_write_bio_X509(bio, certificate);
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio, &data);
  std::string text(data, static_cast<std::size_t>(size));
  BIO_free(bio);
  return text;
}

std::string Pem(EVP_PKEY* key) {
  BIO* bio = BIO_new(BIO_s_mem());
  PEM_write_bio_PrivateKey(bio, key, nullptr, nullptr, 0, nullptr, nullptr);
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio, &data);
  std::string text(data, static_cast<std::size_t>(size));
  BIO_free(bio);
  return text;
}

X509* ReadCertificate(const std::string& pem) {
  BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
  X509* certificate = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
  BIO_free(bio);
  Require(certificate != nullptr, "certificate PEM");
  return certificate;
}

EVP_PKEY* ReadKey(const std::string& pem) {
  BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
  EVP_PKEY* key = PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr);
  BIO_free(bio);
  Require(key != nullptr, "key PEM");
  return key;
}

}  // namespace

TAuthority::TAuthority(const std::string& commonName) : key_(NewKey()) {
  certificate_ = NewCertificate(key_, commonName, -1, 3650);
  X509_set_issuer_name(certificate_, X509_get_subject_name(certificate_));
  AddExtension(certificate_, certificate_, NID_basic_constraints, "critical,CA:TRUE");
  AddExtension(certificate_, certificate_, NID_key_usage, "critical,keyCertSign,cRLSign");
  AddExtension(certificate_, certificate_, NID_subject_key_identifier, "hash");
  Require(X509_sign(certificate_, key_, EVP_sha256()) > 0, "sign authority");
  pem_ = Pem(certificate_);
}

TAuthority::~TAuthority() {
  X509_free(certificate_);
  EVP_PKEY_free(key_);
}

TIdentity TAuthority::Issue(const std::string& altNames, long fromDays, long toDays) const {
  EVP_PKEY* key = NewKey();
  X509* certificate = NewCertificate(key, "quillstage test server", fromDays, toDays);
  X509_set_issuer_name(certificate, X509_get_subject_name(certificate_));
  AddExtension(certificate, certificate_, NID_basic_constraints, "critical,CA:FALSE");
  AddExtension(certificate, certificate_, NID_ext_key_usage, "serverAuth");
  AddExtension(certificate, certificate_, NID_authority_key_identifier, "keyid");
  AddExtension(certificate, certificate_, NID_subject_alt_name, altNames);
  Require(X509_sign(certificate, key_, EVP_sha256()) > 0, "sign server");
  TIdentity identity{Pem(certificate), Pem(key)};
  X509_free(certificate);
  EVP_PKEY_free(key);
  return identity;
}

std::string PrintedFingerprint(const std::string& certificatePem) {
  X509* certificate = ReadCertificate(certificatePem);
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  X509_digest(certificate, EVP_sha256(), digest, &length);
  X509_free(certificate);
  std::string text;
  for (unsigned int i = 0; i < length; ++i) {
    char pair[4];
    std::snprintf(pair, sizeof pair, i == 0 ? "%02X" : ":%02X", digest[i]);
    text += pair;
  }
  return text;
}

std::string WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

TMemoryServer::TMemoryServer(const TIdentity& identity) : ctx_(SSL_CTX_new(TLS_server_method())) {
  X509* certificate = ReadCertificate(identity.certificatePem);
  EVP_PKEY* key = ReadKey(identity.keyPem);
  Require(SSL_CTX_use_certificate(ctx_, certificate) == 1 && SSL_CTX_use_PrivateKey(ctx_, key) == 1, "server identity");
  X509_free(certificate);
  EVP_PKEY_free(key);
  static const unsigned char kContext[] = "quillstage tests";
  SSL_CTX_set_session_id_context(ctx_, kContext, sizeof kContext - 1);
  NewConnection();
}

TMemoryServer::~TMemoryServer() {
  SSL_free(ssl_);
  SSL_CTX_free(ctx_);
}

void TMemoryServer::NewConnection() {
  SSL_free(ssl_);
  ssl_ = SSL_new(ctx_);
  SSL_set_bio(ssl_, BIO_new(BIO_s_mem()), BIO_new(BIO_s_mem()));
  SSL_set_accept_state(ssl_);
}

void TMemoryServer::Received(const char* bytes, std::size_t count) {
  BIO_write(SSL_get_rbio(ssl_), bytes, static_cast<int>(count));
}

std::size_t TMemoryServer::TakeOutput(char* buffer, std::size_t capacity) {
  const int taken = BIO_read(SSL_get_wbio(ssl_), buffer, static_cast<int>(capacity));
  return taken > 0 ? static_cast<std::size_t>(taken) : 0;
}

bool TMemoryServer::Handshake() {
  ERR_clear_error();
  const bool done = SSL_do_handshake(ssl_) == 1;
  ERR_clear_error();
  return done;
}

std::string TMemoryServer::ReadAll() {
  std::string text;
  char buffer[16384];
  for (int n; (n = SSL_read(ssl_, buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<std::size_t>(n));
  ERR_clear_error();
  return text;
}

void TMemoryServer::Write(const std::string& text) {
  Require(SSL_write(ssl_, text.data(), static_cast<int>(text.size())) == static_cast<int>(text.size()), "server write");
}

void TMemoryServer::Close() { SSL_shutdown(ssl_); }

bool TMemoryServer::Resumed() const { return SSL_session_reused(ssl_) == 1; }

void Pump(platform::tls::TSession& client, TMemoryServer& server) {
  std::vector<char> buffer(1 << 16);
  for (bool moved = true; moved;) {
    moved = false;
    client.Advance();
    for (std::size_t n; (n = client.TakeOutput(buffer.data(), buffer.size())) > 0; moved = true) {
      server.Received(buffer.data(), n);
    }
    server.Handshake();
    for (std::size_t n; (n = server.TakeOutput(buffer.data(), buffer.size())) > 0; moved = true) {
      client.Received(buffer.data(), n);
    }
  }
}

}  // namespace testtls
