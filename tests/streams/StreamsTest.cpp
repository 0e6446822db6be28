// Tests of streams/Streams.cpp.
// The stream classes: positions, sizes, gaps, buffers, copies and files.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#if defined(_WIN32)
#include <process.h>

#include "desktop/WinApi.h"
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "streams/Streams.h"

namespace vto {
namespace {

using ::testing::StrEq;
using ::testing::ThrowsMessage;

std::string Content(TCustomMemoryStream& s) {
  return std::string(s.Memory(), s.Size());
}

void Put(TStream& s, const std::string& bytes) {
  s.WriteBuffer(bytes.data(), static_cast<std::int32_t>(bytes.size()));
}

#if defined(_WIN32)
// A device that takes every write and gives no byte, and a folder that exists.
const char kNullDevice[] = "NUL";
const char kSomeFolder[] = VTO_BINARY_DIR;

std::string TempPath(const std::string& leaf) {
  return std::string(VTO_BINARY_DIR) + "/qelstreams_" + std::to_string(_getpid()) + "_" + leaf;
}
#else
const char kNullDevice[] = "/dev/null";
const char kSomeFolder[] = "/tmp";

std::string TempPath(const std::string& leaf) {
  const char* dir = std::getenv("TMPDIR");
  return std::string(dir && *dir ? dir : "/tmp") + "/qelstreams_" + std::to_string(getpid()) + "_" +
         leaf;
}
#endif

// A stream that hands out at most a few bytes per Read and counts the calls.
class TrickleStream : public TStream {
 public:
  explicit TrickleStream(std::string data, std::int32_t step)
      : data_(std::move(data)), step_(step) {}
  std::int32_t Read(void* Buffer, std::int32_t Count) override {
    ++reads;
    if (pos_ >= static_cast<std::int64_t>(data_.size()) || Count <= 0) return 0;
    auto n = static_cast<std::int32_t>(
        std::min<std::int64_t>({Count, step_, static_cast<std::int64_t>(data_.size()) - pos_}));
    std::memcpy(Buffer, data_.data() + pos_, static_cast<std::size_t>(n));
    pos_ += n;
    return n;
  }
  std::int32_t Write(const void*, std::int32_t) override { return 0; }
  std::int64_t Seek(std::int64_t Offset, TSeekOrigin Origin) override {
    std::int64_t base = Origin == soBeginning ? 0 : Origin == soCurrent ? pos_ : data_.size();
    pos_ = base + Offset;
    return pos_;
  }
  int reads = 0;

