#include "http/IdText.h"

#include <limits>

#include "desktop/AsciiNumbers.h"
#include "desktop/TextCodec.h"

namespace vto::http_text {

namespace {

// Cuts the mark of hexadecimal digits ("$", "x" or "0x", either case) off the
// start of the text; the base the digits are in.
unsigned TakeBasePrefix(std::string_view& s) {
  if (!s.empty() && (s[0] == '$' || s[0] == 'x' || s[0] == 'X')) {
    s.remove_prefix(1);
    return 16;
  }
  if (s.size() >= 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    s.remove_prefix(2);
    return 16;
  }
  return 10;
}

}  // namespace

bool TryStrToInt64(std::string_view s, std::int64_t& value) {
  const bool negative = TakeSign(s);
  const unsigned base = TakeBasePrefix(s);
  return ParseInt64Digits(s, base, negative, value) == NumberParse::kNumber;
}

bool IsIntegerText(std::string_view s) {
  TakeSign(s);
  const unsigned base = TakeBasePrefix(s);
  std::uint64_t value = 0;
  return ParseUnsigned(s, {.Base = base}, value) != NumberParse::kNotANumber;
}

bool TryStrToInt32(std::string_view s, std::int32_t& value) {
  std::int64_t v;
  if (!TryStrToInt64(s, v) || v < std::numeric_limits<std::int32_t>::min() ||
      v > std::numeric_limits<std::int32_t>::max())
    return false;
  value = static_cast<std::int32_t>(v);
  return true;
}

bool SameName(std::string_view a, std::string_view b) {
  // The case rules pair letters whose UTF-8 forms have one length, so texts of
  // different lengths never match.
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto ca = static_cast<unsigned char>(a[i]);
    const auto cb = static_cast<unsigned char>(b[i]);
    if ((ca | cb) >= 0x80) return SameText(a, b);
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  }
  return true;
}

}  // namespace vto::http_text
