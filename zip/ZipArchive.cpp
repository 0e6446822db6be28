#include "zip/ZipArchive.h"

#include <zlib.h>

#include <algorithm>
#include <limits>

#include "desktop/TextCodec.h"
#include "streams/ZStreams.h"

namespace vto {

namespace {

constexpr std::uint16_t kVersion20 = 20;
constexpr std::uint16_t kAttrDirectory = 0x10;
constexpr std::uint16_t kFlagUtf8 = 0x0800;
constexpr std::uint64_t kMax32 = 0xFFFFFFFFu;
constexpr std::size_t kDeflateChunk = 131072;
// Streams move at most this much per call.
constexpr std::int32_t kMaxTransfer = 1 << 30;

[[noreturn]] void RaiseCompressionError(int code) {
  throw EZCompressionError(code, zError(code));
}

void ReadAll(TStream& stream, char* buffer, std::int64_t count) {
  while (count > 0) {
    const auto n = static_cast<std::int32_t>(std::min<std::int64_t>(count, kMaxTransfer));
    stream.ReadBuffer(buffer, n);
    buffer += n;
    count -= n;
  }
}

void WriteAll(TStream& stream, const char* buffer, std::int64_t count) {
  while (count > 0) {
    const auto n = static_cast<std::int32_t>(std::min<std::int64_t>(count, kMaxTransfer));
    stream.WriteBuffer(buffer, n);
    buffer += n;
    count -= n;
  }
}

void WriteBytes(TStream& stream, const std::string& bytes) {
  WriteAll(stream, bytes.data(), static_cast<std::int64_t>(bytes.size()));
}

struct DeflateGuard {
  z_stream* stream;
  ~DeflateGuard() { deflateEnd(stream); }
};

// Where the compressed bytes go: Room gives memory for up to Count bytes (the
// destination's own where it has some, else a buffer), Commit takes the first
// Count of them as written.
class DeflateSink {
 public:
  explicit DeflateSink(TStream* Dest, std::string* Out) : FDest(Dest), FOut(Out) {}
  unsigned char* Room(std::size_t Count) {
    if (FOut != nullptr) {
      FUsed = FOut->size();
      FOut->resize(FUsed + Count);
      return reinterpret_cast<unsigned char*>(FOut->data() + FUsed);
    }
    FInPlace = FDest->WriteRoom(static_cast<std::int32_t>(Count));
    if (FInPlace != nullptr) return reinterpret_cast<unsigned char*>(FInPlace);
    FBuffer.resize(Count);
    return reinterpret_cast<unsigned char*>(FBuffer.data());
  }
  void Commit(std::size_t Count) {
    FTotal += Count;
    if (FOut != nullptr) {
      FOut->resize(FUsed + Count);
    } else if (FInPlace != nullptr) {
      FDest->CommitWrite(static_cast<std::int32_t>(Count));
    } else {
      WriteAll(*FDest, FBuffer.data(), static_cast<std::int64_t>(Count));
    }
  }
  std::uint64_t Total() const { return FTotal; }

 private:
  TStream* FDest;
  std::string* FOut;
  std::size_t FUsed = 0;
  char* FInPlace = nullptr;
  std::vector<char> FBuffer;
  std::uint64_t FTotal = 0;
};

// Raw DEFLATE (no zlib header or Adler-32 trailer: the same data zlib's default
// level puts between them) of the bytes Next hands out, one piece after the
// other until it gives none; the CRC-32 of those bytes goes to Crc.
template <typename NextPiece>
std::uint64_t DeflateInto(DeflateSink& Sink, NextPiece&& Next, std::uint32_t& Crc) {
  z_stream zs{};
  int ret = deflateInit2(&zs, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
  if (ret != Z_OK) RaiseCompressionError(ret);
  DeflateGuard guard{&zs};
  Crc = 0;
  std::string_view piece = Next();
  int flush = piece.empty() ? Z_FINISH : Z_NO_FLUSH;
  do {
    if (zs.avail_in == 0 && flush == Z_NO_FLUSH) {
      if (piece.empty()) piece = Next();
      if (piece.empty()) {
        flush = Z_FINISH;
      } else {
        const std::size_t n = std::min<std::size_t>(piece.size(), std::numeric_limits<uInt>::max());
        Crc = ZipCrc32(Crc, piece.data(), n);
        zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(piece.data()));
        zs.avail_in = static_cast<uInt>(n);
        piece.remove_prefix(n);
      }
    }
    zs.next_out = Sink.Room(kDeflateChunk);
    zs.avail_out = static_cast<uInt>(kDeflateChunk);
    ret = deflate(&zs, flush);
    Sink.Commit(kDeflateChunk - zs.avail_out);
    if (ret < 0 && ret != Z_BUF_ERROR) RaiseCompressionError(ret);
  } while (ret != Z_STREAM_END);
  return zs.total_in;
}

// Pieces of a stream from its position to its end: a memory stream's own
// block, read in place, or reads through a buffer.
class SourcePieces {
 public:
  explicit SourcePieces(TStream& Source)
      : FSource(Source), FMemory(dynamic_cast<TCustomMemoryStream*>(&Source)) {
    FLeft = std::max<std::int64_t>(0, Source.Size() - Source.Position());
  }
  std::string_view operator()() {
    if (FLeft <= 0) return {};
    // Pieces small enough for the CRC and the compressor to find them in the cache.
    constexpr std::int64_t kPiece = 256 * 1024;
    const std::int64_t n = std::min(FLeft, kPiece);
    FLeft -= n;
    if (FMemory != nullptr) {
      const std::int64_t at = FMemory->Position();
      FMemory->Seek(n, soCurrent);
      return {FMemory->Memory() + at, static_cast<std::size_t>(n)};
    }
    FBuffer.resize(static_cast<std::size_t>(n));
    ReadAll(FSource, FBuffer.data(), n);
    return FBuffer;
  }
  std::int64_t Left() const { return FLeft; }

