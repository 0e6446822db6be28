// Pieces shared by the zip writer and the extractor: the archive records with
// their little-endian byte layout, the zip CRC-32, DOS dates and times, and the
// rules that turn stored entry names into text and into file names.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "desktop/DateTime.h"
#include "desktop/Exception.h"

namespace vto {

// Record signatures as they are read little-endian from the archive.
constexpr std::uint32_t kLocalFileHeaderSignature = 0x04034B50;
constexpr std::uint32_t kCentralFileHeaderSignature = 0x02014B50;
constexpr std::uint32_t kEndOfCentralDirSignature = 0x06054B50;
constexpr std::uint32_t kZip64EndOfCentralDirSignature = 0x06064B50;
constexpr std::uint32_t kZip64EndOfCentralDirLocatorSignature = 0x07064B50;
constexpr std::uint32_t kDataDescriptorSignature = 0x08074B50;

// Little-endian access to byte buffers, the same on every host.
std::uint16_t GetLE16(const unsigned char* p);
std::uint32_t GetLE32(const unsigned char* p);
std::uint64_t GetLE64(const unsigned char* p);
void PutLE16(unsigned char* p, std::uint16_t v);
void PutLE32(unsigned char* p, std::uint32_t v);

// The local file header: 30 bytes, then the name, the extra field and the data.
struct TLocalFile {
  static constexpr std::size_t kSize = 30;

  std::uint32_t LocalFileHeaderSignature = kLocalFileHeaderSignature;
  std::uint16_t VersionNeededToExtract = 0;
  std::uint16_t GeneralPurposeBitFlag = 0;
  std::uint16_t CompressionMethod = 0;
  std::uint32_t LastModFileTimeDate = 0;  // time in the low 16 bits, date in the high
  std::uint32_t Crc32 = 0;
  std::uint32_t CompressedSize = 0;
  std::uint32_t UncompressedSize = 0;
  std::uint16_t FilenameLength = 0;
  std::uint16_t ExtraFieldLength = 0;
  std::string FileName;    // raw bytes
  std::string ExtraField;  // raw bytes

  void Pack(unsigned char* out) const;  // the fixed 30 bytes
  static TLocalFile Unpack(const unsigned char* in);
};

// The central directory header: 46 bytes, then the name, the extra field and the comment.
struct TCentralDirectoryFile {
  static constexpr std::size_t kSize = 46;

  std::uint32_t CentralFileHeaderSignature = kCentralFileHeaderSignature;
  std::uint16_t VersionMadeBy = 0;
  std::uint16_t VersionNeededToExtract = 0;
  std::uint16_t GeneralPurposeBitFlag = 0;
  std::uint16_t CompressionMethod = 0;
  std::uint32_t LastModFileTimeDate = 0;
  std::uint32_t Crc32 = 0;
  std::uint32_t CompressedSize = 0;
  std::uint32_t UncompressedSize = 0;
  std::uint16_t FilenameLength = 0;
  std::uint16_t ExtraFieldLength = 0;
  std::uint16_t FileCommentLength = 0;
  std::uint16_t DiskNumberStart = 0;
  std::uint16_t InternalFileAttributes = 0;
  std::uint32_t ExternalFileAttributes = 0;
  std::uint32_t RelativeOffsetOfLocalHeader = 0;
  std::string FileName;
  std::string ExtraField;
  std::string FileComment;

  void Pack(unsigned char* out) const;  // the fixed 46 bytes
  static TCentralDirectoryFile Unpack(const unsigned char* in);
};

// The end-of-central-directory record: 22 bytes, then the archive comment.
struct TEndOfCentralDir {
  static constexpr std::size_t kSize = 22;

  std::uint32_t EndOfCentralDirSignature = kEndOfCentralDirSignature;
  std::uint16_t NumberOfThisDisk = 0;
  std::uint16_t NumberOfTheDiskWithTheStart = 0;
  std::uint16_t TotalNumberOfEntriesOnThisDisk = 0;
  std::uint16_t TotalNumberOfEntries = 0;
  std::uint32_t SizeOfTheCentralDirectory = 0;
  std::uint32_t OffsetOfStartOfCentralDirectory = 0;
  std::uint16_t ZipfileCommentLength = 0;

