// Tests of net/IdIOHandler.cpp and net/IdIOHandlerSocket.cpp.
// What a peer's announcements may cost: a line longer than the maximum, a body
// length larger than a memory stream holds, a body length the peer never sends.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#if defined(_WIN32)
#include "desktop/WinApi.h"
// (after windows.h)
#include <psapi.h>
#else
#include <unistd.h>
#endif

#include <fstream>
#include <limits>
#include <memory>
#include <string>

#include "net/IdExceptions.h"
#include "net/IdIOHandlerSocket.h"
#include "streams/Streams.h"
#include "tests/support/ScriptedServer.h"

namespace vto {
namespace {

using testing::ScriptedServer;
using ::testing::StrEq;
using ::testing::ThrowsMessage;

std::unique_ptr<TIdIOHandlerStack> Open(ScriptedServer& server) {
  server.Start();
  auto io = std::make_unique<TIdIOHandlerStack>();
  io->SetHost("127.0.0.1");
  io->SetPort(server.Port());
  io->Open();
  return io;
}

std::int64_t ResidentBytes() {
#if defined(_WIN32)
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  if (!::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters)) return 0;
  return static_cast<std::int64_t>(counters.WorkingSetSize);
#else
  std::ifstream statm("/proc/self/statm");
  std::int64_t total = 0, resident = 0;
  statm >> total >> resident;
  return resident * ::sysconf(_SC_PAGESIZE);
#endif
}

constexpr std::int64_t kMiB = 1 << 20;

TEST(ReadBounds, BodyLongerThanAMemoryStreamHoldsRaisesBeforeReading) {
  ScriptedServer server;
  server.Send("0123456789\n").Stall();
  auto io = Open(server);
  TMemoryStream s;
  s.WriteBuffer("pre", 3);
  ASSERT_THAT([&] { io->ReadStream(&s, std::int64_t{std::numeric_limits<std::int32_t>::max()}); },
              ThrowsMessage<EStreamError>(StrEq("Out of memory while expanding memory stream")));
  EXPECT_EQ(s.Size(), 3);
  EXPECT_EQ(io->ReadLn(), "0123456789");  // nothing was taken from the connection
  server.Release();
}

TEST(ReadBounds, AnnouncedBodyThatNeverComesCostsNoMemory) {
  ScriptedServer server;
  server.Send("short body").Close();
  auto io = Open(server);
  TMemoryStream s;
  const std::int64_t before = ResidentBytes();
  EXPECT_THROW(io->ReadStream(&s, 1536 * kMiB), EIdConnClosedGracefully);
  EXPECT_LT(ResidentBytes() - before, 64 * kMiB);
  EXPECT_EQ(std::string(s.Memory(), static_cast<std::size_t>(s.Size())), "short body");
}

TEST(ReadBounds, HeaderLineBeyondTheMaximumRaisesWithoutBufferingTheRest) {
  // A peer streaming one endless line: the read stops once the maximum is passed.
  ScriptedServer server;
  server.Send(std::string(4 * kMiB, 'h')).Stall();
  auto io = Open(server);
  EXPECT_THROW(io->ReadLn(), EIdReadLnMaxLineLengthExceeded);
  EXPECT_LE(io->InputBuffer().Size(), TIdIOHandler::IdMaxLineLengthDefault + io->RecvBufferSize());
  server.Release();
}

}  // namespace
}  // namespace vto
