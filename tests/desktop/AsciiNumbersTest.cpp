// Covers desktop/AsciiNumbers.h: the digit syntax that ports, chunk sizes,
// address parts, escapes and header integers are read with.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <ostream>
#include <string_view>

#include "desktop/AsciiNumbers.h"

using namespace vto;

namespace vto {
void PrintTo(NumberParse r, std::ostream* os) {
  *os << (r == NumberParse::kNumber       ? "kNumber"
          : r == NumberParse::kNotANumber ? "kNotANumber"
                                          : "kOutOfRange");
}
}  // namespace vto

namespace {

constexpr auto kAny = std::numeric_limits<std::size_t>::max();
constexpr auto kMax64 = std::numeric_limits<std::uint64_t>::max();
constexpr auto kNumber = NumberParse::kNumber;
constexpr auto kNotANumber = NumberParse::kNotANumber;
constexpr auto kOutOfRange = NumberParse::kOutOfRange;

// A signed value as the row's unsigned column holds it.
constexpr std::uint64_t Bits(std::int64_t v) {
  return static_cast<std::uint64_t>(v);
}

struct NumberRow {
  std::string_view text;
  DigitSyntax syntax;
  bool sign;  // read through TakeSign and ParseInt64Digits in the syntax's base
  NumberParse result;
  std::uint64_t value;  // when result is kNumber
};

constexpr DigitSyntax kDec{};
constexpr DigitSyntax kHex{.Base = 16};
constexpr DigitSyntax kPort{.Base = 10, .MaxValue = 65535};
constexpr DigitSyntax kTenDigits{.Base = 10, .MaxDigits = 10, .MaxValue = 2147483647};
constexpr DigitSyntax kGroup{.Base = 16, .MaxDigits = 8, .MaxValue = 0xFFFF};
constexpr DigitSyntax kChunk{.Base = 16, .MaxValue = (std::uint64_t{1} << 60) - 1};

constexpr NumberRow kRows[] = {
    {"0", kDec, false, kNumber, 0},
    {"007", kDec, false, kNumber, 7},
    {"18446744073709551615", kDec, false, kNumber, kMax64},
    {"18446744073709551616", kDec, false, kOutOfRange, 0},
    {"", kDec, false, kNotANumber, 0},
    {" 1", kDec, false, kNotANumber, 0},  // no blanks
    {"1 ", kDec, false, kNotANumber, 0},
    {"+1", kDec, false, kNotANumber, 0},        // no sign without TakeSign
    {"1a", kDec, false, kNotANumber, 0},        // letters are hexadecimal only
    {"\xD9\xA1", kDec, false, kNotANumber, 0},  // a digit of another script
    {"65535", kPort, false, kNumber, 65535},
    {"65536", kPort, false, kOutOfRange, 0},
    {"0000000000080", kPort, false, kNumber, 80},                   // leading zeros without limit
    {"99999999999999999999999999", kPort, false, kOutOfRange, 0},   // no overflow
    {"99999999999999999999999999x", kPort, false, kNotANumber, 0},  // read to its end
    {"2147483647", kTenDigits, false, kNumber, 2147483647},
    {"2147483648", kTenDigits, false, kOutOfRange, 0},
    {"0000000009", kTenDigits, false, kNumber, 9},
    {"00000000009", kTenDigits, false, kNotANumber, 0},  // leading zeros count
    {"fFfF", kGroup, false, kNumber, 0xFFFF},
    {"0000ffff", kGroup, false, kNumber, 0xFFFF},
    {"10000", kGroup, false, kOutOfRange, 0},
    {"000000001", kGroup, false, kNotANumber, 0},
    {"1g", kGroup, false, kNotANumber, 0},
    {"FFFFFFFFFFFFFFF", kChunk, false, kNumber, (std::uint64_t{1} << 60) - 1},
    {"1000000000000000", kChunk, false, kOutOfRange, 0},
    {"00000000000000000000001a", kChunk, false, kNumber, 26},
    {"5", {.Base = 10, .MaxValue = 0}, false, kOutOfRange, 0},
    {"0", {.Base = 10, .MaxValue = 0}, false, kNumber, 0},
    {"17", {.Base = 8}, false, kNumber, 15},
    {"8", {.Base = 8}, false, kNotANumber, 0},
    {"ffffffffffffffff", kHex, false, kNumber, kMax64},
    {"+42", kDec, true, kNumber, 42},
    {"-42", kDec, true, kNumber, Bits(-42)},
    {"9223372036854775807", kDec, true, kNumber, Bits(std::numeric_limits<std::int64_t>::max())},
    {"9223372036854775808", kDec, true, kOutOfRange, 0},
    {"-9223372036854775808", kDec, true, kNumber, Bits(std::numeric_limits<std::int64_t>::min())},
    {"-9223372036854775809", kDec, true, kOutOfRange, 0},
    {"-8000000000000000", kHex, true, kNumber, Bits(std::numeric_limits<std::int64_t>::min())},
    {"8000000000000000", kHex, true, kOutOfRange, 0},
    {"-", kDec, true, kNotANumber, 0},
    {"--1", kDec, true, kNotANumber, 0},
    {"-+1", kDec, true, kNotANumber, 0},
};

}  // namespace

TEST(NumberSyntax, DigitsBaseLengthAndRange) {
  for (const NumberRow& row : kRows) {
    SCOPED_TRACE(testing::Message() << "\"" << row.text << "\" base " << row.syntax.Base
                                    << (row.sign ? " signed" : ""));
    std::uint64_t value = 12345;
    NumberParse result;
    if (row.sign) {
      std::string_view digits = row.text;
      const bool negative = TakeSign(digits);
      std::int64_t signed_value = 12345;
      result = ParseInt64Digits(digits, row.syntax.Base, negative, signed_value);
      value = Bits(signed_value);
    } else {
      result = ParseUnsigned(row.text, row.syntax, value);
    }
    EXPECT_EQ(result, row.result);
    // A value is given only with a number; otherwise what was there stays.
    EXPECT_EQ(value, row.result == kNumber ? row.value : 12345u);
  }
}
