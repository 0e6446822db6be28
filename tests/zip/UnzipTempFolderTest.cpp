// Tests of qelstream/QELStreamZip.cpp and zip/AbUnZipper.cpp.
// Unzip of a stranger's archive through the shared temporary folder: entries go
// into a folder of the call's own, never near a file that someone keeps there,
// and nothing stays behind.
#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <grp.h>
#include <sys/wait.h>
#endif

#include <algorithm>
#include <memory>

#include "qelstream/QELStream.h"
#include "tests/support/RecordingDesktopGuard.h"
#include "tests/support/TempNames.h"
#include "tests/zip/ZipTestUtil.h"

namespace vto {
namespace {

using namespace ziptest;

class UnzipTempFolder : public ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    tmp_ = root_ + "/tmp";
    fs::create_directory(tmp_);
    desktop_.SetTmpDir(tmp_);
  }
  std::string Unzip(const std::string& archive, std::string* name = nullptr) {
    TQELMemoryStream s;
    s.AppendStr(archive);
    std::string n, c;
    TDateTime d = 0;
    s.Unzip(n, c, d);
    if (name != nullptr) *name = n;
    return s.GetAsString();
  }

  // What is in the temporary folder.
  std::vector<std::string> Left() const {
    std::vector<std::string> names;
    for (auto& e : fs::directory_iterator(tmp_)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  std::string tmp_;
  vto::testing::RecordingDesktopGuard desktop_;
};

TEST_F(UnzipTempFolder, FurtherEntryNeverReplacesAFileKeptThere) {
  WriteFile(tmp_ + "/settings.ini", "someone's settings");
  const std::string content = Unzip(BuildArchive(
      {RawEntry::Stored("doc.pcl", "document"), RawEntry::Stored("settings.ini", "planted")}));
  EXPECT_EQ(content, "document");
  EXPECT_EQ(ReadFile(tmp_ + "/settings.ini"), "someone's settings");
}

TEST_F(UnzipTempFolder, FirstEntryNamedLikeAKeptFileIsExtractedApartFromIt) {
  WriteFile(tmp_ + "/report.txt", "kept");
  std::string name;
  EXPECT_EQ(Unzip(BuildArchive({RawEntry::Stored("report.txt", "packed")}), &name), "packed");
  EXPECT_EQ(name, "report.txt");
  EXPECT_EQ(ReadFile(tmp_ + "/report.txt"), "kept");
  EXPECT_EQ(Left(), std::vector<std::string>{"report.txt"});
}

// Wine 8 makes no symbolic links: Linux only.
#if !defined(_WIN32)
TEST_F(UnzipTempFolder, EntryNamedLikeAnExistingLinkLeavesTheLinkAlone) {
  WriteFile(root_ + "/target", "target bytes");
  fs::create_symlink(root_ + "/target", tmp_ + "/link.txt");
  EXPECT_EQ(Unzip(BuildArchive({RawEntry::Stored("link.txt", "planted")})), "planted");
  EXPECT_TRUE(fs::is_symlink(fs::symlink_status(tmp_ + "/link.txt")));
  EXPECT_EQ(ReadFile(root_ + "/target"), "target bytes");
}
#endif

TEST_F(UnzipTempFolder, NothingStaysBehindButTheArchiveCopyOfAFailure) {
  std::vector<RawEntry> overlapping;
  for (int i = 0; i < 40; ++i)
    overlapping.push_back(RawEntry::Stored("e" + std::to_string(i), "x"));
  EXPECT_EQ(Unzip(BuildArchive(overlapping)), "x");
  EXPECT_EQ(Left(), std::vector<std::string>{});
  // A first entry that cannot be extracted: the content stays, the copy of the
  // archive stays as the failure leaves it, the folder of the entries goes.
  const std::string archive =
      BuildArchive({RawEntry::Stored("..", "a"), RawEntry::Stored("second", "b")});
  EXPECT_EQ(Unzip(archive), archive);
  const auto left = Left();
  ASSERT_EQ(left.size(), 1u);
#if defined(_WIN32)
  // GetTempFileNameA's digits (Wine writes them in lower case).
  EXPECT_EQ(left[0].substr(0, 3), "qel") << left[0];
  EXPECT_EQ(left[0].substr(left[0].size() - 4), ".tmp") << left[0];
#else
  EXPECT_TRUE(vto::testing::IsTempName(tmp_ + "/" + left[0], tmp_, "qel")) << left[0];
#endif
}

TEST_F(UnzipTempFolder, LaterEntriesThatCannotBeExtractedFailAlone) {
  std::vector<RawEntry> entries = {RawEntry::Stored("first.txt", "first")};
  for (const std::string& name :
       {std::string(".."), std::string("."), std::string("x/.."), std::string("nul\0end", 7),
        std::string("a\0/../x", 7), std::string("dir/")})
    entries.push_back(RawEntry::Stored(name, "bad"));
  RawEntry same = RawEntry::Stored("d/first.txt", "a later entry of the same file name");
  entries.push_back(same);
  std::string name;
  EXPECT_EQ(Unzip(BuildArchive(entries), &name), "first");
  EXPECT_EQ(name, "first.txt");
  EXPECT_EQ(Left(), std::vector<std::string>{});
}

#if !defined(_WIN32)
// Users, modes and the umask are Linux matters: Linux only.
// Every mode an archive can give still lets its unprivileged owner read the
// entry back. The suite runs as root, who reads anything: the case runs in a
// child process as "nobody".
TEST_F(UnzipTempFolder, AnUnprivilegedUserReadsBackEntriesOfAnyMode) {
  constexpr uid_t kNobody = 65534;
  const bool root = ::geteuid() == 0;
  const std::string home = root_ + "/nobody";
  fs::create_directory(home);
  if (root) {
    ASSERT_EQ(::chmod(root_.c_str(), 0755), 0);
    ASSERT_EQ(::chown(home.c_str(), kNobody, kNobody), 0);
  }
  const vto::testing::RecordingDesktopGuard desktop(home);  // a TMPDIR that nobody owns
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(fds[0]);
    std::string report;
    if (root &&
        (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)) {
      report = "skip: cannot become uid 65534 here";
    } else {
      ::umask(077);
      for (const std::uint32_t mode : {0100000u, 0100200u, 0100444u, 0120777u, 0104111u}) {
        RawEntry e = RawEntry::Stored("entry", "bytes of mode " + std::to_string(mode));
        e.made_by = 3 << 8 | 30;
        e.attributes = mode << 16;
        TQELMemoryStream s;
        s.AppendStr(BuildArchive({e}));
        s.Unzip();
        if (s.GetAsString() != e.data) report += "mode " + std::to_string(mode) + " not read; ";
      }
      if (!fs::is_empty(home)) report += "files left behind; ";
    }
    (void)!::write(fds[1], report.data(), report.size());
    ::_exit(0);
  }
  ::close(fds[1]);
  std::string report;
  char buf[256];
  for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;)
    report.append(buf, static_cast<std::size_t>(n));
  ::close(fds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  if (report.rfind("skip: ", 0) == 0) GTEST_SKIP() << report.substr(6);
  EXPECT_EQ(report, "");
}

#else
// A read-only entry is read back, and the private folder goes with it.
TEST_F(UnzipTempFolder, ReadOnlyEntriesAreReadBackAndRemoved) {
  std::vector<RawEntry> entries;
  for (const std::string name : {"first.txt", "second.txt"}) {
    entries.push_back(RawEntry::Stored(name, "bytes of " + name));
    entries.back().attributes = 0x21;  // read-only
  }
  std::string name;
  EXPECT_EQ(Unzip(BuildArchive(entries), &name), "bytes of first.txt");
  EXPECT_EQ(name, "first.txt");
  EXPECT_EQ(Left(), std::vector<std::string>{});
}
#endif

}  // namespace
}  // namespace vto
