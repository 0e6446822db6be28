// The document stream's core operations: whole content, append, insert, search,
// replace, cut, copy and overwrite.
#include "qelstream/QELStream.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "desktop/TextCodec.h"
#include "qelstream/QELStreamInternal.h"

namespace vto {

namespace {

constexpr std::int64_t kMaxSize = std::numeric_limits<std::int32_t>::max();
const char kTooLarge[] = "Out of memory while expanding memory stream";

// Text to code-page bytes; false when a character has no byte in the code page
// (or the text is not valid UTF-8).
bool ExactCodePage(std::string_view text, std::string& out) {
  out.clear();
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    char32_t cp;
    if (!DecodeUtf8(text, i, cp) || cp > 0xFF) return false;
    out.push_back(static_cast<char>(cp));
  }
  return true;
}

}  // namespace

void TQELMemoryStream::WriteAll(std::string_view bytes) {
  if (bytes.empty()) return;
  if (static_cast<std::int64_t>(bytes.size()) > kMaxSize - std::max(FPosition, 0))
    throw EStreamError(kTooLarge);
  WriteBuffer(bytes.data(), static_cast<std::int32_t>(bytes.size()));
}

void TQELMemoryStream::SetContent(std::string_view bytes) {
  if (static_cast<std::int64_t>(bytes.size()) > kMaxSize) throw EStreamError(kTooLarge);
  Clear();
  AppendStr(bytes);
}

void TQELMemoryStream::TakeContentOf(TQELMemoryStream& other) {
  std::int32_t size, capacity;
  char* block = other.ReleaseBlock(size, capacity);
  AdoptBlock(block, size, capacity);
}

std::string TQELMemoryStream::GetAsString() {
  if (FSize == 0) return std::string();
  SetPosition(0);
  std::string s(View());
  SetPosition(0);
  return s;
}

void TQELMemoryStream::AppendStr(std::string_view s) {
  if (s.empty()) return;
  if (static_cast<std::int64_t>(s.size()) > kMaxSize - FSize) throw EStreamError(kTooLarge);
  Seek(0, soEnd);
  WriteAll(s);
}

void TQELMemoryStream::AppendStream(TStream& aStream) {
  if (&aStream == this) {
    // Reading and writing one position would overwrite the content instead of
    // appending it: append a copy.
    std::string copy(View());
    AppendStr(copy);
    SetPosition(0);
    return;
  }
  Seek(0, soEnd);
  aStream.SetPosition(0);
  std::int64_t n = aStream.Size();
  if (n > 0) {
    if (n > kMaxSize - FSize) throw EStreamError(kTooLarge);
    Reserve(FSize + n);
    CopyFrom(aStream, n);
  }
  SetPosition(0);
}

void TQELMemoryStream::InsertStr(std::string_view s, std::int32_t aPosition) {
  if (s.empty()) {
    SetPosition(0);
    return;
  }
  if (static_cast<std::int64_t>(s.size()) > kMaxSize - FSize) throw EStreamError(kTooLarge);
  const std::int32_t old = FSize;
  const std::int32_t at = std::clamp(aPosition, 0, old);
  const auto len = static_cast<std::int32_t>(s.size());
  Reserve(static_cast<std::int64_t>(old) + len);
  std::memmove(FMemory + at + len, FMemory + at, static_cast<std::size_t>(old - at));
  std::memcpy(FMemory + at, s.data(), s.size());
  FSize = old + len;
  SetPosition(0);
}

std::int32_t TQELMemoryStream::SearchFor(std::string_view s, std::int32_t aStartOffset,
                                         bool aCaseInsensitive) {
  if (FSize == 0) return 0;
  SetPosition(0);
  std::string pattern;
  if (s.empty() || !ExactCodePage(s, pattern)) return 0;
  if (aStartOffset > FSize) return 0;
  const std::size_t from = aStartOffset <= 1 ? 0 : static_cast<std::size_t>(aStartOffset - 1);
  std::size_t at;
  if (aCaseInsensitive) {
    at = qel::FoldFind(qel::AsciiUpperFold(), View(), pattern, from);
  } else {
    const void* p = qel::FindBytes(FMemory + from, FSize - from, pattern.data(), pattern.size());
    at = p ? static_cast<std::size_t>(static_cast<const char*>(p) - FMemory) : std::string::npos;
  }
  if (at == std::string::npos) return 0;
  return static_cast<std::int32_t>(at - from + 1);
}

