#include "tests/support/TestCertificates.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>
#if defined(_WIN32)
#include <random>
#endif

namespace vto::testing {

TempFolder::TempFolder() {
#if defined(_WIN32)
  // No mkdtemp: a random name, taken only when the folder did not exist.
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  std::random_device random;
  for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
    char name[32];
    std::snprintf(name, sizeof name, "vto-net-%08x", static_cast<unsigned>(random()));
    std::error_code ec;
    if (std::filesystem::create_directory(base / name, ec)) path_ = (base / name).string();
  }
  if (path_.empty()) throw std::runtime_error("no temporary folder");
#else
  std::string base = std::filesystem::temp_directory_path().string() + "/vto-net-XXXXXX";
  if (mkdtemp(base.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = base;
#endif
}

TempFolder::~TempFolder() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

namespace {

struct FileCloser {
  void operator()(FILE* f) const {
    if (f != nullptr) std::fclose(f);
  }
};

}  // namespace

CertificateFiles MakeSelfSignedCertificate(const std::string& folder, const std::string& name,
                                           const std::string& commonName,
                                           CertificateValidity validity) {
  std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(EVP_EC_gen("P-256"), EVP_PKEY_free);
  if (!key) throw std::runtime_error("key generation failed");
  std::unique_ptr<X509, decltype(&X509_free)> cert(X509_new(), X509_free);
  if (!cert) throw std::runtime_error("X509_new failed");
  X509_set_version(cert.get(), 2);
  ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), 1);
  const long day = 24L * 60 * 60;
  if (validity == CertificateValidity::Current) {
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -day);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 30 * day);
  } else {
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -30 * day);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), -2 * day);
  }
  X509_NAME* subject = X509_get_subject_name(cert.get());
  X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1, 0);
  X509_set_issuer_name(cert.get(), subject);
  X509_set_pubkey(cert.get(), key.get());
  if (X509_sign(cert.get(), key.get(), EVP_sha256()) == 0) {
    throw std::runtime_error("X509_sign failed");
  }
  CertificateFiles files{folder + "/" + name + ".crt", folder + "/" + name + ".key"};
  std::unique_ptr<FILE, FileCloser> certOut(std::fopen(files.certFile.c_str(), "w"));
  std::unique_ptr<FILE, FileCloser> keyOut(std::fopen(files.keyFile.c_str(), "w"));
  if (!certOut || !keyOut) throw std::runtime_error("cannot write certificate files");
  if (PEM_write_X509(certOut.get(), cert.get()) != 1 ||
      PEM_write_PrivateKey(keyOut.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1) {
    throw std::runtime_error("PEM write failed");
  }
  return files;
}

}  // namespace vto::testing
