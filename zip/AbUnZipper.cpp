#include "zip/AbUnZipper.h"

#include <zlib.h>

#if defined(_WIN32)
#include "desktop/WinApi.h"
#include "streams/WideNames.h"
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>

#include "desktop/Desktop.h"
#include "desktop/TextCodec.h"
#include "streams/Streams.h"
#include "streams/ZStreams.h"
#include "zip/ZipCommon.h"

namespace vto {

namespace {

constexpr std::size_t kIoChunk = 256 * 1024;
constexpr std::uint32_t kAttrReadOnly = 0x01;
constexpr std::uint32_t kAttrDirectory = 0x10;
constexpr int kHostUnix = 3;

#if defined(_WIN32)

constexpr std::uint32_t kUnixTypeMask = 0170000;
constexpr std::uint32_t kUnixLink = 0120000;
constexpr std::uint32_t kUnixOwnerWrite = 0200;

constexpr char kDelimiter = '\\';
constexpr std::string_view kDelimiters = "/\\";

bool IsFolder(const std::string& path) {
  std::wstring wide;
  if (!WideName(path, wide)) return false;
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Creates one folder; false (with the system's error number) when it cannot.
bool MakeFolder(const std::string& path, DWORD& error) {
  std::wstring wide;
  if (!WideName(path, wide)) {
    error = ERROR_INVALID_NAME;
    return false;
  }
  if (CreateDirectoryW(wide.c_str(), nullptr) != 0) return true;
  error = GetLastError();
  return false;
}

// Creates every missing level of a folder; false when one cannot be made.
bool ForceFolders(const std::string& path) {
  if (path.empty() || IsFolder(path)) return true;
  const auto slash = path.find_last_of(kDelimiters);
  if (slash != std::string::npos && slash > 0 && !ForceFolders(path.substr(0, slash))) return false;
  DWORD error = 0;
  return MakeFolder(path, error) || (error == ERROR_ALREADY_EXISTS && IsFolder(path));
}

// Whether a file extracted for an item gets the read-only attribute: a Unix
// mode without write for the owner (a link entry, written as a plain file, is
// writable), else the archive's own read-only attribute. Nothing else is taken
// over: an extracted file is always readable.
bool ExtractedReadOnly(const TAbZipItem& item) {
  const std::uint32_t ea = item.ExternalFileAttributes();
  if ((item.HostOS() == kHostUnix || ea > 0x1FFFF) && (ea >> 16) != 0) {
    const std::uint32_t stored = ea >> 16;
    if ((stored & kUnixTypeMask) == kUnixLink) return false;
    return (stored & kUnixOwnerWrite) == 0;
  }
  return (ea & kAttrReadOnly) != 0;
}

// A part of a stored name that Windows would not write as that name: a drive
// or stream (":"), characters no file name may hold, a trailing dot or blank
// (dropped by the system, so "a." would become "a"), and the device names
// (CON, PRN, AUX, NUL, COM1-COM9, LPT1-LPT9, also with an extension, any case).
bool IsForbiddenWindowsPart(std::string_view part) {
  for (const char c : part) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || std::string_view("<>:\"|?*").find(c) != std::string_view::npos) return true;
  }
  if (part.back() == '.' || part.back() == ' ') return true;
  std::string_view stem = part.substr(0, part.find('.'));
  while (!stem.empty() && stem.back() == ' ') stem.remove_suffix(1);
  const std::string upper = AsciiUpperCase(stem);
  if (upper == "CON" || upper == "PRN" || upper == "AUX" || upper == "NUL" || upper == "CONIN$" ||
      upper == "CONOUT$")
    return true;
  return upper.size() == 4 && (upper.rfind("COM", 0) == 0 || upper.rfind("LPT", 0) == 0) &&
         upper[3] >= '1' && upper[3] <= '9';
}

// Every part of the stored name is checked, the folder parts too, whether or
// not they become folders: such an entry fails as a whole.
void CheckWindowsName(const std::string& name) {
  std::size_t start = 0;
  while (start <= name.size()) {
    auto end = name.find_first_of(kDelimiters, start);
    if (end == std::string::npos) end = name.size();
    const std::string_view part = std::string_view(name).substr(start, end - start);
    if (!part.empty() && part != "." && part != ".." && IsForbiddenWindowsPart(part))
      throw EAbBadFileName(name);
    start = end + 1;
  }
}

#else

constexpr char kDelimiter = '/';
constexpr std::string_view kDelimiters = "/";

std::string ErrnoText(int err) {
  return std::strerror(err);
}

bool IsFolder(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Creates every missing level of a folder; false when one cannot be made.
bool ForceFolders(const std::string& path) {
  if (path.empty() || IsFolder(path)) return true;
  const auto slash = path.find_last_of('/');
  if (slash != std::string::npos && slash > 0 && !ForceFolders(path.substr(0, slash))) return false;
  return ::mkdir(path.c_str(), 0777) == 0 || (errno == EEXIST && IsFolder(path));
}

// The process's file mode creation mask. Read where the system shows it, so that
// it is never changed, not even for a moment; else set and put back.
mode_t ProcessUmask() {
  if (FILE* f = std::fopen("/proc/self/status", "re")) {
    char line[256];
    unsigned value = 0;
    bool found = false;
    while (!found && std::fgets(line, sizeof line, f) != nullptr)
      found = std::sscanf(line, "Umask: %o", &value) == 1;
    std::fclose(f);
    if (found) return static_cast<mode_t>(value & 0777);
  }
  const mode_t mask = ::umask(022);
  ::umask(mask);
  return mask;
}

// The permissions of a file extracted for an item. A Unix mode from the archive
// keeps its read-only and execute bits, but never writes for group or others,
// never a set-id or sticky bit, and a link entry (written as a plain file) gets
// the mode of a new file. Other entries get the mode of a new file, without
// write permission when they carry the read-only attribute. Everything goes
// through the umask, and the owner can always read what was extracted.
mode_t ExtractedMode(const TAbZipItem& item, mode_t mask) {
  const std::uint32_t ea = item.ExternalFileAttributes();
  mode_t mode = 0666;
  if ((item.HostOS() == kHostUnix || ea > 0x1FFFF) && (ea >> 16) != 0) {
    const auto stored = static_cast<mode_t>(ea >> 16);
    if ((stored & S_IFMT) != S_IFLNK) mode = stored & 0777;
    mode &= ~static_cast<mode_t>(S_IWGRP | S_IWOTH);
  } else if ((ea & kAttrReadOnly) != 0) {
    mode &= ~static_cast<mode_t>(0222);
  }
  return (mode & ~mask) | S_IRUSR;
}

#endif

std::string UpperExtension(const std::string& path) {
  const auto slash = path.find_last_of(kDelimiters);
  const auto dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  return AsciiUpperCase(path.substr(dot));
}

}  // namespace

// The archive file, read at explicit offsets.
class ZipInputFile {
 public:
#if defined(_WIN32)
  // Shared with every other reader and writer; anything but a disk file is refused.
  explicit ZipInputFile(const std::string& path) {
    std::wstring wide;
    if (!WideName(path, wide))
      throw EFOpenError("Cannot open file \"" + path + "\": " + WinErrorText(ERROR_INVALID_NAME));
    HANDLE h = CreateFileW(wide.c_str(), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
      throw EFOpenError("Cannot open file \"" + path + "\": " + WinErrorText(GetLastError()));
    LARGE_INTEGER size;
    if (GetFileType(h) != FILE_TYPE_DISK || GetFileSizeEx(h, &size) == 0 || size.QuadPart < 0) {
      CloseHandle(h);
      throw EFOpenError("Cannot open file \"" + path + "\": not a regular file");
    }
    FHandle = h;
    FSize = static_cast<std::uint64_t>(size.QuadPart);
  }
#else
  explicit ZipInputFile(const std::string& path) {
    // Never waiting at a FIFO: anything but a regular file is refused right below.
    FHandle = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (FHandle < 0) throw EFOpenError("Cannot open file \"" + path + "\": " + ErrnoText(errno));
    struct stat st;
    if (::fstat(FHandle, &st) != 0 || !S_ISREG(st.st_mode)) {
      ::close(FHandle);
      throw EFOpenError("Cannot open file \"" + path + "\": " + ErrnoText(EISDIR));
    }
    FSize = static_cast<std::uint64_t>(st.st_size);
  }
#endif
  ~ZipInputFile() {
#if defined(_WIN32)
    CloseHandle(FHandle);
#else
    ::close(FHandle);
#endif
  }
  ZipInputFile(const ZipInputFile&) = delete;
  ZipInputFile& operator=(const ZipInputFile&) = delete;

  std::uint64_t Size() const {
    return FSize;
  }

  // Reads up to size bytes at offset; returns how many arrived (fewer at the end).
  std::size_t ReadAt(std::uint64_t offset, void* buffer, std::size_t size) const {
    std::size_t done = 0;
    auto* out = static_cast<char*>(buffer);
#if defined(_WIN32)
    constexpr auto kMaxOffset = static_cast<std::uint64_t>(std::numeric_limits<LONGLONG>::max());
    while (done < size && offset <= kMaxOffset - done) {
      const std::uint64_t at = offset + done;
      OVERLAPPED where{};
      where.Offset = static_cast<DWORD>(at & 0xFFFFFFFFu);
      where.OffsetHigh = static_cast<DWORD>(at >> 32);
      const auto want = static_cast<DWORD>(std::min<std::size_t>(size - done, 1u << 30));
      DWORD n = 0;
      if (ReadFile(FHandle, out + done, want, &n, &where) == 0 || n == 0) break;
      done += n;
    }
#else
    constexpr auto kMaxOffset = static_cast<std::uint64_t>(std::numeric_limits<off_t>::max());
    while (done < size && offset <= kMaxOffset - done) {
      const ssize_t n =
          ::pread(FHandle, out + done, size - done, static_cast<off_t>(offset + done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
#endif
    return done;
  }
  // All size bytes at offset, or EReadError.
  void ReadExactAt(std::uint64_t offset, void* buffer, std::size_t size) const {
    if (ReadAt(offset, buffer, size) != size) throw EReadError();
  }

 private:
#if defined(_WIN32)
  HANDLE FHandle = nullptr;
#else
  int FHandle = -1;
#endif
  std::uint64_t FSize = 0;
};

namespace {

// The end record: first at size - 22 with no comment, otherwise the last signature
// whose comment fits into the bytes behind it, searched in the last 65,557 bytes (the
// record with the longest possible comment). False when there is none.
bool FindEndRecord(const ZipInputFile& file, std::uint64_t& position) {
  const std::uint64_t size = file.Size();
  if (size < TEndOfCentralDir::kSize) return false;
  unsigned char tail[TEndOfCentralDir::kSize];
  if (file.ReadAt(size - sizeof tail, tail, sizeof tail) != sizeof tail) return false;
  if (GetLE32(tail) == kEndOfCentralDirSignature && GetLE16(tail + 20) == 0) {
    position = size - sizeof tail;
    return true;
  }
  const std::size_t window = EndRecordSearchSize(size);
  std::string block(window, '\0');
  if (file.ReadAt(size - window, block.data(), window) != window) return false;
  const std::size_t at = FindEndRecordIn(block);
  if (at == std::string::npos) return false;
  position = size - window + at;
  return true;
}

bool StartsWith(const std::string& head, std::string_view magic) {
  return head.size() >= magic.size() && head.compare(0, magic.size(), magic) == 0;
}

// A tar header: its checksum field (octal) equals the sum of the header's bytes with
// the field itself counted as spaces.
bool IsTarHeader(const std::string& head) {
  if (head.size() < 512 || head[0] == '\0') return false;
  unsigned sum = 0;
  for (std::size_t i = 0; i < 512; ++i) {
    sum += (i >= 148 && i < 156) ? 0x20u : static_cast<unsigned char>(head[i]);
  }
  unsigned stored = 0;
  bool digits = false;
  for (std::size_t i = 148; i < 156; ++i) {
    const char c = head[i];
    if (c >= '0' && c <= '7') {
      stored = stored * 8 + static_cast<unsigned>(c - '0');
      digits = true;
    } else if (c == ' ' || c == '\0') {
      if (digits) break;
    } else {
      return false;
    }
  }
  return digits && stored == sum;
}

bool IsGzip(const std::string& head) {
  return StartsWith(head, "\x1F\x8B\x08");
}
bool IsBzip2(const std::string& head) {
  return head.size() >= 4 && StartsWith(head, "BZh") && head[3] >= '1' && head[3] <= '9';
}
bool IsCab(const std::string& head) {
  return StartsWith(head, std::string_view("MSCF\0\0\0\0", 8));
}

}  // namespace

TAbArchiveType AbDetermineArchiveType(const std::string& path) {
  try {
    ZipInputFile file(path);
    std::string head(512, '\0');
    head.resize(file.ReadAt(0, head.data(), head.size()));
    std::uint64_t end_record = 0;
    const bool has_end = FindEndRecord(file, end_record);
    const bool spanned = StartsWith(head, "PK\x07\x08");
    const bool sfx = (StartsWith(head, "MZ") || StartsWith(head,
                                                           "\x7F"
                                                           "ELF")) &&
                     has_end;
    const std::string ext = UpperExtension(path);
    if (ext == ".ZIP" || ext == ".JAR") {
      if (spanned) return atSpannedZip;
      if (has_end) return atZip;
    } else if (ext == ".EXE") {
      if (sfx) return atSelfExtZip;
    } else if (ext == ".TAR") {
      if (IsTarHeader(head)) return atTar;
    } else if (ext == ".GZ") {
      if (IsGzip(head)) return atGzip;
    } else if (ext == ".TGZ") {
      if (IsGzip(head)) return atGzippedTar;
    } else if (ext == ".CAB") {
      if (IsCab(head)) return atCab;
    } else if (ext == ".BZ2") {
      if (IsBzip2(head)) return atBzip2;
    } else if (ext == ".TBZ") {
      if (IsBzip2(head)) return atBzippedTar;
    }
    if (sfx) return atSelfExtZip;
    if (spanned) return atSpannedZip;
    if (has_end) return atZip;
    if (IsTarHeader(head)) return atTar;
    if (IsGzip(head)) return atGzip;
    if (IsBzip2(head)) return atBzip2;
    if (IsCab(head)) return atCab;
  } catch (const Exception&) {
  }
  return atUnknown;
}

// --- items ---

TDateTime TAbZipItem::LastModTimeAsDateTime() const {
  TDateTime value = 0;
  if (!TryDosDateTimeToDateTime(
          (static_cast<std::uint32_t>(FLastModFileDate) << 16) | FLastModFileTime, value)) {
    throw EAbInvalidDate();
  }
  return value;
}

bool TAbZipItem::IsDirectory() const {
  return (FExternalFileAttributes & kAttrDirectory) != 0 ||
         (!FFileName.empty() && (FFileName.back() == '/' || FFileName.back() == '\\'));
}

// --- the archive ---

TAbZipArchive::TAbZipArchive(const std::string& FileName) : FArchiveName(FileName) {
  FFile = std::make_unique<ZipInputFile>(FileName);
  Load();
}

TAbZipArchive::~TAbZipArchive() = default;

TAbZipItem& TAbZipArchive::Items(int Index) {
  if (Index < 0 || Index >= Count()) throw EAbIndexError(Index);
  return FItems[static_cast<std::size_t>(Index)];
}

namespace {

// Zip64 values of the item extra field 0001 replace the header values stored as all ones.
void ApplyZip64Extra(std::string_view extra, std::uint64_t& usz, std::uint64_t& csz,
                     std::uint64_t& offset, std::uint32_t& disk) {
  std::string_view data;
  if (!FindExtraField(extra, 0x0001, data)) return;
  const auto* p = reinterpret_cast<const unsigned char*>(data.data());
  std::size_t at = 0;
  auto take64 = [&](std::uint64_t& value) {
    if (value == 0xFFFFFFFFu && at + 8 <= data.size()) {
      value = GetLE64(p + at);
      at += 8;
    }
  };
  take64(usz);
  take64(csz);
  take64(offset);
  if (disk == 0xFFFFu && at + 4 <= data.size()) disk = GetLE32(p + at);
}

}  // namespace

void TAbZipArchive::Load() {
  const ZipInputFile& file = *FFile;
  std::uint64_t end_pos = 0;
  if (!FindEndRecord(file, end_pos)) throw EAbZipInvalid();
  unsigned char raw[TEndOfCentralDir::kSize];
  file.ReadExactAt(end_pos, raw, sizeof raw);
  const TEndOfCentralDir end = TEndOfCentralDir::Unpack(raw);
  if (end.EndOfCentralDirSignature != kEndOfCentralDirSignature) throw EAbZipInvalid();
  std::string comment(end.ZipfileCommentLength, '\0');
  comment.resize(file.ReadAt(end_pos + sizeof raw, comment.data(), comment.size()));
  FZipfileComment = AnsiToText(comment);

  FDiskNumber = end.NumberOfThisDisk;
  FStartDisk = end.NumberOfTheDiskWithTheStart;
  FEntriesOnDisk = end.TotalNumberOfEntriesOnThisDisk;
  FTotalEntries = end.TotalNumberOfEntries;
  FDirectorySize = end.SizeOfTheCentralDirectory;
  FDirectoryOffset = end.OffsetOfStartOfCentralDirectory;
  std::uint64_t directory_limit = end_pos;

  // Placeholders in the classic record: the real values are in the Zip64 end record,
  // found through the locator right before the classic one.
  const bool placeholders =
      end.NumberOfThisDisk == 0xFFFF || end.NumberOfTheDiskWithTheStart == 0xFFFF ||
      end.TotalNumberOfEntriesOnThisDisk == 0xFFFF || end.TotalNumberOfEntries == 0xFFFF ||
      end.SizeOfTheCentralDirectory == 0xFFFFFFFFu ||
      end.OffsetOfStartOfCentralDirectory == 0xFFFFFFFFu;
  if (placeholders && end_pos >= TZip64EndOfCentralDirLocator::kSize) {
    const std::uint64_t locator_pos = end_pos - TZip64EndOfCentralDirLocator::kSize;
    unsigned char loc_raw[TZip64EndOfCentralDirLocator::kSize];
    if (file.ReadAt(locator_pos, loc_raw, sizeof loc_raw) == sizeof loc_raw) {
      const auto locator = TZip64EndOfCentralDirLocator::Unpack(loc_raw);
      unsigned char z_raw[TZip64EndOfCentralDir::kSize];
      if (locator.Signature == kZip64EndOfCentralDirLocatorSignature &&
          locator_pos >= sizeof z_raw && locator.OffsetOfZip64End <= locator_pos - sizeof z_raw &&
          file.ReadAt(locator.OffsetOfZip64End, z_raw, sizeof z_raw) == sizeof z_raw) {
        const auto z = TZip64EndOfCentralDir::Unpack(z_raw);
        if (z.Signature != kZip64EndOfCentralDirSignature) throw EAbZipInvalid();
        FDiskNumber = z.NumberOfThisDisk;
        FStartDisk = z.NumberOfTheDiskWithTheStart;
        FEntriesOnDisk = z.TotalNumberOfEntriesOnThisDisk;
        FTotalEntries = z.TotalNumberOfEntries;
        FDirectorySize = z.SizeOfTheCentralDirectory;
        FDirectoryOffset = z.OffsetOfStartOfCentralDirectory;
        directory_limit = locator.OffsetOfZip64End;
      }
    }
  }

  // The directory lies before the end records; a count that cannot fit in it is damage.
  if (FStartDisk != FDiskNumber || FDirectoryOffset > directory_limit ||
      FTotalEntries > (directory_limit - FDirectoryOffset) / TCentralDirectoryFile::kSize) {
    throw EAbZipInvalid();
  }
  // Read in blocks as the headers go: what the end record claims is never allocated.
  std::string dir;
  std::uint64_t dir_pos = FDirectoryOffset;  // file offset of dir[0]
  std::size_t at = 0;
  auto need = [&](std::size_t count) {
    if (dir.size() - at >= count) return;
    if (count > directory_limit - (dir_pos + at)) throw EAbZipInvalid();
    dir.erase(0, at);
    dir_pos += at;
    at = 0;
    const std::size_t want = static_cast<std::size_t>(
        std::min<std::uint64_t>(std::max<std::size_t>(count, kIoChunk), directory_limit - dir_pos));
    const std::size_t have = dir.size();
    dir.resize(want);
    file.ReadExactAt(dir_pos + have, dir.data() + have, want - have);
  };
  FItems.clear();
  for (std::uint64_t n = 0; n < FTotalEntries; ++n) {
    need(TCentralDirectoryFile::kSize);
    const TCentralDirectoryFile h =
        TCentralDirectoryFile::Unpack(reinterpret_cast<const unsigned char*>(dir.data()) + at);
    if (h.CentralFileHeaderSignature != kCentralFileHeaderSignature) throw EAbZipInvalid();
    at += TCentralDirectoryFile::kSize;
    const std::size_t var =
        std::size_t{h.FilenameLength} + h.ExtraFieldLength + h.FileCommentLength;
    need(var);
    TAbZipItem item;
    item.FVersionMadeBy = h.VersionMadeBy;
    item.FVersionNeededToExtract = h.VersionNeededToExtract;
    item.FGeneralPurposeBitFlag = h.GeneralPurposeBitFlag;
    item.FCompressionMethod = h.CompressionMethod;
    item.FLastModFileTime = static_cast<std::uint16_t>(h.LastModFileTimeDate & 0xFFFF);
    item.FLastModFileDate = static_cast<std::uint16_t>(h.LastModFileTimeDate >> 16);
    item.FCRC32 = h.Crc32;
    item.FCompressedSize = h.CompressedSize;
    item.FUncompressedSize = h.UncompressedSize;
    item.FDiskNumberStart = h.DiskNumberStart;
    item.FInternalFileAttributes = h.InternalFileAttributes;
    item.FExternalFileAttributes = h.ExternalFileAttributes;
    item.FRelativeOffset = h.RelativeOffsetOfLocalHeader;
    item.FRawFileName.assign(dir, at, h.FilenameLength);
    item.FExtraField.assign(dir, at + h.FilenameLength, h.ExtraFieldLength);
    item.FRawFileComment.assign(dir, at + h.FilenameLength + h.ExtraFieldLength,
                                h.FileCommentLength);
    at += var;
    ApplyZip64Extra(item.FExtraField, item.FUncompressedSize, item.FCompressedSize,
                    item.FRelativeOffset, item.FDiskNumberStart);
    item.FFileName = DecodeEntryName(item.FRawFileName, item.FExtraField, item.FVersionMadeBy,
                                     item.FGeneralPurposeBitFlag);
    item.FDiskFileName = item.FFileName;
    std::replace(item.FDiskFileName.begin(), item.FDiskFileName.end(), '/', kDelimiter);
    item.FFileComment = AnsiToText(item.FRawFileComment);
    FItems.push_back(std::move(item));
  }
}

namespace {

// Every folder part of a stored path that stays inside the base folder: empty parts,
// "." and ".." are dropped, and a drive ("C:") is cut off each part.
std::string SafeRelativePath(std::string_view name) {
  std::string out;
  std::size_t start = 0;
  while (start <= name.size()) {
    auto end = name.find_first_of("/\\", start);
    if (end == std::string_view::npos) end = name.size();
    std::string part(name.substr(start, end - start));
    const auto colon = part.rfind(':');
    if (colon != std::string::npos) part.erase(0, colon + 1);
    if (!part.empty() && part != "." && part != "..") {
      if (!out.empty()) out += kDelimiter;
      out += part;
    }
    start = end + 1;
  }
  return out;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (kDelimiters.find(folder.back()) != std::string_view::npos) return folder + name;
  return folder + kDelimiter + name;
}

#if defined(_WIN32)
// The file written for one entry: created new (an existing file or link of that name is
// removed first, never followed; a real folder stays and fails the item), other
// writers refused while it is written, deleted again unless finished.
class OutputFile {
 public:
  explicit OutputFile(const std::string& path) : FPath(path) {
    if (!WideName(path, FWide)) Fail(ERROR_INVALID_NAME);
    const DWORD attributes = GetFileAttributesW(FWide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
      const bool link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
      if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        if (!link) Fail(ERROR_DIRECTORY);
        if (RemoveDirectoryW(FWide.c_str()) == 0) Fail(GetLastError());
      } else {
        // A read-only file is replaced like any other.
        if (!link && (attributes & FILE_ATTRIBUTE_READONLY) != 0)
          (void)SetFileAttributesW(FWide.c_str(), attributes & ~DWORD{FILE_ATTRIBUTE_READONLY});
        if (DeleteFileW(FWide.c_str()) == 0) Fail(GetLastError());
      }
    }
    HANDLE h = CreateFileW(FWide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) Fail(GetLastError());
    FHandle = h;
    if (GetFileType(h) != FILE_TYPE_DISK) Fail(ERROR_INVALID_NAME);  // removed by the destructor
  }
  ~OutputFile() {
    if (FHandle != nullptr) {
      CloseHandle(FHandle);
      DeleteFileW(FWide.c_str());
    }
  }
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  void Write(const unsigned char* data, std::size_t size) {
    while (size > 0) {
      const auto want = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
      DWORD n = 0;
      if (WriteFile(FHandle, data, want, &n, nullptr) == 0 || n == 0) throw EWriteError();
      data += n;
      size -= n;
    }
  }

  // Date (when valid), close, then the read-only attribute; a step the system
  // refuses removes the file and is a write error.
  void Finish(const TAbZipItem& item) {
    TDateTime local = 0;
    if (TryDosDateTimeToDateTime(
            (static_cast<std::uint32_t>(item.LastModFileDate()) << 16) | item.LastModFileTime(),
            local)) {
      // 100-ns intervals since 1601-01-01 (UTC), 11,644,473,600 s before 1970.
      const std::int64_t unix_time = DateTimeToUnix(LocalToUtc(local));
      const std::int64_t ticks = (unix_time + 11644473600LL) * 10000000LL;
      FILETIME time;
      time.dwLowDateTime = static_cast<DWORD>(static_cast<std::uint64_t>(ticks) & 0xFFFFFFFFu);
      time.dwHighDateTime = static_cast<DWORD>(static_cast<std::uint64_t>(ticks) >> 32);
      if (ticks < 0 || SetFileTime(FHandle, nullptr, &time, &time) == 0) throw EWriteError();
    }
    HANDLE h = FHandle;
    FHandle = nullptr;
    if (CloseHandle(h) == 0 || (ExtractedReadOnly(item) &&
                                SetFileAttributesW(FWide.c_str(), FILE_ATTRIBUTE_READONLY) == 0)) {
      DeleteFileW(FWide.c_str());
      throw EWriteError();
    }
  }

 private:
  [[noreturn]] void Fail(DWORD err) {
    throw EFCreateError("Cannot create file \"" + FPath + "\": " + WinErrorText(err));
  }

  std::string FPath;
  std::wstring FWide;
  HANDLE FHandle = nullptr;
};
#else
// The file written for one entry: created new (an existing file or link of that name is
// removed first, never followed), deleted again unless finished.
class OutputFile {
 public:
  explicit OutputFile(const std::string& path) : FPath(path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0) {
      if (S_ISDIR(st.st_mode)) Fail(EISDIR);
      if (::unlink(path.c_str()) != 0) Fail(errno);
    }
    // The owner's alone while it is written; Finish gives it its mode.
    FHandle = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (FHandle < 0) Fail(errno);
  }
  ~OutputFile() {
    if (FHandle >= 0) {
      ::close(FHandle);
      ::unlink(FPath.c_str());
    }
  }
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  void Write(const unsigned char* data, std::size_t size) {
    while (size > 0) {
      const ssize_t n = ::write(FHandle, data, size);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) throw EWriteError();
      data += n;
      size -= static_cast<std::size_t>(n);
    }
  }

  // Date (when valid) and permissions, then close; a failing close is a write error.
  void Finish(const TAbZipItem& item) {
    TDateTime local = 0;
    if (TryDosDateTimeToDateTime(
            (static_cast<std::uint32_t>(item.LastModFileDate()) << 16) | item.LastModFileTime(),
            local)) {
      const std::int64_t unix_time = DateTimeToUnix(LocalToUtc(local));
      struct timespec times[2];
      times[0].tv_sec = times[1].tv_sec = static_cast<time_t>(unix_time);
      times[0].tv_nsec = times[1].tv_nsec = 0;
      ::futimens(FHandle, times);
    }
    ::fchmod(FHandle, ExtractedMode(item, ProcessUmask()));
    const int handle = FHandle;
    FHandle = -1;
    if (::close(handle) != 0) {
      ::unlink(FPath.c_str());
      throw EWriteError();
    }
  }

 private:
  [[noreturn]] void Fail(int err) {
    throw EFCreateError("Cannot create file \"" + FPath + "\": " + ErrnoText(err));
  }

  std::string FPath;
  int FHandle = -1;
};

#endif

struct InflateGuard {
  z_stream* stream;
  ~InflateGuard() { inflateEnd(stream); }
};

}  // namespace

std::string TAbZipArchive::RelativeItemPath(const TAbZipItem& Item) const {
  const bool restore = FExtractOptions.Contains(eoRestorePath);
  const bool folder = Item.IsDirectory();
  if (folder && (!restore || !FExtractOptions.Contains(eoCreateDirs))) return {};
  // A NUL anywhere, in a folder part too, ends the name early on the way to a file.
  if (Item.FileName().find('\0') != std::string::npos) throw EAbBadFileName(Item.FileName());
#if defined(_WIN32)
  CheckWindowsName(Item.FileName());
#endif
  if (folder) return SafeRelativePath(Item.FileName());
  std::string relative;
  if (restore) {
    relative = SafeRelativePath(Item.FileName());
  } else {
    const auto pos = Item.FileName().find_last_of("/\\:");
    relative = pos == std::string::npos ? Item.FileName() : Item.FileName().substr(pos + 1);
  }
  if (relative.empty() || relative == "." || relative == "..") {
    throw EAbBadFileName(Item.FileName());
  }
  return relative;
}

std::string TAbZipArchive::ItemPath(const TAbZipItem& Item) const {
  const std::string relative = RelativeItemPath(Item);
  return relative.empty() ? std::string() : JoinPath(FBaseDirectory, relative);
}

// The base folder (created when missing and allowed), then each folder of relative below
// it. Below the base folder nothing is followed: a part that exists as anything but a
// real folder (a link above all) makes the item fail.
void TAbZipArchive::PrepareFolders(const std::string& RelativeFolder) const {
  const bool create = FExtractOptions.Contains(eoCreateDirs);
  if (create && !ForceFolders(FBaseDirectory)) {
    throw EFCreateError("Cannot create folder \"" + FBaseDirectory + "\"");
  }
  std::string path = FBaseDirectory;
  std::size_t start = 0;
  while (start < RelativeFolder.size()) {
    auto end = RelativeFolder.find(kDelimiter, start);
    if (end == std::string::npos) end = RelativeFolder.size();
    path = JoinPath(path, RelativeFolder.substr(start, end - start));
#if defined(_WIN32)
    // A link or junction is never entered, nor anything but a folder.
    std::wstring wide;
    if (!WideName(path, wide)) throw EAbBadFileName(path);
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    DWORD error = 0;
    if (attributes != INVALID_FILE_ATTRIBUTES) {
      if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
          (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
        throw EAbBadFileName(path);
    } else if (!create || !MakeFolder(path, error)) {
      throw EFCreateError("Cannot create folder \"" + path +
                          "\": " + WinErrorText(create ? error : GetLastError()));
    }
#else
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0) {
      if (!S_ISDIR(st.st_mode)) throw EAbBadFileName(path);
    } else if (!create || ::mkdir(path.c_str(), 0777) != 0) {
      throw EFCreateError("Cannot create folder \"" + path + "\": " + ErrnoText(errno));
    }
#endif
    start = end + 1;
  }
}

void TAbZipArchive::ExtractItem(TAbZipItem& Item, TStream* Copy) {
  const std::string relative = RelativeItemPath(Item);
  if (relative.empty()) return;  // a folder entry
  if (Item.IsDirectory()) {
    PrepareFolders(relative);
    return;
  }
  const auto slash = relative.find_last_of(kDelimiter);
  PrepareFolders(slash == std::string::npos ? std::string() : relative.substr(0, slash));
  ExtractItemTo(Item, JoinPath(FBaseDirectory, relative), Copy);
}

namespace {

// Where an item's bytes go: its file, and a copy where one is asked for. They are
// produced straight into the copy's own memory where it has room for them, else
// into a buffer of this.
class ItemBytes {
 public:
  ItemBytes(OutputFile& File, TStream* Copy) : FFile(File), FCopy(Copy) {}
  unsigned char* Room(std::size_t Count) {
    FInCopy = FCopy != nullptr ? FCopy->WriteRoom(static_cast<std::int32_t>(Count)) : nullptr;
    if (FInCopy != nullptr) return reinterpret_cast<unsigned char*>(FInCopy);
    FBuffer.resize(Count);
    return FBuffer.data();
  }
  // The first Count bytes of the last room are the item's next bytes.
  void Commit(std::size_t Count) {
    const unsigned char* data =
        FInCopy != nullptr ? reinterpret_cast<unsigned char*>(FInCopy) : FBuffer.data();
    FFile.Write(data, Count);
    if (FInCopy != nullptr)
      FCopy->CommitWrite(static_cast<std::int32_t>(Count));
    else if (FCopy != nullptr)
      FCopy->WriteBuffer(data, static_cast<std::int32_t>(Count));
  }

