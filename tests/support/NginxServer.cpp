#include "tests/support/NginxServer.h"

#include "tests/support/LoopbackPort.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

extern char** environ;

namespace vto::testing {

namespace {

constexpr const char* kNginx = "/usr/sbin/nginx";

bool Listening(std::uint16_t port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(port);
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  ::close(fd);
  return ok;
}

void WriteFile(const std::string& name, const std::string& content) {
  std::ofstream out(name, std::ios::binary);
  out << content;
  if (!out) throw std::runtime_error("cannot write " + name);
  ::chmod(name.c_str(), 0644);
}

}  // namespace

bool NginxServer::Available() {
  return ::access(kNginx, X_OK) == 0;
}

NginxServer::NginxServer() {
  const std::string dir = folder_.Path();
  // nginx's workers run as another user: the folder must be readable to them.
  ::chmod(dir.c_str(), 0755);
  const std::string www = dir + "/www";
  ::mkdir(www.c_str(), 0755);
  ::mkdir((www + "/private").c_str(), 0755);
  WriteFile(www + "/app.jnlp", kJnlpBody);
  WriteFile(www + "/private/app.jnlp", kJnlpBody);
  WriteFile(dir + "/htpasswd", "user:{PLAIN}secret\n");
  const CertificateFiles cert =
      MakeSelfSignedCertificate(dir, "server", "localhost", CertificateValidity::Current);
  ::chmod(cert.keyFile.c_str(), 0644);
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
  WriteFile(dir + "/nginx.conf", conf.str());

  const std::string confFile = dir + "/nginx.conf";
  const std::string errorLog = dir + "/error.log";
  std::vector<std::string> args = {kNginx, "-p", dir + "/", "-e", errorLog, "-c", confFile};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, errorLog.c_str(), O_WRONLY | O_APPEND | O_CREAT,
                                   0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  const int rc = posix_spawn(&pid_, kNginx, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    pid_ = -1;
    throw std::runtime_error("nginx could not be started");
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!(Listening(httpsPort_) && Listening(httpPort_))) {
    int status;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      throw std::runtime_error("nginx ended at start: " + ErrorLog());
    }
    if (std::chrono::steady_clock::now() > deadline) {
      throw std::runtime_error("nginx did not listen: " + ErrorLog());
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

NginxServer::~NginxServer() {
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    int status;
    ::waitpid(pid_, &status, 0);
  }
}

std::string NginxServer::HttpsUrl(const std::string& path) const {
  return "https://127.0.0.1:" + std::to_string(httpsPort_) + path;
}

std::string NginxServer::HttpUrl(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(httpPort_) + path;
}

void NginxServer::AddFile(const std::string& name, std::int64_t size) {
  const std::string file = folder_.Path() + "/www/" + name;
  const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) throw std::runtime_error("cannot create " + file);
  // Not sparse: every byte is real, as a served file's would be.
  std::vector<char> block(1 << 20);
  for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 131 + 7);
  std::int64_t left = size;
  while (left > 0) {
    const auto n = static_cast<std::size_t>(std::min<std::int64_t>(left, block.size()));
    if (::write(fd, block.data(), n) != static_cast<ssize_t>(n)) {
      ::close(fd);
      throw std::runtime_error("cannot write " + file);
    }
    left -= static_cast<std::int64_t>(n);
  }
  ::close(fd);
}

std::string NginxServer::ErrorLog() const {
  std::ifstream in(folder_.Path() + "/error.log");
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace vto::testing
