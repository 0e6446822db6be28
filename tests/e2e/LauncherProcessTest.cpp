// Tests of launcher/main.cpp and all below it, through the built program.
// The built program, run as a user runs it: no display, a PATH of our making.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "tests/support/LoopbackPort.h"
#include "tests/support/NginxServer.h"
#include "tests/support/ScriptedServer.h"
#include "tests/support/TempNames.h"
#include "tests/support/TestCertificates.h"

namespace fs = std::filesystem;

namespace {

struct Result {
  int exit_code = -1;
  std::string err;
};

// Runs the launcher with exactly the given environment and arguments and collects
// its standard error until it exits.
Result RunLauncher(const std::vector<std::string>& args,
                   const std::map<std::string, std::string>& env) {
  int pipefd[2];
  EXPECT_EQ(pipe2(pipefd, O_CLOEXEC), 0);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, pipefd[1], 2);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  std::vector<std::string> argv_s{VTO_LAUNCHER};
  argv_s.insert(argv_s.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argv_s) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> env_s;
  for (auto& [k, v] : env) env_s.push_back(k + "=" + v);
  // Sanitizer settings of the test run reach the launcher too.
  for (const char* keep : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"})
    if (const char* v = getenv(keep)) env_s.push_back(std::string(keep) + "=" + v);
  std::vector<char*> envp;
  for (auto& e : env_s) envp.push_back(e.data());
  envp.push_back(nullptr);
  pid_t pid;
  EXPECT_EQ(posix_spawn(&pid, VTO_LAUNCHER, &fa, nullptr, argv.data(), envp.data()), 0);
  posix_spawn_file_actions_destroy(&fa);
  close(pipefd[1]);
  Result r;
  int status = 0;
  waitpid(pid, &status, 0);
  r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  // The launcher has ended; the programs it started hold no copy of this pipe.
  fcntl(pipefd[0], F_SETFL, O_NONBLOCK);
  char buf[4096];
  ssize_t n;
  while ((n = read(pipefd[0], buf, sizeof buf)) > 0) r.err.append(buf, static_cast<size_t>(n));
  close(pipefd[0]);
  return r;
}

std::string Slurp(const fs::path& p) {
  std::ifstream in(p);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

bool WaitFor(const fs::path& p) {
  for (int i = 0; i < 1000; ++i) {
    if (fs::exists(p)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

class LauncherProcess : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string templ = (fs::temp_directory_path() / "vto-e2e-XXXXXX").string();
    root_ = mkdtemp(templ.data());
    fs::create_directories(root_ / "bin");
    fs::create_directories(root_ / "tmp");
    env_ = {{"PATH", (root_ / "bin").string()}, {"TMPDIR", (root_ / "tmp").string()}};
  }
  void TearDown() override {
    for (pid_t pid : started_) kill(pid, SIGKILL);
    fs::remove_all(root_);
  }

  // A fake Java launcher: records its arguments and pid, then stays alive for a
  // while, so that a launcher waiting for it would be seen waiting.
  void FakeLauncher(const std::string& name) {
    const fs::path p = root_ / "bin" / name;
    std::ofstream(p) << "#!/bin/sh\nexec >/dev/null 2>&1 </dev/null\n"
                     << "printf '%s\\n' \"$#\" \"$@\" > '" << (root_ / name).string() << ".part'\n"
                     << "echo $$ > '" << (root_ / name).string() << ".pid'\n"
                     << "/bin/mv '" << (root_ / name).string() << ".part' '"
                     << (root_ / name).string() << ".args'\nexec /bin/sleep 30\n";
    fs::permissions(p, fs::perms::owner_all);
  }
  pid_t StartedPid(const std::string& name) {
    pid_t pid = std::stoi(Slurp(root_ / (name + ".pid")));
    started_.push_back(pid);
    return pid;
  }

  fs::path root_;
  std::map<std::string, std::string> env_;
  std::vector<pid_t> started_;
};

}  // namespace

TEST_F(LauncherProcess, StartsJavawsWithTheUrlAsItsOneArgumentAndDoesNotWait) {
  FakeLauncher("javaws");
  const Result r = RunLauncher({"-u", "https://test.example/a b.jnlp"}, env_);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err, "");
  ASSERT_TRUE(WaitFor(root_ / "javaws.args"));
  EXPECT_EQ(Slurp(root_ / "javaws.args"), "1\nhttps://test.example/a b.jnlp\n");
  // The launcher has exited while the program it started still runs.
  EXPECT_EQ(kill(StartedPid("javaws"), 0), 0);
}

TEST_F(LauncherProcess, OpenwsIsPreferredWhenBothArePresent) {
  FakeLauncher("javaws");
  fs::create_directories(root_ / "jdk" / "bin");
  FakeLauncher("openws");
  fs::rename(root_ / "bin" / "openws", root_ / "jdk" / "bin" / "openws");
  env_["JAVA_HOME"] = (root_ / "jdk").string();
  const Result r = RunLauncher({}, env_);
  EXPECT_EQ(r.exit_code, 0);
  ASSERT_TRUE(WaitFor(root_ / "openws.args"));
  StartedPid("openws");
  EXPECT_EQ(Slurp(root_ / "openws.args").substr(0, 10), "1\nhttps://");
  EXPECT_FALSE(fs::exists(root_ / "javaws.args"));
}

TEST_F(LauncherProcess, HelpGoesToStandardErrorWithoutADisplayAndNothingStarts) {
  FakeLauncher("javaws");
  const Result r = RunLauncher({"/H"}, env_);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err,
            "Launchveltraonline\nstartup parameters:\n  -h : help\n  -d : debug will show dialogs "
            "to help identify issues\n  -u [testurl for jnlp] : to test a different location for "
            "the JNLP\n");
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(fs::exists(root_ / "javaws.args"));
}

