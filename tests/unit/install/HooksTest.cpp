// Hooks and packages with the recording hook program of the build: what ran,
// with which command line, what the version record and the log say.
#include "install/Hooks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <thread>
#include <vector>

#include "core/Locations.h"
#include "core/Log.h"
#include "core/Switches.h"
#include "frame/Handle.h"
#include "tests/support/Scratch.h"

namespace {

using testing_support::FileExists;
using testing_support::ReadFileBytes;
using testing_support::RegDeleteTree;
using testing_support::RegReadString;
using testing_support::RegWriteString;
using testing_support::ScratchDir;
using testing_support::WinePath;

const char kHooksKey[] = "Software\\Pellory\\Upgrade\\Hooks";

class CapturedLog {
 public:
  CapturedLog() {
    previous_ = SetLogSink([this](const std::string& line) { lines.push_back(line); });
  }
  ~CapturedLog() { SetLogSink(previous_); }
  bool Has(const std::string& line) const { return Count(line) > 0; }
  long Count(const std::string& line) const {
    return static_cast<long>(std::count(lines.begin(), lines.end(), line));
  }
  std::vector<std::string> lines;

 private:
  LogSink previous_;
};

struct Step {
  std::string headline, first, second;
  bool operator==(const Step& o) const {
    return headline == o.headline && first == o.first && second == o.second;
  }
};

void PrintTo(const Step& s, std::ostream* os) {
  *os << "{" << s.headline << " | " << s.first << " | " << s.second << "}";
}

class RecordingTexts : public CompletionTexts {
 public:
  void ShowStep(const std::string& headline, const std::string& firstPath,
                const std::string& secondPath) override {
    steps.push_back({headline, firstPath, secondPath});
  }
  std::vector<Step> steps;
};

// The command lines a copy of the hook program was started with, one a run.
std::vector<std::string> Runs(const std::string& exe) {
  std::string text;
  std::vector<std::string> lines;
  if (!ReadFileBytes(exe + ".runs", text)) return lines;
  size_t start = 0;
  for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
    lines.push_back(text.substr(start, end - start));
  return lines;
}

ComponentHook MakeHook(const std::string& hookName, const std::string& file, VersionQuad version,
                       const std::string& run = "") {
  ComponentHook hook;
  hook.sHookName = hookName;
  hook.sName = file;
  hook.version = version;
  hook.sRun = run;
  return hook;
}

std::string Recorded(const std::string& hookName) {
  std::string value;
  return RegReadString(HKEY_LOCAL_MACHINE, kHooksKey, hookName, value) ? value : "<none>";
}

// Holds a start seam for one scope.
class StartSeam {
 public:
  explicit StartSeam(ProcessStartFailure seam) { SetProcessStartFailureForTests(std::move(seam)); }
  ~StartSeam() { SetProcessStartFailureForTests(nullptr); }
  StartSeam(const StartSeam&) = delete;
  StartSeam& operator=(const StartSeam&) = delete;
};

// The installation folder is the scratch folder; hooks land at its top.
class HookPass : public ::testing::Test {
 protected:
  void SetUp() override {
    RegDeleteTree(HKEY_LOCAL_MACHINE, kPelloryKey);
    ASSERT_TRUE(RegWriteString(HKEY_LOCAL_MACHINE, kPelloryKey, "PelloryAppDir", dir_.Path()));
    SetProcessArguments({});
  }
  void TearDown() override {
    SetProcessArguments({});
    RegDeleteTree(HKEY_LOCAL_MACHINE, kPelloryKey);
  }
  // A copy of the hook program in the installation folder.
  std::string Place(const std::string& name) {
    const std::string path = dir_.Path() + name;
    const std::string hook = WinePath(FIXTURES_DIR_UNIX) + "\\Hook.exe";
    EXPECT_TRUE(::CopyFileA(hook.c_str(), path.c_str(), FALSE)) << path;
    return path;
  }
  static Component With(std::vector<ComponentHook> hooks) {
    Component component;
    component.sName = "Player";
    component.hooks = std::move(hooks);
    return component;
  }

