// ASCII character tests, trimming, and the digits of numbers written in text
// (ports, chunk sizes, address parts, header values, escapes). The places that
// read numbers differ in base, length and range: those are parameters here, the
// rest of the syntax is the same everywhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string_view>

namespace vto {

constexpr bool IsAsciiDigit(char c) {
  return c >= '0' && c <= '9';
}
constexpr bool IsAsciiLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
// The value of a hexadecimal digit (letters in either case), or -1.
constexpr int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
constexpr bool IsAsciiHexDigit(char c) {
  return HexDigitValue(c) >= 0;
}
constexpr bool IsSpaceOrTab(char c) {
  return c == ' ' || c == '\t';
}

// The text without the characters for which blank(c) holds at its start, its
// end, or both.
template <class Blank>
constexpr std::string_view TrimLeftWhere(std::string_view s, Blank blank) {
  std::size_t i = 0;
  while (i < s.size() && blank(s[i])) ++i;
  return s.substr(i);
}
template <class Blank>
constexpr std::string_view TrimRightWhere(std::string_view s, Blank blank) {
  std::size_t n = s.size();
  while (n > 0 && blank(s[n - 1])) --n;
  return s.substr(0, n);
}
template <class Blank>
constexpr std::string_view TrimWhere(std::string_view s, Blank blank) {
  return TrimRightWhere(TrimLeftWhere(s, blank), blank);
}

// How the digits of an unsigned number are written: the base (2 to 16; above 10
// the letters a-f in either case), the most characters the text may have
// (leading zeros count), and the largest value it may stand for.
struct DigitSyntax {
  unsigned Base = 10;
  std::size_t MaxDigits = std::numeric_limits<std::size_t>::max();
  std::uint64_t MaxValue = std::numeric_limits<std::uint64_t>::max();
};

enum class NumberParse {
  kNumber,      // digits only, within the syntax's length and range
  kNotANumber,  // empty, a character that is no digit, or more digits than allowed
  kOutOfRange,  // written as a number, but above the largest value
};

// Reads the whole text as digits of the syntax: no sign, no blanks. The value is
// stored only for kNumber. A text that is no number is told apart from one that
// is too large, whatever its length.
inline NumberParse ParseUnsigned(std::string_view s, const DigitSyntax& syntax,
                                 std::uint64_t& value) {
  if (s.empty() || s.size() > syntax.MaxDigits) return NumberParse::kNotANumber;
  const std::uint64_t base = syntax.Base;
  // Below kSafe a step cannot wrap (base 16 at the most); above it each step is
  // checked against the 64-bit range, and the whole value against MaxValue.
  constexpr std::uint64_t kSafe = std::uint64_t{1} << 59;
  constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
  std::uint64_t v = 0;
  bool wrapped = false;
  // Every character is looked at: a text that goes on with a non-digit after
  // its value has grown too large is no number at all.
  for (char c : s) {
    const int d = IsAsciiDigit(c) ? c - '0' : HexDigitValue(c);
    if (d < 0 || static_cast<unsigned>(d) >= syntax.Base) return NumberParse::kNotANumber;
    const auto digit = static_cast<std::uint64_t>(d);
    if (wrapped) continue;
    if (v >= kSafe && v > (kMax - digit) / base) {
      wrapped = true;
      continue;
    }
    v = v * base + digit;
  }
  if (wrapped || v > syntax.MaxValue) return NumberParse::kOutOfRange;
  value = v;
  return NumberParse::kNumber;
}

// Cuts a "+" or "-" off the start of the text; true when it was "-".
inline bool TakeSign(std::string_view& s) {
  if (s.empty() || (s.front() != '+' && s.front() != '-')) return false;
  const bool negative = s.front() == '-';
  s.remove_prefix(1);
  return negative;
}
// The digits of a signed 64-bit number, its sign taken off already: from
// INT64_MIN (negative) up to INT64_MAX.
inline NumberParse ParseInt64Digits(std::string_view digits, unsigned base, bool negative,
                                    std::int64_t& value) {
  constexpr std::uint64_t kMinMagnitude = std::uint64_t{1} << 63;
  std::uint64_t magnitude = 0;
  const NumberParse r = ParseUnsigned(
      digits, {base, std::numeric_limits<std::size_t>::max(), kMinMagnitude - (negative ? 0 : 1)},
      magnitude);
  if (r != NumberParse::kNumber) return r;
  if (!negative)
    value = static_cast<std::int64_t>(magnitude);
  else if (magnitude == kMinMagnitude)
    value = std::numeric_limits<std::int64_t>::min();
  else
    value = -static_cast<std::int64_t>(magnitude);
  return NumberParse::kNumber;
}

}  // namespace vto
