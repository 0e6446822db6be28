// Tests of desktop/LinuxDesktop.cpp: the real Linux desktop and its files, folders and names.
#include <fcntl.h>
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "desktop/Desktop.h"
#include "desktop/LinuxDesktop.h"
#include "tests/support/RecordingDesktopGuard.h"
#include "tests/support/TempNames.h"

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

}  // namespace

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
  vto::testing::RecordingDesktopGuard r;
  TempDir t;
  EXPECT_EQ(GetTempFolder(), "/tmp/");
  r.SetTmpDir(t.path().string());
  EXPECT_EQ(GetTempFolder(), t.path().string() + "/");
  r.SetTmpDir(t.path().string() + "/");
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

  r.SetTmpDir((t.path() / "no-such-folder").string());
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
    // An application activated over D-Bus, for pictures (the test of a launch
    // that is never handed over brings it up on a bus of its own).
    std::ofstream(r / "data" / "applications" / "org.example.VtoStall.desktop")
        << "[Desktop Entry]\nType=Application\nName=Stall\nDBusActivatable=true\n"
        << "Exec=/bin/false %f\nMimeType=image/x-xpixmap;\n";
    std::ofstream(r / "config" / "mimeapps.list")
        << "[Default Applications]\napplication/x-java-jnlp-file=vto-test-opener.desktop\n"
        << "application/x-shellscript=vto-test-opener.desktop\ntext/plain=vto-test-opener.desktop\n"
        << "image/x-xpixmap=org.example.VtoStall.desktop\n";
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

namespace {

// A session bus of the test's own, with an application on it that takes every
// launch request and never answers one.
class StallingApplication {
 public:
  StallingApplication() {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    char* argv[] = {const_cast<char*>("dbus-daemon"), const_cast<char*>("--session"),
                    const_cast<char*>("--nofork"), const_cast<char*>("--print-address=1"), nullptr};
    if (posix_spawnp(&daemon_, "dbus-daemon", &fa, nullptr, argv, environ) != 0) daemon_ = -1;
    posix_spawn_file_actions_destroy(&fa);
    close(out[1]);
    char c;
    while (daemon_ > 0 && read(out[0], &c, 1) == 1 && c != '\n') address_ += c;
    close(out[0]);
    if (address_.empty()) return;
    thread_ = std::thread([this] { Serve(); });
    for (int i = 0; i < 500 && !ready_; ++i) usleep(10000);
  }
  ~StallingApplication() {
    stop_ = true;
    if (context_ != nullptr) g_main_context_wakeup(context_);
    if (thread_.joinable()) thread_.join();
    if (daemon_ > 0) {
      kill(daemon_, SIGTERM);
      waitpid(daemon_, nullptr, 0);
    }
  }
  bool Ready() const { return ready_; }
  const std::string& Address() const { return address_; }
  int Requests() const { return requests_; }

 private:
  static void OnCall(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                     GVariant*, GDBusMethodInvocation* invocation, gpointer self) {
    auto* app = static_cast<StallingApplication*>(self);
    ++app->requests_;
    app->held_.push_back(G_OBJECT(g_object_ref(invocation)));  // never answered
  }
  void Serve() {
    context_ = g_main_context_new();
    g_main_context_push_thread_default(context_);
    GDBusConnection* bus = g_dbus_connection_new_for_address_sync(
        address_.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
    GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(
        "<node><interface name='org.freedesktop.Application'>"
        "<method name='Activate'><arg type='a{sv}' direction='in'/></method>"
        "<method name='Open'><arg type='as' direction='in'/><arg type='a{sv}' direction='in'/>"
        "</method></interface></node>",
        nullptr);
    const GDBusInterfaceVTable vtable{OnCall, nullptr, nullptr, {}};
    if (bus != nullptr && node != nullptr &&
        g_dbus_connection_register_object(bus, "/org/example/VtoStall", node->interfaces[0],
                                          &vtable, this, nullptr, nullptr) != 0) {
      GVariant* owned = g_dbus_connection_call_sync(
          bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
          "RequestName", g_variant_new("(su)", "org.example.VtoStall", 4u), nullptr,
          G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
      if (owned != nullptr) {
        g_variant_unref(owned);
        ready_ = true;
      }
    }
    while (!stop_) g_main_context_iteration(context_, TRUE);
    for (GObject* o : held_) g_object_unref(o);
    if (node != nullptr) g_dbus_node_info_unref(node);
    if (bus != nullptr) {
      g_dbus_connection_close_sync(bus, nullptr, nullptr);
      g_object_unref(bus);
    }
    g_main_context_pop_thread_default(context_);
  }

  pid_t daemon_ = -1;
  std::string address_;
  std::thread thread_;
  GMainContext* context_ = nullptr;
  std::atomic<bool> ready_{false};
  std::atomic<bool> stop_{false};
  std::atomic<int> requests_{0};
  std::vector<GObject*> held_;
};

}  // namespace

TEST(ShellExecuteReal, ALaunchNeverHandedOverIsGivenUpAtTheLimit) {
  StallingApplication app;
  if (!app.Ready()) GTEST_SKIP() << "no D-Bus daemon to be had (dbus-daemon)";
  setenv("DBUS_SESSION_BUS_ADDRESS", app.Address().c_str(), 1);
  DesktopDatabase();
  TempDir t;
  const fs::path picture = t.path() / "stall.xpm";
  Touch(picture, "/* XPM */");
  LinuxDesktop::SetLaunchHandOverLimit(500);
  LinuxDesktop real;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(real.ShellExecute(picture.string(), ""), kSeErrAccessDenied);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_GE(app.Requests(), 1);  // the request reached it, and no answer came
  LinuxDesktop::SetLaunchHandOverLimit(30000);
  unsetenv("DBUS_SESSION_BUS_ADDRESS");
}
