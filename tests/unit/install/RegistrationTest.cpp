// COM server registration with the fixture servers of the build: their
// traces under HKCR, the RunOnce entries while a restart is pending, the log.
#include "install/Registration.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "core/Log.h"
#include "install/Hooks.h"
#include "tests/support/Scratch.h"

namespace {

using testing_support::RegKeyExists;
using testing_support::RegReadString;
using testing_support::ScratchDir;
using testing_support::WinePath;
using testing_support::WriteFileBytes;

const char kInprocTrace[] = "PelloryTest.InprocServer";
const char kLocalTrace[] = "PelloryTest.LocalServer";
const char kRunOnceKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";

class CapturedLog {
 public:
  CapturedLog() {
    previous_ = SetLogSink([this](const std::string& line) { lines.push_back(line); });
  }
  ~CapturedLog() { SetLogSink(previous_); }
  bool Has(const std::string& line) const {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
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

class RecordingTexts : public CompletionTexts {
 public:
  void ShowStep(const std::string& headline, const std::string& firstPath,
                const std::string& secondPath) override {
    steps.push_back({headline, firstPath, secondPath});
  }
  std::vector<Step> steps;
};

void PrintTo(const Step& s, std::ostream* os) {
  *os << "{" << s.headline << " | " << s.first << " | " << s.second << "}";
}

std::string Fixture(const char* name) {
  return WinePath(FIXTURES_DIR_UNIX) + "\\" + name;
}

void DeleteRunOnceValue(const char* name) {
  HKEY key = nullptr;
  if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRunOnceKey, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
    ::RegDeleteValueA(key, name);
    ::RegCloseKey(key);
  }
}

// Waits up to 10 s for a key that another process creates.
bool WaitForKey(HKEY root, const char* key) {
  for (int i = 0; i < 100; ++i) {
    if (RegKeyExists(root, key)) return true;
    ::Sleep(100);
  }
  return false;
}

class Registration : public ::testing::Test {
 protected:
  void SetUp() override { Clean(); }
  void TearDown() override {
    SetProcessStartFailureForTests(nullptr);
    ::SetEnvironmentVariableA("COMSERVER_FAIL", nullptr);
    Clean();
  }
  static void Clean() {
    ::RegDeleteKeyA(HKEY_CLASSES_ROOT, kInprocTrace);
    ::RegDeleteKeyA(HKEY_CLASSES_ROOT, kLocalTrace);
    for (const char* name : {"ComServer", "LocalServer", "Foo"}) DeleteRunOnceValue(name);
  }
  // A copy of a fixture server in the scratch folder, under `name`.
  std::string Place(const char* fixture, const std::string& name) {
    const std::string path = dir_.Path() + name;
    EXPECT_TRUE(::CopyFileA(Fixture(fixture).c_str(), path.c_str(), FALSE)) << path;
    return path;
  }

