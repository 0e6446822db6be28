// The download fallback against a TLS server on loopback, with the recording
// desktop: what is fetched, where it lands, what is opened, what the user sees.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "CommandLine.h"
#include "Entry.h"
#include "LoopbackPort.h"
#include "RecordingDesktop.h"
#include "ScriptedServer.h"
#include "TempNames.h"
#include "TestCertificates.h"
#include "launchvto.h"

namespace fs = std::filesystem;
using namespace vto;
using vto::testing::ScriptedServer;

namespace {

const char kJnlp[] = "<?xml version=\"1.0\"?>\n<jnlp spec=\"1.0+\"><information/></jnlp>\n";

std::string Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class DownloadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    desktop_ = new RecordingDesktop;
    previous_ = SetDesktop(std::unique_ptr<Desktop>(desktop_));
    fs::create_directories(fs::path(folder_.Path()) / "bin");
    fs::create_directories(fs::path(folder_.Path()) / "tmp");
    desktop_->environment["PATH"] = folder_.Path() + "/bin";  // no Java launcher there
    desktop_->environment["TMPDIR"] = Tmp().string();
    certs_ = vto::testing::MakeSelfSignedCertificate(folder_.Path(), "server", "localhost",
                                                     vto::testing::CertificateValidity::Current);
  }
  void TearDown() override { SetDesktop(std::move(previous_)); }

  fs::path Tmp() const { return fs::path(folder_.Path()) / "tmp"; }
  std::vector<fs::path> TmpFiles() const {
    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(Tmp())) files.push_back(e.path());
    std::sort(files.begin(), files.end());
    return files;
  }
  ScriptedServer::Options Tls() const {
    ScriptedServer::Options o;
    o.tls = true;
    o.certFile = certs_.certFile;
    o.keyFile = certs_.keyFile;
    return o;
  }

  vto::testing::TempFolder folder_;
  vto::testing::CertificateFiles certs_;
  RecordingDesktop* desktop_ = nullptr;
  std::unique_ptr<Desktop> previous_;
};

}  // namespace

TEST_F(DownloadTest, BodyIsSavedBesideTheEmptyTempFileAndOpened) {
  ScriptedServer server(Tls());
  server.ExpectUntil("\r\n\r\n")
      .Send("HTTP/1.1 200 OK\r\nContent-Type: application/x-java-jnlp-file\r\nContent-Length: " +
            std::to_string(sizeof kJnlp - 1) + "\r\n\r\n" + kJnlp)
      .Close();
  server.Start();
  TLaunchVTO launcher;
  launcher.fJNPUrl = "https://localhost:" + std::to_string(server.Port()) + "/webstart/vto.jnlp";
  EXPECT_TRUE(launcher.execute());
  server.Join();
  EXPECT_EQ(server.Error(), "");
  EXPECT_EQ(server.ServerName(), "localhost");

  // The request as it went out: Basic credentials of an empty user, nothing else of ours.
  const std::string request = server.Received();
  EXPECT_EQ(request.rfind("GET /webstart/vto.jnlp HTTP/1.1\r\n", 0), 0u) << request;
  EXPECT_NE(request.find("\r\nAuthorization: Basic Og==\r\n"), std::string::npos) << request;

  EXPECT_TRUE(desktop_->dialogs.empty());
  ASSERT_EQ(desktop_->shell_calls.size(), 1u);
  const std::string opened = desktop_->shell_calls[0].file;
  EXPECT_EQ(desktop_->shell_calls[0].parameters, "");
  EXPECT_TRUE(vto::testing::IsTempName(opened, Tmp().string(), "vto", ".jnlp")) << opened;
  EXPECT_EQ(Slurp(opened), kJnlp);
  const std::string empty = opened.substr(0, opened.size() - 5);
  EXPECT_EQ(TmpFiles(), (std::vector<fs::path>{empty, opened}));
  EXPECT_EQ(fs::file_size(empty), 0u);
}

TEST_F(DownloadTest, AnyBodyIsSavedAsItCameAlsoAnEmptyOne) {
  ScriptedServer server(Tls());
  server.ExpectUntil("\r\n\r\n").Send("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n").Close();
  server.Start();
  TLaunchVTO launcher;
  launcher.fJNPUrl = "https://127.0.0.1:" + std::to_string(server.Port()) + "/x";
  EXPECT_TRUE(launcher.execute());
  server.Join();
  ASSERT_EQ(desktop_->shell_calls.size(), 1u);
  EXPECT_EQ(fs::file_size(desktop_->shell_calls[0].file), 0u);
  EXPECT_EQ(TmpFiles().size(), 2u);
}

