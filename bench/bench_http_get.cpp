// Whole-process figures of one Get: the client (this program run as a child
// with --get) against "curl -s -o /dev/null" of the same URL, in the same run,
// from the same nginx on loopback: wall time and peak resident memory, for a
// body with a Content-Length and a chunked one, over https and http. Two more
// figures in the same run tell where the time goes: our Get with the body read
// and dropped, and curl keeping the body in memory too (a file on /dev/shm).
//
//   bench_http_get [--size=268435456] [--runs=3]
//   bench_http_get --get URL [--expect=N]      (one download, as the launcher does it)
//   bench_http_get --get URL --discard         (the same, the body read and dropped)
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "http/IdHTTP.h"
#include "net/IdSSLOpenSSL.h"
#include "qelstream/QELStream.h"
#include "tests/support/NginxServer.h"

extern char** environ;

namespace {

using vto::testing::NginxServer;

int GetOnce(const std::string& url, long long expect, bool discard) {
  vto::TIdSSLIOHandlerSocketOpenSSL tls;
  vto::TIdHTTP http;
  http.SetHandleRedirects(true);
  http.Request().SetBasicAuthentication(true);
  http.SetIOHandler(&tls);
  http.SetProtocolVersion(vto::pv1_1);
  http.SetHTTPOptions({vto::hoKeepOrigProtocol});
  tls.SSLOptions().SetMethod(vto::sslvTLSv1_2);
  tls.SSLOptions().SetSSLVersions({vto::sslvSSLv23});
  vto::TQELMemoryStream body;
  try {
    if (discard) {
      // The body read and dropped: the exchange without the memory it fills.
      http.Get(url);
      return 0;
    }
    http.Get(url, body);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "Get failed: %s\n", e.what());
    return 1;
  }
  if (expect >= 0 && body.Size() != expect) {
    std::fprintf(stderr, "got %lld bytes, expected %lld\n", static_cast<long long>(body.Size()),
                 expect);
    return 1;
  }
  return 0;
}

struct Sample {
  double seconds = 0;
  long maxRssKiB = 0;
  bool ok = false;
};

Sample RunChild(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  std::vector<std::string> copy = args;
  for (auto& a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  const auto start = std::chrono::steady_clock::now();
  pid_t pid;
  Sample s;
  if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return s;
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  s.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  s.maxRssKiB = usage.ru_maxrss;
  s.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return s;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  long long size = 256LL * 1024 * 1024;
  int runs = 3;
  std::string getUrl;
  long long expect = -1;
  bool discard = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a.rfind("--size=", 0) == 0) size = std::atoll(a.c_str() + 7);
    if (a.rfind("--runs=", 0) == 0) runs = std::max(1, std::atoi(a.c_str() + 7));
    if (a.rfind("--expect=", 0) == 0) expect = std::atoll(a.c_str() + 9);
    if (a == "--get" && i + 1 < argc) getUrl = argv[++i];
    if (a == "--discard") discard = true;
  }
  if (!getUrl.empty()) return GetOnce(getUrl, expect, discard);

  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return 1;
  self[n] = '\0';

  NginxServer nginx;
  nginx.AddFile("big.bin", size);
  const double bodyMiB = static_cast<double>(size) / (1024 * 1024);
  std::printf("body %.1f MiB, %d runs each, median wall time, largest peak RSS\n", bodyMiB, runs);
  std::printf("%-16s %9s %9s %7s %11s %11s %10s %7s %10s %7s\n", "case", "client s", "curl s",
              "ratio", "client MiB", "curl MiB", "dropped s", "ratio", "curl shm s", "ratio");
  const std::string shmFile = "/dev/shm/vto-bench-" + std::to_string(getpid());
  struct Case {
    const char* name;
    std::string url;
  } cases[] = {{"https length", nginx.HttpsUrl("/big.bin")},
               {"http length", nginx.HttpUrl("/big.bin")},
               {"https chunked", nginx.HttpsUrl("/chunked/big.bin")},
               {"http chunked", nginx.HttpUrl("/chunked/big.bin")}};
  int failures = 0;
  for (const auto& c : cases) {
    std::vector<double> ours, theirs, dropped, kept;
    long oursRss = 0, theirsRss = 0;
    for (int r = 0; r < runs; ++r) {
      const Sample a = RunChild({self, "--get", c.url, "--expect=" + std::to_string(size)});
      const Sample b = RunChild({"curl", "-s", "-k", "--http1.1", "-o", "/dev/null", c.url});
      // The same exchange with the body read and dropped: what the memory costs.
      const Sample d = RunChild({self, "--get", c.url, "--discard"});
      // curl keeping the body in memory (tmpfs): the same storing cost as ours.
      const Sample k = RunChild({"curl", "-s", "-k", "--http1.1", "-o", shmFile, c.url});
      std::remove(shmFile.c_str());
      if (!a.ok || !b.ok || !d.ok || !k.ok) ++failures;
      kept.push_back(k.seconds);
      dropped.push_back(d.seconds);
      ours.push_back(a.seconds);
      theirs.push_back(b.seconds);
      oursRss = std::max(oursRss, a.maxRssKiB);
      theirsRss = std::max(theirsRss, b.maxRssKiB);
    }
    const double mo = Median(ours), mt = Median(theirs), md = Median(dropped), mk = Median(kept);
    std::printf("%-16s %9.3f %9.3f %7.2f %11.1f %11.1f %10.3f %7.2f %10.3f %7.2f\n", c.name, mo, mt,
                mo / mt, oursRss / 1024.0, theirsRss / 1024.0, md, md / mt, mk, mo / mk);
  }
  if (failures) std::printf("%d runs failed\n", failures);
  return failures == 0 ? 0 : 1;
}