 private:
  std::string data_;
  std::int32_t step_;
  std::int64_t pos_ = 0;
};

// Records the size of every Write it receives.
class ChunkRecorder : public TMemoryStream {
 public:
  std::int32_t Write(const void* Buffer, std::int32_t Count) override {
    chunks.push_back(Count);
    return TMemoryStream::Write(Buffer, Count);
  }
  std::vector<std::int32_t> chunks;
};

TEST(MemoryStreamReadWrite, ReadStopsAtTheEndAndAdvances) {
  TMemoryStream s;
  Put(s, "hello");
  EXPECT_EQ(s.Position(), 5);
  s.SetPosition(1);
  char buf[10] = {};
  EXPECT_EQ(s.Read(buf, 10), 4);
  EXPECT_EQ(std::string(buf, 4), "ello");
  EXPECT_EQ(s.Position(), 5);
  EXPECT_EQ(s.Read(buf, 10), 0);
}

TEST(MemoryStreamReadWrite, ReadOutsideTheContentGivesNothing) {
  TMemoryStream s;
  Put(s, "abc");
  char buf[4];
  s.SetPosition(-2);
  EXPECT_EQ(s.Read(buf, 4), 0);
  EXPECT_EQ(s.Position(), -2);
  s.SetPosition(10);
  EXPECT_EQ(s.Read(buf, 4), 0);
  s.SetPosition(0);
  EXPECT_EQ(s.Read(buf, -1), 0);
  EXPECT_EQ(s.Position(), 0);
}

TEST(MemoryStreamReadWrite, WriteAtNegativePositionChangesNothing) {
  TMemoryStream s;
  Put(s, "abc");
  s.SetPosition(-1);
  EXPECT_EQ(s.Write("xy", 2), 0);
  EXPECT_EQ(Content(s), "abc");
  EXPECT_THROW(Put(s, "xy"), EWriteError);
  EXPECT_THAT([&] { Put(s, "x"); }, ThrowsMessage<EWriteError>(StrEq("Stream write error")));
  EXPECT_EQ(s.Write("xy", -3), 0);
}

TEST(MemoryStreamReadWrite, WriteBeyondTheEndLeavesZeroBytes) {
  TMemoryStream s;
  // Dirty the block first so that stale bytes would show through a gap.
  Put(s, std::string(100, 'x'));
  s.SetSize(2);
  s.Seek(50, soBeginning);
  Put(s, "Z");
  ASSERT_EQ(s.Size(), 51);
  EXPECT_EQ(Content(s), std::string("xx") + std::string(48, '\0') + "Z");
  s.Seek(100000, soEnd);
  Put(s, "!");
  EXPECT_EQ(s.Size(), 51 + 100000 + 1);
  EXPECT_EQ(std::string(s.Memory() + 51, 100000), std::string(100000, '\0'));
  // A gap beyond the block that takes fresh pages keeps the content before it.
  s.Seek(8 << 20, soEnd);
  Put(s, "?");
  ASSERT_EQ(s.Size(), 51 + 100001 + (8 << 20) + 1);
  EXPECT_EQ(Content(s).substr(0, 51), std::string("xx") + std::string(48, '\0') + "Z");
  EXPECT_EQ(Content(s).find_first_not_of('\0', 100052), static_cast<std::size_t>(s.Size() - 1));
}

TEST(MemoryStreamReadWrite, OverwriteInsideKeepsTheSize) {
  TMemoryStream s;
  Put(s, "abcdef");
  s.SetPosition(2);
  Put(s, "XY");
  EXPECT_EQ(Content(s), "abXYef");
  EXPECT_EQ(s.Position(), 4);
}

TEST(MemoryStreamReadWrite, WritingInPlaceThroughItsRoom) {
  TMemoryStream s;
  Put(s, "head");
  char* room = s.WriteRoom(100);
  ASSERT_NE(room, nullptr);
  EXPECT_EQ(s.Size(), 4);  // room is no content yet
  std::memcpy(room, "tail!", 5);
  s.CommitWrite(4);  // less than the room: only that counts
  EXPECT_EQ(s.Size(), 8);
  EXPECT_EQ(s.Position(), 8);
  EXPECT_EQ(std::string(s.Memory(), 8), "headtail");
  // Inside the content the room overwrites, and the size follows the far end.
  s.SetPosition(2);
  std::memcpy(s.WriteRoom(10), "ADLINE", 6);
  s.CommitWrite(6);
  EXPECT_EQ(std::string(s.Memory(), static_cast<std::size_t>(s.Size())), "heADLINE");

  // A commit beyond the room, a second commit, or one after a move raises and
  // changes nothing.
  s.WriteRoom(3);
  EXPECT_THROW(s.CommitWrite(4), EWriteError);
  s.CommitWrite(3);
  EXPECT_THROW(s.CommitWrite(1), EWriteError);
  s.WriteRoom(3);
  s.SetPosition(0);
  EXPECT_THROW(s.CommitWrite(1), EWriteError);
  EXPECT_EQ(s.Size(), 11);
  EXPECT_EQ(s.Position(), 0);

  // No room beyond the end (the gap must be zeros), below 0, past the size limit.
  s.SetPosition(20);
  EXPECT_EQ(s.WriteRoom(4), nullptr);
  s.SetPosition(-1);
  EXPECT_EQ(s.WriteRoom(4), nullptr);
  s.SetPosition(0);
  EXPECT_EQ(s.WriteRoom(0), nullptr);
  TMemoryStream big;
  big.SetSize(std::numeric_limits<std::int32_t>::max() - 8);
  big.SetPosition(big.Size());
  EXPECT_EQ(big.WriteRoom(9), nullptr);
  EXPECT_NE(big.WriteRoom(8), nullptr);

  // A stream without memory of its own has no room.
  TFileStream file(kNullDevice, fmOpenWrite);
  EXPECT_EQ(file.WriteRoom(10), nullptr);
  file.CommitWrite(0);
  EXPECT_THROW(file.CommitWrite(1), EWriteError);
}

TEST(MemoryStreamSeek, OriginsAndNoClamping) {
  TMemoryStream s;
  Put(s, "0123456789");
  EXPECT_EQ(s.Seek(3, soBeginning), 3);
  EXPECT_EQ(s.Seek(2, soCurrent), 5);
  EXPECT_EQ(s.Seek(-1, soEnd), 9);
  EXPECT_EQ(s.Seek(5, soEnd), 15);
  EXPECT_EQ(s.Seek(-20, soCurrent), -5);
  EXPECT_EQ(s.Seek32(2, 0), 2);
  EXPECT_EQ(s.Seek32(-3, 2), 7);
  EXPECT_THROW(s.Seek32(0, 3), EStreamError);
}

TEST(MemoryStreamSeek, PositionsOutsideSigned32BitRaise) {
  TMemoryStream s;
  Put(s, "abc");
  s.SetPosition(1);
  EXPECT_THROW(s.Seek(std::numeric_limits<std::int32_t>::max(), soEnd), EStreamError);
  EXPECT_THROW(s.Seek(std::numeric_limits<std::int64_t>::max(), soCurrent), EStreamError);
  EXPECT_THROW(s.Seek(std::numeric_limits<std::int64_t>::min(), soCurrent), EStreamError);
  EXPECT_EQ(s.Position(), 1);
  EXPECT_EQ(s.Seek(std::numeric_limits<std::int32_t>::max(), soBeginning),
            std::numeric_limits<std::int32_t>::max());
}

TEST(MemoryStreamLimits, GrowingPast2GiBRaisesCleanly) {
  TMemoryStream s;
  Put(s, "abc");
  s.SetPosition(std::numeric_limits<std::int32_t>::max() - 2);
  EXPECT_THROW(s.Write("0123456789", 10), EStreamError);
  EXPECT_EQ(Content(s), "abc");
  EXPECT_THROW(s.SetSize(std::int64_t{1} << 31), EStreamError);
  EXPECT_THROW(s.SetSize(-1), EStreamError);
  EXPECT_EQ(Content(s), "abc");
  EXPECT_THAT([&] { s.SetSize(std::int64_t{1} << 32); },
              ThrowsMessage<EStreamError>(StrEq("Out of memory while expanding memory stream")));
}

TEST(MemoryStreamSize, SetSizeKeepsOrMovesThePosition) {
  TMemoryStream s;
  Put(s, "abcdef");
  s.SetPosition(2);
  s.SetSize(4);
  EXPECT_EQ(s.Position(), 2);
  EXPECT_EQ(Content(s), "abcd");
  s.SetPosition(4);
  s.SetSize(1);
  EXPECT_EQ(s.Position(), 1);
  s.SetSize(5);
  EXPECT_EQ(Content(s), std::string("a\0\0\0\0", 5));
  EXPECT_EQ(s.Position(), 1);
}

TEST(MemoryStreamSize, CapacityRoundsTo8192AndClearFreesIt) {
  TMemoryStream s;
  Put(s, "x");
  EXPECT_EQ(s.Capacity(), 8192);
  s.SetCapacity(8193);
  EXPECT_EQ(s.Capacity(), 16384);
  EXPECT_EQ(Content(s), "x");
  s.SetPosition(5);
  s.Clear();
  EXPECT_EQ(s.Capacity(), 0);
  EXPECT_EQ(s.Size(), 0);
  EXPECT_EQ(s.Position(), 0);
  EXPECT_EQ(s.Memory(), nullptr);
}

TEST(MemoryStreamSize, CapacityBelowTheSizeCutsTheSize) {
  TMemoryStream s;
  Put(s, std::string(20000, 'q'));
  s.SetCapacity(100);
  EXPECT_EQ(s.Capacity(), 8192);
  EXPECT_EQ(s.Size(), 8192);
  s.SetCapacity(0);
  EXPECT_EQ(s.Size(), 0);
}

TEST(MemoryStreamSize, AppendsGrowTheCapacityGeometrically) {
  TMemoryStream s;
  const std::string chunk(32768, 'a');
  int growths = 0;
  std::int32_t last = 0;
  for (int i = 0; i < 2048; ++i) {  // 64 MiB
    Put(s, chunk);
    if (s.Capacity() != last) {
      ++growths;
      last = s.Capacity();
    }
    ASSERT_EQ(s.Capacity() % 8192, 0);
  }
  EXPECT_EQ(s.Size(), 64 << 20);
  // Steps of a fixed size would need thousands of reallocations here.
  EXPECT_LT(growths, 40);
}

TEST(StreamBuffers, ReadBufferGathersShortReads) {
  TrickleStream src("abcdefghij", 3);
  char buf[10];
  src.ReadBuffer(buf, 10);
  EXPECT_EQ(std::string(buf, 10), "abcdefghij");
  EXPECT_EQ(src.reads, 4);
}

TEST(StreamBuffers, ReadBufferRaisesWhenBytesRunOut) {
  TMemoryStream s;
  Put(s, "abc");
  s.SetPosition(1);
  char buf[5];
  ASSERT_THAT([&] { s.ReadBuffer(buf, 5); }, ThrowsMessage<EReadError>(StrEq("Stream read error")));
}

TEST(StreamCopy, CopiesInChunksOf61440) {
  TMemoryStream src;
  std::string data(150000, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7);
  Put(src, data);
  src.SetPosition(0);
  ChunkRecorder dst;
  EXPECT_EQ(dst.CopyFrom(src, 150000), 150000);
  EXPECT_EQ(dst.chunks, (std::vector<std::int32_t>{61440, 61440, 150000 - 2 * 61440}));
  EXPECT_EQ(Content(dst), data);
  EXPECT_EQ(src.Position(), 150000);
}

TEST(StreamCopy, CountZeroOrLessCopiesTheWholeSourceFromZero) {
  TMemoryStream src;
  Put(src, "whole");  // position at the end
  TMemoryStream a, b;
  EXPECT_EQ(a.CopyFrom(src, 0), 5);
  EXPECT_EQ(Content(a), "whole");
  src.SetPosition(3);
  EXPECT_EQ(b.CopyFrom(src, -7), 5);
  EXPECT_EQ(Content(b), "whole");
  TMemoryStream empty, c;
  EXPECT_EQ(c.CopyFrom(empty, 0), 0);
  EXPECT_EQ(c.Size(), 0);
}

TEST(StreamCopy, CopyFromTheCurrentPositionAndTooFewBytes) {
  TMemoryStream src;
  Put(src, "0123456789");
  src.SetPosition(4);
  TMemoryStream dst;
  Put(dst, "ab");
  EXPECT_EQ(dst.CopyFrom(src, 3), 3);
  EXPECT_EQ(Content(dst), "ab456");
  EXPECT_THROW(dst.CopyFrom(src, 10), EReadError);
}

TEST(StreamCopy, BaseSizeQueryKeepsThePosition) {
  TrickleStream t("0123456789", 4);
  t.SetPosition(3);
  EXPECT_EQ(t.Size(), 10);
  EXPECT_EQ(t.Position(), 3);
}

TEST(MemoryStreamLoadSave, SaveToStreamIgnoresThePosition) {
  TMemoryStream s, d;
  Put(s, "content");
  s.SetPosition(3);
  s.SaveToStream(d);
  EXPECT_EQ(Content(d), "content");
  EXPECT_EQ(s.Position(), 3);
}

TEST(MemoryStreamLoadSave, LoadFromStreamReadsFromZeroAndFollowsSetSize) {
  TMemoryStream src, dst;
  Put(src, "0123456789");
  src.SetPosition(7);
  Put(dst, "abcdefghijklmnop");
  dst.SetPosition(12);
  dst.LoadFromStream(src);
  EXPECT_EQ(Content(dst), "0123456789");
  EXPECT_EQ(dst.Position(), 10);
  EXPECT_EQ(src.Position(), 10);
  dst.SetPosition(4);
  src.SetPosition(0);
  dst.LoadFromStream(src);
  EXPECT_EQ(dst.Position(), 4);
}

TEST(FileStreams, SaveAndLoadRoundTrip) {
  const std::string path = TempPath("roundtrip");
  TMemoryStream s;
  std::string data;
  for (int i = 0; i < 300000; ++i) data.push_back(static_cast<char>(i % 251));
  Put(s, data);
  s.SaveToFile(path);
  TMemoryStream back;
  back.LoadFromFile(path);
  EXPECT_EQ(Content(back), data);
  // Saving again empties the file first.
  TMemoryStream small;
  Put(small, "xyz");
  small.SaveToFile(path);
  back.LoadFromFile(path);
  EXPECT_EQ(Content(back), "xyz");
  std::remove(path.c_str());
}

TEST(FileStreams, OpenErrors) {
  EXPECT_THROW(TFileStream("/nonexistent-dir-qel/x", fmOpenRead), EFOpenError);
  EXPECT_THROW(TFileStream("/nonexistent-dir-qel/x", fmCreate), EFCreateError);
  EXPECT_THROW(TFileStream(kSomeFolder, fmOpenRead), EFOpenError);
  EXPECT_THROW(TFileStream(kSomeFolder, fmOpenReadWrite), EFOpenError);
  TMemoryStream s;
  EXPECT_THROW(s.LoadFromFile(kSomeFolder), EFOpenError);
#if defined(_WIN32)
  // Nothing but a disk file: not a pipe whose writer is waiting, not a device.
  const wchar_t kPipe[] = L"\\\\.\\pipe\\vto-streams-test";
  HANDLE server =
      CreateNamedPipeW(kPipe, PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE, 1, 0, 0, 0, nullptr);
  ASSERT_NE(server, INVALID_HANDLE_VALUE);
  EXPECT_THROW(TFileStream("\\\\.\\pipe\\vto-streams-test", fmOpenRead), EFOpenError);
  CloseHandle(server);
  // Writing to a pipe is allowed, but it has no position to go to.
  server = CreateNamedPipeW(kPipe, PIPE_ACCESS_INBOUND, PIPE_TYPE_BYTE, 1, 0, 0, 0, nullptr);
  ASSERT_NE(server, INVALID_HANDLE_VALUE);
  {
    TFileStream pipe("\\\\.\\pipe\\vto-streams-test", fmOpenWrite);
    EXPECT_THROW(pipe.Seek(0, soBeginning), EStreamError);
    EXPECT_THROW(pipe.Size(), EStreamError);
  }
  CloseHandle(server);
  EXPECT_THROW(s.LoadFromFile("NUL"), EFOpenError);
  EXPECT_THROW(s.LoadFromFile("CON"), EFOpenError);
  // A name that is no valid UTF-8 or holds a NUL never reaches the system.
  EXPECT_THROW(TFileStream(TempPath("bad\xFF"), fmCreate), EFCreateError);
  EXPECT_THROW(TFileStream(TempPath(std::string("nul\0x", 5)), fmCreate), EFCreateError);
#else
  // Nothing but a regular file, and no waiting for a FIFO's writer (the alarm
  // ends a test that would wait for ever).
  const std::string fifo = TempPath("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  ::alarm(20);
  EXPECT_THROW(TFileStream(fifo, fmOpenRead), EFOpenError);
  EXPECT_THROW(s.LoadFromFile("/dev/zero"), EFOpenError);
  ::alarm(0);
  std::remove(fifo.c_str());
#endif
}

TEST(FileStreams, ReadWriteSeekAndSize) {
  const std::string path = TempPath("rw");
  {
    TFileStream f(path, fmCreate);
    Put(f, "hello world");
    EXPECT_EQ(f.Size(), 11);
    EXPECT_EQ(f.Position(), 11);
    f.SetPosition(6);
    Put(f, "WORLD");
    f.SetSize(5);
    EXPECT_EQ(f.Size(), 5);
    EXPECT_EQ(f.Position(), 5);
  }
  {
    TFileStream f(path, fmOpenReadWrite | fmShareDenyNone);
    char buf[16];
    EXPECT_EQ(f.Read(buf, 16), 5);
    EXPECT_EQ(std::string(buf, 5), "hello");
    EXPECT_EQ(f.Read(buf, 16), 0);
    EXPECT_EQ(f.Seek(-2, soEnd), 3);
    EXPECT_THROW(f.ReadBuffer(buf, 3), EReadError);
    EXPECT_THROW(f.Seek(-10, soCurrent), EStreamError);  // before the start
    EXPECT_EQ(f.Position(), 5);
  }
  {
    TFileStream f(path, fmOpenRead);
    EXPECT_THROW(Put(f, "x"), EWriteError);
  }
  std::remove(path.c_str());
}

}  // namespace
}  // namespace vto
