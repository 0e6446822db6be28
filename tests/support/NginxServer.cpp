#include "tests/support/NginxServer.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

#include "tests/support/LoopbackPort.h"
#include "tests/support/TestSocket.h"

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

namespace vto::testing {

namespace {

constexpr const char* kNginx = "/usr/sbin/nginx";

bool Listening(std::uint16_t port) {
  const sock::Fd fd = sock::Open(AF_INET);
  if (fd == sock::kNone) return false;
  sockaddr_storage a{};
  const socklen_t len = sock::LoopbackAddress(false, port, a);
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), len) == 0;
  sock::CloseFd(fd);
  return ok;
}

// nginx's workers run as another user: what they serve must be readable to
// them. (Files a Windows program makes under Wine already are.)
void MakeReadable(const std::string& name, bool folder) {
#if defined(_WIN32)
  (void)name;
  (void)folder;
#else
  ::chmod(name.c_str(), folder ? 0755 : 0644);
#endif
}

void WriteFile(const std::string& name, const std::string& content) {
  std::ofstream out(name, std::ios::binary);
  out << content;
  if (!out) throw std::runtime_error("cannot write " + name);
  out.close();
  MakeReadable(name, false);
}

void MakeFolder(const std::string& name) {
  std::error_code ec;
  std::filesystem::create_directory(name, ec);
  MakeReadable(name, true);
}

}  // namespace

bool NginxServer::Available() {
  return LinuxProgramExists(kNginx);
}

NginxServer::NginxServer() {
  // Files are made under the folder's own name; the configuration names
  // them as nginx, a Linux program, sees them.
  const std::string local = folder_.Path();
  MakeReadable(local, true);
  MakeFolder(local + "/www");
  MakeFolder(local + "/www/private");
  WriteFile(local + "/www/app.jnlp", kJnlpBody);
  WriteFile(local + "/www/private/app.jnlp", kJnlpBody);
  WriteFile(local + "/htpasswd", "user:{PLAIN}secret\n");
  const CertificateFiles localCert =
      MakeSelfSignedCertificate(local, "server", "localhost", CertificateValidity::Current);
  MakeReadable(localCert.keyFile, false);
  const std::string dir = LinuxPath(local);
  const std::string www = dir + "/www";
  const CertificateFiles cert{LinuxPath(localCert.certFile), LinuxPath(localCert.keyFile)};
  httpsPort_ = UnusedLoopbackPort();
  httpPort_ = UnusedLoopbackPort();
  while (httpPort_ == httpsPort_) httpPort_ = UnusedLoopbackPort();

  std::ostringstream conf;
  conf << "daemon off;\nworker_processes 1;\npid " << dir << "/nginx.pid;\n"
       << "error_log " << dir << "/error.log warn;\n"
       << "events { worker_connections 64; }\n"
       << "http {\n"
       << "  access_log off;\n"
       << "  client_body_temp_path " << dir << "/body;\n"
       << "  proxy_temp_path " << dir << "/proxy;\n"
       << "  fastcgi_temp_path " << dir << "/fastcgi;\n"
       << "  uwsgi_temp_path " << dir << "/uwsgi;\n"
       << "  scgi_temp_path " << dir << "/scgi;\n"
       << "  types { application/x-java-jnlp-file jnlp; text/html html; }\n"
       << "  default_type application/octet-stream;\n"
       << "  absolute_redirect off;\n"
       << "  sendfile on;\n"
       << "  root " << www << ";\n"
       << "  server {\n"
       << "    listen 127.0.0.1:" << httpsPort_ << " ssl;\n"
       << "    ssl_certificate " << cert.certFile << ";\n"
       << "    ssl_certificate_key " << cert.keyFile << ";\n"
       << "    location = /r1 { return 302 /r2; }\n"
       << "    location = /r2 { return 302 https://127.0.0.1:" << httpsPort_ << "/r3; }\n"
       << "    location = /r3 { return 302 http://127.0.0.1:" << httpPort_ << "/app.jnlp; }\n"
       << "    location = /setcookie {\n"
       << "      add_header Set-Cookie \"vto=ok; Path=/\";\n"
       << "      return 302 /needcookie;\n"
       << "    }\n"
       << "    location = /needcookie {\n"
       << "      if ($cookie_vto != \"ok\") { return 403; }\n"
       << "      default_type application/x-java-jnlp-file;\n"
       << "      return 200 '" << kJnlpBody << "';\n"
       << "    }\n"
       << "    location /private/ {\n"
       << "      auth_basic \"vto\";\n"
       << "      auth_basic_user_file " << dir << "/htpasswd;\n"
       << "    }\n"
       << "    location /chunked/ {\n"
       << "      alias " << www << "/;\n"
       << "      sub_filter_types *;\n"
       << "      sub_filter \"no-such-text-anywhere\" \"x\";\n"
       << "    }\n"
       << "  }\n"
       << "  server {\n"
       << "    listen 127.0.0.1:" << httpPort_ << ";\n"
       << "    location /chunked/ {\n"
       << "      alias " << www << "/;\n"
       << "      sub_filter_types *;\n"
       << "      sub_filter \"no-such-text-anywhere\" \"x\";\n"
       << "    }\n"
       << "  }\n"
       << "}\n";
  WriteFile(local + "/nginx.conf", conf.str());

  const std::string confFile = dir + "/nginx.conf";
  const std::string errorLog = dir + "/error.log";
  process_ = std::make_unique<ServerProcess>(
      std::vector<std::string>{kNginx, "-p", dir + "/", "-e", errorLog, "-c", confFile},
      local + "/error.log", true);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!(Listening(httpsPort_) && Listening(httpPort_))) {
    if (process_->Ended()) throw std::runtime_error("nginx ended at start: " + ErrorLog());
    if (std::chrono::steady_clock::now() > deadline) {
      throw std::runtime_error("nginx did not listen: " + ErrorLog());
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

NginxServer::~NginxServer() = default;

std::string NginxServer::HttpsUrl(const std::string& path) const {
  return "https://127.0.0.1:" + std::to_string(httpsPort_) + path;
}

std::string NginxServer::HttpUrl(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(httpPort_) + path;
}

void NginxServer::AddFile(const std::string& name, std::int64_t size) {
  const std::string file = folder_.Path() + "/www/" + name;
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  if (!out) throw std::runtime_error("cannot create " + file);
  // Not sparse: every byte is real, as a served file's would be.
  std::vector<char> block(1 << 20);
  for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 131 + 7);
  std::int64_t left = size;
  while (left > 0) {
    const auto n = static_cast<std::size_t>(std::min<std::int64_t>(left, block.size()));
    out.write(block.data(), static_cast<std::streamsize>(n));
    left -= static_cast<std::int64_t>(n);
  }
  out.close();
  if (!out) throw std::runtime_error("cannot write " + file);
  MakeReadable(file, false);
}

std::string NginxServer::ErrorLog() const {
  std::ifstream in(folder_.Path() + "/error.log");
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace vto::testing
