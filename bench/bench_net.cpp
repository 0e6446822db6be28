// Reading a large body through the connection I/O handler's ReadStream, plain
// and over TLS (AES-GCM), against a bare recv loop and a bare SSL_read loop in
// the same run. A loopback sender thread sends the bytes and closes.
//
//   bench_net [--net_bytes=N] [benchmark flags]
//
// N defaults to 256 MiB for quick runs; the documented figure uses
// --net_bytes=1073741824 (1 GiB). At the end the ratios ReadStream / bare are
// printed (targets: at most 1.2 for both).
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "net/IdSSLOpenSSL.h"
#include "streams/Streams.h"
#include "tests/support/TestCertificates.h"

namespace {

std::int64_t gBytes = 256LL * 1024 * 1024;
std::map<std::string, double> gSeconds;  // best time per benchmark

vto::testing::TempFolder& Folder() {
  static vto::testing::TempFolder folder;
  return folder;
}

const vto::testing::CertificateFiles& Certificate() {
  static vto::testing::CertificateFiles files = vto::testing::MakeSelfSignedCertificate(
      Folder().Path(), "bench", "localhost", vto::testing::CertificateValidity::Current);
  return files;
}

// Accepts one connection and sends gBytes over it, plain or TLS, then closes.
class Sender {
 public:
  explicit Sender(bool tls) {
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(listener_, 1) != 0) {
      throw std::runtime_error("listen failed");
    }
    socklen_t len = sizeof a;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    if (tls) {
      ctx_ = SSL_CTX_new(TLS_server_method());
      SSL_CTX_use_certificate_chain_file(ctx_, Certificate().certFile.c_str());
      SSL_CTX_use_PrivateKey_file(ctx_, Certificate().keyFile.c_str(), SSL_FILETYPE_PEM);
      SSL_CTX_set_ciphersuites(ctx_, "TLS_AES_128_GCM_SHA256");
      SSL_CTX_set_cipher_list(ctx_, "ECDHE-ECDSA-AES128-GCM-SHA256");
    }
    thread_ = std::thread([this] { Run(); });
  }
  ~Sender() {
    thread_.join();
    ::close(listener_);
    if (ctx_ != nullptr) SSL_CTX_free(ctx_);
  }
  std::uint16_t Port() const { return port_; }

 private:
  void Run() {
    int fd = ::accept(listener_, nullptr, nullptr);
    if (fd < 0) return;
    std::vector<char> block(256 * 1024);
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 31);
    std::int64_t left = gBytes;
    SSL* ssl = nullptr;
    if (ctx_ != nullptr) {
      ssl = SSL_new(ctx_);
      SSL_set_fd(ssl, fd);
      if (SSL_accept(ssl) != 1) left = 0;
    }
    while (left > 0) {
      int n =
          static_cast<int>(std::min<std::int64_t>(left, static_cast<std::int64_t>(block.size())));
      int sent = ssl != nullptr ? SSL_write(ssl, block.data(), n)
                                : static_cast<int>(::send(fd, block.data(), n, MSG_NOSIGNAL));
      if (sent <= 0) break;
      left -= sent;
    }
    if (ssl != nullptr) {
      SSL_shutdown(ssl);
      SSL_free(ssl);
    }
    ::shutdown(fd, SHUT_WR);
    ::close(fd);
  }

  int listener_ = -1;
  std::uint16_t port_ = 0;
  SSL_CTX* ctx_ = nullptr;
  std::thread thread_;
};

// A stream that only counts what is written to it.
class CountingSink : public vto::TStream {
 public:
  std::int32_t Read(void*, std::int32_t) override { return 0; }
  std::int32_t Write(const void* buffer, std::int32_t count) override {
    benchmark::DoNotOptimize(buffer);
    position_ += count;
    return count;
  }
  std::int64_t Seek(std::int64_t offset, vto::TSeekOrigin origin) override {
    if (origin == vto::soBeginning)
      position_ = offset;
    else if (origin == vto::soCurrent)
      position_ += offset;
    return position_;
  }
  void SetSize(std::int64_t) override {}
  std::int64_t GetSize() override { return position_; }
  std::int64_t written() const { return position_; }

 private:
  std::int64_t position_ = 0;
};

int ConnectTo(std::uint16_t port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    throw std::runtime_error("connect failed");
  }
  return fd;
}

void Record(const std::string& name, double seconds) {
  auto it = gSeconds.find(name);
  if (it == gSeconds.end() || seconds < it->second) gSeconds[name] = seconds;
}

