// Speed of the text side of the HTTP client: reading RFC 1123 dates, and taking
// in a typical response header block (RawHeaders + ParseHeaders). Each has a
// baseline in the same run: the C library's strptime + timegm for the dates, and a
// plain split of the block into lines at their colons for the headers. Folding of
// a long value in a QuoteRFC822 list: a run of blanks against ordinary words of
// the same length, each at four lengths, with the growth Google Benchmark fits
// (it reports O(N) for a linear one).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "http/IdGlobalProtocols.h"
#include "http/IdHTTPHeaderInfo.h"
#include "http/IdHeaderList.h"

namespace {

std::vector<std::string> MakeDates() {
  static const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                  "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::vector<std::string> dates;
  std::time_t t = 784111777;
  for (int i = 0; i < 64; ++i, t += 86400 * 37 + 3671) {
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s, %02d %s %04d %02d:%02d:%02d GMT", kDays[tm.tm_wday],
                  tm.tm_mday, kMonths[tm.tm_mon], tm.tm_year + 1900, tm.tm_hour, tm.tm_min,
                  tm.tm_sec);
    dates.emplace_back(buf);
  }
  return dates;
}

const char kBlock[] =
    "Date: Wed, 09 Dec 2026 06:18:01 GMT\r\n"
    "Server: nginx/1.22.1\r\n"
    "Content-Type: application/x-java-jnlp-file; charset=utf-8\r\n"
    "Content-Length: 2741\r\n"
    "Connection: keep-alive\r\n"
    "Last-Modified: Tue, 01 Dec 2026 10:00:00 GMT\r\n"
    "ETag: \"692d6a40-ab5\"\r\n"
    "Cache-Control: no-cache\r\n"
    "Expires: Thu, 01 Jan 1970 00:00:01 GMT\r\n"
    "Set-Cookie: JSESSIONID=8F2A3C44D1E0B6A9; Path=/; Secure; HttpOnly\r\n"
    "Strict-Transport-Security: max-age=31536000\r\n"
    "Accept-Ranges: bytes\r\n";

void BM_ParseHttpDate_RFC1123(benchmark::State& state) {
  setenv("TZ", "UTC", 1);
  tzset();
  const auto dates = MakeDates();
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(vto::ParseHttpDate(dates[i++ & 63]));
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(BM_ParseHttpDate_RFC1123);

void BM_Baseline_strptime_timegm(benchmark::State& state) {
  setenv("TZ", "UTC", 1);
  tzset();
  const auto dates = MakeDates();
  std::size_t i = 0;
  for (auto _ : state) {
    std::tm tm{};
    strptime(dates[i++ & 63].c_str(), "%a, %d %b %Y %H:%M:%S GMT", &tm);
    benchmark::DoNotOptimize(timegm(&tm));
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(BM_Baseline_strptime_timegm);

void BM_RawHeadersParseHeaders_12Lines(benchmark::State& state) {
  setenv("TZ", "UTC", 1);
  tzset();
  vto::TIdHTTPResponse response;
  for (auto _ : state) {
    // As the client does: clear the record, add the lines, parse them.
    response.Clear();
    response.RawHeaders().SetText(kBlock);
    response.ParseHeaders();
    benchmark::DoNotOptimize(response.ContentLength());
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(BM_RawHeadersParseHeaders_12Lines);

void BM_Baseline_SplitLinesAtColons(benchmark::State& state) {
  std::vector<std::pair<std::string, std::string>> fields;
  const std::string_view block = kBlock;
  for (auto _ : state) {
    fields.clear();
    std::size_t i = 0;
    while (i < block.size()) {
      std::size_t end = block.find("\r\n", i);
      if (end == std::string_view::npos) end = block.size();
      const std::string_view line = block.substr(i, end - i);
      const std::size_t colon = line.find(':');
      fields.emplace_back(line.substr(0, colon), line.substr(colon + 2));
      i = end + 2;
    }
    benchmark::DoNotOptimize(fields.data());
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(BM_Baseline_SplitLinesAtColons);

}  // namespace

// "Subject: " + the value, as SetValues folds it at 78 columns.
void FoldValue(benchmark::State& state, char filler) {
  const auto n = static_cast<std::size_t>(state.range(0));
  std::string value = "start";
  while (value.size() < n) value += filler == ' ' ? std::string(1, ' ') : std::string("word ");
  value += "end";
  for (auto _ : state) {
    vto::TIdHeaderList l(vto::QuoteRFC822);
    l.SetValues("Subject", value);
    benchmark::DoNotOptimize(l.Count());
  }
  state.SetComplexityN(state.range(0));
}

void BM_FoldRunOfBlanks(benchmark::State& state) {
  FoldValue(state, ' ');
}
BENCHMARK(BM_FoldRunOfBlanks)->RangeMultiplier(2)->Range(16 << 10, 128 << 10)->Complexity();

void BM_Baseline_FoldWords(benchmark::State& state) {
  FoldValue(state, 'w');
}
BENCHMARK(BM_Baseline_FoldWords)->RangeMultiplier(2)->Range(16 << 10, 128 << 10)->Complexity();

BENCHMARK_MAIN();
