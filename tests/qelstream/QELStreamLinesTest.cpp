// Tests of qelstream/QELStreamLines.cpp.
// Line deletion and the control-character report and replacement.
#include <gtest/gtest.h>

#include <string>

#include "qelstream/QELStream.h"
#include "tests/qelstream/QELTestUtil.h"

namespace vto {
namespace {

using test::Bytes;
using test::Fill;
using namespace std::string_literals;

std::string Utf16Le(const std::u16string& s) {
  std::string out;
  for (char16_t c : s) {
    out.push_back(static_cast<char>(c & 0xFF));
    out.push_back(static_cast<char>(c >> 8));
  }
  return out;
}

std::string Utf16Be(const std::u16string& s) {
  std::string out;
  for (char16_t c : s) {
    out.push_back(static_cast<char>(c >> 8));
    out.push_back(static_cast<char>(c & 0xFF));
  }
  return out;
}

TEST(QELDeleteLine, DeletesMatchingLinesAndWritesCrLf) {
  TQELMemoryStream s;
  Fill(s, "a1\r\nb1\nc2");
  s.SetPosition(0);
  s.DeleteLineContaining("1");
  EXPECT_EQ(Bytes(s), "a1\r\nc2\r\n");
  EXPECT_EQ(s.Position(), 0);
}

TEST(QELDeleteLine, FirstLineIsNeverDeleted) {
  TQELMemoryStream s;
  Fill(s, "x\nx\nyx\ny");
  s.SetPosition(0);
  s.DeleteLineContaining("x");
  EXPECT_EQ(Bytes(s), "x\r\ny\r\n");
}

TEST(QELDeleteLine, EmptyStringOnlyRewritesLineEnds) {
  TQELMemoryStream s;
  Fill(s, "a\rb\nc\r\n\nd");
  s.SetPosition(0);
  s.DeleteLineContaining("");
  EXPECT_EQ(Bytes(s), "a\r\nb\r\nc\r\n\r\nd\r\n");
}

TEST(QELDeleteLine, StartsAtThePosition) {
  TQELMemoryStream s;
  Fill(s, "abc");
  s.DeleteLineContaining("z");  // position at the end: nothing read
  EXPECT_EQ(s.Size(), 0);
  EXPECT_EQ(s.Position(), 0);
  Fill(s, "skip\nkeep1\ngone\nkeep2");
  s.SetPosition(5);
  s.DeleteLineContaining("gone");
  EXPECT_EQ(Bytes(s), "keep1\r\nkeep2\r\n");
  Fill(s, "a\nb");
  s.SetPosition(-3);  // before the start: read from 0
  s.DeleteLineContaining("b");
  EXPECT_EQ(Bytes(s), "a\r\n");
}

TEST(QELDeleteLine, NulEndsTheText) {
  TQELMemoryStream s;
  Fill(s, "ab\0cd\r\nef"s);
  s.SetPosition(0);
  s.DeleteLineContaining("q");
  EXPECT_EQ(Bytes(s), "ab\r\n");
}

TEST(QELDeleteLine, CodePageTextMatchesAccentedCharacters) {
  TQELMemoryStream s;
  Fill(s, "head\ncaf\xE9\nbar\xFF");
  s.SetPosition(0);
  s.DeleteLineContaining("\xC3\xA9");  // é
  EXPECT_EQ(Bytes(s), "head\r\nbar\xFF\r\n");
  // Case matters.
  Fill(s, "head\nCAF\xC9");
  s.SetPosition(0);
  s.DeleteLineContaining("\xC3\xA9");
  EXPECT_EQ(Bytes(s), "head\r\nCAF\xC9\r\n");
}

TEST(QELDeleteLine, Utf8MarkIsKept) {
  TQELMemoryStream s;
  Fill(s, "\xEF\xBB\xBFhead\nn\xC3\xA9\nother\n");
  s.SetPosition(0);
  s.DeleteLineContaining("\xC3\xA9");
  EXPECT_EQ(Bytes(s), "\xEF\xBB\xBFhead\r\nother\r\n");
  // An invalid byte reads as the replacement character.
  Fill(s, "\xEF\xBB\xBFx\n\xFFy");
  s.SetPosition(0);
  s.DeleteLineContaining("z");
  EXPECT_EQ(Bytes(s), "\xEF\xBB\xBFx\r\n\xEF\xBF\xBDy\r\n");
}

TEST(QELDeleteLine, Utf16LittleEndian) {
  TQELMemoryStream s;
  Fill(s, "\xFF\xFE" + Utf16Le(u"first\r\nd\u00e9l\u20ac\nkeep \U0001F600\rdrop \u20ac"));
  s.SetPosition(0);
  s.DeleteLineContaining("\xE2\x82\xAC");  // the euro sign
  EXPECT_EQ(Bytes(s), "\xFF\xFE" + Utf16Le(u"first\r\nkeep \U0001F600\r\n"));
}

TEST(QELDeleteLine, Utf16BigEndianWithNul) {
  TQELMemoryStream s;
  Fill(s, "\xFE\xFF" + Utf16Be(u"a\nbx\nc") + "\0\0"s + Utf16Be(u"\nlost"));
  s.SetPosition(0);
  s.DeleteLineContaining("x");
  EXPECT_EQ(Bytes(s), "\xFE\xFF" + Utf16Be(u"a\r\nc\r\n"));
}

TEST(QELDeleteLine, CharactersNotBytesAreCompared) {
  struct Case {
    std::string content, wanted, expected;
  };
  const Case cases[] = {
      // U+4200 is the bytes 00 42 in UTF-16 LE: found across "A" and "B", but that
      // is no character of the text.
      {"\xFF\xFE" + Utf16Le(u"x\nAB"), "\xE4\x88\x80", "\xFF\xFE" + Utf16Le(u"x\r\nAB\r\n")},
      // A lone surrogate stays as it was, an odd last byte becomes U+FFFD.
      {"\xFF\xFE" + Utf16Le(u"x\n") + "\x00\xD8" + Utf16Le(u"a\nb") + "\x62", "z",
       "\xFF\xFE" + Utf16Le(u"x\r\n") + "\x00\xD8" + Utf16Le(u"a\r\nb\uFFFD\r\n")},
      // The code page has no euro sign: no line holds it, not even one with a "?".
      {"x\nwhat?\n", "\xE2\x82\xAC", "x\r\nwhat?\r\n"},
  };
  for (const Case& c : cases) {
    TQELMemoryStream s;
    Fill(s, c.content);
    s.SetPosition(0);
    s.DeleteLineContaining(c.wanted);
    EXPECT_EQ(Bytes(s), c.expected) << c.content;
  }
}

TEST(QELDeleteLine, OnlyAMarkLeavesTheMark) {
  TQELMemoryStream s;
  Fill(s, "\xFF\xFE");
  s.SetPosition(0);
  s.DeleteLineContaining("x");
  EXPECT_EQ(Bytes(s), "\xFF\xFE");
  EXPECT_EQ(s.Position(), 0);
}

TEST(QELControlChars, ReplacesControlsButKeepsLayout) {
  TQELMemoryStream s;
  Fill(s,
       "a\x1B"
       "b\tc\r\nd\fe\0f\x7F"s);
  s.SetPosition(1);
  s.ChangeCharsLessThanSpace("^");
  EXPECT_EQ(Bytes(s), "a^b\tc\r\nd\fe^f\x7F");
  EXPECT_EQ(s.Position(), s.Size());
  s.ChangeCharsLessThanSpace("\xE2\x82\xAC");  // nothing left to replace
  EXPECT_EQ(Bytes(s), "a^b\tc\r\nd\fe^f\x7F");
  Fill(s, "x\x01\x02y");
  s.ChangeCharsLessThanSpace("");
  EXPECT_EQ(Bytes(s), "xy");
  Fill(s, "\x01");
  s.ChangeCharsLessThanSpace("\xC3\xA9");  // é, one byte in the code page
  EXPECT_EQ(Bytes(s), "\xE9");
  TQELMemoryStream empty;
  empty.SetPosition(3);
  empty.ChangeCharsLessThanSpace("x");
  EXPECT_EQ(empty.Size(), 0);
  EXPECT_EQ(empty.Position(), 0);
}

TEST(QELControlChars, ReportNamesTheLinesWithBadCharacters) {
  TQELMemoryStream s;
  Fill(s, "ok\nbad\x07x\x1B\ny\tz\f\r\n\x01");
  s.SetPosition(0);
  EXPECT_EQ(s.DoFindBadChar(),
            "(1) bad\x07x\x1B has invalid chars: \x07\x1B\n"
            "(3) \x01 has invalid chars: \x01\n");
  EXPECT_EQ(s.Position(), s.Size());
  EXPECT_EQ(Bytes(s), "ok\nbad\x07x\x1B\ny\tz\f\r\n\x01");
}

TEST(QELControlChars, ReportIsUtf8AndStartsAtThePosition) {
  TQELMemoryStream s;
  Fill(s, "\x01skipped\ncaf\xE9\x02");
  s.SetPosition(9);
  EXPECT_EQ(s.DoFindBadChar(), "(0) caf\xC3\xA9\x02 has invalid chars: \x02\n");
  s.SetPosition(0);
  EXPECT_EQ(s.DoFindBadChar().substr(0, 4), "(0) ");
  TQELMemoryStream clean;
  Fill(clean, "all\tfine\n");
  clean.SetPosition(0);
  EXPECT_EQ(clean.DoFindBadChar(), "");
  TQELMemoryStream empty;
  EXPECT_EQ(empty.DoFindBadChar(), "");
}

}  // namespace
}  // namespace vto
