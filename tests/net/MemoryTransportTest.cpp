// Tests of net/IdIOHandler.cpp and net/IdGlobal.cpp (the text encodings).
// The I/O handler over a scripted in-memory transport: every result a transport
// can give (data, a close, a reset, a time-out, a partial or refused write) at any
// point of a read or a write, and the text encodings of the wire.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "net/IdExceptions.h"
#include "net/IdGlobal.h"
#include "net/IdIOHandler.h"
#include "net/IdStack.h"
#include "streams/Streams.h"
#include "tests/support/MemoryIOHandler.h"
#include "tests/support/SocketErrorMatchers.h"

namespace vto {
namespace {

using testing::MemoryHandler;
using testing::ThrowsSocketError;

std::string Text(TMemoryStream& s) {
  return std::string(s.Memory(), static_cast<std::size_t>(s.Size()));
}

// ---------------------------------------------------------------- encodings

TEST(WireEncoding, SevenBitReplacesWhatAsciiCannotCarry) {
  const auto ascii = IdTextEncoding7Bit();
  EXPECT_EQ(ascii->GetBytes("caf\xC3\xA9 \xE2\x82\xAC!"), "caf? ?!");
  EXPECT_EQ(ascii->GetString("a\x80z"), "a\xEF\xBF\xBDz");
}

TEST(WireEncoding, Utf8KeepsValidTextAndMarksBrokenBytes) {
  const auto utf8 = IdTextEncodingUTF8();
  EXPECT_EQ(utf8->GetBytes("caf\xC3\xA9 \xF0\x9F\x98\x80"), "caf\xC3\xA9 \xF0\x9F\x98\x80");
  // A lone continuation byte and a cut sequence: one mark per byte that fails.
  EXPECT_EQ(utf8->GetBytes("a\x80"
                           "b\xC3"),
            "a?b?");
  EXPECT_EQ(utf8->GetString("a\x80"
                            "b\xC3"),
            "a\xEF\xBF\xBD"
            "b\xEF\xBF\xBD");
  // A UTF-16 surrogate written as UTF-8 is no character.
  EXPECT_EQ(utf8->GetString("\xED\xA0\x80").find("\xED\xA0\x80"), std::string::npos);
}

TEST(WireEncoding, HandlerFallsBackToSevenBit) {
  MemoryHandler io;
  io.SetDefStringEncoding(IdTextEncodingUTF8());
  EXPECT_EQ(io.DefStringEncoding(), IdTextEncodingUTF8());
  io.SetDefStringEncoding(nullptr);
  EXPECT_EQ(io.DefStringEncoding(), IdTextEncoding7Bit());
}

TEST(WireTicks, NeverRunBackwards) {
  const std::int64_t a = IdTicks();
  const std::int64_t b = IdTicks();
  EXPECT_LE(a, b);
}

// ---------------------------------------------------------------- destination

TEST(HandlerDestination, HostAndPortSplitAtTheLastColon) {
  MemoryHandler io;
  io.SetDestination("example.org: 8080 ");
  EXPECT_EQ(io.Destination(), "example.org: 8080 ");
  EXPECT_EQ(io.Host(), "example.org");
  EXPECT_EQ(io.Port(), 8080);
  io.SetDestination("[::1]:443");
  EXPECT_EQ(io.Host(), "[::1]");
  EXPECT_EQ(io.Port(), 443);
}

TEST(HandlerDestination, PortThatIsNoNumberOrTooLargeIsNotTaken) {
  MemoryHandler io;
  io.SetPort(21);
  io.SetDestination("h:abc");
  EXPECT_EQ(io.Host(), "h");
  EXPECT_EQ(io.Port(), 21);
  io.SetDestination("h2:99999999999");  // eleven digits
  EXPECT_EQ(io.Port(), 21);
  io.SetDestination("h3:4294967295");  // beyond 32-bit signed
  EXPECT_EQ(io.Port(), 21);
  io.SetDestination("h4:");
  EXPECT_EQ(io.Port(), 21);
  io.SetDestination("nocolon");
  EXPECT_EQ(io.Host(), "h4");
  EXPECT_EQ(io.Destination(), "nocolon");
}

// ---------------------------------------------------------------- reading

TEST(MemoryReads, ResetWithNothingBufferedRaisesTheSocketErrorAndCloses) {
  MemoryHandler io;
  io.Open();
  io.reads = {{"", IdErr::ConnectionReset}};
  ASSERT_THAT([&] { io.ReadLn(); }, ThrowsSocketError(IdErr::ConnectionReset));
  EXPECT_FALSE(io.Connected());
  EXPECT_TRUE(io.ClosedGracefully());
}

TEST(MemoryReads, ResetAfterDataKeepsTheBytesReadable) {
  MemoryHandler io;
  io.Open();
  io.reads = {{"abc"}, {"", IdErr::ConnectionReset}};
  TIdBytes bytes;
  io.ReadBytes(bytes, -1);
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "abc");
  io.reads = {{"line\nrest"}, {"", IdErr::ConnectionReset}};
  io.Open();
  EXPECT_EQ(io.ReadLn(), "line");
  // A line cut by a reset is no line, and the reset is no orderly close.
  EXPECT_THAT([&] { io.ReadLn(); }, ThrowsSocketError(IdErr::ConnectionReset));
  EXPECT_EQ(io.LostByError(), IdErr::ConnectionReset);
  EXPECT_EQ(io.InputBuffer().Size(), 4);  // "rest" stays
}

TEST(MemoryReads, TransportTimeOutIsAReadTimeOut) {
  MemoryHandler io;
  io.Open();
  io.reads = {{"part"}, {"", IdErr::TimedOut}};
  EXPECT_EQ(io.ReadLn("\n", 1000), "");
  EXPECT_TRUE(io.ReadLnTimedout());
  EXPECT_EQ(io.InputBuffer().Size(), 4);
  EXPECT_TRUE(io.Connected());
  io.reads = {{"", IdErr::TimedOut}};
  TIdBytes bytes;
  EXPECT_THROW(io.ReadBytes(bytes, 10), EIdReadTimeout);
}

TEST(MemoryReads, CheckForDataOnSourceNeverRaises) {
  MemoryHandler io;
  EXPECT_FALSE(io.CheckForDataOnSource(0));  // not open
  io.Open();
  io.reads = {{"x"}};
  EXPECT_TRUE(io.CheckForDataOnSource(0));
  EXPECT_EQ(io.InputBuffer().Size(), 1);
  io.reads = {{"", IdErr::ConnectionReset}};
  EXPECT_FALSE(io.CheckForDataOnSource(0));
}

TEST(MemoryReads, ReadsOnAClosedHandlerRaise) {
  MemoryHandler io;
  TIdBytes bytes;
  EXPECT_THROW(io.ReadBytes(bytes, 1), EIdConnClosedGracefully);
  io.Open();
  io.Close();
  EXPECT_THROW(io.ReadLn(), EIdConnClosedGracefully);
}

TEST(MemoryReads, IntegersInNetworkOrder) {
  MemoryHandler io;
  io.Open();
  io.WriteInt32(-2);
  io.WriteInt64(0x0102030405060708);
  ASSERT_EQ(io.sent.size(), 12u);
  io.reads = {{io.sent}};
  EXPECT_EQ(io.ReadInt32(), -2);
  EXPECT_EQ(io.ReadInt64(), 0x0102030405060708);
}

TEST(MemoryStreams, UntilDisconnectEndsNormallyOnAResetOrAbort) {
  for (std::int32_t error : {IdErr::ConnectionReset, IdErr::ConnectionAborted, IdErr::Shutdown}) {
    SCOPED_TRACE(error);
    MemoryHandler io;
    io.Open();
    io.reads = {{"first"}, {"second"}, {"", error}};
    TMemoryStream s;
    io.ReadStream(&s, -1, true);
    EXPECT_EQ(Text(s), "firstsecond");
  }
}

TEST(MemoryStreams, OtherErrorsAreRaisedWithTheBytesKept) {
  MemoryHandler io;
  io.Open();
  io.SetRecvBufferSize(4);
  io.reads = {{"abcdef"}, {"", IdErr::TimedOut}};
  TMemoryStream s;
  EXPECT_THROW(io.ReadStream(&s, -1, true), EIdReadTimeout);
  EXPECT_EQ(Text(s), "abcdef");
}

TEST(MemoryStreams, CountedReadEndingInAnErrorRaisesThatErrorAndKeepsTheBytes) {
  // The counted read asks without raising on a disconnect: the failure closes the
  // handler, and the missing bytes are reported with the error that lost them,
  // never as an orderly close.
  MemoryHandler io;
  io.Open();
  io.reads = {{"abc"}, {"", IdErr::ConnectionRefused}};
  TMemoryStream s;
  EXPECT_THAT([&] { io.ReadStream(&s, 10); }, ThrowsSocketError(IdErr::ConnectionRefused));
  EXPECT_EQ(Text(s), "abc");
  io.Open();  // a new connection starts with no error
  EXPECT_EQ(io.LostByError(), 0);
}

TEST(MemoryStreams, NullDestinationDropsTheBytes) {
  MemoryHandler io;
  io.Open();
  io.reads = {{"0123456789tail\n"}};
  io.ReadStream(nullptr, 10);
  EXPECT_EQ(io.ReadLn(), "tail");
}

// ---------------------------------------------------------------- writing

TEST(MemoryWrites, PartialSendsDeliverEveryByteInOrder) {
  MemoryHandler io;
  io.Open();
  io.write_chunk = 3;
  std::int64_t reported = 0;
  io.OnWork = [&reported](TWorkMode mode, std::int64_t n) {
    if (mode == wmWrite) reported += n;
  };
  io.WriteLn("hello, world");
  EXPECT_EQ(io.sent, "hello, world\r\n");
  EXPECT_EQ(reported, 14);
}

TEST(MemoryWrites, RefusedSendClosesAndRaisesItsError) {
  MemoryHandler io;
  io.Open();
  io.write_errors = {IdErr::ConnectionReset};
  ASSERT_THAT([&] { io.Write("data"); }, ThrowsSocketError(IdErr::ConnectionReset));
  EXPECT_FALSE(io.Connected());
  EXPECT_THROW(io.Write("more"), EIdConnClosedGracefully);
}

TEST(MemoryWrites, TimedOutSendRaisesButKeepsTheConnection) {
  MemoryHandler io;
  io.Open();
  io.write_errors = {IdErr::TimedOut};
  EXPECT_THROW(io.Write("data"), EIdSocketError);
  EXPECT_TRUE(io.Connected());
  io.Write("data");
  EXPECT_EQ(io.sent, "data");
}

TEST(MemoryWrites, PeerThatTakesNothingEndsTheWrite) {
  MemoryHandler io;
  io.Open();
  io.write_errors = {0};
  EXPECT_THROW(io.Write("data"), EIdConnClosedGracefully);
  EXPECT_TRUE(io.ClosedGracefully());
}

// A stream that claims a size it cannot deliver.
class HollowStream : public TStream {
 public:
  explicit HollowStream(std::int64_t size) : size_(size) {}
  std::int64_t GetSize() override { return size_; }
  std::int32_t Read(void*, std::int32_t) override { return 0; }
  std::int32_t Write(const void*, std::int32_t) override { return 0; }
  std::int64_t Seek(std::int64_t Offset, TSeekOrigin Origin) override {
    pos_ = Origin == soBeginning ? Offset : Origin == soCurrent ? pos_ + Offset : size_ + Offset;
    return pos_;
  }

