#include "tests/support/ScriptedServer.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#if !defined(_WIN32)
#include <pthread.h>
#include <signal.h>
#endif

#include <chrono>
#include <cstring>
#include <stdexcept>

#include "tests/support/TestSocket.h"

namespace vto::testing {

namespace {

struct StepFailed : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// One accepted connection, plain or TLS.
class Connection {
 public:
  Connection(sock::Fd fd, SSL* ssl) : fd_(fd), ssl_(ssl) {}
  ~Connection() {
    if (ssl_ != nullptr) SSL_free(ssl_);
    sock::CloseFd(fd_);
  }

  void StartTls(SSL* ssl) {
    ssl_ = ssl;
    SSL_set_fd(ssl_, static_cast<int>(fd_));
  }

  void SendRaw(const std::string& bytes) {
    if (sock::SendSome(fd_, bytes.data(), bytes.size()) != static_cast<int>(bytes.size())) {
      throw StepFailed("raw send failed");
    }
  }

  void SendAll(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
      int n;
      if (ssl_ != nullptr) {
        n = SSL_write(ssl_, bytes.data() + done, static_cast<int>(bytes.size() - done));
      } else {
        n = sock::SendSome(fd_, bytes.data() + done, bytes.size() - done);
      }
      if (n <= 0) throw StepFailed("send failed");
      done += static_cast<std::size_t>(n);
    }
  }

  // Bytes received, or 0 when the peer ended the connection.
  int ReceiveSome(char* buffer, int size) {
    if (ssl_ != nullptr) {
      int n = SSL_read(ssl_, buffer, size);
      if (n > 0) return n;
      int e = SSL_get_error(ssl_, n);
      if (e == SSL_ERROR_ZERO_RETURN || e == SSL_ERROR_SYSCALL) return 0;
      if (e == SSL_ERROR_SSL) return 0;  // broken off by the peer
      throw StepFailed("TLS receive failed");
    }
    const int n = sock::ReceiveSome(fd_, buffer, static_cast<std::size_t>(size));
    if (n < 0) {
      if (sock::IsReset(sock::LastError())) return 0;
      throw StepFailed("receive failed or timed out");
    }
    return n;
  }

  void Close(bool notify) {
    if (ssl_ != nullptr && notify) SSL_shutdown(ssl_);
    sock::ShutdownSend(fd_);
    // Let the client's last bytes arrive, so the close is not turned into a
    // reset by unread data.
    char sink[4096];
    for (int i = 0; i < 50 && sock::WaitReadable(fd_, 20) > 0; ++i) {
      if (sock::ReceiveSome(fd_, sink, sizeof sink) <= 0) break;
    }
    sock::CloseFd(fd_);
    fd_ = sock::kNone;
  }

  void Reset() {
    sock::AbortiveClose(fd_);
    fd_ = sock::kNone;
  }

  bool open() const { return fd_ != sock::kNone; }
  SSL* ssl() const { return ssl_; }

 private:
  sock::Fd fd_;
  SSL* ssl_;
};

}  // namespace

ScriptedServer::ScriptedServer() : ScriptedServer(Options{}) {}

