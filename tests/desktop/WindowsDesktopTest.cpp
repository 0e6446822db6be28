// Tests of desktop/WindowsDesktop.cpp under Windows (run under Wine): real boxes
// read back from the screen, a real file association, the search, file and
// temporary-name rules.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include "desktop/Application.h"
#include "desktop/Desktop.h"
#include "desktop/TextCodec.h"
#include "desktop/WinApi.h"
#include "desktop/WindowsDesktop.h"
#include "tests/desktop/BoxReader.h"
#include "tests/desktop/JnlpAssociation.h"
#include "tests/support/RecordingDesktopGuard.h"
#include "tests/support/TempNames.h"

namespace fs = std::filesystem;
using namespace vto;

namespace {

// A private folder under the temporary folder, removed afterwards.
class TempDir {
 public:
  TempDir() {
    std::random_device random;
    path_ = fs::temp_directory_path() / ("vto-desktop-" + std::to_string(random()));
    fs::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  const fs::path& path() const { return path_; }
  std::string text() const { return path_.string(); }

 private:
  fs::path path_;
};

void Touch(const fs::path& p, const char* text = "x") {
  std::ofstream(p, std::ios::binary) << text;
}

std::string ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// Waits up to ten seconds for a file to appear.
bool AwaitFile(const fs::path& p) {
  for (int i = 0; i < 1000; ++i) {
    if (fs::exists(p)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

// The folder this test program lies in.
fs::path ProgramFolder() {
  wchar_t buffer[32768];
  const DWORD n = GetModuleFileNameW(nullptr, buffer, 32768);
  return fs::path(std::wstring(buffer, n)).parent_path();
}

fs::path Handler() {
  return ProgramFolder() / "vto_open_handler.exe";
}

// Shows the box on this thread while a second one reads it and presses Esc.
vto::testing::SeenBox ShowAndRead(const std::function<void()>& show, const std::string& caption) {
  vto::testing::SeenBox seen;
  std::atomic<bool> returned{false};
  std::thread reader([&] {
    seen = vto::testing::ReadBoxAndPressEscape(GetCurrentProcessId(), caption,
                                               [&] { return returned.load(); });
  });
  show();
  returned = true;
  reader.join();
  return seen;
}

}  // namespace

TEST(WindowsBoxes, EachKindShowsItsCaptionTextIconAndOneButtonAndEscClosesIt) {
  ASSERT_TRUE(WindowsDesktop::HasTaskDialog()) << "the test program lacks its manifest";
  struct Row {
    std::function<void(const std::string&)> show;
    std::string caption;
    bool icon;
    std::string button;
  };
  const std::vector<Row> rows = {
      {[](const std::string& t) { ShowMessageAt(t, -1, -1); }, "desktop_tests", false, "OK"},
      {[](const std::string& t) { ShowErrorDialog(t); }, "Error", true, "Cancel"},
      {[](const std::string& t) { ShowApplicationError(t); }, "Application Error", true, "OK"},
  };
  ASSERT_EQ(Application().Title(), "desktop_tests");
  // A line break, and characters beyond Latin-1 and beyond the first 64K.
  const std::string text =
      "Searching in: C:\\bin;\nzweite Zeile \xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
  for (const Row& row : rows) {
    const vto::testing::SeenBox box = ShowAndRead([&] { row.show(text); }, row.caption);
    ASSERT_TRUE(box.found) << row.caption;
    EXPECT_EQ(box.window_class, "#32770") << row.caption;
    EXPECT_EQ(box.buttons, std::vector<std::string>{row.button}) << vto::testing::Describe(box);
    EXPECT_EQ(box.icon, row.icon) << vto::testing::Describe(box);
    EXPECT_NE(std::find(box.texts.begin(), box.texts.end(), text), box.texts.end())
        << vto::testing::Describe(box);
    EXPECT_TRUE(box.closed_by_escape) << row.caption;
  }
}

TEST(WindowsEnvironment, UnsetIsEmptyAndValuesComeWhole) {
  WindowsDesktop real;
  const std::wstring long_value(5000, L'v');
  ASSERT_TRUE(SetEnvironmentVariableW(L"VTO_TEST_VALUE", long_value.c_str()));
  EXPECT_EQ(real.GetEnvironmentVariable("VTO_TEST_VALUE"), std::string(5000, 'v'));
  ASSERT_TRUE(SetEnvironmentVariableW(L"VTO_TEST_VALUE", L"C:\\J\u00e9va\\\u20ac"));
  EXPECT_EQ(real.GetEnvironmentVariable("VTO_TEST_VALUE"), "C:\\J\xC3\xA9va\\\xE2\x82\xAC");
  SetEnvironmentVariableW(L"VTO_TEST_VALUE", nullptr);
  EXPECT_EQ(real.GetEnvironmentVariable("VTO_TEST_VALUE"), "");
}

TEST(WindowsSearchPath, FoldersInTurnEmptyEntriesNamingNoFolder) {
  TempDir t;
  for (const char* d : {"a", "b", "c", "d"}) fs::create_directories(t.path() / d);
  Touch(t.path() / "b" / "prog.exe");
  Touch(t.path() / "c" / "prog.exe");
  fs::create_directories(t.path() / "d" / "prog.exe");  // a folder of that name
  Touch(t.path() / "prog.exe");                         // in the current folder
  const std::string a = (t.path() / "a").string(), b = (t.path() / "b").string(),
                    c = (t.path() / "c").string(), d = (t.path() / "d").string();
  const fs::path old = fs::current_path();
  fs::current_path(t.path());
  struct Row {
    std::string list;
    std::string found;  // empty: nothing found
  };
  const std::vector<Row> rows = {
      {a + ";" + c + ";" + b, c + "\\prog.exe"},
      {a + ";" + b + ";" + c, b + "\\prog.exe"},
      {";" + b + "\\;", b + "\\prog.exe"},  // an empty first entry, a trailing "\"
      {a, ""},
      {";;", ""},  // empty entries: never the current folder
      {"", ""},
      {a + ";;" + d, d + "\\prog.exe"},  // the search takes a folder as found
  };
  for (const Row& row : rows) {
    std::string found = "untouched";
    const std::size_t n = SearchPath(row.list, "prog.exe", found);
    if (row.found.empty()) {
      EXPECT_EQ(n, 0u) << row.list;
      EXPECT_EQ(found, "untouched") << row.list;
    } else {
      EXPECT_EQ(found, row.found) << row.list;
      EXPECT_EQ(n, found.size()) << row.list;
    }
  }
  std::string found;
  EXPECT_EQ(SearchPath(b, "", found), 0u);
  fs::current_path(old);
  // ... and the file test is what rejects the folder.
  EXPECT_FALSE(IsExistingFile(d + "\\prog.exe"));
}

TEST(WindowsIsExistingFile, FilesYesFoldersAndMissingNo) {
  TempDir t;
  Touch(t.path() / "file");
  fs::create_directories(t.path() / "folder");
  struct Row {
    std::string path;
    bool exists;
  };
  const std::vector<Row> rows = {
      {(t.path() / "file").string(), true},
      {(t.path() / "folder").string(), false},
      {(t.path() / "missing").string(), false},
      {"", false},
  };
  for (const Row& row : rows) EXPECT_EQ(IsExistingFile(row.path), row.exists) << row.path;
  // A file another process has open without sharing still exists.
  HANDLE h = CreateFileW((t.path() / "file").wstring().c_str(), GENERIC_READ, 0, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(IsExistingFile((t.path() / "file").string()));
  CloseHandle(h);
}

TEST(WindowsTempNames, FolderFromTmpAndUniqueExclusiveNames) {
  TempDir t;
  vto::testing::RecordingDesktopGuard r(t.text());
  EXPECT_EQ(GetTempFolder(), t.text() + "\\");
  r.SetTmpDir(t.text() + "\\");
  EXPECT_EQ(GetTempFolder(), t.text() + "\\");  // one "\" at the end, never two

  std::set<std::string> names;
  for (int i = 0; i < 100; ++i) {
    const std::string name = MakeTempFileName("vtoextra");
    ASSERT_TRUE(vto::testing::IsTempName(name, t.text(), "vto")) << name;
    ASSERT_TRUE(fs::exists(fs::u8path(name)));
    EXPECT_EQ(fs::file_size(fs::u8path(name)), 0u);
    names.insert(name);
  }
  EXPECT_EQ(names.size(), 100u);
  EXPECT_TRUE(vto::testing::IsTempName(MakeTempFileName("q"), t.text(), "q"));
  r.SetTmpDir((t.path() / "no-such-folder").string());
  EXPECT_EQ(MakeTempFileName("vto"), "");
}

TEST(WindowsWriteNewFile, WholeContentOnlyIntoANewName) {
  TempDir t;
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  const std::string fresh = (t.path() / "new.jnlp").string();
  EXPECT_TRUE(WriteNewFile(fresh, all));
  EXPECT_EQ(ReadFile(fresh), all);
  EXPECT_FALSE(WriteNewFile(fresh, "other"));  // the name is taken
  EXPECT_EQ(ReadFile(fresh), all);
  EXPECT_FALSE(WriteNewFile((t.path() / "missing" / "x").string(), "x"));
  EXPECT_TRUE(WriteNewFile((t.path() / "empty").string(), ""));
  EXPECT_EQ(fs::file_size(t.path() / "empty"), 0u);
}

TEST(WindowsAnsiCodePage, TheBytesFrom80To9FRoundTripAsLatin1) {
  // The document convention is ISO-8859-1 whatever the machine's code page:
  // 1252 would make 0x80 the euro sign.
  for (int b = 0x80; b <= 0x9F; ++b) {
    const std::string byte(1, static_cast<char>(b));
    std::string expected;
    AppendUtf8(expected, static_cast<char32_t>(b));
    EXPECT_EQ(AnsiToText(byte), expected) << b;
    EXPECT_EQ(TextToAnsi(AnsiToText(byte)), byte) << b;
  }
}

namespace {

// Where the handler writes the command line it was started with.
class HandlerOutput {
 public:
  explicit HandlerOutput(const fs::path& file) : file_(file) {
    SetEnvironmentVariableW(L"VTO_HANDLER_OUT", file.wstring().c_str());
  }
  ~HandlerOutput() { SetEnvironmentVariableW(L"VTO_HANDLER_OUT", nullptr); }
  const fs::path& file() const { return file_; }

 private:
  fs::path file_;
};

bool EndsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

TEST(WindowsShell, ADocumentOpensWithItsAssociationAndWithoutOneIsNoAssociation) {
  ASSERT_TRUE(fs::exists(Handler()));
  TempDir t;
  HandlerOutput out(t.path() / "opened");
  const std::string doc = (t.path() / "vto1a2b.tmp.jnlp").string();
  Touch(doc, "<jnlp/>");
  WindowsDesktop real;
  {
    vto::testing::JnlpAssociation association(Handler().wstring());
    ASSERT_TRUE(association.ok());
    EXPECT_GT(real.ShellExecute(doc, ""), kShellExecuteFailed);
    ASSERT_TRUE(AwaitFile(out.file()));
    EXPECT_TRUE(EndsWith(ReadFile(out.file()), " \"" + doc + "\"")) << ReadFile(out.file());
    fs::remove(out.file());
    EXPECT_EQ(real.ShellExecute((t.path() / "missing.jnlp").string(), ""), kSeErrFileNotFound);
  }
  EXPECT_EQ(real.ShellExecute(doc, ""), kSeErrNoAssociation);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_FALSE(fs::exists(out.file()));
}

TEST(WindowsShell, AProgramStartsWithTheParametersUnquotedAndNothingElseStarts) {
  ASSERT_TRUE(fs::exists(Handler()));
  TempDir t;
  HandlerOutput out(t.path() / "started");
  WindowsDesktop real;
  const std::string url = "https://veltra.example/a b.jnlp?x=1&y=\"2\"";
  EXPECT_GT(real.StartProgram(Handler().string(), url), kShellExecuteFailed);
  ASSERT_TRUE(AwaitFile(out.file()));
  EXPECT_TRUE(EndsWith(ReadFile(out.file()), " " + url)) << ReadFile(out.file());
  fs::remove(out.file());

  // Not programs: a text file named like one, a folder, nothing at all.
  Touch(t.path() / "javaws.exe", "not a program");
  struct Row {
    std::string path;
    int result;
  };
  const std::vector<Row> rows = {
      {(t.path() / "javaws.exe").string(), kSeErrAccessDenied},
      {t.text(), kSeErrAccessDenied},
      {(t.path() / "missing.exe").string(), kSeErrFileNotFound},
  };
  for (const Row& row : rows) EXPECT_EQ(real.StartProgram(row.path, url), row.result) << row.path;
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_FALSE(fs::exists(out.file()));
}

TEST(WindowsTitle, BackslashesSeparateFoldersToo) {
  EXPECT_EQ(TitleFromExecutable("C:\\Program Files\\Veltra\\LaunchVeltraOnline.exe"),
            "Launchveltraonline");
  EXPECT_EQ(TitleFromExecutable("C:\\x.y\\Tool.Exe"), "Tool");
}
