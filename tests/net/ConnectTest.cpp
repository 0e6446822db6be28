// Tests of net/IdTCPConnection.cpp, net/IdStack.cpp, net/IdSocketPosix.cpp, net/IdIDN.cpp.
// TCP connect, bind and name resolution: host shortcuts, address tests, the
// socket error numbers and texts, port ranges, connect time-out, IPv6.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#if !defined(_WIN32)
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <string>
#include <vector>

#include "net/IdExceptions.h"
#include "net/IdSocketApi.h"
#include "net/IdTCPConnection.h"
#include "tests/support/LoopbackPort.h"
#include "tests/support/ScriptedServer.h"
#include "tests/support/SocketErrorMatchers.h"
#include "tests/support/UnansweredListener.h"

namespace vto {
namespace {

using testing::ScriptedServer;
using ::testing::StrEq;
using ::testing::ThrowsMessage;
using testing::ThrowsSocketError;

// ---------------------------------------------------------------- addresses

TEST(AddressTests, DottedIPv4) {
  EXPECT_TRUE(TIdStack::IsIP("10.0.0.1"));
  EXPECT_TRUE(TIdStack::IsIP("255.255.255.255"));
  EXPECT_TRUE(TIdStack::IsIP(" 10. 0 .0.1 "));
  EXPECT_FALSE(TIdStack::IsIP("10.0.0"));
  EXPECT_FALSE(TIdStack::IsIP("10.0.0.1.5"));
  EXPECT_FALSE(TIdStack::IsIP("256.1.1.1"));
  EXPECT_FALSE(TIdStack::IsIP("1..1.1"));
  EXPECT_FALSE(TIdStack::IsIP("a.b.c.d"));
  EXPECT_FALSE(TIdStack::IsIP("-1.0.0.0"));
  EXPECT_FALSE(TIdStack::IsIP(""));
}

TEST(AddressTests, IPv6CanonicalForm) {
  EXPECT_EQ(MakeCanonicalIPv6Address("::1"), "0:0:0:0:0:0:0:1");
  EXPECT_EQ(MakeCanonicalIPv6Address("::"), "0:0:0:0:0:0:0:0");
  EXPECT_EQ(MakeCanonicalIPv6Address("fe80::0a:00FF"), "FE80:0:0:0:0:0:A:FF");
  EXPECT_EQ(MakeCanonicalIPv6Address("2001:db8:0:0:1:0:0:1"), "2001:DB8:0:0:1:0:0:1");
  EXPECT_EQ(MakeCanonicalIPv6Address("1::"), "1:0:0:0:0:0:0:0");
  EXPECT_EQ(MakeCanonicalIPv6Address("::ffff:1.2.3.4"), "0:0:0:0:0:FFFF:0102:0304");
  EXPECT_EQ(MakeCanonicalIPv6Address("1:2:3:4:5:6:7:8"), "1:2:3:4:5:6:7:8");
  EXPECT_EQ(MakeCanonicalIPv6Address("1:2:3::5:6:7:8"), "1:2:3:0:5:6:7:8");
}

TEST(AddressTests, TextsThatAreNotIPv6Literals) {
  for (const char* bad :
       {"", "1", "1:2", "1::2::3", ":::", "1:2:3:4:5:6:7:8:9", "12345::1", "g::1", "::1.2.3",
        "::1.2.3.256", "::ff:1.2.3.a", "1:2:3:4:5:6:7:1.2.3.4", "localhost", "10.0.0.1", "[::1]"}) {
    EXPECT_EQ(MakeCanonicalIPv6Address(bad), "") << bad;
    EXPECT_FALSE(IsValidIPv6(bad)) << bad;
  }
}

// ---------------------------------------------------------------- resolution

TEST(Resolution, LocalhostNeedsNoResolver) {
  EXPECT_EQ(TIdStack::ResolveHost("localhost", Id_IPv4), "127.0.0.1");
  EXPECT_EQ(TIdStack::ResolveHost("LocalHost", Id_IPv4), "127.0.0.1");
  // The system's host table has no IPv6 "localhost": only the shortcut answers.
  EXPECT_EQ(TIdStack::ResolveHost("LOCALHOST", Id_IPv6), "::1");
}

TEST(Resolution, LiteralsAreUsedAsWritten) {
  EXPECT_EQ(TIdStack::ResolveHost("10.1.2.3", Id_IPv4), "10.1.2.3");
  EXPECT_EQ(TIdStack::ResolveHost("fe80::1", Id_IPv6), "FE80:0:0:0:0:0:0:1");
}

TEST(Resolution, NameUnderInvalidDoesNotExist) {
  for (const char* name : {"no-such-host.invalid", "Deep.Name.INVALID.",
                           "b\xC3\xBC"
                           "cher.invalid"}) {
    ASSERT_THAT([&] { TIdStack::ResolveHost(name, Id_IPv4); },
                ThrowsSocketError(11001, "Socket Error # 11001\r\nHost not found."))
        << name;
  }
}

TEST(Resolution, OtherTextsGoToTheResolver) {
  // Not a dotted quad by the address test, so the resolver reads it (as a
  // numeric address: no server is asked).
  EXPECT_FALSE(TIdStack::IsIP("127.1"));
  EXPECT_EQ(TIdStack::ResolveHost("127.1", Id_IPv4), "127.0.0.1");
}

TEST(Resolution, UnsupportedVersionRaises) {
  ASSERT_THAT([] { TIdStack::ResolveHost("localhost", static_cast<TIdIPVersion>(7)); },
              ThrowsMessage<EIdIPVersionUnsupported>(
                  StrEq("The requested IPVersion / Address family is not supported.")));
}

TEST(Resolution, ResolverResultsMapToSocketNumbers) {
  EXPECT_EQ(sockets::MapResolverError(EAI_NONAME), 11001);
  EXPECT_EQ(sockets::MapResolverError(EAI_AGAIN), 11002);
  EXPECT_EQ(sockets::MapResolverError(EAI_FAIL), 11003);
  EXPECT_EQ(sockets::MapResolverError(EAI_NODATA), 11004);
  EXPECT_EQ(sockets::MapResolverError(EAI_BADFLAGS), 10022);
  EXPECT_EQ(sockets::MapResolverError(EAI_FAMILY), 10047);
  EXPECT_EQ(sockets::MapResolverError(EAI_SOCKTYPE), 10044);
  EXPECT_EQ(sockets::MapResolverError(EAI_SERVICE), 10109);
  EXPECT_EQ(sockets::MapResolverError(EAI_MEMORY), 8);
}

// ---------------------------------------------------------------- error texts

#if !defined(_WIN32)
// errno has no meaning on Windows: Winsock's own numbers are the table's.
TEST(SocketErrors, ErrnoMapsToTheTableRows) {
  EXPECT_EQ(sockets::MapError(ECONNREFUSED), 10061);
  EXPECT_EQ(sockets::MapError(ECONNRESET), 10054);
  EXPECT_EQ(sockets::MapError(ECONNABORTED), 10053);
  EXPECT_EQ(sockets::MapError(EPIPE), 10058);
  EXPECT_EQ(sockets::MapError(ETIMEDOUT), 10060);
  EXPECT_EQ(sockets::MapError(EAGAIN), 10060);
  EXPECT_EQ(sockets::MapError(EHOSTUNREACH), 10065);
  EXPECT_EQ(sockets::MapError(ENOTSOCK), 10038);
}
#endif

TEST(SocketErrors, MessageCarriesNumberAndText) {
  EXPECT_THAT([] { TIdStack::RaiseSocketError(10060); },
              ThrowsSocketError(10060, "Socket Error # 10060\r\nConnection timed out."));
  // Not in the table: empty text.
  EXPECT_THAT([] { TIdStack::RaiseSocketError(12345); },
              ThrowsMessage<EIdSocketError>(StrEq("Socket Error # 12345\r\n")));
  EXPECT_THROW(TIdStack::RaiseSocketError(10038), EIdNotASocket);
}

TEST(SocketErrors, CheckingFormReturnsTheFourEndOfConnectionNumbers) {
  for (std::int32_t n : {10053, 10054, 10058, 10060}) {
    TIdStack::WSSetLastError(n);
    EXPECT_EQ(TIdStack::CheckForSocketError(-1, {10053, 10054, 10058, 10060}), n);
  }
  TIdStack::WSSetLastError(10061);
  EXPECT_THROW(TIdStack::CheckForSocketError(-1, {10053, 10054, 10058, 10060}), EIdSocketError);
  EXPECT_EQ(TIdStack::CheckForSocketError(7), 7);
}

// ---------------------------------------------------------------- connect

TEST(ClientConnect, LocalhostInAnyCaseReachesTheLoopback) {
  for (const char* host : {"localhost", "LocalHost"}) {
    ScriptedServer server;
    server.Send("hi\n").Close();
    server.Start();
    TIdTCPClient client;
    client.Connect(host, server.Port());
    EXPECT_TRUE(client.Connected());
    auto* socket = client.Socket();
    ASSERT_NE(socket, nullptr);
    EXPECT_EQ(socket->Binding()->PeerIP(), "127.0.0.1");
    EXPECT_EQ(socket->Binding()->PeerPort(), server.Port());
    EXPECT_EQ(socket->Binding()->IP(), "127.0.0.1");
    EXPECT_NE(socket->Binding()->Port(), 0);
    EXPECT_EQ(client.IOHandler()->ReadLn(), "hi");
    client.Disconnect();
    EXPECT_FALSE(client.Connected());
  }
}

TEST(ClientConnect, DottedAddressWithBlanksAndLeadingZeros) {
  ScriptedServer server;
  server.Send("ok\n").Close();
  server.Start();
  TIdTCPClient client;
  client.Connect(" 127.000.0.01 ", server.Port());
  EXPECT_EQ(client.Socket()->Binding()->PeerIP(), "127.0.0.1");
  EXPECT_EQ(client.IOHandler()->ReadLn(), "ok");
}

TEST(ClientConnect, NothingListeningGivesConnectionRefused) {
  TIdTCPClient client;
  client.SetHost("127.0.0.1");
  client.SetPort(testing::UnusedLoopbackPort());
  ASSERT_THAT([&] { client.Connect(); },
              ThrowsSocketError(10061, "Socket Error # 10061\r\nConnection refused."));
  EXPECT_FALSE(client.Connected());
}

TEST(ClientConnect, UnknownHostGivesHostNotFound) {
  TIdTCPClient client;
  ASSERT_THAT([&] { client.Connect("download.example.invalid", 443); },
              ThrowsSocketError(11001, "Socket Error # 11001\r\nHost not found."));
  EXPECT_FALSE(client.Connected());
}

TEST(ClientConnect, HostPortAndStateChecks) {
  TIdTCPClient client;
  ASSERT_THAT([&] { client.Connect(); },
              ThrowsMessage<EIdHostRequired>(StrEq("A Host is required")));
  client.SetHost("127.0.0.1");
  ASSERT_THAT([&] { client.Connect(); },
              ThrowsMessage<EIdPortRequired>(StrEq("A Port is required")));
  ScriptedServer server;
  server.Stall();
  server.Start();
  client.SetPort(server.Port());
  client.Connect();
  ASSERT_THAT([&] { client.Connect(); },
              ThrowsMessage<EIdAlreadyConnected>(StrEq("Already connected.")));
  server.Release();
}

TEST(ClientConnect, InvertedPortRangeRaises) {
  ScriptedServer server;
  TIdTCPClient client;
  client.SetBoundPortMin(5000);
  client.SetBoundPortMax(4000);
  ASSERT_THAT([&] { client.Connect("127.0.0.1", server.Port()); },
              ThrowsMessage<EIdInvalidPortRange>(StrEq("Invalid Port Range (5000 - 4000)")));
  EXPECT_FALSE(client.Connected());
}

TEST(ClientConnect, PortRangeBindsFromTheTopDown) {
  ScriptedServer server;
  server.Stall();
  server.Start();
  std::uint16_t port = testing::UnusedLoopbackPort();
  TIdTCPClient client;
  client.SetBoundIP("127.0.0.1");
  client.SetBoundPortMin(port);
  client.SetBoundPortMax(port);
  client.Connect("127.0.0.1", server.Port());
  EXPECT_EQ(client.Socket()->Binding()->Port(), port);
  client.Disconnect();
  server.Release();
}

TEST(ClientConnect, BusyBoundPortCannotBeBound) {
  ScriptedServer server;  // its listening port is busy
  TIdTCPClient client;
  client.SetBoundIP("127.0.0.1");
  client.SetBoundPort(server.Port());
  ASSERT_THAT([&] { client.Connect("127.0.0.1", server.Port()); },
              ThrowsMessage<EIdCouldNotBindSocket>(
                  StrEq("Could not bind socket. Address and port are already in use.")));
  client.SetBoundPort(0);
  client.SetBoundPortMin(server.Port());
  client.SetBoundPortMax(server.Port());
  std::string expected = "Can not bind in port range (" + std::to_string(server.Port()) + " - " +
                         std::to_string(server.Port()) + ")";
  ASSERT_THAT([&] { client.Connect("127.0.0.1", server.Port()); },
              ThrowsMessage<EIdCanNotBindPortInRange>(StrEq(expected)));
}

TEST(ClientConnect, NagleStaysOnUnlessSwitchedOff) {
  ScriptedServer server;
  server.Stall().NextConnection().Stall();
  server.Start();
  TIdTCPClient client;
  client.Connect("127.0.0.1", server.Port());
  EXPECT_TRUE(client.UseNagle());
  client.Disconnect();
  client.SetUseNagle(false);
  client.Connect();
  int nodelay = 0;
  socklen_t len = sizeof nodelay;
#if defined(_WIN32)
  getsockopt(static_cast<SOCKET>(client.Socket()->Binding()->Handle()), IPPROTO_TCP, TCP_NODELAY,
             reinterpret_cast<char*>(&nodelay), &len);
#else
  getsockopt(client.Socket()->Binding()->Handle(), IPPROTO_TCP, 1 /* TCP_NODELAY */, &nodelay,
             &len);
#endif
  EXPECT_NE(nodelay, 0);
  client.Disconnect();
  server.Release();
  server.Release();
}

TEST(ClientConnect, ConnectTimeoutAgainstAFullBacklog) {
  // A listener whose accept queue is full never answers a further SYN.
  testing::UnansweredListener listener;

  TIdIOHandlerStack handler;
  TIdTCPClient client;
  client.SetIOHandler(&handler);
  client.SetConnectTimeout(500);
  const std::int64_t start = IdTicks();
  ASSERT_THAT([&] { client.Connect("127.0.0.1", listener.Port()); },
              ThrowsMessage<EIdConnectTimeout>(StrEq("Connect timed out.")));
  // About the time given, at most one slice of the wait later.
  EXPECT_GE(IdTicks() - start, 450);
  EXPECT_LT(IdTicks() - start, 1500);
  EXPECT_FALSE(client.Connected());
  EXPECT_FALSE(handler.BindingAllocated());  // the socket was closed
  EXPECT_FALSE(handler.Opened());
}

TEST(ClientConnect, ConnectTimeoutStillConnectsAnAnsweringServer) {
  ScriptedServer server;
  server.Send("ok\n").Close();
  server.Start();
  TIdTCPClient client;
  client.SetConnectTimeout(5000);
  client.Connect("127.0.0.1", server.Port());
  EXPECT_EQ(client.IOHandler()->ReadLn(), "ok");
}

TEST(ClientConnect, IPv6LiteralConnectsOverIPv6) {
  ScriptedServer::Options options;
  options.ipv6 = true;
  ScriptedServer server(options);
  server.Send("six\n").Close();
  server.Start();
  TIdTCPClient client;
  client.SetIPVersion(Id_IPv6);
  client.Connect("::1", server.Port());
  EXPECT_EQ(client.Socket()->Binding()->PeerIP(), "0:0:0:0:0:0:0:1");
  EXPECT_EQ(client.IOHandler()->ReadLn(), "six");
}

TEST(ClientConnect, StackCountFollowsTheNetworkObjects) {
  std::int32_t before = TIdStack::UsageCount();
  {
    TIdTCPClient client;
    TIdIOHandlerStack handler;  // the handler and its input buffer count too
    EXPECT_GE(TIdStack::UsageCount(), before + 3);
  }
  EXPECT_EQ(TIdStack::UsageCount(), before);
}

TEST(SocketHandle, ClosingTwiceOrNeverAllocatedDoesNothing) {
  TIdStackUser stack;  // a handle alone does not start the socket library
  TIdSocketHandle never;
  never.CloseSocket();
  EXPECT_FALSE(never.HandleAllocated());
  TIdSocketHandle handle;
  handle.AllocateSocket();
  EXPECT_TRUE(handle.HandleAllocated());
  EXPECT_EQ(handle.SocketType(), SOCK_STREAM);
  handle.CloseSocket();
  handle.CloseSocket();
  EXPECT_FALSE(handle.HandleAllocated());
}

TEST(SocketHandle, VersionCannotChangeWhileAllocated) {
  TIdStackUser stack;
  TIdSocketHandle handle;
  handle.AllocateSocket();
  ASSERT_THAT([&] { handle.SetIPVersion(Id_IPv6); },
              ThrowsMessage<EIdCannotSetIPVersionWhenConnected>(
                  StrEq("Cannot change IPVersion when connected")));
}

TEST(SocketHandle, ReadableWithZeroReturnsAtOnce) {
  ScriptedServer server;
  server.Stall().Send("x").Stall();
  server.Start();
  TIdIOHandlerStack io;
  io.SetHost("127.0.0.1");
  io.SetPort(server.Port());
  io.Open();
  EXPECT_FALSE(io.Readable(0));
  server.Release();
  EXPECT_TRUE(io.Readable(-1));
  server.Release();
}

}  // namespace
}  // namespace vto