 private:
  std::int64_t size_;
  std::int64_t pos_ = 0;
};

TEST(MemoryWrites, StreamWithByteCount) {
  MemoryHandler io;
  io.Open();
  TMemoryStream s;
  s.WriteBuffer("abcdef", 6);
  s.SetPosition(2);
  io.Write(&s, -1, true);  // from the position: 4 bytes, count first
  EXPECT_EQ(io.sent, std::string("\0\0\0\x04"
                                 "cdef",
                                 8));
  io.sent.clear();
  io.SetLargeStream(true);
  io.Write(&s, 0, true);  // the whole stream
  EXPECT_EQ(io.sent, std::string("\0\0\0\0\0\0\0\x06"
                                 "abcdef",
                                 14));
}

TEST(MemoryWrites, StreamBeyondThirtyTwoBitsNeedsLargeStream) {
  MemoryHandler io;
  io.Open();
  HollowStream big(std::int64_t{1} << 32);
  EXPECT_THROW(io.Write(&big, 0, true), EIdIOHandlerRequiresLargeStream);
  EXPECT_EQ(io.sent, "");
  HollowStream hollow(10);
  EXPECT_THROW(io.Write(&hollow, 0, false), EIdNoDataToRead);
}

TEST(MemoryWrites, BufferFlushesInPartsAndCloseFreesItEvenOnFailure) {
  MemoryHandler io;
  io.Open();
  io.WriteBufferOpen();
  io.Write("0123456789");
  EXPECT_EQ(io.sent, "");
  io.WriteBufferFlush(4);
  EXPECT_EQ(io.sent, "0123");
  io.WriteBufferOpen();  // a second open empties the buffer
  io.Write("xy");
  io.write_errors = {IdErr::ConnectionReset};
  EXPECT_THROW(io.WriteBufferClose(), EIdSocketError);
  EXPECT_FALSE(io.WriteBufferingActive());
  EXPECT_EQ(io.sent, "0123");
}

}  // namespace
}  // namespace vto
