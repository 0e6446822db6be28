#include "http/IdGlobalProtocols.h"

#include <cmath>
#include <cstdio>
#include <optional>

#include "desktop/AsciiNumbers.h"
#include "desktop/TextCodec.h"
#include "http/IdText.h"

namespace vto {

using namespace http_text;

namespace {

struct ZoneRow {
  std::string_view name;
  int minutes;
};

// The first matching row wins.
constexpr ZoneRow kZones[] = {
    {"A", 60},      {"ACDT", 630},  {"ACST", 570},  {"ACT", 480},   {"ADT", -180},   {"AEDT", 660},
    {"AEST", 600},  {"AFT", 270},   {"AKDT", -480}, {"AKST", -540}, {"AMST", -180},  {"AMST", 300},
    {"AMT", -240},  {"AMT", 240},   {"ART", -180},  {"AST", -240},  {"AST", 180},    {"AWDT", 540},
    {"AWST", 480},  {"AZOST", -60}, {"AZT", 240},   {"B", 120},     {"BDT", 480},    {"BIOT", 360},
    {"BIT", -720},  {"BOT", -240},  {"BRT", -180},  {"BST", 60},    {"BST", 360},    {"BTT", 360},
    {"C", 180},     {"CAT", 120},   {"CCT", 390},   {"CDT", 630},   {"CDT", -300},   {"CEDT", 120},
    {"CEST", 120},  {"CET", 60},    {"CHADT", 825}, {"CHAST", 765}, {"CHOT", 480},   {"ChST", 600},
    {"CHUT", 600},  {"CIST", -480}, {"CIT", 480},   {"CKT", -600},  {"CLST", -180},  {"CLT", -240},
    {"COST", -240}, {"COT", -300},  {"CST", 630},   {"CST", 570},   {"CST", -360},   {"CST", 480},
    {"CST", -300},  {"CT", 480},    {"CVT", -60},   {"CWST", 525},  {"CXT", 420},    {"D", 240},
    {"DAVT", 420},  {"DDUT", 600},  {"DFT", 60},    {"E", 300},     {"EASST", -300}, {"EAST", -360},
    {"EAT", 180},   {"ECT", -240},  {"ECT", -300},  {"EDT", 660},   {"EDT", -240},   {"EEDT", 180},
    {"EEST", 180},  {"EET", 120},   {"EGST", 0},    {"EGT", -60},   {"EIT", 540},    {"EST", 660},
    {"EST", 600},   {"EST", -300},  {"F", 360},     {"FET", 180},   {"FJT", 720},    {"FKST", -180},
    {"FKST", -180}, {"FKT", -240},  {"FNT", -120},  {"G", 420},     {"GALT", -360},  {"GAMT", -540},
    {"GET", 240},   {"GFT", -180},  {"GILT", 720},  {"GIT", -540},  {"GMT", 0},      {"GST", -120},
    {"GST", 240},   {"GYT", -240},  {"H", 480},     {"HAA", -180},  {"HAC", -300},   {"HADT", -540},
    {"HAE", -240},  {"HAEC", 120},  {"HAP", -420},  {"HAR", -360},  {"HAST", -600},  {"HAT", -150},
    {"HAY", -480},  {"HKT", 480},   {"HMT", 300},   {"HNA", -240},  {"HNC", -360},   {"HNE", -300},
    {"HNP", -480},  {"HNR", -420},  {"HNT", -210},  {"HNY", -540},  {"HOVT", 420},   {"HST", -600},
    {"I", 540},     {"ICT", 420},   {"IDT", 180},   {"IOT", 180},   {"IRDT", 270},   {"IRKT", 540},
    {"IRST", 210},  {"IST", 60},    {"IST", 330},   {"IST", 120},   {"JST", 540},    {"K", 600},
    {"KGT", 360},   {"KOST", 660},  {"KRAT", 420},  {"KST", 540},   {"L", 660},      {"LHST", 630},
    {"LHST", 660},  {"LINT", 840},  {"M", 720},     {"MAGT", 720},  {"MART", -570},  {"MAWT", 300},
    {"MDT", -360},  {"MEHSZ", 180}, {"MEST", 120},  {"MESZ", 120},  {"MET", 60},     {"MEZ", 60},
    {"MHT", 720},   {"MIST", 660},  {"MIT", -570},  {"MMT", 390},   {"MSD", 240},    {"MSK", 180},
    {"MST", -420},  {"MST", 480},   {"MST", 390},   {"MUT", 240},   {"MVT", 300},    {"MYT", 480},
    {"N", -60},     {"NCT", 660},   {"NDT", -150},  {"NFT", 690},   {"NPT", 345},    {"NST", -210},
    {"NT", -210},   {"NUT", -660},  {"NZDT", 780},  {"NZST", 720},  {"O", -120},     {"OMST", 420},
    {"ORAT", 300},  {"P", -180},    {"PDT", -420},  {"PET", -300},  {"PETT", 720},   {"PGT", 600},
    {"PHOT", 780},  {"PKT", 300},   {"PMDT", -120}, {"PMST", -180}, {"PONT", 660},   {"PST", -480},
    {"PST", 480},   {"PYST", -180}, {"PYT", -240},  {"Q", -240},    {"R", -300},     {"RET", 240},
    {"ROTT", -180}, {"S", -360},    {"SAKT", 660},  {"SAMT", 240},  {"SAST", 120},   {"SBT", 660},
    {"SCT", 240},   {"SGT", 480},   {"SLST", 330},  {"SRT", -180},  {"SST", -660},   {"SST", 480},
    {"SYOT", 180},  {"T", -420},    {"TAHT", -600}, {"THA", 420},   {"TFT", 300},    {"TJT", 300},
    {"TKT", 780},   {"TLT", 540},   {"TMT", 300},   {"TOT", 780},   {"TVT", 720},    {"U", -480},
    {"UCT", 0},     {"ULAT", 480},  {"UT", 0},      {"UTC", 0},     {"UYST", -120},  {"UYT", -180},
    {"UZT", 300},   {"V", -540},    {"VET", -270},  {"VLAT", 600},  {"VOLT", 240},   {"VOST", 360},
    {"VUT", 660},   {"W", -600},    {"WAKT", 720},  {"WAST", 120},  {"WAT", 60},     {"WDT", 540},
    {"WEDT", 60},   {"WEST", 60},   {"WET", 0},     {"WIT", 420},   {"WST", 540},    {"WST", 480},
    {"X", -660},    {"Y", -720},    {"YAKT", 600},  {"YEKT", 360},  {"Z", 0}};
static_assert(sizeof(kZones) / sizeof(kZones[0]) == 245);

// Rows of month spellings, each from January to December; empty cells never match.
constexpr std::string_view kMonths[8][12] = {
    {"JAN", "FEB", "MAR", "APR", "MAY", "JUN", "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"},
    {"", "", "", "", "", "JUNE", "JULY", "", "SEPT", "", "", ""},
    {"", "", "MRZ", "", "MAI", "", "", "", "", "OKT", "", "DEZ"},
    {"ENO", "FBRO", "MZO", "AB", "", "", "", "AGTO", "SBRE", "OBRE", "NBRE", "DBRE"},
    {"", "", "MRT", "", "MEI", "", "", "", "", "OKT", "", ""},
    {"JANV", "F\u00C9V", "MARS", "AVR", "MAI", "JUIN", "JUIL", "AO\u00DB", "SEPT", "", "",
     "D\u00C9C"},
    {"", "F\u00C9VR", "", "", "", "", "JUI", "AO\u00DBT", "", "", "", ""},
    {"", "", "", "", "MAJ", "", "", "", "AVG", "", "", ""},
};

constexpr const char* kDayNames[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonthNames[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

int Digits(std::string_view s, std::size_t at, std::size_t n) {
  int v = 0;
  for (std::size_t k = at; k < at + n; ++k) v = v * 10 + (s[k] - '0');
  return v;
}

bool AllDigits(std::string_view s, std::size_t at, std::size_t n) {
  if (at + n > s.size()) return false;
  for (std::size_t k = at; k < at + n; ++k)
    if (!IsAsciiDigit(s[k])) return false;
  return true;
}

std::string_view FirstWord(std::string_view s) {
  s = TrimLeftView(s);
  return FetchView(s, " ");
}

// The date and time as read, before the zone is applied; nullopt when the values
// make no date.
std::optional<TDateTime> Compose(int year, int month, int day, int hour, int minute, int second,
                                 int msec, std::string_view zoneText) {
  TDateTime date, time;
  if (!TryEncodeDate(year, month, day, date) || !TryEncodeTime(hour, minute, second, msec, time))
    return std::nullopt;
  const TDateTime utc = date + time - ZoneOffsetMinutes(FirstWord(zoneText)) / 1440.0;
  // The local zone's offset at that very instant (not today's), so that a summer
  // date read in winter lands on the right local hour.
  return UtcToLocal(utc);
}

// ISO 8601: nullopt when the text is not in that form.
std::optional<TDateTime> TryIso8601(std::string_view s, bool& impossible) {
  const std::size_t len = s.size();
  if (!AllDigits(s, 0, 4)) return std::nullopt;
  const int year = Digits(s, 0, 4);
  int month = 1, day = 1, hour = 0, minute = 0, second = 0, msec = 0;
  std::string_view zone;
  if (len > 4) {
    if (s[4] != '-' || !AllDigits(s, 5, 2)) return std::nullopt;
    month = Digits(s, 5, 2);
  }
  if (len > 7) {
    if (s[7] != '-' || !AllDigits(s, 8, 2)) return std::nullopt;
    day = Digits(s, 8, 2);
  }
  if (len > 10) {
    if (s[10] != 'T' || !AllDigits(s, 11, 2) || len < 14 || s[13] != ':' || !AllDigits(s, 14, 2) ||
        len <= 16)
      return std::nullopt;
    hour = Digits(s, 11, 2);
    minute = Digits(s, 14, 2);
    if (s[16] == ':') {
      if (!AllDigits(s, 17, 2) || len <= 19) return std::nullopt;
      second = Digits(s, 17, 2);
      if (s[19] == '.') {
        std::size_t k = 20;
        while (k < len && IsAsciiDigit(s[k])) ++k;
        if (k == 20 || k >= len) return std::nullopt;
        // A decimal fraction of the second: ".5" is half a second.
        int scale = 100;
        for (std::size_t f = 20; f < k && scale > 0; ++f, scale /= 10) msec += (s[f] - '0') * scale;
        // The zone begins at the character that ends the fraction ("Z", "+02:00").
        zone = s.substr(k);
      } else {
        zone = s.substr(19);
      }
    } else {
      zone = s.substr(16);
    }
  }
  auto r = Compose(year, month, day, hour, minute, second, msec, zone);
  if (!r) impossible = true;
  return r;
}

bool StartsWithWeekday(std::string_view s) {
  static constexpr const char* kDays[7] = {"SUN", "MON", "TUE", "WED", "THU", "FRI", "SAT"};
  if (s.size() < 3) return false;
  for (const char* d : kDays)
    if (SameTextAscii(s.substr(0, 3), d)) return true;
  return false;
}

// Finds "AM" or "PM" standing on its own (not inside a word such as a zone name).
std::size_t FindMeridiem(std::string_view s, std::string_view marker) {
  std::size_t p = s.find(marker);
  while (p != std::string_view::npos) {
    const bool before = p > 0 && IsAsciiLetter(s[p - 1]);
    const bool after = p + 2 < s.size() && IsAsciiLetter(s[p + 2]);
    if (!before && !after) return p;
    p = s.find(marker, p + 1);
  }
  return std::string_view::npos;
}

TDateTime ParseOtherForms(std::string s) {
  // Weekday first: drop it.
  if (StartsWithWeekday(s)) {
    if (s.size() > 4 && s[3] == ',' && s[4] != ' ') s.insert(4, " ");
    const std::size_t sp = s.find(' ');
    s = sp == std::string::npos ? std::string() : TrimLeft(std::string_view(s).substr(sp + 1));
  }
  std::string_view rest = s;
  const std::size_t dash = rest.find('-');
  const std::size_t space = rest.find(' ');
  const std::string_view delim = (dash != std::string_view::npos && dash >= 1 &&
                                  (space == std::string_view::npos || dash < space))
                                     ? "-"
                                     : " ";
  std::string_view dayText, monthText;
  {
    std::string_view probe = rest;
    if (MonthNumber(FetchView(probe, delim)) != 0) {
      monthText = FetchView(rest, delim);
      rest = TrimLeftView(rest);
      dayText = FetchView(rest, delim);
    } else {
      dayText = FetchView(rest, delim);
      rest = TrimLeftView(rest);
      monthText = FetchView(rest, delim);
    }
    rest = TrimLeftView(rest);
  }
  // A field that is no number takes its default; one that is a number beyond any
  // range makes the date impossible rather than taking the default.
  auto field = [](std::string_view text, int def) {
    std::int32_t v;
    if (TryStrToInt32(text, v)) return static_cast<int>(v);
    return IsIntegerText(text) ? -1 : def;
  };
  const int day = field(dayText, 1);
  const int month = MonthNumber(monthText);

  std::string_view yearText = FetchView(rest, " ");
  std::string timeFirst;  // asctime order: the time stands before the year
  std::int32_t year;
  if (!TryStrToInt32(yearText, year)) {
    const std::string_view timeWord = yearText;
    rest = TrimLeftView(rest);
    yearText = FetchView(rest, " ");
    if (!TryStrToInt32(yearText, year)) return 0;
    timeFirst = std::string(timeWord) + " " + std::string(rest);
    rest = timeFirst;
  }
  std::size_t digits = 0;
  for (char c : yearText) digits += IsAsciiDigit(c) ? 1 : 0;
  if (digits == yearText.size()) {
    if (digits == 2)
      year += year < 50 ? 2000 : 1900;
    else if (digits == 3)
      year += 1900;
  }

  bool am = false, pm = false;
  std::size_t p = FindMeridiem(rest, "AM");
  if (p != std::string_view::npos) {
    am = true;
    rest = rest.substr(0, p);
  } else if ((p = FindMeridiem(rest, "PM")) != std::string_view::npos) {
    pm = true;
    rest = rest.substr(0, p);
  }

  rest = TrimLeftView(rest);
  const std::size_t dot = rest.find('.');
  const std::size_t sp2 = rest.find(' ');
  const std::string_view tdelim =
      (dot != std::string_view::npos && (sp2 == std::string_view::npos || dot < sp2)) ? "." : ":";
  int hour = 0, minute = 0, second = 0;
  if (rest.find(tdelim) != std::string_view::npos) {
    std::string_view timeWord = FetchView(rest, " ");
    hour = field(FetchView(timeWord, tdelim), 0);
    minute = field(FetchView(timeWord, tdelim), 0);
    second = field(timeWord, 0);
  }
  if (am && hour == 12) hour = 0;
  if (pm && hour >= 0 && hour < 12) hour += 12;
  const auto r = Compose(year, month, day, hour, minute, second, 0, TrimLeftView(rest));
  return r ? *r : 0;
}

}  // namespace

int MonthNumber(std::string_view AName) {
  if (AName.empty()) return 0;
  for (const auto& row : kMonths)
    for (int m = 0; m < 12; ++m)
      if (!row[m].empty() && SameName(AName, row[m])) return m + 1;
  return 0;
}

int ZoneOffsetMinutes(std::string_view AZone) {
  if (AZone.empty()) return 0;
  if (AZone[0] == '+' || AZone[0] == '-') {
    std::string w(AZone);
    if (w.size() == 6 && w[3] == ':') w.erase(3, 1);
    if (w.size() == 3) w += "00";
    if (w.size() != 5 || !AllDigits(w, 1, 4)) return 0;
    const int hh = Digits(w, 1, 2);
    const int mm = Digits(w, 3, 2);
    if (hh > 23 || mm > 59) return 0;
    const int minutes = hh * 60 + mm;
    return w[0] == '-' ? -minutes : minutes;
  }
  for (const auto& row : kZones)
    if (SameTextAscii(AZone, row.name)) return row.minutes;
  return 0;
}

TDateTime ParseHttpDate(std::string_view AText) {
  const std::string_view s = TrimView(AText);
  if (s.empty()) return 0;
  bool impossible = false;
  if (auto r = TryIso8601(s, impossible)) return *r;
  if (impossible) return 0;
  return ParseOtherForms(std::string(s));
}

std::string FormatHttpDate(TDateTime ADate) {
  if (!std::isfinite(ADate)) ADate = 0;
  const TDateTime utc = LocalToUtc(ADate);
  int y, mo, d, h, mi, s, ms;
  DecodeDateTime(utc, y, mo, d, h, mi, s, ms);
  // Round down to the whole second that the milliseconds belong to.
  char buf[64];
  std::snprintf(buf, sizeof buf, "%s, %02d %s %04d %02d:%02d:%02d GMT",
                kDayNames[DayOfWeek(utc) - 1], d, kMonthNames[(mo - 1) % 12], y, h, mi, s);
  return buf;
}

}  // namespace vto