bool TQELMemoryStream::Load(const std::string& aFileName) {
  try {
    LoadFromFile(aFileName);
    SetPosition(0);
    return true;
  } catch (...) {
    return false;
  }
}

bool TQELMemoryStream::Save(const std::string& aFileName) {
  try {
    SaveToFile(aFileName);
    return true;
  } catch (...) {
    return false;
  }
}

void TQELMemoryStream::ChangeString(std::string_view aSearchStr, std::string_view aReplacementStr) {
  if (FSize == 0) {
    SetPosition(0);
    return;
  }
  if (aSearchStr.empty()) {
    Seek(0, soEnd);
    return;
  }
  const qel::FoldSearcher searcher(qel::Latin1UpperFold(), aSearchStr);
  const std::string_view content = View();
  std::size_t at = searcher.Find(content, 0);
  if (at == std::string_view::npos) {
    Seek(0, soEnd);
    return;
  }
  TQELMemoryStream out;
  std::size_t done = 0;
  out.Reserve(FSize);
  while (at != std::string_view::npos) {
    out.WriteAll(content.substr(done, at - done));
    out.WriteAll(aReplacementStr);
    done = at + aSearchStr.size();
    at = searcher.Find(content, done);
  }
  out.WriteAll(content.substr(done));
  TakeContentOf(out);
  FPosition = FSize;
}

void TQELMemoryStream::RemoveBeginning(std::int32_t index) {
  if (index > 1) {
    if (index > FSize) {
      Clear();
    } else {
      const std::int32_t keep = FSize - (index - 1);
      std::memmove(FMemory, FMemory + index - 1, static_cast<std::size_t>(keep));
      FSize = keep;
    }
  }
  SetPosition(0);
}

void TQELMemoryStream::RemoveTrailing(std::int32_t index) {
  SetSize(std::max<std::int64_t>(static_cast<std::int64_t>(index) - 1, 0));
}

std::unique_ptr<TQELMemoryStream> TQELMemoryStream::GetBytes(std::int32_t offset,
                                                             std::int32_t Len) {
  if (offset > FSize) return nullptr;
  auto result = std::make_unique<TQELMemoryStream>();
  SetPosition(offset);
  result->CopyFrom(*this, Len);
  result->SetPosition(0);
  return result;
}

void TQELMemoryStream::update(std::int32_t index, std::string_view aString) {
  const std::string bytes = TextToAnsi(aString);
  // Positions index .. index + length - 1, kept to 1 .. size.
  const std::int64_t first = index;
  const std::int64_t last = first + static_cast<std::int64_t>(bytes.size()) - 1;
  const std::int64_t from = std::max<std::int64_t>(first, 1);
  const std::int64_t to = std::min<std::int64_t>(last, FSize);
  if (from <= to)
    std::memcpy(FMemory + from - 1, bytes.data() + (from - first),
                static_cast<std::size_t>(to - from + 1));
  FPosition = FSize;
}

void TQELMemoryStream::Remove(std::uint32_t Offset, std::uint32_t Length) {
  if (Offset == 0 || Offset > static_cast<std::uint32_t>(kMaxSize) ||
      Length > static_cast<std::uint32_t>(kMaxSize) || Length == 0)
    return;
  const auto start = static_cast<std::int64_t>(Offset);
  if (start > FSize) return;
  const std::int64_t end = std::min<std::int64_t>(start - 1 + Length, FSize);  // exclusive, 0-based
  std::memmove(FMemory + start - 1, FMemory + end, static_cast<std::size_t>(FSize - end));
  FSize = static_cast<std::int32_t>(FSize - (end - (start - 1)));
  if (FSize == 0) Clear();
  FPosition = FSize;
}

}  // namespace vto
