// TDateTime: days since 1899-12-30 as a double, the fraction being the time of
// day; 0 means no date. Calendar arithmetic is proleptic Gregorian. Local time and
// the offset from UTC come from the C library (tests pin TZ).
#pragma once

#include <cstdint>

namespace vto {

using TDateTime = double;

constexpr TDateTime kUnixDateDelta = 25569.0;  // 1970-01-01 as a TDateTime
constexpr double kSecsPerDay = 86400.0;
constexpr double kMSecsPerDay = 86400000.0;

bool IsValidDate(int year, int month, int day);
bool IsValidTime(int hour, int minute, int second, int msec);
// False (and result untouched) when the date or time is out of range.
bool TryEncodeDate(int year, int month, int day, TDateTime& result);
bool TryEncodeTime(int hour, int minute, int second, int msec, TDateTime& result);
// Whole days of a valid date; the caller has checked it.
TDateTime EncodeDate(int year, int month, int day);
TDateTime EncodeTime(int hour, int minute, int second, int msec);
bool IsLeapYear(int year);
int DaysInMonth(int year, int month);

// Split into date and time, rounding to the nearest millisecond.
void DecodeDateTime(TDateTime value, int& year, int& month, int& day, int& hour, int& minute,
                    int& second, int& msec);
void DecodeDate(TDateTime value, int& year, int& month, int& day);
void DecodeTime(TDateTime value, int& hour, int& minute, int& second, int& msec);
// 1 = Sunday ... 7 = Saturday.
int DayOfWeek(TDateTime value);

TDateTime UnixToDateTime(std::int64_t seconds);
// Rounded to the nearest second.
std::int64_t DateTimeToUnix(TDateTime value);

// The local zone's offset from UTC, in seconds east, at the given UTC instant.
int LocalOffsetSecondsAtUtc(TDateTime utc);
// The offset for a local wall-clock time (the offset in force at that moment).
int LocalOffsetSecondsAtLocal(TDateTime local);
TDateTime UtcToLocal(TDateTime utc);
TDateTime LocalToUtc(TDateTime local);
TDateTime NowUtc();
TDateTime Now();

}  // namespace vto
