// The system's trusted roots for OpenSSL on Windows. wincrypt.h comes before
// OpenSSL's headers, which take back the names it defines as macros.
#include "desktop/WinApi.h"
// (after windows.h)
#include <wincrypt.h>

#include "net/IdSSLOpenSSLBinding.h"

namespace vto {

int LoadSystemRootCertificates(SSL_CTX* AContext) {
  X509_STORE* store = ossl::SSL_CTX_get_cert_store(AContext);
  if (store == nullptr) return 0;
  HCERTSTORE system = ::CertOpenSystemStoreW(0, L"ROOT");
  if (system == nullptr) return 0;
  int added = 0;
  PCCERT_CONTEXT cert = nullptr;
  while ((cert = ::CertEnumCertificatesInStore(system, cert)) != nullptr) {
    const unsigned char* der = cert->pbCertEncoded;
    X509* x509 = ossl::d2i_X509(nullptr, &der, static_cast<long>(cert->cbCertEncoded));
    if (x509 == nullptr) continue;  // a certificate OpenSSL cannot read is not trusted
    if (ossl::X509_STORE_add_cert(store, x509) == 1) ++added;
    ossl::X509_free(x509);
  }
  ::CertCloseStore(system, 0);
  // A certificate the store held already leaves an error behind.
  ossl::ERR_clear_error();
  return added;
}

}  // namespace vto
