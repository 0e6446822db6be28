// Base64 (RFC 4648 alphabet, "=" padding): a one-line encoder, a line-by-line
// decoder and a strict whole-string decoder.
#include <array>
#include <exception>
#include <limits>

#include "qelstream/QELStream.h"
#include "qelstream/QELStreamInternal.h"

namespace vto {

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

using ValueTable = std::array<unsigned char, 256>;

// Alphabet values; every other byte counts as 63, the value of "/".
ValueTable MakeLineValues() {
  ValueTable t;
  t.fill(63);
  for (int i = 0; i < 64; ++i)
    t[static_cast<unsigned char>(kAlphabet[i])] = static_cast<unsigned char>(i);
  return t;
}

// The strict decoder knows "+", digits and letters; everything else (also "/",
// "=", line breaks and spaces) counts as 63.
ValueTable MakeStrictValues() {
  ValueTable t;
  t.fill(63);
  for (int i = 0; i < 62; ++i)
    t[static_cast<unsigned char>(kAlphabet[i])] = static_cast<unsigned char>(i);
  t['+'] = 62;
  return t;
}

const ValueTable& LineValues() {
  static const ValueTable t = MakeLineValues();
  return t;
}

const ValueTable& StrictValues() {
  static const ValueTable t = MakeStrictValues();
  return t;
}

// Three bytes from four characters at p.
inline void DecodeGroup(const ValueTable& v, const char* p, char* out) {
  unsigned d0 = v[static_cast<unsigned char>(p[0])];
  unsigned d1 = v[static_cast<unsigned char>(p[1])];
  unsigned d2 = v[static_cast<unsigned char>(p[2])];
  unsigned d3 = v[static_cast<unsigned char>(p[3])];
  out[0] = static_cast<char>(((d0 << 2) | ((d1 >> 4) & 3)) & 0xFF);
  out[1] = static_cast<char>(((d1 << 4) | ((d2 >> 2) & 15)) & 0xFF);
  out[2] = static_cast<char>(((d2 & 3) << 6) | (d3 & 63));
}

// The encoding of data into out, which holds 4 * ((size + 2) / 3) bytes.
void EncodeBase64To(std::string_view data, char* out) {
  const std::size_t n = data.size();
  const auto* in = reinterpret_cast<const unsigned char*>(data.data());
  char* o = out;
  std::size_t i = 0;
  for (; i + 3 <= n; i += 3, o += 4) {
    unsigned b0 = in[i], b1 = in[i + 1], b2 = in[i + 2];
    o[0] = kAlphabet[b0 >> 2];
    o[1] = kAlphabet[((b0 & 3) << 4) | (b1 >> 4)];
    o[2] = kAlphabet[((b1 & 15) << 2) | (b2 >> 6)];
    o[3] = kAlphabet[b2 & 63];
  }
  if (i < n) {
    unsigned b0 = in[i], b1 = i + 1 < n ? in[i + 1] : 0;
    o[0] = kAlphabet[b0 >> 2];
    o[1] = kAlphabet[((b0 & 3) << 4) | (b1 >> 4)];
    o[2] = i + 1 < n ? kAlphabet[(b1 & 15) << 2] : '=';
    o[3] = '=';
  }
}

// The line-by-line decoding of data into out, which holds size / 4 * 3 bytes
// (lines never hold more than the data); returns the bytes decoded.
std::size_t DecodeBase64LinesTo(std::string_view data, char* out) {
  const ValueTable& v = LineValues();
  std::size_t used = 0;
  qel::ForEachLine(data, [&](std::string_view line) {
    const std::size_t groups = line.size() / 4;
    if (groups == 0) return;  // 1 to 3 characters contribute nothing
    char* o = out + used;
    for (std::size_t g = 0; g < groups; ++g) DecodeGroup(v, line.data() + 4 * g, o + 3 * g);
    used += 3 * groups;
    const std::size_t last = 4 * groups - 1;  // the last decoded character
    if (line[last] == '=') used -= line[last - 1] == '=' ? 2 : 1;
  });
  return used;
}

}  // namespace

std::string EncodeBase64(std::string_view data) {
  std::string out(4 * ((data.size() + 2) / 3), '\0');
  EncodeBase64To(data, out.data());
  return out;
}

std::string DecodeBase64Lines(std::string_view data) {
  std::string out(data.size() / 4 * 3, '\0');
  out.resize(DecodeBase64LinesTo(data, out.data()));
  return out;
}

std::string DecodeBase64(std::string_view data) {
  if (data.size() % 4 != 0) throw Exception("Base64: Incorrect string format");
  const ValueTable& v = StrictValues();
  std::string out;
  if (data.empty()) return out;
  const std::size_t groups = data.size() / 4;
  out.resize(3 * groups);
  for (std::size_t g = 0; g + 1 < groups; ++g)
    DecodeGroup(v, data.data() + 4 * g, out.data() + 3 * g);
  const char* p = data.data() + 4 * (groups - 1);
  char tail[3];
  DecodeGroup(v, p, tail);
  std::size_t keep = p[2] == '=' ? 1 : p[3] == '=' ? 2 : 3;
  out.resize(3 * (groups - 1));
  out.append(tail, keep);
  return out;
}

// Both work straight into the new content's block: the content and its new form
// are all there is in memory.
void TQELMemoryStream::Base64EncodeData() {
  const std::int64_t size = 4 * ((static_cast<std::int64_t>(FSize) + 2) / 3);
  if (size > std::numeric_limits<std::int32_t>::max())
    throw EStreamError("Out of memory while expanding memory stream");
  TQELMemoryStream out;
  out.SetSize(size);
  EncodeBase64To(View(), out.FMemory);
  TakeContentOf(out);
  FPosition = FSize;
}

void TQELMemoryStream::Base64DecodeData() {
  TQELMemoryStream out;
  try {
    out.SetSize(FSize / 4 * 3);
    out.SetSize(static_cast<std::int64_t>(DecodeBase64LinesTo(View(), out.FMemory)));
  } catch (const std::exception&) {
    SetContent(DecodeBase64(View()));
    return;
  }
  TakeContentOf(out);
  FPosition = FSize;
}

}  // namespace vto