  ScratchDir dir_{"hooks"};
};

TEST_F(HookPass, RunsOncePerVersionAndAgainInSetupMode) {
  const std::string exe = Place("Setup1.exe");
  InstallState state;
  state.components = {With({MakeHook("Codec", "Setup1.exe", {1, 2, 3, 4}, "first arg")})};
  const std::string command = exe + " \"first arg\"";
  {
    RecordingTexts texts;
    CapturedLog log;
    EXPECT_EQ(ExecuteHooks(state, texts), 0u);
    EXPECT_EQ(Runs(exe), std::vector<std::string>{command});
    EXPECT_EQ(Recorded("Codec"), "1, 2, 3, 4");
    EXPECT_TRUE(log.Has("Executing hook 'Codec' version '1, 2, 3, 4'. Hook command line '" +
                        command + "'."));
    EXPECT_TRUE(log.Has("Setting hook 'Codec' version '1, 2, 3, 4'"));
    EXPECT_EQ(texts.steps, (std::vector<Step>{{"Executing file:", exe, ""}}));
  }
  {
    // The recorded version is current: skipped without a word.
    RecordingTexts texts;
    CapturedLog log;
    EXPECT_EQ(ExecuteHooks(state, texts), 0u);
    EXPECT_EQ(Runs(exe).size(), 1u);
    EXPECT_EQ(log.lines, std::vector<std::string>{});
    EXPECT_TRUE(texts.steps.empty());
  }
  // A newer version runs (parts compare as numbers: 10 > 3).
  state.components[0].hooks[0].version = {1, 2, 10, 0};
  RecordingTexts texts;
  EXPECT_EQ(ExecuteHooks(state, texts), 0u);
  EXPECT_EQ(Runs(exe).size(), 2u);
  EXPECT_EQ(Recorded("Codec"), "1, 2, 10, 0");
  // An older one does not.
  state.components[0].hooks[0].version = {1, 2, 9, 9};
  EXPECT_EQ(ExecuteHooks(state, texts), 0u);
  EXPECT_EQ(Runs(exe).size(), 2u);
  EXPECT_EQ(Recorded("Codec"), "1, 2, 10, 0");
  // Setup mode runs every hook, whatever was recorded.
  SetProcessArguments({"/Setup"});
  EXPECT_EQ(ExecuteHooks(state, texts), 0u);
  EXPECT_EQ(Runs(exe).size(), 3u);
  EXPECT_EQ(Recorded("Codec"), "1, 2, 9, 9");
}

TEST_F(HookPass, ExitCodeAndDeleteAfterExec) {
  const std::string plain = Place("Plain.exe");
  const std::string restart = Place("Restart.exe");
  ComponentHook deleted = MakeHook("Restart", "Restart.exe", {2, 0, 0, 0}, "/exit:36");
  deleted.bDeleteAfterExec = true;
  InstallState state;
  state.components = {With({MakeHook("Plain", "Plain.exe", {1, 0, 0, 0}, "/exit:5")})};
  RecordingTexts texts;
  CapturedLog log;
  EXPECT_EQ(ExecuteHooks(state, texts), 0u);
  EXPECT_EQ(state.rebootRequired, 0u);  // only 36 asks for the restart
  EXPECT_TRUE(FileExists(plain));

  state.components = {With({deleted})};
  EXPECT_EQ(ExecuteHooks(state, texts), 0u);
  EXPECT_EQ(state.rebootRequired, 1u);
  EXPECT_EQ(Runs(restart).size(), 1u);
  EXPECT_FALSE(FileExists(restart));
  EXPECT_TRUE(log.Has("Deleting hook file '" + restart + "' after execution... "));
  EXPECT_TRUE(log.Has("succeeded."));
  // Recorded although it asked for a restart: it does not run again after it.
  EXPECT_EQ(Recorded("Restart"), "2, 0, 0, 0");
}

TEST_F(HookPass, AHookThatCannotStartEndsThePass) {
  const std::string first = Place("First.exe");
  const std::string later = Place("Later.exe");
  const std::string absent = dir_.Path() + "Absent.exe";
  InstallState state;
  state.components = {With({MakeHook("Unsafe", "..\\Evil.exe", {1, 0, 0, 0}),
                            MakeHook("First", "First.exe", {1, 0, 0, 0})}),
                      With({MakeHook("Absent", "Absent.exe", {1, 0, 0, 0}),
                            MakeHook("Later", "Later.exe", {1, 0, 0, 0})})};
  RecordingTexts texts;
  CapturedLog log;
  EXPECT_EQ(ExecuteHooks(state, texts), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_TRUE(log.Has("Failed to launch hook '" + absent + "'. Error 0x02"));

  // The unsafe name: never started, one line from the path check, no record.
  EXPECT_EQ(Recorded("Unsafe"), "<none>");
  const auto unsafeLines = std::count_if(log.lines.begin(), log.lines.end(),
                                         [](const std::string& l) {
                                           return l.find("Evil.exe") != std::string::npos;
                                         });
  EXPECT_EQ(unsafeLines, 1);
  // The one before ran; the failed one and the ones after it are not recorded.
  EXPECT_EQ(Runs(first).size(), 1u);
  EXPECT_EQ(Recorded("First"), "1, 0, 0, 0");
  EXPECT_EQ(Recorded("Absent"), "<none>");
  EXPECT_TRUE(Runs(later).empty());
  EXPECT_EQ(Recorded("Later"), "<none>");
}

TEST_F(HookPass, TheSameHookRunsOnceAPass) {
  // Setup mode, so that the version record alone would not stop the repeat.
  SetProcessArguments({"/Setup"});
  const std::string exe = Place("Shared.exe");
  InstallState state;
  state.components = {With({MakeHook("Shared", "Shared.exe", {1, 0, 0, 0}, "x")}),
                      With({MakeHook("Shared", "Shared.exe", {1, 0, 0, 0}, "y"),
                            // Without arguments it is another hook of that name.
                            MakeHook("Shared", "Shared.exe", {1, 0, 0, 0})})};
  RecordingTexts texts;
  CapturedLog log;
  EXPECT_EQ(ExecuteHooks(state, texts), 0u);
  EXPECT_EQ(Runs(exe), (std::vector<std::string>{exe + " \"x\"", exe}));
  EXPECT_EQ(log.Count("Hook 'Shared' already executed'."), 1);
}

TEST(LaunchHook, AnExitCodeOf259IsAnEnd) {
  // 259 is STILL_ACTIVE: a caller that watches the exit code alone waits forever.
  struct Outcome {
    frame::ScopedHandle done{::CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    DWORD result = 99;
    uint32_t reboot = 0;
  };
  auto outcome = std::make_shared<Outcome>();
  const std::string command = WinePath(FIXTURES_DIR_UNIX) + "\\Hook.exe /exit:259";
  std::thread([outcome, command] {
    outcome->result = LaunchHook(command, outcome->reboot);
    ::SetEvent(outcome->done.get());
  }).detach();
  ASSERT_EQ(::WaitForSingleObject(outcome->done.get(), 20000), WAIT_OBJECT_0);
  EXPECT_EQ(outcome->result, 0u);
  EXPECT_EQ(outcome->reboot, 0u);
}

TEST(LaunchPackage, APathWithBlanksIsStartedUnquoted) {
  ScratchDir dir("package");
  const std::string hook = WinePath(FIXTURES_DIR_UNIX) + "\\Hook.exe";
  const std::string package = dir.Path() + "My Package.exe";
  ASSERT_TRUE(::CopyFileA(hook.c_str(), package.c_str(), FALSE));
  // The command lines handed to the system (Wine quotes a blank path it
  // resolved before the program sees it; Windows does not).
  std::vector<std::string> started;
  StartSeam seam([&started](const std::string& command) -> DWORD {
    started.push_back(command);
    return 0;
  });
  CapturedLog log;

  // The record is written after the sleep: it is there because the start was waited for.
  EXPECT_EQ(LaunchPackage(package, "/sleep:700 /exit:5"), 0u);
  ASSERT_EQ(Runs(package).size(), 1u);
  EXPECT_NE(Runs(package)[0].find("My Package.exe\" /sleep:700 /exit:5"), std::string::npos);
  EXPECT_TRUE(log.Has("Successfully launched package process '" + package + "'."));
  EXPECT_EQ(LaunchPackage(package, ""), 0u);
  EXPECT_EQ(Runs(package).size(), 2u);
  EXPECT_EQ(started, (std::vector<std::string>{package + " /sleep:700 /exit:5", package}));

  // With a program named by the first word beside it, that one starts.
  const std::string firstWord = dir.Path() + "My.exe";
  ASSERT_TRUE(::CopyFileA(hook.c_str(), firstWord.c_str(), FALSE));
  EXPECT_EQ(LaunchPackage(package, "/exit:0"), 0u);
  EXPECT_EQ(Runs(firstWord), std::vector<std::string>{package + " /exit:0"});
  EXPECT_EQ(Runs(package).size(), 2u);

  const std::string missing = dir.Path() + "Not There.exe";
  EXPECT_EQ(LaunchPackage(missing, ""), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_TRUE(log.Has("Failed to launch package process '" + missing + "'. Error 0x02"));
}

}  // namespace
