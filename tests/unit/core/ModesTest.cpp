#include <gtest/gtest.h>

#include "core/MessageBox.h"
#include "core/Switches.h"

namespace {

// Which switch gives which caption is the end-to-end runs' (no switch:
// update; "/Uninstall": uninstall; "/Setup" with it: web install). Here the
// latch, which no run can set without the selection dialog: it is
// process-wide and never cleared, so one test walks it in order.
TEST(Modes, TheSetupLatchMakesASetupRun) {
  SetProcessArguments({"/q"});
  EXPECT_TRUE(IsQuiet());
  EXPECT_FALSE(SetupLatch());
  EXPECT_FALSE(IsSetupMode());
  EXPECT_EQ(MessageCaptionId(), kCaptionUpdate);
  SetSetupLatch();  // the selection dialog started an installation
  EXPECT_TRUE(SetupLatch());
  EXPECT_TRUE(IsSetupMode());
  EXPECT_EQ(MessageCaptionId(), kCaptionWebInstall);
  SetProcessArguments({});
}

}  // namespace
