// Conversions between text (UTF-8) and the byte encodings the system meets:
// the single-byte ANSI code page (ISO-8859-1), 7-bit ASCII on connections,
// and code page 437 for old zip names. Also the locale-free case rules.
// These conversions live here and nowhere else.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vto {

// Reads one UTF-8 sequence at s[i]; on success stores the code point, moves i past
// the sequence and returns true. Overlong forms, surrogates, values above U+10FFFF
// and truncated sequences are invalid: i is left unchanged and false is returned.
bool DecodeUtf8(std::string_view s, std::size_t& i, char32_t& cp);
// Appends the UTF-8 form of a code point (surrogates and values above U+10FFFF
// become U+FFFD).
void AppendUtf8(std::string& out, char32_t cp);
// Byte index of the first invalid UTF-8 sequence, or npos when the text is valid.
std::size_t FindInvalidUtf8(std::string_view s);
// Number of code points; an invalid byte counts as one.
std::size_t Utf8Length(std::string_view s);
// Reads one character at s[i] (i below s.size()) and moves i past it; a byte that
// starts no valid sequence reads as U+FFFD and moves i by one.
char32_t DecodeUtf8OrReplacement(std::string_view s, std::size_t& i);
// UTF-8 bytes as text: each byte that starts no valid sequence becomes U+FFFD.
std::string Utf8ToText(std::string_view bytes);
// Text as UTF-8 bytes: each byte that starts no valid sequence becomes "?".
std::string TextToUtf8(std::string_view text);

// UTF-16 surrogates, and the character a high and a low one stand for together.
constexpr bool IsHighSurrogate(char32_t u) {
  return u >= 0xD800 && u <= 0xDBFF;
}
constexpr bool IsLowSurrogate(char32_t u) {
  return u >= 0xDC00 && u <= 0xDFFF;
}
constexpr char32_t JoinSurrogates(char32_t high, char32_t low) {
  return 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00);
}

// UTF-16, the form text takes across the Windows API: an invalid UTF-8 byte
// becomes U+FFFD, and so does an unpaired surrogate on the way back.
std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);
#if defined(_WIN32)
// The same for wchar_t, which is a UTF-16 code unit on Windows.
std::wstring Utf8ToWide(std::string_view text);
std::string WideToUtf8(std::wstring_view text);
// File names that the system's "A" functions take and give are in the code page
// the system itself uses for them (CP_ACP), which may differ from the byte
// convention above: they are converted as the system would.
std::string SystemAnsiToText(std::string_view bytes);
std::string TextToSystemAnsi(std::string_view text);
#endif

// ANSI code page: byte b is character U+00bb, exact in both directions.
std::string AnsiToText(std::string_view bytes);
// Text to ANSI bytes: a character above U+00FF, or an invalid UTF-8 byte, becomes "?".
std::string TextToAnsi(std::string_view text);

// The connection's 7-bit encoding: characters from U+0080 up become "?" ...
std::string TextToAscii(std::string_view text);
// ... and bytes from 0x80 up become U+FFFD.
std::string AsciiToText(std::string_view bytes);

// OEM code page 437 (MS-DOS) bytes to text.
std::string Oem437ToText(std::string_view bytes);

// Case rules under "the user's locale": ASCII letters plus the ISO-8859-1 letters
// (à-þ except ÷ pair with À-Þ). Independent of the process locale.
char32_t UpperCaseChar(char32_t c);
char32_t LowerCaseChar(char32_t c);
std::string UpperCase(std::string_view text);
std::string LowerCase(std::string_view text);
bool SameText(std::string_view a, std::string_view b);
// ASCII letters only.
char AsciiUpper(char c);
char AsciiLower(char c);
std::string AsciiUpperCase(std::string_view s);
std::string AsciiLowerCase(std::string_view s);
bool SameTextAscii(std::string_view a, std::string_view b);
bool StartsWithAsciiNoCase(std::string_view s, std::string_view prefix);

}  // namespace vto
