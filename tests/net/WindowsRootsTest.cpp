// On Windows the trusted roots a verifying TLS handler uses are the system's
// ROOT store.
#include "desktop/WinApi.h"
// (after windows.h, before OpenSSL's headers)
#include <wincrypt.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <openssl/x509.h>

#include <memory>
#include <vector>

#include "net/IdSSLOpenSSL.h"

namespace vto {
namespace {

using X509Ptr = std::unique_ptr<X509, void (*)(X509*)>;

// Every certificate of the system's ROOT store that OpenSSL can read.
std::vector<X509Ptr> SystemRoots() {
  std::vector<X509Ptr> roots;
  HCERTSTORE store = ::CertOpenSystemStoreW(0, L"ROOT");
  if (store == nullptr) return roots;
  PCCERT_CONTEXT cert = nullptr;
  while ((cert = ::CertEnumCertificatesInStore(store, cert)) != nullptr) {
    const unsigned char* der = cert->pbCertEncoded;
    if (X509* x = d2i_X509(nullptr, &der, static_cast<long>(cert->cbCertEncoded)))
      roots.emplace_back(x, X509_free);
  }
  ::CertCloseStore(store, 0);
  return roots;
}

bool InStore(X509_STORE* store, X509* cert) {
  STACK_OF(X509_OBJECT)* objects = X509_STORE_get0_objects(store);
  for (int i = 0; objects != nullptr && i < sk_X509_OBJECT_num(objects); ++i) {
    X509* held = X509_OBJECT_get0_X509(sk_X509_OBJECT_value(objects, i));
    if (held != nullptr && X509_cmp(held, cert) == 0) return true;
  }
  return false;
}

TEST(TlsVerification, TrustedRootsAreTheSystemsRootStore) {
  const std::vector<X509Ptr> roots = SystemRoots();
  ASSERT_FALSE(roots.empty()) << "the ROOT store is empty here";
  for (bool verifying : {true, false}) {
    SCOPED_TRACE(verifying ? "with a verify mode" : "without");
    TIdSSLContext context;
    context.Method = sslvSSLv23;
    context.SSLVersions = TIdSSLVersions{sslvTLSv1_2};
    if (verifying) context.VerifyMode = TIdSSLVerifyModeSet{sslvrfPeer};
    context.BuildContext(sslCtxClient);
    X509_STORE* store = SSL_CTX_get_cert_store(context.Context());
    ASSERT_NE(store, nullptr);
    std::size_t found = 0;
    for (const X509Ptr& root : roots) found += InStore(store, root.get()) ? 1 : 0;
    // Every root of the system's store, and only when verifying.
    EXPECT_EQ(found, verifying ? roots.size() : 0u);
  }
}

}  // namespace
}  // namespace vto
