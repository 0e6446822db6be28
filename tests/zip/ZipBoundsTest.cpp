// Tests of zip/ZipArchive.cpp.
// Hostile archives against the writer's reader: whatever the records claim, opening
// and adding never take more memory than the archive itself plus the new entry, and
// every limit of the 32-bit format ends in EZipArchiveError.
#include <gtest/gtest.h>

#include <string>

#include "streams/Streams.h"
#include "tests/zip/ZipTestUtil.h"
#include "zip/ZipArchive.h"

namespace vto {
namespace {

using namespace ziptest;

void Fill(TMemoryStream& s, const std::string& bytes) {
  s.WriteBuffer(bytes.data(), static_cast<std::int32_t>(bytes.size()));
  s.SetPosition(0);
}

// The 22-byte end record of an archive without entries whose directory is said to
// start at directory_offset.
std::string EmptyEndRecord(std::uint32_t directory_offset) {
  std::string r;
  Put32(r, 0x06054B50);
  Put16(r, 0);
  Put16(r, 0);
  Put16(r, 0);
  Put16(r, 0);
  Put32(r, 0);
  Put32(r, directory_offset);
  Put16(r, 0);
  return r;
}

TEST(ZipBounds, DirectoryBeyondTheEndRecordIsNoArchive) {
  // Adding to such an "archive" would write the new entry 1.5 GB into the stream.
  TMemoryStream s;
  Fill(s, EmptyEndRecord(0x5A000000));
  TZipArchive archive;
  archive.Open(s);
  EXPECT_FALSE(archive.IsZipFile());
  EXPECT_EQ(archive.ZipStream(), nullptr);
  TMemoryStream data;
  data.WriteBuffer("abc", 3);
  data.SetPosition(0);
  EXPECT_THROW(archive.AddStream("a.txt", 0x20, 45000, data), EZipArchiveError);
  EXPECT_EQ(s.Size(), 22);
}

TEST(ZipBounds, DirectoryRightBeforeTheEndRecordIsAccepted) {
  // Leading bytes before an empty directory (a self-extracting stub) stay allowed.
  TMemoryStream s;
  Fill(s, std::string(10, 'x') + EmptyEndRecord(10));
  TZipArchive archive;
  archive.Open(s);
  EXPECT_TRUE(archive.IsZipFile());
  TMemoryStream data;
  data.WriteBuffer("abc", 3);
  data.SetPosition(0);
  archive.AddStream("a.txt", 0x20, 45000, data);
  EXPECT_LT(s.Size(), 200);
}

TEST(ZipBounds, LocalHeaderBeyondTheStreamIsNoArchive) {
  std::string bytes = BuildArchive({RawEntry::Stored("a", "x")});
  // The central header's local header offset (at 42 within the header) points far out.
  const std::size_t central = bytes.size() - 22 - 46 - 1;
  bytes[central + 42 + 3] = 0x70;
  TMemoryStream s;
  Fill(s, bytes);
  TZipArchive archive;
  archive.Open(s);
  EXPECT_FALSE(archive.IsZipFile());
  EXPECT_EQ(archive.Entries().Count(), 0);
}

TEST(ZipBounds, LocalHeaderReachingIntoTheDirectoryIsNoArchive) {
  // The local header's name runs into the central directory: an entry added at the
  // directory's place would overwrite it, and the archive written could not be read.
  std::string bytes = BuildArchive({RawEntry::Stored("a", "x"), RawEntry::Stored("b", "y")});
  bytes[26] = static_cast<char>(120);  // name length of the first local header
  ASSERT_GT(bytes.size(), 30u + 120u);
  TMemoryStream s;
  Fill(s, bytes);
  TZipArchive archive;
  archive.Open(s);
  EXPECT_FALSE(archive.IsZipFile());
  EXPECT_EQ(archive.ZipStream(), nullptr);
}

TEST(ZipBounds, EntryDataReachingIntoTheDirectoryIsNoArchive) {
  std::string bytes = BuildArchive({RawEntry::Stored("a", "x")});
  const std::size_t central = bytes.size() - 22 - 46 - 1;
  bytes[central + 20] = static_cast<char>(200);  // compressed size in the central header
  TMemoryStream s;
  Fill(s, bytes);
  TZipArchive archive;
  archive.Open(s);
  EXPECT_FALSE(archive.IsZipFile());
}

TEST(ZipBounds, WhatWasAddedToAnOpenedArchiveOpensAgain) {
  std::string bytes = BuildArchive({RawEntry::Stored("a", "x"), RawEntry::Stored("b", "yy")});
  TMemoryStream s;
  Fill(s, bytes);
  TZipArchive archive;
  archive.Open(s);
  ASSERT_TRUE(archive.IsZipFile());
  TMemoryStream data;
  data.WriteBuffer("abc", 3);
  data.SetPosition(0);
  archive.AddStream("c.txt", 0x20, 45000, data);
  TZipArchive again;
  s.SetPosition(0);
  again.Open(s);
  ASSERT_TRUE(again.IsZipFile());
  EXPECT_EQ(again.Entries().Count(), 3);
}

TEST(ZipBounds, NameLongerThanTheFormatHoldsIsRefused) {
  TMemoryStream s;
  TZipArchive archive;
  archive.CreateZip(s);
  archive.Open(s);
  TMemoryStream data;
  data.WriteBuffer("abc", 3);
  data.SetPosition(0);
  EXPECT_THROW(archive.AddStream(std::string(0x10000, 'n'), 0x20, 45000, data), EZipArchiveError);
  EXPECT_EQ(archive.Entries().Count(), 0);
  EXPECT_EQ(s.Size(), 22);
}

TEST(ZipBounds, EntryCountStopsAtTheLimitOfTheFormat) {
  // An archive that already holds 65,535 entries takes no further one.
  std::vector<RawEntry> entries;
  entries.reserve(0xFFFF);
  for (int i = 0; i < 0xFFFF; ++i) entries.push_back(RawEntry::Stored(std::to_string(i), ""));
  TMemoryStream s;
  Fill(s, BuildArchive(entries));
  const std::int64_t size = s.Size();
  TZipArchive archive;
  archive.Open(s);
  ASSERT_TRUE(archive.IsZipFile());
  ASSERT_EQ(archive.Entries().Count(), 0xFFFF);
  TMemoryStream data;
  data.WriteBuffer("abc", 3);
  data.SetPosition(0);
  EXPECT_THROW(archive.AddStream("one-more", 0x20, 45000, data), EZipArchiveError);
  EXPECT_EQ(s.Size(), size);
}

}  // namespace
}  // namespace vto
