#include "desktop/DateTime.h"

#include <cmath>
#include <ctime>

#if defined(_WIN32)
#include "desktop/WinApi.h"
#endif

namespace vto {

namespace {
// Days from 1970-01-01 to the civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, int& year, int& month, int& day) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(y + (month <= 2));
}

// Whole milliseconds since 1899-12-30 00:00, rounded; clamped to a sane range so
// that no conversion overflows.
std::int64_t ToMillis(TDateTime value) {
  if (std::isnan(value)) return 0;
  constexpr double kLimit = 2958466.0 * kMSecsPerDay;  // beyond 9999-12-31
  double ms = std::round(value * kMSecsPerDay);
  if (ms > kLimit) ms = kLimit;
  if (ms < -kLimit) ms = -kLimit;
  return static_cast<std::int64_t>(ms);
}

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
  std::int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}
}  // namespace

bool IsLeapYear(int year) {
  return (year % 4 == 0) && (year % 100 != 0 || year % 400 == 0);
}

int DaysInMonth(int year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  return kDays[month - 1] + (month == 2 && IsLeapYear(year) ? 1 : 0);
}

bool IsValidDate(int year, int month, int day) {
  return year >= 1 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 &&
         day <= DaysInMonth(year, month);
}

bool IsValidTime(int hour, int minute, int second, int msec) {
  return hour >= 0 && hour < 24 && minute >= 0 && minute < 60 && second >= 0 && second < 60 &&
         msec >= 0 && msec < 1000;
}

TDateTime EncodeDate(int year, int month, int day) {
  return static_cast<double>(
             DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day))) +
         kUnixDateDelta;
}

TDateTime EncodeTime(int hour, int minute, int second, int msec) {
  return (((hour * 60.0 + minute) * 60.0 + second) * 1000.0 + msec) / kMSecsPerDay;
}

bool TryEncodeDate(int year, int month, int day, TDateTime& result) {
  if (!IsValidDate(year, month, day)) return false;
  result = EncodeDate(year, month, day);
  return true;
}

bool TryEncodeTime(int hour, int minute, int second, int msec, TDateTime& result) {
  if (!IsValidTime(hour, minute, second, msec)) return false;
  result = EncodeTime(hour, minute, second, msec);
  return true;
}

void DecodeDateTime(TDateTime value, int& year, int& month, int& day, int& hour, int& minute,
                    int& second, int& msec) {
  const std::int64_t ms = ToMillis(value);
  const std::int64_t days = FloorDiv(ms, 86400000);
  std::int64_t rest = ms - days * 86400000;
  CivilFromDays(days - 25569, year, month, day);
  hour = static_cast<int>(rest / 3600000);
  rest %= 3600000;
  minute = static_cast<int>(rest / 60000);
  rest %= 60000;
  second = static_cast<int>(rest / 1000);
  msec = static_cast<int>(rest % 1000);
}

void DecodeDate(TDateTime value, int& year, int& month, int& day) {
  int h, n, s, ms;
  DecodeDateTime(value, year, month, day, h, n, s, ms);
}

void DecodeTime(TDateTime value, int& hour, int& minute, int& second, int& msec) {
  int y, m, d;
  DecodeDateTime(value, y, m, d, hour, minute, second, msec);
}

int DayOfWeek(TDateTime value) {
  const std::int64_t days = FloorDiv(ToMillis(value), 86400000);
  // 1899-12-30 was a Saturday (7).
  return static_cast<int>(((days % 7) + 7 + 6) % 7) + 1;
}

TDateTime UnixToDateTime(std::int64_t seconds) {
  return static_cast<double>(seconds) / kSecsPerDay + kUnixDateDelta;
}

std::int64_t DateTimeToUnix(TDateTime value) {
  const std::int64_t ms = ToMillis(value) - 25569LL * 86400000LL;
  return FloorDiv(ms + 500, 1000);
}

