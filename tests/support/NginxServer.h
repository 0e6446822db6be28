// A real nginx for tests and benchmarks: a generated configuration in a fresh
// temporary folder, a self-signed certificate made at start, one https and one
// http port on 127.0.0.1 picked free, started in the foreground and stopped
// (and waited for) when the object goes.
//
// Locations served (both ports share the document folder):
//   /app.jnlp               the static JNLP file (kJnlpBody)
//   /r1 -> /r2              relative redirect (302)
//   /r2 -> https://.../r3   absolute redirect (302)
//   /r3 -> http://127.0.0.1:<http port>/app.jnlp   (302, to http on the other port)
//   /setcookie              302 to /needcookie with "Set-Cookie: vto=ok; Path=/"
//   /needcookie             403 without that cookie, else the JNLP bytes
//   /private/...            auth_basic (user "user", password "secret")
//   /missing                the 404 page
//   /big.bin                AddFile("big.bin", n) bytes, with a Content-Length
//   /chunked/big.bin        the same bytes, sent chunked
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "tests/support/ServerProcess.h"
#include "tests/support/TestCertificates.h"

namespace vto::testing {

class NginxServer {
 public:
  static constexpr const char* kJnlpBody =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
      "<jnlp spec=\"1.0+\" codebase=\"https://veltra.example/\">\n"
      "  <information><title>Veltra Online</title></information>\n"
      "</jnlp>\n";

  // Throws std::runtime_error when nginx cannot be started.
  NginxServer();
  ~NginxServer();
  NginxServer(const NginxServer&) = delete;
  NginxServer& operator=(const NginxServer&) = delete;

  std::uint16_t HttpsPort() const { return httpsPort_; }
  std::uint16_t HttpPort() const { return httpPort_; }
  std::string HttpsUrl(const std::string& path) const;
  std::string HttpUrl(const std::string& path) const;
  // Writes a file of the given size into the document folder.
  void AddFile(const std::string& name, std::int64_t size);
  const std::string& Folder() const { return folder_.Path(); }
  std::string ErrorLog() const;

  // Whether an nginx binary is there at all (tests skip without one).
  static bool Available();

 private:
  TempFolder folder_;
  std::uint16_t httpsPort_ = 0;
  std::uint16_t httpPort_ = 0;
  std::unique_ptr<ServerProcess> process_;
};

}  // namespace vto::testing
