#include "desktop/TextCodec.h"

#include <array>
#include <climits>

#if defined(_WIN32)
#include "desktop/WinApi.h"
#endif

namespace vto {

bool DecodeUtf8(std::string_view s, std::size_t& i, char32_t& cp) {
  if (i >= s.size()) return false;
  const auto b0 = static_cast<unsigned char>(s[i]);
  if (b0 < 0x80) {
    cp = b0;
    ++i;
    return true;
  }
  std::size_t len;
  char32_t value;
  char32_t min;
  if ((b0 & 0xE0) == 0xC0) {
    len = 2, value = b0 & 0x1F, min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    len = 3, value = b0 & 0x0F, min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    len = 4, value = b0 & 0x07, min = 0x10000;
  } else {
    return false;
  }
  if (s.size() - i < len) return false;
  for (std::size_t k = 1; k < len; ++k) {
    const auto b = static_cast<unsigned char>(s[i + k]);
    if ((b & 0xC0) != 0x80) return false;
    value = (value << 6) | (b & 0x3F);
  }
  if (value < min || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return false;
  cp = value;
  i += len;
  return true;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const char32_t cp = DecodeUtf8OrReplacement(text, i);
    if (cp >= 0x10000) {
      out.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char32_t u = text[i];
    if (IsHighSurrogate(u) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
      AppendUtf8(out, JoinSurrogates(u, text[i + 1]));
      ++i;
    } else {
      AppendUtf8(out, u);  // a lone surrogate becomes U+FFFD there
    }
  }
  return out;
}

#if defined(_WIN32)
std::wstring Utf8ToWide(std::string_view text) {
  const std::u16string units = Utf8ToUtf16(text);
  return std::wstring(units.begin(), units.end());
}

std::string WideToUtf8(std::wstring_view text) {
  return Utf16ToUtf8(std::u16string(text.begin(), text.end()));
}

std::string SystemAnsiToText(std::string_view bytes) {
  if (bytes.empty() || bytes.size() > INT_MAX) return std::string();
  const int size = static_cast<int>(bytes.size());
  const int n = MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, nullptr, 0);
  if (n <= 0) return std::string();
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  if (MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, wide.data(), n) != n) return std::string();
  return WideToUtf8(wide);
}

std::string TextToSystemAnsi(std::string_view text) {
  const std::wstring wide = Utf8ToWide(text);
  if (wide.empty() || wide.size() > INT_MAX) return std::string();
  const int size = static_cast<int>(wide.size());
  const int n = WideCharToMultiByte(CP_ACP, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return std::string();
  std::string bytes(static_cast<std::size_t>(n), '\0');
  if (WideCharToMultiByte(CP_ACP, 0, wide.data(), size, bytes.data(), n, nullptr, nullptr) != n)
    return std::string();
  return bytes;
}
#endif

std::size_t FindInvalidUtf8(std::string_view s) {
  std::size_t i = 0;
  char32_t cp;
  while (i < s.size()) {
    if (!DecodeUtf8(s, i, cp)) return i;
  }
  return std::string_view::npos;
}

std::size_t Utf8Length(std::string_view s) {
  std::size_t i = 0, n = 0;
  char32_t cp;
  while (i < s.size()) {
    if (!DecodeUtf8(s, i, cp)) ++i;
    ++n;
  }
  return n;
}

char32_t DecodeUtf8OrReplacement(std::string_view s, std::size_t& i) {
  char32_t cp;
  if (DecodeUtf8(s, i, cp)) return cp;
  ++i;
  return 0xFFFD;
}

namespace {
// The bytes with each one that starts no valid sequence replaced; runs of valid
// sequences are copied as they stand.
std::string ReplaceInvalidUtf8(std::string_view s, std::string_view replacement) {
  std::string out;
  out.reserve(s.size());
  std::size_t i = 0, done = 0;
  char32_t cp;
  while (i < s.size()) {
    if (DecodeUtf8(s, i, cp)) continue;
    out.append(s.substr(done, i - done));
    out.append(replacement);
    done = ++i;
  }
  out.append(s.substr(done));
  return out;
}
}  // namespace

std::string Utf8ToText(std::string_view bytes) {
  return ReplaceInvalidUtf8(bytes, "\xEF\xBF\xBD");  // U+FFFD
}

std::string TextToUtf8(std::string_view text) {
  return ReplaceInvalidUtf8(text, "?");
}

std::string AnsiToText(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (char c : bytes) AppendUtf8(out, static_cast<unsigned char>(c));
  return out;
}

namespace {
// Text to one byte a character: a character above highest, or a byte that starts
// no valid sequence, becomes "?".
std::string TextToSingleBytes(std::string_view text, char32_t highest) {
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const char32_t cp = DecodeUtf8OrReplacement(text, i);  // U+FFFD is above highest
    out.push_back(cp <= highest ? static_cast<char>(cp) : '?');
  }
  return out;
}
}  // namespace

std::string TextToAnsi(std::string_view text) {
  return TextToSingleBytes(text, 0xFF);
}

std::string TextToAscii(std::string_view text) {
  return TextToSingleBytes(text, 0x7F);
}

std::string AsciiToText(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x80)
      out.push_back(c);
    else
      AppendUtf8(out, 0xFFFD);
  }
  return out;
}

namespace {
// Code page 437, bytes 0x80 to 0xFF.
constexpr std::array<char16_t, 128> kCp437High = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF,
    0x00EE, 0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA,
    0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557,
    0x255D, 0x255C, 0x255B, 0x2510, 0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559,
    0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4, 0x03A6, 0x0398, 0x03A9, 0x03B4,
    0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0};
}  // namespace

std::string Oem437ToText(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    AppendUtf8(out, b < 0x80 ? b : kCp437High[b - 0x80]);
  }
  return out;
}

char32_t UpperCaseChar(char32_t c) {
  if (c >= 'a' && c <= 'z') return c - 0x20;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 0x20;
  return c;
}

char32_t LowerCaseChar(char32_t c) {
  if (c >= 'A' && c <= 'Z') return c + 0x20;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 0x20;
  return c;
}

namespace {
template <class F>
std::string MapText(std::string_view text, F map) {
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  char32_t cp;
  while (i < text.size()) {
    if (!DecodeUtf8(text, i, cp)) {
      out.push_back(text[i++]);  // keep bytes that are not UTF-8 as they are
    } else {
      AppendUtf8(out, map(cp));
    }
  }
  return out;
}
}  // namespace

std::string UpperCase(std::string_view text) {
  return MapText(text, UpperCaseChar);
}
std::string LowerCase(std::string_view text) {
  return MapText(text, LowerCaseChar);
}

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() == b.size() && a == b) return true;
  return UpperCase(a) == UpperCase(b);
}

char AsciiUpper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 0x20) : c;
}
char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 0x20) : c;
}

std::string AsciiUpperCase(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = AsciiUpper(c);
  return out;
}

std::string AsciiLowerCase(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = AsciiLower(c);
  return out;
}

bool SameTextAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  return true;
}

bool StartsWithAsciiNoCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && SameTextAscii(s.substr(0, prefix.size()), prefix);
}

}  // namespace vto