#if !defined(_WIN32)
#include <fcntl.h>
#endif

#include "net/IdIDN.h"

namespace vto {
namespace {

TEST(InternationalNames, PunycodeAsPythonsCodecWritesIt) {
  // Expected values from Python's "punycode" codec (RFC 3492).
  EXPECT_EQ(PunycodeEncode("b\xC3\xBC"
                           "cher"),
            "bcher-kva");
  EXPECT_EQ(PunycodeEncode("m\xC3\xBCnchen"), "mnchen-3ya");
  EXPECT_EQ(PunycodeEncode("espa\xC3\xB1"
                           "a"),
            "espaa-rta");
  EXPECT_EQ(PunycodeEncode("\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E"), "wgv71a119e");
  EXPECT_EQ(PunycodeEncode("\xCF\x80\xCE\xB1\xCF\x81\xCE\xAC\xCE\xB4\xCE\xB5\xCE\xB9\xCE\xB3\xCE"
                           "\xBC\xCE\xB1"),
            "hxajbheg2az3al");
  EXPECT_EQ(PunycodeEncode("\xD0\xBF\xD1\x80\xD0\xB8\xD0\xBC\xD0\xB5\xD1\x80"), "e1afmkfd");
  EXPECT_EQ(PunycodeEncode("\xC3\xBC"), "tda");
  EXPECT_EQ(PunycodeEncode("a\xC3\xA9"), "a-bga");
  EXPECT_EQ(PunycodeEncode("\xFF"), "");  // not UTF-8
}

TEST(InternationalNames, HostLabelsBecomeALabels) {
  EXPECT_EQ(HostToAscii("www.B\xC3\x9C"
                        "CHER.example"),
            "www.xn--bcher-kva.example");
  EXPECT_EQ(HostToAscii("download.example.com"), "download.example.com");
  EXPECT_EQ(HostToAscii("\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\xE3\x80\x82jp"), "xn--wgv71a119e.jp");
  EXPECT_EQ(HostToAscii("127.0.0.1"), "127.0.0.1");
  EXPECT_EQ(HostToAscii(std::string(70, 'a') + "\xC3\xBC.example"), "");  // label too long
}

TEST(ClientConnect, DisconnectNotifiesAndGracefulCheckRaisesWithoutHandler) {
  TIdTCPConnection bare;
  ASSERT_THAT([&] { bare.CheckForGracefulDisconnect(true); },
              ThrowsMessage<EIdException>(StrEq("Not Connected")));
  EXPECT_NO_THROW(bare.CheckForGracefulDisconnect(false));

  ScriptedServer server;
  server.Send("x").Close();
  server.Start();
  TIdTCPClient client;
  int disconnected = 0;
  client.OnDisconnected = [&] { ++disconnected; };
  client.Connect("127.0.0.1", server.Port());
  server.Join();
  client.CheckForGracefulDisconnect(false);  // unread "x": no raise either way
  EXPECT_NO_THROW(client.CheckForGracefulDisconnect(true));
  client.Disconnect();
  client.Disconnect();  // already closed: no second notice
  EXPECT_EQ(disconnected, 1);
}

#if !defined(_WIN32)
// Descriptor numbers are a POSIX matter: a Windows socket set holds handles,
// whatever their values.
TEST(SocketHandle, DescriptorsAbove1024AreWaitedOn) {
  // Readability waits must work for any descriptor number.
  std::vector<int> spare;
  int fd;
  while ((fd = ::open("/dev/null", O_RDONLY)) >= 0 && fd < 1100) spare.push_back(fd);
  if (fd >= 0) spare.push_back(fd);
  ScriptedServer server;
  server.Pause(100).Send("high\n").Close();
  server.Start();
  TIdIOHandlerStack io;
  io.SetHost("127.0.0.1");
  io.SetPort(server.Port());
  io.Open();
  EXPECT_GT(io.Binding()->Handle(), 1024);
  EXPECT_FALSE(io.Readable(0));
  EXPECT_EQ(io.ReadLn(), "high");
  io.Close();
  for (int f : spare) ::close(f);
}
#endif

}  // namespace
}  // namespace vto

namespace vto {
namespace {

TEST(ClientConnect, HandlerFreedBeforeTheClientIsForgotten) {
  ScriptedServer server;
  server.Stall();
  server.Start();
  TIdTCPClient client;
  auto handler = std::make_unique<TIdIOHandlerStack>();
  client.SetIOHandler(handler.get());
  client.Connect("127.0.0.1", server.Port());
  handler.reset();  // freed by its creator while the client still refers to it
  EXPECT_EQ(client.IOHandler(), nullptr);
  EXPECT_EQ(client.Socket(), nullptr);
  EXPECT_FALSE(client.Connected());
  client.Disconnect();
  server.Release();
}  // destroying the client touches no freed handler

}  // namespace
}  // namespace vto
