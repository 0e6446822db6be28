// Small text helpers shared by the header and date code. "Blanks" are the code
// points 0x00 to 0x20.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "desktop/AsciiNumbers.h"

// Kept in their own namespace so that their plain names never meet another
// folder's helpers.
namespace vto::http_text {

inline bool IsBlank(char c) {
  return static_cast<unsigned char>(c) <= 0x20;
}

inline std::string_view TrimLeftView(std::string_view s) {
  return TrimLeftWhere(s, IsBlank);
}
inline std::string_view TrimRightView(std::string_view s) {
  return TrimRightWhere(s, IsBlank);
}
inline std::string_view TrimView(std::string_view s) {
  return TrimWhere(s, IsBlank);
}
inline std::string Trim(std::string_view s) {
  return std::string(TrimView(s));
}
inline std::string TrimLeft(std::string_view s) {
  return std::string(TrimLeftView(s));
}
inline std::string TrimRight(std::string_view s) {
  return std::string(TrimRightView(s));
}

// A header value goes out on one line: a line break or NUL inside it (from a URL
// or a server's redirect) would start a header line of its own on the wire, so
// each becomes a space.
inline std::string OneLine(std::string_view AText) {
  std::string s(AText);
  for (char& c : s)
    if (c == '\r' || c == '\n' || c == '\0') c = ' ';
  return s;
}

// Cuts T at the first D: returns the text before it and leaves T with what follows;
// without D the whole of T is returned and T becomes empty.
inline std::string_view FetchView(std::string_view& T, std::string_view D) {
  const std::size_t p = T.find(D);
  std::string_view piece;
  if (p == std::string_view::npos) {
    piece = T;
    T = {};
  } else {
    piece = T.substr(0, p);
    T.remove_prefix(p + D.size());
  }
  return piece;
}

// The integer syntax of header values: an optional sign followed by decimal
// digits, or by "$", "x" or "0x" and hexadecimal digits (either case). Nothing
// else may stand in the text; a value beyond the 64-bit range is no number.
bool TryStrToInt64(std::string_view s, std::int64_t& value);
bool TryStrToInt32(std::string_view s, std::int32_t& value);
// The same syntax without the range check: whether the text is written as an
// integer at all.
bool IsIntegerText(std::string_view s);
inline std::int64_t StrToInt64Def(std::string_view s, std::int64_t def) {
  std::int64_t v;
  return TryStrToInt64(s, v) ? v : def;
}
inline std::int32_t StrToIntDef(std::string_view s, std::int32_t def) {
  std::int32_t v;
  return TryStrToInt32(s, v) ? v : def;
}

// Header names and other protocol words compare without regard to case (ASCII
// letters and the letters of ISO-8859-1).
bool SameName(std::string_view a, std::string_view b);

}  // namespace vto::http_text
