// Line-based operations: the content read as text (byte-order marks honoured)
// and split into lines.
#include <string>
#include <vector>

#include "QELStream.h"
#include "QELStreamInternal.h"
#include "TextCodec.h"

namespace vto {

namespace {

enum class Encoding { kCodePage, kUtf8, kUtf16Le, kUtf16Be };

struct DecodedText {
  Encoding encoding = Encoding::kCodePage;
  std::u32string text;
};

DecodedText Decode(std::string_view bytes) {
  DecodedText d;
  auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  std::size_t i = 0;
  if (bytes.size() >= 3 && byte(0) == 0xEF && byte(1) == 0xBB && byte(2) == 0xBF) {
    d.encoding = Encoding::kUtf8;
    i = 3;
  } else if (bytes.size() >= 2 && byte(0) == 0xFF && byte(1) == 0xFE) {
    d.encoding = Encoding::kUtf16Le;
    i = 2;
  } else if (bytes.size() >= 2 && byte(0) == 0xFE && byte(1) == 0xFF) {
    d.encoding = Encoding::kUtf16Be;
    i = 2;
  }
  std::u32string& t = d.text;
  switch (d.encoding) {
    case Encoding::kCodePage:
      t.reserve(bytes.size());
      for (char c : bytes) t.push_back(static_cast<unsigned char>(c));
      break;
    case Encoding::kUtf8:
      t.reserve(bytes.size() - i);
      while (i < bytes.size()) {
        char32_t cp;
        if (!DecodeUtf8(bytes, i, cp)) {
          cp = 0xFFFD;  // an invalid byte reads as the replacement character
          ++i;
        }
        t.push_back(cp);
      }
      break;
    case Encoding::kUtf16Le:
    case Encoding::kUtf16Be: {
      const bool le = d.encoding == Encoding::kUtf16Le;
      auto unit = [&](std::size_t k) -> char32_t {
        return le ? byte(k) | (byte(k + 1) << 8) : (byte(k) << 8) | byte(k + 1);
      };
      t.reserve((bytes.size() - i) / 2 + 1);
      while (i + 1 < bytes.size()) {
        char32_t u = unit(i);
        i += 2;
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < bytes.size()) {
          char32_t v = unit(i);
          if (v >= 0xDC00 && v <= 0xDFFF) {
            i += 2;
            u = 0x10000 + ((u - 0xD800) << 10) + (v - 0xDC00);
          }
        }
        // A lone surrogate stays as it is, so that it is written back unchanged.
        t.push_back(u);
      }
      if (i < bytes.size()) t.push_back(0xFFFD);  // an odd last byte
      break;
    }
  }
  return d;
}

void Encode(Encoding encoding, std::u32string_view text, std::string& out) {
  switch (encoding) {
    case Encoding::kCodePage:
      for (char32_t c : text) out.push_back(c <= 0xFF ? static_cast<char>(c) : '?');
      break;
    case Encoding::kUtf8:
      for (char32_t c : text) AppendUtf8(out, c);
      break;
    case Encoding::kUtf16Le:
    case Encoding::kUtf16Be: {
      const bool le = encoding == Encoding::kUtf16Le;
      auto put = [&](char32_t u) {
        char lo = static_cast<char>(u & 0xFF), hi = static_cast<char>((u >> 8) & 0xFF);
        out.push_back(le ? lo : hi);
        out.push_back(le ? hi : lo);
      };
      for (char32_t c : text) {
        if (c >= 0x10000) {
          put(0xD800 + ((c - 0x10000) >> 10));
          put(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
          put(c);
        }
      }
      break;
    }
  }
}

const char* ByteOrderMark(Encoding encoding) {
  switch (encoding) {
    case Encoding::kUtf8:
      return "\xEF\xBB\xBF";
    case Encoding::kUtf16Le:
      return "\xFF\xFE";
    case Encoding::kUtf16Be:
      return "\xFE\xFF";
    default:
      return "";
  }
}

std::u32string TextToUtf32(std::string_view text) {
  std::u32string out;
  std::size_t i = 0;
  while (i < text.size()) {
    char32_t cp;
    if (!DecodeUtf8(text, i, cp)) {
      cp = 0xFFFD;
      ++i;
    }
    out.push_back(cp);
  }
  return out;
}

// The characters the stream treats as bad in document text: controls below the
// space other than the layout characters TAB, LF, FF and CR.
bool IsBadChar(char32_t c) {
  return c < 0x20 && c != '\t' && c != '\n' && c != '\f' && c != '\r';
}

}  // namespace

// Bytes from the current position to the end; a negative position reads from 0.
static std::string_view TailFromPosition(const char* memory, std::int32_t size,
                                         std::int64_t position) {
  if (position < 0) position = 0;
  if (position >= size) return {};
  return {memory + position, static_cast<std::size_t>(size - position)};
}

void TQELMemoryStream::DeleteLineContaining(std::string_view aStr) {
  DecodedText decoded = Decode(TailFromPosition(FMemory, FSize, FPosition));
  std::vector<std::u32string_view> lines;
  qel::ForEachLine(std::u32string_view(decoded.text),
                   [&](std::u32string_view line) { lines.push_back(line); });
  const std::u32string needle = TextToUtf32(aStr);
  std::string out = ByteOrderMark(decoded.encoding);
  static const std::u32string kCrLf = U"\r\n";
  for (std::size_t k = 0; k < lines.size(); ++k) {
    // The first line always stays; an empty aStr is in no line.
    if (k > 0 && !needle.empty() && lines[k].find(needle) != std::u32string_view::npos) continue;
    Encode(decoded.encoding, lines[k], out);
    Encode(decoded.encoding, kCrLf, out);
  }
  SetContent(out);
  SetPosition(0);
}

void TQELMemoryStream::ChangeCharsLessThanSpace(std::string_view aStr) {
  const std::string replacement = TextToAnsi(aStr);
  std::string out;
  out.reserve(static_cast<std::size_t>(FSize));
  for (char c : View()) {
    if (IsBadChar(static_cast<unsigned char>(c)))
      out += replacement;
    else
      out.push_back(c);
  }
  SetContent(out);
}

std::string TQELMemoryStream::DoFindBadChar() {
  DecodedText decoded = Decode(TailFromPosition(FMemory, FSize, FPosition));
  std::string report;
  std::size_t number = 0;
  qel::ForEachLine(std::u32string_view(decoded.text), [&](std::u32string_view line) {
    std::string bad;
    for (char32_t c : line)
      if (IsBadChar(c)) AppendUtf8(bad, c);
    if (!bad.empty()) {
      report += "(" + std::to_string(number) + ") ";
      for (char32_t c : line) AppendUtf8(report, c);
      report += " has invalid chars: " + bad + "\n";
    }
    ++number;
  });
  Seek(0, soEnd);
  return report;
}

}  // namespace vto