 private:
  TStream& FSource;
  TCustomMemoryStream* FMemory;
  std::int64_t FLeft = 0;
  std::string FBuffer;
};

}  // namespace

std::string DeflateRaw(std::string_view Data) {
  std::string out;
  DeflateSink sink(nullptr, &out);
  bool given = false;
  std::uint32_t crc = 0;
  DeflateInto(
      sink,
      [&]() -> std::string_view {
        if (given) return {};
        given = true;
        return Data;
      },
      crc);
  return out;
}

// --- entries ---

void TZipEntry::UpdateFromHeaders() {
  const auto& h = FCentralDirEntry;
  TDateTime date = 0;
  FDate = TryDosDateTimeToDateTime(h.LastModFileTimeDate, date) ? date : 0;
  FEncrypted = (h.GeneralPurposeBitFlag & 1) != 0;
  FIsFolder = (h.ExternalFileAttributes & kAttrDirectory) != 0;
  if (h.CompressionMethod == 8 || h.CompressionMethod == 9) {
    switch (h.GeneralPurposeBitFlag & 6) {
      case 0:
        FCompressionType = ctNormal;
        break;
      case 2:
        FCompressionType = ctMaximum;
        break;
      case 4:
        FCompressionType = ctFast;
        break;
      default:
        FCompressionType = ctSuperFast;
        break;
    }
  } else {
    FCompressionType = ctUnknown;
  }
}

TZipEntry& TZipEntryList::Items(int Index) {
  if (Index < 0 || Index >= Count()) {
    throw EZipArchiveError("List index out of bounds (" + std::to_string(Index) + ")");
  }
  return *FItems[static_cast<std::size_t>(Index)];
}

TZipEntry& TZipEntryList::Add() {
  FItems.push_back(std::make_unique<TZipEntry>());
  return *FItems.back();
}

void TZipEntryList::Delete(int Index) {
  Items(Index);  // range check
  FItems.erase(FItems.begin() + Index);
}

int TZipEntryList::IndexOf(const std::string& FileName) const {
  for (std::size_t i = 0; i < FItems.size(); ++i) {
    if (FItems[i]->FileName() == FileName) return static_cast<int>(i);
  }
  return -1;
}

// --- the archive ---

TZipArchive::TZipArchive() = default;

TZipArchive::~TZipArchive() {
  Close();
}

void TZipArchive::CreateZip(TStream& Stream) {
  unsigned char raw[TEndOfCentralDir::kSize];
  TEndOfCentralDir{}.Pack(raw);
  Stream.WriteBuffer(raw, sizeof raw);
}

void TZipArchive::Open(TStream& MS) {
  Close();
  FZipStream = &MS;
  FExternalStream = true;
  ParseZip();
  if (!FEntries.IsZipFile()) {
    FEntries.Clear();
    FZipStream = nullptr;
  }
}

void TZipArchive::Close() {
  FEntries.Clear();
  FEntries.SetIsZipFile(false);
  FOwnedStream.reset();  // never the caller's
  FZipStream = nullptr;
  FExternalStream = false;
  FIsZipFile = false;
  FReadOnly = false;
  FZipComment.clear();
}

bool TZipArchive::FindEndOfCentralDir(std::int64_t& Position) {
  TStream& s = *FZipStream;
  const std::int64_t size = s.Size();
  if (size < static_cast<std::int64_t>(TEndOfCentralDir::kSize)) return false;
  // Every place an end record with a comment of up to 65,535 bytes can start.
  const auto window =
      static_cast<std::int64_t>(EndRecordSearchSize(static_cast<std::uint64_t>(size)));
  std::string block(static_cast<std::size_t>(window), '\0');
  s.SetPosition(size - window);
  ReadAll(s, block.data(), window);
  const std::size_t at = FindEndRecordIn(block);
  if (at == std::string::npos) return false;
  Position = size - window + static_cast<std::int64_t>(at);
  return true;
}

void TZipArchive::ParseZip() {
  FEntries.Clear();
  FEntries.SetIsZipFile(false);
  FIsZipFile = false;
  FHasBadEntries = false;
  TStream& s = *FZipStream;
  try {
    std::int64_t pos = 0;
    if (!FindEndOfCentralDir(pos)) return;  // no scan for loose local headers
    unsigned char raw[TEndOfCentralDir::kSize];
    s.SetPosition(pos);
    s.ReadBuffer(raw, sizeof raw);
    FEndOfCentralDir = TEndOfCentralDir::Unpack(raw);
    FEndOfCentralDirPos = pos;
    FZipCommentPos = pos + static_cast<std::int64_t>(sizeof raw);
    FZipComment.clear();

    // The directory lies before its end record; an offset beyond it would make
    // the next added entry grow the stream to wherever the record points.
    if (FEndOfCentralDir.OffsetOfStartOfCentralDirectory > static_cast<std::uint64_t>(pos)) return;
    const int expected = FEndOfCentralDir.TotalNumberOfEntriesOnThisDisk;
    s.SetPosition(FEndOfCentralDir.OffsetOfStartOfCentralDirectory);
    for (int i = 0; i < expected; ++i) {
      unsigned char h[TCentralDirectoryFile::kSize];
      s.ReadBuffer(h, sizeof h);
      TCentralDirectoryFile c = TCentralDirectoryFile::Unpack(h);
      if (c.CentralFileHeaderSignature != kCentralFileHeaderSignature) return;
      c.FileName.resize(c.FilenameLength);
      c.ExtraField.resize(c.ExtraFieldLength);
      c.FileComment.resize(c.FileCommentLength);
      ReadAll(s, c.FileName.data(), c.FilenameLength);
      ReadAll(s, c.ExtraField.data(), c.ExtraFieldLength);
      ReadAll(s, c.FileComment.data(), c.FileCommentLength);
      TZipEntry& e = FEntries.Add();
      e.FCentralDirEntry = std::move(c);
      e.UpdateFromHeaders();
    }
    for (int i = 0; i < FEntries.Count(); ++i) {
      TZipEntry& e = FEntries.Items(i);
      unsigned char h[TLocalFile::kSize];
      s.SetPosition(e.FCentralDirEntry.RelativeOffsetOfLocalHeader);
      s.ReadBuffer(h, sizeof h);
      TLocalFile l = TLocalFile::Unpack(h);
      if (l.LocalFileHeaderSignature != kLocalFileHeaderSignature) return;
      l.FileName.resize(l.FilenameLength);
      l.ExtraField.resize(l.ExtraFieldLength);
      ReadAll(s, l.FileName.data(), l.FilenameLength);
      ReadAll(s, l.ExtraField.data(), l.ExtraFieldLength);
      // An entry ends before the directory: a new entry is written where the
      // directory starts, and must not overwrite a header or data that stay.
      std::uint64_t end = e.FCentralDirEntry.RelativeOffsetOfLocalHeader +
                          std::uint64_t{TLocalFile::kSize} + l.FilenameLength + l.ExtraFieldLength;
      if (e.FCentralDirEntry.CompressedSize != kMax32) end += e.FCentralDirEntry.CompressedSize;
      if (end > FEndOfCentralDir.OffsetOfStartOfCentralDirectory) return;
      e.FLocalEntry = std::move(l);
    }
    FIsZipFile = FEntries.Count() == expected;
    FEntries.SetIsZipFile(FIsZipFile);
  } catch (const Exception&) {
    // A damaged directory: the stream is no zip archive.
    FEntries.Clear();
    FEntries.SetIsZipFile(false);
    FIsZipFile = false;
  }
}

void TZipArchive::ReadZipComment() {
  FZipComment.assign(FEndOfCentralDir.ZipfileCommentLength, '\0');
  if (FZipComment.empty()) return;
  FZipStream->SetPosition(FZipCommentPos);
  ReadAll(*FZipStream, FZipComment.data(), static_cast<std::int64_t>(FZipComment.size()));
}

std::vector<std::string> TZipArchive::Comment() const {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < FZipComment.size()) {
    auto end = FZipComment.find_first_of("\r\n", start);
    if (end == std::string::npos) end = FZipComment.size();
    lines.push_back(FZipComment.substr(start, end - start));
    if (end < FZipComment.size() && FZipComment[end] == '\r' && end + 1 < FZipComment.size() &&
        FZipComment[end + 1] == '\n') {
      ++end;
    }
    start = end + 1;
  }
  return lines;
}