TEST_F(LauncherProcess, DebugMessagesAppearInOrderOnStandardError) {
  FakeLauncher("javaws");
  const std::string bin = (root_ / "bin").string();
  const Result r = RunLauncher({"-d"}, env_);
  EXPECT_EQ(r.exit_code, 0);
  const std::string search = "Launchveltraonline\nSearching in: " + bin + ":/bin\n";
  EXPECT_EQ(r.err, search + search + "Launchveltraonline\nStarting Veltra Online (javaws)\n" + bin +
                       "/javaws\n");
  ASSERT_TRUE(WaitFor(root_ / "javaws.args"));
  StartedPid("javaws");
}

namespace {

// No Java launcher anywhere, and a private desktop database in which a recording
// script is the application for JNLP files (unless the test says otherwise).
class DownloadProcess : public LauncherProcess {
 protected:
  void SetUp() override {
    LauncherProcess::SetUp();
    env_["XDG_DATA_HOME"] = (root_ / "data").string();
    env_["XDG_CONFIG_HOME"] = (root_ / "config").string();
    env_["XDG_DATA_DIRS"] = "/usr/share";  // the system's MIME database, no applications of ours
    env_["XDG_CONFIG_DIRS"] = (root_ / "none").string();
    env_["HOME"] = root_.string();
    fs::create_directories(root_ / "data" / "applications");
    fs::create_directories(root_ / "config");
  }
  void Associate() {
    const fs::path opener = root_ / "opener";
    std::ofstream(opener) << "#!/bin/sh\nprintf '%s\\n' \"$@\" > '"
                          << (root_ / "opened.part").string() << "'\n/bin/mv '"
                          << (root_ / "opened.part").string() << "' '"
                          << (root_ / "opened").string() << "'\n";
    fs::permissions(opener, fs::perms::owner_all);
    std::ofstream(root_ / "data" / "applications" / "vto-jnlp-opener.desktop")
        << "[Desktop Entry]\nType=Application\nName=JNLP opener\nExec=" << opener.string()
        << " %f\nMimeType=application/x-java-jnlp-file;\n";
    std::ofstream(root_ / "config" / "mimeapps.list")
        << "[Default Applications]\napplication/x-java-jnlp-file=vto-jnlp-opener.desktop\n";
  }
  std::vector<fs::path> TmpFiles() const {
    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(root_ / "tmp")) files.push_back(e.path());
    std::sort(files.begin(), files.end());
    return files;
  }
};

}  // namespace

TEST_F(DownloadProcess, TheServedFileIsSavedAndOpenedByItsApplication) {
  if (!vto::testing::NginxServer::Available()) GTEST_SKIP() << "nginx is not installed";
  vto::testing::NginxServer nginx;
  Associate();
  const Result r = RunLauncher({"-u", nginx.HttpsUrl("/app.jnlp")}, env_);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err, "");
  ASSERT_TRUE(WaitFor(root_ / "opened"));
  const auto files = TmpFiles();
  ASSERT_EQ(files.size(), 2u);
  const std::string empty = files[0].string(), jnlp = files[1].string();
  EXPECT_TRUE(vto::testing::IsTempName(jnlp, (root_ / "tmp").string(), "vto", ".jnlp")) << jnlp;
  EXPECT_EQ(jnlp, empty + ".jnlp");
  EXPECT_EQ(fs::file_size(empty), 0u);
  EXPECT_EQ(Slurp(jnlp), vto::testing::NginxServer::kJnlpBody);
  EXPECT_EQ(Slurp(root_ / "opened"), jnlp + "\n");
}

TEST_F(DownloadProcess, AnUnreachableServerIsReportedOnceAndWritesNoFile) {
  Associate();
  const std::string url =
      "https://127.0.0.1:" + std::to_string(vto::testing::UnusedLoopbackPort()) + "/vto.jnlp";
  const Result r = RunLauncher({"-u", url}, env_);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err, "Error\nUnable to download " + url +
                       "\nContact your IT administrator for assistance.\n");
  EXPECT_TRUE(TmpFiles().empty());
  EXPECT_FALSE(fs::exists(root_ / "opened"));
}

