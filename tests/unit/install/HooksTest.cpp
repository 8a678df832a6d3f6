// Hooks and packages with the recording hook program of the build: what ran,
// with which command line, what the version record and the log say.
#include "install/Hooks.h"

#include <gtest/gtest.h>
#include <shellapi.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "core/Locations.h"
#include "core/Switches.h"
#include "tests/support/CapturedLog.h"
#include "tests/support/Scratch.h"
#include "tests/unit/install/RecordedSteps.h"

namespace {

using namespace testing_support;
using Lines = std::vector<std::string>;

const char kHooksKey[] = "Software\\Pellory\\Upgrade\\Hooks";
const std::string kHookProgram = WinePath(FIXTURES_DIR_UNIX) + "\\Hook.exe";

// The command lines a copy of the hook program was started with, one a run.
Lines Runs(const std::string& exe) {
  std::string text;
  Lines lines;
  ReadFileBytes(exe + ".runs", text);
  for (size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
    lines.push_back(text.substr(start, end - start));
  return lines;
}

std::string Recorded(const std::string& hookName) {
  std::string value;
  return RegReadString(HKEY_LOCAL_MACHINE, kHooksKey, hookName, value) ? value : "<none>";
}

ComponentHook Hook(const std::string& name, VersionQuad version, const std::string& run = "") {
  ComponentHook hook;
  hook.sHookName = name;
  hook.sName = name + ".exe";
  hook.version = version;
  hook.sRun = run;
  return hook;
}

// The installation folder is the scratch folder; hooks land at its top.
class HookPass : public ::testing::Test {
 protected:
  void SetUp() override {
    TearDown();
    ASSERT_TRUE(RegWriteString(HKEY_LOCAL_MACHINE, kPelloryKey, "PelloryAppDir", dir_.Path()));
  }
  void TearDown() override {
    SetProcessArguments({});
    RegDeleteTree(HKEY_LOCAL_MACHINE, kPelloryKey);
  }
  // A copy of the hook program in the installation folder, as the hook `name`.
  std::string Place(const std::string& name) {
    const std::string path = dir_.Path() + name + ".exe";
    EXPECT_TRUE(::CopyFileA(kHookProgram.c_str(), path.c_str(), FALSE)) << path;
    return path;
  }
  // One pass over components holding these hook lists; its result.
  DWORD Pass(const std::vector<std::vector<ComponentHook>>& lists) {
    state_.components.assign(lists.size(), Component());
    for (size_t i = 0; i < lists.size(); ++i) state_.components[i].hooks = lists[i];
    return ExecuteHooks(state_, texts_);
  }

  ScratchDir dir_{"hooks"};
  InstallState state_;
  RecordedSteps texts_;
};

// Once per version, again in setup mode; exit code 36 alone asks for the
// restart and is recorded all the same, and only when asked is a hook deleted.
// The first hook that cannot start ends the pass.
TEST_F(HookPass, RunsOncePerVersionAndAgainInSetupModeUntilOneCannotStart) {
  const std::string exe = Place("Codec"), restart = Place("Restart");
  const std::string command = exe + " \"/exit:5\"";
  CapturedLog log;
  EXPECT_EQ(Pass({{Hook("Codec", {1, 2, 3, 4}, "/exit:5")}}), 0u);
  EXPECT_EQ(Runs(exe), Lines{command});
  EXPECT_EQ(Recorded("Codec"), "1, 2, 3, 4");
  EXPECT_EQ(texts_.steps, Lines{"Executing file:|" + exe + "|"});
  EXPECT_EQ(state_.rebootRequired, 0u);
  EXPECT_TRUE(FileExists(exe));
  EXPECT_EQ(Pass({{Hook("Codec", {1, 2, 3, 4}, "/exit:5")}}), 0u);  // current: skipped silently
  EXPECT_EQ(log.lines, (Lines{"Executing hook 'Codec' version '1, 2, 3, 4'. Hook command line '" +
                                  command + "'.",
                              "Setting hook 'Codec' version '1, 2, 3, 4'"}));
  EXPECT_EQ(Pass({{Hook("Codec", {1, 2, 10, 0}, "/exit:5")}}), 0u);  // newer
  EXPECT_EQ(Recorded("Codec"), "1, 2, 10, 0");
  // Each hook once a pass: the same name with arguments again is the same
  // hook, the same name without arguments is another one.
  SetProcessArguments({"/Setup"});
  const ComponentHook again = Hook("Codec", {1, 2, 10, 0}, "other");
  EXPECT_EQ(Pass({{Hook("Codec", {1, 2, 10, 0}, "/exit:5")}, {again, Hook("Codec", {1, 2, 10, 0})}}),
            0u);
  EXPECT_EQ(Runs(exe), (Lines{command, command, command, exe}));
  EXPECT_EQ(std::count(log.lines.begin(), log.lines.end(), "Hook 'Codec' already executed'."), 1);

  ComponentHook deleted = Hook("Restart", {2, 0, 0, 0}, "/exit:36");
  deleted.bDeleteAfterExec = true;
  log.lines.clear();
  EXPECT_EQ(Pass({{deleted}}), 0u);
  EXPECT_EQ(state_.rebootRequired, 1u);
  EXPECT_FALSE(FileExists(restart));
  EXPECT_EQ(log.lines, (Lines{"Executing hook 'Restart' version '2, 0, 0, 0'. Hook command line '" +
                                  restart + " \"/exit:36\"'.",
                              "Deleting hook file '" + restart + "' after execution... ",
                              "succeeded.", "Setting hook 'Restart' version '2, 0, 0, 0'"}));

  const std::string first = Place("First"), later = Place("Later");
  ComponentHook unsafe = Hook("Unsafe", {1, 0, 0, 0});
  unsafe.sName = "..\\Evil.exe";
  log.lines.clear();
  EXPECT_EQ(Pass({{unsafe, Hook("First", {1, 0, 0, 0})},
                  {Hook("Absent", {1, 0, 0, 0}), Hook("Later", {1, 0, 0, 0})}}),
            static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_TRUE(log.Has("Failed to launch hook '" + dir_.Path() + "Absent.exe'. Error 0x02"));
  // The unsafe name: never started, one line from the path check, no record.
  EXPECT_EQ(std::count_if(log.lines.begin(), log.lines.end(),
                          [](const std::string& l) { return l.find("Evil") != l.npos; }),
            1);
  for (const char* name : {"Unsafe", "Absent", "Later"}) EXPECT_EQ(Recorded(name), "<none>");
  EXPECT_EQ(Runs(first).size(), 1u);
  EXPECT_TRUE(Runs(later).empty());
}

// The argument text reaches the hook as one argument, as the program's own
// start-up code splits it: a double quote in it cannot close the quotes and
// add arguments, and a trailing backslash cannot swallow the closing quote.
TEST_F(HookPass, ArgumentTextWithQuotesOrBackslashesArrivesAsOneArgument) {
  const std::string exe = Place("Quoted");
  const Lines texts = {"a\" /extra \"b", "C:\\Some Dir\\", "1\\\"2", "\"", "plain /quiet"};
  for (const std::string& run : texts) {
    ASSERT_EQ(Pass({{Hook("Quoted", {1, 0, 0, 0}, run)}}), 0u) << run;
    RegDeleteTree(HKEY_LOCAL_MACHINE, kHooksKey);
  }
  const Lines runs = Runs(exe);
  ASSERT_EQ(runs.size(), texts.size());
  for (size_t i = 0; i < runs.size(); ++i) {
    SCOPED_TRACE(runs[i]);
    const std::wstring wide(runs[i].begin(), runs[i].end());
    int count = 0;
    LPWSTR* args = ::CommandLineToArgvW(wide.c_str(), &count);
    ASSERT_NE(args, nullptr);
    std::vector<std::string> split;
    for (int a = 0; a < count; ++a) split.emplace_back(args[a], args[a] + ::lstrlenW(args[a]));
    ::LocalFree(args);
    EXPECT_EQ(split, (Lines{exe, texts[i]}));
  }
  EXPECT_EQ(state_.rebootRequired, 0u);

  // A quote in the hook's name would start Quoted.exe with arguments.
  CapturedLog log;
  EXPECT_EQ(Pass({{Hook("Quoted\" /extra \"x", {1, 0, 0, 0})}}),
            static_cast<DWORD>(ERROR_INVALID_NAME));
  EXPECT_TRUE(log.Has("Refused to start hook '" + dir_.Path() +
                      "Quoted\" /extra \"x.exe': a double quote in a program name."));
  EXPECT_EQ(Runs(exe).size(), texts.size());
  EXPECT_EQ(state_.rebootRequired, 0u);
}

TEST(LaunchHook, AnExitCodeOf259IsAnEnd) {
  // 259 is STILL_ACTIVE: a caller that watches the exit code alone waits forever.
  auto result = std::make_shared<std::atomic<DWORD>>(99);
  std::thread([result] {
    uint32_t reboot = 0;
    *result = LaunchHook(kHookProgram + " /exit:259", reboot);
  }).detach();
  for (int i = 0; i < 200 && *result == 99; ++i) ::Sleep(100);
  EXPECT_EQ(*result, 0u);
}

TEST_F(HookPass, APackagePathWithBlanksStartsThatProgramAndIsWaitedFor) {
  const std::string package = dir_.Path() + "My Package.exe", firstWord = dir_.Path() + "My.exe";
  const std::string missing = dir_.Path() + "Not There.exe";
  // A program named by the first word of the path must not be the one started.
  for (const auto& p : {package, firstWord})
    ASSERT_TRUE(::CopyFileA(kHookProgram.c_str(), p.c_str(), FALSE));
  CapturedLog log;
  // The record is written after the sleep: it is there because the start was waited for.
  EXPECT_EQ(LaunchPackage(package, "/sleep:700"), 0u);
  EXPECT_EQ(Runs(package), Lines{"\"" + package + "\" /sleep:700"});
  EXPECT_TRUE(Runs(firstWord).empty());
  EXPECT_EQ(LaunchPackage(missing, ""), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  // A quote in the program's name would end it early and start "a.exe" with
  // the rest as its arguments.
  const std::string quoted = dir_.Path() + "a\" /x \"b.exe";
  ASSERT_TRUE(::CopyFileA(kHookProgram.c_str(), (dir_.Path() + "a.exe").c_str(), FALSE));
  EXPECT_EQ(LaunchPackage(quoted, ""), static_cast<DWORD>(ERROR_INVALID_NAME));
  EXPECT_TRUE(Runs(dir_.Path() + "a.exe").empty());
  EXPECT_EQ(log.lines, (Lines{"Successfully launched package process '" + package + "'.",
                              "Failed to launch package process '" + missing + "'. Error 0x02",
                              "Refused to start package '" + quoted +
                                  "': a double quote in a program name."}));
}

}  // namespace