TZipEntry& TZipArchive::AddStream(const std::string& FileName, std::uint16_t FileAttr,
                                  TDateTime FileDate, TStream& Stream) {
  if (FZipStream == nullptr) throw EZipArchiveError("No zip archive is open");
  ReadZipComment();
  const std::string name = ToZipName(FStoreRelativePath ? FileName : ExtractNamePart(FileName));
  if (FStoreFolders && FStoreRelativePath) {
    for (auto slash = name.find('/'); slash != std::string::npos;
         slash = name.find('/', slash + 1)) {
      const std::string folder = name.substr(0, slash + 1);
      if (slash > 0 && FEntries.IndexOf(folder) < 0) {
        AddEntry(folder, kAttrDirectory, FileDate, nullptr);
      }
    }
  }
  const std::int64_t left = std::max<std::int64_t>(0, Stream.Size() - Stream.Position());
  if (static_cast<std::uint64_t>(left) > kMax32) {
    throw EZipArchiveError("Entry too large for a zip archive without Zip64 records");
  }
  return AddEntry(name, FileAttr, FileDate, &Stream);
}

TZipEntry& TZipArchive::AddEntry(const std::string& ZipName, std::uint16_t FileAttr,
                                 TDateTime FileDate, TStream* Source) {
  TStream& s = *FZipStream;
  const int existing = FEntries.IndexOf(ZipName);
  if (existing >= 0) FEntries.Delete(existing);
  if (FEntries.Count() >= 0xFFFF) {
    throw EZipArchiveError("Too many entries for a zip archive without Zip64 records");
  }
  if (ZipName.size() > 0xFFFF) throw EZipArchiveError("Entry name too long");

  const std::uint32_t dos = DateTimeToDosDateTime(FileDate);
  // A name beyond ASCII is this platform's UTF-8, and says so (bit 11): readers
  // would otherwise take its bytes for code page 437.
  const bool utf8 = std::any_of(ZipName.begin(), ZipName.end(),
                                [](char c) { return static_cast<unsigned char>(c) >= 0x80; }) &&
                    FindInvalidUtf8(ZipName) == std::string::npos;
  const std::uint16_t flags = utf8 ? kFlagUtf8 : 0;
  const std::uint64_t offset = FEndOfCentralDir.OffsetOfStartOfCentralDirectory;
  const auto n = static_cast<std::uint16_t>(ZipName.size());
  std::uint64_t directory_size = 0;
  for (int i = 0; i < FEntries.Count(); ++i) {
    const auto& c = FEntries.Items(i).FCentralDirEntry;
    directory_size += TCentralDirectoryFile::kSize + c.FileName.size() + c.ExtraField.size() +
                      c.FileComment.size();
  }
  directory_size += TCentralDirectoryFile::kSize + n;

  // The new entry takes the place where the directory began; what stood there from
  // then on (directory, end record, comment) comes back should the entry fail.
  const std::int64_t old_size = s.Size();
  std::string old_tail(static_cast<std::size_t>(old_size - static_cast<std::int64_t>(offset)),
                       '\0');
  s.SetPosition(static_cast<std::int64_t>(offset));
  ReadAll(s, old_tail.data(), static_cast<std::int64_t>(old_tail.size()));

  TZipEntry& e = FEntries.Add();
  TLocalFile& l = e.FLocalEntry;
  l.VersionNeededToExtract = kVersion20;
  l.GeneralPurposeBitFlag = flags;
  l.LastModFileTimeDate = dos;
  l.FilenameLength = n;
  l.ExtraFieldLength = 0;
  l.FileName = ZipName;
  try {
    // The header first with its sizes still open, then the data compressed
    // straight behind it, then the header again with what the data gave.
    s.SetPosition(static_cast<std::int64_t>(offset));
    unsigned char raw[TLocalFile::kSize];
    l.Pack(raw);
    s.WriteBuffer(raw, sizeof raw);
    WriteBytes(s, ZipName);
    std::uint64_t stored = 0, length = 0;
    std::uint32_t crc = 0;
    l.CompressionMethod = 0;  // no data: stored, nothing follows the name
    if (Source != nullptr) {
      SourcePieces pieces(*Source);
      if (pieces.Left() > 0) {
        DeflateSink sink(&s, nullptr);
        length = DeflateInto(sink, pieces, crc);
        stored = sink.Total();
        l.CompressionMethod = 8;
      }
    }
    const std::uint64_t new_directory_offset = offset + TLocalFile::kSize + n + stored;
    // Everything the new archive needs must fit the 32-bit fields.
    if (stored > kMax32 || length > kMax32 || new_directory_offset > kMax32 ||
        directory_size > kMax32 || new_directory_offset + directory_size > kMax32) {
      throw EZipArchiveError("Archive too large for a zip archive without Zip64 records");
    }
    l.Crc32 = crc;
    l.CompressedSize = static_cast<std::uint32_t>(stored);
    l.UncompressedSize = static_cast<std::uint32_t>(length);
    s.SetPosition(static_cast<std::int64_t>(offset));
    l.Pack(raw);
    s.WriteBuffer(raw, sizeof raw);
    s.SetPosition(static_cast<std::int64_t>(new_directory_offset));
  } catch (...) {
    FEntries.Delete(FEntries.Count() - 1);
    s.SetSize(static_cast<std::int64_t>(offset));
    s.SetPosition(static_cast<std::int64_t>(offset));
    WriteBytes(s, old_tail);
    throw;
  }
  TCentralDirectoryFile& c = e.FCentralDirEntry;
  c.VersionMadeBy = kVersion20;
  c.VersionNeededToExtract = kVersion20;
  c.GeneralPurposeBitFlag = flags;
  c.CompressionMethod = l.CompressionMethod;
  c.LastModFileTimeDate = dos;
  c.Crc32 = l.Crc32;
  c.CompressedSize = l.CompressedSize;
  c.UncompressedSize = l.UncompressedSize;
  c.FilenameLength = n;
  c.ExtraFieldLength = 0;
  c.FileCommentLength = 0;
  c.DiskNumberStart = 0;
  c.InternalFileAttributes = 0;
  c.ExternalFileAttributes = FileAttr;
  c.RelativeOffsetOfLocalHeader = static_cast<std::uint32_t>(offset);
  c.FileName = ZipName;
  e.UpdateFromHeaders();
  e.FDate = FileDate;
  FIsDirty = true;
  WriteCentralDirectoryAndEnd();
  return e;
}