TEST_F(DownloadProcess, NoApplicationForJnlpFilesMeansJavaIsNotInstalled) {
  if (!vto::testing::NginxServer::Available()) GTEST_SKIP() << "nginx is not installed";
  vto::testing::NginxServer nginx;
  const Result r = RunLauncher({"-u", nginx.HttpsUrl("/app.jnlp")}, env_);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err,
            "Error\nJava is not installed on your computer. Please contact your IT department for "
            "assistance.\n");
  EXPECT_EQ(TmpFiles().size(), 2u);  // saved all the same
}

TEST_F(DownloadProcess, ABareUrlSwitchGivesTheDialogWithAnEmptyUrl) {
  const Result r = RunLauncher({"-u"}, env_);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err, "Error\nUnable to download \nContact your IT administrator for assistance.\n");
  EXPECT_TRUE(TmpFiles().empty());
}

namespace {

vto::testing::ScriptedServer::Options TlsServer(const std::string& folder) {
  const auto certs = vto::testing::MakeSelfSignedCertificate(
      folder, "server", "localhost", vto::testing::CertificateValidity::Current);
  vto::testing::ScriptedServer::Options o;
  o.tls = true;
  o.certFile = certs.certFile;
  o.keyFile = certs.keyFile;
  o.ioTimeoutMs = 60000;
  return o;
}

}  // namespace

// The built program at its real bound: a server that completes the handshake
// and then never answers is given up after 30 s of silence, with the dialog.
TEST_F(DownloadProcess, ASilentServerIsGivenUpAfterThirtySeconds) {
  Associate();
  vto::testing::ScriptedServer server(TlsServer(root_.string()));
  server.ExpectUntil("\r\n\r\n").Stall();
  server.Start();
  const std::string url = "https://127.0.0.1:" + std::to_string(server.Port()) + "/vto.jnlp";
  const auto start = std::chrono::steady_clock::now();
  const Result r = RunLauncher({"-u", url}, env_);
  const auto waited = std::chrono::steady_clock::now() - start;
  server.Release();
  server.Join();
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err, "Error\nUnable to download " + url +
                       "\nContact your IT administrator for assistance.\n");
  EXPECT_GE(waited, std::chrono::seconds(29));
  EXPECT_LT(waited, std::chrono::seconds(45));
  EXPECT_TRUE(TmpFiles().empty());
  EXPECT_FALSE(fs::exists(root_ / "opened"));
}

// A body announced at 100,000 bytes whose connection is reset after 50,000 is
// no download: nothing is saved or opened, and the user hears so.
TEST_F(DownloadProcess, ABodyCutByAResetIsNeitherSavedNorOpened) {
  Associate();
  vto::testing::ScriptedServer server(TlsServer(root_.string()));
  server.ExpectUntil("\r\n\r\n")
      .Send(
          "HTTP/1.1 200 OK\r\nContent-Type: application/x-java-jnlp-file\r\n"
          "Content-Length: 100000\r\n\r\n" +
          std::string(50000, 'x'))
      .Reset();
  server.Start();
  const std::string url = "https://127.0.0.1:" + std::to_string(server.Port()) + "/vto.jnlp";
  const Result r = RunLauncher({"-u", url}, env_);
  server.Join();
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err, "Error\nUnable to download " + url +
                       "\nContact your IT administrator for assistance.\n");
  EXPECT_TRUE(TmpFiles().empty());
  EXPECT_FALSE(fs::exists(root_ / "opened"));
}

// OpenSSL is loaded only for a download. Where what the loader finds cannot
// serve (a stand-in library without its functions, first on the library
// path), the download fails like any other, in the one dialog.
TEST_F(DownloadProcess, AnOpenSSLThatCannotBeUsedGivesTheDownloadDialog) {
  Associate();
  for (const char* standIn : {"crypto-only", "ssl-only"}) {
    SCOPED_TRACE(standIn);
    std::map<std::string, std::string> env = env_;
    env["LD_LIBRARY_PATH"] = std::string(VTO_STANDIN_DIR) + "/" + standIn;
    vto::testing::ScriptedServer server(TlsServer(root_.string()));
    server.NoHandshake().ExpectEnd();  // a connection comes, but no handshake
    server.Start();
    const std::string served = "https://127.0.0.1:" + std::to_string(server.Port()) + "/vto.jnlp";
    const Result r = RunLauncher({"-u", served}, env);
    server.Join();
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.err, "Error\nUnable to download " + served +
                         "\nContact your IT administrator for assistance.\n");
    EXPECT_TRUE(TmpFiles().empty());
    EXPECT_FALSE(fs::exists(root_ / "opened"));
  }
  // A Java launcher found needs no OpenSSL at all: with none to be had, it
  // still starts.
  FakeLauncher("javaws");
  std::map<std::string, std::string> env = env_;
  env["LD_LIBRARY_PATH"] = std::string(VTO_STANDIN_DIR) + "/both";
  const Result r = RunLauncher({}, env);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err, "");
  ASSERT_TRUE(WaitFor(root_ / "javaws.args"));
  StartedPid("javaws");
}
