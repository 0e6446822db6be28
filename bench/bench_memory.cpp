// Peak resident memory of each whole-content operation of the document stream, of
// Zip and Unzip, and of the HTTP client's body scans, over the size of the
// document (64 MiB of text by default; the compressed form for Uncompress and
// Unzip, a file for Load). Each operation runs in a child
// process of its own: its input is made first, the peak is then reset (Linux's
// clear_refs), and what the peak rises to above the child's memory before the
// input was made is the figure. The bound is the content, one working copy (the
// larger of the content and the result) and 64 MiB.
//
//   bench_memory [--size=67108864] [--only=NAME]
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "desktop/DateTime.h"
#include "desktop/Desktop.h"
#include "http/IdHTTP.h"
#include "qelstream/QELStream.h"
#include "tests/support/MemoryIOHandler.h"

namespace {

using vto::TQELMemoryStream;

constexpr std::int64_t kMiB = 1 << 20;

// A field of /proc/self/status in bytes ("VmRSS", "VmHWM").
std::int64_t StatusBytes(const char* field) {
  std::ifstream in("/proc/self/status");
  std::string line;
  const std::string key = std::string(field) + ":";
  while (std::getline(in, line))
    if (line.rfind(key, 0) == 0) return std::atoll(line.c_str() + key.size()) * 1024;
  return -1;
}

void ResetPeak() {
  std::ofstream("/proc/self/clear_refs") << "5";
}

// The file Save and Load use, in the temporary folder.
std::string ScratchFile() {
  static const std::string name =
      vto::GetTempFolder() + "bench_memory-" + std::to_string(::getpid()) + ".tmp";
  return name;
}

// Where an operation's figure starts when it makes more of its input itself
// (the bytes a transport will deliver): set by it, else the child's start.
std::int64_t g_base = -1;

// Document text written straight into the stream: lines of words with now and
// then a control character, as print jobs have them.
void FillDocument(TQELMemoryStream& s, std::int64_t size) {
  static const char* words[] = {"invoice", "total",  "amount", "page",  "customer", "PCL",
                                "stream",  "Veltra", "online", "print", "date",     "line"};
  s.SetSize(size);
  std::mt19937 rng(1);
  char* p = s.Memory();
  std::int64_t at = 0;
  while (at < size) {
    std::string piece = words[rng() % 12];
    piece += rng() % 9 == 0 ? "\r\n" : rng() % 997 == 0 ? "\x01 " : " ";
    const auto n = std::min<std::int64_t>(static_cast<std::int64_t>(piece.size()), size - at);
    std::memcpy(p + at, piece.data(), static_cast<std::size_t>(n));
    at += n;
  }
  s.SetPosition(0);
}

struct Result {
  std::int64_t content = 0, result = 0, peak = 0;
};

// One HTTP exchange over an in-memory transport whose response carries a body
// of the content's size; the body (or the error page) is what is measured.
struct Response {
  vto::testing::MemoryHandler io;
  explicit Response(const std::string& status, const std::string& type, std::int64_t size) {
    vto::testing::MemoryHandler::Script script;
    script.push_back({"HTTP/1.1 " + status + "\r\nContent-Type: " + type +
                      "\r\nContent-Length: " + std::to_string(size) + "\r\n\r\n"});
    std::string piece = "<html><head><meta http-equiv=\"X-A\" content=\"b\"></head><body>";
    std::int64_t left = size;
    while (left > 0) {
      piece.resize(static_cast<std::size_t>(std::min<std::int64_t>(left, 65536)), 'x');
      left -= static_cast<std::int64_t>(piece.size());
      script.push_back({piece});
      piece.clear();
    }
    io.connections.push_back(std::move(script));
  }
};

struct Operation {
  const char* name;
  // Makes the input in the stream (the peak is reset after it).
  std::function<void(TQELMemoryStream&, std::int64_t)> prepare;
  std::function<void(TQELMemoryStream&)> run;
};

std::vector<Operation> Operations() {
  auto document = [](TQELMemoryStream& s, std::int64_t size) { FillDocument(s, size); };
  return {
      {"GetAsString", document, [](TQELMemoryStream& s) { (void)s.GetAsString(); }},
      {"AppendStream(itself)", document, [](TQELMemoryStream& s) { s.AppendStream(s); }},
      {"InsertStr", document, [](TQELMemoryStream& s) { s.InsertStr("inserted", s.Size() / 2); }},
      {"SearchFor", document, [](TQELMemoryStream& s) { (void)s.SearchFor("absent!", 1, true); }},
      {"ChangeString", document,
       [](TQELMemoryStream& s) { s.ChangeString("total", "grand total"); }},
      {"RemoveBeginning", document, [](TQELMemoryStream& s) { s.RemoveBeginning(s.Size() / 2); }},
      {"RemoveTrailing", document, [](TQELMemoryStream& s) { s.RemoveTrailing(s.Size() / 2); }},
      {"GetBytes", document, [](TQELMemoryStream& s) { (void)s.GetBytes(0, 0); }},
      {"update", document, [](TQELMemoryStream& s) { s.update(10, "updated"); }},
      {"Remove", document, [](TQELMemoryStream& s) { s.Remove(1000, 1000000); }},
      {"DeleteLineContaining", document,
       [](TQELMemoryStream& s) { s.DeleteLineContaining("total"); }},
      {"ChangeCharsLessThanSpace", document,
       [](TQELMemoryStream& s) { s.ChangeCharsLessThanSpace("?"); }},
      {"DoFindBadChar", document, [](TQELMemoryStream& s) { (void)s.DoFindBadChar(); }},
      {"GetOrientation", document, [](TQELMemoryStream& s) { (void)s.GetOrientation(); }},
      {"RemovePCLMacro", document, [](TQELMemoryStream& s) { (void)s.RemovePCLMacro(1); }},
      {"Base64EncodeData", document, [](TQELMemoryStream& s) { s.Base64EncodeData(); }},
      {"Base64DecodeData",
       [](TQELMemoryStream& s, std::int64_t size) {
         FillDocument(s, size / 4 * 3);
         s.Base64EncodeData();
       },
       [](TQELMemoryStream& s) { s.Base64DecodeData(); }},
      {"Compress", document, [](TQELMemoryStream& s) { s.Compress(); }},
      {"Uncompress",
       [](TQELMemoryStream& s, std::int64_t size) {
         FillDocument(s, size);
         s.Compress();
       },
       [](TQELMemoryStream& s) { s.Uncompress(); }},
      {"Save", document, [](TQELMemoryStream& s) { s.Save(ScratchFile()); }},
      {"Load",
       [](TQELMemoryStream& s, std::int64_t size) {
         FillDocument(s, size);
         s.Save(ScratchFile());
         s.Clear();  // the file is the input
       },
       [](TQELMemoryStream& s) { s.Load(ScratchFile()); }},
      {"Zip", document,
       [](TQELMemoryStream& s) { s.Zip("document.pcl", "", vto::EncodeDate(2024, 5, 6)); }},
      {"Unzip",
       [](TQELMemoryStream& s, std::int64_t size) {
         FillDocument(s, size);
         s.Zip("document.pcl", "", vto::EncodeDate(2024, 5, 6));
       },
       [](TQELMemoryStream& s) { s.Unzip(); }},
  };
}

// The body scans: the whole body through Get into the stream.
std::vector<Operation> Exchanges() {
  auto get = [](const char* status, const char* type) {
    return [status, type](TQELMemoryStream& s) {
      Response r(status, type, s.Size());  // the size asked for travels in the stream
      s.Clear();
      vto::TIdHTTP http;
      http.SetIOHandler(&r.io);
      g_base = StatusBytes("VmRSS");  // the transport's bytes are not the client's
      ResetPeak();
      try {
        http.Get("http://h.example/big", s);
      } catch (const vto::EIdHTTPProtocolException& e) {
        // The error page is the exception's message; the stream stays empty.
        s.SetSize(static_cast<std::int64_t>(e.ErrorMessage().size()));
      }
    };
  };
  auto size_only = [](TQELMemoryStream& s, std::int64_t size) { s.SetSize(size); };
  return {
      {"Get body application/octet-stream", size_only, get("200 OK", "application/octet-stream")},
      {"Get body text/html (meta scan)", size_only, get("200 OK", "text/html")},
      {"Get error page text/html", size_only, get("404 Not Found", "text/html")},
  };
}

Result Measure(const Operation& op, std::int64_t size) {
  int fds[2];
  if (::pipe(fds) != 0) std::exit(2);
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(fds[0]);
    Result r;
    const std::int64_t start = StatusBytes("VmRSS");
    {
      TQELMemoryStream s;
      op.prepare(s, size);
      r.content = s.Size();
      ResetPeak();
      op.run(s);
      r.peak = StatusBytes("VmHWM") - (g_base >= 0 ? g_base : start);
      r.result = s.Size();
    }
    if (::write(fds[1], &r, sizeof r) != sizeof r) ::_exit(1);
    ::_exit(0);
  }
  ::close(fds[1]);
  Result r;
  const bool got = ::read(fds[0], &r, sizeof r) == sizeof r;
  ::close(fds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  if (!got || !WIFEXITED(status) || WEXITSTATUS(status) != 0) r.peak = -1;
  return r;
}

// Resident memory a one-byte write at 1 GiB costs, against a SetSize to the same size.
std::int64_t FarWrite(bool write) {
  const Operation op{"", [](TQELMemoryStream&, std::int64_t) {},
                     [write](TQELMemoryStream& s) {
                       if (write) {
                         s.SetPosition(1024 * kMiB);
                         s.WriteBuffer("!", 1);
                       } else {
                         s.SetSize(1024 * kMiB + 1);
                       }
                     }};
  return Measure(op, 0).peak;
}

}  // namespace

