// COM server registration with the fixture servers of the build: their
// traces under HKCR, the RunOnce entries while a restart is pending, the log.
#include "install/Registration.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "frame/RegKey.h"
#include "install/FileReplace.h"
#include "install/Hooks.h"
#include "tests/fixtures/holder/HeldFile.h"
#include "tests/support/CapturedLog.h"
#include "tests/support/Scratch.h"
#include "tests/unit/install/RecordedSteps.h"

namespace {

using namespace testing_support;
using Lines = std::vector<std::string>;

const char kInprocTrace[] = "PelloryTest.InprocServer";
const char kLocalTrace[] = "PelloryTest.LocalServer";
const char kRunOnceKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";

std::string Value(HKEY root, const char* key, const char* name) {
  std::string value;
  return RegReadString(root, key, name, value) ? value : "<none>";
}

// The RunOnce values whose names begin with `prefix`: name -> command.
std::map<std::string, std::string> RunOnceValues(const std::string& prefix) {
  std::map<std::string, std::string> values;
  frame::RegKey key;
  if (key.Open(HKEY_LOCAL_MACHINE, kRunOnceKey) != ERROR_SUCCESS) return values;
  for (DWORD index = 0;; ++index) {
    char name[1024] = "";
    BYTE data[2048] = {};
    DWORD nameLength = sizeof(name), dataLength = sizeof(data) - 1, type = 0;
    if (::RegEnumValueA(key.get(), index, name, &nameLength, nullptr, &type, data, &dataLength) !=
        ERROR_SUCCESS)
      break;
    if (std::string(name).compare(0, prefix.size(), prefix) == 0)
      values[name] = reinterpret_cast<const char*>(data);
  }
  return values;
}

class Registration : public ::testing::Test {
 protected:
  void SetUp() override {
    Clean();
    ASSERT_TRUE(RunOnceValues(dir_.Path()).empty());
    for (const char* name : {"ComServer.dll", "LocalServer.exe"})
      ASSERT_TRUE(::CopyFileA((WinePath(FIXTURES_DIR_UNIX) + "\\" + name).c_str(),
                              (dir_.Path() + name).c_str(), FALSE));
  }
  void TearDown() override {
    SetProcessStartFailureForTests(nullptr);
    ::SetEnvironmentVariableA("COMSERVER_FAIL", nullptr);
    Clean();
  }
  void Clean() {
    ::RegDeleteKeyA(HKEY_CLASSES_ROOT, kInprocTrace);
    ::RegDeleteKeyA(HKEY_CLASSES_ROOT, kLocalTrace);
    for (const auto& value : RunOnceValues(dir_.Path()))
      ::RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, kRunOnceKey, value.first.c_str());
  }
  // RegisterModules over `paths`; the completion steps it showed.
  static Lines Register(Lines paths, uint32_t rebootRequired = 0) {
    InstallState state;
    state.modulesToRegister = std::move(paths);
    state.rebootRequired = rebootRequired;
    RecordedSteps texts;
    EXPECT_EQ(RegisterModules(state, texts), 0u);
    return texts.steps;
  }

  ScratchDir dir_{"reg"};
  const std::string dll_ = dir_.Path() + "ComServer.dll";
  const std::string exe_ = dir_.Path() + "LocalServer.exe";
};

// A module that cannot be registered is logged and the list goes on.
TEST_F(Registration, ServersRegisterAndUnregisterAndFailuresAreLogged) {
  const std::string text = dir_.Path() + "NotADll.dll", missing = dir_.Path() + "Missing.exe";
  ASSERT_TRUE(WriteFileBytes(text, "just text, no module"));
  char system[MAX_PATH] = "";
  ::GetSystemDirectoryA(system, MAX_PATH);
  const std::string noExports = std::string(system) + "\\kernel32.dll";
  CapturedLog log;
  EXPECT_EQ(Register({text, noExports, missing, dll_, exe_}),
            (Lines{"Registering module:|" + missing + "|", "Registering module:|" + exe_ + "|"}));
  EXPECT_EQ(Value(HKEY_CLASSES_ROOT, kInprocTrace, ""), dll_);
  EXPECT_EQ(Value(HKEY_CLASSES_ROOT, kLocalTrace, ""), exe_);
  for (const std::string& path : {noExports, missing, dll_, exe_}) UnregisterModule(path);
  EXPECT_FALSE(RegKeyExists(HKEY_CLASSES_ROOT, kInprocTrace));
  EXPECT_FALSE(RegKeyExists(HKEY_CLASSES_ROOT, kLocalTrace));
  ::SetEnvironmentVariableA("COMSERVER_FAIL", "1");  // the server's own calls fail
  Register({dll_});
  const std::string failedStart = "Failed to launch self-registered OLE out-of-process server '" +
                                  missing;
  EXPECT_EQ(log.lines,
            (Lines{"File '" + text + "' is not a DLL or failed to be loaded.",
                   "DllRegisterServer cannot be found in library '" + noExports + "'...",
                   "Registering module: '" + missing + " /RegServer'...",
                   failedStart + " /RegServer'. Error 2",
                   "OLE in-proc server '" + dll_ + "' has been successfully registered.",
                   "Registering module: '" + exe_ + " /RegServer'...",
                   "OLE out-of-proc server '" + exe_ + "' has been successfully registered.",
                   "DllUnregisterServer cannot be found in library '" + noExports + "'...",
                   failedStart + " /UnregServer'. Error 0x02",
                   "OLE in-proc server '" + dll_ + "' has been successfully unregistered.",
                   "OLE out-of-proc server '" + exe_ + "' has been successfully unregistered.",
                   "DllRegisterServer cannot be found in the file '" + dll_ +
                       "'. The file cannot be registered"}));
}

