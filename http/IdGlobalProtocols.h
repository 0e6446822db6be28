// Internet dates of HTTP headers.
#pragma once

#include <string>
#include <string_view>

#include "desktop/DateTime.h"

namespace vto {

// Reads an Internet date (ISO 8601, RFC 1123, RFC 850, asctime and their common
// variants) and returns it in local time; 0 when the text is not a date.
TDateTime ParseHttpDate(std::string_view AText);
// Writes a local date-time in the RFC 1123 form with the zone "GMT".
std::string FormatHttpDate(TDateTime ADate);

// The offset in minutes east of UTC for a zone word ("+0200", "-05", "+01:00" or a
// zone name); 0 for an unknown or malformed word.
int ZoneOffsetMinutes(std::string_view AZone);
// 1 to 12 for a month name of any of the known spellings, 0 otherwise.
int MonthNumber(std::string_view AName);

}  // namespace vto
