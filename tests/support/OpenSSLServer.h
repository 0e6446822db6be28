// TLS servers of other makers started by a test: "openssl s_server" on
// 127.0.0.1 with a port the system picks, and "gnutls-serv" on both loopback
// addresses. Their output (both streams) goes to a log the test can read.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/ServerProcess.h"

namespace vto::testing {

class OpenSSLServer {
 public:
  // arguments after "s_server -accept 127.0.0.1:0", e.g. {"-cert", c, "-key", k, "-tls1_2"}.
  OpenSSLServer(const std::vector<std::string>& arguments, const std::string& logFile);
  ~OpenSSLServer();
  OpenSSLServer(const OpenSSLServer&) = delete;
  OpenSSLServer& operator=(const OpenSSLServer&) = delete;

  std::uint16_t Port() const { return port_; }
  std::string Output() const;
  // Waits up to the time given for text to appear in the output.
  bool WaitForOutput(const std::string& text, int milliseconds) const;

 private:
  std::unique_ptr<ServerProcess> process_;
  std::string logFile_;
  std::uint16_t port_ = 0;
};

class GnuTLSServer {
 public:
  // arguments after "gnutls-serv -p PORT", e.g. {"--http", "--x509certfile=...", ...}.
  GnuTLSServer(const std::vector<std::string>& arguments, const std::string& logFile);
  ~GnuTLSServer();
  GnuTLSServer(const GnuTLSServer&) = delete;
  GnuTLSServer& operator=(const GnuTLSServer&) = delete;

  std::uint16_t Port() const { return port_; }
  std::string Output() const;

 private:
  std::unique_ptr<ServerProcess> process_;
  std::string logFile_;
  std::uint16_t port_ = 0;
};

// The server name found in s_server's "-tlsextdebug" dump of the client's
// server name extension, or empty.
std::string ServerNameFromExtensionDump(const std::string& output);

}  // namespace vto::testing