// Times the reading only: connection set-up and handshake happen before the
// clock starts, in both the measured path and its baseline.
class ReadClock {
 public:
  void Start() {
    start_ = std::chrono::steady_clock::now();
    cpuStart_ = ThreadCpu();
  }
  double Seconds() {
    cpuSeconds_ = ThreadCpu() - cpuStart_;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  }
  // The reading thread's processor time over the same span.
  double CpuSeconds() const { return cpuSeconds_; }

 private:
  static double ThreadCpu() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
  }
  std::chrono::steady_clock::time_point start_;
  double cpuStart_ = 0;
  double cpuSeconds_ = 0;
};

template <class F>
void Timed(benchmark::State& state, const std::string& name, F body) {
  for (auto _ : state) {
    ReadClock clock;
    auto [got, seconds] = body(clock);
    state.SetIterationTime(seconds);
    if (got != gBytes) state.SkipWithError("short read");
    Record(name, seconds);
    Record(name + " cpu", clock.CpuSeconds());
  }
  state.SetBytesProcessed(state.iterations() * gBytes);
}

void BM_PlainBareRecv(benchmark::State& state) {
  Timed(state, "plain recv", [](ReadClock& clock) {
    Sender sender(false);
    int fd = ConnectTo(sender.Port());
    std::vector<char> buffer(32768);
    std::int64_t total = 0;
    clock.Start();
    while (total < gBytes) {
      ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
      if (n <= 0) break;
      total += n;
    }
    double seconds = clock.Seconds();
    ::close(fd);
    return std::make_pair(total, seconds);
  });
}

void BM_PlainReadStream(benchmark::State& state) {
  Timed(state, "plain ReadStream", [](ReadClock& clock) {
    Sender sender(false);
    vto::TIdIOHandlerStack io;
    io.SetHost("127.0.0.1");
    io.SetPort(sender.Port());
    io.Open();
    CountingSink sink;
    clock.Start();
    io.ReadStream(&sink, gBytes);
    double seconds = clock.Seconds();
    io.Close();
    return std::make_pair(sink.written(), seconds);
  });
}

void BM_TlsBareSSLRead(benchmark::State& state) {
  Timed(state, "TLS SSL_read", [](ReadClock& clock) {
    Sender sender(true);
    int fd = ConnectTo(sender.Port());
    SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
    SSL* ssl = SSL_new(ctx);
    SSL_set_fd(ssl, fd);
    std::int64_t total = 0;
    double seconds = 0;
    if (SSL_connect(ssl) == 1) {
      std::vector<char> buffer(32768);
      clock.Start();
      while (total < gBytes) {
        int n = SSL_read(ssl, buffer.data(), static_cast<int>(buffer.size()));
        if (n <= 0) break;
        total += n;
      }
      seconds = clock.Seconds();
    }
    SSL_free(ssl);
    SSL_CTX_free(ctx);
    ::close(fd);
    ERR_clear_error();
    return std::make_pair(total, seconds);
  });
}

void BM_TlsReadStream(benchmark::State& state) {
  Timed(state, "TLS ReadStream", [](ReadClock& clock) {
    Sender sender(true);
    vto::TIdSSLIOHandlerSocketOpenSSL tls;
    tls.SSLOptions().SetMethod(vto::sslvTLSv1_2);
    tls.SSLOptions().SetSSLVersions({vto::sslvSSLv23});
    tls.SetPassThrough(false);
    tls.SetHost("127.0.0.1");
    tls.SetPort(sender.Port());
    tls.Open();
    CountingSink sink;
    clock.Start();
    tls.ReadStream(&sink, gBytes);
    double seconds = clock.Seconds();
    tls.Close();
    return std::make_pair(sink.written(), seconds);
  });
}

BENCHMARK(BM_PlainBareRecv)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_PlainReadStream)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_TlsBareSSLRead)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_TlsReadStream)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
  std::vector<char*> args;
  for (int i = 0; i < argc; ++i) {
    const char* flag = "--net_bytes=";
    if (std::strncmp(argv[i], flag, std::strlen(flag)) == 0) {
      gBytes = std::stoll(argv[i] + std::strlen(flag));
    } else {
      args.push_back(argv[i]);
    }
  }
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
  std::printf("bytes per run: %lld\n", static_cast<long long>(gBytes));
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  auto ratio = [](const char* a, const char* b) {
    if (gSeconds.count(a) == 0 || gSeconds.count(b) == 0) return;
    std::printf("%s / %s = %.3f (best of runs; target <= 1.2)\n", a, b, gSeconds[a] / gSeconds[b]);
  };
  ratio("plain ReadStream", "plain recv");
  ratio("TLS ReadStream", "TLS SSL_read");
  // Processor time of the reading thread: unaffected by waiting for a busy machine.
  ratio("plain ReadStream cpu", "plain recv cpu");
  ratio("TLS ReadStream cpu", "TLS SSL_read cpu");
  return 0;
}
