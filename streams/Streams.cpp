#include "streams/Streams.h"

#if defined(_WIN32)
#include "desktop/WinApi.h"
#include "streams/WideNames.h"
#else
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <type_traits>
#include <vector>

namespace vto {

namespace {

constexpr std::int64_t kMaxSize = std::numeric_limits<std::int32_t>::max();
const char kOutOfMemory[] = "Out of memory while expanding memory stream";
// Growth by SetSize from which on a fresh zeroed block replaces writing the zeros.
constexpr std::int32_t kFreshZeroGrowth = 1 << 20;
// Blocks from this size on are made present a window ahead of the writes.
constexpr std::int32_t kLargeBlock = 8 << 20;
constexpr std::uintptr_t kPrepareWindow = 8 << 20;

std::uintptr_t PageSize() {
#if defined(_WIN32)
  static const auto size = [] {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return static_cast<std::uintptr_t>(info.dwPageSize);
  }();
#else
  static const auto size = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
#endif
  return size;
}

#if !defined(_WIN32)
std::string ErrnoText(int err) {
  char buf[256];
  // The GNU form returns the text (maybe not in buf); the XSI form fills buf.
  auto r = strerror_r(err, buf, sizeof buf);
  if constexpr (std::is_same_v<decltype(r), char*>) {
    return r;
  } else {
    return r == 0 ? std::string(buf) : "error " + std::to_string(err);
  }
}
#endif

}  // namespace

// ---------------------------------------------------------------- TStream

TStream::~TStream() = default;

std::int64_t TStream::GetSize() {
  std::int64_t pos = Seek(0, soCurrent);
  std::int64_t size = Seek(0, soEnd);
  Seek(pos, soBeginning);
  return size;
}

void TStream::SetSize(std::int64_t) {
  throw EStreamError("Stream size cannot be changed");
}

std::int32_t TStream::Seek32(std::int32_t Offset, std::uint16_t Origin) {
  if (Origin > soEnd) throw EStreamError("Invalid stream seek origin");
  std::int64_t p = Seek(Offset, static_cast<TSeekOrigin>(Origin));
  if (p < std::numeric_limits<std::int32_t>::min() || p > kMaxSize)
    throw EStreamError("Stream position out of range");
  return static_cast<std::int32_t>(p);
}

void TStream::ReadBuffer(void* Buffer, std::int32_t Count) {
  auto* p = static_cast<char*>(Buffer);
  while (Count > 0) {
    std::int32_t n = Read(p, Count);
    if (n <= 0) throw EReadError();
    p += n;
    Count -= n;
  }
}

void TStream::WriteBuffer(const void* Buffer, std::int32_t Count) {
  const auto* p = static_cast<const char*>(Buffer);
  while (Count > 0) {
    std::int32_t n = Write(p, Count);
    if (n <= 0) throw EWriteError();
    p += n;
    Count -= n;
  }
}

std::int64_t TStream::CopyFrom(TStream& Source, std::int64_t Count) {
  if (Count <= 0) {
    Source.SetPosition(0);
    Count = Source.Size();
  }
  const std::int64_t result = Count;
  if (Count <= 0) return 0;
  std::vector<char> buffer(static_cast<std::size_t>(std::min<std::int64_t>(Count, kCopyChunk)));
  while (Count > 0) {
    auto n = static_cast<std::int32_t>(std::min<std::int64_t>(Count, kCopyChunk));
    Source.ReadBuffer(buffer.data(), n);
    WriteBuffer(buffer.data(), n);
    Count -= n;
  }
  return result;
}

// ---------------------------------------------------------------- TCustomMemoryStream

std::int32_t TCustomMemoryStream::Read(void* Buffer, std::int32_t Count) {
  if (FPosition >= 0 && Count >= 0) {
    std::int32_t available = FSize - FPosition;
    if (available > 0) {
      std::int32_t n = std::min(Count, available);
      if (n > 0) std::memcpy(Buffer, FMemory + FPosition, static_cast<std::size_t>(n));
      FPosition += n;
      return n;
    }
  }
  return 0;
}

std::int64_t TCustomMemoryStream::Seek(std::int64_t Offset, TSeekOrigin Origin) {
  std::int64_t base;
  switch (Origin) {
    case soBeginning:
      base = 0;
      break;
    case soCurrent:
      base = FPosition;
      break;
    case soEnd:
      base = FSize;
      break;
    default:
      throw EStreamError("Invalid stream seek origin");
  }
  // Offsets near the 64-bit limits must not overflow the sum.
  if (Offset > kMaxSize - base || Offset < std::numeric_limits<std::int32_t>::min() - base)
    throw EStreamError("Stream position out of range");
  FPosition = static_cast<std::int32_t>(base + Offset);
  return FPosition;
}

void TCustomMemoryStream::SaveToStream(TStream& Stream) {
  if (FSize != 0) Stream.WriteBuffer(FMemory, FSize);
}

void TCustomMemoryStream::SaveToFile(const std::string& FileName) {
  TFileStream file(FileName, fmCreate);
  SaveToStream(file);
}

// ---------------------------------------------------------------- TMemoryStream

TMemoryStream::~TMemoryStream() {
  std::free(FMemory);
}

char* TMemoryStream::Realloc(std::int32_t& NewCapacity) {
  if (NewCapacity < 0) throw EStreamError("Invalid memory stream capacity");
  if (NewCapacity > 0 && NewCapacity != FSize) {
    std::int64_t rounded = (static_cast<std::int64_t>(NewCapacity) + (kMemoryDelta - 1)) &
                           ~static_cast<std::int64_t>(kMemoryDelta - 1);
    NewCapacity = static_cast<std::int32_t>(std::min(rounded, kMaxSize));
  }
  if (NewCapacity == FCapacity) return FMemory;
  if (NewCapacity == 0) {
    std::free(FMemory);
    return nullptr;
  }
  void* block = std::realloc(FMemory, static_cast<std::size_t>(NewCapacity));
  if (block == nullptr) throw EStreamError(kOutOfMemory);
  return static_cast<char*>(block);
}

void TMemoryStream::SetCapacity(std::int32_t NewCapacity) {
  char* block = Realloc(NewCapacity);
  FPrepared = std::min(block != FMemory ? FSize : FPrepared, NewCapacity);
  FMemory = block;
  FCapacity = NewCapacity;
  // A capacity below the size cuts the size: no byte outside the block is ever addressed.
  if (FSize > FCapacity) FSize = FCapacity;
}

void TMemoryStream::Reserve(std::int64_t Needed) {
  if (Needed <= FCapacity) return;
  if (Needed > kMaxSize) throw EStreamError(kOutOfMemory);
  std::int64_t grown = std::max<std::int64_t>(Needed, std::int64_t{FCapacity} + FCapacity / 2);
  SetCapacity(static_cast<std::int32_t>(std::min(grown, kMaxSize)));
}

char* TStream::WriteRoom(std::int32_t) {
  return nullptr;
}

void TStream::CommitWrite(std::int32_t Count) {
  if (Count != 0) throw EWriteError();
}

char* TMemoryStream::WriteRoom(std::int32_t Count) {
  if (Count <= 0 || FPosition < 0 || FPosition > FSize) return nullptr;
  const std::int64_t end = static_cast<std::int64_t>(FPosition) + Count;
  if (end > kMaxSize) return nullptr;  // Write tells how much still fits
  Reserve(end);
  if (end > FPrepared && FCapacity >= kLargeBlock) PrepareAhead(end);
  FRoom = Count;
  FRoomAt = FPosition;
  return FMemory + FPosition;
}

void TMemoryStream::CommitWrite(std::int32_t Count) {
  // Only what the last room covered, at the same position, can have been
  // written in place.
  if (Count < 0 || Count > FRoom || FPosition != FRoomAt ||
      static_cast<std::int64_t>(FPosition) + Count > FCapacity)
    throw EWriteError();
  FRoom = 0;
  FPosition += Count;
  if (FPosition > FSize) FSize = FPosition;
}

std::int32_t TMemoryStream::Write(const void* Buffer, std::int32_t Count) {
  if (FPosition < 0 || Count < 0) return 0;
  const std::int64_t end = static_cast<std::int64_t>(FPosition) + Count;
  if (end <= 0) return 0;
  if (end > kMaxSize) throw EStreamError(kOutOfMemory);
  if (end > FSize) {
    // The gap between the old end and a write beyond it holds zero bytes: a large
    // one beyond the block comes as fresh zeroed pages, which cost nothing until
    // written, as SetSize does.
    const std::int64_t gap = static_cast<std::int64_t>(FPosition) - FSize;
    if (gap >= kFreshZeroGrowth && end > FCapacity) {
      TakeZeroedBlock(std::max<std::int64_t>(end, std::int64_t{FCapacity} + FCapacity / 2));
    } else {
      Reserve(end);
      if (gap > 0) std::memset(FMemory + FSize, 0, static_cast<std::size_t>(gap));
    }
    FSize = static_cast<std::int32_t>(end);
  }
  if (end > FPrepared && FCapacity >= kLargeBlock) PrepareAhead(end);
  if (Count > 0) std::memcpy(FMemory + FPosition, Buffer, static_cast<std::size_t>(Count));
  FPosition = static_cast<std::int32_t>(end);
  return Count;
}

void TMemoryStream::PrepareAhead(std::int64_t End) {
  // One call makes the pages of the next window present, where a fault per
  // page costs far more (a 256 MiB body: 65,536 faults). Never more than a
  // window beyond what is written, so a length announced but never sent costs
  // no memory. Without the call (older systems, Windows) the pages come by fault.
  const std::uintptr_t page = PageSize();
  const auto base = reinterpret_cast<std::uintptr_t>(FMemory);
  const std::int64_t start = std::max<std::int64_t>(FPrepared, FPosition);
  const std::uintptr_t from = (base + static_cast<std::uintptr_t>(start)) & ~(page - 1);
  const std::uintptr_t limit = (base + static_cast<std::uintptr_t>(FCapacity)) & ~(page - 1);
  std::uintptr_t to = (base + static_cast<std::uintptr_t>(End) + kPrepareWindow) & ~(page - 1);
  if (to > limit) to = limit;
#ifdef MADV_POPULATE_WRITE
  if (to > from) (void)::madvise(reinterpret_cast<void*>(from), to - from, MADV_POPULATE_WRITE);
#else
  (void)from;
#endif
  FPrepared = static_cast<std::int32_t>(std::max<std::int64_t>(
      End, std::min<std::int64_t>(static_cast<std::int64_t>(to - base), FCapacity)));
}

void TMemoryStream::SetSize(std::int64_t NewSize) {
  if (NewSize < 0) throw EStreamError("Invalid memory stream size");
  if (NewSize > kMaxSize) throw EStreamError(kOutOfMemory);
  const std::int32_t old = FSize;
  const auto n = static_cast<std::int32_t>(NewSize);
  if (n > FCapacity && n - old >= kFreshZeroGrowth) {
    // A large size set in advance (the announced length of a body) takes fresh
    // zeroed pages: no memory is touched until bytes are written there.
    TakeZeroedBlock(n);
    FSize = n;
    if (FPosition > n) FPosition = n;
    return;
  }
  SetCapacity(n);
  FSize = n;
  if (n > old) std::memset(FMemory + old, 0, static_cast<std::size_t>(n - old));
  if (FPosition > n) FPosition = n;
}

void TMemoryStream::TakeZeroedBlock(std::int64_t NewCapacity) {
  const std::int64_t rounded =
      (NewCapacity + (kMemoryDelta - 1)) & ~static_cast<std::int64_t>(kMemoryDelta - 1);
  const auto capacity = static_cast<std::int32_t>(std::min(rounded, kMaxSize));
  void* block = std::calloc(1, static_cast<std::size_t>(capacity));
  if (block == nullptr) throw EStreamError(kOutOfMemory);
  if (FSize > 0) std::memcpy(block, FMemory, static_cast<std::size_t>(FSize));
  std::free(FMemory);
  FMemory = static_cast<char*>(block);
  FCapacity = capacity;
  FPrepared = FSize;
}

void TMemoryStream::Clear() {
  SetCapacity(0);
  FSize = 0;
  FPosition = 0;
}

void TMemoryStream::LoadFromStream(TStream& Stream) {
  Stream.SetPosition(0);
  std::int64_t n = Stream.Size();
  SetSize(n);
  if (n != 0) Stream.ReadBuffer(FMemory, static_cast<std::int32_t>(n));
}

void TMemoryStream::LoadFromFile(const std::string& FileName) {
  TFileStream file(FileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(file);
}

void TMemoryStream::AdoptBlock(char* Block, std::int32_t Size, std::int32_t Capacity) {
  std::free(FMemory);
  FMemory = Block;
  FSize = Size;
  FCapacity = Capacity;
  FPrepared = Size;
}

char* TMemoryStream::ReleaseBlock(std::int32_t& Size, std::int32_t& Capacity) {
  char* block = FMemory;
  Size = FSize;
  Capacity = FCapacity;
  FMemory = nullptr;
  FSize = 0;
  FCapacity = 0;
  FPrepared = 0;
  FPosition = 0;
  return block;
}

// ---------------------------------------------------------------- TFileStream

#if defined(_WIN32)

namespace {

// What others may do with the file while this handle is open.
DWORD ShareMode(std::uint16_t Mode) {
  switch (Mode & 0xF0) {
    case fmShareExclusive:
      return 0;
    case fmShareDenyWrite:
      return FILE_SHARE_READ;
    case fmShareDenyRead:
      return FILE_SHARE_WRITE;
    default:  // fmShareDenyNone and fmShareCompat
      return FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  }
}

}  // namespace

TFileStream::TFileStream(const std::string& FileName, std::uint16_t Mode) : FFileName(FileName) {
  const bool create = (Mode & fmCreate) == fmCreate;
  auto fail = [&](DWORD err) {
    const std::string text = WinErrorText(err);
    if (create) throw EFCreateError("Cannot create file \"" + FileName + "\": " + text);
    throw EFOpenError("Cannot open file \"" + FileName + "\": " + text);
  };
  std::wstring wide;
  if (!WideName(FileName, wide) || wide.empty()) fail(ERROR_INVALID_NAME);
  DWORD access = GENERIC_READ;
  if (create || (Mode & 3) == fmOpenReadWrite)
    access = GENERIC_READ | GENERIC_WRITE;
  else if ((Mode & 3) == fmOpenWrite)
    access = GENERIC_WRITE;
  // Emptied below only when it holds something, as on the other systems.
  HANDLE h = CreateFileW(wide.c_str(), access, ShareMode(Mode), nullptr,
                         create ? OPEN_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) fail(GetLastError());
  const DWORD type = GetFileType(h);
  BY_HANDLE_FILE_INFORMATION info{};
  const bool disk = type == FILE_TYPE_DISK && GetFileInformationByHandle(h, &info) != 0;
  if (disk && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    CloseHandle(h);
    fail(ERROR_DIRECTORY);
  }
  if (create && disk && (info.nFileSizeHigh != 0 || info.nFileSizeLow != 0) &&
      SetEndOfFile(h) == 0) {
    const DWORD err = GetLastError();
    CloseHandle(h);
    fail(err);
  }
  // A pipe, a console or a device has no size to read up to: only disk files
  // are read.
  if (!create && (Mode & 3) == fmOpenRead && !disk) {
    CloseHandle(h);
    throw EFOpenError("Cannot open file \"" + FileName + "\": not a regular file");
  }
  FHandle = h;
}

TFileStream::~TFileStream() {
  if (FHandle != nullptr) CloseHandle(FHandle);
}

std::int64_t TFileStream::GetSize() {
  LARGE_INTEGER size;
  if (GetFileSizeEx(FHandle, &size) == 0) return TStream::GetSize();
  return size.QuadPart;
}

void TFileStream::SetSize(std::int64_t NewSize) {
  const std::int64_t position = Position();
  LARGE_INTEGER to;
  to.QuadPart = NewSize;
  if (NewSize < 0 || SetFilePointerEx(FHandle, to, nullptr, FILE_BEGIN) == 0 ||
      SetEndOfFile(FHandle) == 0) {
    SetPosition(position);
    throw EStreamError("Cannot set the size of file \"" + FFileName + "\"");
  }
  SetPosition(position > NewSize ? NewSize : position);
}

std::int32_t TFileStream::Read(void* Buffer, std::int32_t Count) {
  if (Count <= 0) return 0;
  DWORD n = 0;
  if (ReadFile(FHandle, Buffer, static_cast<DWORD>(Count), &n, nullptr) == 0) {
    // The writing end of a pipe has closed: its end, not an error.
    return GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;
  }
  return static_cast<std::int32_t>(n);
}

std::int32_t TFileStream::Write(const void* Buffer, std::int32_t Count) {
  if (Count <= 0) return 0;
  const auto* p = static_cast<const char*>(Buffer);
  std::int32_t done = 0;
  while (done < Count) {
    DWORD n = 0;
    if (WriteFile(FHandle, p + done, static_cast<DWORD>(Count - done), &n, nullptr) == 0)
      return done > 0 ? done : -1;
    if (n == 0) break;
    done += static_cast<std::int32_t>(n);
  }
  return done;
}

std::int64_t TFileStream::Seek(std::int64_t Offset, TSeekOrigin Origin) {
  DWORD method;
  switch (Origin) {
    case soBeginning:
      method = FILE_BEGIN;
      break;
    case soCurrent:
      method = FILE_CURRENT;
      break;
    case soEnd:
      method = FILE_END;
      break;
    default:
      throw EStreamError("Invalid stream seek origin");
  }
  // A pipe or a console has no position: the system's answer there means nothing.
  if (GetFileType(FHandle) != FILE_TYPE_DISK)
    throw EStreamError("Cannot seek in file \"" + FFileName +
                       "\": " + WinErrorText(ERROR_SEEK_ON_DEVICE));
  LARGE_INTEGER distance, position;
  distance.QuadPart = Offset;
  if (SetFilePointerEx(FHandle, distance, &position, method) == 0) {
    const DWORD err = GetLastError();
    throw EStreamError("Cannot seek in file \"" + FFileName + "\": " + WinErrorText(err));
  }
  return position.QuadPart;
}

#else

TFileStream::TFileStream(const std::string& FileName, std::uint16_t Mode) : FFileName(FileName) {
  int flags = O_CLOEXEC;
  const bool create = (Mode & fmCreate) == fmCreate;
  if (create) {
    // Emptied below only when it holds something: truncating an empty file (a
    // temporary name just made) makes the file system write it out on close.
    flags |= O_RDWR | O_CREAT;
  } else {
    // Never waiting at a FIFO for the other side: a read finds no regular file
    // below, a write finds no reader at once.
    flags |= O_NONBLOCK;
    switch (Mode & 3) {
      case fmOpenWrite:
        flags |= O_WRONLY;
        break;
      case fmOpenReadWrite:
        flags |= O_RDWR;
        break;
      default:
        flags |= O_RDONLY;
        break;
    }
  }
  int fd;
  do {
    fd = ::open(FileName.c_str(), flags, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    int err = errno;
    if (create) throw EFCreateError("Cannot create file \"" + FileName + "\": " + ErrnoText(err));
    throw EFOpenError("Cannot open file \"" + FileName + "\": " + ErrnoText(err));
  }
  struct stat st;
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    throw EFOpenError("Cannot open file \"" + FileName + "\": " + ErrnoText(EISDIR));
  }
  if (create && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 &&
      ::ftruncate(fd, 0) != 0) {
    const int err = errno;
    ::close(fd);
    throw EFCreateError("Cannot create file \"" + FileName + "\": " + ErrnoText(err));
  }
  if (!create) {
    // A FIFO, a device or a socket has no size to read up to: only regular files
    // are read.
    if ((Mode & 3) == fmOpenRead && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
      ::close(fd);
      throw EFOpenError("Cannot open file \"" + FileName + "\": not a regular file");
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  }
  FHandle = fd;
}

TFileStream::~TFileStream() {
  if (FHandle >= 0) ::close(FHandle);
}

std::int64_t TFileStream::GetSize() {
  struct stat st;
  if (::fstat(FHandle, &st) != 0) return TStream::GetSize();
  return st.st_size;
}

void TFileStream::SetSize(std::int64_t NewSize) {
  if (NewSize < 0 || ::ftruncate(FHandle, NewSize) != 0)
    throw EStreamError("Cannot set the size of file \"" + FFileName + "\"");
  if (Position() > NewSize) SetPosition(NewSize);
}

std::int32_t TFileStream::Read(void* Buffer, std::int32_t Count) {
  if (Count <= 0) return 0;
  ssize_t n;
  do {
    n = ::read(FHandle, Buffer, static_cast<std::size_t>(Count));
  } while (n < 0 && errno == EINTR);
  return n < 0 ? -1 : static_cast<std::int32_t>(n);
}

std::int32_t TFileStream::Write(const void* Buffer, std::int32_t Count) {
  if (Count <= 0) return 0;
  const auto* p = static_cast<const char*>(Buffer);
  std::int32_t done = 0;
  while (done < Count) {
    ssize_t n = ::write(FHandle, p + done, static_cast<std::size_t>(Count - done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return done > 0 ? done : -1;
    }
    if (n == 0) break;
    done += static_cast<std::int32_t>(n);
  }
  return done;
}

std::int64_t TFileStream::Seek(std::int64_t Offset, TSeekOrigin Origin) {
  int whence;
  switch (Origin) {
    case soBeginning:
      whence = SEEK_SET;
      break;
    case soCurrent:
      whence = SEEK_CUR;
      break;
    case soEnd:
      whence = SEEK_END;
      break;
    default:
      throw EStreamError("Invalid stream seek origin");
  }
  const off_t position = ::lseek(FHandle, Offset, whence);
  if (position < 0) {
    const int err = errno;
    throw EStreamError("Cannot seek in file \"" + FFileName + "\": " + ErrnoText(err));
  }
  return position;
}

#endif

}  // namespace vto
