// The built LaunchVeltraOnline.exe run as a user runs it (Windows, under Wine):
// its one-string command line, the help box read off the screen, a Java
// launcher found on PATH and started with the URL; without one, the download
// from nginx on the Linux side handed to the program registered for .jnlp,
// and the boxes of a failed download, of no association and of a socket
// library that cannot start.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>
#include <vector>

#include "desktop/TextCodec.h"
#include "desktop/WinApi.h"
#include "tests/desktop/BoxReader.h"
#include "tests/desktop/JnlpAssociation.h"
#include "tests/support/LoopbackPort.h"
#include "tests/support/NginxServer.h"

namespace fs = std::filesystem;

namespace {

fs::path ProgramFolder() {
  wchar_t buffer[32768];
  const DWORD n = GetModuleFileNameW(nullptr, buffer, 32768);
  return fs::path(std::wstring(buffer, n)).parent_path();
}

fs::path Launcher() {
  return ProgramFolder() / VTO_LAUNCHER_RELATIVE;
}

// The same program with a socket library that will not start.
fs::path LauncherWithoutWinsock() {
  return ProgramFolder() / "vto_launcher_no_winsock.exe";
}

// The launcher started with the arguments written after its quoted name.
class LauncherRun {
 public:
  explicit LauncherRun(const std::wstring& arguments, const fs::path& program = Launcher()) {
    std::wstring line = L"\"" + program.wstring() + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(program.wstring().c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &info))
      return;
    CloseHandle(info.hThread);
    process_ = info.hProcess;
    pid_ = info.dwProcessId;
  }
  ~LauncherRun() {
    if (process_ == nullptr) return;
    if (WaitForSingleObject(process_, 0) != WAIT_OBJECT_0) TerminateProcess(process_, 99);
    CloseHandle(process_);
  }
  LauncherRun(const LauncherRun&) = delete;
  LauncherRun& operator=(const LauncherRun&) = delete;

  bool started() const { return process_ != nullptr; }
  DWORD pid() const { return pid_; }
  bool Ended() const { return WaitForSingleObject(process_, 0) == WAIT_OBJECT_0; }
  // The exit code within ten seconds, or -1.
  long ExitCode() const {
    DWORD code = 0;
    if (WaitForSingleObject(process_, 10000) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(process_, &code))
      return -1;
    return static_cast<long>(code);
  }

 private:
  HANDLE process_ = nullptr;
  DWORD pid_ = 0;
};

// Sets an environment variable of this process (and so of the launcher) for as
// long as the object lives.
class Variable {
 public:
  Variable(const wchar_t* name, const std::wstring& value) : name_(name) {
    wchar_t buffer[32768];
    const DWORD n = GetEnvironmentVariableW(name, buffer, 32768);
    had_ = n > 0 && n < 32768;
    if (had_) old_.assign(buffer, n);
    SetEnvironmentVariableW(name, value.c_str());
  }
  ~Variable() { SetEnvironmentVariableW(name_, had_ ? old_.c_str() : nullptr); }
  Variable(const Variable&) = delete;
  Variable& operator=(const Variable&) = delete;

 private:
  const wchar_t* name_;
  bool had_ = false;
  std::wstring old_;
};

}  // namespace

TEST(LauncherProgram, HelpIsOneBoxCaptionedWithTheTitleAndTheExitCodeIsZero) {
  ASSERT_TRUE(fs::exists(Launcher())) << Launcher().string();
  for (const wchar_t* arguments : {L"-h", L"/H -d", L"-u \"https://x/a b.jnlp\" -h"}) {
    LauncherRun run(arguments);
    ASSERT_TRUE(run.started());
    const vto::testing::SeenBox box = vto::testing::ReadBoxAndPressEscape(
        run.pid(), "Launchveltraonline", [&] { return run.Ended(); });
    ASSERT_TRUE(box.found);
    EXPECT_EQ(box.texts,
              std::vector<std::string>{
                  "startup parameters:\n  -h : help\n  -d : debug will show dialogs to "
                  "help identify issues\n  -u [testurl for jnlp] : to test a different "
                  "location for the JNLP"})
        << vto::testing::Describe(box);
    EXPECT_EQ(box.buttons, std::vector<std::string>{"OK"});
    EXPECT_FALSE(box.icon);
    EXPECT_TRUE(box.closed_by_escape);
    EXPECT_EQ(run.ExitCode(), 0);
  }
}

