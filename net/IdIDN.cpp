#include "net/IdIDN.h"

#include <cstdint>
#include <limits>
#include <vector>

#include "desktop/TextCodec.h"

namespace vto {

namespace {

constexpr std::uint32_t kBase = 36, kTMin = 1, kTMax = 26, kSkew = 38, kDamp = 700,
                        kInitialBias = 72, kInitialN = 128;

std::uint32_t Adapt(std::uint32_t delta, std::uint32_t points, bool first) {
  delta = first ? delta / kDamp : delta / 2;
  delta += delta / points;
  std::uint32_t k = 0;
  while (delta > ((kBase - kTMin) * kTMax) / 2) {
    delta /= kBase - kTMin;
    k += kBase;
  }
  return k + ((kBase - kTMin + 1) * delta) / (delta + kSkew);
}

char Digit(std::uint32_t d) {
  return static_cast<char>(d < 26 ? 'a' + d : '0' + (d - 26));
}

bool Decode(std::string_view utf8, std::vector<char32_t>& out) {
  for (std::size_t i = 0; i < utf8.size();) {
    char32_t cp;
    if (!DecodeUtf8(utf8, i, cp)) return false;
    out.push_back(cp);
  }
  return true;
}

bool Encode(const std::vector<char32_t>& input, std::string& output) {
  constexpr std::uint32_t kMax = std::numeric_limits<std::uint32_t>::max();
  std::uint32_t n = kInitialN, delta = 0, bias = kInitialBias;
  std::uint32_t basic = 0;
  for (char32_t c : input) {
    if (c < 0x80) {
      output += static_cast<char>(c);
      ++basic;
    }
  }
  std::uint32_t handled = basic;
  if (basic > 0) output += '-';
  const auto length = static_cast<std::uint32_t>(input.size());
  while (handled < length) {
    std::uint32_t m = kMax;
    for (char32_t c : input) {
      if (c >= n && c < m) m = c;
    }
    if (m - n > (kMax - delta) / (handled + 1)) return false;
    delta += (m - n) * (handled + 1);
    n = m;
    for (char32_t c : input) {
      if (c < n) {
        if (delta == kMax) return false;
        ++delta;
      }
      if (c == n) {
        std::uint32_t q = delta;
        for (std::uint32_t k = kBase;; k += kBase) {
          std::uint32_t t = k <= bias ? kTMin : (k >= bias + kTMax ? kTMax : k - bias);
          if (q < t) break;
          output += Digit(t + (q - t) % (kBase - t));
          q = (q - t) / (kBase - t);
        }
        output += Digit(q);
        bias = Adapt(delta, handled + 1, handled == basic);
        delta = 0;
        ++handled;
      }
    }
    ++delta;
    ++n;
  }
  return true;
}

}  // namespace

std::string PunycodeEncode(std::string_view AUtf8) {
  std::vector<char32_t> input;
  std::string output;
  if (!Decode(AUtf8, input) || !Encode(input, output)) return std::string();
  return output;
}

std::string HostToAscii(std::string_view AHost) {
  std::vector<char32_t> all;
  if (!Decode(AHost, all)) return std::string();
  std::string result;
  std::vector<char32_t> label;
  auto flush = [&]() -> bool {
    bool ascii = true;
    for (char32_t c : label) ascii = ascii && c < 0x80;
    if (ascii) {
      for (char32_t c : label) result += static_cast<char>(c);
    } else {
      std::vector<char32_t> lower;
      for (char32_t c : label) lower.push_back(LowerCaseChar(c));
      std::string encoded;
      if (!Encode(lower, encoded) || encoded.size() + 4 > 63) return false;
      result += "xn--" + encoded;
    }
    label.clear();
    return true;
  };
  for (char32_t c : all) {
    if (c == U'.' || c == 0x3002 || c == 0xFF0E || c == 0xFF61) {
      if (!flush()) return std::string();
      result += '.';
    } else {
      label.push_back(c);
    }
  }
  if (!flush()) return std::string();
  return result;
}

}  // namespace vto
