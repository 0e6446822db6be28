// Byte searches through a folding table (case rules, PCL bit-5 folding).
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "desktop/TextCodec.h"
#include "qelstream/QELStream.h"
#include "qelstream/QELStreamInternal.h"

namespace vto::qel {

namespace {

FoldTable MakeAsciiUpper() {
  FoldTable t{};
  for (int c = 0; c < 256; ++c) t[c] = static_cast<unsigned char>(AsciiUpper(static_cast<char>(c)));
  return t;
}

FoldTable MakeLatin1Upper() {
  FoldTable t{};
  for (int c = 0; c < 256; ++c) {
    char32_t u = UpperCaseChar(static_cast<char32_t>(c));
    // A capital outside the code page (there is none for these rules) keeps the byte.
    t[c] = static_cast<unsigned char>(u < 256 ? u : static_cast<char32_t>(c));
  }
  return t;
}

FoldTable MakeBit5() {
  FoldTable t{};
  for (int c = 0; c < 256; ++c) t[c] = static_cast<unsigned char>(c | 0x20);
  return t;
}

}  // namespace

const FoldTable& AsciiUpperFold() {
  static const FoldTable t = MakeAsciiUpper();
  return t;
}
const FoldTable& Latin1UpperFold() {
  static const FoldTable t = MakeLatin1Upper();
  return t;
}
const FoldTable& Bit5Fold() {
  static const FoldTable t = MakeBit5();
  return t;
}

FoldSearcher::FoldSearcher(const FoldTable& fold, std::string_view pattern)
    : fold_(fold), raw_(pattern) {
  if (&fold == &AsciiUpperFold())
    kind_ = Kind::kAsciiUpper;
  else if (&fold == &Latin1UpperFold())
    kind_ = Kind::kLatin1Upper;
  else if (&fold == &Bit5Fold())
    kind_ = Kind::kBit5;
  const std::size_t m = pattern.size();
  pattern_.resize(m);
  for (std::size_t i = 0; i < m; ++i)
    pattern_[i] = static_cast<char>(fold[static_cast<unsigned char>(pattern[i])]);
  // When no pattern byte is matched by any byte but itself, folding changes
  // nothing and the plain search does.
  std::array<int, 256> preimages{};
  for (int c = 0; c < 256; ++c) ++preimages[fold[c]];
  exact_ = true;
  for (char c : pattern_) {
    auto u = static_cast<unsigned char>(c);
    if (preimages[u] != 1 || fold[u] != u) exact_ = false;
  }
  if (m == 1) {
    for (int c = 0; c < 256; ++c)
      if (fold[c] == static_cast<unsigned char>(pattern_[0]))
        singles_.push_back(static_cast<unsigned char>(c));
  }
  shift_.fill(m);
  for (std::size_t i = 0; i + 1 < m; ++i)
    shift_[static_cast<unsigned char>(pattern_[i])] = m - 1 - i;
}

std::size_t FoldSearcher::Find(std::string_view hay, std::size_t from) const {
  constexpr auto npos = std::string_view::npos;
  const std::size_t m = pattern_.size();
  const std::size_t n = hay.size();
  if (m == 0 || from > n || n - from < m) return npos;
  const char* base = hay.data();
  if (exact_) {
    const void* p = qel::FindBytes(base + from, n - from, raw_.data(), m);
    return p ? static_cast<std::size_t>(static_cast<const char*>(p) - base) : npos;
  }
  if (m == 1) {
    std::size_t best = npos;
    for (unsigned char c : singles_) {
      std::size_t limit = best == npos ? n : best;
      const void* p = std::memchr(base + from, c, limit - from);
      if (p) best = static_cast<std::size_t>(static_cast<const char*>(p) - base);
    }
    return best;
  }
  return FindVector(hay, from);
}

bool FoldSearcher::MatchesAt(const unsigned char* h, std::size_t pos) const {
  const auto* pat = reinterpret_cast<const unsigned char*>(pattern_.data());
  for (std::size_t i = 0; i < pattern_.size(); ++i)
    if (fold_[h[pos + i]] != pat[i]) return false;
  return true;
}

// Horspool over folded bytes.
std::size_t FoldSearcher::FindScalar(std::string_view hay, std::size_t from) const {
  const std::size_t m = pattern_.size();
  const std::size_t n = hay.size();
  const auto* h = reinterpret_cast<const unsigned char*>(hay.data());
  const auto* pat = reinterpret_cast<const unsigned char*>(pattern_.data());
  const unsigned char last = pat[m - 1];
  std::size_t pos = from;
  while (pos + m <= n) {
    unsigned char c = fold_[h[pos + m - 1]];
    if (c == last) {
      std::size_t i = 0;
      while (i + 1 < m && fold_[h[pos + i]] == pat[i]) ++i;
      if (i + 1 == m) return pos;
    }
    pos += shift_[c];
  }
  return std::string_view::npos;
}

#if defined(__SSE2__)
namespace {

// Bytes c with lo <= c <= lo + span, as a mask.
inline __m128i InRange(__m128i x, char lo, char span) {
  __m128i t = _mm_sub_epi8(x, _mm_set1_epi8(lo));
  return _mm_cmpeq_epi8(_mm_min_epu8(t, _mm_set1_epi8(span)), t);
}

}  // namespace
#endif

// Sixteen candidate positions at a time: the folded first and last pattern bytes
// are compared at once, and only positions where both match are checked whole.
std::size_t FoldSearcher::FindVector(std::string_view hay, std::size_t from) const {
#if defined(__SSE2__)
  if (kind_ == Kind::kOther) return FindScalar(hay, from);
  const std::size_t m = pattern_.size();
  const std::size_t n = hay.size();
  const auto* h = reinterpret_cast<const unsigned char*>(hay.data());
  const __m128i first = _mm_set1_epi8(pattern_[0]);
  const __m128i last = _mm_set1_epi8(pattern_[m - 1]);
  const __m128i bit5 = _mm_set1_epi8(0x20);
  const Kind kind = kind_;
  auto fold = [kind, bit5](__m128i x) {
    if (kind == Kind::kBit5) return _mm_or_si128(x, bit5);
    __m128i lower = InRange(x, 'a', 25);
    if (kind == Kind::kLatin1Upper) {
      __m128i accented = _mm_andnot_si128(_mm_cmpeq_epi8(x, _mm_set1_epi8(static_cast<char>(0xF7))),
                                          InRange(x, static_cast<char>(0xE0), 30));
      lower = _mm_or_si128(lower, accented);
    }
    return _mm_sub_epi8(x, _mm_and_si128(lower, bit5));
  };
  std::size_t i = from;
  for (; i + m + 15 <= n; i += 16) {
    __m128i a = fold(_mm_loadu_si128(reinterpret_cast<const __m128i*>(h + i)));
    __m128i b = fold(_mm_loadu_si128(reinterpret_cast<const __m128i*>(h + i + m - 1)));
    auto mask = static_cast<unsigned>(
        _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(a, first), _mm_cmpeq_epi8(b, last))));
    while (mask != 0) {
      std::size_t pos = i + static_cast<std::size_t>(__builtin_ctz(mask));
      if (MatchesAt(h, pos)) return pos;
      mask &= mask - 1;
    }
  }
  for (; i + m <= n; ++i)
    if (MatchesAt(h, i)) return i;
  return std::string_view::npos;
#else
  return FindScalar(hay, from);
#endif
}

std::size_t FoldFind(const FoldTable& fold, std::string_view hay, std::string_view pattern,
                     std::size_t from) {
  return FoldSearcher(fold, pattern).Find(hay, from);
}

}  // namespace vto::qel

namespace vto {

std::int32_t FindFolded(std::string_view pattern, std::string_view text, std::int32_t start) {
  if (pattern.empty()) return 0;
  if (start < 1) start = 1;
  const auto from = static_cast<std::size_t>(start - 1);
  std::size_t at = qel::FoldFind(qel::Bit5Fold(), text, pattern, from);
  return at == std::string_view::npos ? 0 : static_cast<std::int32_t>(at + 1);
}

}  // namespace vto
