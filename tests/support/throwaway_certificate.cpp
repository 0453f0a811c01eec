#include "support/throwaway_certificate.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <functional>
#include <memory>
#include <stdexcept>

namespace ferrytide::testing {

namespace {

template <typename T, void (*Free)(T*)>
struct Deleter {
  void operator()(T* value) const { Free(value); }
};
using KeyHandle = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using CertificateHandle = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using BioHandle = std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>>;

void require(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string("throw-away certificate: ") + what);
}

void addExtension(X509* certificate, int id, const char* value) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, certificate, certificate, nullptr, nullptr, 0);
  X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, id, value);
  require(extension != nullptr, "extension");
  require(X509_add_ext(certificate, extension, -1) == 1, "add extension");
  X509_EXTENSION_free(extension);
}

std::string pemOf(const std::function<int(BIO*)>& write) {
  BioHandle bio(BIO_new(BIO_s_mem()));
  require(bio && write(bio.get()) == 1, "PEM");
  char* data = nullptr;
  long length = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, static_cast<std::size_t>(length));
}

}  // namespace

MockHttpServer::TlsIdentity makeThrowawayCertificate() {
  KeyHandle key(EVP_EC_gen("P-256"));
  require(key != nullptr, "key");
  CertificateHandle certificate(X509_new());
  X509* cert = certificate.get();
  require(X509_set_version(cert, 2) == 1, "version");
  ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
  X509_gmtime_adj(X509_getm_notBefore(cert), -60);
  X509_gmtime_adj(X509_getm_notAfter(cert), 24 * 3600);
  require(X509_set_pubkey(cert, key.get()) == 1, "public key");
  X509_NAME* name = X509_get_subject_name(cert);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1, 0);
  require(X509_set_issuer_name(cert, name) == 1, "issuer");
  addExtension(cert, NID_basic_constraints, "critical,CA:TRUE");
  addExtension(cert, NID_subject_alt_name, "IP:127.0.0.1");
  require(X509_sign(cert, key.get(), EVP_sha256()) > 0, "sign");

  return {pemOf([cert](BIO* bio) { return PEM_write_bio_X509(bio, cert); }),
          pemOf([&key](BIO* bio) {
            return PEM_write_bio_PrivateKey(bio, key.get(), nullptr, nullptr, 0, nullptr, nullptr);
          })};
}

}  // namespace ferrytide::testing
