// Tests of qelstream/QELStream.cpp.
// The document stream's whole-content operations and the positions they leave.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <limits>
#include <string>

#include "qelstream/QELStream.h"
#include "tests/qelstream/QELTestUtil.h"

namespace vto {
namespace {

using test::Bytes;
using test::Fill;
using ::testing::StrEq;
using ::testing::ThrowsMessage;

TEST(QELWholeContent, GetAsStringMovesToZeroUnlessEmpty) {
  TQELMemoryStream s;
  s.SetPosition(7);
  EXPECT_EQ(s.GetAsString(), "");
  EXPECT_EQ(s.Position(), 7);
  Fill(s, std::string("a\0b", 3));
  EXPECT_EQ(s.Position(), 3);
  EXPECT_EQ(s.GetAsString(), std::string("a\0b", 3));
  EXPECT_EQ(s.Position(), 0);
}

TEST(QELAppend, AppendStrWritesAtTheEndWhateverThePosition) {
  TQELMemoryStream s;
  Fill(s, "abc");
  s.SetPosition(1);
  s.AppendStr("de");
  EXPECT_EQ(Bytes(s), "abcde");
  EXPECT_EQ(s.Position(), 5);
  s.SetPosition(2);
  s.AppendStr("");
  EXPECT_EQ(s.Position(), 2);
  EXPECT_EQ(Bytes(s), "abcde");
}

TEST(QELAppend, AppendStreamCopiesAllAndSetsZero) {
  TQELMemoryStream s, other;
  Fill(s, "12");
  Fill(other, "345");
  other.SetPosition(2);
  s.AppendStream(other);
  EXPECT_EQ(Bytes(s), "12345");
  EXPECT_EQ(s.Position(), 0);
  EXPECT_EQ(other.Position(), 3);
}

TEST(QELAppend, AppendingAnEmptyStreamOnlyMovesToZero) {
  TQELMemoryStream s, empty;
  Fill(s, "abc");
  s.AppendStream(empty);
  EXPECT_EQ(Bytes(s), "abc");
  EXPECT_EQ(s.Position(), 0);
}

TEST(QELAppend, AppendingTheStreamToItselfDoublesIt) {
  TQELMemoryStream s;
  std::string data = test::RandomBytes(150000, 3);  // more than one copy chunk
  Fill(s, data);
  s.AppendStream(s);
  EXPECT_EQ(Bytes(s), data + data);
  EXPECT_EQ(s.Position(), 0);
}

TEST(QELInsert, InsertsAtAZeroBasedPoint) {
  TQELMemoryStream s;
  Fill(s, "abcdef");
  s.InsertStr("XY", 2);
  EXPECT_EQ(Bytes(s), "abXYcdef");
  EXPECT_EQ(s.Position(), 0);
  s.InsertStr("<", -5);
  EXPECT_EQ(Bytes(s), "<abXYcdef");
  s.InsertStr(">", s.Size() + 10);
  EXPECT_EQ(Bytes(s), "<abXYcdef>");
  s.InsertStr("|", static_cast<std::int32_t>(s.Size()));
  EXPECT_EQ(Bytes(s), "<abXYcdef>|");
  s.Seek(0, soEnd);
  s.InsertStr("", 3);
  EXPECT_EQ(Bytes(s), "<abXYcdef>|");
  EXPECT_EQ(s.Position(), 0);
}

TEST(QELInsert, IntoAnEmptyStream) {
  TQELMemoryStream s;
  s.InsertStr("x", 5);
  EXPECT_EQ(Bytes(s), "x");
  EXPECT_EQ(s.Position(), 0);
}

TEST(QELSearch, ExamplesOnAbcabc) {
  TQELMemoryStream s;
  Fill(s, "abcabc");
  EXPECT_EQ(s.SearchFor("c", 4, false), 3);  // the match is byte 6
  EXPECT_EQ(s.Position(), 0);
  EXPECT_EQ(s.SearchFor("C", 1, true), 3);
  EXPECT_EQ(s.SearchFor("C", 1, false), 0);
  EXPECT_EQ(s.SearchFor("abc", 1, false), 1);
  EXPECT_EQ(s.SearchFor("abc", 2, false), 3);
  EXPECT_EQ(s.SearchFor("abc", -4, false), 1);
  EXPECT_EQ(s.SearchFor("c", 6, false), 1);
  EXPECT_EQ(s.SearchFor("c", 7, false), 0);
  EXPECT_EQ(s.SearchFor("", 1, false), 0);
  EXPECT_EQ(s.SearchFor("abcabcd", 1, false), 0);
}

TEST(QELSearch, EmptyContentGivesZeroAndKeepsThePosition) {
  TQELMemoryStream s;
  s.SetPosition(4);
  EXPECT_EQ(s.SearchFor("a", 1, true), 0);
  EXPECT_EQ(s.Position(), 4);
}

TEST(QELSearch, CaseInsensitiveFoldsOnlyAsciiLetters) {
  TQELMemoryStream s;
  Fill(s, "x\xE9t\xC9 [AbC]");  // é, É in the code page
  // "é" as text is the byte E9; it does not match É (C9) even ignoring case.
  EXPECT_EQ(s.SearchFor("\xC3\xA9", 1, true), 2);
  EXPECT_EQ(s.SearchFor("t\xC3\xA9", 1, true), 0);
  EXPECT_EQ(s.SearchFor("\xC3\x89", 1, true), 4);
  EXPECT_EQ(s.SearchFor("[abc]", 1, true), 6);
  EXPECT_EQ(s.SearchFor("[abc]", 1, false), 0);
  // "{" and "[" differ by bit 5 but are not letters.
  EXPECT_EQ(s.SearchFor("{abc]", 1, true), 0);
}

TEST(QELSearch, TextOutsideTheCodePageIsNotFound) {
  TQELMemoryStream s;
  Fill(s, "price ? EUR");
  EXPECT_EQ(s.SearchFor("\xE2\x82\xAC", 1, false), 0);  // the euro sign
  EXPECT_EQ(s.SearchFor("\xE2\x82\xAC", 1, true), 0);
  EXPECT_EQ(s.SearchFor("?", 1, false), 7);
}

TEST(QELSearch, LongContentAndNulBytes) {
  TQELMemoryStream s;
  std::string data(200000, 'a');
  data[150000] = '\0';
  data.replace(180000, 5, "NEEDL");
  Fill(s, data);
  EXPECT_EQ(s.SearchFor("needl", 1, true), 180001);
  EXPECT_EQ(s.SearchFor("needl", 1, false), 0);
  EXPECT_EQ(s.SearchFor(std::string("a\0a", 3), 1, false), 150000);
  EXPECT_EQ(s.SearchFor("NEEDL", 180002, true), 0);
  EXPECT_EQ(s.SearchFor("aaN", 100001, true), 79999);
}

TEST(QELLoadSave, SaveAndLoadRoundTrip) {
  const std::string path = test::TempPath("loadsave");
  TQELMemoryStream s;
  Fill(s, std::string("bin\0ary\xFF", 8));
  s.SetPosition(2);
  EXPECT_TRUE(s.Save(path));
  EXPECT_EQ(s.Position(), 2);
  TQELMemoryStream t;
  Fill(t, "old content that is longer");
  EXPECT_TRUE(t.Load(path));
  EXPECT_EQ(Bytes(t), std::string("bin\0ary\xFF", 8));
  EXPECT_EQ(t.Position(), 0);
  std::remove(path.c_str());
}

TEST(QELLoadSave, FailuresAnswerFalseAndKeepTheStream) {
  TQELMemoryStream s;
  Fill(s, "keep");
  s.SetPosition(3);
  EXPECT_FALSE(s.Load("/nonexistent-qel-folder/file"));
#if defined(_WIN32)
  EXPECT_FALSE(s.Load(VTO_BINARY_DIR));  // a folder
  EXPECT_FALSE(s.Load("NUL"));           // a device: nothing to read up to an end
#else
  EXPECT_FALSE(s.Load("/tmp"));       // a folder
  EXPECT_FALSE(s.Load("/dev/zero"));  // no regular file: nothing to read up to an end
#endif
  EXPECT_EQ(Bytes(s), "keep");
  EXPECT_EQ(s.Position(), 3);
  EXPECT_FALSE(s.Save("/nonexistent-qel-folder/file"));
  EXPECT_EQ(s.Position(), 3);
}

TEST(QELReplace, OnePassWithoutOverlap) {
  TQELMemoryStream s;
  Fill(s, "aaa");
  s.ChangeString("aa", "b");
  EXPECT_EQ(Bytes(s), "ba");
  EXPECT_EQ(s.Position(), 2);
}

TEST(QELReplace, ReplacementTextIsNotSearchedAgain) {
  TQELMemoryStream s;
  Fill(s, "xAx");
  s.ChangeString("a", "aa");
  EXPECT_EQ(Bytes(s), "xaax");
  Fill(s, "abab");
  s.ChangeString("ab", "ba");
  EXPECT_EQ(Bytes(s), "baba");
}

TEST(QELReplace, IgnoresCaseIncludingAccentedLetters) {
  TQELMemoryStream s;
  Fill(s, "Caf\xC9 caf\xE9 CAFE");
  s.ChangeString("caf\xE9", "tea");
  EXPECT_EQ(Bytes(s), "tea tea CAFE");
  EXPECT_EQ(s.Position(), 12);
  // The division and multiplication signs are not letters.
  Fill(s, "\xF7\xD7");
  s.ChangeString("\xD7", "x");
  EXPECT_EQ(Bytes(s), "\xF7x");
}

TEST(QELReplace, GrowAndShrinkOverLongContent) {
  TQELMemoryStream s;
  std::string data;
  for (int i = 0; i < 20000; ++i) data += "line " + std::to_string(i) + " Total\r\n";
  Fill(s, data);
  s.ChangeString("TOTAL", "Sum of all");
  std::string expected;
  for (int i = 0; i < 20000; ++i) expected += "line " + std::to_string(i) + " Sum of all\r\n";
  EXPECT_EQ(Bytes(s), expected);
  s.ChangeString("\r\n", "");
  EXPECT_EQ(s.Size(), static_cast<std::int64_t>(expected.size() - 40000));
  EXPECT_EQ(s.Position(), s.Size());
}

TEST(QELReplace, NothingToReplace) {
  TQELMemoryStream s;
  s.ChangeString("a", "b");
  EXPECT_EQ(s.Size(), 0);
  EXPECT_EQ(s.Position(), 0);
  Fill(s, "abc");
  s.SetPosition(1);
  s.ChangeString("", "zz");
  EXPECT_EQ(Bytes(s), "abc");
  s.ChangeString("q", "zz");
  EXPECT_EQ(Bytes(s), "abc");
  EXPECT_EQ(s.Position(), 3);
  s.ChangeString("abc", "");
  EXPECT_EQ(s.Size(), 0);
  EXPECT_EQ(s.Position(), 0);
}

TEST(QELCut, RemoveBeginning) {
  TQELMemoryStream s;
  Fill(s, "abcdef");
  s.RemoveBeginning(1);
  EXPECT_EQ(Bytes(s), "abcdef");
  EXPECT_EQ(s.Position(), 0);
  s.RemoveBeginning(-3);
  EXPECT_EQ(Bytes(s), "abcdef");
  s.RemoveBeginning(3);
  EXPECT_EQ(Bytes(s), "cdef");
  EXPECT_EQ(s.Position(), 0);
  s.RemoveBeginning(4);
  EXPECT_EQ(Bytes(s), "f");
  s.RemoveBeginning(2);
  EXPECT_EQ(s.Size(), 0);
  EXPECT_EQ(s.Position(), 0);
}

TEST(QELCut, RemoveBeginningKeepsEverythingBehindIndex) {
  // Nothing behind the index is dropped, even past 100,000,000 bytes.
  TQELMemoryStream s;
  std::string data(100000100, 'x');
  data.replace(data.size() - 8, 8, "THE-TAIL");
  Fill(s, data);
  data.clear();
  s.RemoveBeginning(11);
  ASSERT_EQ(s.Size(), 100000090);
  EXPECT_EQ(std::string(s.Memory() + s.Size() - 8, 8), "THE-TAIL");
  EXPECT_EQ(s.Position(), 0);
}

TEST(QELCut, RemoveTrailing) {
  TQELMemoryStream s;
  Fill(s, "abcdef");
  s.SetPosition(2);
  s.RemoveTrailing(7);  // size + 1
  EXPECT_EQ(Bytes(s), "abcdef");
  EXPECT_EQ(s.Position(), 2);
  s.RemoveTrailing(4);
  EXPECT_EQ(Bytes(s), "abc");
  EXPECT_EQ(s.Position(), 2);
  s.Seek(0, soEnd);
  s.RemoveTrailing(2);
  EXPECT_EQ(Bytes(s), "a");
  EXPECT_EQ(s.Position(), 1);
  s.RemoveTrailing(1);
  EXPECT_EQ(s.Size(), 0);
  EXPECT_EQ(s.Position(), 0);
}

TEST(QELCut, RemoveTrailingBelowOneEmptiesAndBeyondTheEndPadsWithZeros) {
  TQELMemoryStream s;
  Fill(s, "abc");
  s.RemoveTrailing(0);
  EXPECT_EQ(s.Size(), 0);
  Fill(s, "abc");
  s.RemoveTrailing(std::numeric_limits<std::int32_t>::min());
  EXPECT_EQ(s.Size(), 0);
  Fill(s, "abc");
  s.RemoveTrailing(7);
  EXPECT_EQ(Bytes(s), std::string("abc\0\0\0", 6));
}

TEST(QELCut, RemoveRanges) {
  TQELMemoryStream s;
  Fill(s, "abcdef");
  s.SetPosition(1);
  s.Remove(0, 5);
  s.Remove(7, 5);
  s.Remove(1, 2147483648u);
  s.Remove(2147483648u, 1);
  s.Remove(2, 0);
  EXPECT_EQ(Bytes(s), "abcdef");
  EXPECT_EQ(s.Position(), 1);
  s.Remove(6, 10);
  EXPECT_EQ(Bytes(s), "abcde");
  EXPECT_EQ(s.Position(), 5);
  s.Remove(2, 2);
  EXPECT_EQ(Bytes(s), "ade");
  EXPECT_EQ(s.Position(), 3);
  s.Remove(1, 4294967295u);  // as a signed value below 0
  EXPECT_EQ(Bytes(s), "ade");
  s.Remove(1, 3);
  EXPECT_EQ(s.Size(), 0);
  EXPECT_EQ(s.Position(), 0);
  s.Remove(1, 1);
  EXPECT_EQ(s.Size(), 0);
}

TEST(QELCopy, GetBytesCopiesARange) {
  TQELMemoryStream s;
  Fill(s, "0123456789");
  auto part = s.GetBytes(2, 3);
  ASSERT_TRUE(part);
  EXPECT_EQ(Bytes(*part), "234");
  EXPECT_EQ(part->Position(), 0);
  EXPECT_EQ(s.Position(), 5);
  EXPECT_EQ(Bytes(s), "0123456789");
}

TEST(QELCopy, GetBytesBoundaries) {
  TQELMemoryStream s;
  Fill(s, "0123456789");
  EXPECT_EQ(s.GetBytes(11, 1), nullptr);
  s.SetPosition(4);
  ASSERT_THAT([&] { s.GetBytes(10, 1); }, ThrowsMessage<EReadError>(StrEq("Stream read error")));
  EXPECT_THROW(s.GetBytes(8, 3), EReadError);
  EXPECT_THROW(s.GetBytes(-1, 2), EReadError);
  auto whole = s.GetBytes(0, 0);
  ASSERT_TRUE(whole);
  EXPECT_EQ(Bytes(*whole), "0123456789");
  EXPECT_EQ(s.Position(), 10);
  whole = s.GetBytes(3, -1);
  ASSERT_TRUE(whole);
  EXPECT_EQ(Bytes(*whole), "0123456789");
  EXPECT_EQ(s.Position(), 10);
  auto tail = s.GetBytes(10, 0);  // offset == size, Len <= 0: whole copy too
  ASSERT_TRUE(tail);
  EXPECT_EQ(tail->Size(), 10);
}

TEST(QELOverwrite, UpdateInPlace) {
  TQELMemoryStream s;
  Fill(s, "abcdef");
  s.SetPosition(1);
  s.update(2, "XY");
  EXPECT_EQ(Bytes(s), "aXYdef");
  EXPECT_EQ(s.Position(), 6);
  s.update(6, "Z");
  EXPECT_EQ(Bytes(s), "aXYdeZ");
  s.update(1, "\xC3\xA9\xE2\x82\xAC");  // é and the euro sign: one byte each
  EXPECT_EQ(Bytes(s), "\xE9?YdeZ");
  s.SetPosition(2);
  s.update(3, "");
  EXPECT_EQ(Bytes(s), "\xE9?YdeZ");
  EXPECT_EQ(s.Position(), 6);
}

TEST(QELOverwrite, UpdateOutsideTheContentKeepsTheSize) {
  TQELMemoryStream s;
  Fill(s, "abcdef");
  s.update(5, "WXYZ");  // two characters fall beyond the end
  EXPECT_EQ(Bytes(s), "abcdWX");
  s.update(-1, "1234");  // two characters fall before the start
  EXPECT_EQ(Bytes(s), "34cdWX");
  s.update(100, "q");
  s.update(std::numeric_limits<std::int32_t>::max(), "qq");
  s.update(std::numeric_limits<std::int32_t>::min(), "qq");
  EXPECT_EQ(Bytes(s), "34cdWX");
  EXPECT_EQ(s.Position(), 6);
  TQELMemoryStream empty;
  empty.update(1, "abc");
  EXPECT_EQ(empty.Size(), 0);
  EXPECT_EQ(empty.Position(), 0);
}

}  // namespace
}  // namespace vto
