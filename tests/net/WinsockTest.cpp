// Windows Sockets underneath the stack: the error numbers as Winsock gives
// them, the library started and stopped by the usage count, a start-up that
// fails, sockets kept from started programs, international names.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>

#include "net/IdExceptions.h"
#include "net/IdSocketApi.h"
#include "net/IdTCPConnection.h"
#include "tests/support/LoopbackPort.h"
#include "tests/support/ScriptedServer.h"
#include "tests/support/SocketErrorMatchers.h"

namespace vto {
namespace {

using testing::ScriptedServer;
using ::testing::StartsWith;
using testing::ThrowsSocketError;

// ---------------------------------------------------------------- error numbers

TEST(WinsockErrors, PlatformNumbersAreTheTableNumbers) {
  struct Row {
    std::uint32_t platform;
    std::int32_t table;
  };
  for (const Row& r :
       {Row{WSAECONNREFUSED, 10061}, Row{WSAECONNRESET, 10054}, Row{WSAECONNABORTED, 10053},
        Row{WSAETIMEDOUT, 10060}, Row{WSAHOST_NOT_FOUND, 11001}, Row{WSAENOTSOCK, 10038},
        Row{WSAEHOSTUNREACH, 10065}, Row{0xC000023Du, 10065}}) {
    EXPECT_EQ(sockets::MapError(static_cast<int>(r.platform)), r.table) << r.platform;
  }
}

// A socket handle connected to the server, receiving with a time-out.
struct Connected {
  explicit Connected(ScriptedServer& server, std::int32_t timeoutMs) {
    server.Start();
    handle.AllocateSocket();
    handle.SetPeer("127.0.0.1", server.Port(), Id_IPv4);
    handle.Connect();
    handle.SetIOTimeouts(timeoutMs);
  }
  std::int32_t Receive() {
    char buffer[64];
    return handle.Receive(buffer, sizeof buffer);
  }
  TIdStackUser user;
  TIdSocketHandle handle;
};

// (A reset is not among them: Wine's receive reads a reset as the end of the
// connection, where Windows gives 10054.)
TEST(WinsockErrors, ConditionsRaiseTheirNumberAndText) {
  struct Case {
    const char* what;
    std::function<void()> run;
    std::int32_t number;
    const char* text;
  };
  const Case cases[] = {
      {"nothing listening",
       [] {
         TIdTCPClient client;
         client.Connect("127.0.0.1", testing::UnusedLoopbackPort());
       },
       10061, "Connection refused."},
      {"a name that does not exist, asked of the resolver",
       [] { TIdStack::ResolveHost("vto-no-such-host.example", Id_IPv4); }, 11001,
       "Host not found."},
      {"a peer that sends nothing within the receive time-out",
       [] {
         ScriptedServer server;
         server.Stall();
         Connected c(server, 300);
         const std::int64_t start = IdTicks();
         const std::int32_t n = c.Receive();
         // Milliseconds, not seconds: the time-out ends the receive soon.
         EXPECT_GE(IdTicks() - start, 250);
         EXPECT_LT(IdTicks() - start, 3000);
         server.Release();
         TIdStack::CheckForSocketError(n);
       },
       10060, "Connection timed out."},
      {"a handle that is no socket",
       [] {
         TIdStackUser user;
         bool wouldBlock = false;
         char byte;
         TIdStack::CheckForSocketError(sockets::Receive(12345, &byte, 1, false, wouldBlock));
       },
       10038, "Socket operation on non-socket."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_THAT(c.run, ThrowsSocketError(c.number, "Socket Error # " + std::to_string(c.number) +
                                                       "\r\n" + c.text));
  }
}

// ---------------------------------------------------------------- the library

int gStartups = 0;
int gFailWith = 0;

int CountingStartup(std::uint16_t version) {
  ++gStartups;
  WSADATA data{};
  return ::WSAStartup(version, &data);
}

int FailingStartup(std::uint16_t) {
  ++gStartups;
  return gFailWith;
}

// Puts the real start-up back however the test ends.
struct StartupReplaced {
  explicit StartupReplaced(sockets::StartupCall call) {
    gStartups = 0;
    sockets::SetStartupCall(call);
  }
  ~StartupReplaced() { sockets::SetStartupCall(nullptr); }
};

// Whether Winsock is started in this process: a socket can be made.
bool WinsockStarted() {
  const SOCKET s = ::socket(AF_INET, SOCK_STREAM, 0);
  if (s == INVALID_SOCKET) return false;
  ::closesocket(s);
  return true;
}

TEST(SocketLibrary, StartedForTheFirstUserAndStoppedAfterTheLast) {
  ASSERT_EQ(TIdStack::UsageCount(), 0);
  ASSERT_FALSE(WinsockStarted());
  StartupReplaced replaced(CountingStartup);
  {
    TIdTCPClient client;  // the client, its buffers: several users, one start
    TIdStackUser another;
    EXPECT_EQ(gStartups, 1);
    EXPECT_TRUE(WinsockStarted());
  }
  EXPECT_EQ(TIdStack::UsageCount(), 0);
  EXPECT_FALSE(WinsockStarted());  // cleaned up with the last user
  {
    TIdStackUser again;
    EXPECT_EQ(gStartups, 2);
    EXPECT_TRUE(WinsockStarted());
  }
  EXPECT_FALSE(WinsockStarted());
}

// The system's text for an error number, as FormatMessageW gives it (Wine
// has none for Winsock's start-up numbers; Windows has).
std::string SystemText(int number) {
  wchar_t buffer[512] = {};
  const DWORD n = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, static_cast<DWORD>(number), 0, buffer, 512, nullptr);
  std::string text;
  for (DWORD i = 0; i < n; ++i) {
    if (buffer[i] >= 0x80) return "(not ASCII)";  // compared by its presence alone
    text += static_cast<char>(buffer[i]);
  }
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
    text.pop_back();
  return text;
}

TEST(SocketLibrary, FailedStartUpRaisesStackInitializationFailed) {
  const std::string call = "Error on call to Winsock2 library function WSAStartup";
  for (int failure : {WSASYSNOTREADY, WSAVERNOTSUPPORTED, WSAEPROCLIM}) {
    SCOPED_TRACE(failure);
    gFailWith = failure;
    const std::string text = SystemText(failure);
    {
      StartupReplaced replaced(FailingStartup);
      try {
        TIdTCPClient client;
        ADD_FAILURE() << "the client was made";
      } catch (const EIdStackInitializationFailed& e) {
        const std::string message = e.what();
        if (text == "(not ASCII)") {
          EXPECT_THAT(message, StartsWith(call + ": "));
        } else {
          EXPECT_EQ(message, text.empty() ? call : call + ": " + text);
        }
      }
      EXPECT_EQ(gStartups, 1);
      EXPECT_EQ(TIdStack::UsageCount(), 0);  // no user counted
    }
    // The next user starts the library afresh.
    TIdTCPClient client;
    EXPECT_GT(TIdStack::UsageCount(), 0);
  }
}

// ---------------------------------------------------------------- sockets

TEST(SocketHandle, NotInheritedByStartedPrograms) {
  TIdStackUser user;
  {
    // The system's default, for comparison: a plain socket is inherited.
    const SOCKET plain = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_NE(plain, INVALID_SOCKET);
    DWORD flags = 0;
    ASSERT_TRUE(::GetHandleInformation(reinterpret_cast<HANDLE>(plain), &flags));
    ::closesocket(plain);
    EXPECT_NE(flags & HANDLE_FLAG_INHERIT, 0u);
  }
  for (TIdIPVersion version : {Id_IPv4, Id_IPv6}) {
    TIdSocketHandle handle;
    handle.SetIPVersion(version);
    handle.AllocateSocket();
    DWORD flags = 0;
    ASSERT_TRUE(::GetHandleInformation(reinterpret_cast<HANDLE>(handle.Handle()), &flags));
    EXPECT_EQ(flags & HANDLE_FLAG_INHERIT, 0u);
  }
}

TEST(InternationalNames, ResolverIsAskedForTheAsciiForm) {
  struct Row {
    const char* host;
    const char* ascii;
  };
  for (const Row& r :
       {Row{"b\xC3\xBC"
            "cher.example",
            "xn--bcher-kva.example"},
        Row{"www.m\xC3\xBCnchen.example", "www.xn--mnchen-3ya.example"},
        Row{"download.example.com", "download.example.com"}, Row{"127.0.0.1", "127.0.0.1"}}) {
    std::int32_t error = -1;
    EXPECT_EQ(sockets::AsciiHostName(r.host, error), r.ascii);
    EXPECT_EQ(error, 0) << r.host;
  }
  std::int32_t error = 0;
  EXPECT_EQ(sockets::AsciiHostName("\xFF.example", error), "");  // not UTF-8
  EXPECT_NE(error, 0);
}

}  // namespace
}  // namespace vto
