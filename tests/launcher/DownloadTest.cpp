// Tests of launcher/launchvto.cpp (the download fallback).
// The download fallback against a TLS server on loopback, with the recording
// desktop: what is fetched, where it lands, what is opened, what the user sees.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "launcher/CommandLine.h"
#include "launcher/Entry.h"
#include "launcher/launchvto.h"
#include "tests/support/LoopbackPort.h"
#include "tests/support/RecordingDesktopGuard.h"
#include "tests/support/ScriptedServer.h"
#include "tests/support/SocketTimeoutGuard.h"
#include "tests/support/TempNames.h"
#include "tests/support/TestCertificates.h"
#include "tests/support/UnansweredListener.h"

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
    fs::create_directories(fs::path(folder_.Path()) / "bin");
    fs::create_directories(fs::path(folder_.Path()) / "tmp");
    desktop_->environment["PATH"] = folder_.Path() + "/bin";  // no Java launcher there
    desktop_.SetTmpDir(Tmp().string());
    certs_ = vto::testing::MakeSelfSignedCertificate(folder_.Path(), "server", "localhost",
                                                     vto::testing::CertificateValidity::Current);
  }

  // The user saw exactly the download dialog for url, and nothing was opened.
  void ExpectDownloadFailed(const std::string& url) {
    ASSERT_EQ(desktop_->dialogs.size(), 1u);
    EXPECT_EQ(desktop_->dialogs[0].kind, DialogKind::Error);
    EXPECT_EQ(desktop_->dialogs[0].text,
              "Unable to download " + url + "\nContact your IT administrator for assistance.");
    EXPECT_TRUE(desktop_->shell_calls.empty());
  }

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
  vto::testing::RecordingDesktopGuard desktop_;
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
  EXPECT_FALSE(desktop_->shell_calls[0].program);  // a document, for its application
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
  desktop_.SetTmpDir(folder_.Path() + "/no-such-folder");
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

