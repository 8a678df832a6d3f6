#include "install/DamagedFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <vector>

#include "core/Locations.h"
#include "core/Log.h"
#include "core/MessageBox.h"
#include "core/Resources.h"
#include "core/Switches.h"
#include "install/FileReplace.h"
#include "tests/fixtures/holder/HeldFile.h"
#include "tests/support/Scratch.h"
#include "tests/support/UiDriver.h"

namespace {

using testing_support::DirExists;
using testing_support::FileExists;
using testing_support::HeldFile;
using testing_support::RegDeleteTree;
using testing_support::RegWriteString;
using testing_support::RunRestartProcessing;
using testing_support::ScratchDir;
using testing_support::WriteFileBytes;

class CapturedLog {
 public:
  CapturedLog() {
    previous_ = SetLogSink([this](const std::string& line) { lines.push_back(line); });
  }
  ~CapturedLog() { SetLogSink(previous_); }
  std::vector<std::string> lines;

 private:
  LogSink previous_;
};

// Answers the message boxes this process shows, one button per box, from a
// second thread, and keeps what each box said.
class BoxAnswerer {
 public:
  explicit BoxAnswerer(std::vector<int> buttons) : buttons_(std::move(buttons)) {
    thread_ = std::thread([this] {
      ui::WindowQuery query;
      query.caption = LoadResString(MessageCaptionId());
      query.className = "#32770";
      query.processId = ::GetCurrentProcessId();
      for (int button : buttons_) {
        HWND box = ui::WaitForWindow(query, 20000);
        if (!box) return;
        texts.push_back(ui::MessageBoxText(box));
        ui::PressButton(box, button);
        ui::WaitForWindowGone(box, 20000);
      }
    });
  }
  ~BoxAnswerer() { Join(); }
  void Join() {
    if (thread_.joinable()) thread_.join();
  }
  std::vector<std::string> texts;