ScriptedServer::ScriptedServer(Options options) : options_(std::move(options)) {
  scripts_.emplace_back();
  listener_ = sock::Open(options_.ipv6 ? AF_INET6 : AF_INET);
  if (listener_ == sock::kNone) throw std::runtime_error("socket failed");
#if !defined(_WIN32)
  // (On Windows the option would let another socket take the same port.)
  sock::SetReuse(listener_);
#endif
  sockaddr_storage storage{};
  const socklen_t length = sock::LoopbackAddress(options_.ipv6, 0, storage);
  if (::bind(listener_, reinterpret_cast<sockaddr*>(&storage), length) != 0 ||
      ::listen(listener_, 8) != 0) {
    sock::CloseFd(listener_);
    throw std::runtime_error("bind/listen failed");
  }
  port_ = sock::BoundPort(listener_);
  if (options_.tls) {
    SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
    if (ctx == nullptr || SSL_CTX_use_certificate_chain_file(ctx, options_.certFile.c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(ctx, options_.keyFile.c_str(), SSL_FILETYPE_PEM) != 1) {
      if (ctx != nullptr) SSL_CTX_free(ctx);
      sock::CloseFd(listener_);
      throw std::runtime_error("TLS server context failed");
    }
    if (options_.tlsMinVersion != 0) SSL_CTX_set_min_proto_version(ctx, options_.tlsMinVersion);
    if (options_.tlsMaxVersion != 0) SSL_CTX_set_max_proto_version(ctx, options_.tlsMaxVersion);
    context_ = ctx;
  }
}

ScriptedServer::~ScriptedServer() {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    stopping_ = true;
  }
  released_.notify_all();
  if (thread_.joinable()) thread_.join();
  sock::CloseFd(listener_);
  if (context_ != nullptr) SSL_CTX_free(static_cast<SSL_CTX*>(context_));
}

ScriptedServer& ScriptedServer::Add(Step step) {
  scripts_.back().steps.push_back(std::move(step));
  return *this;
}

ScriptedServer& ScriptedServer::Send(std::string bytes) {
  return Add({Step::kSend, std::move(bytes), 0});
}
ScriptedServer& ScriptedServer::SendRaw(std::string bytes) {
  return Add({Step::kSendRaw, std::move(bytes), 0});
}
ScriptedServer& ScriptedServer::StartTls() {
  return Add({Step::kStartTls, {}, 0});
}
ScriptedServer& ScriptedServer::Expect(std::size_t count) {
  return Add({Step::kExpect, {}, count});
}
ScriptedServer& ScriptedServer::ExpectUntil(std::string marker) {
  return Add({Step::kExpectUntil, std::move(marker), 0});
}
ScriptedServer& ScriptedServer::ExpectEnd() {
  return Add({Step::kExpectEnd, {}, 0});
}
ScriptedServer& ScriptedServer::Pause(int milliseconds) {
  return Add({Step::kPause, {}, static_cast<std::size_t>(milliseconds)});
}
ScriptedServer& ScriptedServer::Stall() {
  return Add({Step::kStall, {}, 0});
}
ScriptedServer& ScriptedServer::Close() {
  return Add({Step::kClose, {}, 0});
}
ScriptedServer& ScriptedServer::CloseWithoutNotify() {
  return Add({Step::kCloseNoNotify, {}, 0});
}
ScriptedServer& ScriptedServer::Reset() {
  return Add({Step::kReset, {}, 0});
}
ScriptedServer& ScriptedServer::NoHandshake() {
  scripts_.back().handshake = false;
  return *this;
}
ScriptedServer& ScriptedServer::NextConnection() {
  scripts_.emplace_back();
  return *this;
}

void ScriptedServer::Start() {
  thread_ = std::thread([this] { Run(); });
}

void ScriptedServer::Release() {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    ++releases_;
  }
  released_.notify_all();
}

void ScriptedServer::Join() {
  if (thread_.joinable()) thread_.join();
}

std::string ScriptedServer::Received() {
  std::lock_guard<std::mutex> guard(mutex_);
  return received_;
}
std::string ScriptedServer::ServerName() {
  std::lock_guard<std::mutex> guard(mutex_);
  return serverName_;
}
std::string ScriptedServer::Protocol() {
  std::lock_guard<std::mutex> guard(mutex_);
  return protocol_;
}
std::string ScriptedServer::Error() {
  std::lock_guard<std::mutex> guard(mutex_);
  return error_;
}

void ScriptedServer::Fail(const std::string& message) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (error_.empty()) error_ = message;
}