void TZipArchive::WriteCentralDirectoryAndEnd() {
  TStream& s = *FZipStream;
  const std::int64_t directory_offset = s.Position();
  for (int i = 0; i < FEntries.Count(); ++i) {
    const auto& c = FEntries.Items(i).FCentralDirEntry;
    unsigned char raw[TCentralDirectoryFile::kSize];
    c.Pack(raw);
    s.WriteBuffer(raw, sizeof raw);
    WriteBytes(s, c.FileName);
    WriteBytes(s, c.ExtraField);
    WriteBytes(s, c.FileComment);
  }
  const std::int64_t end_pos = s.Position();
  FEndOfCentralDir.OffsetOfStartOfCentralDirectory = static_cast<std::uint32_t>(directory_offset);
  FEndOfCentralDir.SizeOfTheCentralDirectory =
      static_cast<std::uint32_t>(end_pos - directory_offset);
  FEndOfCentralDir.TotalNumberOfEntriesOnThisDisk = static_cast<std::uint16_t>(FEntries.Count());
  FEndOfCentralDir.TotalNumberOfEntries = static_cast<std::uint16_t>(FEntries.Count());
  FEndOfCentralDir.ZipfileCommentLength = static_cast<std::uint16_t>(FZipComment.size());
  unsigned char raw[TEndOfCentralDir::kSize];
  FEndOfCentralDir.Pack(raw);
  s.WriteBuffer(raw, sizeof raw);
  FEndOfCentralDirPos = end_pos;
  FZipCommentPos = end_pos + static_cast<std::int64_t>(sizeof raw);
  WriteBytes(s, FZipComment);
  // A replaced entry leaves a shorter directory: nothing may follow the archive's end.
  if (s.Position() < s.Size()) s.SetSize(s.Position());
  FIsZipFile = true;
  FEntries.SetIsZipFile(true);
}

}  // namespace vto
