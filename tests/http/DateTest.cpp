// Tests of http/IdGlobalProtocols.cpp: reading and writing HTTP dates.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "desktop/DateTime.h"
#include "http/IdGlobalProtocols.h"
#include "tests/support/ZoneGuard.h"

namespace vto {
namespace {

using vto::testing::ZoneGuard;

constexpr std::int64_t kExampleUnix = 784111777;  // 1994-11-06 08:49:37 UTC

// Unix seconds of a parsed (local) value; -1 for no date.
std::int64_t UnixOf(std::string_view text) {
  const TDateTime v = ParseHttpDate(text);
  if (v == 0) return -1;
  return DateTimeToUnix(LocalToUtc(v));
}

class DatesInZone : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override { guard_ = std::make_unique<ZoneGuard>(GetParam()); }
  void TearDown() override { guard_.reset(); }
  std::unique_ptr<ZoneGuard> guard_;
};

TEST_P(DatesInZone, FourFormsGiveOneInstant) {
  for (const char* text :
       {"Sun, 06 Nov 1994 08:49:37 GMT", "Sunday, 06-Nov-94 08:49:37 GMT",
        "Sun Nov  6 08:49:37 1994", "1994-11-06T08:49:37Z", "  Sun,06 Nov 1994 08:49:37 GMT  ",
        "06 Nov 1994 08:49:37", "Sun, 06 Nov 1994 10:49:37 +0200", "1994-11-06T03:49:37-05:00",
        "06 Nov 1994 08.49.37 UT"}) {
    EXPECT_EQ(UnixOf(text), kExampleUnix) << text;
  }
}

TEST_P(DatesInZone, FormattingGivesTheFirstFormBack) {
  const std::string first = "Sun, 06 Nov 1994 08:49:37 GMT";
  EXPECT_EQ(FormatHttpDate(ParseHttpDate(first)), first);
  EXPECT_EQ(FormatHttpDate(ParseHttpDate("Wed, 06 Jul 1994 08:49:37 GMT")),
            "Wed, 06 Jul 1994 08:49:37 GMT");
  EXPECT_EQ(FormatHttpDate(ParseHttpDate("Wed, 01 Jan 0994 00:00:00 GMT")),
            "Wed, 01 Jan 0994 00:00:00 GMT");
}

INSTANTIATE_TEST_SUITE_P(Zones, DatesInZone,
                         ::testing::Values("UTC", "Europe/Berlin", "America/New_York"));

TEST(DatesLocalTime, OffsetOfTheInstantItselfIsUsed) {
  ZoneGuard zone("Europe/Berlin");
  int y, mo, d, h, mi, s, ms;
  // Winter: CET, one hour ahead.
  DecodeDateTime(ParseHttpDate("Sun, 06 Nov 1994 08:49:37 GMT"), y, mo, d, h, mi, s, ms);
  EXPECT_EQ(h, 9);
  // Summer: CEST, two hours ahead, whatever the season of the day the test runs.
  DecodeDateTime(ParseHttpDate("Wed, 06 Jul 1994 08:49:37 GMT"), y, mo, d, h, mi, s, ms);
  EXPECT_EQ(h, 10);
  EXPECT_EQ(mi, 49);
  // An offset with seconds (Monrovia before 1972) is taken whole.
  ZoneGuard monrovia("Africa/Monrovia");
  const std::string text = "Mon, 01 Jun 1970 12:00:00 GMT";
  DecodeDateTime(ParseHttpDate(text), y, mo, d, h, mi, s, ms);
  EXPECT_EQ(h * 3600 + mi * 60 + s, 11 * 3600 + 15 * 60 + 30);
  EXPECT_EQ(FormatHttpDate(ParseHttpDate(text)), text);
}

TEST(DatesNoDate, MalformedOrImpossible) {
  ZoneGuard zone("UTC");
  for (const char* text :
       {"", "   ", "garbage", "1994-11-06T08:49:37", "1994-11-06T08:49",
        "Sun, 31 Feb 1994 08:49:37 GMT", "Sun, 06 Nov 1994 25:00:00 GMT",
        "Sun, 06 Nov 1994 08:60:00 GMT", "06 November 1994 08:49:37 GMT",
        "Thu, 999999999999-Aug-2007 20:49:07 GMT", "Sun, 06 Nov 1994 99999999999:00:00 PM GMT",
        "Sun, 06 Nov", "1994-13-01", "1994-02-30", "1994-11-06T24:00Z",
        "Sun, 06 Foo 1994 08:49:37 GMT", "06 Nov 10000 08:49:37 GMT", "06 Nov 0 08:49:37 GMT"}) {
    EXPECT_EQ(ParseHttpDate(text), 0) << text;
  }
}

TEST(DatesIso8601, ShortFormsFractionsAndZones) {
  ZoneGuard zone("UTC");
  EXPECT_EQ(UnixOf("1994-11-06"), kExampleUnix - (8 * 3600 + 49 * 60 + 37));
  EXPECT_EQ(UnixOf("1994-11"), UnixOf("1994-11-01"));
  EXPECT_EQ(UnixOf("1994"), UnixOf("1994-01-01"));
  EXPECT_EQ(UnixOf("1994-11-06T08:49Z"), kExampleUnix - 37);
  EXPECT_EQ(UnixOf("1994-11-06T08:49:37+00:00"), kExampleUnix);
  // A fraction of a second is a fraction, and the zone after it still counts.
  const TDateTime half = ParseHttpDate("1994-11-06T10:49:37.5+02:00");
  int y, mo, d, h, mi, s, ms;
  DecodeDateTime(half, y, mo, d, h, mi, s, ms);
  EXPECT_EQ(h, 8);
  EXPECT_EQ(s, 37);
  EXPECT_EQ(ms, 500);
  DecodeDateTime(ParseHttpDate("1994-11-06T08:49:37.123456Z"), y, mo, d, h, mi, s, ms);
  EXPECT_EQ(ms, 123);
  // The fraction needs a character after it.
  EXPECT_EQ(ParseHttpDate("1994-11-06T08:49:37.5"), 0);
}

TEST(DatesZones, TableOrderFirstMatchWins) {
  ZoneGuard zone("UTC");
  EXPECT_EQ(ZoneOffsetMinutes("EST"), 11 * 60);
  EXPECT_EQ(ZoneOffsetMinutes("EDT"), 11 * 60);
  EXPECT_EQ(ZoneOffsetMinutes("CST"), 10 * 60 + 30);
  EXPECT_EQ(ZoneOffsetMinutes("CDT"), 10 * 60 + 30);
  EXPECT_EQ(ZoneOffsetMinutes("AMST"), -3 * 60);
  EXPECT_EQ(ZoneOffsetMinutes("IST"), 60);
  EXPECT_EQ(ZoneOffsetMinutes("PST"), -8 * 60);
  EXPECT_EQ(ZoneOffsetMinutes("chst"), 10 * 60);
  EXPECT_EQ(ZoneOffsetMinutes("CHADT"), 13 * 60 + 45);
  EXPECT_EQ(ZoneOffsetMinutes("NPT"), 5 * 60 + 45);
  EXPECT_EQ(ZoneOffsetMinutes("A"), 60);
  EXPECT_EQ(ZoneOffsetMinutes("Y"), -12 * 60);
  EXPECT_EQ(ZoneOffsetMinutes("Z"), 0);
  EXPECT_EQ(ZoneOffsetMinutes("XYZ"), 0);
  EXPECT_EQ(UnixOf("Sun, 06 Nov 1994 19:49:37 EST"), kExampleUnix);
  EXPECT_EQ(UnixOf("Sun, 06 Nov 1994 19:49:37 est"), kExampleUnix);
}

TEST(DatesZones, NumericOffsets) {
  EXPECT_EQ(ZoneOffsetMinutes("+0200"), 120);
  EXPECT_EQ(ZoneOffsetMinutes("-0530"), -330);
  EXPECT_EQ(ZoneOffsetMinutes("+01:30"), 90);
  EXPECT_EQ(ZoneOffsetMinutes("-05"), -300);
  EXPECT_EQ(ZoneOffsetMinutes("+2400"), 0);
  EXPECT_EQ(ZoneOffsetMinutes("+0160"), 0);
  EXPECT_EQ(ZoneOffsetMinutes("+02x0"), 0);
  EXPECT_EQ(ZoneOffsetMinutes("+020"), 0);
  EXPECT_EQ(ZoneOffsetMinutes("+"), 0);
  EXPECT_EQ(ZoneOffsetMinutes("-"), 0);
}

TEST(DatesYears, TwoAndThreeDigitWindows) {
  ZoneGuard zone("UTC");
  int y, mo, d;
  DecodeDate(ParseHttpDate("Saturday, 06-Nov-49 08:49:37 GMT"), y, mo, d);
  EXPECT_EQ(y, 2049);
  DecodeDate(ParseHttpDate("Monday, 06-Nov-50 08:49:37 GMT"), y, mo, d);
  EXPECT_EQ(y, 1950);
  DecodeDate(ParseHttpDate("06-Nov-00 08:49:37 GMT"), y, mo, d);
  EXPECT_EQ(y, 2000);
  DecodeDate(ParseHttpDate("06-Nov-99 08:49:37 GMT"), y, mo, d);
  EXPECT_EQ(y, 1999);
  DecodeDate(ParseHttpDate("06-Nov-094 08:49:37 GMT"), y, mo, d);
  EXPECT_EQ(y, 1994);
  DecodeDate(ParseHttpDate("06 Nov 0049 08:49:37 GMT"), y, mo, d);
  EXPECT_EQ(y, 49);
  DecodeDate(ParseHttpDate("Sun Nov  6 08:49:37 94"), y, mo, d);
  EXPECT_EQ(y, 1994);
}

TEST(DatesMonths, NationalSpellings) {
  const std::pair<const char*, int> cases[] = {{"jan", 1},
                                               {"June", 6},
                                               {"JULY", 7},
                                               {"Sept", 9},
                                               {"Mrz", 3},
                                               {"MAI", 5},
                                               {"okt", 10},
                                               {"Dez", 12},
                                               {"ENO", 1},
                                               {"fbro", 2},
                                               {"MZO", 3},
                                               {"ab", 4},
                                               {"AGTO", 8},
                                               {"sbre", 9},
                                               {"OBRE", 10},
                                               {"NBRE", 11},
                                               {"DBRE", 12},
                                               {"MRT", 3},
                                               {"MEI", 5},
                                               {"JANV", 1},
                                               {"MARS", 3},
                                               {"AVR", 4},
                                               {"JUIN", 6},
                                               {"JUIL", 7},
                                               {"JUI", 7},
                                               {"MAJ", 5},
                                               {"AVG", 9},
                                               {"f\xC3\xA9v", 2},
                                               {"F\xC3\x89VR", 2},
                                               {"ao\xC3\xBB", 8},
                                               {"AO\xC3\x9BT", 8},
                                               {"d\xC3\xA9"
                                                "c",
                                                12},
                                               {"November", 0},
                                               {"", 0},
                                               {"FEV", 0}};
  for (const auto& [name, month] : cases) EXPECT_EQ(MonthNumber(name), month) << name;
  ZoneGuard zone("UTC");
  int y, mo, d;
  DecodeDate(ParseHttpDate("06 F\xC3\xA9vr 2001 08:49:37 GMT"), y, mo, d);
  EXPECT_EQ(mo, 2);
  DecodeDate(ParseHttpDate("Mai 6 2001"), y, mo, d);
  EXPECT_EQ(mo, 5);
  EXPECT_EQ(d, 6);
}

TEST(DatesMeridiem, AmPm) {
  ZoneGuard zone("UTC");
  auto hour = [](const char* text) {
    int h, mi, s, ms;
    DecodeTime(ParseHttpDate(text), h, mi, s, ms);
    return h;
  };
  EXPECT_EQ(hour("Sun, 06 Nov 1994 12:15:00 AM GMT"), 0);
  EXPECT_EQ(hour("Sun, 06 Nov 1994 01:15:00 PM GMT"), 13);
  EXPECT_EQ(hour("Sun, 06 Nov 1994 12:15:00 PM"), 12);
  EXPECT_EQ(hour("Sun, 06 Nov 1994 08:15:00AM"), 8);
  // A zone name that holds the letters "PM" is no afternoon marker.
  EXPECT_EQ(UnixOf("Sun, 06 Nov 1994 05:49:37 PMST"), kExampleUnix);
  EXPECT_EQ(UnixOf("Sat, 05 Nov 1994 23:49:37 GAMT"), kExampleUnix);
}

std::string FormatForm(int form, std::int64_t unix, int offsetMinutes) {
  static const char* kDays[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                "Thursday", "Friday", "Saturday"};
  static const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                  "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const std::time_t t = static_cast<std::time_t>(unix + offsetMinutes * 60);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char zone[16];
  if (offsetMinutes == 0)
    std::snprintf(zone, sizeof zone, "GMT");
  else
    std::snprintf(zone, sizeof zone, "%c%02d%02d", offsetMinutes < 0 ? '-' : '+',
                  std::abs(offsetMinutes) / 60, std::abs(offsetMinutes) % 60);
  char buf[96];
  switch (form) {
    case 0:
      std::snprintf(buf, sizeof buf, "%.3s, %02d %s %04d %02d:%02d:%02d %s", kDays[tm.tm_wday],
                    tm.tm_mday, kMonths[tm.tm_mon], tm.tm_year + 1900, tm.tm_hour, tm.tm_min,
                    tm.tm_sec, zone);
      break;
    case 1:
      std::snprintf(buf, sizeof buf, "%s, %02d-%s-%02d %02d:%02d:%02d %s", kDays[tm.tm_wday],
                    tm.tm_mday, kMonths[tm.tm_mon], tm.tm_year % 100, tm.tm_hour, tm.tm_min,
                    tm.tm_sec, zone);
      break;
    default:  // asctime carries no zone: UTC
      std::snprintf(buf, sizeof buf, "%.3s %s %2d %02d:%02d:%02d %04d", kDays[tm.tm_wday],
                    kMonths[tm.tm_mon], tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                    tm.tm_year + 1900);
      break;
  }
  return buf;
}

// An independent reader: Python's email.utils.
TEST(DatesCrossCheck, AgreesWithPythonEmailUtils) {
  if (std::system("python3 -c 'import email.utils' >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "python3 is not installed";
  ZoneGuard zone("Europe/Berlin");
  std::mt19937_64 rng(20261209);
  // Two-digit years: this reader and Python agree from 1969 to 2049 (Python reads
  // 50..68 as 2050..2068), so the instants stay in that window.
  const std::int64_t lo = -364LL * 86400, hi = 2461449600LL;  // 1969 .. 2048
  const int offsets[] = {0, 0, 60, -300, 330, -210, 765, -720};
  std::vector<std::string> texts;
  std::vector<std::int64_t> ours, wanted;
  for (int i = 0; i < 300; ++i) {
    const std::int64_t unix =
        lo + static_cast<std::int64_t>(rng() % static_cast<std::uint64_t>(hi - lo));
    const int form = i % 3;
    const int offset = form == 2 ? 0 : offsets[rng() % 8];
    texts.push_back(FormatForm(form, unix, offset));
    ours.push_back(UnixOf(texts.back()));
    wanted.push_back(unix);
    EXPECT_EQ(ours.back(), unix) << texts.back();
    // Writing it back gives the same second, for this reader and for Python.
    texts.push_back(FormatHttpDate(ParseHttpDate(texts.back())));
    ours.push_back(UnixOf(texts.back()));
    wanted.push_back(unix);
    EXPECT_EQ(ours.back(), unix) << texts.back();
  }
  const std::string dir = ::testing::TempDir();
  const std::string input = dir + "/http_dates.txt";
  const std::string script = dir + "/http_dates.py";
  {
    std::ofstream in(input);
    for (const auto& t : texts) in << t << "\n";
    std::ofstream py(script);
    py << "import sys, email.utils\n"
          "for line in open(sys.argv[1]):\n"
          "    d = email.utils.parsedate_to_datetime(line.strip())\n"
          "    print(int(d.timestamp()))\n";
  }
  FILE* p = popen(("TZ=UTC python3 " + script + " " + input).c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::string output;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) output.append(buf, n);
  ASSERT_EQ(pclose(p), 0);
  std::istringstream lines(output);
  std::int64_t theirs;
  std::size_t k = 0;
  while (lines >> theirs) {
    ASSERT_LT(k, texts.size());
    EXPECT_EQ(theirs, wanted[k]) << texts[k];
    ++k;
  }
  EXPECT_EQ(k, texts.size());
  std::remove(input.c_str());
  std::remove(script.c_str());
}

TEST(DatesRobustness, RandomAndTruncatedInput) {
  ZoneGuard zone("Europe/Berlin");
  std::mt19937 rng(99);
  const std::string alphabet = "0123456789 -:.,+TZAMPabcdefgnovNOVSunMonGMTEST\xC3\xA9\x89\xFF\t";
  const std::string seeds[] = {"Sun, 06 Nov 1994 08:49:37 GMT", "Sunday, 06-Nov-94 08:49:37 GMT",
                               "Sun Nov  6 08:49:37 1994", "1994-11-06T08:49:37.123+02:00",
                               "Thu, 01 Jan 1970 12:00:00 PM +0130"};
  int dates = 0;
  for (int round = 0; round < 5000; ++round) {
    std::string s;
    if (round % 2 == 0) {
      const std::string& seed = seeds[round % 5];
      s = seed.substr(0, rng() % (seed.size() + 1));
      for (int m = rng() % 3; m > 0 && !s.empty(); --m)
        s[rng() % s.size()] = alphabet[rng() % alphabet.size()];
    } else {
      for (std::size_t len = rng() % 40; len > 0; --len)
        s.push_back(alphabet[rng() % alphabet.size()]);
    }
    const TDateTime v = ParseHttpDate(s);
    EXPECT_TRUE(std::isfinite(v));
    if (v != 0) {
      ++dates;
      EXPECT_EQ(FormatHttpDate(v).size(), 29u) << s;
    }
  }
  EXPECT_GT(dates, 100);
  for (double odd : {0.0, -1e300, 1e300, 1.0 / 0.0, -700000.5, 2958465.99999})
    EXPECT_FALSE(FormatHttpDate(odd).empty());
}

}  // namespace
}  // namespace vto
