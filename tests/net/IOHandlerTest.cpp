// Tests of net/IdIOHandler.cpp and net/IdIOHandlerSocket.cpp.
// Buffered connection I/O against a scripted loopback server: lines, byte
// counts, streams, write buffering and the notice of a closed peer.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <string>

#include "net/IdExceptions.h"
#include "net/IdIOHandlerSocket.h"
#include "streams/Streams.h"
#include "tests/support/ScriptedServer.h"
#include "tests/support/SocketErrorMatchers.h"

namespace vto {
namespace {

using ::testing::_;
using ::testing::AnyOf;
using testing::IsSocketError;
using testing::ScriptedServer;
using ::testing::StrEq;
using ::testing::Throws;
using ::testing::ThrowsMessage;
using ::testing::WhenDynamicCastTo;

// A stack handler that counts the calls into its transport.
class CountingHandler : public TIdIOHandlerStack {
 public:
  int sends = 0;
  int reads = 0;

 protected:
  std::int32_t WriteToTransport(const TIdBytes& ABuffer, std::int32_t AOffset,
                                std::int32_t ALength) override {
    ++sends;
    return TIdIOHandlerStack::WriteToTransport(ABuffer, AOffset, ALength);
  }
  std::int32_t ReadFromTransport(std::uint8_t* ABuffer, std::int32_t ALength) override {
    ++reads;
    return TIdIOHandlerStack::ReadFromTransport(ABuffer, ALength);
  }
  bool TryReadFromTransport(std::uint8_t* ABuffer, std::int32_t ALength, std::int32_t ATimeout,
                            std::int32_t& ACount) override {
    bool done = TIdIOHandlerStack::TryReadFromTransport(ABuffer, ALength, ATimeout, ACount);
    reads += done ? 1 : 0;
    return done;
  }
};

std::unique_ptr<CountingHandler> Open(ScriptedServer& server) {
  server.Start();
  auto io = std::make_unique<CountingHandler>();
  io->SetHost("127.0.0.1");
  io->SetPort(server.Port());
  io->Open();
  return io;
}

std::string Text(TStream& s) {
  auto& m = dynamic_cast<TMemoryStream&>(s);
  return std::string(m.Memory(), static_cast<std::size_t>(m.Size()));
}

// ---------------------------------------------------------------- ReadLn

TEST(ReadLnTerminators, LineFeedCarriageReturnAndExplicitTerminator) {
  ScriptedServer server;
  server.Send("abc\r\nabc\nabc\r\r\nabc\r\nx\r\r\n").Stall();
  auto io = Open(server);
  EXPECT_EQ(io->ReadLn(), "abc");
  EXPECT_EQ(io->ReadLn(), "abc");
  EXPECT_EQ(io->ReadLn(), "abc\r");
  EXPECT_EQ(io->ReadLn("\r\n"), "abc");
  // With an explicit CR LF terminator, a CR before it stays in the line.
  EXPECT_EQ(io->ReadLn("\r\n"), "x\r");
  server.Release();
}

TEST(ReadLnTerminators, BareCarriageReturnIsPartOfTheLine) {
  ScriptedServer server;
  server.Send("a\rb\r\nc\r").Pause(50).Send("\n").Stall();
  auto io = Open(server);
  EXPECT_EQ(io->ReadLn(), "a\rb");
  EXPECT_EQ(io->ReadLn(), "c");
  server.Release();
}

TEST(ReadLnAcrossReads, LineArrivingInPiecesIsJoined) {
  ScriptedServer server;
  server.Send("ab").Pause(100).Send("c\r").Pause(100).Send("\nde").Pause(100).Send("f\n").Stall();
  auto io = Open(server);
  EXPECT_EQ(io->ReadLn(), "abc");
  EXPECT_EQ(io->ReadLn(), "def");
  EXPECT_GE(io->reads, 2);
  server.Release();
}

TEST(ReadLnAcrossReads, TwoByteTerminatorSplitBetweenReads) {
  ScriptedServer server;
  server.Send("line\r").Pause(100).Send("\nnext\r").Pause(100).Send("\n").Stall();
  auto io = Open(server);
  EXPECT_EQ(io->ReadLn("\r\n"), "line");
  EXPECT_EQ(io->ReadLn("\r\n"), "next");
  server.Release();
}

TEST(ReadLnEncoding, HighBytesReadAsReplacementCharacter) {
  ScriptedServer server;
  server.Send("h\xE9llo\n").Stall();
  auto io = Open(server);
  EXPECT_EQ(io->ReadLn(), "h\xEF\xBF\xBDllo");
  server.Release();
}

TEST(ReadLnEncoding, NonAsciiCharactersGoOutAsQuestionMarks) {
  ScriptedServer server;
  server.ExpectUntil("\r\n").Close();
  auto io = Open(server);
  io->WriteLn("caf\xC3\xA9 \xE2\x82\xAC");
  server.Join();
  EXPECT_EQ(server.Received(), "caf? ?\r\n");
}

// ---------------------------------------------------------------- line length

TEST(ReadLnMaxLength, LineOfExactlyTheMaximumIsReturned) {
  ScriptedServer server;
  // 16384 bytes before the line feed, the carriage return among them.
  server.Send(std::string(16383, 'a') + "\r\n" + std::string(16384, 'b') + "\n").Stall();
  auto io = Open(server);
  EXPECT_EQ(io->ReadLn(), std::string(16383, 'a'));
  EXPECT_EQ(io->ReadLn(), std::string(16384, 'b'));
  server.Release();
}

TEST(ReadLnMaxLength, OneByteMoreRaises) {
  ScriptedServer server;
  server.Send(std::string(16385, 'a') + "\n").Stall();
  auto io = Open(server);
  ASSERT_THAT([&] { io->ReadLn(); },
              ThrowsMessage<EIdReadLnMaxLineLengthExceeded>(StrEq("Max line length exceeded.")));
  server.Release();
}

TEST(ReadLnMaxLength, OverlongUnterminatedLineRaisesBeforeTheLineFeedArrives) {
  ScriptedServer server;
  // The line feed would only come after Release(): the raise cannot wait for it.
  server.Send(std::string(16385, 'a')).Stall().Send("\n");
  auto io = Open(server);
  EXPECT_THROW(io->ReadLn(), EIdReadLnMaxLineLengthExceeded);
  server.Release();
}

TEST(ReadLnMaxLength, MaximumBytesBufferedWithoutTerminatorStillWait) {
  ScriptedServer server;
  server.Send(std::string(16384, 'a')).Stall().Send("\n");
  auto io = Open(server);
  EXPECT_EQ(io->ReadLn("\n", 300), "");
  EXPECT_TRUE(io->ReadLnTimedout());
  EXPECT_EQ(io->InputBuffer().Size(), 16384);
  server.Release();
  EXPECT_EQ(io->ReadLn(), std::string(16384, 'a'));
  EXPECT_FALSE(io->ReadLnTimedout());
}

TEST(ReadLnMaxLength, SplitReturnsTheFirstPartAndKeepsTheRest) {
  ScriptedServer server;
  server.Send(std::string(16384, 'a') + std::string(3616, 'b') + "\n").Stall();
  auto io = Open(server);
  io->SetMaxLineAction(maSplit);
  EXPECT_EQ(io->ReadLn(), std::string(16384, 'a'));
  EXPECT_TRUE(io->ReadLnSplit());
  EXPECT_EQ(io->ReadLn(), std::string(3616, 'b'));
  EXPECT_FALSE(io->ReadLnSplit());
  server.Release();
}

TEST(ReadLnMaxLength, ZeroMeansNoMaximum) {
  ScriptedServer server;
  server.Send(std::string(40000, 'a') + "\n").Stall();
  auto io = Open(server);
  EXPECT_EQ(io->ReadLn("\n", -1, 0).size(), 40000u);
  server.Release();
}

// ---------------------------------------------------------------- closed peer

TEST(ClosedPeer, UnterminatedLineRaisesAndStaysBuffered) {
  ScriptedServer server;
  server.Send("abc").Close();
  auto io = Open(server);
  ASSERT_THAT([&] { io->ReadLn(); },
              ThrowsMessage<EIdConnClosedGracefully>(StrEq("Connection Closed Gracefully.")));
  EXPECT_EQ(io->InputBuffer().Size(), 3);
  TIdBytes rest;
  io->ReadBytes(rest, 3);
  EXPECT_EQ(std::string(rest.begin(), rest.end()), "abc");
}

TEST(ClosedPeer, ConnectedUntilTheUnreadBytesAreConsumed) {
  ScriptedServer server;
  server.Send("line one\nline two\n").Close();
  auto io = Open(server);
  EXPECT_EQ(io->ReadLn(), "line one");
  server.Join();
  EXPECT_TRUE(io->Connected());  // "line two" is still buffered
  EXPECT_EQ(io->ReadLn(), "line two");
  EXPECT_FALSE(io->Connected());
  EXPECT_FALSE(io->BindingAllocated());  // noticing the close closed the socket
  EXPECT_THROW(io->ReadLn(), EIdConnClosedGracefully);
}

TEST(ClosedPeer, ReadingAfterTheHandlerClosedRaises) {
  ScriptedServer server;
  server.Stall();
  auto io = Open(server);
  io->Close();
  EXPECT_THROW(io->ReadLn(), EIdConnClosedGracefully);
  server.Release();
}

// ---------------------------------------------------------------- time-outs

TEST(ReadTimeouts, ReadLnTimesOutAndKeepsThePartialLine) {
  ScriptedServer server;
  server.Send("par").Stall().Send("tial\n").Stall();
  auto io = Open(server);
  EXPECT_EQ(io->ReadLn("\n", 200), "");
  EXPECT_TRUE(io->ReadLnTimedout());
  EXPECT_EQ(io->InputBuffer().Size(), 3);
  server.Release();
  EXPECT_EQ(io->ReadLn(), "partial");
  server.Release();
}

TEST(ReadTimeouts, ReadBytesRaisesReadTimeoutWithTheHandlersTimeout) {
  ScriptedServer server;
  server.Send("ab").Stall();
  auto io = Open(server);
  io->SetReadTimeout(200);
  TIdBytes out;
  ASSERT_THAT([&] { io->ReadBytes(out, 5); },
              ThrowsMessage<EIdReadTimeout>(StrEq("Read timed out.")));
  EXPECT_EQ(io->InputBuffer().Size(), 2);
  server.Release();
}

TEST(ReadTimeouts, CheckForDataOnSourceWaitsOnlyAsLongAsAsked) {
  ScriptedServer server;
  server.Stall().Send("x").Stall();
  auto io = Open(server);
  EXPECT_FALSE(io->CheckForDataOnSource(50));
  server.Release();
  EXPECT_TRUE(io->CheckForDataOnSource(5000));
  EXPECT_EQ(io->InputBuffer().Size(), 1);
  server.Release();
}

// ---------------------------------------------------------------- bytes

TEST(ReadBytesCounts, ExactCountThenEverythingBuffered) {
  ScriptedServer server;
  server.Send("0123456789").Stall();
  auto io = Open(server);
  TIdBytes out;
  io->ReadBytes(out, 4);
  EXPECT_EQ(std::string(out.begin(), out.end()), "0123");
  io->ReadBytes(out, -1);  // appended
  EXPECT_EQ(std::string(out.begin(), out.end()), "0123456789");
  server.Release();
}

TEST(ReadBytesCounts, DiscardSkipsBytes) {
  ScriptedServer server;
  server.Send("xxxxx").Pause(50).Send("xxyy\n").Stall();
  auto io = Open(server);
  io->Discard(7);
  EXPECT_EQ(io->ReadLn(), "yy");
  server.Release();
}

TEST(ReadBytesCounts, NetworkOrderIntegers) {
  ScriptedServer server;
  server.Send(std::string("\x01\x02\x03\x04\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFE", 12)).Stall();
  auto io = Open(server);
  EXPECT_EQ(io->ReadInt32(), 0x01020304);
  EXPECT_EQ(io->ReadInt64(), -2);
  server.Release();
}

// ---------------------------------------------------------------- streams

TEST(ReadStreamCounts, ShortBodyRaisesAndLeavesNoStaleTail) {
  ScriptedServer server;
  server.Send("123456").Close();
  auto io = Open(server);
  TMemoryStream s;
  EXPECT_THROW(io->ReadStream(&s, 10), EIdConnClosedGracefully);
  EXPECT_EQ(Text(s), "123456");
}

TEST(ReadStreamCounts, ExactCountLeavesTheRestBuffered) {
  ScriptedServer server;
  std::string body(100000, '\0');
  for (std::size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>(i * 7);
  server.Send(body.substr(0, 70000)).Pause(50).Send(body.substr(70000) + "tail\n").Stall();
  auto io = Open(server);
  TMemoryStream s;
  s.Write("pre", 3);
  io->ReadStream(&s, 100000);
  EXPECT_EQ(Text(s), "pre" + body);
  EXPECT_EQ(io->ReadLn(), "tail");
  server.Release();
}

TEST(ReadStreamCounts, CountFromTheConnectionWhenNotGiven) {
  ScriptedServer server;
  server.Send(std::string("\0\0\0\x05hello!", 10)).Stall();
  auto io = Open(server);
  TMemoryStream s;
  io->ReadStream(&s);
  EXPECT_EQ(Text(s), "hello");
  server.Release();
}

TEST(ReadStreamUntilDisconnect, EveryByteBeforeTheClose) {
  ScriptedServer server;
  std::string body;
  for (int i = 0; i < 200000; ++i) body += static_cast<char>('A' + i % 53);
  server.Send(body.substr(0, 1000)).Pause(50).Send(body.substr(1000)).Close();
  auto io = Open(server);
  TMemoryStream s;
  io->ReadStream(&s, -1, true);
  EXPECT_EQ(Text(s), body);
}

TEST(ReadStreamUntilDisconnect, ResetAtTheEndReturnsNormally) {
  ScriptedServer server;
  std::string body(5000, 'r');
  server.Send(body).Pause(200).Reset();
  auto io = Open(server);
  TMemoryStream s;
  EXPECT_NO_THROW(io->ReadStream(&s, -1, true));
  EXPECT_EQ(Text(s), body);
  EXPECT_FALSE(io->Connected());
}

TEST(ReadStreamUntilDisconnect, ResetDuringACountedReadRaisesTheSocketError) {
  ScriptedServer server;
  server.Send("12345").Pause(200).Reset();
  auto io = Open(server);
  TMemoryStream s;
  // The reset is noticed either as the end of the connection or as the socket error.
  ASSERT_THAT([&] { io->ReadStream(&s, 10); },
              Throws<EIdException>(
                  AnyOf(WhenDynamicCastTo<const EIdConnClosedGracefully&>(_),
                        WhenDynamicCastTo<const EIdSocketError&>(IsSocketError(
                            10054, "Socket Error # 10054\r\nConnection reset by peer.")))));
  EXPECT_EQ(Text(s), "12345");
}

TEST(ReadStreamCounts, DiscardAllDropsEverythingUntilTheClose) {
  ScriptedServer server;
  server.Send(std::string(70000, 'd')).Close();
  auto io = Open(server);
  io->DiscardAll();
  EXPECT_FALSE(io->Connected());
}

// A stream whose position sits near the largest 64-bit value.
class FarStream : public TStream {
 public:
  std::int32_t Read(void*, std::int32_t) override { return 0; }
  std::int32_t Write(const void*, std::int32_t Count) override { return Count; }
  std::int64_t Seek(std::int64_t, TSeekOrigin) override {
    return std::numeric_limits<std::int64_t>::max() - 5;
  }
  void SetSize(std::int64_t) override { ADD_FAILURE() << "presized past the limit"; }
};

TEST(ReadStreamCounts, EndBeyondTheLargestPositionRaises) {
  TIdIOHandlerStack io;
  FarStream s;
  ASSERT_THAT([&] { io.ReadStream(&s, 10); },
              ThrowsMessage<EIdIOHandlerStreamDataTooLarge>(StrEq("Data is too large for stream")));
}

// ---------------------------------------------------------------- writing

TEST(WriteBuffering, CloseHandsEverythingToTheTransportInOneSend) {
  ScriptedServer server;
  server.ExpectUntil("\r\n\r\n").Close();
  auto io = Open(server);
  io->WriteBufferOpen();
  EXPECT_TRUE(io->WriteBufferingActive());
  io->WriteLn("GET / HTTP/1.1");
  io->WriteLn("Host: example");
  io->WriteLn();
  EXPECT_EQ(io->sends, 0);
  io->WriteBufferClose();
  EXPECT_EQ(io->sends, 1);
  EXPECT_FALSE(io->WriteBufferingActive());
  server.Join();
  EXPECT_EQ(server.Received(), "GET / HTTP/1.1\r\nHost: example\r\n\r\n");
}

TEST(WriteBuffering, CancelSendsNothing) {
  ScriptedServer server;
  server.ExpectUntil("after\r\n").Close();
  auto io = Open(server);
  io->WriteBufferOpen();
  io->WriteLn("one");
  io->WriteLn("two");
  io->WriteBufferCancel();
  EXPECT_FALSE(io->WriteBufferingActive());
  io->WriteLn("after");
  server.Join();
  EXPECT_EQ(server.Received(), "after\r\n");
  EXPECT_EQ(io->sends, 1);
}

TEST(WriteBuffering, ThresholdSendsFullPiecesAsTheyFill) {
  ScriptedServer server;
  server.Expect(25).Close();
  auto io = Open(server);
  io->WriteBufferOpen(10);
  io->Write(std::string_view("0123456789012345678901234"));
  EXPECT_EQ(io->sends, 2);
  io->WriteBufferClose();
  EXPECT_EQ(io->sends, 3);
  server.Join();
  EXPECT_EQ(server.Received(), "0123456789012345678901234");
}

TEST(WriteStreams, WholeStreamAndFromThePosition) {
  ScriptedServer server;
  server.Expect(10 + 4).Close();
  auto io = Open(server);
  TMemoryStream s;
  s.Write("0123456789", 10);
  io->Write(&s);  // size 0: the whole stream from its start
  s.SetPosition(6);
  io->Write(&s, -1);  // from the position to the end
  server.Join();
  EXPECT_EQ(server.Received(), "01234567896789");
}

TEST(WriteStreams, StreamEndingEarlyRaises) {
  ScriptedServer server;
  server.ExpectEnd();
  auto io = Open(server);
  TMemoryStream s;
  s.Write("abc", 3);
  s.SetPosition(0);
  ASSERT_THAT([&] { io->Write(&s, 10); },
              ThrowsMessage<EIdNoDataToRead>(StrEq("No data to read.")));
  io->Close();
}

TEST(WriteStreams, WritingToAResetPeerRaisesWithoutKillingTheProcess) {
  ScriptedServer server;
  server.Reset();
  auto io = Open(server);
  server.Join();
  std::string block(65536, 'w');
  EXPECT_THROW(
      {
        for (int i = 0; i < 100; ++i) io->Write(std::string_view(block));
      },
      EIdException);
  EXPECT_FALSE(io->Connected());
}

}  // namespace
}  // namespace vto
