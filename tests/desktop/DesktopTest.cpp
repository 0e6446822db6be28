#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>

#include "Application.h"
#include "Desktop.h"
#include "LinuxDesktop.h"
#include "RecordingDesktop.h"
#include "TempNames.h"

namespace fs = std::filesystem;
using namespace vto;

namespace {

// A private folder under the system's temporary folder, removed afterwards.
class TempDir {
 public:
  TempDir() {
    std::string templ = (fs::temp_directory_path() / "vto-desktop-XXXXXX").string();
    path_ = mkdtemp(templ.data());
  }
  ~TempDir() { fs::remove_all(path_); }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

void Touch(const fs::path& p, const char* text = "x") {
  std::ofstream(p) << text;
}

// Installs a recording desktop for the length of a test.
struct Recorder {
  Recorder() : desktop(new RecordingDesktop) {
    previous = SetDesktop(std::unique_ptr<Desktop>(desktop));
  }
  ~Recorder() { SetDesktop(std::move(previous)); }
  RecordingDesktop* desktop;
  std::unique_ptr<Desktop> previous;
};

}  // namespace

TEST(ApplicationTitle, CutAtFirstDotAndLowerCasedAfterTheFirstCharacter) {
  EXPECT_EQ(TitleFromExecutable("/usr/bin/LaunchVeltraOnline"), "Launchveltraonline");
  EXPECT_EQ(TitleFromExecutable("C/LaunchVeltraOnline.exe"), "Launchveltraonline");
  EXPECT_EQ(TitleFromExecutable("my.tool.bin"), "my");  // the first character stays as it is
  EXPECT_EQ(TitleFromExecutable("lAUNCH"), "launch");
  EXPECT_EQ(TitleFromExecutable("ÀÉÎ"), "Àéî");
  EXPECT_EQ(TitleFromExecutable(".hidden"), "");
}

TEST(Dialogs, CarryTheirKindCaptionAndText) {
  Recorder r;
  ShowMessageAt("hello\nworld", -1, -1);
  ShowErrorDialog("bad");
  ShowApplicationError("worse");
  ASSERT_EQ(r.desktop->dialogs.size(), 3u);
  EXPECT_EQ(r.desktop->dialogs[0].kind, DialogKind::Message);
  EXPECT_EQ(r.desktop->dialogs[0].caption, Application().Title());
  EXPECT_EQ(r.desktop->dialogs[0].text, "hello\nworld");
  EXPECT_EQ(r.desktop->dialogs[1].kind, DialogKind::Error);
  EXPECT_EQ(r.desktop->dialogs[1].caption, "Error");
  EXPECT_EQ(r.desktop->dialogs[2].kind, DialogKind::ApplicationError);
  EXPECT_EQ(r.desktop->dialogs[2].caption, "Application Error");
}

TEST(Environment, UnsetIsEmptyAndValuesComeWhole) {
  LinuxDesktop real;
  setenv("VTO_TEST_VALUE", std::string(5000, 'v').c_str(), 1);
  EXPECT_EQ(real.GetEnvironmentVariable("VTO_TEST_VALUE").size(), 5000u);
  unsetenv("VTO_TEST_VALUE");
  EXPECT_EQ(real.GetEnvironmentVariable("VTO_TEST_VALUE"), "");
}

TEST(SearchPathTest, FirstFolderWithTheEntryWins) {
  TempDir t;
  fs::create_directories(t.path() / "a");
  fs::create_directories(t.path() / "b");
  fs::create_directories(t.path() / "c");
  Touch(t.path() / "b" / "prog");
  Touch(t.path() / "c" / "prog");
  const std::string a = (t.path() / "a").string(), b = (t.path() / "b").string(),
                    c = (t.path() / "c").string();
  std::string found;
  const std::size_t length = SearchPath(a + ":" + c + ":" + b, "prog", found);
  EXPECT_EQ(found, c + "/prog");
  EXPECT_EQ(length, found.size());
  EXPECT_NE(SearchPath(":" + b + "/", "prog", found), 0u);  // trailing slash, empty first entry
  EXPECT_EQ(found, b + "/prog");
  found = "untouched";
  EXPECT_EQ(SearchPath(a, "prog", found), 0u);
  EXPECT_EQ(found, "untouched");
  EXPECT_EQ(SearchPath("", "prog", found), 0u);
  EXPECT_EQ(SearchPath(b, "", found), 0u);
}

TEST(SearchPathTest, EmptyEntriesNeverMeanTheCurrentFolder) {
  TempDir t;
  Touch(t.path() / "prog");
  const fs::path old = fs::current_path();
  fs::current_path(t.path());
  std::string found;
  EXPECT_EQ(SearchPath("::", "prog", found), 0u);
  fs::current_path(old);
}

TEST(IsExistingFileTest, FilesYesFoldersAndDanglingOrUnreadableLinksNo) {
  TempDir t;
  Touch(t.path() / "file");
  fs::create_directories(t.path() / "folder");
  fs::create_symlink(t.path() / "file", t.path() / "good-link");
  fs::create_symlink(t.path() / "missing", t.path() / "dangling");
  fs::create_symlink(t.path() / "folder", t.path() / "folder-link");
  EXPECT_TRUE(IsExistingFile((t.path() / "file").string()));
  EXPECT_TRUE(IsExistingFile((t.path() / "good-link").string()));
  EXPECT_FALSE(IsExistingFile((t.path() / "folder").string()));
  EXPECT_FALSE(IsExistingFile((t.path() / "dangling").string()));
  EXPECT_FALSE(IsExistingFile((t.path() / "folder-link").string()));
  EXPECT_FALSE(IsExistingFile((t.path() / "nothing").string()));
  EXPECT_FALSE(IsExistingFile(""));
  if (geteuid() != 0) {  // root reads everything
    Touch(t.path() / "secret");
    chmod((t.path() / "secret").c_str(), 0);
    fs::create_symlink(t.path() / "secret", t.path() / "secret-link");
    EXPECT_TRUE(IsExistingFile((t.path() / "secret").string()));
    EXPECT_FALSE(IsExistingFile((t.path() / "secret-link").string()));
  }
}

TEST(TempNames, FolderFromTmpdirAndUniqueExclusiveNames) {
  Recorder r;
  TempDir t;
  EXPECT_EQ(GetTempFolder(), "/tmp/");
  r.desktop->environment["TMPDIR"] = t.path().string();
  EXPECT_EQ(GetTempFolder(), t.path().string() + "/");
  r.desktop->environment["TMPDIR"] = t.path().string() + "/";
  EXPECT_EQ(GetTempFolder(), t.path().string() + "/");

  std::set<std::string> names;
  for (int i = 0; i < 200; ++i) {
    const std::string name = MakeTempFileName("vtoextra");
    ASSERT_TRUE(vto::testing::IsTempName(name, t.path().string(), "vto")) << name;
    ASSERT_TRUE(fs::exists(name));
    EXPECT_EQ(fs::file_size(name), 0u);
    names.insert(name);
  }
  EXPECT_EQ(names.size(), 200u);
  EXPECT_TRUE(vto::testing::IsTempName(MakeTempFileName("q"), t.path().string(), "q"));

  r.desktop->environment["TMPDIR"] = (t.path() / "no-such-folder").string();
  EXPECT_EQ(MakeTempFileName("vto"), "");
}

TEST(ShellExecuteReal, MissingFilesAndFoldersAreNotStarted) {
  TempDir t;
  LinuxDesktop real;
  EXPECT_EQ(real.ShellExecute((t.path() / "missing").string(), ""), kSeErrFileNotFound);
  EXPECT_EQ(real.ShellExecute("", ""), kSeErrFileNotFound);
  EXPECT_LE(real.ShellExecute(t.path().string(), ""), kShellExecuteFailed);
}

TEST(ShellExecuteReal, StartsAProgramWithTheParametersAsItsOneArgument) {
  TempDir t;
  const fs::path script = t.path() / "prog";
  const fs::path out = t.path() / "out";
  // A descriptor of ours that is not close-on-exec: the child must not get it.
  const int leak = fcntl(open("/dev/null", O_RDONLY), F_DUPFD, 77);
  ASSERT_GE(leak, 77);
  std::ofstream(script) << "#!/bin/sh\n{ printf '%s|' \"$#\" \"$@\"; echo;"
                        << " [ -e /proc/$$/fd/" << leak << " ] && echo leaked || echo closed; } > "
                        << out.string() << ".part\nmv " << out.string() << ".part " << out.string()
                        << "\n";
  fs::permissions(script, fs::perms::owner_all);
  LinuxDesktop real;
  EXPECT_GT(real.ShellExecute(script.string(), "a b \"c\""), kShellExecuteFailed);
  for (int i = 0; i < 500 && !fs::exists(out); ++i) usleep(10000);
  std::ifstream in(out);
  std::string args, fds;
  std::getline(in, args);
  std::getline(in, fds);
  EXPECT_EQ(args, "1|a b \"c\"|");
  EXPECT_EQ(fds, "closed");

  fs::remove(out);
  EXPECT_GT(real.ShellExecute(script.string(), ""), kShellExecuteFailed);
  for (int i = 0; i < 500 && !fs::exists(out); ++i) usleep(10000);
  std::ifstream in2(out);
  std::getline(in2, args);
  EXPECT_EQ(args, "0|");  // no argument at all for empty parameters
  close(leak);
}

namespace {
// A private desktop database, the same for every test of this process (GIO reads
// it once): one application registered as the default for JNLP files, and the
// system's MIME database.
const fs::path& DesktopDatabase() {
  static const fs::path root = [] {
    std::string templ = (fs::temp_directory_path() / "vto-xdg-XXXXXX").string();
    fs::path r = mkdtemp(templ.data());
    fs::create_directories(r / "data" / "applications");
    fs::create_directories(r / "config");
    const fs::path opener = r / "opener";
    std::ofstream(opener) << "#!/bin/sh\nprintf '%s\\n' \"$@\" > " << (r / "opened.part").string()
                          << "\nmv " << (r / "opened.part").string() << " "
                          << (r / "opened").string() << "\n";
    fs::permissions(opener, fs::perms::owner_all);
    // The opener also takes shell scripts and plain text: what a Java launcher
    // that cannot be run would be opened with if it were taken for a document.
    std::ofstream(r / "data" / "applications" / "vto-test-opener.desktop")
        << "[Desktop Entry]\nType=Application\nName=Opener\nExec=" << opener.string()
        << " %f\nMimeType=application/x-java-jnlp-file;application/x-shellscript;text/plain;\n";
    std::ofstream(r / "config" / "mimeapps.list")
        << "[Default Applications]\napplication/x-java-jnlp-file=vto-test-opener.desktop\n"
        << "application/x-shellscript=vto-test-opener.desktop\ntext/plain=vto-test-opener.desktop\n";
    setenv("XDG_DATA_HOME", (r / "data").c_str(), 1);
    setenv("XDG_DATA_DIRS", "/usr/share", 1);
    setenv("XDG_CONFIG_HOME", (r / "config").c_str(), 1);
    setenv("XDG_CONFIG_DIRS", (r / "none").c_str(), 1);
    return r;
  }();
  return root;
}
}  // namespace

TEST(ShellExecuteReal, DocumentOpensWithTheDefaultApplicationForItsType) {
  const fs::path& db = DesktopDatabase();
  TempDir t;
  const fs::path doc = t.path() / "vtoA3F1.tmp.jnlp";
  Touch(doc, "<jnlp/>");
  LinuxDesktop real;
  ASSERT_GT(real.ShellExecute(doc.string(), ""), kShellExecuteFailed);
  for (int i = 0; i < 500 && !fs::exists(db / "opened"); ++i) usleep(10000);
  std::ifstream in(db / "opened");
  std::string line;
  std::getline(in, line);
  EXPECT_EQ(line, doc.string());
  fs::remove(db / "opened");
}

TEST(ShellExecuteReal, DocumentWithoutAnApplicationIsNoAssociation) {
  DesktopDatabase();
  TempDir t;
  const fs::path doc = t.path() / "file.vto-unknown-type";
  Touch(doc, "\x01\x02\x03");
  LinuxDesktop real;
  EXPECT_EQ(real.ShellExecute(doc.string(), ""), kSeErrNoAssociation);
}

TEST(ShellExecuteReal, AProgramThatCannotRunIsNeverOpenedAsADocument) {
  const fs::path& db = DesktopDatabase();
  TempDir t;
  // A script that is not executable, named so that its type has an application.
  const fs::path script = t.path() / "javaws.sh";
  Touch(script, "#!/bin/sh\necho started\n");
  LinuxDesktop real;
  EXPECT_EQ(real.StartProgram(script.string(), "https://x/vto.jnlp"), kSeErrAccessDenied);
  usleep(200000);
  EXPECT_FALSE(fs::exists(db / "opened"));
  EXPECT_EQ(real.StartProgram(t.path().string(), ""), kSeErrAccessDenied);  // a folder
  EXPECT_EQ(real.StartProgram((t.path() / "missing").string(), ""), kSeErrFileNotFound);
  // The same file as a document does go to its application: the opener is real.
  ASSERT_GT(real.ShellExecute(script.string(), ""), kShellExecuteFailed);
  for (int i = 0; i < 500 && !fs::exists(db / "opened"); ++i) usleep(10000);
  EXPECT_TRUE(fs::exists(db / "opened"));
  fs::remove(db / "opened");
}
