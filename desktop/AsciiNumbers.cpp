#include "desktop/AsciiNumbers.h"

namespace vto {

NumberParse ParseUnsigned(std::string_view s, const DigitSyntax& syntax, std::uint64_t& value) {
  if (s.empty() || s.size() > syntax.MaxDigits) return NumberParse::kNotANumber;
  const std::uint64_t base = syntax.Base;
  std::uint64_t v = 0;
  bool above = false;
  // Every character is looked at: a text that goes on with a non-digit after
  // its value has grown too large is no number at all.
  for (char c : s) {
    const int d = HexDigitValue(c);
    if (d < 0 || static_cast<unsigned>(d) >= syntax.Base) return NumberParse::kNotANumber;
    const auto digit = static_cast<std::uint64_t>(d);
    if (above || digit > syntax.MaxValue || v > (syntax.MaxValue - digit) / base) {
      above = true;
      continue;
    }
    v = v * base + digit;
  }
  if (above) return NumberParse::kOutOfRange;
  value = v;
  return NumberParse::kNumber;
}

bool TakeSign(std::string_view& s) {
  if (s.empty() || (s.front() != '+' && s.front() != '-')) return false;
  const bool negative = s.front() == '-';
  s.remove_prefix(1);
  return negative;
}

NumberParse ParseInt64Digits(std::string_view digits, unsigned base, bool negative,
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
