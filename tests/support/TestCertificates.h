// Certificates made at test time: a P-256 key and a self-signed certificate,
// current or already expired, for the common name given.
#pragma once

#include <string>

namespace vto::testing {

// A fresh folder under the temporary folder, removed with everything in it.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

struct CertificateFiles {
  std::string certFile;
  std::string keyFile;
};

enum class CertificateValidity { Current, Expired };

// Writes <folder>/<name>.crt and <folder>/<name>.key; throws std::runtime_error on failure.
CertificateFiles MakeSelfSignedCertificate(const std::string& folder, const std::string& name,
                                           const std::string& commonName,
                                           CertificateValidity validity);

}  // namespace vto::testing