TEST_F(DownloadTest, NoApplicationForTheFileMeansJavaIsNotInstalled) {
  ScriptedServer server(Tls());
  server.ExpectUntil("\r\n\r\n")
      .Send(std::string("HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nabc"))
      .Close();
  server.Start();
  desktop_->shell_result = kSeErrNoAssociation;
  SetCommandLineArguments({"-u", "https://127.0.0.1:" + std::to_string(server.Port()) + "/x"});
  EXPECT_EQ(RunLauncher(), 0);
  server.Join();
  ASSERT_EQ(desktop_->dialogs.size(), 1u);
  EXPECT_EQ(desktop_->dialogs[0].kind, DialogKind::Error);
  EXPECT_EQ(desktop_->dialogs[0].text,
            "Java is not installed on your computer. Please contact your IT department for "
            "assistance.");
}

TEST_F(DownloadTest, AnErrorOfAnyKindGivesOneDialogNamingTheUrlAndNoFile) {
  // Nothing listens there: the connection is refused.
  const int port = vto::testing::UnusedLoopbackPort();
  const std::string url = "https://127.0.0.1:" + std::to_string(port) + "/vto.jnlp";
  TLaunchVTO launcher;
  launcher.fJNPUrl = url;
  EXPECT_TRUE(launcher.execute());  // so that no second dialog follows
  ASSERT_EQ(desktop_->dialogs.size(), 1u);
  EXPECT_EQ(desktop_->dialogs[0].kind, DialogKind::Error);
  EXPECT_EQ(desktop_->dialogs[0].caption, "Error");
  EXPECT_EQ(desktop_->dialogs[0].text,
            "Unable to download " + url + "\nContact your IT administrator for assistance.");
  EXPECT_TRUE(desktop_->shell_calls.empty());
  EXPECT_TRUE(TmpFiles().empty());
}

TEST_F(DownloadTest, AnHttpErrorStatusAndABrokenHandshakeAreDownloadErrorsToo) {
  ScriptedServer server(Tls());
  server.ExpectUntil("\r\n\r\n")
      .Send("HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nno such!!")
      .Close()
      .NextConnection()
      .NoHandshake()
      .Expect(5)
      .Close();
  server.Start();
  const std::string base = "https://127.0.0.1:" + std::to_string(server.Port());
  TLaunchVTO launcher;
  launcher.fJNPUrl = base + "/missing.jnlp";
  EXPECT_TRUE(launcher.execute());
  launcher.fJNPUrl = base + "/second.jnlp";
  EXPECT_TRUE(launcher.execute());
  server.Join();
  ASSERT_EQ(desktop_->dialogs.size(), 2u);
  EXPECT_EQ(desktop_->dialogs[0].text, "Unable to download " + base +
                                           "/missing.jnlp\nContact your IT administrator for "
                                           "assistance.");
  EXPECT_EQ(desktop_->dialogs[1].text.rfind("Unable to download " + base + "/second.jnlp\n", 0),
            0u);
  EXPECT_TRUE(TmpFiles().empty());
}

TEST_F(DownloadTest, ABareUrlSwitchFailsWithUnknownProtocolInTheOneDialog) {
  SetCommandLineArguments({"-d", "-u"});
  EXPECT_EQ(RunLauncher(), 0);
  ASSERT_EQ(desktop_->dialogs.size(), 4u);  // two searches, the association box, the error
  EXPECT_EQ(desktop_->dialogs[2].text,
            std::string("Starting by file association \n") + kBuiltInJNLPUrl);
  EXPECT_EQ(desktop_->dialogs[3].text,
            "Unable to download \nContact your IT administrator for assistance.");
  EXPECT_TRUE(desktop_->shell_calls.empty());
}

TEST_F(DownloadTest, NoTemporaryFileMeansNoFileAnywhereElse) {
  ScriptedServer server(Tls());
  server.ExpectUntil("\r\n\r\n").Send("HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nabc").Close();
  server.Start();
  desktop_->environment["TMPDIR"] = folder_.Path() + "/no-such-folder";
  const std::string url = "https://127.0.0.1:" + std::to_string(server.Port()) + "/x";
  TLaunchVTO launcher;
  launcher.fJNPUrl = url;
  const fs::path cwd = fs::current_path();
  fs::current_path(Tmp());
  EXPECT_TRUE(launcher.execute());
  fs::current_path(cwd);
  server.Join();
  EXPECT_TRUE(desktop_->shell_calls.empty());
  EXPECT_TRUE(TmpFiles().empty());  // no ".jnlp" dropped in the current folder
  ASSERT_EQ(desktop_->dialogs.size(), 1u);
  EXPECT_EQ(desktop_->dialogs[0].text,
            "Unable to download " + url + "\nContact your IT administrator for assistance.");
}
