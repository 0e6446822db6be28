// Tests of desktop/Desktop.cpp and desktop/Application.cpp: what holds on every platform.
#include <gtest/gtest.h>

#include "desktop/Application.h"
#include "desktop/Desktop.h"
#include "tests/support/RecordingDesktopGuard.h"

using namespace vto;

TEST(ApplicationTitle, CutAtFirstDotAndLowerCasedAfterTheFirstCharacter) {
  EXPECT_EQ(TitleFromExecutable("/usr/bin/LaunchVeltraOnline"), "Launchveltraonline");
  EXPECT_EQ(TitleFromExecutable("C/LaunchVeltraOnline.exe"), "Launchveltraonline");
  EXPECT_EQ(TitleFromExecutable("my.tool.bin"), "my");  // the first character stays as it is
  EXPECT_EQ(TitleFromExecutable("lAUNCH"), "launch");
  EXPECT_EQ(TitleFromExecutable("ÀÉÎ"), "Àéî");
  EXPECT_EQ(TitleFromExecutable(".hidden"), "");
}

TEST(Dialogs, CarryTheirKindCaptionAndText) {
  vto::testing::RecordingDesktopGuard r;
  ShowMessageAt("hello\nworld", -1, -1);
  ShowErrorDialog("bad");
  ShowApplicationError("worse");
  ASSERT_EQ(r->dialogs.size(), 3u);
  EXPECT_EQ(r->dialogs[0].kind, DialogKind::Message);
  EXPECT_EQ(r->dialogs[0].caption, Application().Title());
  EXPECT_EQ(r->dialogs[0].text, "hello\nworld");
  EXPECT_EQ(r->dialogs[1].kind, DialogKind::Error);
  EXPECT_EQ(r->dialogs[1].caption, "Error");
  EXPECT_EQ(r->dialogs[2].kind, DialogKind::ApplicationError);
  EXPECT_EQ(r->dialogs[2].caption, "Application Error");
}