 private:
  OutputFile& FFile;
  TStream* FCopy;
  char* FInCopy = nullptr;
  std::vector<unsigned char> FBuffer;
};

}  // namespace

void TAbZipArchive::ExtractItemTo(TAbZipItem& Item, const std::string& Path, TStream* Copy) {
  if ((Item.VersionNeededToExtract() & 0xFF) >= 64) throw EAbZipVersion();
  if (Item.DiskNumberStart() != FDiskNumber) throw EAbZipInvalid();  // on another disk
  const ZipInputFile& file = *FFile;
  unsigned char raw[TLocalFile::kSize];
  file.ReadExactAt(Item.RelativeOffset(), raw, sizeof raw);
  const TLocalFile local = TLocalFile::Unpack(raw);
  if (local.LocalFileHeaderSignature != kLocalFileHeaderSignature) throw EAbZipInvalid();
  std::uint64_t data_pos =
      Item.RelativeOffset() + TLocalFile::kSize + local.FilenameLength + local.ExtraFieldLength;
  if (Item.IsEncrypted()) throw EAbZipInvalidPassword();

  OutputFile out(Path);
  ItemBytes bytes(out, Copy);
  const std::uint64_t usz = Item.UncompressedSize();
  std::uint64_t csz = Item.CompressedSize();
  std::uint32_t crc = 0;
  if (usz > 0) {
    switch (Item.CompressionMethod() & 0x7F) {
      case 0: {
        if (usz > csz) throw EReadError();  // the stored data holds fewer bytes
        for (std::uint64_t left = usz; left > 0;) {
          const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, kIoChunk));
          unsigned char* room = bytes.Room(n);
          file.ReadExactAt(data_pos, room, n);
          crc = ZipCrc32(crc, room, n);
          bytes.Commit(n);
          data_pos += n;
          left -= n;
        }
        break;
      }
      case 8: {
        std::vector<unsigned char> in(kIoChunk);
        z_stream zs{};
        int ret = inflateInit2(&zs, -MAX_WBITS);
        if (ret != Z_OK) throw EZDecompressionError(ret, zError(ret));
        InflateGuard guard{&zs};
        std::uint64_t produced_total = 0;
        while (ret != Z_STREAM_END) {
          if (zs.avail_in == 0 && csz > 0) {
            const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(csz, in.size()));
            file.ReadExactAt(data_pos, in.data(), n);
            data_pos += n;
            csz -= n;
            zs.next_in = in.data();
            zs.avail_in = static_cast<uInt>(n);
          }
          unsigned char* room = bytes.Room(kIoChunk);
          zs.next_out = room;
          zs.avail_out = static_cast<uInt>(kIoChunk);
          ret = inflate(&zs, Z_NO_FLUSH);
          if (ret == Z_NEED_DICT || ret == Z_DATA_ERROR || ret == Z_MEM_ERROR ||
              ret == Z_STREAM_ERROR) {
            if (ret == Z_NEED_DICT) ret = Z_DATA_ERROR;  // raw data never asks for one
            throw EZDecompressionError(ret, zs.msg != nullptr ? zs.msg : zError(ret));
          }
          const std::size_t produced = kIoChunk - zs.avail_out;
          if (produced > usz - produced_total) throw EAbZipSizeMismatch();
          produced_total += produced;
          crc = ZipCrc32(crc, room, produced);
          bytes.Commit(produced);
          if (ret == Z_BUF_ERROR ||
              (ret == Z_OK && produced == 0 && zs.avail_in == 0 && csz == 0)) {
            throw EZDecompressionError(Z_BUF_ERROR, zError(Z_BUF_ERROR));  // data cut short
          }
        }
        break;
      }
      default:
        throw EAbZipInvalidMethod();
    }
    if (crc != Item.CRC32()) ReportFailure(Item, EAbZipBadCRC());
  }
  out.Finish(Item);
}

