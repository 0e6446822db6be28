// Helpers shared by the document stream's sources; not part of its interface.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace vto::qel {

// The first occurrence of needle (m bytes, m > 0) in hay (n bytes), or null:
// the C library's memmem where it has one.
inline const void* FindBytes(const void* hay, std::size_t n, const void* needle, std::size_t m) {
#if defined(_WIN32)
  if (m == 0 || m > n) return m == 0 ? hay : nullptr;
  const auto* h = static_cast<const unsigned char*>(hay);
  const auto* p = static_cast<const unsigned char*>(needle);
  const unsigned char* const last = h + (n - m);
  for (const unsigned char* at = h; at <= last;) {
    const void* first = std::memchr(at, p[0], static_cast<std::size_t>(last - at) + 1);
    if (first == nullptr) return nullptr;
    at = static_cast<const unsigned char*>(first);
    if (std::memcmp(at, p, m) == 0) return at;
    ++at;
  }
  return nullptr;
#else
  return memmem(hay, n, needle, m);
#endif
}

// A byte-to-byte folding: two bytes match when their folded values are equal.
using FoldTable = std::array<unsigned char, 256>;

// ASCII letters a-z to A-Z only.
const FoldTable& AsciiUpperFold();
// The code page's letters: ASCII and the ISO-8859-1 letters to their capitals.
const FoldTable& Latin1UpperFold();
// Bit 5 set on every byte.
const FoldTable& Bit5Fold();

// Index of the first occurrence of the pattern in hay at or after from, bytes
// compared through the folding, or npos. The pattern is given unfolded.
std::size_t FoldFind(const FoldTable& fold, std::string_view hay, std::string_view pattern,
                     std::size_t from);

// A searcher prepared once for a pattern and used for many searches.
class FoldSearcher {
 public:
  FoldSearcher(const FoldTable& fold, std::string_view pattern);
  std::size_t Find(std::string_view hay, std::size_t from) const;

 private:
  enum class Kind { kOther, kAsciiUpper, kLatin1Upper, kBit5 };
  std::size_t FindScalar(std::string_view hay, std::size_t from) const;
  std::size_t FindVector(std::string_view hay, std::size_t from) const;
  bool MatchesAt(const unsigned char* h, std::size_t pos) const;

  const FoldTable& fold_;
  Kind kind_ = Kind::kOther;
  std::string pattern_;                 // folded
  std::string raw_;                     // as given, for the exact path
  bool exact_ = false;                  // every pattern byte has itself as its only match
  std::vector<unsigned char> singles_;  // for one-byte patterns: the matching bytes
  std::array<std::size_t, 256> shift_{};
};

// Splits bytes into lines: a line ends at CR LF, a lone CR or a lone LF; a NUL
// ends the data; a last line without terminator is a line; no data, no lines.
// Calls f(line) for each line.
template <typename CharT, typename F>
void ForEachLine(std::basic_string_view<CharT> data, F&& f) {
  std::size_t n = data.find(CharT(0));
  if (n == std::basic_string_view<CharT>::npos) n = data.size();
  std::size_t start = 0;
  std::size_t i = 0;
  while (i < n) {
    CharT c = data[i];
    if (c == CharT('\r') || c == CharT('\n')) {
      f(data.substr(start, i - start));
      ++i;
      if (c == CharT('\r') && i < n && data[i] == CharT('\n')) ++i;
      start = i;
    } else {
      ++i;
    }
  }
  if (start < n) f(data.substr(start, n - start));
}

}  // namespace vto::qel