int main(int argc, char** argv) {
  std::int64_t size = 64 * kMiB;
  std::string only;
  (void)ScratchFile();  // named once, before the children
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--size=", 7) == 0) size = std::atoll(argv[i] + 7);
    if (std::strncmp(argv[i], "--only=", 7) == 0) only = argv[i] + 7;
  }
  std::printf("%-36s %9s %9s %9s %7s %7s\n", "operation", "content", "result", "peak", "ratio",
              "bound");
  int over = 0;
  std::vector<Operation> ops = Operations();
  for (auto& e : Exchanges()) ops.push_back(std::move(e));
  for (const Operation& op : ops) {
    if (!only.empty() && only != op.name) continue;
    const Result r = Measure(op, size);
    if (r.peak < 0) {
      std::printf("%-36s failed\n", op.name);
      ++over;
      continue;
    }
    // Over the document's size: a compressed input (Uncompress, Unzip) is
    // smaller, its result is the document again.
    const double content = static_cast<double>(r.content);
    const double copy = std::max(content, static_cast<double>(r.result));
    const double bound = (content + copy + 64.0 * kMiB) / static_cast<double>(size);
    const double ratio = static_cast<double>(r.peak) / static_cast<double>(size);
    if (ratio > bound) ++over;
    std::printf("%-36s %8.1fM %8.1fM %8.1fM %7.2f %7.2f%s\n", op.name, content / kMiB,
                static_cast<double>(r.result) / kMiB, static_cast<double>(r.peak) / kMiB, ratio,
                bound, ratio > bound ? "  OVER" : "");
  }
  std::remove(ScratchFile().c_str());
  if (only.empty()) {
    const double setsize = static_cast<double>(FarWrite(false)) / kMiB;
    const double far = static_cast<double>(FarWrite(true)) / kMiB;
    std::printf("1-byte write at 1 GiB: %.1fM resident; SetSize to 1 GiB: %.1fM\n", far, setsize);
  }
  return over == 0 ? 0 : 1;
}