 private:
  std::vector<int> buttons_;
  std::thread thread_;
};

struct RestartRecorder {
  RestartRecorder() {
    previous = SetExitWindowsCallForTests([this](UINT flags, DWORD reason) {
      calls.push_back(flags == EWX_REBOOT && reason == 0);
      if (!answer) ::SetLastError(ERROR_SHUTDOWN_IN_PROGRESS);
      return answer;
    });
  }
  ~RestartRecorder() { SetExitWindowsCallForTests(previous); }
  std::vector<bool> calls;  // true: a restart with EWX_REBOOT and reason 0
  BOOL answer = TRUE;
  ExitWindowsCall previous;
};

class DamagedSweep : public ::testing::Test {
 protected:
  void SetUp() override {
    SetProcessArguments({});
    RegDeleteTree(HKEY_LOCAL_MACHINE, kPelloryKey);
  }
  void TearDown() override { RegDeleteTree(HKEY_LOCAL_MACHINE, kPelloryKey); }
  void SetAppDir(const std::string& folder) {
    ASSERT_TRUE(RegWriteString(HKEY_LOCAL_MACHINE, kPelloryKey, "PelloryAppDir", folder));
  }
};

TEST_F(DamagedSweep, BinariesWithATildeAnywhereBelowAreFoundAndNothingElse) {
  ScratchDir dir;
  const std::string root = dir.Path();
  // A folder named like a damaged binary, and a damaged file two levels down.
  const std::string folder = root + "Cache~1.dll\\";
  const std::string deep = folder + "Level2\\AB~1.DLL";
  ASSERT_TRUE(::CreateDirectoryA(folder.c_str(), nullptr));
  ASSERT_TRUE(::CreateDirectoryA((folder + "Level2").c_str(), nullptr));
  for (const auto& p : {deep, root + "AB~1.TXT", root + "Plain.dll", folder + "Level2\\Plain.exe",
                        root + "AB~1.DLL.bak"})
    ASSERT_TRUE(WriteFileBytes(p, "x"));
  {
    CapturedLog log;
    EXPECT_EQ(SweepDamagedFiles(root, SweepMode::Report), 1);
    EXPECT_EQ(log.lines, std::vector<std::string>{"Damaged file '" + deep + "' found."});
  }
  SetAppDir(root);
  EXPECT_TRUE(HasDamagedFiles());
  ASSERT_TRUE(::DeleteFileA(deep.c_str()));
  {
    CapturedLog log;
    EXPECT_EQ(SweepDamagedFiles(root, SweepMode::Report), 0);
    EXPECT_TRUE(log.lines.empty());
    EXPECT_FALSE(HasDamagedFiles());
  }
  for (const char* name : {"x~y.OCX", "tool~2.Exe", "a~b.dll"}) EXPECT_TRUE(IsDamagedFileName(name));
  for (const char* name : {"AB~1.TXT", "Plain.dll", "AB~1.DLL.bak", "AB~1", "~dll", "ab~1.dl"})
    EXPECT_FALSE(IsDamagedFileName(name)) << name;
}

TEST_F(DamagedSweep, ReportStopsAtTheFirstAndRemoveVisitsTheWholeTree) {
  ScratchDir dir;
  const std::string root = dir.Path();
  const std::string tildeFolder = root + "Old~Stuff\\";
  ASSERT_TRUE(::CreateDirectoryA(tildeFolder.c_str(), nullptr));
  ASSERT_TRUE(::CreateDirectoryA((root + "Other").c_str(), nullptr));
  const std::vector<std::string> damaged = {root + "Top~1.dll", tildeFolder + "Mid~1.ocx",
                                            root + "Other\\Low~1.exe"};
  const std::vector<std::string> kept = {root + "Top.dll", tildeFolder + "AB~1.TXT"};
  for (const auto& p : damaged) ASSERT_TRUE(WriteFileBytes(p, "x"));
  for (const auto& p : kept) ASSERT_TRUE(WriteFileBytes(p, "x"));
  // Read-only is no lock: such a file goes at once.
  ASSERT_TRUE(::SetFileAttributesA(damaged[2].c_str(), FILE_ATTRIBUTE_READONLY));

  {
    CapturedLog log;
    EXPECT_EQ(SweepDamagedFiles(root, SweepMode::Report), 1);
    ASSERT_EQ(log.lines.size(), 1u);
    const bool namesOne = std::any_of(damaged.begin(), damaged.end(), [&](const std::string& p) {
      return log.lines[0] == "Damaged file '" + p + "' found.";
    });
    EXPECT_TRUE(namesOne) << log.lines[0];
    for (const auto& p : damaged) EXPECT_TRUE(FileExists(p)) << p;
  }
  {
    uint32_t rebootRequired = 0;
    CapturedLog log;
    EXPECT_EQ(SweepDamagedFiles(root, SweepMode::Remove, &rebootRequired), 0);
    EXPECT_EQ(rebootRequired, 0u);
    std::vector<std::string> expected;
    for (const auto& p : damaged) expected.push_back("Deleting damaged file '" + p + "'.");
    std::vector<std::string> logged = log.lines;
    std::sort(expected.begin(), expected.end());
    std::sort(logged.begin(), logged.end());
    EXPECT_EQ(logged, expected);
  }
  for (const auto& p : damaged) EXPECT_FALSE(FileExists(p)) << p;
  for (const auto& p : kept) EXPECT_TRUE(FileExists(p)) << p;
  EXPECT_TRUE(DirExists(tildeFolder));
}

TEST_F(DamagedSweep, WithoutAnApplicationFolderNothingIsSwept) {
  ScratchDir dir;
  const std::string damaged = dir.Path() + "Here~1.dll";
  ASSERT_TRUE(WriteFileBytes(damaged, "x"));
  char previous[MAX_PATH] = "";
  ::GetCurrentDirectoryA(MAX_PATH, previous);
  ASSERT_TRUE(::SetCurrentDirectoryA(dir.Path().c_str()));
  EXPECT_FALSE(HasDamagedFiles());
  EXPECT_EQ(RemoveDamagedFiles(), 1);
  ::SetCurrentDirectoryA(previous);
  EXPECT_TRUE(FileExists(damaged));
}

TEST_F(DamagedSweep, LockedDamagedFileLeadsToTheRestartQuestion) {
  ScratchDir dir;
  const std::string root = dir.Path();
  SetAppDir(root);
  ASSERT_TRUE(::CreateDirectoryA((root + "Sub").c_str(), nullptr));
  const std::string loose = root + "Loose~1.dll";
  const std::string locked = root + "Sub\\Busy~1.exe";
  ASSERT_TRUE(WriteFileBytes(loose, "x"));
  ASSERT_TRUE(WriteFileBytes(locked, "x"));
  RestartRecorder restart;
  {
    SCOPED_TRACE("No: the locked file waits for the restart");
    HeldFile holder;
    ASSERT_TRUE(holder.Hold(locked));
    CapturedLog log;
    BoxAnswerer answers({IDNO});
    EXPECT_EQ(RemoveDamagedFiles(), 1);
    answers.Join();
    EXPECT_EQ(answers.texts, std::vector<std::string>{LoadResString(IDS_CONFIRM_REBOOT)});
    EXPECT_FALSE(FileExists(loose));
    EXPECT_TRUE(FileExists(locked));
    EXPECT_NE(std::find(log.lines.begin(), log.lines.end(),
                        "The damaged file '" + locked + " is locked. Will be removed on next reboot."),
              log.lines.end());
    EXPECT_TRUE(restart.calls.empty());
    ASSERT_TRUE(holder.Release());
    ASSERT_TRUE(RunRestartProcessing());
    EXPECT_FALSE(FileExists(locked));
  }
  {
    SCOPED_TRACE("Yes: the restart is asked for; when that fails, the user is told");
    ASSERT_TRUE(WriteFileBytes(locked, "x"));
    HeldFile holder;
    ASSERT_TRUE(holder.Hold(locked));
    {
      BoxAnswerer answers({IDYES});
      EXPECT_EQ(RemoveDamagedFiles(), 1);
      answers.Join();
      EXPECT_EQ(answers.texts.size(), 1u);
      EXPECT_EQ(restart.calls, std::vector<bool>{true});
    }
    restart.answer = FALSE;
    {
      BoxAnswerer answers({IDYES, IDOK});
      EXPECT_EQ(RemoveDamagedFiles(), 1);
      answers.Join();
      EXPECT_EQ(answers.texts, (std::vector<std::string>{LoadResString(IDS_CONFIRM_REBOOT),
                                                         LoadResString(IDS_REBOOT_FAILED)}));
      EXPECT_EQ(restart.calls, (std::vector<bool>{true, true}));
    }
  }
}

}  // namespace
