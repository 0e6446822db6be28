// Byte streams: the abstract TStream, the memory streams under the document
// stream, and a file stream. Sizes and positions of memory streams are signed
// 32-bit values; growing a memory stream past that raises EStreamError.
#pragma once

#include <cstdint>
#include <string>

#include "desktop/Exception.h"

namespace vto {

enum TSeekOrigin : std::uint16_t { soBeginning = 0, soCurrent = 1, soEnd = 2 };

class EStreamError : public Exception {
 public:
  using Exception::Exception;
};
class EReadError : public EStreamError {
 public:
  EReadError() : EStreamError("Stream read error") {}
  using EStreamError::EStreamError;
};
class EWriteError : public EStreamError {
 public:
  EWriteError() : EStreamError("Stream write error") {}
  using EStreamError::EStreamError;
};
class EFCreateError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};
class EFOpenError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};

class TStream {
 public:
  TStream() = default;
  TStream(const TStream&) = delete;
  TStream& operator=(const TStream&) = delete;
  virtual ~TStream();

  // Size query. The base form remembers the position, seeks to the end and back.
  virtual std::int64_t GetSize();
  // The base form cannot change the size and raises EStreamError.
  virtual void SetSize(std::int64_t NewSize);
  virtual std::int32_t Read(void* Buffer, std::int32_t Count) = 0;
  virtual std::int32_t Write(const void* Buffer, std::int32_t Count) = 0;
  virtual std::int64_t Seek(std::int64_t Offset, TSeekOrigin Origin) = 0;
  // The 32-bit form: origin 0, 1 or 2; raises EStreamError for another origin or
  // a resulting position outside the signed 32-bit range.
  std::int32_t Seek32(std::int32_t Offset, std::uint16_t Origin);

  std::int64_t Position() { return Seek(0, soCurrent); }
  void SetPosition(std::int64_t Pos) { Seek(Pos, soBeginning); }
  std::int64_t Size() { return GetSize(); }

  // Reads until Count bytes have arrived; a Read giving 0 or less first raises
  // EReadError. WriteBuffer likewise raises EWriteError.
  void ReadBuffer(void* Buffer, std::int32_t Count);
  void WriteBuffer(const void* Buffer, std::int32_t Count);
  // Count <= 0: the source is positioned at 0 and its whole size is copied.
  // Moves the bytes in chunks of at most 61,440 bytes; returns the count copied.
  std::int64_t CopyFrom(TStream& Source, std::int64_t Count);

  // Writing in place, for a reader that can fill memory itself (a socket
  // receive): WriteRoom gives memory for up to Count bytes at the position, or
  // null when the stream has none to give (then Write is the way); CommitWrite
  // then takes the first Count bytes of that room as written. The base has no room.
  virtual char* WriteRoom(std::int32_t Count);
  virtual void CommitWrite(std::int32_t Count);

  static constexpr std::int32_t kCopyChunk = 61440;
};

class TCustomMemoryStream : public TStream {
 public:
  std::int64_t GetSize() override { return FSize; }
  // A position may lie beyond the end or below 0; a read there gives 0.
  std::int32_t Read(void* Buffer, std::int32_t Count) override;
  // Never clamps; raises EStreamError when the position would leave the signed
  // 32-bit range.
  std::int64_t Seek(std::int64_t Offset, TSeekOrigin Origin) override;
  // Writes all FSize bytes whatever the position is.
  virtual void SaveToStream(TStream& Stream);
  // Creates the file, or empties an existing one, and saves into it.
  void SaveToFile(const std::string& FileName);

  char* Memory() { return FMemory; }
  const char* Memory() const { return FMemory; }

 protected:
  void SetPointer(char* Ptr, std::int32_t Size) {
    FMemory = Ptr;
    FSize = Size;
  }

  char* FMemory = nullptr;
  std::int32_t FSize = 0;
  std::int32_t FPosition = 0;
};

class TMemoryStream : public TCustomMemoryStream {
 public:
  ~TMemoryStream() override;

