// Tests of qelstream/QELStreamSearch.cpp.
// The folded searches under SearchFor, ChangeString and FindFolded, checked
// against a direct byte-by-byte search on random data.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "qelstream/QELStreamInternal.h"

namespace vto::qel {
namespace {

std::size_t Naive(const FoldTable& f, const std::string& hay, const std::string& pat,
                  std::size_t from) {
  for (std::size_t i = from; i + pat.size() <= hay.size(); ++i) {
    std::size_t k = 0;
    while (k < pat.size() &&
           f[static_cast<unsigned char>(hay[i + k])] == f[static_cast<unsigned char>(pat[k])])
      ++k;
    if (k == pat.size()) return i;
  }
  return std::string::npos;
}

TEST(FoldedSearch, AgreesWithADirectSearch) {
  const FoldTable* tables[] = {&AsciiUpperFold(), &Latin1UpperFold(), &Bit5Fold()};
  // Bytes that pair under some folding, and some that pair under none.
  const std::string alphabet = "aAzZ{[;\x1B\xE0\xC0\xF7\xD7\xFE\xDE\xFF\x7F_ 0\x10";
  std::mt19937 rng(1234);
  for (int trial = 0; trial < 3000; ++trial) {
    std::string hay(20 + rng() % 150, '\0');
    for (auto& c : hay) c = alphabet[rng() % alphabet.size()];
    std::size_t m = 1 + rng() % 5;
    std::size_t at = rng() % (hay.size() - m);
    std::string pat = hay.substr(at, m);
    for (auto& c : pat)
      if (rng() % 2) c = static_cast<char>(c ^ 0x20);
    std::size_t from = rng() % 4 == 0 ? rng() % hay.size() : 0;
    for (const FoldTable* t : tables)
      ASSERT_EQ(FoldFind(*t, hay, pat, from), Naive(*t, hay, pat, from))
          << "trial " << trial << " table " << (t - tables[0]);
  }
}

TEST(FoldedSearch, EveryBytePairAtTheVectorEdges) {
  // A match at each offset of a 16-byte block and in the scalar tail.
  const FoldTable* tables[] = {&AsciiUpperFold(), &Latin1UpperFold(), &Bit5Fold()};
  for (const FoldTable* t : tables) {
    for (int b = 0; b < 256; ++b) {
      std::string pat = {static_cast<char>(b), static_cast<char>(b ^ 0x20)};
      for (std::size_t pos : {0u, 15u, 16u, 31u, 40u, 46u}) {
        std::string hay(48, '\x01');
        hay[pos] = static_cast<char>(b ^ 0x20);
        hay[pos + 1] = static_cast<char>(b);
        ASSERT_EQ(FoldFind(*t, hay, pat, 0), Naive(*t, hay, pat, 0)) << b << " at " << pos;
      }
    }
  }
}

}  // namespace
}  // namespace vto::qel
