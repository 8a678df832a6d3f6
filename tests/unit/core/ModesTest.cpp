#include <gtest/gtest.h>

#include "core/MessageBox.h"
#include "core/Switches.h"

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

}  // namespace
