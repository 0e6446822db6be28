// Tests of launcher/launchvto.cpp and launcher/Entry.cpp: finding and starting Java, the dialogs.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "desktop/RecordingDesktop.h"
#include "launcher/CommandLine.h"
#include "launcher/Entry.h"
#include "launcher/launchvto.h"
#include "tests/support/RecordingDesktopGuard.h"

namespace fs = std::filesystem;
using namespace vto;
using Args = std::vector<std::string>;

namespace {

// How the search list and the found paths are written on this platform.
#if defined(_WIN32)
const std::string kSep = ";";
const std::string kBin = "\\bin;";  // what follows JAVA_HOME
std::string Program(const std::string& name) {
  return name + ".exe";
}
std::string Join(const std::string& folder, const std::string& name) {
  return folder + "\\" + name;
}
const std::string kJavaHome = "C:\\opt\\java";
#else
const std::string kSep = ":";
const std::string kBin = "/bin";
std::string Program(const std::string& name) {
  return name;
}
std::string Join(const std::string& folder, const std::string& name) {
  return folder + "/" + name;
}
const std::string kJavaHome = "/opt/java";
#endif

class LaunchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    root_ = fs::temp_directory_path() / ("vto-launch-" + std::to_string(random()));
    fs::create_directories(root_);
    desktop_.SetTmpDir(root_.string());
  }
  void TearDown() override { fs::remove_all(root_); }

  // Makes folder root/dir and, when given, a program file in it.
  std::string Folder(const std::string& dir, const char* program = nullptr) {
    fs::create_directories(root_ / dir);
    if (program) std::ofstream(root_ / dir / Program(program)) << "#!/bin/sh\n";
    return (root_ / dir).make_preferred().string();
  }
  void SetPath(const std::string& path) { desktop_->environment["PATH"] = path; }
  void SetJavaHome(const std::string& home) { desktop_->environment["JAVA_HOME"] = home; }

  std::vector<std::string> Texts() const {
    std::vector<std::string> texts;
    for (const auto& d : desktop_->dialogs) texts.push_back(d.text);
    return texts;
  }

  fs::path root_;
  vto::testing::RecordingDesktopGuard desktop_;
};

}  // namespace

TEST_F(LaunchTest, OpenwsWinsOverJavawsWhereverEachLies) {
  const std::string early = Folder("early", "javaws");
  const std::string late = Folder("late", "openws");
  SetPath(early + kSep + late);
  TLaunchVTO launcher;
  EXPECT_TRUE(launcher.execute());
  ASSERT_EQ(desktop_->shell_calls.size(), 1u);
  EXPECT_EQ(desktop_->shell_calls[0].file, Join(late, Program("openws")));
  EXPECT_EQ(desktop_->shell_calls[0].parameters, kBuiltInJNLPUrl);
  EXPECT_TRUE(desktop_->shell_calls[0].program);  // started as a program or not at all
  EXPECT_TRUE(desktop_->dialogs.empty());
}

TEST_F(LaunchTest, EarlierPathFoldersWinAndPathBeatsJavaHome) {
  const std::string a = Folder("a");
  const std::string b = Folder("b", "javaws");
  const std::string c = Folder("c", "javaws");
  const std::string home = Folder("jdk");
  Folder("jdk/bin", "javaws");
  SetPath(a + kSep + b + kSep + c);
  SetJavaHome(home);
  TLaunchVTO launcher;
  launcher.fJNPUrl = "https://other/x.jnlp";
  EXPECT_TRUE(launcher.execute());
  ASSERT_EQ(desktop_->shell_calls.size(), 1u);
  EXPECT_EQ(desktop_->shell_calls[0].file, Join(b, Program("javaws")));
  EXPECT_EQ(desktop_->shell_calls[0].parameters, "https://other/x.jnlp");

  desktop_->shell_calls.clear();
  SetPath(a);
  EXPECT_TRUE(launcher.execute());
  ASSERT_EQ(desktop_->shell_calls.size(), 1u);
  EXPECT_EQ(desktop_->shell_calls[0].file, Join(Join(home, "bin"), Program("javaws")));
  EXPECT_TRUE(launcher.fExeFoundOnPath);
}

TEST_F(LaunchTest, AFolderNamedLikeTheProgramIsNoProgram) {
  const std::string a = Folder("a");
  fs::create_directories(root_ / "a" / Program("openws"));  // a folder, found, then rejected
  const std::string b = Folder("b", "javaws");
  SetPath(a + kSep + b);
  TLaunchVTO launcher;
  EXPECT_TRUE(launcher.execute());
  ASSERT_EQ(desktop_->shell_calls.size(), 1u);
  EXPECT_EQ(desktop_->shell_calls[0].file, Join(b, Program("javaws")));
}

