// Tests of net/IdBuffer.cpp.
// The input buffer: growth, the move-to-front and shrink rules, searching and
// extracting.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "net/IdBuffer.h"
#include "net/IdExceptions.h"
#include "streams/Streams.h"

namespace vto {
namespace {

using ::testing::StrEq;
using ::testing::ThrowsMessage;

std::string Bytes(std::size_t n, char c = 'x') {
  return std::string(n, c);
}

TEST(BufferGrowth, EmptyBufferTakesExactlyTheBytesAppended) {
  TIdBuffer b;
  b.Write("hello");
  EXPECT_EQ(b.Size(), 5);
  EXPECT_EQ(b.Capacity(), 5);
  EXPECT_EQ(b.HeadIndex(), 0);
}

TEST(BufferGrowth, AppendingBeyondCapacityAddsTheGrowthFactor) {
  TIdBuffer b;
  b.Write("abc");
  b.Write("defg");
  EXPECT_EQ(b.Capacity(), 3 + 4 + 2048);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(b.Data()), 7), "abcdefg");
  b.Write("h");  // fits in the spare room
  EXPECT_EQ(b.Capacity(), 3 + 4 + 2048);
}

TEST(BufferMoveToFront, RemovingPastTheGrowthFactorMovesTheRestToTheFront) {
  TIdBuffer b;
  std::string data;
  for (int i = 0; i < 4000; ++i) data += static_cast<char>('a' + i % 26);
  b.Write(data);
  b.Remove(3000);
  EXPECT_EQ(b.HeadIndex(), 0);
  EXPECT_EQ(b.Size(), 1000);
  // 3000 spare bytes exceed the growth factor: capacity shrinks to size + 2048.
  EXPECT_EQ(b.Capacity(), 1000 + 2048);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(b.Data()), 1000), data.substr(3000));
}

TEST(BufferMoveToFront, RemovingLessThanTheGrowthFactorOnlyAdvancesTheHead) {
  TIdBuffer b;
  b.Write(Bytes(4000));
  b.Remove(1000);
  EXPECT_EQ(b.HeadIndex(), 1000);
  EXPECT_EQ(b.Size(), 3000);
  EXPECT_EQ(b.Capacity(), 4000);
}

TEST(BufferMoveToFront, AppendMovesUnreadBytesToTheFrontFirst) {
  TIdBuffer b;
  b.Write(std::string("0123456789"));
  b.Remove(4);
  EXPECT_EQ(b.HeadIndex(), 4);
  b.Write("ab");
  EXPECT_EQ(b.HeadIndex(), 0);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(b.Data()), b.Size()), "456789ab");
}

TEST(BufferRemove, RemovingEverythingReleasesTheArray) {
  TIdBuffer b;
  std::int64_t removed = 0;
  b.OnBytesRemoved = [&](std::int32_t n) { removed += n; };
  b.Write(Bytes(10));
  b.Remove(3);
  b.Remove(50);
  EXPECT_EQ(b.Size(), 0);
  EXPECT_EQ(b.Capacity(), 0);
  EXPECT_EQ(b.HeadIndex(), 0);
  EXPECT_EQ(removed, 53);
}

TEST(BufferLimits, AppendingPastTwoGigabytesRaises) {
  TIdBuffer b;
  b.Write("a");
  char dummy = 0;  // never read: the size check comes first
  ASSERT_THAT([&] { b.Write(&dummy, INT_MAX); },
              ThrowsMessage<EIdTooMuchDataInBuffer>(StrEq("Too much data in buffer.")));
  EXPECT_EQ(b.Size(), 1);
}

TEST(BufferSearch, IndexOfFindsFromTheStartPositionRelativeToTheHead) {
  TIdBuffer b;
  b.Write(std::string("xxab\r\ncd\r\n"));
  b.Remove(2);
  EXPECT_EQ(b.IndexOf(std::string_view("\r\n")), 2);
  EXPECT_EQ(b.IndexOf(std::string_view("\r\n"), 3), 6);
  EXPECT_EQ(b.IndexOf(std::string_view("zz")), -1);
}

TEST(BufferSearch, BadArgumentsRaiseTheirMessages) {
  TIdBuffer empty;
  EXPECT_EQ(empty.IndexOf(std::string_view("a")), -1);
  TIdBuffer b;
  b.Write("abc");
  ASSERT_THAT([&] { b.IndexOf(std::string_view("")); },
              ThrowsMessage<EIdException>(StrEq("Buffer terminator must be specified.")));
  for (int start : {-1, 3}) {
    ASSERT_THAT([&] { b.IndexOf(std::string_view("a"), start); },
                ThrowsMessage<EIdException>(StrEq("Buffer start position is invalid.")))
        << start;
  }
}

TEST(BufferExtract, MoreThanBufferedRaisesWithBothCounts) {
  TIdBuffer b;
  b.Write("abc");
  TIdBytes out;
  ASSERT_THAT([&] { b.ExtractToBytes(out, 5); },
              ThrowsMessage<EIdNotEnoughDataInBuffer>(StrEq("Not enough data in buffer. (5/3)")));
  EXPECT_EQ(b.Size(), 3);
}

TEST(BufferExtract, BytesAppendOrOverwriteButNeverShrink) {
  TIdBuffer b;
  b.Write("abcdef");
  TIdBytes out = {'1', '2', '3', '4'};
  b.ExtractToBytes(out, 2, false);
  EXPECT_EQ(std::string(out.begin(), out.end()), "ab34");
  b.ExtractToBytes(out, 2, true);
  EXPECT_EQ(std::string(out.begin(), out.end()), "ab34cd");
  TIdBytes copy;
  b.ExtractToBytes(copy, 1, true, 1);  // copied from an index, not removed
  EXPECT_EQ(std::string(copy.begin(), copy.end()), "f");
  EXPECT_EQ(b.Size(), 2);
}

TEST(BufferExtract, StringsDecodeAsSevenBitByDefault) {
  TIdBuffer b;
  b.Write(std::string("caf\xE9!"));
  EXPECT_EQ(b.ExtractToString(0), "");
  EXPECT_EQ(b.ExtractToString(4), "caf\xEF\xBF\xBD");
  EXPECT_EQ(b.ExtractToString(-1), "!");
}

TEST(BufferExtract, ToStreamWritesAtThePositionAndRemoves) {
  TIdBuffer b;
  b.Write("0123456789");
  TMemoryStream s;
  s.Write("ab", 2);
  b.ExtractToStream(&s, 4);
  b.ExtractToStream(nullptr, 2);  // dropped
  b.ExtractToStream(&s);
  EXPECT_EQ(std::string(s.Memory(), static_cast<std::size_t>(s.Size())), "ab01236789");
  EXPECT_EQ(b.Size(), 0);
}

}  // namespace
}  // namespace vto
