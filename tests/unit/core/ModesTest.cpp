#include <gtest/gtest.h>

#include <cstdlib>

#include "core/MessageBox.h"
#include "core/Platform.h"
#include "core/Switches.h"
#include "ui/skin/SkinColours.h"

namespace {

// The latch is process-wide and never cleared, so one test walks the whole
// sequence in order.
TEST(Modes, CaptionFollowsSetupThenUninstallThenUpdate) {
  SetProcessArguments({});
  EXPECT_FALSE(IsSetupMode());
  EXPECT_EQ(MessageCaptionId(), kCaptionUpdate);

  SetProcessArguments({"/Uninstall"});
  EXPECT_EQ(MessageCaptionId(), kCaptionUninstall);

  SetProcessArguments({"-setup", "/Uninstall"});
  EXPECT_TRUE(IsSetupMode());
  EXPECT_EQ(MessageCaptionId(), kCaptionWebInstall);

  SetProcessArguments({"/q"});
  EXPECT_TRUE(IsQuiet());
  EXPECT_FALSE(SetupLatch());
  SetSetupLatch();  // the selection dialog started an installation
  EXPECT_TRUE(SetupLatch());
  EXPECT_TRUE(IsSetupMode());
  EXPECT_EQ(MessageCaptionId(), kCaptionWebInstall);
  SetProcessArguments({});
}

// Run with LC_ALL set to a language (see CMakeLists.txt): the user's language
// picks the skin colours.
TEST(LanguageEnv, UserLanguagePicksTheColourColumn) {
  const char* lc = std::getenv("LC_ALL");
  ASSERT_NE(lc, nullptr);
  const std::string locale = lc;
  InitSkinColours(GetUILanguageId());
  if (locale.rfind("de_", 0) == 0) {
    EXPECT_EQ(GetUILanguageId(), 0x0407);
    EXPECT_EQ(SkinColour(1), 0x49B56Cu);
    EXPECT_EQ(SkinColour(6), 0x336633u);
  } else if (locale.rfind("fr_", 0) == 0) {
    EXPECT_EQ(GetUILanguageId(), 0x040C);
    EXPECT_EQ(SkinColour(1), 0xAAFFDFu);
  } else if (locale.rfind("en_GB", 0) == 0) {
    EXPECT_EQ(GetUILanguageId(), 0x0809);
    EXPECT_EQ(SkinColour(1), 0x83E8D2u);
  } else {
    FAIL() << "no expectation for " << locale;
  }
}

}  // namespace
