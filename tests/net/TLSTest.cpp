// Tests of net/IdSSLOpenSSL.cpp and net/IdSSLOpenSSLBinding.cpp.
// The TLS handler against real peers started here ("openssl s_server") and
// the scripted TLS server: versions, certificates that are not verified, the
// server name, failing handshakes, peers that vanish; the version settings;
// the error rules of the OpenSSL binding.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#if !defined(_WIN32)
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "net/IdExceptions.h"
#include "net/IdSSLOpenSSL.h"
#include "net/IdTCPConnection.h"
#include "streams/Streams.h"
#include "tests/support/OpenSSLServer.h"
#include "tests/support/ScriptedServer.h"
#include "tests/support/SocketErrorMatchers.h"
#include "tests/support/SocketTimeoutGuard.h"
#include "tests/support/TestCertificates.h"
#include "tests/support/UnansweredListener.h"

namespace vto {
namespace {

using ::testing::AllOf;
using testing::CertificateFiles;
using testing::CertificateValidity;
using testing::OpenSSLServer;
using ::testing::Property;
using testing::ScriptedServer;
using ::testing::StrEq;
using testing::TempFolder;
using ::testing::Throws;
using ::testing::ThrowsMessage;
using testing::ThrowsSocketError;
using testing::WithMessage;

// The message of the connect step's error for a peer that closes without a TLS close.
const char kEofOnConnect[] =
    "Error connecting with SSL.\r\nEOF was observed that violates the protocol";
const char kCouldNotLoad[] = "Could not load SSL library.";

// An error of the TLS library's calls with that message, error code and return code.
auto IsSSLError(const std::string& message, int code, int ret) {
  return AllOf(WithMessage(StrEq(message)),
               Property("ErrorCode", &EIdOpenSSLAPISSLError::ErrorCode, code),
               Property("RetCode", &EIdOpenSSLAPISSLError::RetCode, ret));
}

class Certificates {
 public:
  Certificates() {
    current = MakeSelfSignedCertificate(folder.Path(), "current", "localhost",
                                        CertificateValidity::Current);
    expired = MakeSelfSignedCertificate(folder.Path(), "expired", "localhost",
                                        CertificateValidity::Expired);
    otherHost = MakeSelfSignedCertificate(folder.Path(), "other", "other-host.example",
                                          CertificateValidity::Current);
  }
  TempFolder folder;
  CertificateFiles current, expired, otherHost;
};

Certificates& Certs() {
  static Certificates certificates;
  return certificates;
}

// The settings the launcher makes: TLS 1.2 as method, then the version set of
// "any version".
void LauncherSettings(TIdSSLIOHandlerSocketOpenSSL& handler) {
  handler.SSLOptions().SetMethod(sslvTLSv1_2);
  handler.SSLOptions().SetSSLVersions({sslvSSLv23});
}

ScriptedServer::Options TlsOptions(const CertificateFiles& files, int minVersion = 0,
                                   int maxVersion = 0) {
  ScriptedServer::Options o;
  o.tls = true;
  o.certFile = files.certFile;
  o.keyFile = files.keyFile;
  o.tlsMinVersion = minVersion;
  o.tlsMaxVersion = maxVersion;
  return o;
}

std::string Text(TMemoryStream& m) {
  return std::string(m.Memory(), static_cast<std::size_t>(m.Size()));
}

std::int64_t Since(std::int64_t start) {
  return IdTicks() - start;
}

bool StartsWith(const std::string& s, const std::string& prefix) {
  return s.compare(0, prefix.size(), prefix) == 0;
}

// ---------------------------------------------------------------- real peers

struct PeerCase {
  const char* versionFlag;
  const char* versionText;
  CertificateFiles Certificates::*certificate;
  const char* name;
};

class OpenSSLPeer : public ::testing::TestWithParam<PeerCase> {};

TEST_P(OpenSSLPeer, HandshakeCompletesAndBytesFlowBothWays) {
  const PeerCase& c = GetParam();
  const CertificateFiles& files = Certs().*(c.certificate);
  TempFolder logs;
  OpenSSLServer server(
      {"-cert", files.certFile, "-key", files.keyFile, c.versionFlag, "-rev", "-tlsextdebug"},
      logs.Path() + "/s_server.log");

  TIdSSLIOHandlerSocketOpenSSL tls;
  LauncherSettings(tls);
  tls.SetPassThrough(false);
  tls.SetURIToCheck("https://download.example.test:" + std::to_string(server.Port()) + "/app.jnlp");
  TIdTCPClient client;
  client.SetIOHandler(&tls);
  client.Connect("127.0.0.1", server.Port());
  ASSERT_NE(tls.SSLSocket(), nullptr);
  EXPECT_EQ(tls.SSLSocket()->Cipher().Version(), c.versionText);

  tls.WriteLn("hello world");
  EXPECT_EQ(tls.ReadLn(), "dlrow olleh");
  EXPECT_TRUE(server.WaitForOutput(std::string("Protocol version: ") + c.versionText, 3000))
      << server.Output();
  // The server name arrived as sent: the URL's host, not the address dialled.
  EXPECT_EQ(testing::ServerNameFromExtensionDump(server.Output()), "download.example.test");
  client.Disconnect();
  EXPECT_FALSE(client.Connected());
}

INSTANTIATE_TEST_SUITE_P(
    VersionsAndCertificates, OpenSSLPeer,
    ::testing::Values(PeerCase{"-tls1_2", "TLSv1.2", &Certificates::current, "Tls12SelfSigned"},
                      PeerCase{"-tls1_2", "TLSv1.2", &Certificates::expired, "Tls12Expired"},
                      PeerCase{"-tls1_2", "TLSv1.2", &Certificates::otherHost, "Tls12OtherHost"},
                      PeerCase{"-tls1_3", "TLSv1.3", &Certificates::current, "Tls13SelfSigned"},
                      PeerCase{"-tls1_3", "TLSv1.3", &Certificates::expired, "Tls13Expired"},
                      PeerCase{"-tls1_3", "TLSv1.3", &Certificates::otherHost, "Tls13OtherHost"}),
    [](const ::testing::TestParamInfo<PeerCase>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------- scripted TLS server

std::unique_ptr<TIdTCPClient> ConnectTls(ScriptedServer& server, TIdSSLIOHandlerSocketOpenSSL& tls,
                                         const std::string& uri = "",
                                         const std::string& host = "127.0.0.1",
                                         TIdIPVersion version = Id_IPv4) {
  server.Start();
  tls.SetPassThrough(false);
  tls.SetURIToCheck(uri);
  auto client = std::make_unique<TIdTCPClient>();
  client->SetIOHandler(&tls);
  client->SetIPVersion(version);
  client->Connect(host, server.Port());
  return client;
}

TEST(TlsServerName, AddressLiteralsGoOutWithoutAName) {
  // An address is no server name: none is sent, for either family.
  for (bool ipv6 : {false, true}) {
    ScriptedServer::Options o = TlsOptions(Certs().current);
    o.ipv6 = ipv6;
    ScriptedServer server(o);
    server.Send("x\n").Close();
    TIdSSLIOHandlerSocketOpenSSL tls;
    LauncherSettings(tls);
    const std::string host = ipv6 ? "::1" : "127.0.0.1";
    const std::string uri = std::string("https://") + (ipv6 ? "[::1]" : "127.0.0.1") + ":" +
                            std::to_string(server.Port()) + "/";
    auto client = ConnectTls(server, tls, uri, host, ipv6 ? Id_IPv6 : Id_IPv4);
    EXPECT_EQ(tls.ReadLn(), "x");
    server.Join();
    EXPECT_EQ(server.ServerName(), "");
    EXPECT_EQ(server.Error(), "");
  }
  // A server that refuses a name it does not serve reaches the handshake's end
  // over an address of either family, and over its own name.
  TempFolder logs;
  testing::GnuTLSServer peer(
      {"--http", "--sni-hostname=localhost", "--sni-hostname-fatal",
       "--x509certfile=" + Certs().current.certFile, "--x509keyfile=" + Certs().current.keyFile},
      logs.Path() + "/gnutls-serv.log");
  const std::string port = std::to_string(peer.Port());
  struct Target {
    const char* uri;
    const char* host;
    TIdIPVersion version;
  };
  for (const Target& t : {Target{"https://127.0.0.1:", "127.0.0.1", Id_IPv4},
                          Target{"https://[::1]:", "::1", Id_IPv6},
                          Target{"https://localhost:", "localhost", Id_IPv4}}) {
    SCOPED_TRACE(t.uri);
    TIdSSLIOHandlerSocketOpenSSL tls;
    LauncherSettings(tls);
    tls.SetPassThrough(false);
    tls.SetURIToCheck(t.uri + port + "/");
    TIdTCPClient client;
    client.SetIOHandler(&tls);
    client.SetIPVersion(t.version);
    ASSERT_NO_THROW(client.Connect(t.host, peer.Port())) << peer.Output();
    tls.WriteLn("GET / HTTP/1.0");
    tls.WriteLn();
    EXPECT_TRUE(StartsWith(tls.ReadLn(), "HTTP/1.0 200")) << peer.Output();
    client.Disconnect();
  }
}

TEST(TlsServerName, HandlerHostWhenThereIsNoUri) {
  ScriptedServer server(TlsOptions(Certs().current));
  server.Send("x\n").Close();
  TIdSSLIOHandlerSocketOpenSSL tls;
  LauncherSettings(tls);
  auto client = ConnectTls(server, tls, "", "localhost");
  EXPECT_EQ(tls.ReadLn(), "x");
  server.Join();
  EXPECT_EQ(server.ServerName(), "localhost");
}

TEST(TlsVersions, TlsOnePointThreeOnlyServerIsReached) {
  ScriptedServer server(TlsOptions(Certs().current, TLS1_3_VERSION, TLS1_3_VERSION));
  server.Send("three\n").Close();
  TIdSSLIOHandlerSocketOpenSSL tls;
  LauncherSettings(tls);
  auto client = ConnectTls(server, tls);
  EXPECT_EQ(tls.ReadLn(), "three");
  server.Join();
  EXPECT_EQ(server.Protocol(), "TLSv1.3");
}

TEST(TlsVersions, FixedTlsOnePointTwoIsHeldToIt) {
  ScriptedServer server(TlsOptions(Certs().current));
  server.Send("two\n").Close();
  TIdSSLIOHandlerSocketOpenSSL tls;
  tls.SSLOptions().SetMethod(sslvTLSv1_2);
  auto client = ConnectTls(server, tls);
  EXPECT_EQ(tls.ReadLn(), "two");
  server.Join();
  EXPECT_EQ(server.Protocol(), "TLSv1.2");
}

TEST(TlsVersions, FixedTlsOnePointTwoFailsAgainstATlsOnePointThreeOnlyServer) {
  ScriptedServer server(TlsOptions(Certs().current, TLS1_3_VERSION, TLS1_3_VERSION));
  server.Start();
  TIdSSLIOHandlerSocketOpenSSL tls;
  tls.SSLOptions().SetMethod(sslvTLSv1_2);
  tls.SetPassThrough(false);
  TIdTCPClient client;
  client.SetIOHandler(&tls);
  ASSERT_THAT([&] { client.Connect("127.0.0.1", server.Port()); },
              ThrowsMessage<EIdOSSLUnderlyingCryptoError>(
                  ::testing::StartsWith("Error connecting with SSL.\r\nerror:")));
  EXPECT_FALSE(client.Connected());
  EXPECT_EQ(tls.SSLSocket(), nullptr);
  EXPECT_EQ(tls.SSLContext(), nullptr);
}

TEST(TlsVersions, EmptyVersionSetCannotHandshake) {
  ScriptedServer server(TlsOptions(Certs().current));
  server.Start();
  TIdSSLIOHandlerSocketOpenSSL tls;
  tls.SSLOptions().SetSSLVersions({});
  tls.SetPassThrough(false);
  TIdTCPClient client;
  client.SetIOHandler(&tls);
  // TLS 1.3 is outside the version set and stays; everything the set names is off.
  ScriptedServer server12(TlsOptions(Certs().current, TLS1_2_VERSION, TLS1_2_VERSION));
  server12.Start();
  EXPECT_THROW(client.Connect("127.0.0.1", server12.Port()), EIdOpenSSLError);
  EXPECT_FALSE(client.Connected());
}

TEST(TlsHandshakeFailures, ServerClosingMidHandshake) {
  ScriptedServer server(TlsOptions(Certs().current));
  server.NoHandshake().Expect(5).Close().NextConnection().Send("again\n").Close();
  server.Start();
  TIdSSLIOHandlerSocketOpenSSL tls;
  LauncherSettings(tls);
  tls.SetPassThrough(false);
  TIdTCPClient client;
  client.SetIOHandler(&tls);
  ASSERT_THAT([&] { client.Connect("127.0.0.1", server.Port()); },
              Throws<EIdOSSLConnectError>(IsSSLError(kEofOnConnect, SSL_ERROR_SYSCALL, 0)));
  EXPECT_FALSE(client.Connected());
  // The handler connects again afterwards, with a fresh context.
  client.Connect("127.0.0.1", server.Port());
  EXPECT_EQ(tls.ReadLn(), "again");
}

TEST(TlsHandshakeFailures, RejectedCipherList) {
  ScriptedServer server(TlsOptions(Certs().current));
  server.Start();
  TIdSSLIOHandlerSocketOpenSSL tls;
  tls.SSLOptions().SetCipherList("NO-SUCH-CIPHER");
  tls.SetPassThrough(false);
  TIdTCPClient client;
  client.SetIOHandler(&tls);
  ASSERT_THAT([&] { client.Connect("127.0.0.1", server.Port()); },
              ThrowsMessage<EIdOSSLSettingCipherError>(StrEq("SetCipher failed.")));
  EXPECT_FALSE(client.Connected());
}

TEST(TlsData, LinesAndStreamsThroughTheSession) {
  ScriptedServer server(TlsOptions(Certs().current));
  std::string body(300000, '\0');
  for (std::size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>(i * 13 + 1);
  server.ExpectUntil("\r\n\r\n").Send("HTTP/1.1 200 OK\r\n\r\n").Send(body).Close();
  TIdSSLIOHandlerSocketOpenSSL tls;
  LauncherSettings(tls);
  auto client = ConnectTls(server, tls);
  tls.WriteBufferOpen();
  tls.WriteLn("GET / HTTP/1.1");
  tls.WriteLn();
  tls.WriteBufferClose();
  EXPECT_EQ(tls.ReadLn(), "HTTP/1.1 200 OK");
  EXPECT_EQ(tls.ReadLn(), "");
  TMemoryStream s;
  tls.ReadStream(&s, static_cast<std::int64_t>(body.size()));
  EXPECT_EQ(Text(s), body);
  server.Join();
  EXPECT_EQ(server.Received(), "GET / HTTP/1.1\r\n\r\n");
}

TEST(TlsData, EndWithoutCloseNotificationIsAnOrderlyEnd) {
  ScriptedServer server(TlsOptions(Certs().current));
  server.Send(std::string(50000, 'n')).CloseWithoutNotify();
  TIdSSLIOHandlerSocketOpenSSL tls;
  LauncherSettings(tls);
  auto client = ConnectTls(server, tls);
  TMemoryStream s;
  EXPECT_NO_THROW(tls.ReadStream(&s, -1, true));
  EXPECT_EQ(s.Size(), 50000);
  EXPECT_FALSE(tls.Connected());
}

TEST(TlsData, DecryptedBytesHeldByTheSessionAreReadable) {
  ScriptedServer server(TlsOptions(Certs().current));
  server.Send("abcdefghijkl\n").Stall();
  TIdSSLIOHandlerSocketOpenSSL tls;
  LauncherSettings(tls);
  auto client = ConnectTls(server, tls);
  tls.SetRecvBufferSize(4);  // one record, several reads; the socket stays quiet
  EXPECT_EQ(tls.ReadLn("\n", 3000), "abcdefghijkl");
  EXPECT_FALSE(tls.ReadLnTimedout());
  server.Release();
}

TEST(TlsPeerGone, ResetAfterTheHandshakeDoesNotKillTheProcess) {
  ScriptedServer server(TlsOptions(Certs().current));
  server.Reset();
  TIdSSLIOHandlerSocketOpenSSL tls;
  LauncherSettings(tls);
  auto client = ConnectTls(server, tls);
  server.Join();
  std::string block(65536, 'w');
  EXPECT_THROW(
      {
        for (int i = 0; i < 100; ++i) tls.Write(std::string_view(block));
      },
      EIdException);
  EXPECT_THROW(tls.ReadLn(), EIdException);
  client->Disconnect();  // sends nothing more into the reset connection
  EXPECT_FALSE(client->Connected());
}

TEST(TlsPeerGone, ResetNoticedByAReadThenClosing) {
  // The read takes the reset; closing then sends the close notification into
  // a connection that is gone, which must fail quietly.
  ScriptedServer server(TlsOptions(Certs().current));
  server.Reset();
  TIdSSLIOHandlerSocketOpenSSL tls;
  LauncherSettings(tls);
  auto client = ConnectTls(server, tls);
  server.Join();
  EXPECT_THROW(tls.ReadLn(), EIdException);
  client->Disconnect();
  EXPECT_FALSE(client->Connected());
}

#if !defined(_WIN32)
// A descriptor number that comes back for the next file is POSIX's rule;
// socketpair and poll stand for the unrelated file.
TEST(TlsPeerGone, CloseNotificationNeverGoesToAReusedDescriptor) {
  ScriptedServer server(TlsOptions(Certs().current));
  server.Send("bye\n").CloseWithoutNotify();
  TIdSSLIOHandlerSocketOpenSSL tls;
  LauncherSettings(tls);
  auto client = ConnectTls(server, tls);
  const int oldFd = tls.Binding()->Handle();
  EXPECT_EQ(tls.ReadLn(), "bye");
  EXPECT_THROW(tls.ReadLn(), EIdConnClosedGracefully);  // notices the end, closes the socket
  EXPECT_FALSE(tls.BindingAllocated());
  int pair[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
  if (pair[0] != oldFd) {
    close(pair[0]);
    close(pair[1]);
    GTEST_SKIP() << "the descriptor number was not reused";
  }
  tls.Close();  // frees the TLS session of the closed connection
  pollfd p{pair[1], POLLIN, 0};
  EXPECT_EQ(poll(&p, 1, 100), 0) << "TLS bytes were written to an unrelated descriptor";
  close(pair[0]);
  close(pair[1]);
}
#endif

TEST(TlsPassThrough, PlainConnectionThroughTheTlsHandler) {
  ScriptedServer server;  // plain TCP
  server.Send("plain\n").ExpectUntil("\r\n").Close();
  server.Start();
  TIdSSLIOHandlerSocketOpenSSL tls;
  LauncherSettings(tls);
  tls.SetPassThrough(true);
  tls.SetURIToCheck("http://127.0.0.1/");
  TIdTCPClient client;
  client.SetIOHandler(&tls);
  client.Connect("127.0.0.1", server.Port());
  EXPECT_NE(tls.SSLContext(), nullptr);  // OpenSSL was made ready all the same
  EXPECT_EQ(tls.SSLSocket(), nullptr);
  EXPECT_EQ(tls.ReadLn(), "plain");
  tls.WriteLn("back");
  server.Join();
  EXPECT_EQ(server.Received(), "back\r\n");
}

// ---------------------------------------------------------------- version settings

TEST(SSLOptionsVersions, InitialValues) {
  TIdSSLOptions o;
  EXPECT_EQ(o.Method(), sslvTLSv1);
  EXPECT_EQ(o.SSLVersions().Bits(), 8u);
  EXPECT_EQ(o.Mode(), sslmUnassigned);
  EXPECT_TRUE(o.VerifyMode().Empty());
  EXPECT_EQ(kAllSSLVersions.Bits(), 61u);
}

TEST(SSLOptionsVersions, MethodSetsTheVersionSet) {
  TIdSSLOptions o;
  o.SetMethod(sslvTLSv1_2);
  EXPECT_EQ(o.SSLVersions(), TIdSSLVersions{sslvTLSv1_2});
  o.SetMethod(sslvSSLv23);
  EXPECT_EQ(o.SSLVersions(), kAllSSLVersions);
}

TEST(SSLOptionsVersions, VersionSetSetsTheMethod) {
  TIdSSLOptions o;
  o.SetSSLVersions({sslvTLSv1_1});
  EXPECT_EQ(o.Method(), sslvTLSv1_1);
  o.SetSSLVersions({sslvTLSv1, sslvTLSv1_2});
  EXPECT_EQ(o.Method(), sslvSSLv23);
  EXPECT_EQ(o.SSLVersions(), (TIdSSLVersions{sslvTLSv1, sslvTLSv1_2}));
  o.SetSSLVersions({});
  EXPECT_EQ(o.Method(), sslvSSLv23);
  EXPECT_TRUE(o.SSLVersions().Empty());
  o.SetSSLVersions({sslvSSLv23, sslvTLSv1_2});
  EXPECT_EQ(o.Method(), sslvSSLv23);
  EXPECT_EQ(o.SSLVersions(), TIdSSLVersions{sslvTLSv1_2});
}

TEST(SSLOptionsVersions, TheLaterWriteDecides) {
  TIdSSLOptions launcher;
  launcher.SetMethod(sslvTLSv1_2);
  launcher.SetSSLVersions({sslvSSLv23});
  EXPECT_EQ(launcher.Method(), sslvSSLv23);
  EXPECT_EQ(launcher.SSLVersions(), kAllSSLVersions);
  launcher.SetMethod(sslvTLSv1_2);
  EXPECT_EQ(launcher.SSLVersions(), TIdSSLVersions{sslvTLSv1_2});
}

TEST(SSLContextBuild, ModeMustBeSetBeforeSelectingAMethod) {
  TIdSSLContext context;
  context.Mode = sslmUnassigned;
  context.Method = sslvSSLv2;  // no such method in this library
  // The client mode is filled in first.
  ASSERT_THAT([&] { context.BuildContext(sslCtxClient); },
              ThrowsMessage<EIdOSSLGetMethodError>(StrEq("Error getting SSL method.")));
  EXPECT_EQ(context.Mode, sslmClient);
}

TEST(SSLContextBuild, DefaultContextVerifiesNothingAndKeepsTheCipherList) {
  TIdSSLContext context;
  context.Method = sslvSSLv23;
  context.SSLVersions = kAllSSLVersions;
  context.BuildContext(sslCtxClient);
  ASSERT_NE(context.Context(), nullptr);
  EXPECT_EQ(SSL_CTX_get_verify_mode(context.Context()), SSL_VERIFY_NONE);
  EXPECT_NE(SSL_CTX_get_options(context.Context()) & SSL_OP_IGNORE_UNEXPECTED_EOF, 0u);
  EXPECT_EQ(SSL_CTX_get_options(context.Context()) & SSL_OP_NO_TLSv1_3, 0u);
  EXPECT_NE(SSL_CTX_get_mode(context.Context()) & SSL_MODE_AUTO_RETRY, 0u);
  // Trusted roots serve verification alone: without it none are loaded.
  EXPECT_EQ(
      X509_STORE_get0_objects(SSL_CTX_get_cert_store(context.Context())) == nullptr
          ? 0
          : sk_X509_OBJECT_num(X509_STORE_get0_objects(SSL_CTX_get_cert_store(context.Context()))),
      0);
  TIdSSLContext verifying;
  verifying.Method = sslvSSLv23;
  verifying.SSLVersions = kAllSSLVersions;
  verifying.VerifyMode = TIdSSLVerifyModeSet{sslvrfPeer};
  verifying.BuildContext(sslCtxClient);
  EXPECT_GT(
      sk_X509_OBJECT_num(X509_STORE_get0_objects(SSL_CTX_get_cert_store(verifying.Context()))), 0);
}

TEST(SSLContextBuild, VersionsOutsideTheSetAreSwitchedOff) {
  TIdSSLContext context;
  context.Method = sslvSSLv23;
  context.SSLVersions = {sslvTLSv1, sslvTLSv1_2};
  context.BuildContext(sslCtxClient);
  std::uint64_t options = SSL_CTX_get_options(context.Context());
  EXPECT_NE(options & SSL_OP_NO_TLSv1_1, 0u);
  EXPECT_EQ(options & SSL_OP_NO_TLSv1, 0u);
  EXPECT_EQ(options & SSL_OP_NO_TLSv1_2, 0u);
}

// ---------------------------------------------------------------- binding

#if defined(_WIN32)
// OpenSSL is linked on Windows: the table holds exactly the linked functions,
// and nothing is missing.
TEST(OpenSSLBinding, TableHoldsTheLinkedFunctions) {
  ASSERT_TRUE(EnsureOpenSSLReady());
  EXPECT_THAT(OpenSSLMissingEntryPoints(), ::testing::IsEmpty());
  std::vector<std::string> wrong;
#define VTO_CHECK_ENTRY(library, name)                                         \
  if (reinterpret_cast<void*>(ossl::name) != reinterpret_cast<void*>(&::name)) \
    wrong.push_back(#name);
  VTO_OPENSSL_FUNCTIONS(VTO_CHECK_ENTRY)
#undef VTO_CHECK_ENTRY
  EXPECT_THAT(wrong, ::testing::IsEmpty());
}
#else
// An OpenSSL that cannot be used makes the start-up answer false, saying what
// was missing, and a TLS context then fails with "Could not load SSL library.".
// Each case runs in a fresh process: the binding is process-wide. (Linux: the
// libraries are loaded at run time; Windows links them.)
TEST(OpenSSLBinding, LibrariesThatCannotBeUsedMakeTheStartUpAnswerFalse) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const std::string dir = VTO_STANDIN_DIR;
  auto startUp = [](const std::string& folder, auto&& check) {
    OpenSSLFolder = folder;
    const bool ready = EnsureOpenSSLReady();
    const std::vector<std::string> missing = OpenSSLMissingEntryPoints();
    const bool refused =
        ::testing::Value([] { TIdSSLContext context; },
                         ThrowsMessage<EIdOSSLCouldNotLoadSSLLibrary>(StrEq(kCouldNotLoad)));
    std::_Exit(!ready && refused && check(missing) ? 0 : 1);
  };
  // No library there: one line, and the TLS library is not tried.
  EXPECT_EXIT(startUp(dir + "/none/",
                      [&](const std::vector<std::string>& m) {
                        return m == std::vector<std::string>{"Failed to load " + dir +
                                                             "/none/libcrypto.so.3."};
                      }),
              ::testing::ExitedWithCode(0), "");
  // The crypto library alone.
  EXPECT_EXIT(startUp(dir + "/crypto-only/",
                      [&](const std::vector<std::string>& m) {
                        return m == std::vector<std::string>{"Failed to load " + dir +
                                                             "/crypto-only/libssl.so.3."};
                      }),
              ::testing::ExitedWithCode(0), "");
  // Both, without a single function: every one of the table is named.
  EXPECT_EXIT(startUp(dir + "/both/",
                      [](const std::vector<std::string>& m) {
                        return m.size() > 50 && m.front() == "OPENSSL_init_crypto" &&
                               std::find(m.begin(), m.end(), "SSL_read") != m.end();
                      }),
              ::testing::ExitedWithCode(0), "");
}
#endif

TEST(OpenSSLBinding, StartUpRunsOnce) {
  ASSERT_TRUE(EnsureOpenSSLReady());
  int count = OpenSSLStartupCount();
  EXPECT_TRUE(EnsureOpenSSLReady());
  EXPECT_EQ(OpenSSLStartupCount(), count);
  EXPECT_TRUE(IsOpenSSLReady());
}

TEST(OpenSSLBinding, SyscallWithEmptyQueueAndZeroResultIsAnEofViolation) {
  ASSERT_TRUE(EnsureOpenSSLReady());  // the rules are those of a bound OpenSSL
  ERR_clear_error();
  ASSERT_THAT(
      [] {
        EIdOpenSSLAPISSLError::RaiseExceptionCode<EIdOSSLConnectError>(
            SSL_ERROR_SYSCALL, 0, "Error connecting with SSL.");
      },
      Throws<EIdOSSLConnectError>(IsSSLError(kEofOnConnect, SSL_ERROR_SYSCALL, 0)));
  ASSERT_THAT(
      [] { EIdOpenSSLAPISSLError::RaiseExceptionCode(SSL_ERROR_SYSCALL, 0, ""); },
      ThrowsMessage<EIdOpenSSLAPISSLError>(StrEq("EOF was observed that violates the protocol")));
}

TEST(OpenSSLBinding, SyscallWithSocketFailureRaisesTheSocketError) {
  ASSERT_TRUE(EnsureOpenSSLReady());  // the rules are those of a bound OpenSSL
  ERR_clear_error();
  TIdStack::WSSetLastError(10054);
  ASSERT_THAT([] { EIdOpenSSLAPISSLError::RaiseExceptionCode(SSL_ERROR_SYSCALL, -1, "x"); },
              ThrowsSocketError(10054));
}

TEST(OpenSSLBinding, SslErrorRaisesTheUnderlyingCryptoError) {
  ASSERT_TRUE(EnsureOpenSSLReady());  // the rules are those of a bound OpenSSL
  ERR_clear_error();
  ERR_raise(ERR_LIB_SSL, SSL_R_UNEXPECTED_EOF_WHILE_READING);
  std::uint32_t code = static_cast<std::uint32_t>(ERR_peek_error());
  ASSERT_THAT(
      [] {
        EIdOpenSSLAPISSLError::RaiseExceptionCode<EIdOSSLConnectError>(
            SSL_ERROR_SSL, -1, "Error connecting with SSL.");
      },
      Throws<EIdOSSLUnderlyingCryptoError>(
          AllOf(WithMessage(StrEq("Error connecting with SSL.\r\n" + OpenSSLErrorText(code))),
                Property("ErrorCode", &EIdOSSLUnderlyingCryptoError::ErrorCode, code))));
  EXPECT_EQ(ERR_peek_error(), 0u);  // taken off the queue
}

TEST(OpenSSLBinding, OtherErrorsCarryOpenSSLsTextForTheCode) {
  ASSERT_TRUE(EnsureOpenSSLReady());  // the rules are those of a bound OpenSSL
  ASSERT_THAT([] { EIdOpenSSLAPISSLError::RaiseExceptionCode(SSL_ERROR_WANT_READ, -1, ""); },
              Throws<EIdOpenSSLAPISSLError>(
                  IsSSLError(OpenSSLErrorText(SSL_ERROR_WANT_READ), SSL_ERROR_WANT_READ, -1)));
  ASSERT_THAT([] { EIdOpenSSLAPICryptoError::RaiseExceptionCode(0, ""); },
              ThrowsMessage<EIdOpenSSLAPICryptoError>(StrEq(OpenSSLErrorText(0))));
}

TEST(OpenSSLBinding, ErrorTextIsAtMostOneHundredSixtyCharacters) {
  ASSERT_TRUE(EnsureOpenSSLReady());  // the rules are those of a bound OpenSSL
  static const std::string longReason(300, 'r');
  static ERR_STRING_DATA strings[] = {{0, nullptr}, {0, nullptr}};
  int lib = ERR_get_next_error_library();
  strings[0].error = ERR_PACK(lib, 0, 1);
  strings[0].string = longReason.c_str();
  ERR_load_strings(lib, strings);
  std::string text = OpenSSLErrorText(static_cast<std::uint32_t>(ERR_PACK(lib, 0, 1)));
  // Whatever OpenSSL makes of a text that does not fit, no more than 160
  // characters come back.
  EXPECT_FALSE(text.empty());
  EXPECT_LE(text.size(), 160u);
  EXPECT_NE(OpenSSLErrorText(SSL_ERROR_SSL).find("error:"), std::string::npos);
}

}  // namespace
}  // namespace vto

namespace vto {
namespace {

TEST(TlsReconnect, PeerClosedThenConnectAgainWithoutClosingTheHandler) {
  ScriptedServer server(TlsOptions(Certs().current));
  server.Send("first\n").Close().NextConnection().Send("second\n").Close();
  TIdSSLIOHandlerSocketOpenSSL tls;
  LauncherSettings(tls);
  auto client = ConnectTls(server, tls);
  EXPECT_EQ(tls.ReadLn(), "first");
  EXPECT_THROW(tls.ReadLn(), EIdConnClosedGracefully);
  EXPECT_FALSE(client->Connected());
  EXPECT_TRUE(tls.Opened());  // noticed, not closed: the TLS objects are still there
  ASSERT_NE(tls.SSLSocket(), nullptr);
  client->Connect();  // a new TCP connection: a new context and TLS connection
  EXPECT_EQ(tls.ReadLn(), "second");
  server.Join();
  EXPECT_EQ(server.Error(), "");
}

TEST(TlsServerName, InternationalNameGoesOutInItsAsciiForm) {
  ScriptedServer server(TlsOptions(Certs().current));
  server.Send("x\n").Close();
  TIdSSLIOHandlerSocketOpenSSL tls;
  LauncherSettings(tls);
  auto client = ConnectTls(server, tls,
                           "https://B\xC3\xBC"
                           "cher.example/app.jnlp");
  EXPECT_EQ(tls.ReadLn(), "x");
  server.Join();
  EXPECT_EQ(server.ServerName(), "xn--bcher-kva.example");
}

TEST(TlsPassThrough, SwitchingOffOnAnOpenConnectionStartsTls) {
  ScriptedServer server(TlsOptions(Certs().current));
  server.NoHandshake().Send("plain\n").StartTls().Send("secret\n").ExpectUntil("\r\n").Close();
  server.Start();
  TIdSSLIOHandlerSocketOpenSSL tls;
  LauncherSettings(tls);
  tls.SetPassThrough(true);
  TIdTCPClient client;
  client.SetIOHandler(&tls);
  client.Connect("localhost", server.Port());
  EXPECT_EQ(tls.ReadLn(), "plain");
  tls.SetPassThrough(false);
  ASSERT_NE(tls.SSLSocket(), nullptr);
  EXPECT_EQ(tls.ReadLn(), "secret");
  tls.WriteLn("over tls");
  server.Join();
  EXPECT_EQ(server.Error(), "");
  EXPECT_EQ(server.Received(), "over tls\r\n");
  EXPECT_EQ(server.ServerName(), "localhost");
}

TEST(TlsData, TornRecordEndsInTheReadTimeoutInsteadOfHanging) {
  // The socket turns readable with the start of a record whose rest never
  // comes: the socket's own receive time-out must end the wait.
  ScriptedServer server(TlsOptions(Certs().current));
  server.SendRaw(std::string("\x17\x03\x03\x00\x40", 5)).Stall();
  testing::SocketTimeoutGuard bound(300);  // also the socket's receive and send time-outs
  TIdSSLIOHandlerSocketOpenSSL tls;
  LauncherSettings(tls);
  auto client = ConnectTls(server, tls);
  EXPECT_EQ(tls.ReadLn(), "");
  EXPECT_TRUE(tls.ReadLnTimedout());
  server.Release();
}

TEST(OpenSSLUnavailable, HttpsFailsAndPlainGoesOn) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        EnsureOpenSSLReady();
        ShutdownOpenSSL();  // OpenSSL cannot be made ready again in this process
        int failures = EnsureOpenSSLReady() ? 1 : 0;
        ScriptedServer server;  // plain: the https attempt fails before any byte
        server.NextConnection().Send("clear\n").Close();
        server.Start();
        TIdSSLIOHandlerSocketOpenSSL tls;
        TIdTCPClient client;
        client.SetIOHandler(&tls);
        tls.SetPassThrough(false);
        if (!::testing::Value([&] { client.Connect("127.0.0.1", server.Port()); },
                              ThrowsMessage<EIdOSSLCouldNotLoadSSLLibrary>(StrEq(kCouldNotLoad))))
          ++failures;
        tls.SetPassThrough(true);
        client.Connect("127.0.0.1", server.Port());
        if (tls.ReadLn() != "clear" || tls.SSLContext() != nullptr) ++failures;
        std::exit(failures);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace vto

#include <openssl/pem.h>

#include <cstdio>
#include <vector>

namespace vto {
namespace {

TEST(TlsCallbacks, StatusReportsTheCipherAndTheHandshake) {
  ScriptedServer server(TlsOptions(Certs().current, TLS1_3_VERSION, TLS1_3_VERSION));
  server.Send("x\n").Close();
  TIdSSLIOHandlerSocketOpenSSL tls;
  LauncherSettings(tls);
  std::vector<std::string> lines;
  tls.OnStatusInfo = [&](const std::string& line) { lines.push_back(line); };
  auto client = ConnectTls(server, tls);
  ASSERT_FALSE(lines.empty());
  const std::string& cipher = lines.back();
  EXPECT_TRUE(StartsWith(cipher, "Cipher: name = TLS_AES_")) << cipher;
  EXPECT_NE(cipher.find("; bits = "), std::string::npos);
  EXPECT_NE(cipher.find("; version = TLSv1.3; "), std::string::npos);
  EXPECT_GT(lines.size(), 2u);  // the handshake's states came before
}

TEST(TlsCallbacks, VerificationOnlyWhenAVerifyModeIsSet) {
  for (bool accept : {true, false}) {
    ScriptedServer server(TlsOptions(Certs().current));
    server.Send("x\n").Close();
    TIdSSLIOHandlerSocketOpenSSL tls;
    LauncherSettings(tls);
    tls.SSLOptions().SetVerifyMode({sslvrfPeer});
    std::string subject;
    bool sawOk = true;
    tls.OnVerifyPeer = [&](const TIdX509& cert, bool ok, int, int) {
      subject = cert.Subject();
      sawOk = sawOk && ok;
      return accept;
    };
    if (accept) {
      auto client = ConnectTls(server, tls);
      EXPECT_EQ(tls.ReadLn(), "x");
    } else {
      EXPECT_THROW(ConnectTls(server, tls), EIdOSSLUnderlyingCryptoError);
    }
    EXPECT_NE(subject.find("CN=localhost"), std::string::npos);
    EXPECT_FALSE(sawOk);  // self-signed: OpenSSL's own answer was no
  }
}

TEST(TlsCallbacks, PasswordForAnEncryptedKey) {
  TempFolder folder;
  std::string keyFile = folder.Path() + "/encrypted.key";
  {
    FILE* in = std::fopen(Certs().current.keyFile.c_str(), "r");
    ASSERT_NE(in, nullptr);
    EVP_PKEY* key = PEM_read_PrivateKey(in, nullptr, nullptr, nullptr);
    std::fclose(in);
    FILE* out = std::fopen(keyFile.c_str(), "w");
    ASSERT_NE(out, nullptr);
    static char pass[] = "s3cret";
    PEM_write_PrivateKey(out, key, EVP_aes_128_cbc(), nullptr, 0, nullptr, pass);
    std::fclose(out);
    EVP_PKEY_free(key);
  }
  for (const char* given : {"s3cret", "wrong"}) {
    TIdSSLIOHandlerSocketOpenSSL tls;
    LauncherSettings(tls);
    tls.SSLOptions().SetCertFile(Certs().current.certFile);
    tls.SSLOptions().SetKeyFile(keyFile);
    bool asked = false;
    tls.OnGetPasswordEx = [&](std::string& password, bool) {
      asked = true;
      password = given;
    };
    ScriptedServer server;
    server.Start();
    tls.SetPassThrough(true);  // the context is built even for a plain connection
    TIdTCPClient client;
    client.SetIOHandler(&tls);
    if (std::string(given) == "s3cret") {
      client.Connect("127.0.0.1", server.Port());
      EXPECT_NE(tls.SSLContext(), nullptr);
    } else {
      ASSERT_THAT([&] { client.Connect("127.0.0.1", server.Port()); },
                  ThrowsMessage<EIdOSSLLoadingKeyError>(
                      ::testing::StartsWith("Could not load key, check password.\r\n")))
          << "key loaded with a wrong password";
    }
    EXPECT_TRUE(asked);
  }
}

}  // namespace
}  // namespace vto

// ---------------------------------------------------------------- bounded waits

namespace vto {
namespace {

// However a caller waits on the TLS handler's socket, the wait ends within the
// handler's bound: no server can hold a download for ever.
TEST(TlsBoundedWaits, EveryWaitOnTheSocketEndsAtTheBound) {
  constexpr std::int32_t kBound = 400;
  constexpr std::int64_t kLate = kBound + 4000;  // a loaded machine is slow, not stuck
  testing::SocketTimeoutGuard guard(kBound);
  struct Case {
    const char* what;
    bool tls;         // the server runs TLS (else the handler passes through)
    bool handshake;   // the server answers the handshake
    bool sendHeader;  // the server sends a line before going silent
  };
  for (const Case& c : {Case{"silent after the handshake", true, true, false},
                        Case{"silent after a line", true, true, true},
                        Case{"silent in the handshake", true, false, false},
                        Case{"silent in clear", false, true, false}}) {
    SCOPED_TRACE(c.what);
    ScriptedServer server(c.tls ? TlsOptions(Certs().current) : ScriptedServer::Options{});
    if (!c.handshake) server.NoHandshake();
    if (c.sendHeader) server.Send("HTTP/1.1 200 OK\r\n");
    server.Stall();
    server.Start();
    TIdSSLIOHandlerSocketOpenSSL tls;
    LauncherSettings(tls);
    tls.SetPassThrough(!c.tls);
    TIdTCPClient client;
    client.SetIOHandler(&tls);
    const std::int64_t start = IdTicks();
    if (!c.handshake) {
      EXPECT_THROW(client.Connect("127.0.0.1", server.Port()), EIdException);
    } else {
      client.Connect("127.0.0.1", server.Port());
      if (c.sendHeader) {
        EXPECT_EQ(tls.ReadLn(), "HTTP/1.1 200 OK");
      }
      EXPECT_EQ(tls.ReadLn(), "");
      EXPECT_TRUE(tls.ReadLnTimedout());
      TMemoryStream body;
      EXPECT_THROW(tls.ReadStream(&body, 10), EIdReadTimeout);
    }
    EXPECT_LT(Since(start), 2 * kLate);
    server.Release();
    client.Disconnect();
    server.Join();
  }
  // A send that the peer never takes in.
  {
    ScriptedServer server(TlsOptions(Certs().current));
    server.Stall();
    server.Start();
    TIdSSLIOHandlerSocketOpenSSL tls;
    LauncherSettings(tls);
    TIdTCPClient client;
    client.SetIOHandler(&tls);
    client.Connect("127.0.0.1", server.Port());
    const std::int64_t start = IdTicks();
    TIdBytes block(1 << 20, 'x');
    EXPECT_THROW(
        {
          for (int i = 0; i < 256; ++i) tls.Write(block);
        },
        EIdException);
    EXPECT_LT(Since(start), kLate);
    server.Release();
    client.Disconnect();
    server.Join();
  }
  // A connect that is never answered.
  {
    testing::UnansweredListener listener;
    TIdSSLIOHandlerSocketOpenSSL tls;
    LauncherSettings(tls);
    TIdTCPClient client;
    client.SetIOHandler(&tls);
    const std::int64_t start = IdTicks();
    EXPECT_THROW(client.Connect("127.0.0.1", listener.Port()), EIdConnectTimeout);
    EXPECT_LT(Since(start), kLate);
    EXPECT_FALSE(client.Connected());
  }
  // Other handlers keep waiting as they always did: a plain stack handler
  // without a read time-out outlasts the TLS handler's bound.
  {
    ScriptedServer server;
    server.Pause(3 * kBound).Send("late\n").Close();
    server.Start();
    TIdIOHandlerStack plain;
    TIdTCPClient client;
    client.SetIOHandler(&plain);
    client.Connect("127.0.0.1", server.Port());
    EXPECT_EQ(plain.ReadLn(), "late");
    server.Join();
  }
}

// A TLS 1.3 server's session tickets make the socket readable with nothing to
// read: a wait for data must not take them for data and block in the read.
TEST(TlsBoundedWaits, SessionTicketsAreNoData) {
  ScriptedServer server(TlsOptions(Certs().current, TLS1_3_VERSION, TLS1_3_VERSION));
  server.Pause(2500).Send("late\n").Stall();
  testing::SocketTimeoutGuard bound(6000);  // the socket's receive time-out
  TIdSSLIOHandlerSocketOpenSSL tls;
  LauncherSettings(tls);
  auto client = ConnectTls(server, tls);
  std::int64_t start = IdTicks();
  EXPECT_TRUE(client->Connected());
  EXPECT_FALSE(tls.Readable(0));
  EXPECT_LT(Since(start), 1500);  // far below the socket's time-out
  start = IdTicks();
  EXPECT_EQ(tls.ReadLn("\n", 100), "");
  EXPECT_TRUE(tls.ReadLnTimedout());
  EXPECT_LT(Since(start), 1500);
  EXPECT_EQ(tls.ReadLn(), "late");  // the data after the tickets is read as ever
  start = IdTicks();
  EXPECT_FALSE(tls.CheckForDataOnSource(100));
  EXPECT_LT(Since(start), 1500);
  server.Release();
  client->Disconnect();
  server.Join();
}

}  // namespace
}  // namespace vto
