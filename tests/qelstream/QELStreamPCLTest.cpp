// Tests of qelstream/QELStreamPCL.cpp.
// PCL orientation and macro removal, and the bit-5 folded search under them.
#include <gtest/gtest.h>

#include <string>

#include "qelstream/QELStream.h"
#include "tests/qelstream/QELTestUtil.h"

namespace vto {
namespace {

using test::Bytes;
using test::Fill;

TEST(PCLOrientation, PortraitWinsWhereverItIs) {
  TQELMemoryStream s;
  Fill(s, "x\033&l1Oyy\033&l0Oz");
  EXPECT_EQ(s.GetOrientation(), pgPortrait);
  EXPECT_EQ(s.Position(), 0);
  Fill(s, "\033&l0O\033&l1O");
  EXPECT_EQ(s.GetOrientation(), pgPortrait);
  Fill(s, "\033&l1o\033&l0o");
  EXPECT_EQ(s.GetOrientation(), pgPortrait);
}

TEST(PCLOrientation, LandscapeAndNone) {
  TQELMemoryStream s;
  Fill(s, "data\033&l1odata");
  EXPECT_EQ(s.GetOrientation(), pgLandscape);
  Fill(s, "\033&L1O");
  EXPECT_EQ(s.GetOrientation(), NoOrientation);
  Fill(s, "\033&l2O\033&l26a1O");  // other parameters or combined forms
  EXPECT_EQ(s.GetOrientation(), NoOrientation);
  Fill(s, ";&l1O");  // no folding here
  EXPECT_EQ(s.GetOrientation(), NoOrientation);
  TQELMemoryStream empty;
  empty.SetPosition(5);
  EXPECT_EQ(empty.GetOrientation(), NoOrientation);
  EXPECT_EQ(empty.Position(), 5);
}

// Legal PCL that the byte patterns do not see (combined and reverse forms).
TEST(PCLOrientation, CombinedAndReverseFormsAreNotRecognised) {
  TQELMemoryStream s;
  Fill(s, "\033&l3a1o8D");  // landscape as the second item of a combined group
  EXPECT_EQ(s.GetOrientation(), NoOrientation);
  Fill(s, "\033&l1o2A");  // first item of a combined group
  EXPECT_EQ(s.GetOrientation(), pgLandscape);
  Fill(s, "\033&l3O\033&l+1O");
  EXPECT_EQ(s.GetOrientation(), NoOrientation);
}

TEST(PCLMacro, TypicalDriverStreamLosesEverythingUpToTheJobEndDelete) {
  // Definition, overlay enable, pages, then the delete at job end: the cut goes
  // from the first ID command to that delete.
  const std::string job =
      "\033E\033&f5Y\033&f0Xform\033&f1X\033&f5Y\033&f4Xpage1\fpage2\f"
      "\033&f5Y\033&f8X\033E";
  TQELMemoryStream s;
  Fill(s, job);
  EXPECT_EQ(s.RemovePCLMacro(5),
            "\033&f5Y\033&f0Xform\033&f1X\033&f5Y\033&f4Xpage1\fpage2\f\033&f5Y\033&f8X");
  EXPECT_EQ(Bytes(s), "\033E\033E");
}

TEST(PCLMacro, DeleteOfAnotherIdAndCombinedDelete) {
  TQELMemoryStream s;
  // The delete command after the ID belongs to macro 7; it is taken all the same.
  Fill(s, "\033&f5Yx\033&f7Y\033&f8Xy");
  EXPECT_EQ(s.RemovePCLMacro(5), "\033&f5Yx\033&f7Y\033&f8X");
  EXPECT_EQ(Bytes(s), "y");
  // Select and delete combined in one group hold no separate delete command.
  Fill(s, "\033&f5y8X");
  EXPECT_EQ(s.RemovePCLMacro(5), "");
  EXPECT_EQ(Bytes(s), "\033&f5y8X");
}

const std::string kMacroData = "A\033&f5Y\033&f0Xbody\033&f1X\033&f8XB";

TEST(PCLMacro, RemovesFromTheIdToTheDeleteCommand) {
  TQELMemoryStream s;
  Fill(s, kMacroData);
  EXPECT_EQ(s.RemovePCLMacro(5), "\033&f5Y\033&f0Xbody\033&f1X\033&f8X");
  EXPECT_EQ(Bytes(s), "AB");
  EXPECT_EQ(s.Position(), 0);
}

TEST(PCLMacro, OtherIdLeavesTheContent) {
  TQELMemoryStream s;
  Fill(s, kMacroData);
  EXPECT_EQ(s.RemovePCLMacro(6), "");
  EXPECT_EQ(Bytes(s), kMacroData);
  EXPECT_EQ(s.Position(), 0);
}

TEST(PCLMacro, NoDeleteCommandBehindTheId) {
  TQELMemoryStream s;
  Fill(s, "\033&f8Xpre\033&f5Ybody");
  EXPECT_EQ(s.RemovePCLMacro(5), "");
  EXPECT_EQ(Bytes(s), "\033&f8Xpre\033&f5Ybody");
}

TEST(PCLMacro, FoldedForms) {
  TQELMemoryStream s;
  Fill(s, "a\033&F5yb\033&F8xc");
  EXPECT_EQ(s.RemovePCLMacro(5), "\033&F5yb\033&F8x");
  EXPECT_EQ(Bytes(s), "ac");
  Fill(s, "a;&f5Yb;&f8Xc");  // ESC and ";" differ only in bit 5
  EXPECT_EQ(s.RemovePCLMacro(5), ";&f5Yb;&f8X");
  EXPECT_EQ(Bytes(s), "ac");
}

TEST(PCLMacro, NegativeIdAndOnlyTheFirstOccurrence) {
  TQELMemoryStream s;
  Fill(s, "\033&f-1Yx\033&f8X\033&f-1Yy\033&f8Xz");
  EXPECT_EQ(s.RemovePCLMacro(-1), "\033&f-1Yx\033&f8X");
  EXPECT_EQ(Bytes(s), "\033&f-1Yy\033&f8Xz");
  Fill(s, "\033&f5Y\033&f8X");
  EXPECT_EQ(s.RemovePCLMacro(5), "\033&f5Y\033&f8X");
  EXPECT_EQ(s.Size(), 0);
  EXPECT_EQ(s.Position(), 0);
}

TEST(PCLMacro, EmptyStream) {
  TQELMemoryStream s;
  s.SetPosition(3);
  EXPECT_EQ(s.RemovePCLMacro(5), "");
  EXPECT_EQ(s.Size(), 0);
  EXPECT_EQ(s.Position(), 3);
}

TEST(PCLFolded, SearchRules) {
  EXPECT_EQ(FindFolded("ab", "aab", 0), 2);
  EXPECT_EQ(FindFolded("ab", "aab", 1), 2);
  EXPECT_EQ(FindFolded("ab", "aab", 2), 2);
  EXPECT_EQ(FindFolded("ab", "aab", 3), 0);
  EXPECT_EQ(FindFolded("ab", "aab", -7), 2);
  EXPECT_EQ(FindFolded("", "aab", 0), 0);
  EXPECT_EQ(FindFolded("ab", "", 0), 0);
  EXPECT_EQ(FindFolded("AB", "xab", 0), 2);
  EXPECT_EQ(FindFolded("x", "abcX", 0), 4);
  EXPECT_EQ(FindFolded("\033", "a;", 0), 2);
  EXPECT_EQ(FindFolded("@", "a`", 0), 2);
  EXPECT_EQ(FindFolded("[", "{", 0), 1);
  EXPECT_EQ(FindFolded("_", "\x7F", 0), 1);
  EXPECT_EQ(FindFolded("\x80", "\xA0", 0), 1);
  EXPECT_EQ(FindFolded("\xC0", "\xE0", 0), 1);
  EXPECT_EQ(FindFolded("1", "\x11", 0), 1);
  EXPECT_EQ(FindFolded("a", "A\x41", 2), 2);
  // Pairs that differ elsewhere than bit 5 do not match.
  EXPECT_EQ(FindFolded("a", "b", 0), 0);
  EXPECT_EQ(FindFolded("\x80", "\xC0", 0), 0);
  EXPECT_EQ(FindFolded("aab", "aaaab", 0), 3);
}

}  // namespace
}  // namespace vto
