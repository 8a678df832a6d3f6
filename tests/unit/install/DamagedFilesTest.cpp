#include "install/DamagedFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "core/Locations.h"
#include "core/MessageBox.h"
#include "core/Resources.h"
#include "tests/fixtures/holder/HeldFile.h"
#include "tests/support/PlayedUser.h"
#include "tests/support/Scratch.h"

namespace {

using namespace testing_support;
using Lines = std::vector<std::string>;

// Runs `action` while the played user presses one button in each message box
// this process shows; returns what each box said.
Lines AnswerBoxes(const std::vector<int>& buttons, const std::function<void()>& action) {
  std::vector<std::pair<int, User::Step>> steps;
  for (int button : buttons) steps.push_back({0xFFFF, Press(button)});
  User user(steps, LoadResString(MessageCaptionId()));
  action();
  Lines texts;
  for (const Seen& seen : user.Finish()) texts.push_back(seen.text);
  return texts;
}

class DamagedSweep : public ::testing::Test {
 protected:
  void SetUp() override {
    RegDeleteTree(HKEY_LOCAL_MACHINE, kPelloryKey);
    ASSERT_TRUE(RegWriteString(HKEY_LOCAL_MACHINE, kPelloryKey, "PelloryAppDir", root));
  }
  void TearDown() override { RegDeleteTree(HKEY_LOCAL_MACHINE, kPelloryKey); }
  ScratchDir dir;
  const std::string root = dir.Path();
};

TEST_F(DamagedSweep, ReportFindsADeepOneAndRemoveVisitsTheWholeTree) {
  // A folder named like a damaged binary, with a damaged file two levels down.
  const std::string tilde = root + "Cache~1.dll\\", deep = tilde + "Level2\\AB~1.DLL";
  for (const auto& d : {tilde, tilde + "Level2", root + "Other"})
    ASSERT_TRUE(::CreateDirectoryA(d.c_str(), nullptr));
  const Lines kept = {root + "AB~1.TXT", root + "Plain.dll", tilde + "Level2\\Plain.exe"};
  for (const auto& p : kept) ASSERT_TRUE(WriteFileBytes(p, "x"));
  ASSERT_TRUE(WriteFileBytes(deep, "x"));
  {
    CapturedLog log;
    EXPECT_TRUE(HasDamagedFiles());
    EXPECT_EQ(log.lines, Lines{"Damaged file '" + deep + "' found."});
  }
  Lines damaged = {deep, root + "Top~1.ocx", root + "Other\\Low~1.exe"};
  for (const auto& p : damaged) ASSERT_TRUE(WriteFileBytes(p, "x"));
  // Read-only is no lock: such a file goes at once.
  ASSERT_TRUE(::SetFileAttributesA(damaged[2].c_str(), FILE_ATTRIBUTE_READONLY));
  uint32_t rebootRequired = 0;
  CapturedLog log;
  EXPECT_EQ(SweepDamagedFiles(root, SweepMode::Remove, &rebootRequired), 0);
  EXPECT_EQ(rebootRequired, 0u);
  std::sort(log.lines.begin(), log.lines.end());
  std::sort(damaged.begin(), damaged.end());
  Lines expected;
  for (const auto& p : damaged) expected.push_back("Deleting damaged file '" + p + "'.");
  EXPECT_EQ(log.lines, expected);
  for (const auto& p : damaged) EXPECT_FALSE(FileExists(p)) << p;
  for (const auto& p : kept) EXPECT_TRUE(FileExists(p)) << p;
  EXPECT_TRUE(DirExists(tilde));
  EXPECT_FALSE(HasDamagedFiles());
}

TEST_F(DamagedSweep, WithoutAnApplicationFolderNothingIsSwept) {
  RegDeleteTree(HKEY_LOCAL_MACHINE, kPelloryKey);
  ASSERT_TRUE(WriteFileBytes(root + "Here~1.dll", "x"));
  char previous[MAX_PATH] = "";
  ::GetCurrentDirectoryA(MAX_PATH, previous);
  ASSERT_TRUE(::SetCurrentDirectoryA(root.c_str()));
  EXPECT_FALSE(HasDamagedFiles());
  EXPECT_EQ(RemoveDamagedFiles(), 1);
  ::SetCurrentDirectoryA(previous);
  EXPECT_TRUE(FileExists(root + "Here~1.dll"));
}

// No leaves the locked file to the restart; Yes asks for the restart, and
// when that fails the user is told.
TEST_F(DamagedSweep, LockedDamagedFileLeadsToTheRestartQuestion) {
  const std::string locked = root + "Busy~1.exe", question = LoadResString(IDS_CONFIRM_REBOOT);
  RestartRecorder restart;
  HeldFile holder;
  ASSERT_TRUE(WriteFileBytes(locked, "x"));
  ASSERT_TRUE(holder.Hold(locked));
  {
    CapturedLog log;
    EXPECT_EQ(AnswerBoxes({IDNO}, [] { EXPECT_EQ(RemoveDamagedFiles(), 1); }), Lines{question});
    EXPECT_TRUE(log.Has("The damaged file '" + locked + " is locked. Will be removed on next reboot."));
  }
  EXPECT_TRUE(restart.calls.empty());
  for (const BOOL answer : {TRUE, FALSE}) {
    restart.answer = answer;
    CapturedLog log;
    const Lines texts = AnswerBoxes(answer ? std::vector<int>{IDYES} : std::vector<int>{IDYES, IDOK},
                                    [] { EXPECT_EQ(RemoveDamagedFiles(), 1); });
    EXPECT_EQ(texts, (answer ? Lines{question} : Lines{question, LoadResString(IDS_REBOOT_FAILED)}));
    EXPECT_TRUE(log.Has(answer ? "ExitWindowsEx succeeded." : "ExitWindowsEx failed. Error 1115."));
  }
  ASSERT_EQ(restart.calls.size(), 2u);
  EXPECT_EQ(restart.calls[0].flags, static_cast<UINT>(EWX_REBOOT));
  ASSERT_TRUE(holder.Release());
  ASSERT_TRUE(RunRestartProcessing());
  EXPECT_FALSE(FileExists(locked));
}

}  // namespace
