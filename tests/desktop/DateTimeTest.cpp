// Tests of desktop/DateTime.cpp: the calendar of TDateTime and its local time under a pinned TZ.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string_view>

#include "desktop/DateTime.h"
#if !defined(_WIN32)
#include "tests/support/ZoneGuard.h"
#endif

using namespace vto;

TEST(DateTimeCalendar, KnownDaysAndRoundTrips) {
  EXPECT_EQ(EncodeDate(1899, 12, 30), 0.0);
  EXPECT_EQ(EncodeDate(1970, 1, 1), kUnixDateDelta);
  EXPECT_EQ(EncodeDate(2000, 3, 1) - EncodeDate(2000, 2, 28), 2.0);  // leap century
  EXPECT_EQ(EncodeDate(1900, 3, 1) - EncodeDate(1900, 2, 28), 1.0);  // not a leap year
  TDateTime d = 0;
  EXPECT_FALSE(TryEncodeDate(2023, 2, 29, d));
  EXPECT_FALSE(TryEncodeDate(0, 1, 1, d));
  EXPECT_FALSE(TryEncodeTime(24, 0, 0, 0, d));
  for (int y : {1, 1601, 1899, 1980, 2024, 2107, 9999}) {
    for (int m = 1; m <= 12; ++m) {
      int yy, mm, dd, h, n, s, ms;
      const TDateTime v = EncodeDate(y, m, DaysInMonth(y, m)) + EncodeTime(23, 59, 58, 999);
      DecodeDateTime(v, yy, mm, dd, h, n, s, ms);
      EXPECT_EQ(yy * 10000 + mm * 100 + dd, y * 10000 + m * 100 + DaysInMonth(y, m));
      EXPECT_EQ(h * 10000000 + n * 100000 + s * 1000 + ms, 235958999);
    }
  }
  EXPECT_EQ(DayOfWeek(EncodeDate(2026, 12, 9)), 4);  // a Wednesday
  EXPECT_EQ(DayOfWeek(EncodeDate(1899, 12, 30)), 7);
}

TEST(DateTimeCalendar, UnixSecondsBothWays) {
  EXPECT_EQ(DateTimeToUnix(UnixToDateTime(0)), 0);
  EXPECT_EQ(DateTimeToUnix(UnixToDateTime(1700000000)), 1700000000);
  EXPECT_EQ(DateTimeToUnix(UnixToDateTime(-86401)), -86401);
  EXPECT_EQ(DateTimeToUnix(EncodeDate(1994, 11, 6) + EncodeTime(8, 49, 37, 0)), 784111777);
}

TEST(DateTimeClock, NowUtcIsTheSystemClock) {
  const std::int64_t before = static_cast<std::int64_t>(std::time(nullptr));
  const std::int64_t now = DateTimeToUnix(NowUtc());
  const std::int64_t after = static_cast<std::int64_t>(std::time(nullptr));
  EXPECT_GE(now, before - 1);
  EXPECT_LE(now, after + 1);
}

#if defined(_WIN32)
// Run once per zone by CTest, with TZ set when the process starts: a Windows
// process takes its zone from the system and cannot change it for itself.
TEST(DateTimeZones, DISABLED_OffsetsOfTheZoneTheProcessStartedIn) {
  struct Row {
    const char* zone;
    int january;  // offset in seconds on 2024-01-15, 00:00 UTC
    int july;     // ... and on 2024-07-15
  };
  static constexpr Row kRows[] = {
      {"UTC", 0, 0},
      {"Europe/Berlin", 3600, 7200},
      {"America/St_Johns", -210 * 60, -150 * 60},
  };
  const char* zone = std::getenv("TZ");
  ASSERT_NE(zone, nullptr) << "run with TZ set";
  const Row* row = nullptr;
  for (const Row& r : kRows)
    if (std::string_view(r.zone) == zone) row = &r;
  ASSERT_NE(row, nullptr) << zone;
  EXPECT_EQ(LocalOffsetSecondsAtUtc(EncodeDate(2024, 1, 15)), row->january);
  EXPECT_EQ(LocalOffsetSecondsAtUtc(EncodeDate(2024, 7, 15)), row->july);
  const TDateTime local = EncodeDate(2024, 7, 15) + EncodeTime(14, 0, 0, 0);
  EXPECT_NEAR(LocalToUtc(local), local - row->july / kSecsPerDay, 1e-9);
  EXPECT_NEAR(UtcToLocal(LocalToUtc(local)), local, 1e-9);
  // The clock reads the same instant both ways.
  EXPECT_NEAR(Now() - NowUtc(), LocalOffsetSecondsAtUtc(NowUtc()) / kSecsPerDay, 2.0 / kSecsPerDay);
}
#else
using PinnedZone = vto::testing::ZoneGuard;

TEST(DateTimeZones, OffsetsFollowTheCLibrary) {
  {
    PinnedZone z("UTC");
    EXPECT_EQ(LocalOffsetSecondsAtUtc(EncodeDate(2024, 7, 1)), 0);
  }
  {
    PinnedZone z("Europe/Berlin");
    EXPECT_EQ(LocalOffsetSecondsAtUtc(EncodeDate(2024, 1, 15)), 60 * 60);
    EXPECT_EQ(LocalOffsetSecondsAtUtc(EncodeDate(2024, 7, 15)), 120 * 60);
    const TDateTime local = EncodeDate(2024, 7, 15) + EncodeTime(14, 0, 0, 0);
    EXPECT_NEAR(LocalToUtc(local), EncodeDate(2024, 7, 15) + EncodeTime(12, 0, 0, 0), 1e-9);
    EXPECT_NEAR(UtcToLocal(LocalToUtc(local)), local, 1e-9);
  }
  {
    PinnedZone z("America/St_Johns");  // -03:30 / -02:30
    EXPECT_EQ(LocalOffsetSecondsAtUtc(EncodeDate(2024, 1, 15)), -210 * 60);
  }
  {
    PinnedZone z("Africa/Monrovia");  // -00:44:30 until 1972
    EXPECT_EQ(LocalOffsetSecondsAtUtc(EncodeDate(1970, 6, 1)), -(44 * 60 + 30));
    const TDateTime utc = EncodeDate(1970, 6, 1) + EncodeTime(12, 0, 0, 0);
    EXPECT_NEAR(UtcToLocal(utc), EncodeDate(1970, 6, 1) + EncodeTime(11, 15, 30, 0), 1e-9);
    EXPECT_NEAR(LocalToUtc(UtcToLocal(utc)), utc, 1e-9);
  }
}
#endif
