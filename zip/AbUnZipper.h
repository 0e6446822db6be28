// Reading zip archive files and extracting their entries into a folder.
//
// TAbUnZipper opens an archive file (recognised by extension and content), lists its
// entries as TAbZipItem objects and extracts them. Entries are always written inside
// the base folder: with eoRestorePath off only the last part of the stored name is
// used, with it on every "..", "." and drive part of the stored path is dropped.
// Entries are written as plain files (never links), with the entry's date and a mode
// that goes through the umask: for Unix entries the stored permission bits without
// set-id bits and without write for group or others, always readable by the owner.
// On Windows "\" separates parts too, the read-only attribute is what is taken
// over (a Unix mode without write for the owner, or the archive's own attribute),
// and a name with a part Windows would not keep as written (a drive or stream
// ":", a device name such as CON or COM1, a trailing dot or blank, a character
// no file name may hold) fails as an item.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "desktop/DateTime.h"
#include "desktop/Exception.h"
#include "desktop/IdSet.h"
#include "streams/Streams.h"

namespace vto {

class EAbException : public Exception {
 public:
  using Exception::Exception;
};

#define VTO_AB_EXCEPTION(Name, Text) \
  class Name : public EAbException { \
   public:                           \
    Name() : EAbException(Text) {}   \
  };
VTO_AB_EXCEPTION(EAbFileNotFound, "File not found")
VTO_AB_EXCEPTION(EAbBadStream, "Invalid Stream")
VTO_AB_EXCEPTION(EAbUnhandledType, "Unhandled Archive Type")
VTO_AB_EXCEPTION(EAbZipInvalid, "Invalid file - not a PKZip file")
VTO_AB_EXCEPTION(EAbNoArchive, "Archive does not exist - Filename is blank")
VTO_AB_EXCEPTION(EAbNoSuchDirectory, "Directory does not exist")
VTO_AB_EXCEPTION(EAbZipVersion, "Cannot extract file - newer version required")
VTO_AB_EXCEPTION(EAbZipInvalidMethod, "Cannot extract file - unsupported compression method")
VTO_AB_EXCEPTION(EAbZipBadCRC, "Failed CRC Check")
VTO_AB_EXCEPTION(EAbZipInvalidPassword, "Cannot extract file - invalid password")
VTO_AB_EXCEPTION(EAbZipNoExtraction, "Cannot extract file - no extraction support provided")
VTO_AB_EXCEPTION(EAbUserAbort, "Process aborted by user")
// An entry whose data inflates beyond its declared uncompressed size.
VTO_AB_EXCEPTION(EAbZipSizeMismatch, "Cannot extract file - data larger than its declared size")
// A DOS date and time that form no valid date.
VTO_AB_EXCEPTION(EAbInvalidDate, "Invalid argument to date encode")
#undef VTO_AB_EXCEPTION

// An entry name that cannot become a file inside the base folder.
class EAbBadFileName : public EAbException {
 public:
  explicit EAbBadFileName(const std::string& name)
      : EAbException("Cannot extract file - invalid file name \"" + name + "\"") {}
};
// An index outside 0 .. Count - 1.
class EAbIndexError : public EAbException {
 public:
  explicit EAbIndexError(long long index)
      : EAbException("List index out of bounds (" + std::to_string(index) + ")") {}
};

enum TAbExtractOption : unsigned { eoCreateDirs = 0, eoRestorePath = 1 };

using TAbExtractOptions = TIdSet<TAbExtractOption>;

enum TAbArchiveType {
  atUnknown,
  atZip,
  atSpannedZip,
  atSelfExtZip,
  atTar,
  atGzip,
  atGzippedTar,
  atCab,
  atBzip2,
  atBzippedTar
};

// The type of an archive file by its extension (checked against the content) or, for
// other extensions, by content alone. atUnknown when nothing fits or it cannot be read.
TAbArchiveType AbDetermineArchiveType(const std::string& path);

class TAbZipArchive;
class ZipInputFile;

// One entry, loaded from its central directory header.
class TAbZipItem {
 public:
  std::uint16_t VersionMadeBy() const { return FVersionMadeBy; }
  std::uint16_t VersionNeededToExtract() const { return FVersionNeededToExtract; }
  std::uint16_t GeneralPurposeBitFlag() const { return FGeneralPurposeBitFlag; }
  std::uint16_t CompressionMethod() const { return FCompressionMethod; }
  std::uint16_t LastModFileTime() const { return FLastModFileTime; }
  std::uint16_t LastModFileDate() const { return FLastModFileDate; }
  std::uint32_t CRC32() const { return FCRC32; }
  std::uint64_t CompressedSize() const { return FCompressedSize; }
  std::uint64_t UncompressedSize() const { return FUncompressedSize; }
  std::uint32_t DiskNumberStart() const { return FDiskNumberStart; }
  std::uint16_t InternalFileAttributes() const { return FInternalFileAttributes; }
  std::uint32_t ExternalFileAttributes() const { return FExternalFileAttributes; }
  std::uint64_t RelativeOffset() const { return FRelativeOffset; }
  const std::string& RawFileName() const { return FRawFileName; }
  const std::string& ExtraField() const { return FExtraField; }
  const std::string& RawFileComment() const { return FRawFileComment; }

  // The decoded name, with "/" as stored.
  const std::string& FileName() const { return FFileName; }
  // The name with the platform's path delimiter.
  const std::string& DiskFileName() const { return FDiskFileName; }
  const std::string& FileComment() const { return FFileComment; }
  // The entry's DOS date and time; raises EAbInvalidDate when they form no valid date.
  TDateTime LastModTimeAsDateTime() const;

