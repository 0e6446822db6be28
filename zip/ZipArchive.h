// A zip archive kept in a stream and changed in place.
//
// The slice in use: CreateZip writes an empty archive into a stream, Open attaches
// a stream and reads its directory, AddStream adds an entry from another stream and
// writes the archive at once (FastSave), Close detaches the stream. Entry data is
// raw DEFLATE from zlib at its default level, or stored when the data is empty.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "desktop/DateTime.h"
#include "desktop/Exception.h"
#include "streams/Streams.h"
#include "zip/ZipCommon.h"

namespace vto {

enum TZipCompressionType { ctNormal, ctMaximum, ctFast, ctSuperFast, ctNone, ctUnknown };
enum TZipSaveMethod { FastSave, RebuildAll };
enum TOverwriteAction { oaSkip, oaSkipAll, oaOverwrite, oaOverwriteAll };

// The writer's own refusals: no archive attached, or an archive the format without
// Zip64 records cannot describe (sizes and offsets above 4 GiB, more than 65,535 entries).
class EZipArchiveError : public Exception {
 public:
  using Exception::Exception;
};

class TZipArchive;

class TZipEntry {
 public:
  TCentralDirectoryFile& CentralDirEntry() { return FCentralDirEntry; }
  const TCentralDirectoryFile& CentralDirEntry() const { return FCentralDirEntry; }
  TLocalFile& LocalEntry() { return FLocalEntry; }
  const TLocalFile& LocalEntry() const { return FLocalEntry; }

  const std::string& FileName() const { return FCentralDirEntry.FileName; }
  TDateTime Date() const { return FDate; }
  bool Encrypted() const { return FEncrypted; }
  bool IsFolder() const { return FIsFolder; }
  TZipCompressionType CompressionType() const { return FCompressionType; }
  bool Selected() const { return FSelected; }
  void SetSelected(bool Value) { FSelected = Value; }

  // Date, encryption, folder and compression type from the central header's fields.
  void UpdateFromHeaders();

 private:
  friend class TZipArchive;
  TCentralDirectoryFile FCentralDirEntry;
  TLocalFile FLocalEntry;
  TDateTime FDate = 0;
  bool FEncrypted = false;
  bool FIsFolder = false;
  TZipCompressionType FCompressionType = ctUnknown;
  bool FSelected = false;
};

class TZipEntryList {
 public:
  explicit TZipEntryList(TZipArchive* Owner) : FOwner(Owner) {}

  int Count() const { return static_cast<int>(FItems.size()); }
  TZipEntry& Items(int Index);
  TZipEntry& Add();
  void Delete(int Index);
  void Clear() { FItems.clear(); }
  // The index of the entry with this stored name, or -1.
  int IndexOf(const std::string& FileName) const;
  TZipArchive* Owner() const { return FOwner; }
  bool IsZipFile() const { return FIsZipFile; }
  void SetIsZipFile(bool Value) { FIsZipFile = Value; }

 private:
  TZipArchive* FOwner;
  std::vector<std::unique_ptr<TZipEntry>> FItems;
  bool FIsZipFile = false;
};

class TZipArchive {
 public:
  TZipArchive();
  ~TZipArchive();
  TZipArchive(const TZipArchive&) = delete;
  TZipArchive& operator=(const TZipArchive&) = delete;

  // Settings.
  TZipCompressionType CompressionType() const { return FCompressionType; }
  void SetCompressionType(TZipCompressionType Value) { FCompressionType = Value; }
  TZipSaveMethod SaveMethod() const { return FSaveMethod; }
  void SetSaveMethod(TZipSaveMethod Value) { FSaveMethod = Value; }
  bool UseTempFiles() const { return FUseTempFiles; }
  void SetUseTempFiles(bool Value) { FUseTempFiles = Value; }
  bool StoreFolders() const { return FStoreFolders; }
  void SetStoreFolders(bool Value) { FStoreFolders = Value; }
  bool StoreRelativePath() const { return FStoreRelativePath; }
  void SetStoreRelativePath(bool Value) { FStoreRelativePath = Value; }
  TOverwriteAction OverwriteAction() const { return FOverwriteAction; }
  void SetOverwriteAction(TOverwriteAction Value) { FOverwriteAction = Value; }
  bool ReadOnly() const { return FReadOnly; }
  void SetReadOnly(bool Value) { FReadOnly = Value; }
  bool ApplyAtributes() const { return FApplyAtributes; }
  void SetApplyAtributes(bool Value) { FApplyAtributes = Value; }
  bool IsZipFile() const { return FIsZipFile; }
  void SetIsZipFile(bool) {}  // follows the content; writing it has no effect
  const std::string& ComponentVersion() const { return FComponentVersion; }

  // Writes the 22-byte empty archive at the stream's position.
  void CreateZip(TStream& Stream);
  // Closes, attaches the caller's stream and reads its directory; a stream that holds
  // no zip archive is detached again (never freed).
  void Open(TStream& MS);
  // Adds the bytes of Stream from its position to its end as an entry and writes the
  // archive at once.
  TZipEntry& AddStream(const std::string& FileName, std::uint16_t FileAttr, TDateTime FileDate,
                       TStream& Stream);
  // Empties the entry list and detaches the stream. Nothing is written.
  void Close();

  TZipEntryList& Entries() { return FEntries; }
  TStream* ZipStream() const { return FZipStream; }
  const TEndOfCentralDir& EndOfCentralDir() const { return FEndOfCentralDir; }
  std::int64_t EndOfCentralDirPos() const { return FEndOfCentralDirPos; }
  std::int64_t ZipCommentPos() const { return FZipCommentPos; }
  // The archive comment as read by the last AddStream, split into lines.
  std::vector<std::string> Comment() const;
  bool IsDirty() const { return FIsDirty; }
  bool HasBadEntries() const { return FHasBadEntries; }
  // Set while several changes are collected before one write; FastSave writes at once.
  bool BatchMode() const { return FBatchMode; }

 private:
  void ParseZip();
  bool FindEndOfCentralDir(std::int64_t& Position);
  void ReadZipComment();
  // Adds an entry holding Source from its position to its end (none: no data).
  TZipEntry& AddEntry(const std::string& ZipName, std::uint16_t FileAttr, TDateTime FileDate,
                      TStream* Source);
  void WriteCentralDirectoryAndEnd();

  TZipEntryList FEntries{this};
  TStream* FZipStream = nullptr;
  std::unique_ptr<TStream> FOwnedStream;  // set only when the component made the stream
  bool FExternalStream = false;
  TEndOfCentralDir FEndOfCentralDir;
  std::int64_t FEndOfCentralDirPos = 0;
  std::int64_t FZipCommentPos = 0;
  std::string FZipComment;  // raw bytes
  bool FIsZipFile = false;
  bool FIsDirty = false;
  bool FHasBadEntries = false;
  bool FBatchMode = false;

  TZipCompressionType FCompressionType = ctMaximum;
  TZipSaveMethod FSaveMethod = FastSave;
  bool FUseTempFiles = false;
  bool FStoreFolders = true;
  bool FStoreRelativePath = true;
  TOverwriteAction FOverwriteAction = oaSkip;
  bool FReadOnly = false;
  bool FApplyAtributes = true;
  std::string FComponentVersion = "2.0";
};

// The raw DEFLATE data of bytes as the writer stores them: zlib's stream at its default
// level with the 2-byte header and the 4-byte Adler-32 trailer cut off.
std::string DeflateRaw(std::string_view Data);

}  // namespace vto
