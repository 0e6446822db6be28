// Document stream speed, each figure against a baseline measured in the same run:
//   SearchFor            vs memmem
//   ChangeString         vs a plain one-pass find-and-append into std::string
//   Base64 encode/decode vs a plain table codec
//   Compress/Uncompress  vs zlib's compress2 (level 6) / uncompress
//   appends (256 MiB in 32 KiB writes) vs std::string::append
// Run: build/bench/bench_qelstream  (prints the ratios of CPU times after the table;
// CPU time, because the machine the figures come from is shared)
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>

#include "qelstream/QELStream.h"

namespace {

using vto::TQELMemoryStream;

constexpr std::size_t kDataSize = 64u << 20;
const char kMarker[] = "Invoice-Number VX-2026-000417";

// Text print data: words, amounts, line breaks and a few PCL escapes; one marker
// near the end for the searches.
const std::string& Document() {
  static const std::string doc = [] {
    static const char* words[] = {"invoice", "total",    "amount", "page",   "customer",
                                  "Street",  "Veltra",   "online", "print",  "date",
                                  "line",    "quantity", "price",  "number", "account"};
    std::mt19937 rng(42);
    std::string s;
    s.reserve(kDataSize + 64);
    while (s.size() < kDataSize) {
      s += words[rng() % 15];
      switch (rng() % 12) {
        case 0:
          s += "\r\n";
          break;
        case 1:
          s += " " + std::to_string(rng() % 100000) + "." + std::to_string(rng() % 100);
          break;
        case 2:
          s += "\033&a" + std::to_string(rng() % 3000) + "V ";
          break;
        default:
          s += ' ';
      }
    }
    s.resize(kDataSize);
    std::memcpy(s.data() + kDataSize - 4096, kMarker, sizeof kMarker - 1);
    return s;
  }();
  return doc;
}

void Fill(TQELMemoryStream& s, const std::string& bytes) {
  s.Clear();
  s.AppendStr(bytes);
}

// ---------------------------------------------------------------- search

void BM_SearchFor(benchmark::State& state) {
  TQELMemoryStream s;
  Fill(s, Document());
  for (auto _ : state) benchmark::DoNotOptimize(s.SearchFor(kMarker, 1, false));
  state.SetBytesProcessed(state.iterations() * kDataSize);
}
void BM_SearchForCaseInsensitive(benchmark::State& state) {
  TQELMemoryStream s;
  Fill(s, Document());
  for (auto _ : state) benchmark::DoNotOptimize(s.SearchFor("invoice-number vx-2026", 1, true));
  state.SetBytesProcessed(state.iterations() * kDataSize);
}
void BM_Memmem(benchmark::State& state) {
  const std::string& d = Document();
  for (auto _ : state)
    benchmark::DoNotOptimize(memmem(d.data(), d.size(), kMarker, sizeof kMarker - 1));
  state.SetBytesProcessed(state.iterations() * kDataSize);
}

// ---------------------------------------------------------------- replace

void BM_ChangeString(benchmark::State& state) {
  TQELMemoryStream s;
  for (auto _ : state) {
    state.PauseTiming();
    Fill(s, Document());
    state.ResumeTiming();
    s.ChangeString("invoice", "bill");
  }
  state.SetBytesProcessed(state.iterations() * kDataSize);
}
void BM_PlainReplace(benchmark::State& state) {
  const std::string& d = Document();
  for (auto _ : state) {
    std::string out;
    std::size_t done = 0, at;
    while ((at = d.find("invoice", done)) != std::string::npos) {
      out.append(d, done, at - done);
      out += "bill";
      done = at + 7;
    }
    out.append(d, done, std::string::npos);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(state.iterations() * kDataSize);
}

// ---------------------------------------------------------------- Base64

const char kB64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string PlainEncode(const std::string& in) {
  std::string out;
  out.reserve((in.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 2 < in.size(); i += 3) {
    unsigned v = (static_cast<unsigned char>(in[i]) << 16) |
                 (static_cast<unsigned char>(in[i + 1]) << 8) |
                 static_cast<unsigned char>(in[i + 2]);
    out += kB64[v >> 18];
    out += kB64[(v >> 12) & 63];
    out += kB64[(v >> 6) & 63];
    out += kB64[v & 63];
  }
  if (i < in.size()) {
    unsigned v = static_cast<unsigned char>(in[i]) << 16;
    if (i + 1 < in.size()) v |= static_cast<unsigned char>(in[i + 1]) << 8;
    out += kB64[v >> 18];
    out += kB64[(v >> 12) & 63];
    out += i + 1 < in.size() ? kB64[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

std::string PlainDecode(const std::string& in) {
  static const auto table = [] {
    std::array<int, 256> t;
    t.fill(-1);
    for (int i = 0; i < 64; ++i) t[static_cast<unsigned char>(kB64[i])] = i;
    return t;
  }();
  std::string out;
  out.reserve(in.size() / 4 * 3);
  unsigned acc = 0;
  int bits = 0;
  for (char c : in) {
    int v = table[static_cast<unsigned char>(c)];
    if (v < 0) continue;
    acc = (acc << 6) | static_cast<unsigned>(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out += static_cast<char>((acc >> bits) & 0xFF);
    }
  }
  return out;
}

const std::string& Encoded() {
  static const std::string e = PlainEncode(Document());
  return e;
}

void BM_Base64EncodeData(benchmark::State& state) {
  TQELMemoryStream s;
  for (auto _ : state) {
    state.PauseTiming();
    Fill(s, Document());
    state.ResumeTiming();
    s.Base64EncodeData();
  }
  state.SetBytesProcessed(state.iterations() * kDataSize);
}
void BM_PlainBase64Encode(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(PlainEncode(Document()).data());
  state.SetBytesProcessed(state.iterations() * kDataSize);
}
void BM_Base64DecodeData(benchmark::State& state) {
  TQELMemoryStream s;
  for (auto _ : state) {
    state.PauseTiming();
    Fill(s, Encoded());
    state.ResumeTiming();
    s.Base64DecodeData();
  }
  state.SetBytesProcessed(state.iterations() * kDataSize);
}
void BM_PlainBase64Decode(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(PlainDecode(Encoded()).data());
  state.SetBytesProcessed(state.iterations() * kDataSize);
}

// ---------------------------------------------------------------- zlib

const std::string& Deflated() {
  static const std::string z = [] {
    uLongf n = compressBound(kDataSize);
    std::string out(n, '\0');
    compress2(reinterpret_cast<Bytef*>(out.data()), &n,
              reinterpret_cast<const Bytef*>(Document().data()), kDataSize, 6);
    out.resize(n);
    return out;
  }();
  return z;
}

void BM_Compress(benchmark::State& state) {
  TQELMemoryStream s;
  for (auto _ : state) {
    state.PauseTiming();
    Fill(s, Document());
    state.ResumeTiming();
    s.Compress();
  }
  state.SetBytesProcessed(state.iterations() * kDataSize);
}
void BM_ZlibCompress2(benchmark::State& state) {
  for (auto _ : state) {
    // A caller of compress2 provides a fresh output block, as Compress makes one.
    uLongf n = compressBound(kDataSize);
    std::unique_ptr<Bytef[]> out(new Bytef[n]);
    compress2(out.get(), &n, reinterpret_cast<const Bytef*>(Document().data()), kDataSize, 6);
    benchmark::DoNotOptimize(n);
  }
  state.SetBytesProcessed(state.iterations() * kDataSize);
}
void BM_Uncompress(benchmark::State& state) {
  TQELMemoryStream s;
  for (auto _ : state) {
    state.PauseTiming();
    Fill(s, Deflated());
    state.ResumeTiming();
    s.Uncompress();
  }
  state.SetBytesProcessed(state.iterations() * kDataSize);
}
void BM_ZlibUncompress(benchmark::State& state) {
  for (auto _ : state) {
    uLongf n = kDataSize;
    std::unique_ptr<Bytef[]> out(new Bytef[n]);
    uncompress(out.get(), &n, reinterpret_cast<const Bytef*>(Deflated().data()), Deflated().size());
    benchmark::DoNotOptimize(n);
  }
  state.SetBytesProcessed(state.iterations() * kDataSize);
}

// ---------------------------------------------------------------- appends

constexpr std::size_t kAppendTotal = 256u << 20;
constexpr std::size_t kAppendPiece = 32u << 10;

void BM_AppendStr(benchmark::State& state) {
  const std::string piece(Document(), 0, kAppendPiece);
  for (auto _ : state) {
    TQELMemoryStream s;
    for (std::size_t done = 0; done < kAppendTotal; done += kAppendPiece) s.AppendStr(piece);
    benchmark::DoNotOptimize(s.Memory());
  }
  state.SetBytesProcessed(state.iterations() * kAppendTotal);
}
void BM_StringAppend(benchmark::State& state) {
  const std::string piece(Document(), 0, kAppendPiece);
  for (auto _ : state) {
    std::string s;
    for (std::size_t done = 0; done < kAppendTotal; done += kAppendPiece) s.append(piece);
    benchmark::DoNotOptimize(s.data());
  }
  state.SetBytesProcessed(state.iterations() * kAppendTotal);
}

#define QEL_BENCH(fn, n) BENCHMARK(fn)->Unit(benchmark::kMillisecond)->Iterations(n)
QEL_BENCH(BM_SearchFor, 20);
QEL_BENCH(BM_SearchForCaseInsensitive, 20);
QEL_BENCH(BM_Memmem, 20);
QEL_BENCH(BM_ChangeString, 10);
QEL_BENCH(BM_PlainReplace, 10);
QEL_BENCH(BM_Base64EncodeData, 10);
QEL_BENCH(BM_PlainBase64Encode, 10);
QEL_BENCH(BM_Base64DecodeData, 10);
QEL_BENCH(BM_PlainBase64Decode, 10);
QEL_BENCH(BM_Compress, 3);
QEL_BENCH(BM_ZlibCompress2, 3);
QEL_BENCH(BM_Uncompress, 10);
QEL_BENCH(BM_ZlibUncompress, 10);
QEL_BENCH(BM_AppendStr, 5);
QEL_BENCH(BM_StringAppend, 5);

// Keeps every run's time so that the ratios can be printed at the end.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const auto& r : runs) times[r.benchmark_name()] = r.GetAdjustedCPUTime();
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> times;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  Document();
  Encoded();
  Deflated();
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  struct Pair {
    const char* ours;
    const char* base;
    double target;
  };
  const Pair pairs[] = {
      {"BM_SearchFor", "BM_Memmem", 3.0},
      {"BM_SearchForCaseInsensitive", "BM_Memmem", 3.0},
      {"BM_ChangeString", "BM_PlainReplace", 3.0},
      {"BM_Base64EncodeData", "BM_PlainBase64Encode", 0},
      {"BM_Base64DecodeData", "BM_PlainBase64Decode", 0},
      {"BM_Compress", "BM_ZlibCompress2", 1.1},
      {"BM_Uncompress", "BM_ZlibUncompress", 1.1},
      {"BM_AppendStr", "BM_StringAppend", 2.0},
  };
  std::printf("\n%-30s %-22s %8s %8s\n", "operation", "baseline", "ratio", "target");
  for (const auto& p : pairs) {
    auto suffix = std::string("/iterations:");
    auto find = [&](const char* name) -> double {
      for (const auto& [k, v] : reporter.times)
        if (k.rfind(std::string(name) + suffix, 0) == 0) return v;
      return 0;
    };
    double a = find(p.ours), b = find(p.base);
    if (a <= 0 || b <= 0) continue;
    if (p.target > 0)
      std::printf("%-30s %-22s %8.2f %7.1fx\n", p.ours, p.base, a / b, p.target);
    else
      std::printf("%-30s %-22s %8.2f %8s\n", p.ours, p.base, a / b, "-");
  }
  benchmark::Shutdown();
  return 0;
}