// Servers that misbehave the way real networks do. Each ends in the one
// download dialog within the bound on silence, with nothing saved or opened.
TEST_F(DownloadTest, MisbehavingServersEndInTheDialogWithinTheBound) {
  constexpr int kBound = 400;
  vto::testing::SocketTimeoutGuard bound(kBound);
  const std::string request = "\r\n\r\n";
  const std::string half(50000, 'x');
  struct Case {
    const char* what;
    std::function<void(ScriptedServer&)> script;
  };
  const Case cases[] = {
      {"silent in the handshake", [](ScriptedServer& s) { s.NoHandshake().Stall(); }},
      {"silent after the handshake", [&](ScriptedServer& s) { s.ExpectUntil(request).Stall(); }},
      {"silent after the header block",
       [&](ScriptedServer& s) {
         s.ExpectUntil(request).Send("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n").Stall();
       }},
      {"silent in the header block",
       [&](ScriptedServer& s) {
         s.ExpectUntil(request).Send("HTTP/1.1 200 OK\r\nServer: x").Stall();
       }},
      {"reset in the body",
       [&](ScriptedServer& s) {
         s.ExpectUntil(request)
             .Send("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + half)
             .Reset();
       }},
      {"closed in the header block",
       [&](ScriptedServer& s) {
         s.ExpectUntil(request).Send("HTTP/1.1 200 OK\r\nContent-Le").Close();
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    desktop_->dialogs.clear();
    ScriptedServer server(Tls());
    c.script(server);
    server.Start();
    const std::string url = "https://127.0.0.1:" + std::to_string(server.Port()) + "/vto.jnlp";
    TLaunchVTO launcher;
    launcher.fJNPUrl = url;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(launcher.execute());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(kBound + 4000));
    server.Release();
    server.Join();
    ExpectDownloadFailed(url);
    EXPECT_TRUE(TmpFiles().empty());
  }
  // A redirect to a plain server that never answers, and a connect that is
  // never answered: the same bound, the same dialog.
  {
    desktop_->dialogs.clear();
    ScriptedServer plain;
    plain.ExpectUntil(request).Stall();
    plain.Start();
    ScriptedServer server(Tls());
    server.ExpectUntil(request)
        .Send("HTTP/1.1 302 Found\r\nLocation: http://127.0.0.1:" + std::to_string(plain.Port()) +
              "/x\r\nContent-Length: 0\r\n\r\n")
        .Close();
    server.Start();
    const std::string url = "https://127.0.0.1:" + std::to_string(server.Port()) + "/vto.jnlp";
    TLaunchVTO launcher;
    launcher.fJNPUrl = url;
    EXPECT_TRUE(launcher.execute());
    plain.Release();
    plain.Join();
    server.Join();
    ExpectDownloadFailed(url);
  }
  {
    desktop_->dialogs.clear();
    vto::testing::UnansweredListener listener;
    const std::string url = "https://127.0.0.1:" + std::to_string(listener.Port()) + "/vto.jnlp";
    TLaunchVTO launcher;
    launcher.fJNPUrl = url;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(launcher.execute());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(kBound + 4000));
    ExpectDownloadFailed(url);
  }
}

// Another local user has put something under every name the JNLP file could
// get: links to a file of theirs, and files of theirs that anyone may write.
// Nothing of it is written into or opened; the user sees the download dialog.
TEST_F(DownloadTest, PlantedNamesAreNeverWrittenIntoOrOpened) {
  // 131,070 names: on a memory file system where there is one (a shared
  // temporary folder often is one), since making them on disk takes minutes here.
  std::string shm = "/dev/shm/vto-planted-XXXXXX";
  const bool onShm = fs::is_directory("/dev/shm") && ::mkdtemp(shm.data()) != nullptr;
  struct Remove {
    std::string path;
    ~Remove() {
      std::error_code ec;
      if (!path.empty()) fs::remove_all(path, ec);
    }
  } remove{onShm ? shm : std::string()};
  const fs::path tmp = onShm ? fs::path(shm) : Tmp();
  desktop_.SetTmpDir(tmp.string());
  const uid_t other = 65534;  // nobody
  const fs::path victim = fs::path(folder_.Path()) / "victim";
  std::ofstream(victim) << "theirs";
  const bool chowned = ::chown(victim.c_str(), other, other) == 0;
  auto plant = [&](const std::string& suffix, bool links) {
    for (unsigned n = 1; n <= 0xFFFF; ++n) {
      char digits[8];
      std::snprintf(digits, sizeof digits, "%X", n);
      const fs::path name = tmp / ("vto" + std::string(digits) + suffix);
      if (links && n % 2 == 1) {
        ASSERT_EQ(::symlink(victim.c_str(), name.c_str()), 0);
      } else {
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, "planted", 7), 7);
        ::fchmod(fd, 0666);
        if (chowned) (void)::fchown(fd, other, other);
        ::close(fd);
      }
    }
  };
  ScriptedServer server(Tls());
  for (int i = 0; i < 2; ++i) {
    if (i > 0) server.NextConnection();
    server.ExpectUntil("\r\n\r\n")
        .Send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(sizeof kJnlp - 1) +
              "\r\n\r\n" + kJnlp)
        .Close();
  }
  server.Start();
  const std::string url = "https://127.0.0.1:" + std::to_string(server.Port()) + "/vto.jnlp";
  TLaunchVTO launcher;
  launcher.fJNPUrl = url;

  // Every JNLP name taken: each try leaves its empty temporary file, as ever.
  plant(".tmp.jnlp", true);
  EXPECT_TRUE(launcher.execute());
  ExpectDownloadFailed(url);
  std::size_t empty = 0, untouched = 0;
  for (const auto& e : fs::directory_iterator(tmp)) {
    const std::string file = e.path().filename().string();
    if (file.ends_with(".tmp")) {
      ++empty;
      EXPECT_EQ(fs::file_size(e.path()), 0u);
    } else if (!e.is_symlink()) {
      untouched += Slurp(e.path()) == "planted";
    }
  }
  EXPECT_EQ(empty, static_cast<std::size_t>(TLaunchVTO::kJnlpNameTries));
  EXPECT_EQ(untouched, 0xFFFFu / 2);
  EXPECT_EQ(Slurp(victim), "theirs");

  // Every temporary name taken as well: no file can be made at all.
  for (const auto& e : fs::directory_iterator(tmp))
    if (e.path().filename().string().ends_with(".tmp")) fs::remove(e.path());
  plant(".tmp", false);
  desktop_->dialogs.clear();
  EXPECT_TRUE(launcher.execute());
  server.Join();
  ExpectDownloadFailed(url);
  EXPECT_EQ(Slurp(victim), "theirs");
  EXPECT_EQ(Slurp(tmp / "vto1.tmp"), "planted");
}
