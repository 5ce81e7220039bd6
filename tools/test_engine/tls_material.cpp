#include "test_engine/tls_material.h"

#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509v3.h>

#include <stdexcept>

namespace hvtest {

std::string opensslErrors() {
  std::string text;
  while (unsigned long code = ERR_get_error()) {
    char buf[256];
    ERR_error_string_n(code, buf, sizeof buf);
    if (!text.empty()) text += "; ";
    text += buf;
  }
  return text.empty() ? "unknown OpenSSL error" : text;
}

namespace {

constexpr long kValiditySeconds = 7L * 24 * 3600;

[[noreturn]] void fail(const char* what) {
  throw std::runtime_error(std::string("test engine TLS: ") + what + ": " + opensslErrors());
}

EvpPkeyPtr newKey() {
  EvpPkeyPtr key(EVP_EC_gen("P-256"));
  if (!key) fail("EC key generation");
  return key;
}

void setRandomSerial(X509* cert) {
  unsigned char bytes[16];
  if (RAND_bytes(bytes, sizeof bytes) != 1) fail("serial number");
  bytes[0] &= 0x7f;  // keep it positive
  BignumPtr bn(BN_bin2bn(bytes, sizeof bytes, nullptr));
  if (!bn || !BN_to_ASN1_INTEGER(bn.get(), X509_get_serialNumber(cert))) fail("serial number");
}

void addNameEntry(X509_NAME* name, const char* field, const std::string& value) {
  if (X509_NAME_add_entry_by_txt(name, field, MBSTRING_UTF8,
                                 reinterpret_cast<const unsigned char*>(value.c_str()), -1, -1,
                                 0) != 1) {
    fail("subject name");
  }
}

void addExtension(X509* cert, X509* issuer, int nid, const char* value) {
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
  X509ExtensionPtr ext(X509V3_EXT_nconf_nid(nullptr, &ctx, nid, value));
  if (!ext || X509_add_ext(cert, ext.get(), -1) != 1) fail("certificate extension");
}

// A certificate for `key` with the given common name, not yet signed; issuer name set by caller.
X509Ptr newCertificate(EVP_PKEY* key, const std::string& commonName) {
  X509Ptr cert(X509_new());
  if (!cert || X509_set_version(cert.get(), 2) != 1) fail("certificate");
  setRandomSerial(cert.get());
  // Back-dated a little so clock skew between threads or hosts never matters.
  if (!X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600) ||
      !X509_gmtime_adj(X509_getm_notAfter(cert.get()), kValiditySeconds)) {
    fail("validity");
  }
  X509_NAME* name = X509_get_subject_name(cert.get());
  addNameEntry(name, "O", "Hypervale Test Engine");
  addNameEntry(name, "CN", commonName);
  if (X509_set_pubkey(cert.get(), key) != 1) fail("public key");
  return cert;
}

std::string toPem(X509* cert) {
  BioPtr bio(BIO_new(BIO_s_mem()));
  if (!bio || PEM_write_bio_X509(bio.get(), cert) != 1) fail("PEM encoding");
  char* data = nullptr;
  long len = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, static_cast<size_t>(len));
}

std::string randomHex(size_t bytes) {
  unsigned char raw[16];
  if (bytes > sizeof raw || RAND_bytes(raw, static_cast<int>(bytes)) != 1) fail("random");
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < bytes; ++i) {
    out += digits[raw[i] >> 4];
    out += digits[raw[i] & 0xf];
  }
  return out;
}

}  // namespace

TlsMaterial TlsMaterial::generate() {
  TlsMaterial m;
  m.caKey_ = newKey();
  // A distinct CA name per engine, so a client trusting one engine never trusts another.
  m.caCert_ = newCertificate(m.caKey_.get(), "Hypervale Test CA " + randomHex(6));
  X509* ca = m.caCert_.get();
  if (X509_set_issuer_name(ca, X509_get_subject_name(ca)) != 1) fail("issuer name");
  addExtension(ca, ca, NID_basic_constraints, "critical,CA:TRUE");
  addExtension(ca, ca, NID_key_usage, "critical,keyCertSign,cRLSign");
  addExtension(ca, ca, NID_subject_key_identifier, "hash");
  if (X509_sign(ca, m.caKey_.get(), EVP_sha256()) <= 0) fail("signing the CA");

  m.serverKey_ = newKey();
  m.serverCert_ = newCertificate(m.serverKey_.get(), "localhost");
  X509* server = m.serverCert_.get();
  if (X509_set_issuer_name(server, X509_get_subject_name(ca)) != 1) fail("issuer name");
  addExtension(server, ca, NID_basic_constraints, "critical,CA:FALSE");
  addExtension(server, ca, NID_key_usage, "critical,digitalSignature,keyAgreement");
  addExtension(server, ca, NID_ext_key_usage, "serverAuth");
  addExtension(server, ca, NID_subject_alt_name, "DNS:localhost,IP:127.0.0.1");
  addExtension(server, ca, NID_subject_key_identifier, "hash");
  addExtension(server, ca, NID_authority_key_identifier, "keyid:always");
  if (X509_sign(server, m.caKey_.get(), EVP_sha256()) <= 0) fail("signing the server certificate");

  m.caPem_ = toPem(ca);
  m.serverPem_ = toPem(server);
  return m;
}

std::string TlsMaterial::serverKeyPem() const {
  BioPtr bio(BIO_new(BIO_s_mem()));
  if (!bio || PEM_write_bio_PrivateKey(bio.get(), serverKey_.get(), nullptr, nullptr, 0, nullptr,
                                       nullptr) != 1) {
    fail("PEM encoding");
  }
  char* data = nullptr;
  const long len = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, static_cast<size_t>(len));
}

SslCtxPtr TlsMaterial::newServerContext() const {
  SslCtxPtr ctx(SSL_CTX_new(TLS_server_method()));
  if (!ctx) fail("SSL_CTX_new");
  if (SSL_CTX_set_min_proto_version(ctx.get(), TLS1_2_VERSION) != 1) fail("protocol version");
  // Clients that just close the socket are normal here; treat that as end of stream.
  SSL_CTX_set_options(ctx.get(), SSL_OP_IGNORE_UNEXPECTED_EOF | SSL_OP_NO_RENEGOTIATION);
  SSL_CTX_set_mode(ctx.get(), SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  if (SSL_CTX_use_certificate(ctx.get(), serverCert_.get()) != 1 ||
      SSL_CTX_use_PrivateKey(ctx.get(), serverKey_.get()) != 1 ||
      SSL_CTX_check_private_key(ctx.get()) != 1) {
    fail("server certificate");
  }
  return ctx;
}

}  // namespace hvtest