TEST_F(LaunchTest, DebugShowsOneSearchAndTheStartWhenOpenwsIsFound) {
  const std::string a = Folder("a", "openws");
  SetPath(a);
  SetJavaHome(kJavaHome);
  TLaunchVTO launcher;
  launcher.fdebug = true;
  launcher.fJNPUrl = "";
  EXPECT_TRUE(launcher.execute());
  EXPECT_EQ(Texts(), (std::vector<std::string>{
                         "Searching in: " + a + kSep + kJavaHome + kBin,
                         "Starting Veltra Online (openws)\n" + Join(a, Program("openws"))}));
  for (const auto& d : desktop_->dialogs) EXPECT_EQ(d.kind, DialogKind::Message);
  ASSERT_EQ(desktop_->shell_calls.size(), 1u);
  EXPECT_EQ(desktop_->shell_calls[0].parameters, "");  // an empty URL gives empty parameters
}

TEST_F(LaunchTest, DebugWithJavawsShowsBothSearchesThenTheStart) {
  const std::string a = Folder("a", "javaws");
  SetPath(a);
  TLaunchVTO launcher;
  launcher.fdebug = true;
  EXPECT_TRUE(launcher.execute());
  // JAVA_HOME unset: the list ends in the entry "/bin" ("\bin" on Windows).
  const std::string search = "Searching in: " + a + kSep + kBin;
  EXPECT_EQ(Texts(),
            (std::vector<std::string>{
                search, search, "Starting Veltra Online (javaws)\n" + Join(a, Program("javaws"))}));
}

TEST_F(LaunchTest, NeitherFoundDebugShowsTwoSearchesAndTheAssociationBox) {
  SetPath(Folder("empty"));
  TLaunchVTO launcher;
  launcher.fdebug = true;
  launcher.fJNPUrl = "https://elsewhere.example/other.jnlp";
  launcher.execute();
  const auto texts = Texts();
  ASSERT_GE(texts.size(), 3u);
  EXPECT_EQ(texts[0].rfind("Searching in: ", 0), 0u);
  EXPECT_EQ(texts[1], texts[0]);
  // Names the built-in URL, after a blank and a line break.
  EXPECT_EQ(texts[2], std::string("Starting by file association \n") + kBuiltInJNLPUrl);
  EXPECT_FALSE(launcher.fExeFoundOnPath);
}

TEST_F(LaunchTest, BuiltInUrlIsHttpsOnTheWebstartPath) {
  const std::string url = kBuiltInJNLPUrl;
  EXPECT_EQ(url.rfind("https://", 0), 0u);
  EXPECT_TRUE(url.ends_with("/webservices/vtqz/webstart/vto.jnlp"));
  TLaunchVTO launcher;
  EXPECT_EQ(launcher.fJNPUrl, url);
  EXPECT_FALSE(launcher.fdebug);
  EXPECT_FALSE(launcher.fExeFoundOnPath);
}

TEST_F(LaunchTest, EntryHelpWinsAndLaunchesNothing) {
  SetPath(Folder("a", "javaws"));
  SetCommandLineArguments(Args{"-d", "-u", "U", "-h"});
  EXPECT_EQ(RunLauncher(), 0);
  ASSERT_EQ(desktop_->dialogs.size(), 1u);
  EXPECT_EQ(desktop_->dialogs[0].text,
            "startup parameters:\n  -h : help\n  -d : debug will show dialogs to help identify "
            "issues\n  -u [testurl for jnlp] : to test a different location for the JNLP");
  EXPECT_EQ(desktop_->dialogs[0].kind, DialogKind::Message);
  EXPECT_TRUE(desktop_->shell_calls.empty());
}

TEST_F(LaunchTest, EntryPassesTheSwitchesToTheLauncher) {
  const std::string a = Folder("a", "javaws");
  SetPath(a);
  SetCommandLineArguments(Args{"/D", "-u:https://test/x.jnlp"});
  EXPECT_EQ(RunLauncher(), 0);
  ASSERT_EQ(desktop_->shell_calls.size(), 1u);
  EXPECT_EQ(desktop_->shell_calls[0].parameters, "https://test/x.jnlp");
  EXPECT_EQ(desktop_->dialogs.size(), 3u);

  desktop_->dialogs.clear();
  desktop_->shell_calls.clear();
  SetCommandLineArguments(Args{});
  EXPECT_EQ(RunLauncher(), 0);
  EXPECT_TRUE(desktop_->dialogs.empty());
  ASSERT_EQ(desktop_->shell_calls.size(), 1u);
  EXPECT_EQ(desktop_->shell_calls[0].parameters, kBuiltInJNLPUrl);
}

namespace {
// A desktop whose environment cannot be read: the error escapes the entry.
struct BrokenDesktop : RecordingDesktop {
  std::string GetEnvironmentVariable(const std::string&) override {
    throw std::runtime_error("stack could not start");
  }
};
}  // namespace

TEST(EntryErrors, AnEscapingErrorShowsApplicationErrorAndExitsOne) {
  vto::testing::RecordingDesktopGuard broken(std::make_unique<BrokenDesktop>());
  SetCommandLineArguments(Args{});
  EXPECT_EQ(RunLauncher(), 1);
  ASSERT_EQ(broken->dialogs.size(), 1u);
  EXPECT_EQ(broken->dialogs[0].kind, DialogKind::ApplicationError);
  EXPECT_EQ(broken->dialogs[0].caption, "Application Error");
  EXPECT_EQ(broken->dialogs[0].text, "stack could not start");
}