void ScriptedServer::Run() {
  // A write to a client that has gone raises SIGPIPE in this thread only, and
  // here it stays blocked: the client side is what the tests watch.
#if !defined(_WIN32)
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
#endif
  for (const Script& script : scripts_) {
    // Wait for the client, but not for ever.
    int waited = 0;
    int ready = 0;
    while (waited < options_.ioTimeoutMs) {
      {
        std::lock_guard<std::mutex> guard(mutex_);
        if (stopping_) return;
      }
      ready = sock::WaitReadable(listener_, 50);
      if (ready > 0) break;
      waited += 50;
    }
    if (ready <= 0) {
      Fail("no connection arrived");
      return;
    }
    const sock::Fd fd = sock::Accept(listener_);
    if (fd == sock::kNone) {
      Fail("accept failed");
      return;
    }
    sock::SetTimeouts(fd, options_.ioTimeoutMs);
    PlayConnection(fd, script);
  }
}

void ScriptedServer::PlayConnection(std::intptr_t fd, const Script& script) {
  SSL* ssl = nullptr;
  if (options_.tls && script.handshake) {
    ssl = SSL_new(static_cast<SSL_CTX*>(context_));
    SSL_set_fd(ssl, static_cast<int>(fd));
  }
  Connection connection(fd, ssl);
  std::string here;  // bytes of this connection
  auto keep = [&](const char* data, int n) {
    here.append(data, static_cast<std::size_t>(n));
    std::lock_guard<std::mutex> guard(mutex_);
    received_.append(data, static_cast<std::size_t>(n));
  };
  auto handshake = [&](SSL* session) {
    if (SSL_accept(session) != 1) throw StepFailed("TLS handshake failed");
    const char* name = SSL_get_servername(session, TLSEXT_NAMETYPE_host_name);
    std::lock_guard<std::mutex> guard(mutex_);
    serverName_ = name != nullptr ? name : "";
    protocol_ = SSL_get_version(session);
  };
  try {
    if (ssl != nullptr) handshake(ssl);
    char buffer[65536];
    for (const Step& step : script.steps) {
      switch (step.kind) {
        case Step::kSend:
          connection.SendAll(step.bytes);
          break;
        case Step::kSendRaw:
          connection.SendRaw(step.bytes);
          break;
        case Step::kStartTls:
          if (context_ == nullptr || connection.ssl() != nullptr) {
            throw StepFailed("StartTls needs a TLS server and a plain connection");
          }
          connection.StartTls(SSL_new(static_cast<SSL_CTX*>(context_)));
          handshake(connection.ssl());
          break;
        case Step::kExpect: {
          std::size_t want = step.count;
          while (want > 0) {
            int n = connection.ReceiveSome(
                buffer, static_cast<int>(std::min<std::size_t>(want, sizeof buffer)));
            if (n <= 0) throw StepFailed("connection ended before the expected bytes");
            keep(buffer, n);
            want -= static_cast<std::size_t>(n);
          }
          break;
        }
        case Step::kExpectUntil:
          while (here.size() < step.bytes.size() ||
                 here.compare(here.size() - step.bytes.size(), step.bytes.size(), step.bytes) !=
                     0) {
            int n = connection.ReceiveSome(buffer, 1);
            if (n <= 0) throw StepFailed("connection ended before the marker");
            keep(buffer, n);
          }
          break;
        case Step::kExpectEnd:
          while (true) {
            int n = connection.ReceiveSome(buffer, sizeof buffer);
            if (n <= 0) break;
            keep(buffer, n);
          }
          break;
        case Step::kPause:
          std::this_thread::sleep_for(std::chrono::milliseconds(step.count));
          break;
        case Step::kStall: {
          std::unique_lock<std::mutex> lock(mutex_);
          released_.wait(lock, [this] { return stopping_ || releases_ > 0; });
          if (releases_ > 0) --releases_;
          break;
        }
        case Step::kClose:
          connection.Close(true);
          break;
        case Step::kCloseNoNotify:
          connection.Close(false);
          break;
        case Step::kReset:
          connection.Reset();
          break;
      }
      if (!connection.open()) break;
    }
  } catch (const std::exception& e) {
    Fail(e.what());
  }
  ERR_clear_error();
}

}  // namespace vto::testing
