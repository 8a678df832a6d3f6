// The mode switch as the manager starts it: "/SwitchMode:<its process id>"
// with "/RemoveFile:<plug-in>". The real Upgrade.exe waits for the manager to
// end, deletes the file and starts the manager again.
#include <gtest/gtest.h>

#include <string>

#include "tests/e2e/ServedRunTest.h"

namespace e2e {
namespace {

using testing_support::ChildProcess;
using testing_support::FileContent;
using testing_support::FileExists;

class SwitchModeE2E : public ServedRunTest {
 protected:
  void SetUp() override {
    ServedRunTest::SetUp();
    ASSERT_TRUE(testing_support::WriteFileBytes(plugin_, "plug-in"));
  }
  void TearDown() override {
    testing_support::RegDeleteTree(HKEY_CURRENT_USER, kXpKey);
    ServedRunTest::TearDown();
  }

  std::string Manager() const { return install_.Bin() + "Manager.exe"; }
  std::string Args(DWORD processId) const {
    return "/SwitchMode:" + std::to_string(processId) + " \"/RemoveFile:" + plugin_ +
           "\" /Pass:--restored";
  }

  // The restarted manager: how it was started; then it is closed again.
  void ExpectManagerRunsAgain(DWORD oldProcessId) {
    HWND window = ui::WaitForWindow({"", "PelloryWndClass", 0});
    ASSERT_NE(window, nullptr) << "the manager was not started again";
    DWORD processId = 0;
    ::GetWindowThreadProcessId(window, &processId);
    EXPECT_NE(processId, oldProcessId);
    EXPECT_EQ(FileContent(Manager() + ".cmdline"), "\"" + Manager() + "\" --restored");
    EXPECT_TRUE(CloseManager());
  }

  static constexpr char kXpKey[] = "Software\\Wine\\AppDefaults\\Upgrade.exe";
  const std::string plugin_ = install_.Bin() + "Old Plugin.dll";
};

TEST_F(SwitchModeE2E, ManagerEndsFileGoesManagerComesBack) {
  // Windows XP: the direct start, as the manager's restart is on older systems.
  ASSERT_TRUE(testing_support::RegWriteString(HKEY_CURRENT_USER, kXpKey, "Version", "winxp64"));
  ChildProcess manager;
  ASSERT_TRUE(manager.Start(Manager(), ""));
  ui::WindowQuery managerWindow;
  managerWindow.processId = manager.Id();
  HWND window = ui::WaitForWindow(managerWindow);
  ASSERT_NE(window, nullptr);

  ChildProcess upgrade;
  ASSERT_TRUE(upgrade.Start(install_.InstalledUpgrade(), Args(manager.Id())));
  // The completion window says what goes on while the manager is down.
  ui::WindowQuery status;
  status.processId = upgrade.Id();
  status.caption = "PelloryManager";
  HWND statusWindow = ui::WaitForWindow(status);
  ASSERT_NE(statusWindow, nullptr) << "no completion window";
  EXPECT_EQ(ui::ControlText(statusWindow, 210), "Closing PelloryManager... Please Wait.");
  EXPECT_TRUE(FileExists(plugin_)) << "deleted before the manager ended";

  // The manager ends as it does after starting the mode switch.
  ::PostMessageA(window, WM_COMMAND, kManagerCloseCommand, 0);
  EXPECT_EQ(manager.Wait(10000), 0u);
  EXPECT_EQ(testing_support::AsInt(upgrade.Wait(60000)), 0);
  EXPECT_FALSE(FileExists(plugin_));
  ExpectManagerRunsAgain(manager.Id());

  const std::string log = Log();
  EXPECT_NE(log.find("Deleting plug-in file " + plugin_ + "...\n\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("Restarting PelloryManager '\"" + Manager() + "\" --restored'\r\n"),
            std::string::npos);
  EXPECT_EQ(log.find("Task"), std::string::npos) << "no scheduler on Windows XP";
}

TEST_F(SwitchModeE2E, UnknownProcessSkipsTheWaitsAndStillRestarts) {
  // Wine's default Windows 7: the scheduler fails here and the direct start
  // takes over.
  const DWORD noSuchProcess = 999999;
  ChildProcess upgrade;
  ASSERT_TRUE(upgrade.Start(install_.InstalledUpgrade(), Args(noSuchProcess)));
  EXPECT_EQ(testing_support::AsInt(upgrade.Wait(60000)), 0);
  EXPECT_FALSE(FileExists(plugin_));
  ExpectManagerRunsAgain(0);

  const std::string log = Log();
  EXPECT_NE(log.find("OpenProcess failed to open process PM ID 0x0f423f. Error 87\n\r\n"),
            std::string::npos) << log;
  EXPECT_NE(log.find("Cannot add registration trigger to the Task 0x80004001\r\n"),
            std::string::npos);
  EXPECT_NE(log.find("The scheduled launch of PelloryManager failed; starting it directly.\r\n"),
            std::string::npos);
}

}  // namespace
}  // namespace e2e
