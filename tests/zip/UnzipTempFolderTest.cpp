// Unzip of a stranger's archive through the shared temporary folder: entries land
// there as new files only, never over a file that someone keeps there, and never
// over the archive copy being read.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "QELStream.h"
#include "RecordingDesktop.h"
#include "ZipTestUtil.h"

namespace vto {
namespace {

using namespace ziptest;

class UnzipTempFolder : public ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    tmp_ = root_ + "/tmp";
    fs::create_directory(tmp_);
    auto desktop = std::make_unique<RecordingDesktop>();
    desktop->environment["TMPDIR"] = tmp_;
    old_ = SetDesktop(std::move(desktop));
  }
  void TearDown() override {
    SetDesktop(std::move(old_));
    ScratchTest::TearDown();
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

  std::string tmp_;
  std::unique_ptr<Desktop> old_;
};

TEST_F(UnzipTempFolder, FurtherEntryNeverReplacesAFileKeptThere) {
  WriteFile(tmp_ + "/settings.ini", "someone's settings");
  const std::string content = Unzip(BuildArchive(
      {RawEntry::Stored("doc.pcl", "document"), RawEntry::Stored("settings.ini", "planted")}));
  EXPECT_EQ(content, "document");
  EXPECT_EQ(ReadFile(tmp_ + "/settings.ini"), "someone's settings");
}

TEST_F(UnzipTempFolder, FirstEntryNamedLikeAKeptFileLeavesContentAndFile) {
  WriteFile(tmp_ + "/report.txt", "kept");
  const std::string archive = BuildArchive({RawEntry::Stored("report.txt", "planted")});
  std::string name = "unchanged";
  EXPECT_EQ(Unzip(archive, &name), archive);
  EXPECT_EQ(name, "");
  EXPECT_EQ(ReadFile(tmp_ + "/report.txt"), "kept");
}

TEST_F(UnzipTempFolder, EntryNamedLikeAnExistingLinkLeavesTheLinkAlone) {
  WriteFile(root_ + "/target", "target bytes");
  fs::create_symlink(root_ + "/target", tmp_ + "/link.txt");
  Unzip(BuildArchive({RawEntry::Stored("a.txt", "a"), RawEntry::Stored("link.txt", "planted")}));
  EXPECT_TRUE(fs::is_symlink(fs::symlink_status(tmp_ + "/link.txt")));
  EXPECT_EQ(ReadFile(root_ + "/target"), "target bytes");
}

TEST_F(UnzipTempFolder, NewNamesAreStillExtractedAndTheFirstIsRemoved) {
  EXPECT_EQ(
      Unzip(BuildArchive({RawEntry::Stored("one.txt", "1"), RawEntry::Stored("two.txt", "2")})),
      "1");
  std::vector<std::string> left;
  for (auto& e : fs::directory_iterator(tmp_)) left.push_back(e.path().filename().string());
  EXPECT_EQ(left, std::vector<std::string>{"two.txt"});
}

}  // namespace
}  // namespace vto
