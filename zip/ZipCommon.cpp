#include "zip/ZipCommon.h"

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "desktop/AsciiNumbers.h"
#include "desktop/TextCodec.h"

namespace vto {

std::uint16_t GetLE16(const unsigned char* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t GetLE32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

std::uint64_t GetLE64(const unsigned char* p) {
  return static_cast<std::uint64_t>(GetLE32(p)) |
         (static_cast<std::uint64_t>(GetLE32(p + 4)) << 32);
}

void PutLE16(unsigned char* p, std::uint16_t v) {
  p[0] = static_cast<unsigned char>(v & 0xFF);
  p[1] = static_cast<unsigned char>(v >> 8);
}

void PutLE32(unsigned char* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>((v >> (8 * i)) & 0xFF);
}

void TLocalFile::Pack(unsigned char* out) const {
  PutLE32(out + 0, LocalFileHeaderSignature);
  PutLE16(out + 4, VersionNeededToExtract);
  PutLE16(out + 6, GeneralPurposeBitFlag);
  PutLE16(out + 8, CompressionMethod);
  PutLE32(out + 10, LastModFileTimeDate);
  PutLE32(out + 14, Crc32);
  PutLE32(out + 18, CompressedSize);
  PutLE32(out + 22, UncompressedSize);
  PutLE16(out + 26, FilenameLength);
  PutLE16(out + 28, ExtraFieldLength);
}

TLocalFile TLocalFile::Unpack(const unsigned char* in) {
  TLocalFile r;
  r.LocalFileHeaderSignature = GetLE32(in + 0);
  r.VersionNeededToExtract = GetLE16(in + 4);
  r.GeneralPurposeBitFlag = GetLE16(in + 6);
  r.CompressionMethod = GetLE16(in + 8);
  r.LastModFileTimeDate = GetLE32(in + 10);
  r.Crc32 = GetLE32(in + 14);
  r.CompressedSize = GetLE32(in + 18);
  r.UncompressedSize = GetLE32(in + 22);
  r.FilenameLength = GetLE16(in + 26);
  r.ExtraFieldLength = GetLE16(in + 28);
  return r;
}

void TCentralDirectoryFile::Pack(unsigned char* out) const {
  PutLE32(out + 0, CentralFileHeaderSignature);
  PutLE16(out + 4, VersionMadeBy);
  PutLE16(out + 6, VersionNeededToExtract);
  PutLE16(out + 8, GeneralPurposeBitFlag);
  PutLE16(out + 10, CompressionMethod);
  PutLE32(out + 12, LastModFileTimeDate);
  PutLE32(out + 16, Crc32);
  PutLE32(out + 20, CompressedSize);
  PutLE32(out + 24, UncompressedSize);
  PutLE16(out + 28, FilenameLength);
  PutLE16(out + 30, ExtraFieldLength);
  PutLE16(out + 32, FileCommentLength);
  PutLE16(out + 34, DiskNumberStart);
  PutLE16(out + 36, InternalFileAttributes);
  PutLE32(out + 38, ExternalFileAttributes);
  PutLE32(out + 42, RelativeOffsetOfLocalHeader);
}

TCentralDirectoryFile TCentralDirectoryFile::Unpack(const unsigned char* in) {
  TCentralDirectoryFile r;
  r.CentralFileHeaderSignature = GetLE32(in + 0);
  r.VersionMadeBy = GetLE16(in + 4);
  r.VersionNeededToExtract = GetLE16(in + 6);
  r.GeneralPurposeBitFlag = GetLE16(in + 8);
  r.CompressionMethod = GetLE16(in + 10);
  r.LastModFileTimeDate = GetLE32(in + 12);
  r.Crc32 = GetLE32(in + 16);
  r.CompressedSize = GetLE32(in + 20);
  r.UncompressedSize = GetLE32(in + 24);
  r.FilenameLength = GetLE16(in + 28);
  r.ExtraFieldLength = GetLE16(in + 30);
  r.FileCommentLength = GetLE16(in + 32);
  r.DiskNumberStart = GetLE16(in + 34);
  r.InternalFileAttributes = GetLE16(in + 36);
  r.ExternalFileAttributes = GetLE32(in + 38);
  r.RelativeOffsetOfLocalHeader = GetLE32(in + 42);
  return r;
}

void TEndOfCentralDir::Pack(unsigned char* out) const {
  PutLE32(out + 0, EndOfCentralDirSignature);
  PutLE16(out + 4, NumberOfThisDisk);
  PutLE16(out + 6, NumberOfTheDiskWithTheStart);
  PutLE16(out + 8, TotalNumberOfEntriesOnThisDisk);
  PutLE16(out + 10, TotalNumberOfEntries);
  PutLE32(out + 12, SizeOfTheCentralDirectory);
  PutLE32(out + 16, OffsetOfStartOfCentralDirectory);
  PutLE16(out + 20, ZipfileCommentLength);
}

TEndOfCentralDir TEndOfCentralDir::Unpack(const unsigned char* in) {
  TEndOfCentralDir r;
  r.EndOfCentralDirSignature = GetLE32(in + 0);
  r.NumberOfThisDisk = GetLE16(in + 4);
  r.NumberOfTheDiskWithTheStart = GetLE16(in + 6);
  r.TotalNumberOfEntriesOnThisDisk = GetLE16(in + 8);
  r.TotalNumberOfEntries = GetLE16(in + 10);
  r.SizeOfTheCentralDirectory = GetLE32(in + 12);
  r.OffsetOfStartOfCentralDirectory = GetLE32(in + 16);
  r.ZipfileCommentLength = GetLE16(in + 20);
  return r;
}

std::size_t EndRecordSearchSize(std::uint64_t archive_size) {
  return static_cast<std::size_t>(
      std::min<std::uint64_t>(archive_size, 65535 + TEndOfCentralDir::kSize));
}

std::size_t FindEndRecordIn(std::string_view tail) {
  if (tail.size() < TEndOfCentralDir::kSize) return std::string_view::npos;
  const auto* b = reinterpret_cast<const unsigned char*>(tail.data());
  for (std::size_t i = tail.size() - TEndOfCentralDir::kSize + 1; i-- > 0;) {
    if (b[i] == 0x50 && GetLE32(b + i) == kEndOfCentralDirSignature &&
        i + TEndOfCentralDir::kSize + GetLE16(b + i + 20) <= tail.size())
      return i;
  }
  return std::string_view::npos;
}

TZip64EndOfCentralDir TZip64EndOfCentralDir::Unpack(const unsigned char* in) {
  TZip64EndOfCentralDir r;
  r.Signature = GetLE32(in + 0);
  r.SizeOfRecord = GetLE64(in + 4);
  r.VersionMadeBy = GetLE16(in + 12);
  r.VersionNeededToExtract = GetLE16(in + 14);
  r.NumberOfThisDisk = GetLE32(in + 16);
  r.NumberOfTheDiskWithTheStart = GetLE32(in + 20);
  r.TotalNumberOfEntriesOnThisDisk = GetLE64(in + 24);
  r.TotalNumberOfEntries = GetLE64(in + 32);
  r.SizeOfTheCentralDirectory = GetLE64(in + 40);
  r.OffsetOfStartOfCentralDirectory = GetLE64(in + 48);
  return r;
}

TZip64EndOfCentralDirLocator TZip64EndOfCentralDirLocator::Unpack(const unsigned char* in) {
  TZip64EndOfCentralDirLocator r;
  r.Signature = GetLE32(in + 0);
  r.NumberOfTheDiskWithZip64End = GetLE32(in + 4);
  r.OffsetOfZip64End = GetLE64(in + 8);
  r.TotalNumberOfDisks = GetLE32(in + 16);
  return r;
}

std::uint32_t ZipCrc32(std::uint32_t crc, const void* data, std::size_t size) {
  const auto* p = static_cast<const Bytef*>(data);
  uLong c = crc;
  // zlib takes at most a uInt per call.
  while (size > 0) {
    const std::size_t n = std::min<std::size_t>(size, std::numeric_limits<uInt>::max());
    c = crc32(c, p, static_cast<uInt>(n));
    p += n;
    size -= n;
  }
  return static_cast<std::uint32_t>(c);
}

std::uint32_t DateTimeToDosDateTime(TDateTime value) {
  if (!std::isfinite(value) || value < EncodeDate(1980, 1, 1) || value >= EncodeDate(2108, 1, 1)) {
    return 0;
  }
  int year, month, day, hour, minute, second, msec;
  DecodeDateTime(value, year, month, day, hour, minute, second, msec);
  if (year < 1980 || year > 2107) return 0;  // rounding to the millisecond crossed the edge
  const std::uint32_t time = static_cast<std::uint32_t>(second / 2 + minute * 32 + hour * 2048);
  const std::uint32_t date = static_cast<std::uint32_t>(day + month * 32 + (year - 1980) * 512);
  return (date << 16) | time;
}

bool TryDosDateTimeToDateTime(std::uint32_t dos, TDateTime& value) {
  const std::uint32_t time = dos & 0xFFFF;
  const std::uint32_t date = dos >> 16;
  const int year = 1980 + static_cast<int>(date >> 9);
  const int month = static_cast<int>((date >> 5) & 0x0F);
  const int day = static_cast<int>(date & 0x1F);
  const int hour = static_cast<int>(time >> 11);
  const int minute = static_cast<int>((time >> 5) & 0x3F);
  const int second = 2 * static_cast<int>(time & 0x1F);
  TDateTime d, t;
  if (!TryEncodeDate(year, month, day, d) || !TryEncodeTime(hour, minute, second, 0, t)) {
    return false;
  }
  value = d + t;
  return true;
}

std::string ExtractNamePart(std::string_view name) {
  const auto pos = name.find_last_of("/\\:");
  return std::string(pos == std::string_view::npos ? name : name.substr(pos + 1));
}

namespace {
// Deletes everything up to and including the first occurrence of what (nothing when absent).
void DeleteThrough(std::string& s, std::string_view what) {
  const auto pos = s.find(what);
  if (pos != std::string::npos) s.erase(0, pos + what.size());
}
}  // namespace

std::string ToZipName(std::string_view name) {
  std::string s(name);
  std::replace(s.begin(), s.end(), '\\', '/');
  DeleteThrough(s, ":/");
  if (s.find("//") != std::string::npos) {
    DeleteThrough(s, "//");
    DeleteThrough(s, "/");
    DeleteThrough(s, "/");
  }
  return s;
}

bool FindExtraField(std::string_view extra, std::uint16_t id, std::string_view& data) {
  std::size_t pos = 0;
  while (pos + 4 <= extra.size()) {
    const auto* p = reinterpret_cast<const unsigned char*>(extra.data() + pos);
    const std::uint16_t block_id = GetLE16(p);
    const std::size_t size = GetLE16(p + 2);
    if (pos + 4 + size > extra.size()) return false;  // a block that runs past the field
    if (block_id == id) {
      data = extra.substr(pos + 4, size);
      return true;
    }
    pos += 4 + size;
  }
  return false;
}

namespace {

std::string Utf16LeToText(std::string_view s) {
  std::string out;
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  const std::size_t n = s.size() / 2;
  for (std::size_t i = 0; i < n; ++i) {
    char32_t u = GetLE16(p + 2 * i);
    if (IsHighSurrogate(u) && i + 1 < n) {
      const char32_t low = GetLE16(p + 2 * (i + 1));
      if (IsLowSurrogate(low)) {
        u = JoinSurrogates(u, low);
        ++i;
      }
    }
    AppendUtf8(out, u);  // an unpaired surrogate becomes U+FFFD there
  }
  return out;
}

bool HasNonAscii(std::string_view s) {
  return std::any_of(s.begin(), s.end(),
                     [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

// ISO-8859-1 has only control characters at 80-9F, where code page 437 keeps its accented
// letters: a name holding such bytes was written in the OEM code page.
bool LooksLikeOem(std::string_view s) {
  return std::any_of(s.begin(), s.end(), [](char c) {
    const auto b = static_cast<unsigned char>(c);
    return b >= 0x80 && b <= 0x9F;
  });
}

constexpr std::uint16_t kUnicodePathExtraId = 0x7075;
constexpr std::uint16_t kUtf16NameExtraId = 0x554E;
constexpr std::uint32_t kUtf16NameSignature = 0x5843554E;

}  // namespace

std::string DecodeEntryName(std::string_view raw, std::string_view extra,
                            std::uint16_t version_made_by, std::uint16_t flags) {
  if ((flags & 0x0800) != 0 ||
      (HasNonAscii(raw) && FindInvalidUtf8(raw) == std::string_view::npos)) {
    return Utf8ToText(raw);
  }
  std::string_view data;
  if (FindExtraField(extra, kUnicodePathExtraId, data) && data.size() >= 5 && data[0] == 1 &&
      GetLE32(reinterpret_cast<const unsigned char*>(data.data() + 1)) == ZipCrc32(raw)) {
    return Utf8ToText(data.substr(5));
  }
  if (FindExtraField(extra, kUtf16NameExtraId, data) && data.size() == 8 + 2 * raw.size() &&
      data.size() > 10 &&
      GetLE32(reinterpret_cast<const unsigned char*>(data.data())) == kUtf16NameSignature) {
    return Utf16LeToText(data.substr(8));
  }
  const int host = version_made_by >> 8;
  if (host == 0 || LooksLikeOem(raw)) return Oem437ToText(raw);
  return AnsiToText(raw);
}

namespace {

std::u32string ToUpperCodePoints(std::string_view text) {
  std::u32string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) out.push_back(UpperCaseChar(DecodeUtf8OrReplacement(text, i)));
  return out;
}

// "*" any run (also empty), "?" exactly one character.
bool WildcardMatch(const std::u32string& name, const std::u32string& pattern) {
  std::size_t n = 0, p = 0;
  std::size_t star = std::u32string::npos, resume = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == U'?' || pattern[p] == name[n])) {
      ++n;
      ++p;
    } else if (p < pattern.size() && pattern[p] == U'*') {
      star = p++;
      resume = n;
    } else if (star != std::u32string::npos) {
      p = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == U'*') ++p;
  return p == pattern.size();
}

std::string_view TrimMaskPattern(std::string_view s) {
  return TrimWhere(s, [](char c) { return IsSpaceOrTab(c) || c == '\r' || c == '\n'; });
}

bool MatchesPattern(std::string_view name, std::string_view pattern) {
  if (name.empty() || pattern.empty()) return false;
  if (pattern == "*" || pattern == "*.*") return true;
  std::string n(name), pat(pattern);
  std::replace(n.begin(), n.end(), '\\', '/');
  std::replace(pat.begin(), pat.end(), '\\', '/');
  if (pat.find('/') == std::string::npos) {
    const auto slash = n.rfind('/');
    if (slash != std::string::npos) n.erase(0, slash + 1);
  }
  return WildcardMatch(ToUpperCodePoints(n), ToUpperCodePoints(pat));
}

}  // namespace

bool MatchesFileMask(std::string_view name, std::string_view mask) {
  std::size_t start = 0;
  while (start <= mask.size()) {
    auto end = mask.find(';', start);
    if (end == std::string_view::npos) end = mask.size();
    if (MatchesPattern(name, TrimMaskPattern(mask.substr(start, end - start)))) return true;
    start = end + 1;
  }
  return false;
}

}  // namespace vto