#if defined(_WIN32)
namespace {
// 100-nanosecond ticks of a FILETIME from 1601-01-01 to 1899-12-30.
constexpr double kFileTimeDays1899 = 109205.0;

bool ToFileTicks(const SYSTEMTIME& st, std::int64_t& ticks) {
  FILETIME ft{};
  if (!SystemTimeToFileTime(&st, &ft)) return false;
  ticks = static_cast<std::int64_t>((static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) |
                                    ft.dwLowDateTime);
  return true;
}

// The zone's rules for a given year. GetTimeZoneInformationForYear is looked up
// when first needed (not every system that runs the program has it); without
// it the zone's current rules stand for every year.
bool ZoneRulesForYear(int year, TIME_ZONE_INFORMATION& rules) {
  using ForYear = BOOL(WINAPI*)(USHORT, PDYNAMIC_TIME_ZONE_INFORMATION, LPTIME_ZONE_INFORMATION);
  static const ForYear for_year = [] {
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    if (kernel == nullptr) return ForYear{nullptr};
    return reinterpret_cast<ForYear>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "GetTimeZoneInformationForYear")));
  }();
  if (for_year != nullptr && for_year(static_cast<USHORT>(year), nullptr, &rules)) return true;
  return GetTimeZoneInformation(&rules) != TIME_ZONE_ID_INVALID;
}
}  // namespace

int LocalOffsetSecondsAtUtc(TDateTime utc) {
  int year, month, day, hour, minute, second, msec;
  DecodeDateTime(utc, year, month, day, hour, minute, second, msec);
  TIME_ZONE_INFORMATION rules{};
  // Before 1601 (or past what SYSTEMTIME holds) there are no rules: the standard bias.
  if (year < 1601 || year > 30827) {
    if (GetTimeZoneInformation(&rules) == TIME_ZONE_ID_INVALID) return 0;
    return -static_cast<int>(rules.Bias + rules.StandardBias) * 60;
  }
  if (!ZoneRulesForYear(year, rules)) return 0;
  SYSTEMTIME at{};
  at.wYear = static_cast<WORD>(year);
  at.wMonth = static_cast<WORD>(month);
  at.wDay = static_cast<WORD>(day);
  at.wHour = static_cast<WORD>(hour);
  at.wMinute = static_cast<WORD>(minute);
  at.wSecond = static_cast<WORD>(second);
  at.wMilliseconds = static_cast<WORD>(msec);
  SYSTEMTIME local{};
  if (!SystemTimeToTzSpecificLocalTime(&rules, &at, &local)) return 0;
  std::int64_t utc_ticks = 0, local_ticks = 0;
  if (!ToFileTicks(at, utc_ticks) || !ToFileTicks(local, local_ticks)) return 0;
  return static_cast<int>((local_ticks - utc_ticks) / 10000000);
}
#else
int LocalOffsetSecondsAtUtc(TDateTime utc) {
  const std::time_t t = static_cast<std::time_t>(DateTimeToUnix(utc));
  std::tm tm{};
  if (!localtime_r(&t, &tm)) return 0;
  return static_cast<int>(tm.tm_gmtoff);  // seconds: some zones were not whole minutes
}
#endif

int LocalOffsetSecondsAtLocal(TDateTime local) {
  // First guess with the offset at the same reading taken as UTC, then correct once.
  int offset = LocalOffsetSecondsAtUtc(local);
  offset = LocalOffsetSecondsAtUtc(local - offset / kSecsPerDay);
  return offset;
}

TDateTime UtcToLocal(TDateTime utc) {
  return utc + LocalOffsetSecondsAtUtc(utc) / kSecsPerDay;
}

TDateTime LocalToUtc(TDateTime local) {
  return local - LocalOffsetSecondsAtLocal(local) / kSecsPerDay;
}

#if defined(_WIN32)
TDateTime NowUtc() {
  FILETIME ft{};
  GetSystemTimePreciseAsFileTime(&ft);
  const auto ticks = (static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  return static_cast<double>(ticks) / (kMSecsPerDay * 10000.0) - kFileTimeDays1899;
}
#else
TDateTime NowUtc() {
  std::timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return (static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9) / kSecsPerDay + kUnixDateDelta;
}
#endif

TDateTime Now() {
  return UtcToLocal(NowUtc());
}

}  // namespace vto
