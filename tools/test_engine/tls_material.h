// Certificates of the test engine: a throw-away CA and a server certificate it signs, generated in
// memory at start so tests never depend on files or on the system trust store.
#pragma once

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <memory>
#include <string>

namespace hvtest {

// One deleter for every OpenSSL object the test engine owns.
struct OsslFree {
  void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
  void operator()(X509* p) const { X509_free(p); }
  void operator()(X509_EXTENSION* p) const { X509_EXTENSION_free(p); }
  void operator()(BIO* p) const { BIO_free_all(p); }
  void operator()(SSL_CTX* p) const { SSL_CTX_free(p); }
  void operator()(BIGNUM* p) const { BN_free(p); }
};

using EvpPkeyPtr = std::unique_ptr<EVP_PKEY, OsslFree>;
using X509Ptr = std::unique_ptr<X509, OsslFree>;
using X509ExtensionPtr = std::unique_ptr<X509_EXTENSION, OsslFree>;
using BioPtr = std::unique_ptr<BIO, OsslFree>;
using SslCtxPtr = std::unique_ptr<SSL_CTX, OsslFree>;
using BignumPtr = std::unique_ptr<BIGNUM, OsslFree>;

// Text of the OpenSSL error queue (emptied), for exception messages.
std::string opensslErrors();

class TlsMaterial {
 public:
  // Generates EC P-256 keys, a self-signed CA (CA:TRUE) and a server certificate for
  // DNS:localhost and IP:127.0.0.1 signed by it. Throws std::runtime_error on failure.
  static TlsMaterial generate();

  TlsMaterial(TlsMaterial&&) noexcept = default;
  TlsMaterial& operator=(TlsMaterial&&) noexcept = default;
  TlsMaterial(const TlsMaterial&) = delete;
  TlsMaterial& operator=(const TlsMaterial&) = delete;
  ~TlsMaterial() = default;

  const std::string& caPem() const { return caPem_; }
  const std::string& serverCertPem() const { return serverPem_; }
  // The server's private key as unencrypted PEM, for another server to present the same
  // certificate.
  std::string serverKeyPem() const;

  // A fresh server context (TLS 1.2 and later) presenting the server certificate.
  SslCtxPtr newServerContext() const;

 private:
  TlsMaterial() = default;

  EvpPkeyPtr caKey_;
  X509Ptr caCert_;
  EvpPkeyPtr serverKey_;
  X509Ptr serverCert_;
  std::string caPem_;
  std::string serverPem_;
};

}  // namespace hvtest
