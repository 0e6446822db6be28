// Tests of zip/AbUnZipper.cpp and zip/ZipCommon.cpp.
// The extractor: recognising and opening archives, decoding names, extracting entries
// written by Info-ZIP, Python and public test suites, and hostile archives that must
// never write outside the base folder.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <time.h>
#include <zlib.h>
#if defined(_WIN32)
#include "desktop/WinApi.h"
#include "streams/WideNames.h"
#endif

#include <random>

#include "desktop/DateTime.h"
#include "desktop/TextCodec.h"
#include "streams/ZStreams.h"
#if !defined(_WIN32)
#include "tests/support/ZoneGuard.h"
#endif
#include "tests/zip/ZipTestUtil.h"
#include "zip/AbUnZipper.h"
#include "zip/ZipArchive.h"

namespace vto {
namespace {

using namespace ziptest;
using ::testing::StrEq;
using ::testing::ThrowsMessage;

// Opens the archive, extracts everything into the base folder and returns
// "name: message" for every failure the notification reported.
std::vector<std::string> ExtractAll(const std::string& archive, const std::string& base,
                                    TAbExtractOptions options = {eoCreateDirs},
                                    const std::string& mask = "*.*") {
  std::vector<std::string> failures;
  TAbUnZipper u;
  u.SetOnProcessItemFailure([&](TAbZipItem& item, const Exception& e) {
    failures.push_back(item.FileName() + ": " + e.what());
  });
  u.SetExtractOptions(options);
  u.SetFileName(archive);
  u.SetBaseDirectory(base);
  u.ExtractFiles(mask);
  return failures;
}

std::string RawDeflate(const std::string& data) {
  return DeflateRaw(data);
}

#if defined(_WIN32)
// The file's attributes (INVALID_FILE_ATTRIBUTES when it has none).
DWORD AttributesOf(const std::string& path) {
  std::wstring wide;
  EXPECT_TRUE(WideName(path, wide)) << path;
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  EXPECT_NE(attributes, INVALID_FILE_ATTRIBUTES) << path;
  return attributes;
}

bool IsReadOnly(const std::string& path) {
  const DWORD attributes = AttributesOf(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

// The last write time in seconds since 1970 (UTC).
std::int64_t MTimeOf(const std::string& path) {
  std::wstring wide;
  WIN32_FILE_ATTRIBUTE_DATA data{};
  EXPECT_TRUE(WideName(path, wide) &&
              GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data) != 0)
      << path;
  const std::uint64_t ticks =
      (static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
      data.ftLastWriteTime.dwLowDateTime;
  return static_cast<std::int64_t>(ticks / 10000000u) - 11644473600LL;
}
#else
mode_t ModeOf(const std::string& path) {
  struct stat st;
  EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
  return st.st_mode;
}

time_t MTimeOf(const std::string& path) {
  struct stat st;
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return st.st_mtime;
}
#endif

#if defined(_WIN32)
// Under Wine the zone is the one Wine started in (TZ set inside a Windows
// process changes nothing): times there are compared through the zone's rules.
struct UtcZone {};

std::int64_t LocalUnix(TDateTime local) {
  return DateTimeToUnix(LocalToUtc(local));
}
#else
// Times are local: pin the zone for the tests that look at them.
class UtcZone : public vto::testing::ZoneGuard {
 public:
  UtcZone() : ZoneGuard("UTC") {}
};

std::int64_t LocalUnix(TDateTime local) {
  return DateTimeToUnix(local);  // local time is UTC here
}
#endif

// ---- name decoding and masks ----

TEST(ZipNameDecoding, Utf8ByFlagOrByValidBytes) {
  EXPECT_EQ(DecodeEntryName("\xE4\xB8\x96\xE7\x95\x8C", "", 0, 0x800), "世界");
  // Valid UTF-8 with a non-ASCII byte wins even from an MS-DOS host without the flag.
  EXPECT_EQ(DecodeEntryName("\xE4\xB8\x96\xE7\x95\x8C", "", 0, 0), "世界");
  // Flagged but broken: the broken byte becomes U+FFFD.
  EXPECT_EQ(DecodeEntryName("a\xFF", "", 0, 0x800), "a\xEF\xBF\xBD");
}

TEST(ZipNameDecoding, UnicodePathFieldOnlyWithMatchingCrc) {
  const std::string raw = "\x81.txt";  // not UTF-8
  std::string good;
  Put16(good, 0x7075);
  Put16(good, static_cast<std::uint16_t>(5 + 8));
  good += '\x01';
  Put32(good, ZipCrc32(raw));
  good += "unicode!";
  EXPECT_EQ(DecodeEntryName(raw, good, 3 << 8, 0), "unicode!");
  std::string bad = good;
  bad[5] ^= 1;  // CRC no longer matches: the field is ignored
  EXPECT_EQ(DecodeEntryName(raw, bad, 3 << 8, 0), "ü.txt");
  std::string version2 = good;
  version2[4] = 2;
  EXPECT_EQ(DecodeEntryName(raw, version2, 3 << 8, 0), "ü.txt");
}

TEST(ZipNameDecoding, Utf16NameField) {
  const std::string raw = "ab?";
  std::string field;
  Put16(field, 0x554E);
  Put16(field, static_cast<std::uint16_t>(8 + 2 * raw.size()));
  Put32(field, 0x5843554E);
  Put32(field, 0);
  Put16(field, 'a');
  Put16(field, 0x00E9);
  Put16(field, 0x20AC);
  EXPECT_EQ(DecodeEntryName(raw, field, 0, 0), "aé€");
  std::string wrong_size = field;
  wrong_size[2] = static_cast<char>(8 + 2 * raw.size() - 2);
  wrong_size.resize(wrong_size.size() - 2);
  EXPECT_EQ(DecodeEntryName(raw, wrong_size, 0, 0), "ab?");
}

TEST(ZipNameDecoding, OemForDosHostsAnsiOtherwise) {
  EXPECT_EQ(DecodeEntryName("\xE9", "", 0, 0), "Θ");            // code page 437
  EXPECT_EQ(DecodeEntryName("\xE9", "", 3 << 8, 0), "é");       // ISO-8859-1
  EXPECT_EQ(DecodeEntryName("\x81\xE9", "", 3 << 8, 0), "üΘ");  // looks like OEM text
  EXPECT_EQ(DecodeEntryName("plain.txt", "", 11 << 8, 0), "plain.txt");
}

TEST(ZipNameDecoding, ExtraFieldBlocksThatOverrunAreIgnored) {
  std::string extra;
  Put16(extra, 0x7075);
  Put16(extra, 200);  // longer than what follows
  extra += "\x01xxxx";
  std::string_view data;
  EXPECT_FALSE(FindExtraField(extra, 0x7075, data));
}

TEST(ZipMasks, Wildcards) {
  EXPECT_TRUE(MatchesFileMask("noext", "*.*"));
  EXPECT_TRUE(MatchesFileMask("a.b.c", "*.*"));
  EXPECT_TRUE(MatchesFileMask("dir/a.txt", "*"));
  EXPECT_FALSE(MatchesFileMask("", "*.*"));
  EXPECT_TRUE(MatchesFileMask("dir/sub/a.txt", "*.TXT"));  // last part only
  EXPECT_TRUE(MatchesFileMask("dir/sub/a.txt", "A.txt"));
  EXPECT_FALSE(MatchesFileMask("dir/sub/a.txt", "sub/a.txt"));  // with a folder: whole name
  EXPECT_TRUE(MatchesFileMask("dir/sub/a.txt", "dir/*/a.txt"));
  EXPECT_TRUE(MatchesFileMask("dir\\a.txt", "dir/a.txt"));
  EXPECT_TRUE(MatchesFileMask("abc", "a?c"));
  EXPECT_FALSE(MatchesFileMask("abbc", "a?c"));
  EXPECT_TRUE(MatchesFileMask("éclair", "?CLAIR"));  // one character, not one byte
  EXPECT_TRUE(MatchesFileMask("ÉCLAIR.doc", "é*"));
  EXPECT_TRUE(MatchesFileMask("b.dat", " a.txt ;  *.dat "));
  EXPECT_FALSE(MatchesFileMask("b.dat", "a.txt;;c.*"));
  EXPECT_FALSE(MatchesFileMask("b.dat", ""));
}

// ---- opening ----

class UnZipperOpen : public ScratchTest {};

TEST_F(UnZipperOpen, MissingEmptyAndForeignFiles) {
  TAbUnZipper u;
  EXPECT_THROW(u.SetFileName(root_ + "/none.zip"), EAbFileNotFound);
  EXPECT_THROW(u.SetFileName(base_), EAbFileNotFound);  // a folder is no file
  WriteFile(root_ + "/empty.tmp", "");
  ASSERT_THAT([&] { u.SetFileName(root_ + "/empty.tmp"); },
              ThrowsMessage<EAbBadStream>(StrEq("Invalid Stream")));
  std::mt19937 rng(3);
  std::string noise(5000, '\0');
  for (auto& c : noise) c = static_cast<char>('a' + rng() % 20);  // no "PK" in it
  WriteFile(root_ + "/noise.tmp", noise);
  ASSERT_THAT([&] { u.SetFileName(root_ + "/noise.tmp"); },
              ThrowsMessage<EAbUnhandledType>(StrEq("Unhandled Archive Type")));
  EXPECT_EQ(u.Count(), 0);
  EXPECT_THROW(u.ExtractFiles("*.*"), EAbNoArchive);
  EXPECT_THROW(u.Items(0), EAbIndexError);
}

TEST_F(UnZipperOpen, OtherArchiveFormatsAreRecognisedAndRefused) {
  WriteFile(root_ + "/payload.txt", "some text for the other formats\n");
  ASSERT_EQ(
      RunCommand(
          "cd " + Quote(root_) +
          " && tar cf t.tar payload.txt && gzip -c payload.txt > g.gz"
          " && bzip2 -c payload.txt > b.bz2 && cp t.tar t.tmp && cp g.gz g.tmp && cp b.bz2 b.tmp"),
      0);
  WriteFile(root_ + "/c.tmp", std::string("MSCF\0\0\0\0", 8) + std::string(100, 'x'));
  EXPECT_EQ(AbDetermineArchiveType(root_ + "/t.tar"), atTar);
  EXPECT_EQ(AbDetermineArchiveType(root_ + "/t.tmp"), atTar);
  EXPECT_EQ(AbDetermineArchiveType(root_ + "/g.gz"), atGzip);
  EXPECT_EQ(AbDetermineArchiveType(root_ + "/g.tmp"), atGzip);
  EXPECT_EQ(AbDetermineArchiveType(root_ + "/b.bz2"), atBzip2);
  EXPECT_EQ(AbDetermineArchiveType(root_ + "/b.tmp"), atBzip2);
  EXPECT_EQ(AbDetermineArchiveType(root_ + "/c.tmp"), atCab);
  for (const char* name : {"t.tar", "g.gz", "b.bz2", "c.tmp"}) {
    TAbUnZipper u;
    EXPECT_THROW(u.SetFileName(root_ + "/" + name), EAbUnhandledType) << name;
  }
}

TEST_F(UnZipperOpen, ZipKindsByContentAndExtension) {
  const std::string zip = BuildArchive({RawEntry::Stored("a", "x")});
  WriteFile(root_ + "/a.tmp", zip);
  WriteFile(root_ + "/a.zip", zip);
  WriteFile(root_ + "/a.gz", zip);  // the extension is checked against the content
  WriteFile(root_ + "/sfx.exe", "MZ" + std::string(100, '\0') + zip);
  WriteFile(root_ + "/elf.tmp",
            "\x7F"
            "ELF" +
                std::string(100, '\0') + zip);
  WriteFile(root_ + "/span.tmp", "PK\x07\x08" + zip);
  EXPECT_EQ(AbDetermineArchiveType(root_ + "/a.tmp"), atZip);
  EXPECT_EQ(AbDetermineArchiveType(root_ + "/a.zip"), atZip);
  EXPECT_EQ(AbDetermineArchiveType(root_ + "/a.gz"), atZip);
  EXPECT_EQ(AbDetermineArchiveType(root_ + "/sfx.exe"), atSelfExtZip);
  EXPECT_EQ(AbDetermineArchiveType(root_ + "/elf.tmp"), atSelfExtZip);
  EXPECT_EQ(AbDetermineArchiveType(root_ + "/span.tmp"), atSpannedZip);
  EXPECT_EQ(AbDetermineArchiveType(root_ + "/missing"), atUnknown);
}

TEST_F(UnZipperOpen, DamagedDirectoryIsNotAPKZipFile) {
  std::string zip = BuildArchive({RawEntry::Stored("a", "x"), RawEntry::Stored("b", "y")});
  const std::size_t dir =
      GetLE32(reinterpret_cast<const unsigned char*>(zip.data()) + zip.size() - 6);
  std::string bad_sig = zip;
  bad_sig[dir + 1] = 'Q';
  WriteFile(root_ + "/sig.tmp", bad_sig);
  TAbUnZipper u;
  ASSERT_THAT([&] { u.SetFileName(root_ + "/sig.tmp"); },
              ThrowsMessage<EAbZipInvalid>(StrEq("Invalid file - not a PKZip file")));
  // Truncated directory: the end record stays, the second header is cut short.
  std::string truncated = zip.substr(0, dir + 46 + 1 + 20) + zip.substr(zip.size() - 22);
  WriteFile(root_ + "/trunc.tmp", truncated);
  EXPECT_THROW(u.SetFileName(root_ + "/trunc.tmp"), EAbZipInvalid);
  // A count no directory could hold, and an offset past the end.
  std::string count = zip;
  count[count.size() - 12] = count[count.size() - 14] = '\x7F';
  WriteFile(root_ + "/count.tmp", count);
  EXPECT_THROW(u.SetFileName(root_ + "/count.tmp"), EAbZipInvalid);
  std::string offset = zip;
  offset[offset.size() - 3] = '\x7F';
  WriteFile(root_ + "/offset.tmp", offset);
  EXPECT_THROW(u.SetFileName(root_ + "/offset.tmp"), EAbZipInvalid);
}

TEST_F(UnZipperOpen, EndRecordBehindALongComment) {
  const std::string comment(65535, 'c');
  WriteFile(root_ + "/long.tmp", BuildArchive({RawEntry::Stored("a", "x")}, comment));
  TAbUnZipper u;
  u.SetFileName(root_ + "/long.tmp");
  ASSERT_EQ(u.Count(), 1);
  EXPECT_EQ(u.Archive()->ZipfileComment(), comment);
  // A signature inside the comment whose comment would not fit is passed over.
  std::string tricky = "xxPK\x05\x06" + std::string(14, '\0') + "\xFF\x7F" + "tail";
  WriteFile(root_ + "/tricky.tmp", BuildArchive({RawEntry::Stored("a", "x")}, tricky));
  u.SetFileName(root_ + "/tricky.tmp");
  EXPECT_EQ(u.Count(), 1);
}

TEST_F(UnZipperOpen, BaseDirectoryRules) {
  TAbUnZipper u;
  u.SetBaseDirectory(base_ + "/");
  EXPECT_EQ(u.BaseDirectory(), base_);
  u.SetBaseDirectory("/");
  EXPECT_EQ(u.BaseDirectory(), "/");
  u.SetBaseDirectory(root_ + "/not-there");  // no archive open: stored as it is
  EXPECT_EQ(u.BaseDirectory(), root_ + "/not-there");
  WriteFile(root_ + "/a.tmp", BuildArchive({RawEntry::Stored("a", "x")}));
  u.SetFileName(root_ + "/a.tmp");
  ASSERT_THAT([&] { u.SetBaseDirectory(root_ + "/still-not-there"); },
              ThrowsMessage<EAbNoSuchDirectory>(StrEq("Directory does not exist")));
  u.SetFileName("");  // closes
  EXPECT_EQ(u.Archive(), nullptr);
  ASSERT_THAT([&] { u.ExtractFiles("*.*"); },
              ThrowsMessage<EAbNoArchive>(StrEq("Archive does not exist - Filename is blank")));
}

#if defined(_WIN32)
// A trailing "\" or "/" goes unless it ends a drive's root; extraction joins
// with "\".
TEST_F(UnZipperOpen, WindowsBaseDirectoryRules) {
  const std::pair<std::string, std::string> cases[] = {
      {"C:\\", "C:\\"}, {"C:/", "C:/"}, {"C:\\x\\", "C:\\x"}, {"C:\\x/", "C:\\x"},
      {"\\", "\\"},     {"D:", "D:"},   {"x\\\\", "x\\"},     {"C:\\x", "C:\\x"}};
  TAbUnZipper u;
  for (const auto& [given, stored] : cases) {
    u.SetBaseDirectory(given);
    EXPECT_EQ(u.BaseDirectory(), stored) << given;
  }
  std::string back = base_;
  std::replace(back.begin(), back.end(), '/', '\\');
  WriteFile(root_ + "/a.tmp", BuildArchive({RawEntry::Stored("d/a.txt", "x")}));
  EXPECT_EQ(ExtractAll(root_ + "/a.tmp", back + "\\"), std::vector<std::string>{});
  EXPECT_EQ(ExtractAll(root_ + "/a.tmp", back, {eoCreateDirs, eoRestorePath}),
            std::vector<std::string>{});
  EXPECT_EQ(Listing(),
            (std::vector<std::string>{"a.tmp", "base", "base/a.txt", "base/d", "base/d/a.txt"}));
  TAbUnZipper v;
  v.SetFileName(root_ + "/a.tmp");
  EXPECT_EQ(v.Items(0).DiskFileName(), "d\\a.txt");
}
#endif

// ---- the peer archives ----

class UnZipperPeers : public ScratchTest {
 protected:
  void SetUp() override {
    VTO_SKIP_WITHOUT_PEER_DATA("zips");
    ScratchTest::SetUp();
  }
  UtcZone zone_;
};

TEST_F(UnZipperPeers, TestZipWithCommentAndTwoMethods) {
#if !defined(_WIN32)
  const UmaskGuard mask(022);
#endif
  TAbUnZipper u;
  u.SetFileName(PeerZip("go-test.zip"));
  ASSERT_EQ(u.Count(), 2);
  EXPECT_EQ(u.Archive()->ZipfileComment(), "This is a zipfile comment.");
  EXPECT_EQ(u.Items(0).FileName(), "test.txt");
  EXPECT_EQ(u.Items(1).FileName(), "gophercolor16x16.png");
  EXPECT_DOUBLE_EQ(u.Items(0).LastModTimeAsDateTime(),
                   EncodeDate(2010, 9, 5) + EncodeTime(12, 12, 2, 0));
  EXPECT_EQ(ExtractAll(PeerZip("go-test.zip"), base_), std::vector<std::string>{});
  EXPECT_EQ(ReadFile(base_ + "/test.txt"), "This is a test text file.\n");
  const std::string png = ReadFile(base_ + "/gophercolor16x16.png");
  EXPECT_EQ(png.size(), 785u);
  EXPECT_EQ(ZipCrc32(png), 0x54d531feu);
  EXPECT_EQ(MTimeOf(base_ + "/test.txt"),
            LocalUnix(EncodeDate(2010, 9, 5) + EncodeTime(12, 12, 2, 0)));
#if defined(_WIN32)
  EXPECT_FALSE(IsReadOnly(base_ + "/test.txt"));
#else
  EXPECT_EQ(ModeOf(base_ + "/test.txt") & 07777, 0644u);
#endif
}

TEST_F(UnZipperPeers, DataDescriptorsTakeSizesFromTheDirectory) {
  EXPECT_EQ(ExtractAll(PeerZip("go-dd.zip"), base_), std::vector<std::string>{});
  EXPECT_EQ(ReadFile(base_ + "/filename"), "This is a test textfile.\n");
  // Stored with descriptors and an impossible DOS date: extracted, the date left alone.
  EXPECT_EQ(ExtractAll(PeerZip("go-with-datadesc-sig.zip"), base_), std::vector<std::string>{});
  EXPECT_EQ(ReadFile(base_ + "/foo.txt"), "foo\n");
  EXPECT_EQ(ReadFile(base_ + "/bar.txt"), "bar\n");
  TAbUnZipper u;
  u.SetFileName(PeerZip("go-with-datadesc-sig.zip"));
  EXPECT_THROW(u.Items(0).LastModTimeAsDateTime(), EAbInvalidDate);
}

TEST_F(UnZipperPeers, UnixArchiveFoldersFlattenedAndModesKept) {
#if !defined(_WIN32)
  const UmaskGuard mask(022);
#endif
  EXPECT_EQ(ExtractAll(PeerZip("go-unix.zip"), base_), std::vector<std::string>{});
  EXPECT_EQ(Listing(),
            (std::vector<std::string>{"base", "base/bar", "base/hello", "base/readonly"}));
  EXPECT_EQ(ReadFile(base_ + "/hello"), "world \r\n");
  EXPECT_EQ(ReadFile(base_ + "/bar"), "foo \r\n");
  EXPECT_EQ(ReadFile(base_ + "/readonly"), "important \r\n");
#if defined(_WIN32)
  EXPECT_FALSE(IsReadOnly(base_ + "/hello"));
  EXPECT_TRUE(IsReadOnly(base_ + "/readonly"));  // stored 0444
#else
  EXPECT_EQ(ModeOf(base_ + "/hello") & 07777, 0644u);  // stored 0666: no write for others
  EXPECT_EQ(ModeOf(base_ + "/readonly") & 07777, 0444u);
#endif
  EXPECT_EQ(MTimeOf(base_ + "/readonly"),
            LocalUnix(EncodeDate(2011, 12, 8) + EncodeTime(10, 6, 8, 0)));
}

TEST_F(UnZipperPeers, WindowsXpArchiveUsesDosAttributes) {
  EXPECT_EQ(ExtractAll(PeerZip("go-winxp.zip"), base_), std::vector<std::string>{});
  EXPECT_EQ(Listing(),
            (std::vector<std::string>{"base", "base/bar", "base/hello", "base/readonly"}));
#if defined(_WIN32)
  EXPECT_FALSE(IsReadOnly(base_ + "/hello"));
  EXPECT_TRUE(IsReadOnly(base_ + "/readonly"));  // attribute 21: read-only
#else
  EXPECT_NE(ModeOf(base_ + "/hello") & 0200, 0u);
  EXPECT_EQ(ModeOf(base_ + "/readonly") & 0222, 0u);  // attribute 21: read-only
#endif
}

TEST_F(UnZipperPeers, Zip64EndRecordAndExtraField) {
  TAbUnZipper u;
  u.SetFileName(PeerZip("go-zip64.zip"));
  ASSERT_EQ(u.Count(), 1);
  EXPECT_EQ(u.Items(0).FileName(), "README");
  EXPECT_EQ(u.Items(0).UncompressedSize(), 36u);
  EXPECT_EQ(u.Items(0).CompressedSize(), 36u);
  EXPECT_EQ(u.Archive()->TotalEntries(), 1u);
  EXPECT_EQ(ExtractAll(PeerZip("go-zip64.zip"), base_), std::vector<std::string>{});
  EXPECT_EQ(ReadFile(base_ + "/README"), "This small file is in ZIP64 format.\n");
}

TEST_F(UnZipperPeers, Utf8Names) {
  EXPECT_EQ(ExtractAll(PeerZip("go-utf8-7zip.zip"), base_), std::vector<std::string>{});
  // Unflagged raw UTF-8 (made on a Unix host): read as UTF-8 here, where a reader that
  // never guesses would show code page 437 characters.
  EXPECT_EQ(ExtractAll(PeerZip("go-utf8-osx.zip"), root_), std::vector<std::string>{});
  EXPECT_TRUE(fs::exists(U8(base_ + "/世界")));
  EXPECT_TRUE(fs::exists(U8(root_ + "/世界")));
  EXPECT_EQ(ReadFile(base_ + "/世界"), "");
}

TEST_F(UnZipperPeers, UnicodePathFieldAndCodePage437) {
  TAbUnZipper u;
  u.SetFileName(PeerZip("libzip-utf-8-standardization-input.zip"));
  EXPECT_EQ(u.Items(0).FileName(), "ibm437-üéâäàåçêëè.txt");
  u.SetFileName(PeerZip("libzip-testfile-cp437.zip"));
  EXPECT_EQ(u.Items(0).FileName(), "üéâäàåçêëèïîìÄÅÉ");
  EXPECT_EQ(ExtractAll(PeerZip("libzip-utf-8-standardization-input.zip"), base_),
            std::vector<std::string>{});
  EXPECT_EQ(ReadFile(base_ + "/ibm437-üéâäàåçêëè.txt"), "Just some placeholder text.");
  // The field's CRC broken and a raw byte changed: the raw name decides.
  std::string bytes = ReadFile(PeerZip("libzip-utf-8-standardization-input.zip"));
  const std::string raw_name = "ibm437-\x81\x82\x83\x84\x85\x86\x87\x88\x89\x8A.txt";
  for (std::size_t at = bytes.find(raw_name); at != std::string::npos;
       at = bytes.find(raw_name, at + 1)) {
    bytes[at + 7] = '\x9A';  // Ü in code page 437
  }
  WriteFile(root_ + "/changed.zip", bytes);
  u.SetFileName(root_ + "/changed.zip");
  EXPECT_EQ(u.Items(0).FileName(), "ibm437-Üéâäàåçêëè.txt");
}

TEST_F(UnZipperPeers, EncryptedFirstEntryFailsTheRestExtracts) {
  const auto failures = ExtractAll(PeerZip("libzip-encrypt.zip"), base_);
  EXPECT_EQ(failures,
            std::vector<std::string>{"encrypted: Cannot extract file - invalid password"});
  EXPECT_FALSE(fs::exists(base_ + "/encrypted"));
  EXPECT_EQ(ReadFile(base_ + "/plain"), "foo\n");
  TAbUnZipper u;
  u.SetFileName(PeerZip("libzip-encrypt.zip"));
  EXPECT_EQ(u.Items(0).FileName(), "encrypted");
  EXPECT_TRUE(u.Items(0).IsEncrypted());
}

TEST_F(UnZipperPeers, CommentsAndEmptyArchive) {
  TAbUnZipper u;
  u.SetFileName(PeerZip("libzip-testcomment.zip"));
  ASSERT_EQ(u.Count(), 4);
  EXPECT_EQ(u.Archive()->ZipfileComment(),
            "This is the archive comment for the file.\r\n\r\nLong.\r\n\r\nLonger.\r\n");
  EXPECT_EQ(u.Items(0).FileComment(), "");
  EXPECT_EQ(u.Items(1).FileComment(), "First one had no comment.");
  EXPECT_EQ(u.Items(3).FileComment(), "Last.");
  EXPECT_EQ(ExtractAll(PeerZip("libzip-testcomment.zip"), base_), std::vector<std::string>{});
  EXPECT_EQ(ReadFile(base_ + "/file4"), "Contents of fourth file.\n");
  u.SetFileName(PeerZip("libzip-testempty.zip"));
  EXPECT_EQ(u.Count(), 0);
  EXPECT_THROW(u.Items(0), EAbIndexError);
  u.ExtractFiles("*.*");  // nothing to do, no error
}

TEST_F(UnZipperPeers, BadCrcEntriesStayWithTheFailureReported) {
  EXPECT_EQ(ExtractAll(PeerZip("from-test-literals/py-badcrc-stored.zip"), base_),
            std::vector<std::string>{"afile: Failed CRC Check"});
  EXPECT_EQ(ReadFile(base_ + "/afile"), "hello,Aworld");
  std::string ten;
  for (int i = 0; i < 10; ++i) ten += "hello world";
  EXPECT_EQ(ExtractAll(PeerZip("from-test-literals/py-badcrc-deflated.zip"), base_),
            std::vector<std::string>{"afile: Failed CRC Check"});
  EXPECT_EQ(ReadFile(base_ + "/afile"), ten);
  // Without a handler nothing is raised at all.
  TAbUnZipper u;
  u.SetFileName(PeerZip("from-test-literals/py-badcrc-stored.zip"));
  u.SetBaseDirectory(root_);
  EXPECT_NO_THROW(u.ExtractFiles("*.*"));
  EXPECT_EQ(ReadFile(root_ + "/afile"), "hello,Aworld");
}

TEST_F(UnZipperPeers, SymlinkEntryBecomesAPlainFile) {
#if defined(_WIN32)
  EXPECT_EQ(ExtractAll(PeerZip("go-symlink.zip"), base_), std::vector<std::string>{});
  EXPECT_EQ(AttributesOf(base_ + "/symlink") &
                (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY),
            0u);
#else
  const UmaskGuard mask(022);
  EXPECT_EQ(ExtractAll(PeerZip("go-symlink.zip"), base_), std::vector<std::string>{});
  EXPECT_TRUE(S_ISREG(ModeOf(base_ + "/symlink")));
  EXPECT_EQ(ModeOf(base_ + "/symlink") & 07777, 0644u);  // a new file's mode, not the link's 0777
#endif
  EXPECT_EQ(ReadFile(base_ + "/symlink"), "../target");
  EXPECT_EQ(Listing(), (std::vector<std::string>{"base", "base/symlink"}));
}

TEST_F(UnZipperPeers, DotDotNameLandsInsideTheBaseFolder) {
  EXPECT_EQ(ExtractAll(PeerZip("from-test-literals/go-insecurepath-dotdot.zip"), base_),
            std::vector<std::string>{});
  EXPECT_EQ(Listing(), (std::vector<std::string>{"base", "base/test.txt"}));
  EXPECT_EQ(ReadFile(base_ + "/test.txt"), "This is a test text file.\n");
}

// ---- archives written by Info-ZIP and Python ----

class UnZipperInterop : public ScratchTest {
 protected:
  UtcZone zone_;
};

TEST_F(UnZipperInterop, InfoZipDeflatedStoredAndFolders) {
  const std::string src = root_ + "/src";
  fs::create_directories(src + "/tree/deeper");
  std::string big;
  while (big.size() < 300000) big += "line " + std::to_string(big.size()) + " of a text file\n";
  WriteFile(src + "/tree/big.txt", big);
  WriteFile(src + "/tree/deeper/small.bin", std::string("\0\1\2\3", 4));
  WriteFile(src + "/tree/empty", "");
  ASSERT_EQ(RunCommand("cd " + Quote(src) +
                       " && touch -d '2019-03-04 05:06:08' tree/big.txt && "
                       "zip -qr -6 ../d.zip tree && zip -qr -0 ../s.zip tree"),
            0);
  for (const char* name : {"d.zip", "s.zip"}) {
    SCOPED_TRACE(name);
    const std::string out = root_ + "/" + std::string(name) + ".out";
    fs::create_directory(out);
    EXPECT_EQ(ExtractAll(root_ + "/" + name, out), std::vector<std::string>{});
    EXPECT_EQ(ReadFile(out + "/big.txt"), big);
    EXPECT_EQ(ReadFile(out + "/small.bin"), std::string("\0\1\2\3", 4));
    EXPECT_EQ(ReadFile(out + "/empty"), "");
    EXPECT_EQ(MTimeOf(out + "/big.txt"),
              LocalUnix(EncodeDate(2019, 3, 4) + EncodeTime(5, 6, 8, 0)));
    EXPECT_EQ(fs::directory_iterator(out) == fs::directory_iterator(), false);
    EXPECT_FALSE(fs::exists(out + "/tree"));  // folders are not restored
  }
  TAbUnZipper u;
  u.SetFileName(root_ + "/s.zip");
  bool stored = false;
  for (int i = 0; i < u.Count(); ++i)
    stored |= u.Items(i).FileName() == "tree/big.txt" && u.Items(i).CompressionMethod() == 0;
  EXPECT_TRUE(stored);
}

TEST_F(UnZipperInterop, InfoZipWithRestorePathRebuildsTheTree) {
  const std::string src = root_ + "/src";
  fs::create_directories(src + "/tree/deeper");
  WriteFile(src + "/tree/deeper/a.txt", "A");
  ASSERT_EQ(RunCommand("cd " + Quote(src) + " && zip -qr ../t.zip tree"), 0);
  EXPECT_EQ(ExtractAll(root_ + "/t.zip", base_, {eoCreateDirs, eoRestorePath}),
            std::vector<std::string>{});
  EXPECT_EQ(ReadFile(base_ + "/tree/deeper/a.txt"), "A");
}

TEST_F(UnZipperInterop, InfoZipArchiveWithADamagedCrc) {
  const std::string src = root_ + "/src";
  fs::create_directories(src);
  WriteFile(src + "/c.txt", std::string(10000, 'c'));
  ASSERT_EQ(RunCommand("cd " + Quote(src) + " && zip -q ../c.zip c.txt"), 0);
  std::string bytes = ReadFile(root_ + "/c.zip");
  const auto central = bytes.find("PK\x01\x02");
  ASSERT_NE(central, std::string::npos);
  bytes[central + 16] ^= 0x55;  // both headers' CRC
  bytes[14] ^= 0x55;
  WriteFile(root_ + "/c.zip", bytes);
  std::string out;
  EXPECT_NE(RunCommand("unzip -tq " + Quote(root_ + "/c.zip"), &out), 0);  // Info-ZIP agrees
  EXPECT_EQ(ExtractAll(root_ + "/c.zip", base_),
            std::vector<std::string>{"c.txt: Failed CRC Check"});
  EXPECT_EQ(ReadFile(base_ + "/c.txt"), std::string(10000, 'c'));
}

TEST_F(UnZipperInterop, InfoZipUtf8Names) {
  const std::string src = root_ + "/src";
  fs::create_directories(src);
  WriteFile(src + "/Grüße €.txt", "utf8");
  ASSERT_EQ(RunCommand("cd " + Quote(src) + " && LC_ALL=C.UTF-8 zip -q ../u.zip 'Grüße €.txt'"), 0);
  TAbUnZipper u;
  u.SetFileName(root_ + "/u.zip");
  ASSERT_EQ(u.Count(), 1);
  EXPECT_EQ(u.Items(0).FileName(), "Grüße €.txt");
  EXPECT_EQ(ExtractAll(root_ + "/u.zip", base_), std::vector<std::string>{});
  EXPECT_EQ(ReadFile(base_ + "/Grüße €.txt"), "utf8");
}

TEST_F(UnZipperInterop, PythonDeflatedStoredAndForcedZip64) {
  const std::string path = root_ + "/p.zip";
  ASSERT_EQ(RunCommand("python3 -c 'import sys,zipfile\n"
                       "z=zipfile.ZipFile(sys.argv[1], \"w\")\n"
                       "i=zipfile.ZipInfo(\"deflated.txt\", (2022,7,8,9,10,12)); "
                       "i.compress_type=zipfile.ZIP_DEFLATED; z.writestr(i, b\"d\"*5000)\n"
                       "i=zipfile.ZipInfo(\"stored.bin\", (2001,2,3,4,5,6)); "
                       "z.writestr(i, bytes(range(256)))\n"
                       "i=zipfile.ZipInfo(\"big64.txt\", (2023,1,1,0,0,0)); "
                       "i.compress_type=zipfile.ZIP_DEFLATED\n"
                       "with z.open(i, \"w\", force_zip64=True) as f: f.write(b\"zip64 \"*1000)\n"
                       "z.close()' " +
                       Quote(path)),
            0);
  TAbUnZipper u;
  u.SetFileName(path);
  ASSERT_EQ(u.Count(), 3);
  EXPECT_EQ(u.Items(2).FileName(), "big64.txt");
  EXPECT_EQ(u.Items(2).UncompressedSize(), 6000u);
  EXPECT_EQ(ExtractAll(path, base_), std::vector<std::string>{});
  EXPECT_EQ(ReadFile(base_ + "/deflated.txt"), std::string(5000, 'd'));
  std::string all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
  EXPECT_EQ(ReadFile(base_ + "/stored.bin"), all);
  std::string z64;
  for (int i = 0; i < 1000; ++i) z64 += "zip64 ";
  EXPECT_EQ(ReadFile(base_ + "/big64.txt"), z64);
  EXPECT_EQ(MTimeOf(base_ + "/deflated.txt"),
            LocalUnix(EncodeDate(2022, 7, 8) + EncodeTime(9, 10, 12, 0)));
  EXPECT_EQ(MTimeOf(base_ + "/stored.bin"),
            LocalUnix(EncodeDate(2001, 2, 3) + EncodeTime(4, 5, 6, 0)));
}

TEST_F(UnZipperInterop, PythonZip64EndRecordForManyEntries) {
  // 70,000 entries: the classic end record holds placeholders and only the Zip64
  // records know the count.
  const std::string path = root_ + "/many.zip";
  ASSERT_EQ(RunCommand("python3 -c 'import sys,zipfile\n"
                       "z=zipfile.ZipFile(sys.argv[1], \"w\")\n"
                       "for n in range(70000): z.writestr(\"f%d\" % n, b\"\")\n"
                       "z.close()' " +
                       Quote(path)),
            0);
  TAbUnZipper u;
  u.SetFileName(path);
  EXPECT_EQ(u.Count(), 70000);
  EXPECT_EQ(u.Items(69999).FileName(), "f69999");
}

// ---- hostile archives ----

class UnZipperHostile : public ScratchTest {
 protected:
  // Extracts and checks that nothing appeared outside the base folder.
  std::vector<std::string> ExtractInside(const std::vector<RawEntry>& entries,
                                         TAbExtractOptions options = {eoCreateDirs}) {
    WriteFile(root_ + "/a.tmp", BuildArchive(entries));
    auto failures = ExtractAll(root_ + "/a.tmp", base_, options);
    for (const auto& name : Listing()) {
      EXPECT_TRUE(name == "a.tmp" || name == "base" || name.rfind("base/", 0) == 0 ||
                  name == planted_)
          << name;
    }
    return failures;
  }
  std::string planted_ = "-";  // a file the test itself put outside
};

TEST_F(UnZipperHostile, TraversalNamesStayInside) {
  const std::vector<std::string> names = {
      "../escape1",           "../../escape2", "/tmp/abs-escape3",  "..\\escape4",
      "C:\\Windows\\escape5", "C:escape6",     "dir/../../escape7", "\\\\server\\share\\escape8"};
  std::vector<RawEntry> entries;
  for (const auto& n : names) entries.push_back(RawEntry::Stored(n, n));
#if defined(_WIN32)
  // A drive in a name fails the entry there (more such names below).
  const std::vector<std::size_t> failing = {4, 5};
#else
  const std::vector<std::size_t> failing;
#endif
  std::vector<std::string> expected;
  for (const std::size_t i : failing)
    expected.push_back(names[i] + ": " + EAbBadFileName(names[i]).what());
  EXPECT_EQ(ExtractInside(entries), expected);
  for (int i = 1; i <= 8; ++i) {
    const std::string file = base_ + "/escape" + std::to_string(i);
    if (std::count(failing.begin(), failing.end(), static_cast<std::size_t>(i - 1)) != 0) {
      EXPECT_FALSE(fs::exists(file)) << file;
    } else if (i == 3) {
      EXPECT_EQ(ReadFile(base_ + "/abs-escape3"), "/tmp/abs-escape3");
    } else {
      EXPECT_EQ(ReadFile(file), names[static_cast<std::size_t>(i - 1)]) << file;
    }
  }
  EXPECT_FALSE(fs::exists("/tmp/abs-escape3"));
}

TEST_F(UnZipperHostile, TraversalNamesStayInsideWithRestoredPaths) {
  std::vector<RawEntry> entries = {
      RawEntry::Stored("../../up/a", "1"), RawEntry::Stored("/abs/b", "2"),
      RawEntry::Stored("C:\\x\\..\\..\\c", "3"), RawEntry::Stored("ok/./d", "4")};
#if defined(_WIN32)
  EXPECT_EQ(
      ExtractInside(entries, {eoCreateDirs, eoRestorePath}),
      std::vector<std::string>{entries[2].name + ": " + EAbBadFileName(entries[2].name).what()});
  EXPECT_FALSE(fs::exists(base_ + "/x"));
#else
  EXPECT_EQ(ExtractInside(entries, {eoCreateDirs, eoRestorePath}), std::vector<std::string>{});
  EXPECT_EQ(ReadFile(base_ + "/x/c"), "3");
#endif
  EXPECT_EQ(ReadFile(base_ + "/up/a"), "1");
  EXPECT_EQ(ReadFile(base_ + "/abs/b"), "2");
  EXPECT_EQ(ReadFile(base_ + "/ok/d"), "4");
}

TEST_F(UnZipperHostile, NamesThatAreNoFileFail) {
  std::vector<RawEntry> entries = {RawEntry::Stored("..", "a"), RawEntry::Stored("x/.", "b"),
                                   RawEntry::Stored(std::string("nul\0byte", 8), "c"),
                                   RawEntry::Stored(std::string("a\0/../x", 7), "e"),
                                   RawEntry::Stored("fine", "d")};
  const auto failures = ExtractInside(entries);
  ASSERT_EQ(failures.size(), 4u);
  EXPECT_EQ(Listing(), (std::vector<std::string>{"a.tmp", "base", "base/fine"}));
}

// Wine 8 makes no symbolic links (the links below are Linux links made by the
// test); these cases run on Linux only.
#if !defined(_WIN32)
TEST_F(UnZipperHostile, ExistingLinkIsReplacedNotFollowed) {
  planted_ = "outside.txt";
  WriteFile(root_ + "/outside.txt", "keep me");
  fs::create_symlink(root_ + "/outside.txt", base_ + "/victim");
  EXPECT_EQ(ExtractInside({RawEntry::Stored("victim", "payload")}), std::vector<std::string>{});
  EXPECT_EQ(ReadFile(root_ + "/outside.txt"), "keep me");
  EXPECT_TRUE(S_ISREG(ModeOf(base_ + "/victim")));
  EXPECT_EQ(ReadFile(base_ + "/victim"), "payload");
}

TEST_F(UnZipperHostile, LinkedFolderBelowTheBaseIsNeverEntered) {
  planted_ = "outside";
  fs::create_directory(root_ + "/outside");
  fs::create_directory_symlink(root_ + "/outside", base_ + "/link");
  const auto failures =
      ExtractInside({RawEntry::Stored("link/evil", "x"), RawEntry::Stored("real/good", "y")},
                    {eoCreateDirs, eoRestorePath});
  EXPECT_EQ(failures.size(), 1u);
  EXPECT_TRUE(fs::is_empty(root_ + "/outside"));
  EXPECT_EQ(ReadFile(base_ + "/real/good"), "y");
}
#endif

TEST_F(UnZipperHostile, ExistingFileIsReplaced) {
  WriteFile(base_ + "/same", "an older and longer content");
  EXPECT_EQ(ExtractInside({RawEntry::Stored("same", "new")}), std::vector<std::string>{});
  EXPECT_EQ(ReadFile(base_ + "/same"), "new");
}

TEST_F(UnZipperHostile, InflatingStopsAtTheDeclaredSize) {
  const std::string data(1 << 20, 'z');
  RawEntry e;
  e.name = "bomb";
  e.method = 8;
  e.data = RawDeflate(data);
  e.usz = 1000;  // a lie
  e.crc = ZipCrc32(data);
  const auto failures = ExtractInside({e, RawEntry::Stored("after", "ok")});
  ASSERT_EQ(failures.size(), 1u);
  EXPECT_EQ(failures[0], "bomb: Cannot extract file - data larger than its declared size");
  EXPECT_FALSE(fs::exists(base_ + "/bomb"));  // the partial file is deleted
  EXPECT_EQ(ReadFile(base_ + "/after"), "ok");
}

TEST_F(UnZipperHostile, StoredSizeBeyondTheStoredData) {
  RawEntry e = RawEntry::Stored("short", "abc");
  e.usz = 100;  // more than the three bytes the entry holds
  const auto failures = ExtractInside({e});
  EXPECT_EQ(failures, std::vector<std::string>{"short: Stream read error"});
  EXPECT_FALSE(fs::exists(base_ + "/short"));
}

TEST_F(UnZipperHostile, DamagedAndCutDeflateData) {
  const std::string data = "some data that deflates into a few bytes, some data, some data";
  RawEntry cut;
  cut.name = "cut";
  cut.method = 8;
  cut.data = RawDeflate(data).substr(0, 10);
  cut.usz = static_cast<std::uint32_t>(data.size());
  cut.crc = ZipCrc32(data);
  RawEntry junk = cut;
  junk.name = "junk";
  junk.data = std::string(40, '\xFF');
  const auto failures = ExtractInside({cut, junk});
  EXPECT_EQ(failures.size(), 2u);
  EXPECT_FALSE(fs::exists(base_ + "/cut"));
  EXPECT_FALSE(fs::exists(base_ + "/junk"));
}

TEST_F(UnZipperHostile, MethodVersionAndLocalHeaderChecks) {
  RawEntry bz = RawEntry::Stored("bzip2", "abc");
  bz.method = 12;
  RawEntry newer = RawEntry::Stored("newer", "abc");
  newer.needed = 64;
  RawEntry empty_odd = RawEntry::Stored("empty-odd", "");
  empty_odd.method = 99;  // nothing is read for an empty entry
  empty_odd.crc = 0x12345678;
  const auto failures = ExtractInside({bz, newer, empty_odd});
  EXPECT_EQ(failures,
            (std::vector<std::string>{"bzip2: Cannot extract file - unsupported compression method",
                                      "newer: Cannot extract file - newer version required"}));
  EXPECT_FALSE(fs::exists(base_ + "/bzip2"));
  EXPECT_EQ(ReadFile(base_ + "/empty-odd"), "");
  EXPECT_TRUE(fs::exists(base_ + "/empty-odd"));
}

TEST_F(UnZipperHostile, LocalHeaderSignatureChecked) {
  std::string zip = BuildArchive({RawEntry::Stored("a", "x"), RawEntry::Stored("b", "y")});
  zip[0] = 'Q';
  WriteFile(root_ + "/a.tmp", zip);
  EXPECT_EQ(ExtractAll(root_ + "/a.tmp", base_),
            std::vector<std::string>{"a: Invalid file - not a PKZip file"});
  EXPECT_EQ(ReadFile(base_ + "/b"), "y");
}

#if !defined(_WIN32)
// Unix modes and the umask mean nothing on Windows: there only the read-only
// attribute is taken over (the case after these).
TEST_F(UnZipperHostile, SetIdBitsAreNeverApplied) {
  const UmaskGuard mask(022);
  RawEntry e = RawEntry::Stored("tool", "#!/bin/sh\n");
  e.made_by = 3 << 8 | 30;
  e.attributes = 0104755u << 16;  // set-user-id
  RawEntry g = RawEntry::Stored("sticky", "x");
  g.made_by = 3 << 8 | 30;
  g.attributes = 0163777u << 16;  // set-group-id + sticky
  EXPECT_EQ(ExtractInside({e, g}), std::vector<std::string>{});
  EXPECT_EQ(ModeOf(base_ + "/tool") & 07777, 0755u);
  EXPECT_EQ(ModeOf(base_ + "/sticky") & 07777, 0755u);  // and no write for others
  EXPECT_TRUE(S_ISREG(ModeOf(base_ + "/sticky")));
}

TEST_F(UnZipperHostile, ModesNeverLockTheOwnerOutNorOpenWritesToOthers) {
  const UmaskGuard mask(027);
  struct Case {
    const char* name;
    std::uint16_t made_by;
    std::uint32_t attributes;
    mode_t expected;
  };
  constexpr std::uint16_t kUnix = 3 << 8 | 30;
  const Case cases[] = {
      {"plain", kUnix, 0100644u << 16, 0640},  // through the umask
      {"none", kUnix, 0100000u << 16, 0400},   // the owner can always read
      {"write-only", kUnix, 0100200u << 16, 0600},
      {"read-only", kUnix, 0100444u << 16, 0440},  // stays read-only
      {"open", kUnix, 0100777u << 16, 0750},       // no write for group or others
      {"set-id", kUnix, 0107777u << 16, 0750},
      {"link", kUnix, 0120777u << 16, 0640},  // a plain file now: a new file's mode
      {"dos", 20, 0x20, 0640},
      {"dos-read-only", 20, 0x21, 0440},
  };
  std::vector<RawEntry> entries;
  for (const Case& c : cases) {
    entries.push_back(RawEntry::Stored(c.name, c.name));
    entries.back().made_by = c.made_by;
    entries.back().attributes = c.attributes;
  }
  EXPECT_EQ(ExtractInside(entries), std::vector<std::string>{});
  for (const Case& c : cases) {
    const std::string path = base_ + "/" + c.name;
    EXPECT_EQ(ModeOf(path), S_IFREG | c.expected) << c.name;
  }
}
#else
TEST_F(UnZipperHostile, ReadOnlyAttributeFromTheModeOrTheDosAttributes) {
  struct Case {
    const char* name;
    std::uint16_t made_by;
    std::uint32_t attributes;
    bool read_only;
  };
  constexpr std::uint16_t kUnix = 3 << 8 | 30;
  const Case cases[] = {
      {"plain", kUnix, 0100644u << 16, false},
      {"none", kUnix, 0100000u << 16, true},  // still readable: Windows has no such mode
      {"write-only", kUnix, 0100200u << 16, false},
      {"read-only", kUnix, 0100444u << 16, true},
      {"set-id", kUnix, 0107555u << 16, true},
      {"link", kUnix, 0120555u << 16, false},  // a plain file now: a new file's attributes
      {"dos", 20, 0x20, false},
      {"dos-read-only", 20, 0x21, true},
      {"dos-hidden-system", 20, 0x26, false},          // only read-only is taken over
      {"high-mode", 20, 0100444u << 16 | 0x20, true},  // above 1FFFF: the mode decides
  };
  std::vector<RawEntry> entries;
  for (const Case& c : cases) {
    entries.push_back(RawEntry::Stored(c.name, c.name));
    entries.back().made_by = c.made_by;
    entries.back().attributes = c.attributes;
  }
  EXPECT_EQ(ExtractInside(entries), std::vector<std::string>{});
  for (const Case& c : cases) {
    const std::string path = base_ + "/" + c.name;
    const DWORD attributes = AttributesOf(path);
    EXPECT_EQ((attributes & FILE_ATTRIBUTE_READONLY) != 0, c.read_only) << c.name;
    EXPECT_EQ(attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM), 0u) << c.name;
    EXPECT_EQ(ReadFile(path), c.name);  // readable whatever the archive said
  }
  // A read-only file of an earlier run is replaced all the same.
  EXPECT_EQ(ExtractInside({RawEntry::Stored("read-only", "again")}), std::vector<std::string>{});
  EXPECT_EQ(ReadFile(base_ + "/read-only"), "again");
  EXPECT_FALSE(IsReadOnly(base_ + "/read-only"));
}

// Names Windows would take for something else, or change: each fails as an
// item, the good entries around them extract, nothing lands outside the base
// folder (checked by ExtractInside) and no device is written to.
TEST_F(UnZipperHostile, WindowsNamesThatAreNoPlainFileFailAlone) {
  const std::vector<std::string> hostile = {
      "C:x",    "C:\\x",  "D:/x",     "\\\\?\\C:\\x", "a:stream", "ok.txt:hidden", "dir\\b:c",
      "CON",    "con",    "Aux.txt",  "nul.tar.gz",   "PRN",      "com1",          "COM9.log",
      "lpt1",   "LpT9",   "CON .txt", "CONIN$",       "dir/NUL",  "NUL/x",         "trail.",
      "trail ", "dir./x", "dir /x",   "..\\trail.",   "a<b",      "a>b",           "a\"b",
      "a|b",    "a?b",    "a*b",      "tab\tname",    "bell\x07"};
  const std::vector<std::string> good = {"COM10", "LPT0",  "CONFIG.SYS", "console",
                                         "nul_",  "a.b.c", "..\\up",     "dir\\sub\\in"};
  std::vector<RawEntry> entries;
  for (std::size_t i = 0; i < hostile.size(); ++i) {
    entries.push_back(RawEntry::Stored(hostile[i], "hostile"));
    if (i < good.size()) entries.push_back(RawEntry::Stored(good[i], good[i]));
  }
  std::vector<std::string> expected;
  for (const auto& name : hostile) expected.push_back(name + ": " + EAbBadFileName(name).what());
  for (const TAbExtractOptions options :
       {TAbExtractOptions{eoCreateDirs}, TAbExtractOptions{eoCreateDirs, eoRestorePath}}) {
    SCOPED_TRACE(options.Contains(eoRestorePath) ? "restored paths" : "names only");
    EXPECT_EQ(ExtractInside(entries, options), expected);
    const bool restore = options.Contains(eoRestorePath);
    EXPECT_EQ(ReadFile(base_ + "/COM10"), "COM10");
    EXPECT_EQ(ReadFile(base_ + "/LPT0"), "LPT0");
    EXPECT_EQ(ReadFile(base_ + "/CONFIG.SYS"), "CONFIG.SYS");
    EXPECT_EQ(ReadFile(base_ + "/console"), "console");
    EXPECT_EQ(ReadFile(base_ + "/nul_"), "nul_");
    EXPECT_EQ(ReadFile(base_ + "/a.b.c"), "a.b.c");
    EXPECT_EQ(ReadFile(base_ + "/up"), "..\\up");
    EXPECT_EQ(ReadFile(base_ + (restore ? "/dir/sub/in" : "/in")), "dir\\sub\\in");
    for (const auto& e : fs::recursive_directory_iterator(U8(base_)))
      if (fs::is_regular_file(e.path())) {
        EXPECT_NE(ReadFile(e.path().string()), "hostile") << e.path();
      }
    fs::remove_all(U8(base_));
    fs::create_directory(U8(base_));
  }
}

// The entry's DOS date and time (local time) become the file's write time.
TEST_F(UnZipperHostile, FileTimesComeFromTheArchive) {
  struct Case {
    const char* name;
    int year, month, day, hour, minute, second;
  };
  const Case cases[] = {{"a", 1980, 1, 1, 0, 0, 0},
                        {"b", 1999, 12, 31, 23, 59, 58},
                        {"c", 2024, 5, 6, 13, 14, 14},
                        {"d", 2107, 12, 31, 23, 59, 58}};
  std::vector<RawEntry> entries;
  for (const Case& c : cases) {
    entries.push_back(RawEntry::Stored(c.name, c.name));
    entries.back().dos_time =
        static_cast<std::uint32_t>((c.year - 1980) << 25 | c.month << 21 | c.day << 16 |
                                   c.hour << 11 | c.minute << 5 | c.second / 2);
  }
  RawEntry bad = RawEntry::Stored("undated", "x");
  bad.dos_time = 0;  // no valid date: the file keeps the time it was written at
  entries.push_back(bad);
  const std::int64_t before = DateTimeToUnix(NowUtc()) - 5;
  EXPECT_EQ(ExtractInside(entries), std::vector<std::string>{});
  for (const Case& c : cases) {
    const TDateTime local =
        EncodeDate(c.year, c.month, c.day) + EncodeTime(c.hour, c.minute, c.second, 0);
    EXPECT_EQ(MTimeOf(base_ + "/" + c.name), DateTimeToUnix(LocalToUtc(local))) << c.name;
  }
  EXPECT_GE(MTimeOf(base_ + "/undated"), before);
}
#endif

TEST_F(UnZipperHostile, FolderEntriesProduceNothing) {
  RawEntry dir = RawEntry::Stored("dir/", "");
  dir.attributes = 0x10;
  RawEntry back = RawEntry::Stored("other\\", "");
  EXPECT_EQ(ExtractInside({dir, back, RawEntry::Stored("dir/a.txt", "a")}),
            std::vector<std::string>{});
  EXPECT_EQ(Listing(), (std::vector<std::string>{"a.tmp", "base", "base/a.txt"}));
}

TEST_F(UnZipperHostile, MaskSelectsEntries) {
  WriteFile(root_ + "/a.tmp",
            BuildArchive({RawEntry::Stored("d/a.txt", "a"), RawEntry::Stored("b.dat", "b"),
                          RawEntry::Stored("c.txt", "c")}));
  EXPECT_EQ(ExtractAll(root_ + "/a.tmp", base_, {eoCreateDirs}, "*.TXT"),
            std::vector<std::string>{});
  EXPECT_EQ(Listing(), (std::vector<std::string>{"a.tmp", "base", "base/a.txt", "base/c.txt"}));
}

}  // namespace
}  // namespace vto
