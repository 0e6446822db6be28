// Tests of qelstream/QELStreamZip.cpp.
// Zip and Unzip of the document stream: the archive it makes, what comes back, the
// position afterwards, the temporary folder, and content that is no archive.
#include <gtest/gtest.h>

#include <memory>

#include "desktop/DateTime.h"
#include "qelstream/QELStream.h"
#include "tests/support/RecordingDesktopGuard.h"
#include "tests/zip/ZipTestUtil.h"
#include "zip/AbUnZipper.h"
#include "zip/ZipArchive.h"

namespace vto {
namespace {

using namespace ziptest;

std::string Content(TQELMemoryStream& s) {
  return std::string(s.Memory(), static_cast<std::size_t>(s.Size()));
}

void SetContent(TQELMemoryStream& s, const std::string& bytes) {
  s.Clear();
  if (!bytes.empty()) s.WriteBuffer(bytes.data(), static_cast<std::int32_t>(bytes.size()));
}

std::uint32_t Le32(const std::string& s, std::size_t at) {
  return GetLE32(reinterpret_cast<const unsigned char*>(s.data()) + at);
}

// The temporary folder is a scratch folder of the test's own (TMPDIR of a recording
// desktop), so what Unzip leaves behind can be seen.
class QELStreamZip : public ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    tmp_ = root_ + "/tmp";
    fs::create_directory(tmp_);
    desktop_.SetTmpDir(tmp_);
  }
  std::vector<std::string> TempFiles() const {
    std::vector<std::string> names;
    for (auto& e : fs::directory_iterator(tmp_)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  std::string tmp_;
  vto::testing::RecordingDesktopGuard desktop_;
};

TEST_F(QELStreamZip, RoundTripGivesTheSameBytesNameAndDate) {
  std::string data;
  for (int i = 0; i < 20000; ++i) data += static_cast<char>((i * 7) % 256);
  TQELMemoryStream s;
  SetContent(s, data);
  const TDateTime when = EncodeDate(2024, 5, 6) + EncodeTime(13, 14, 15, 500);
  s.Zip("", "this comment goes nowhere", when);
  const std::string archive = Content(s);
  EXPECT_EQ(archive.substr(30, 3), "zip");
  EXPECT_EQ(archive.find("this comment"), std::string::npos);
  std::string name = "before", comment = "before";
  TDateTime date = 1;
  s.Unzip(name, comment, date);
  EXPECT_EQ(Content(s), data);
  EXPECT_EQ(s.Position(), 0);
  EXPECT_EQ(name, "zip");
  EXPECT_EQ(comment, "");
  EXPECT_DOUBLE_EQ(date, EncodeDate(2024, 5, 6) + EncodeTime(13, 14, 14, 0));
  EXPECT_EQ(TempFiles(), std::vector<std::string>{});  // nothing left behind
  EXPECT_TRUE(desktop_->dialogs.empty());
}

TEST_F(QELStreamZip, ZipWithoutArgumentsUsesNowAndTheNameZip) {
  TQELMemoryStream s;
  SetContent(s, "hello");
  const TDateTime before = Now();
  s.Zip();
  const TDateTime after = Now();
  std::string name, comment;
  TDateTime date = 0;
  s.Unzip(name, comment, date);
  EXPECT_EQ(Content(s), "hello");
  EXPECT_EQ(name, "zip");
  EXPECT_GE(date, before - 2.5 / 86400);
  EXPECT_LE(date, after);
}

TEST_F(QELStreamZip, EmptyContentGivesThe104ByteArchive) {
  TQELMemoryStream s;
  s.Zip("", "", EncodeDate(2020, 1, 1));
  const std::string archive = Content(s);
  ASSERT_EQ(archive.size(), 104u);
  EXPECT_EQ(archive[8], 0);  // stored
  EXPECT_EQ(Le32(archive, 18), 0u);
  EXPECT_EQ(Le32(archive, 22), 0u);
  s.Unzip();
  EXPECT_EQ(s.Size(), 0);
  EXPECT_EQ(s.Position(), 0);
  EXPECT_EQ(TempFiles(), std::vector<std::string>{});
}

TEST_F(QELStreamZip, AnyFileNameComesBackWithoutItsFolders) {
  struct Case {
    std::string given, stored;
  };
  const Case cases[] = {
      {"C:\\out\\report.pcl", "report.pcl"},
      {"dir/report.pcl", "report.pcl"},
      {"/abs/dir/report.pcl", "report.pcl"},
      {"/home/u/r\xC3\xA9sum\xC3\xA9 \xE6\x96\x87\xE6\x9B\xB8.txt",
       "r\xC3\xA9sum\xC3\xA9 \xE6\x96\x87\xE6\x9B\xB8.txt"},  // UTF-8
      {"with space & 'quote'", "with space & 'quote'"},
      {"/abs/dir/", "zip"},  // no file name left: as for an empty one
      {"x/..", "zip"},
  };
  for (const Case& c : cases) {
    TQELMemoryStream s;
    SetContent(s, "PCL data");
    s.Zip(c.given, "", EncodeDate(2020, 1, 1));
    EXPECT_EQ(Content(s).substr(30, c.stored.size()), c.stored) << c.given;
    const std::string path = root_ + "/z.zip";
    WriteFile(path, Content(s));
    std::string out;
    EXPECT_EQ(RunCommand("python3 -c 'import sys,zipfile; "
                         "sys.stdout.buffer.write(zipfile.ZipFile(sys.argv[1]).namelist()[0]"
                         ".encode())' " +
                             Quote(path),
                         &out),
              0);
    EXPECT_EQ(out, c.stored) << c.given;
    std::string name, comment;
    TDateTime date = 0;
    s.Unzip(name, comment, date);
    EXPECT_EQ(name, c.stored) << c.given;
    EXPECT_EQ(Content(s), "PCL data") << c.given;
  }
  EXPECT_EQ(TempFiles(), std::vector<std::string>{});
}

TEST_F(QELStreamZip, PositionAfterZip) {
  TQELMemoryStream small;
  SetContent(small, "0123456789");
  small.Zip("", "", EncodeDate(2020, 1, 1));
  EXPECT_GT(small.Size(), 10);
  EXPECT_EQ(small.Position(), 10);  // the old size: the archive is longer
  TQELMemoryStream large;
  SetContent(large, std::string(100000, 'a'));
  large.Zip("", "", EncodeDate(2020, 1, 1));
  EXPECT_LT(large.Size(), 100000);
  EXPECT_EQ(large.Position(), large.Size());  // the archive is shorter: its end
}

TEST_F(QELStreamZip, ArchivesPassInfoZipAndPython) {
  std::string text;
  while (text.size() < 500000) text += "Print job line " + std::to_string(text.size()) + "\r\n";
  for (const std::string& data : {std::string(), std::string("x"), text}) {
    TQELMemoryStream s;
    SetContent(s, data);
    s.Zip("report.txt", "", EncodeDate(2024, 5, 6) + EncodeTime(13, 14, 15, 0));
    const std::string path = root_ + "/z.zip";
    WriteFile(path, Content(s));
    std::string out;
    EXPECT_EQ(RunCommand("unzip -t " + Quote(path), &out), 0) << out;
    EXPECT_EQ(RunCommand("python3 -c 'import sys,zipfile; z=zipfile.ZipFile(sys.argv[1]); "
                         "assert z.testzip() is None; print(len(z.read(\"report.txt\")))' " +
                             Quote(path),
                         &out),
              0)
        << out;
    EXPECT_EQ(out, std::to_string(data.size()) + "\n");
  }
}

TEST_F(QELStreamZip, DateBefore1980LeavesTheDateAndTheArchiveCopy) {
  TQELMemoryStream s;
  SetContent(s, "old data");
  s.Zip("", "", EncodeDate(1979, 12, 31));
  EXPECT_EQ(Le32(Content(s), 10), 0u);
  std::string name, comment = "x";
  TDateTime date = 42;
  s.Unzip(name, comment, date);
  EXPECT_EQ(Content(s), "old data");
  EXPECT_EQ(name, "zip");
  EXPECT_EQ(comment, "");
  EXPECT_EQ(date, 42);
  const auto left = TempFiles();
  ASSERT_EQ(left.size(), 1u);  // the archive copy; the extracted file went with its folder
  EXPECT_EQ(left[0].substr(0, 3), "qel");
  EXPECT_EQ(left[0].substr(left[0].size() - 4), ".tmp");
}

TEST_F(QELStreamZip, ContentThatIsNoArchiveStays) {
  TQELMemoryStream s;
  SetContent(s, "just some text, no archive");
  s.SetPosition(5);
  std::string name = "n", comment = "c";
  TDateTime date = 7;
  EXPECT_NO_THROW(s.Unzip(name, comment, date));
  EXPECT_EQ(Content(s), "just some text, no archive");
  EXPECT_EQ(s.Position(), 0);
  EXPECT_EQ(name, "n");
  EXPECT_EQ(date, 7);
  // Another archive format is refused just the same.
  const std::string gz = "\x1F\x8B\x08" + std::string(30, '\0');
  SetContent(s, gz);
  s.Unzip();
  EXPECT_EQ(Content(s), gz);
}

TEST_F(QELStreamZip, FirstEntryWithAFolderLeavesTheContent) {
  TQELMemoryStream s;
  const std::string archive = BuildArchive({RawEntry::Stored("dir/a.txt", "inner")});
  SetContent(s, archive);
  s.Unzip();
  EXPECT_EQ(Content(s), archive);
  EXPECT_EQ(s.Position(), 0);
  EXPECT_FALSE(fs::exists(tmp_ + "/a.txt"));  // extracted without its folder, then removed
}

TEST_F(QELStreamZip, DamagedCrcStillLoadsTheBytes) {
  VTO_SKIP_WITHOUT_PEER_DATA("zips");
  TQELMemoryStream s;
  SetContent(s, ReadFile(PeerZip("from-test-literals/py-badcrc-stored.zip")));
  std::string name, comment;
  TDateTime date = 0;
  s.Unzip(name, comment, date);
  EXPECT_EQ(Content(s), "hello,Aworld");
  EXPECT_EQ(name, "afile");
  EXPECT_DOUBLE_EQ(date, EncodeDate(2009, 12, 10) + EncodeTime(17, 25, 0, 0));
}

TEST_F(QELStreamZip, FurtherEntriesLeaveNothingBehind) {
  TQELMemoryStream s;
  RawEntry first = RawEntry::Stored("first.txt", "one");
  first.comment = "entry comment \xE9";
  SetContent(s, BuildArchive({first, RawEntry::Stored("second.txt", "two")}));
  std::string name, comment;
  TDateTime date = 0;
  s.Unzip(name, comment, date);
  EXPECT_EQ(Content(s), "one");
  EXPECT_EQ(comment, "entry comment \xE9");  // bytes come back as they were stored
  EXPECT_EQ(TempFiles(), std::vector<std::string>{});
}

TEST_F(QELStreamZip, NameLeadingOutOfTheTemporaryFolderIsNeverRead) {
  WriteFile(root_ + "/secret", "SECRET");
  TQELMemoryStream s;
  const std::string archive = BuildArchive({RawEntry::Stored("../secret", "payload")});
  SetContent(s, archive);
  s.Unzip();
  EXPECT_EQ(Content(s), archive);
  EXPECT_EQ(ReadFile(root_ + "/secret"), "SECRET");  // neither read nor deleted
}

TEST_F(QELStreamZip, AFileThatWasThereBeforeIsNeverReadOrDeleted) {
  VTO_SKIP_WITHOUT_PEER_DATA("zips");
  // The first entry cannot be extracted (encrypted); a file of its name that someone
  // else keeps in the temporary folder must stay out of it.
  WriteFile(tmp_ + "/encrypted", "someone else's file");
  TQELMemoryStream s;
  const std::string archive = ReadFile(PeerZip("libzip-encrypt.zip"));
  SetContent(s, archive);
  std::string name = "n";
  TDateTime date = 0;
  std::string comment;
  s.Unzip(name, comment, date);
  EXPECT_EQ(Content(s), archive);
  EXPECT_EQ(name, "n");
  EXPECT_EQ(ReadFile(tmp_ + "/encrypted"), "someone else's file");
}

TEST_F(QELStreamZip, UnwritableTemporaryFolderReachesTheCaller) {
  desktop_.SetTmpDir(root_ + "/missing");
  TQELMemoryStream s;
  SetContent(s, "data");
  s.SetPosition(2);
  EXPECT_THROW(s.Unzip(), EStreamError);
  EXPECT_EQ(s.Position(), 2);
  EXPECT_EQ(Content(s), "data");
}

}  // namespace
}  // namespace vto