  ScratchDir dir_{"reg"};
};

TEST(ModuleKind, ExtensionOfTheFileNameAloneDecides) {
  struct Case {
    const char* path;
    bool outOfProcess;
    const char* baseName;
  };
  const Case cases[] = {
      {"C:\\App\\Server.exe", true, "Server"},
      {"C:\\App\\Server.EXE", true, "Server"},
      {"C:\\App\\Server.eXe", true, "Server"},
      {"C:\\App\\Player.dll", false, "Player"},
      {"C:\\App\\Player.exe.dll", false, "Player.exe"},
      {"C:\\App\\Player.exex", false, "Player"},
      {"C:\\Tools.exe\\Player", false, "Player"},   // the folder's extension is not the file's
      {"C:\\Tools.v2\\Player", false, "Player"},
      {"C:/App/Codec.ax", false, "Codec"},
      {"Plain", false, "Plain"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(IsOutOfProcessServer(c.path), c.outOfProcess);
    EXPECT_EQ(ModuleBaseName(c.path), c.baseName);
  }
}

TEST_F(Registration, BothServerKindsRegisterAndUnregister) {
  const std::string dll = Place("ComServer.dll", "ComServer.dll");
  const std::string exe = Place("LocalServer.exe", "LocalServer.exe");
  InstallState state;
  state.modulesToRegister = {dll, exe};
  RecordingTexts texts;
  CapturedLog log;
  EXPECT_EQ(RegisterModules(state, texts), 0u);

  std::string value;
  ASSERT_TRUE(RegReadString(HKEY_CLASSES_ROOT, kInprocTrace, "", value));
  EXPECT_EQ(value, dll);
  ASSERT_TRUE(RegReadString(HKEY_CLASSES_ROOT, kLocalTrace, "", value));
  EXPECT_EQ(value, exe);
  ASSERT_TRUE(RegReadString(HKEY_CLASSES_ROOT, kLocalTrace, "CommandLine", value));
  EXPECT_EQ(value, exe + " /RegServer");
  EXPECT_TRUE(log.Has("OLE in-proc server '" + dll + "' has been successfully registered."));
  EXPECT_TRUE(log.Has("Registering module: '" + exe + " /RegServer'..."));
  EXPECT_TRUE(log.Has("OLE out-of-proc server '" + exe + "' has been successfully registered."));
  EXPECT_EQ(texts.steps, (std::vector<Step>{{"Registering module:", exe, ""}}));

  EXPECT_EQ(UnregisterModule(dll), 0u);
  EXPECT_EQ(UnregisterModule(exe), 0u);
  EXPECT_FALSE(RegKeyExists(HKEY_CLASSES_ROOT, kInprocTrace));
  EXPECT_FALSE(RegKeyExists(HKEY_CLASSES_ROOT, kLocalTrace));
  EXPECT_TRUE(log.Has("OLE in-proc server '" + dll + "' has been successfully unregistered."));
  EXPECT_TRUE(log.Has("OLE out-of-proc server '" + exe + "' has been successfully unregistered."));
}

TEST_F(Registration, ModulesThatCannotRegisterAreLoggedAndTheListGoesOn) {
  const std::string text = dir_.Path() + "NotADll.dll";
  ASSERT_TRUE(WriteFileBytes(text, "just text, no module"));
  char system[MAX_PATH] = "";
  ::GetSystemDirectoryA(system, MAX_PATH);
  const std::string noExports = std::string(system) + "\\kernel32.dll";
  const std::string missingExe = dir_.Path() + "Missing.exe";
  const std::string dll = Place("ComServer.dll", "ComServer.dll");

  InstallState state;
  state.modulesToRegister = {text, noExports, missingExe, dll};
  RecordingTexts texts;
  CapturedLog log;
  EXPECT_EQ(RegisterModules(state, texts), 0u);
  EXPECT_TRUE(log.Has("File '" + text + "' is not a DLL or failed to be loaded."));
  EXPECT_TRUE(log.Has("DllRegisterServer cannot be found in library '" + noExports + "'..."));
  EXPECT_TRUE(log.Has("Failed to launch self-registered OLE out-of-process server '" + missingExe +
                      " /RegServer'. Error 2"));
  EXPECT_TRUE(RegKeyExists(HKEY_CLASSES_ROOT, kInprocTrace));  // the last one still registered

  // Unregistering the same files logs the same failures and goes on.
  EXPECT_EQ(UnregisterModule(text), 0u);
  EXPECT_EQ(UnregisterModule(noExports), 0u);
  EXPECT_EQ(UnregisterModule(missingExe), 0u);
  EXPECT_EQ(std::count(log.lines.begin(), log.lines.end(),
                       "File '" + text + "' is not a DLL or failed to be loaded."),
            2);
  EXPECT_TRUE(log.Has("DllUnregisterServer cannot be found in library '" + noExports + "'..."));
  EXPECT_TRUE(log.Has("Failed to launch self-registered OLE out-of-process server '" + missingExe +
                      " /UnregServer'. Error 0x02"));

  // A server whose own calls fail: the program's texts for that case.
  ::SetEnvironmentVariableA("COMSERVER_FAIL", "1");
  state.modulesToRegister = {dll};
  EXPECT_EQ(RegisterModules(state, texts), 0u);
  EXPECT_EQ(UnregisterModule(dll), 0u);
  EXPECT_TRUE(log.Has("DllRegisterServer cannot be found in the file '" + dll +
                      "'. The file cannot be registered"));
  EXPECT_TRUE(log.Has("DllUnregisterServer cannot be found in the file '" + dll +
                      "'. The file cannot be registered"));
  EXPECT_TRUE(RegKeyExists(HKEY_CLASSES_ROOT, kInprocTrace));
  EXPECT_FALSE(log.Has("OLE in-proc server '" + dll + "' has been successfully unregistered."));
}

// Wine starts a program that asks for elevation with an elevated token of its
// own, so the system's 740 is made here by the start seam; the shell's start
// is the real one.
TEST_F(Registration, ElevationRequiredRetriesThroughTheShell) {
  const std::string exe = Place("LocalServer.exe", "LocalServer.exe");
  const std::string missingExe = dir_.Path() + "Missing.exe";
  std::vector<std::string> refused;
  SetProcessStartFailureForTests([&refused](const std::string& command) -> DWORD {
    refused.push_back(command);
    return 740;
  });
  InstallState state;
  state.modulesToRegister = {exe, missingExe};
  RecordingTexts texts;
  CapturedLog log;
  EXPECT_EQ(RegisterModules(state, texts), 0u);
  EXPECT_EQ(refused, (std::vector<std::string>{exe + " /RegServer", missingExe + " /RegServer"}));
  EXPECT_TRUE(log.Has("Failed to launch self-registered OLE out-of-process server '" + exe +
                      " /RegServer'. Error 740"));
  EXPECT_FALSE(log.Has("OLE out-of-proc server '" + exe + "' has been successfully registered."));
  EXPECT_TRUE(log.Has("ShellExecute failed to run server '" + missingExe +
                      "' with command line '/RegServer'. Error 2"));
  // The shell's start is not waited for: the trace comes when the server ran.
  ASSERT_TRUE(WaitForKey(HKEY_CLASSES_ROOT, kLocalTrace));
  std::string line;
  ASSERT_TRUE(RegReadString(HKEY_CLASSES_ROOT, kLocalTrace, "CommandLine", line));
  EXPECT_NE(line.find("/RegServer"), std::string::npos) << line;
  EXPECT_FALSE(log.Has("ShellExecute failed to run server '" + exe +
                       "' with command line '/RegServer'. Error 2"));
}

TEST_F(Registration, PendingRestartDefersEveryModuleToRunOnce) {
  const std::string dll = Place("ComServer.dll", "ComServer.dll");
  const std::string exe = Place("LocalServer.exe", "LocalServer.exe");
  InstallState state;
  state.rebootRequired = 1;
  // Foo.dll and Foo.exe share the value name: the later one stays.
  state.modulesToRegister = {dll, exe, dir_.Path() + "Foo.dll", dir_.Path() + "Foo.exe"};
  RecordingTexts texts;
  CapturedLog log;
  EXPECT_EQ(RegisterModules(state, texts), 0u);

  EXPECT_FALSE(RegKeyExists(HKEY_CLASSES_ROOT, kInprocTrace));
  EXPECT_FALSE(RegKeyExists(HKEY_CLASSES_ROOT, kLocalTrace));
  std::string value;
  ASSERT_TRUE(RegReadString(HKEY_LOCAL_MACHINE, kRunOnceKey, "ComServer", value));
  EXPECT_EQ(value, "regsvr32 /s \"" + dll + "\"");
  ASSERT_TRUE(RegReadString(HKEY_LOCAL_MACHINE, kRunOnceKey, "LocalServer", value));
  EXPECT_EQ(value, exe + " /RegServer");
  ASSERT_TRUE(RegReadString(HKEY_LOCAL_MACHINE, kRunOnceKey, "Foo", value));
  EXPECT_EQ(value, dir_.Path() + "Foo.exe /RegServer");
  EXPECT_TRUE(log.Has("Registering module: '" + exe + " /RegServer'..."));
  EXPECT_EQ(texts.steps.size(), 2u);  // the two out-of-process servers
}

}  // namespace