void TAbZipArchive::ReportFailure(TAbZipItem& Item, const Exception& Error) {
  if (FOnProcessItemFailure) FOnProcessItemFailure(Item, Error);
}

void TAbZipArchive::ExtractFiles(const std::string& FileMask) {
  for (auto& item : FItems) {
    if (!MatchesFileMask(item.FileName(), FileMask)) continue;
    try {
      ExtractItem(item);
    } catch (const Exception& e) {
      ReportFailure(item, e);
    } catch (const std::bad_alloc&) {
      ReportFailure(item, EStreamError("Out of memory"));
    }
  }
}

// --- the component ---

TAbUnZipper::TAbUnZipper() = default;
TAbUnZipper::~TAbUnZipper() = default;

void TAbUnZipper::CloseArchive() {
  FArchive.reset();
}

void TAbUnZipper::SetFileName(const std::string& Value) {
  CloseArchive();
  FFileName = Value;
  if (Value.empty()) return;
  if (!IsExistingFile(Value)) throw EAbFileNotFound();
#if defined(_WIN32)
  std::wstring wide;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!WideName(Value, wide) ||
      GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data) == 0)
    throw EAbFileNotFound();
  if (data.nFileSizeHigh == 0 && data.nFileSizeLow == 0) throw EAbBadStream();
