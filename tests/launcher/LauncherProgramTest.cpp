// The built LaunchVeltraOnline.exe run as a user runs it (Windows, under Wine):
// its one-string command line, the help box read off the screen, a Java
// launcher found on PATH and started with the URL.
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

// The launcher started with the arguments written after its quoted name.
class LauncherRun {
 public:
  explicit LauncherRun(const std::wstring& arguments) {
    std::wstring line = L"\"" + Launcher().wstring() + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(Launcher().wstring().c_str(), line.data(), nullptr, nullptr, FALSE, 0,
                        nullptr, nullptr, &startup, &info))
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
