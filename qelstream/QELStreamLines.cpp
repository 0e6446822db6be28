// Line-based operations: the content read as text (byte-order marks honoured)
// and split into lines.
#include <cstring>
#include <string>

#include "desktop/TextCodec.h"
#include "qelstream/QELStream.h"
#include "qelstream/QELStreamInternal.h"

namespace vto {

namespace {

enum class Encoding { kCodePage, kUtf8, kUtf16Le, kUtf16Be };

// Text bytes: the encoding their byte-order mark names (the code page without
// one) and the bytes after the mark.
struct TextBytes {
  Encoding encoding = Encoding::kCodePage;
  std::string_view mark;
  std::string_view body;
};

TextBytes Classify(std::string_view bytes) {
  TextBytes t;
  if (bytes.starts_with("\xEF\xBB\xBF")) {
    t.encoding = Encoding::kUtf8;
    t.mark = bytes.substr(0, 3);
  } else if (bytes.starts_with("\xFF\xFE")) {
    t.encoding = Encoding::kUtf16Le;
    t.mark = bytes.substr(0, 2);
  } else if (bytes.starts_with("\xFE\xFF")) {
    t.encoding = Encoding::kUtf16Be;
    t.mark = bytes.substr(0, 2);
  }
  t.body = bytes.substr(t.mark.size());
  return t;
}

// Readers of one character at a time, at byte offset At: Next gives false at
// the end. An invalid byte reads as U+FFFD; a UTF-16 surrogate that has no
// partner stays as it is (it is written back unchanged); an odd last byte of
// UTF-16 is U+FFFD.
struct CodePageReader {
  std::string_view s;
  std::size_t At = 0;
  bool Next(char32_t& c) {
    if (At >= s.size()) return false;
    c = static_cast<unsigned char>(s[At++]);
    return true;
  }
};

struct Utf8Reader {
  std::string_view s;
  std::size_t At = 0;
  bool Next(char32_t& c) {
    if (At >= s.size()) return false;
    c = DecodeUtf8OrReplacement(s, At);
    return true;
  }
};

template <bool LittleEndian>
struct Utf16Reader {
  std::string_view s;
  std::size_t At = 0;
  char32_t Unit(std::size_t k) const {
    const auto a = static_cast<unsigned char>(s[k]), b = static_cast<unsigned char>(s[k + 1]);
    return LittleEndian ? a | (b << 8) : (a << 8) | b;
  }
  bool Next(char32_t& c) {
    if (At >= s.size()) return false;
    if (At + 1 >= s.size()) {
      c = 0xFFFD;
      ++At;
      return true;
    }
    c = Unit(At);
    At += 2;
    if (IsHighSurrogate(c) && At + 1 < s.size()) {
      const char32_t low = Unit(At);
      if (IsLowSurrogate(low)) {
        At += 2;
        c = JoinSurrogates(c, low);
      }
    }
    return true;
  }
};

// Calls f with a reader of the text's encoding over the given bytes.
template <typename F>
decltype(auto) WithReader(Encoding encoding, std::string_view bytes, F&& f) {
  switch (encoding) {
    case Encoding::kUtf8:
      return f(Utf8Reader{bytes});
    case Encoding::kUtf16Le:
      return f(Utf16Reader<true>{bytes});
    case Encoding::kUtf16Be:
      return f(Utf16Reader<false>{bytes});
    default:
      return f(CodePageReader{bytes});
  }
}

// The lines of the text, as byte ranges of the body: a line ends at CR LF, a
// lone CR or a lone LF; a NUL ends the text; a last line without terminator is
// a line; no text, no lines. Calls f(line) for each.
template <typename Reader, typename F>
void ForEachTextLine(Reader r, F&& f) {
  const std::string_view s = r.s;
  std::size_t start = 0;
  for (;;) {
    const std::size_t at = r.At;
    char32_t c;
    if (!r.Next(c) || c == 0) {
      if (start < at) f(s.substr(start, at - start));
      return;
    }
    if (c == '\r' || c == '\n') {
      f(s.substr(start, at - start));
      const std::size_t after = r.At;
      char32_t d;
      if (!(c == '\r' && r.Next(d) && d == '\n')) r.At = after;
      start = r.At;
    }
  }
}

void PutUnit(std::string& out, char32_t u, bool le) {
  const char lo = static_cast<char>(u & 0xFF), hi = static_cast<char>((u >> 8) & 0xFF);
  out.push_back(le ? lo : hi);
  out.push_back(le ? hi : lo);
}

// Characters in the encoding (the code page takes characters up to U+00FF).
void Encode(Encoding encoding, char32_t c, std::string& out) {
  switch (encoding) {
    case Encoding::kCodePage:
      out.push_back(static_cast<char>(c));
      break;
    case Encoding::kUtf8:
      AppendUtf8(out, c);
      break;
    case Encoding::kUtf16Le:
    case Encoding::kUtf16Be: {
      const bool le = encoding == Encoding::kUtf16Le;
      if (c >= 0x10000) {
        PutUnit(out, 0xD800 + ((c - 0x10000) >> 10), le);
        PutUnit(out, 0xDC00 + ((c - 0x10000) & 0x3FF), le);
      } else {
        PutUnit(out, c, le);
      }
      break;
    }
  }
}

// A line as the encoding writes its characters back, handed to put in pieces:
// the same bytes, except that what read as U+FFFD (an invalid UTF-8 sequence,
// an odd last UTF-16 byte) is written as U+FFFD.
template <typename Put>
void PutLine(Encoding encoding, std::string_view line, Put&& put) {
  if (encoding == Encoding::kCodePage || (line.size() % 2 == 0 && encoding != Encoding::kUtf8) ||
      (encoding == Encoding::kUtf8 && FindInvalidUtf8(line) == std::string_view::npos)) {
    put(line);
    return;
  }
  std::string piece;
  WithReader(encoding, line, [&](auto r) {
    for (char32_t c; r.Next(c);) {
      Encode(encoding, c, piece);
      if (piece.size() >= 65536) {
        put(piece);
        piece.clear();
      }
    }
  });
  put(piece);
}

std::u32string TextToUtf32(std::string_view text) {
  std::u32string out;
  Utf8Reader r{text};
  for (char32_t c; r.Next(c);) out.push_back(c);
  return out;
}

// The characters the stream treats as bad in document text: controls below the
// space other than the layout characters TAB, LF, FF and CR.
bool IsBadChar(char32_t c) {
  return c < 0x20 && c != '\t' && c != '\n' && c != '\f' && c != '\r';
}

// The first occurrence of needle in hay at a character boundary of the
// encoding (every second byte for UTF-16), or npos.
std::size_t FindIn(std::string_view hay, std::string_view needle, bool units) {
  std::size_t from = 0;
  while (from + needle.size() <= hay.size()) {
    const void* p =
        qel::FindBytes(hay.data() + from, hay.size() - from, needle.data(), needle.size());
    if (p == nullptr) return std::string_view::npos;
    const auto at = static_cast<std::size_t>(static_cast<const char*>(p) - hay.data());
    if (!units || at % 2 == 0) return at;
    from = at + 1;
  }
  return std::string_view::npos;
}

}  // namespace

// Bytes from the current position to the end; a negative position reads from 0.
static std::string_view TailFromPosition(const char* memory, std::int32_t size,
                                         std::int64_t position) {
  if (position < 0) position = 0;
  if (position >= size) return {};
  return {memory + position, static_cast<std::size_t>(size - position)};
}

// Line by line from the bytes to the new content: no decoded copy of the text
// and no list of lines, only the new content beside the old.
void TQELMemoryStream::DeleteLineContaining(std::string_view aStr) {
  const TextBytes text = Classify(TailFromPosition(FMemory, FSize, FPosition));
  // The wanted text in the content's encoding; a character the code page lacks
  // is in no line of it.
  const std::u32string wanted = TextToUtf32(aStr);
  std::string needle, crlf;
  bool findable = !wanted.empty();
  for (char32_t c : wanted) {
    if (text.encoding == Encoding::kCodePage && c > 0xFF) findable = false;
    Encode(text.encoding, c, needle);
  }
  Encode(text.encoding, '\r', crlf);
  Encode(text.encoding, '\n', crlf);
  const bool units = text.encoding == Encoding::kUtf16Le || text.encoding == Encoding::kUtf16Be;

  TQELMemoryStream out;
  out.Reserve(static_cast<std::int64_t>(text.mark.size() + text.body.size()) + 2);
  auto put = [&out](std::string_view bytes) {
    out.Reserve(static_cast<std::int64_t>(out.FSize) + static_cast<std::int64_t>(bytes.size()));
    if (!bytes.empty()) std::memcpy(out.FMemory + out.FSize, bytes.data(), bytes.size());
    out.FSize += static_cast<std::int32_t>(bytes.size());
  };
  put(text.mark);
  std::size_t number = 0;
  WithReader(text.encoding, text.body, [&](auto reader) {
    ForEachTextLine(reader, [&](std::string_view line) {
      // Written first, then looked at where it stands, and taken back when it
      // holds aStr. The first line always stays; an empty aStr is in no line.
      const std::int32_t start = out.FSize;
      PutLine(text.encoding, line, put);
      const std::string_view written(out.FMemory + start,
                                     static_cast<std::size_t>(out.FSize - start));
      if (number++ > 0 && findable && FindIn(written, needle, units) != std::string_view::npos) {
        out.FSize = start;
        return;
      }
      put(crlf);
    });
  });
  TakeContentOf(out);
  FPosition = 0;
}

void TQELMemoryStream::ChangeCharsLessThanSpace(std::string_view aStr) {
  const std::string replacement = TextToAnsi(aStr);
  TQELMemoryStream out;
  out.Reserve(FSize);
  const std::string_view content = View();
  std::size_t done = 0;
  for (std::size_t i = 0; i < content.size(); ++i) {
    if (!IsBadChar(static_cast<unsigned char>(content[i]))) continue;
    out.WriteAll(content.substr(done, i - done));
    out.WriteAll(replacement);
    done = i + 1;
  }
  out.WriteAll(content.substr(done));
  TakeContentOf(out);
  FPosition = FSize;
}

std::string TQELMemoryStream::DoFindBadChar() {
  const TextBytes text = Classify(TailFromPosition(FMemory, FSize, FPosition));
  std::string report;
  std::size_t number = 0;
  WithReader(text.encoding, text.body, [&](auto reader) {
    ForEachTextLine(reader, [&](std::string_view line) {
      std::string bad;
      decltype(reader) r{line};
      for (char32_t c; r.Next(c);)
        if (IsBadChar(c)) AppendUtf8(bad, c);
      if (!bad.empty()) {
        report += "(" + std::to_string(number) + ") ";
        decltype(reader) again{line};
        for (char32_t c; again.Next(c);) AppendUtf8(report, c);
        report += " has invalid chars: " + bad + "\n";
      }
      ++number;
    });
  });
  Seek(0, soEnd);
  return report;
}

}  // namespace vto