  void Pack(unsigned char* out) const;
  static TEndOfCentralDir Unpack(const unsigned char* in);
};

// The end record is searched for in an archive's last EndRecordSearchSize bytes:
// all of a small archive, else the 22 + 65,535 bytes of a record with the longest
// comment.
std::size_t EndRecordSearchSize(std::uint64_t archive_size);
// The offset in tail (an archive's last bytes) of the last end-record signature
// whose comment fits into the bytes behind it; npos when there is none.
std::size_t FindEndRecordIn(std::string_view tail);

// The Zip64 end record (its fixed 56 bytes) and the 20-byte locator before the end record.
struct TZip64EndOfCentralDir {
  static constexpr std::size_t kSize = 56;
  std::uint32_t Signature = kZip64EndOfCentralDirSignature;
  std::uint64_t SizeOfRecord = 0;
  std::uint16_t VersionMadeBy = 0;
  std::uint16_t VersionNeededToExtract = 0;
  std::uint32_t NumberOfThisDisk = 0;
  std::uint32_t NumberOfTheDiskWithTheStart = 0;
  std::uint64_t TotalNumberOfEntriesOnThisDisk = 0;
  std::uint64_t TotalNumberOfEntries = 0;
  std::uint64_t SizeOfTheCentralDirectory = 0;
  std::uint64_t OffsetOfStartOfCentralDirectory = 0;
  static TZip64EndOfCentralDir Unpack(const unsigned char* in);
};
struct TZip64EndOfCentralDirLocator {
  static constexpr std::size_t kSize = 20;
  std::uint32_t Signature = kZip64EndOfCentralDirLocatorSignature;
  std::uint32_t NumberOfTheDiskWithZip64End = 0;
  std::uint64_t OffsetOfZip64End = 0;
  std::uint32_t TotalNumberOfDisks = 0;
  static TZip64EndOfCentralDirLocator Unpack(const unsigned char* in);
};

// The zip CRC-32 (reflected polynomial EDB88320, initial all ones, final complement),
// continued from crc; the CRC of no bytes is 0.
std::uint32_t ZipCrc32(std::uint32_t crc, const void* data, std::size_t size);
inline std::uint32_t ZipCrc32(std::string_view bytes) {
  return ZipCrc32(0, bytes.data(), bytes.size());
}

// DOS date and time of a TDateTime: time in the low 16 bits, date in the high 16 bits,
// seconds counted down to an even number; 0 for a date before 1980 or after 2107.
std::uint32_t DateTimeToDosDateTime(TDateTime value);
// The TDateTime of a DOS date and time; false (and value untouched) when the fields
// do not form a valid date and time.
bool TryDosDateTimeToDateTime(std::uint32_t dos, TDateTime& value);

// Entry names as the writer stores them.
// The part after the last "/", "\" or ":": the file name without its folders, on
// this platform ("/") and in the other platform's names ("C:\dir\a.txt").
std::string ExtractNamePart(std::string_view name);
// "\" becomes "/"; a drive ("...:/") and a network share ("//server/share/") are cut off.
std::string ToZipName(std::string_view name);

// Decoding of a stored name into text, first rule that applies: UTF-8 (flag bit 11,
// or valid UTF-8 with a non-ASCII byte), the Unicode path extra field 7075 whose CRC
// matches, the UTF-16 name of extra field 554E, then code page 437 for MS-DOS hosts
// and ISO-8859-1 for other hosts unless the bytes look like code page 437 text.
std::string DecodeEntryName(std::string_view raw, std::string_view extra,
                            std::uint16_t version_made_by, std::uint16_t flags);
// The data of the first extra-field block with this ID; false when there is none.
bool FindExtraField(std::string_view extra, std::uint16_t id, std::string_view& data);

// Masks: patterns separated by ";", each trimmed, compared in upper case, with "*" and
// "?" as wildcards; "*" and "*.*" match every non-empty name; a pattern without a folder
// part is compared with the last part of the name.
bool MatchesFileMask(std::string_view name, std::string_view mask);

}  // namespace vto