  bool IsEncrypted() const { return (FGeneralPurposeBitFlag & 1) != 0; }
  // Attribute bit 4, or a name ending in "/" or "\".
  bool IsDirectory() const;
  int HostOS() const { return FVersionMadeBy >> 8; }

 private:
  friend class TAbZipArchive;
  std::uint16_t FVersionMadeBy = 0;
  std::uint16_t FVersionNeededToExtract = 0;
  std::uint16_t FGeneralPurposeBitFlag = 0;
  std::uint16_t FCompressionMethod = 0;
  std::uint16_t FLastModFileTime = 0;
  std::uint16_t FLastModFileDate = 0;
  std::uint32_t FCRC32 = 0;
  std::uint64_t FCompressedSize = 0;
  std::uint64_t FUncompressedSize = 0;
  std::uint32_t FDiskNumberStart = 0;
  std::uint16_t FInternalFileAttributes = 0;
  std::uint32_t FExternalFileAttributes = 0;
  std::uint64_t FRelativeOffset = 0;
  std::string FRawFileName, FExtraField, FRawFileComment;
  std::string FFileName, FDiskFileName, FFileComment;
};

// Called for an item that could not be extracted (or whose CRC differs); the
// error says why.
using TAbItemFailureEvent = std::function<void(TAbZipItem& Item, const Exception& Error)>;

// An open zip archive file and its items.
class TAbZipArchive {
 public:
  // Opens and loads the archive; raises EAbZipInvalid (or a read error) when the
  // content is no readable zip archive.
  explicit TAbZipArchive(const std::string& FileName);
  ~TAbZipArchive();
  TAbZipArchive(const TAbZipArchive&) = delete;
  TAbZipArchive& operator=(const TAbZipArchive&) = delete;

  const std::string& ArchiveName() const { return FArchiveName; }
  int Count() const { return static_cast<int>(FItems.size()); }
  TAbZipItem& Items(int Index);

  std::uint32_t DiskNumber() const { return FDiskNumber; }
  std::uint32_t StartDisk() const { return FStartDisk; }
  std::uint64_t EntriesOnDisk() const { return FEntriesOnDisk; }
  std::uint64_t TotalEntries() const { return FTotalEntries; }
  std::uint64_t DirectorySize() const { return FDirectorySize; }
  std::uint64_t DirectoryOffset() const { return FDirectoryOffset; }
  const std::string& ZipfileComment() const { return FZipfileComment; }

  const std::string& BaseDirectory() const { return FBaseDirectory; }
  void SetBaseDirectory(const std::string& Value) { FBaseDirectory = Value; }
  TAbExtractOptions ExtractOptions() const { return FExtractOptions; }
  void SetExtractOptions(TAbExtractOptions Value) { FExtractOptions = Value; }
  void SetOnProcessItemFailure(TAbItemFailureEvent Handler) {
    FOnProcessItemFailure = std::move(Handler);
  }

  // Extracts every item whose name matches the mask; failures go to the handler.
  void ExtractFiles(const std::string& FileMask);
  // Extracts one item to the path the extraction rules give; raises on failure
  // (a CRC difference is reported to the handler and does not raise). Copy, when
  // given, receives the bytes written to the file as well.
  void ExtractItem(TAbZipItem& Item, TStream* Copy = nullptr);
  // The path an item is written to; empty for a folder entry that is skipped.
  std::string ItemPath(const TAbZipItem& Item) const;

 private:
  void Load();
  std::string RelativeItemPath(const TAbZipItem& Item) const;
  void PrepareFolders(const std::string& RelativeFolder) const;
  void ExtractItemTo(TAbZipItem& Item, const std::string& Path, TStream* Copy);
  void ReportFailure(TAbZipItem& Item, const Exception& Error);

  std::string FArchiveName;
  std::unique_ptr<ZipInputFile> FFile;
  std::vector<TAbZipItem> FItems;
  std::uint32_t FDiskNumber = 0, FStartDisk = 0;
  std::uint64_t FEntriesOnDisk = 0, FTotalEntries = 0, FDirectorySize = 0, FDirectoryOffset = 0;
  std::string FZipfileComment;
  std::string FBaseDirectory;
  TAbExtractOptions FExtractOptions{eoCreateDirs};
  TAbItemFailureEvent FOnProcessItemFailure;
};

class TAbUnZipper {
 public:
  TAbUnZipper();
  ~TAbUnZipper();
  TAbUnZipper(const TAbUnZipper&) = delete;
  TAbUnZipper& operator=(const TAbUnZipper&) = delete;

  const std::string& FileName() const { return FFileName; }
  // Opens the archive (an empty name closes it and opens nothing).
  void SetFileName(const std::string& Value);
  const std::string& BaseDirectory() const { return FBaseDirectory; }
  // A trailing "/" is dropped unless the folder is the root; while an archive is open,
  // a folder that does not exist raises EAbNoSuchDirectory.
  void SetBaseDirectory(const std::string& Value);
  TAbExtractOptions ExtractOptions() const { return FExtractOptions; }
  void SetExtractOptions(TAbExtractOptions Value);
  int PasswordRetries() const { return FPasswordRetries; }
  void SetOnProcessItemFailure(TAbItemFailureEvent Handler);

  void ExtractFiles(const std::string& FileMask);
  int Count() const;
  TAbZipItem& Items(int Index);
  TAbZipArchive* Archive() { return FArchive.get(); }
  void CloseArchive();

 private:
  std::string FFileName;
  std::string FBaseDirectory;
  TAbExtractOptions FExtractOptions{eoCreateDirs};
  int FPasswordRetries = 3;
  TAbItemFailureEvent FOnProcessItemFailure;
  std::unique_ptr<TAbZipArchive> FArchive;
};

}  // namespace vto