TEST(LauncherProgram, AJavaLauncherOnThePathIsStartedWithTheUrlAsItsWholeParameterText) {
  std::random_device random;
  const fs::path folder = fs::temp_directory_path() / ("vto-program-" + std::to_string(random()));
  fs::create_directories(folder / "bin");
  fs::copy_file(ProgramFolder() / "vto_open_handler.exe", folder / "bin" / "javaws.exe");
  const fs::path out = folder / "started";
  {
    Variable path(L"PATH", (folder / "bin").wstring());
    Variable java_home(L"JAVA_HOME", folder.wstring());
    Variable handler_out(L"VTO_HANDLER_OUT", out.wstring());
    // Quoted on the command line, so blanks and all reach the launcher as one argument.
    LauncherRun run(L"-u \"https://veltra.example/a b.jnlp?x=1\"");
    ASSERT_TRUE(run.started());
    EXPECT_EQ(run.ExitCode(), 0);
    for (int i = 0; i < 1000 && !fs::exists(out); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  std::ifstream in(out, std::ios::binary);
  std::ostringstream line;
  line << in.rdbuf();
  const std::string expected =
      "\"" + (folder / "bin" / "javaws.exe").string() + "\" https://veltra.example/a b.jnlp?x=1";
  // The shell may write the program's name its own way; the parameters follow it unquoted.
  const std::string tail = " https://veltra.example/a b.jnlp?x=1";
  EXPECT_TRUE(line.str().size() > tail.size() &&
              line.str().compare(line.str().size() - tail.size(), tail.size(), tail) == 0)
      << line.str() << " (expected like " << expected << ")";
  std::error_code ignored;
  fs::remove_all(folder, ignored);
}

TEST(LauncherProgram, DebugShowsTheSearchListAsWindowsWritesItThenTheStart) {
  std::random_device random;
  const fs::path folder = fs::temp_directory_path() / ("vto-program-" + std::to_string(random()));
  fs::create_directories(folder / "path");
  fs::copy_file(ProgramFolder() / "vto_open_handler.exe", folder / "path" / "javaws.exe");
  const fs::path out = folder / "started";
  const std::string path = (folder / "path").string();
  const std::string home = "C:\\NoSuchJava";
  const std::string list = "Searching in: " + path + ";" + home + "\\bin;";
  const std::vector<std::string> boxes = {
      list, list, "Starting Veltra Online (javaws)\n" + path + "\\javaws.exe"};
  {
    Variable path_variable(L"PATH", vto::Utf8ToWide(path));
    Variable java_home(L"JAVA_HOME", vto::Utf8ToWide(home));
    Variable handler_out(L"VTO_HANDLER_OUT", out.wstring());
    LauncherRun run(L"-d");
    ASSERT_TRUE(run.started());
    for (const std::string& expected : boxes) {
      // Each box holds the search or start it announces until it is closed.
      EXPECT_FALSE(fs::exists(out));
      const vto::testing::SeenBox box = vto::testing::ReadBoxAndPressEscape(
          run.pid(), "Launchveltraonline", [&] { return run.Ended(); });
      ASSERT_TRUE(box.found) << expected;
      EXPECT_EQ(box.texts, std::vector<std::string>{expected}) << vto::testing::Describe(box);
      EXPECT_TRUE(box.closed_by_escape);
    }
    EXPECT_EQ(run.ExitCode(), 0);
    for (int i = 0; i < 1000 && !fs::exists(out); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(fs::exists(out));
  }
  std::error_code ignored;
  fs::remove_all(folder, ignored);
}

TEST(LauncherProgram, CarriesTheProjectVersionAndItsManifest) {
  const std::wstring file = Launcher().wstring();
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(file.c_str(), &ignored);
  ASSERT_GT(size, 0u);
  std::vector<unsigned char> data(size);
  ASSERT_TRUE(GetFileVersionInfoW(file.c_str(), 0, size, data.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  ASSERT_GE(length, sizeof(VS_FIXEDFILEINFO));
  const std::string version = std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." +
                              std::to_string(LOWORD(fixed->dwFileVersionMS)) + "." +
                              std::to_string(HIWORD(fixed->dwFileVersionLS));
  EXPECT_EQ(version, VTO_PROJECT_VERSION_3);
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));

  // The process manifest: common controls 6, no elevation, DPI awareness.
  HMODULE module = LoadLibraryExW(file.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(module, nullptr);
  HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
  ASSERT_NE(resource, nullptr);
  HGLOBAL loaded = LoadResource(module, resource);
  const DWORD manifest_size = SizeofResource(module, resource);
  ASSERT_NE(loaded, nullptr);
  const std::string manifest(static_cast<const char*>(LockResource(loaded)), manifest_size);
  FreeLibrary(module);
  for (const char* part : {"name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
                           "level=\"asInvoker\"", "PerMonitorV2"})
    EXPECT_NE(manifest.find(part), std::string::npos) << part;
}

namespace {

// A folder of the test's own, with PATH and JAVA_HOME pointing into it and no
// Java launcher there: the launcher takes its download path.
class NoJava {
 public:
  NoJava()
      : folder_(fs::temp_directory_path() /
                ("vto-nojava-" + std::to_string(std::random_device()()))),
        made_(fs::create_directories(folder_ / "bin")),
        path_(L"PATH", (folder_ / "bin").wstring()),
        java_home_(L"JAVA_HOME", folder_.wstring()) {}
  ~NoJava() {
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }
  const fs::path& folder() const { return folder_; }

 private:
  fs::path folder_;
  bool made_;
  Variable path_;
  Variable java_home_;
};

std::string ReadWhole(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// vtoXXXX.tmp.jnlp in the temporary folder: one to four hexadecimal digits
// (Wine writes them in lower case, Windows in upper case).
bool IsTempJnlpName(const fs::path& path) {
  const std::string name = path.filename().string();
  const std::string tail = ".tmp.jnlp";
  // The folder's names compared as Windows compares them, without case.
  const auto folder = [](const fs::path& p) {
    std::wstring text = p.lexically_normal().wstring();
    while (!text.empty() && (text.back() == L'\\' || text.back() == L'/')) text.pop_back();
    CharUpperBuffW(text.data(), static_cast<DWORD>(text.size()));
    return text;
  };
  if (folder(path.parent_path()) != folder(fs::temp_directory_path())) return false;
  if (name.size() < 3 + 1 + tail.size() || name.compare(0, 3, "vto") != 0) return false;
  if (name.compare(name.size() - tail.size(), tail.size(), tail) != 0) return false;
  const std::string digits = name.substr(3, name.size() - 3 - tail.size());
  return digits.size() <= 4 &&
         digits.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
}

}  // namespace

TEST(LauncherProgram, WithoutJavaTheDownloadIsSavedWholeAndOpenedByTheAssociatedProgram) {
  if (!vto::testing::NginxServer::Available()) GTEST_SKIP() << "nginx is not installed";
  vto::testing::NginxServer nginx;
  NoJava no_java;
  vto::testing::JnlpAssociation association((ProgramFolder() / "vto_open_handler.exe").wstring());
  ASSERT_TRUE(association.ok());
  const fs::path out = no_java.folder() / "opened";
  Variable handler_out(L"VTO_HANDLER_OUT", out.wstring());
  LauncherRun run(vto::Utf8ToWide("-u " + nginx.HttpsUrl("/app.jnlp")));
  ASSERT_TRUE(run.started());
  EXPECT_EQ(run.ExitCode(), 0);
  for (int i = 0; i < 1000 && !fs::exists(out); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  // The handler's command line ends with the saved file's name, quoted.
  const std::string line = ReadWhole(out);
  ASSERT_GE(line.size(), 2u) << line;
  ASSERT_EQ(line.back(), '"') << line;
  const std::size_t open = line.rfind('"', line.size() - 2);
  ASSERT_NE(open, std::string::npos) << line;
  const fs::path saved = fs::u8path(line.substr(open + 1, line.size() - open - 2));
  EXPECT_TRUE(IsTempJnlpName(saved)) << saved.string() << " in " << fs::temp_directory_path();
  EXPECT_EQ(ReadWhole(saved), vto::testing::NginxServer::kJnlpBody);
  // Beside it the empty name it was made from stays, as both files do.
  fs::path empty = saved;
  empty.replace_extension();
  EXPECT_TRUE(fs::exists(empty) && fs::file_size(empty) == 0) << empty.string();
  std::error_code ignored;
  fs::remove(saved, ignored);
  fs::remove(empty, ignored);
}

TEST(LauncherProgram, AFailedDownloadAndAMissingAssociationEachShowTheirOneErrorDialog) {
  if (!vto::testing::NginxServer::Available()) GTEST_SKIP() << "nginx is not installed";
  vto::testing::NginxServer nginx;
  NoJava no_java;
  const std::string refused =
      "https://127.0.0.1:" + std::to_string(vto::testing::UnusedLoopbackPort()) + "/vto.jnlp";
  struct Row {
    std::string url;
    std::string text;
  };
  const std::vector<Row> rows = {
      {refused,
       "Unable to download " + refused + "\nContact your IT administrator for assistance."},
      // Downloaded, but no program is associated with .jnlp.
      {nginx.HttpsUrl("/app.jnlp"),
       "Java is not installed on your computer. Please contact your IT department for "
       "assistance."},
  };
  for (const Row& row : rows) {
    LauncherRun run(vto::Utf8ToWide("-u " + row.url));
    ASSERT_TRUE(run.started());
    const vto::testing::SeenBox box =
        vto::testing::ReadBoxAndPressEscape(run.pid(), "Error", [&] { return run.Ended(); });
    ASSERT_TRUE(box.found) << row.url;
    EXPECT_EQ(box.texts, std::vector<std::string>{row.text}) << vto::testing::Describe(box);
    EXPECT_EQ(box.buttons, std::vector<std::string>{"Cancel"}) << vto::testing::Describe(box);
    EXPECT_TRUE(box.icon);
    EXPECT_EQ(run.ExitCode(), 0);
  }
}

TEST(LauncherProgram, ASocketLibraryThatCannotStartEndsInTheApplicationErrorBoxAndExitCodeOne) {
  ASSERT_TRUE(fs::exists(LauncherWithoutWinsock()));
  NoJava no_java;
  LauncherRun run(L"-u https://127.0.0.1:9/vto.jnlp", LauncherWithoutWinsock());
  ASSERT_TRUE(run.started());
  const vto::testing::SeenBox box = vto::testing::ReadBoxAndPressEscape(
      run.pid(), "Application Error", [&] { return run.Ended(); });
  ASSERT_TRUE(box.found);
  ASSERT_EQ(box.texts.size(), 1u) << vto::testing::Describe(box);
  // The stack's message, then the system's text for the error where it has one.
  EXPECT_EQ(box.texts[0].rfind("Error on call to Winsock2 library function WSAStartup", 0), 0u)
      << box.texts[0];
  EXPECT_EQ(box.buttons, std::vector<std::string>{"OK"});
  EXPECT_TRUE(box.icon);
  EXPECT_EQ(run.ExitCode(), 1);
}
