// Tests of desktop/TextCodec.cpp: the ANSI and OEM code pages, ASCII, UTF-8, case rules.
#include <gtest/gtest.h>

#include "desktop/TextCodec.h"

using namespace vto;

TEST(AnsiCodePage, EveryByteRoundTripsThroughText) {
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  const std::string text = AnsiToText(all);
  EXPECT_EQ(FindInvalidUtf8(text), std::string::npos);
  EXPECT_EQ(Utf8Length(text), 256u);
  EXPECT_EQ(TextToAnsi(text), all);
  EXPECT_EQ(AnsiToText("\xE9"), "é");
  EXPECT_EQ(TextToAnsi("a€b"), "a?b");  // above U+00FF
  EXPECT_EQ(TextToAnsi("a\xFF"
                       "b"),
            "a?b");  // not UTF-8 at all
}

TEST(AsciiEncoding, HighCharactersAndBytesAreReplaced) {
  EXPECT_EQ(TextToAscii("GET /é HTTP/1.1"), "GET /? HTTP/1.1");
  EXPECT_EQ(TextToAscii("😀"), "?");
  EXPECT_EQ(AsciiToText("a\x80z"), "a\xEF\xBF\xBDz");
  EXPECT_EQ(AsciiToText(std::string("\0x", 2)), std::string("\0x", 2));
}

TEST(Oem437, HighHalfMapsToItsCharacters) {
  EXPECT_EQ(Oem437ToText("\x80\x81\xE1\xFF"), "Çüß\xC2\xA0");
  EXPECT_EQ(Oem437ToText("plain.txt"), "plain.txt");
}

TEST(Utf8, RejectsOverlongSurrogatesAndTruncation) {
  std::size_t i = 0;
  char32_t cp = 0;
  EXPECT_TRUE(DecodeUtf8("\xF0\x9F\x98\x80", i, cp));
  EXPECT_EQ(cp, 0x1F600u);
  EXPECT_EQ(i, 4u);
  for (const char* bad :
       {"\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE2\x82", "\x80", "\xFE"}) {
    i = 0;
    EXPECT_FALSE(DecodeUtf8(bad, i, cp)) << bad;
    EXPECT_EQ(i, 0u);
  }
  EXPECT_EQ(FindInvalidUtf8("ab\xE2\x82"), 2u);
  std::string out;
  AppendUtf8(out, 0xD800);
  EXPECT_EQ(out, "\xEF\xBF\xBD");
}

TEST(CaseRules, AsciiAndLatin1LettersOnly) {
  EXPECT_EQ(UpperCase("abcàéþ÷ÿß"), "ABCÀÉÞ÷ÿß");
  EXPECT_EQ(LowerCase("ABCÀÉÞ×"), "abcàéþ×");
  EXPECT_TRUE(SameText("Hé", "hÉ"));
  EXPECT_FALSE(SameText("h", "hh"));
  EXPECT_FALSE(SameText("ı", "I"));  // no Turkish or other locale rules
  EXPECT_TRUE(SameTextAscii("Content-Type", "content-TYPE"));
  EXPECT_FALSE(SameTextAscii("é", "É"));
  EXPECT_TRUE(StartsWithAsciiNoCase("-User", "-u"));
  EXPECT_FALSE(StartsWithAsciiNoCase("-", "-u"));
}
