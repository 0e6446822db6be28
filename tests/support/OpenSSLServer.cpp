#include "tests/support/OpenSSLServer.h"

#include <cctype>
#include <chrono>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "tests/support/LoopbackPort.h"

namespace vto::testing {

namespace {

// By their full Linux names on Windows (started under Wine as Linux
// programs); found on the PATH elsewhere.
#if defined(_WIN32)
constexpr const char* kOpenSSL = "/usr/bin/openssl";
constexpr const char* kGnuTLSServ = "/usr/bin/gnutls-serv";
#else
constexpr const char* kOpenSSL = "openssl";
constexpr const char* kGnuTLSServ = "gnutls-serv";
#endif

std::string ReadLog(const std::string& logFile) {
  std::ifstream in(logFile, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

OpenSSLServer::OpenSSLServer(const std::vector<std::string>& arguments, const std::string& logFile)
    : logFile_(logFile) {
  std::vector<std::string> args = {kOpenSSL, "s_server", "-accept", "127.0.0.1:0"};
  args.insert(args.end(), arguments.begin(), arguments.end());
  process_ = std::make_unique<ServerProcess>(args, logFile_, false);
  for (int i = 0; i < 200 && port_ == 0; ++i) {
    std::string out = Output();
    std::size_t at = out.find("ACCEPT ");
    std::size_t end = at == std::string::npos ? at : out.find('\n', at);
    if (end != std::string::npos) {
      std::size_t colon = out.rfind(':', end);
      port_ = static_cast<std::uint16_t>(std::stoi(out.substr(colon + 1, end - colon - 1)));
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  if (port_ == 0) throw std::runtime_error("openssl s_server did not start: " + Output());
}

OpenSSLServer::~OpenSSLServer() = default;

std::string OpenSSLServer::Output() const {
  return ReadLog(logFile_);
}

GnuTLSServer::GnuTLSServer(const std::vector<std::string>& arguments, const std::string& logFile)
    : logFile_(logFile) {
  // It cannot report a port the system picked: take a free one and wait until
  // it listens on both families.
  const std::uint16_t port = UnusedLoopbackPort();
  std::vector<std::string> args = {kGnuTLSServ, "-p", std::to_string(port)};
  args.insert(args.end(), arguments.begin(), arguments.end());
  process_ = std::make_unique<ServerProcess>(args, logFile_, false);
  for (int i = 0; i < 200; ++i) {
    if (Output().find("listening on IPv6") != std::string::npos) {
      port_ = port;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  process_->Stop();
  throw std::runtime_error("gnutls-serv did not start: " + Output());
}

GnuTLSServer::~GnuTLSServer() = default;

std::string GnuTLSServer::Output() const {
  return ReadLog(logFile_);
}

bool OpenSSLServer::WaitForOutput(const std::string& text, int milliseconds) const {
  for (int waited = 0; waited <= milliseconds; waited += 25) {
    if (Output().find(text) != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  return false;
}

std::string ServerNameFromExtensionDump(const std::string& output) {
  std::size_t at = output.find("TLS client extension \"server name\"");
  if (at == std::string::npos) return std::string();
  // Lines "0000 - 00 11 00 00 0e 6d ...   ascii" until the next non-dump line.
  std::string bytes;
  std::istringstream lines(output.substr(output.find('\n', at) + 1));
  std::string line;
  while (std::getline(lines, line)) {
    if (line.size() < 7 || line.compare(4, 3, " - ") != 0) break;
    std::string hex = line.substr(7, 48);
    for (std::size_t i = 0; i + 1 < hex.size(); ++i) {
      if (std::isxdigit(static_cast<unsigned char>(hex[i])) &&
          std::isxdigit(static_cast<unsigned char>(hex[i + 1]))) {
        bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
        ++i;
      }
    }
  }
  // list length (2), name type (1), name length (2), name
  if (bytes.size() < 5) return std::string();
  std::size_t length =
      (static_cast<unsigned char>(bytes[3]) << 8) | static_cast<unsigned char>(bytes[4]);
  return bytes.substr(5, length);
}

}  // namespace vto::testing