#else
  struct stat st;
  if (::stat(Value.c_str(), &st) != 0) throw EAbFileNotFound();
  if (st.st_size == 0) throw EAbBadStream();
#endif
  switch (AbDetermineArchiveType(Value)) {
    case atZip:
    case atSpannedZip:
    case atSelfExtZip:
      break;
    default:
      throw EAbUnhandledType();
  }
  auto archive = std::make_unique<TAbZipArchive>(Value);
  archive->SetBaseDirectory(FBaseDirectory);
  archive->SetExtractOptions(FExtractOptions);
  archive->SetOnProcessItemFailure(FOnProcessItemFailure);
  FArchive = std::move(archive);
}

void TAbUnZipper::SetBaseDirectory(const std::string& Value) {
  std::string folder = Value;
#if defined(_WIN32)
  // "\" or "/" goes unless it is the root of a drive ("C:\") or of the current one.
  if (folder.size() > 1 && (folder.back() == '\\' || folder.back() == '/') &&
      folder[folder.size() - 2] != ':')
    folder.pop_back();
#else
  if (folder.size() > 1 && folder.back() == '/') folder.pop_back();
#endif
  if (FArchive && !folder.empty() && !IsFolder(folder)) throw EAbNoSuchDirectory();
  FBaseDirectory = folder;
  if (FArchive) FArchive->SetBaseDirectory(folder);
}

void TAbUnZipper::SetExtractOptions(TAbExtractOptions Value) {
  FExtractOptions = Value;
  if (FArchive) FArchive->SetExtractOptions(Value);
}

void TAbUnZipper::SetOnProcessItemFailure(TAbItemFailureEvent Handler) {
  FOnProcessItemFailure = std::move(Handler);
  if (FArchive) FArchive->SetOnProcessItemFailure(FOnProcessItemFailure);
}

void TAbUnZipper::ExtractFiles(const std::string& FileMask) {
  if (!FArchive) throw EAbNoArchive();
  FArchive->ExtractFiles(FileMask);
}

int TAbUnZipper::Count() const {
  return FArchive ? FArchive->Count() : 0;
}

TAbZipItem& TAbUnZipper::Items(int Index) {
  if (!FArchive) throw EAbIndexError(Index);
  return FArchive->Items(Index);
}

}  // namespace vto