// A hidden server that never ends (stuck on a question nobody can see) is
// ended after the bound and logged, and its file is free again.
TEST_F(Registration, AHiddenServerThatNeverEndsIsEndedAfterTheBound) {
  const std::string hanging = dir_.Path() + "HangingServer.exe";
  ASSERT_TRUE(::CopyFileA(exe_.c_str(), hanging.c_str(), FALSE));
  SetHiddenProgramLimitForTests(2000);
  CapturedLog log;
  const DWORD start = ::GetTickCount();
  UnregisterModule(hanging);
  const DWORD took = ::GetTickCount() - start;
  SetHiddenProgramLimitForTests(0);
  EXPECT_LT(took, 15000u);
  EXPECT_TRUE(log.Has("'" + hanging + " /UnregServer' did not end within 2 seconds and was ended."))
      << log.Text();
  EXPECT_TRUE(::DeleteFileA(hanging.c_str())) << ::GetLastError();
}

// Wine never refuses a start with 740 (a program that requires elevation
// starts with the caller's token), so the start seam makes that error; the
// shell's start is the real one and is not waited for.
TEST_F(Registration, ElevationRequiredRetriesThroughTheShell) {
  const std::string missing = dir_.Path() + "Missing.exe";
  SetProcessStartFailureForTests([](const std::string&) -> DWORD { return 740; });
  CapturedLog log;
  Register({exe_, missing});
  const std::string failed = "Failed to launch self-registered OLE out-of-process server '";
  EXPECT_EQ(log.lines, (Lines{"Registering module: '" + exe_ + " /RegServer'...",
                              failed + exe_ + " /RegServer'. Error 740",
                              "Registering module: '" + missing + " /RegServer'...",
                              failed + missing + " /RegServer'. Error 740",
                              "ShellExecute failed to run server '" + missing +
                                  "' with command line '/RegServer'. Error 2"}));
  // The server writes its trace only when started with /RegServer.
  bool traced = false;
  for (int i = 0; i < 100 && !(traced = RegKeyExists(HKEY_CLASSES_ROOT, kLocalTrace)); ++i)
    ::Sleep(100);
  EXPECT_TRUE(traced);
}

// Each module gets a RunOnce value of its own, named by its path.
TEST_F(Registration, PendingRestartDefersEveryModuleToRunOnce) {
  // The extension of the file name alone, in any case, makes a server out of process.
  const std::string dotted = dir_.Path() + "Player.exe.dll";
  const std::string foo = dir_.Path() + "Foo.eXe";
  CapturedLog log;
  EXPECT_EQ(Register({dll_, exe_, dotted, foo}, 1),
            (Lines{"Registering module:|" + exe_ + "|", "Registering module:|" + foo + "|"}));
  EXPECT_FALSE(RegKeyExists(HKEY_CLASSES_ROOT, kInprocTrace));
  EXPECT_FALSE(RegKeyExists(HKEY_CLASSES_ROOT, kLocalTrace));
  EXPECT_EQ(RunOnceValues(dir_.Path()),
            (std::map<std::string, std::string>{{dll_, "regsvr32 /s \"" + dll_ + "\""},
                                                {exe_, exe_ + " /RegServer"},
                                                {dotted, "regsvr32 /s \"" + dotted + "\""},
                                                {foo, foo + " /RegServer"}}));
  EXPECT_EQ(log.lines, (Lines{"Registering module: '" + exe_ + " /RegServer'...",
                              "Registering module: '" + foo + " /RegServer'..."}));
}

// Foo.dll and Foo.exe, both in use, are replaced at the restart and both
// registered after it: Windows' restart processing (here Wine's) renames the
// waiting copies into place and then runs the RunOnce commands.
TEST_F(Registration, TwoLockedModulesOfOneBaseNameAreBothRegisteredAfterTheRestart) {
  const std::string fooDll = dir_.Path() + "Foo.dll", fooExe = dir_.Path() + "Foo.exe";
  ASSERT_TRUE(WriteFileBytes(fooDll, "old dll") && WriteFileBytes(fooExe, "old exe"));
  HeldFile heldDll, heldExe;
  ASSERT_TRUE(heldDll.Hold(fooDll) && heldExe.Hold(fooExe));
  InstallState state;
  ASSERT_EQ(ReplaceInstalledFile(fooDll, dll_, state), 0u);
  ASSERT_EQ(ReplaceInstalledFile(fooExe, exe_, state), 0u);
  ASSERT_EQ(state.rebootRequired, 1u);
  state.modulesToRegister = {fooDll, fooExe};
  RecordedSteps texts;
  EXPECT_EQ(RegisterModules(state, texts), 0u);
  EXPECT_EQ(RunOnceValues(dir_.Path()).size(), 2u);
  ASSERT_TRUE(heldDll.Release() && heldExe.Release());

  ASSERT_TRUE(RunRestartProcessing());
  EXPECT_EQ(Value(HKEY_CLASSES_ROOT, kInprocTrace, ""), fooDll);
  EXPECT_EQ(Value(HKEY_CLASSES_ROOT, kLocalTrace, ""), fooExe);
  EXPECT_TRUE(RunOnceValues(dir_.Path()).empty());
}

}  // namespace