  // Writing beyond the end fills the gap with zero bytes. A write that would
  // take the size past 2,147,483,647 raises EStreamError.
  std::int32_t Write(const void* Buffer, std::int32_t Count) override;
  // Sets the capacity and the size; new bytes are zero; a position beyond the
  // new size moves to it. Sizes outside 0..2,147,483,647 raise EStreamError.
  void SetSize(std::int64_t NewSize) override;
  // Room within the block (grown as Write would), when the position lies within
  // the content and the size limit allows Count more bytes; a descendant whose
  // Write must see every byte answers null.
  char* WriteRoom(std::int32_t Count) override;
  void CommitWrite(std::int32_t Count) override;
  void Clear();
  void LoadFromStream(TStream& Stream);
  void LoadFromFile(const std::string& FileName);

  std::int32_t Capacity() const { return FCapacity; }
  virtual void SetCapacity(std::int32_t NewCapacity);

 protected:
  // Rounds a capacity above 0 that differs from the size up to a multiple of
  // 8,192 and returns the block (null for capacity 0).
  virtual char* Realloc(std::int32_t& NewCapacity);
  // Makes room for at least Needed bytes, growing the capacity geometrically so
  // that a run of appends costs amortised constant time per byte.
  void Reserve(std::int64_t Needed);
  // Replaces the block by a fresh zeroed one of at least NewCapacity bytes that
  // holds the content: its pages cost nothing until written.
  void TakeZeroedBlock(std::int64_t NewCapacity);
  // Hands the block to this stream (it must come from std::malloc); the old
  // block is freed.
  void AdoptBlock(char* Block, std::int32_t Size, std::int32_t Capacity);
  // Gives the block away (to be freed with std::free) and leaves the stream empty.
  char* ReleaseBlock(std::int32_t& Size, std::int32_t& Capacity);

  static constexpr std::int32_t kMemoryDelta = 8192;

  std::int32_t FCapacity = 0;

 private:
  // Makes the memory for writes up to End (and a window beyond) present ahead.
  void PrepareAhead(std::int64_t End);
  // Offset up to which the block's memory is known to be present: below it no
  // page is prepared again.
  std::int32_t FPrepared = 0;
  // Bytes the last WriteRoom gave that CommitWrite may still take.
  std::int32_t FRoom = 0;
  std::int32_t FRoomAt = 0;
};

// fmCreate makes the file or empties it; the others open an existing file. The
// share flags are accepted and have no effect on Linux; on Windows they say
// what others may do with the file while it is open.
enum : std::uint16_t {
  fmOpenRead = 0x0000,
  fmOpenWrite = 0x0001,
  fmOpenReadWrite = 0x0002,
  fmShareCompat = 0x0000,
  fmShareExclusive = 0x0010,
  fmShareDenyWrite = 0x0020,
  fmShareDenyRead = 0x0030,
  fmShareDenyNone = 0x0040,
  fmCreate = 0xFF00,
};

class TFileStream : public TStream {
 public:
  // Raises EFCreateError when fmCreate fails, EFOpenError when opening fails
  // (a folder cannot be opened as a file; reading wants a regular file, not a
  // FIFO or a device, and no open waits for the other side of a FIFO).
  // Seek raises EStreamError when the system refuses the position. On Windows
  // reading wants a disk file (GetFileType), and the name is UTF-8 as everywhere.
  TFileStream(const std::string& FileName, std::uint16_t Mode);
  ~TFileStream() override;

  std::int64_t GetSize() override;
  void SetSize(std::int64_t NewSize) override;
  std::int32_t Read(void* Buffer, std::int32_t Count) override;
  std::int32_t Write(const void* Buffer, std::int32_t Count) override;
  std::int64_t Seek(std::int64_t Offset, TSeekOrigin Origin) override;

  const std::string& FileName() const { return FFileName; }

 private:
  std::string FFileName;
#if defined(_WIN32)
  void* FHandle = nullptr;  // the system's handle; null when none is open
#else
  int FHandle = -1;
#endif
};

}  // namespace vto
