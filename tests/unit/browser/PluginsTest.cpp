// Plug-in removal on the prefix's own registry and folders: the fixture COM
// server registered as the media player plug-in and as the media filter, and
// the browser plug-in folder named by the Netscape key.
#include "browser/Plugins.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "frame/Handle.h"
#include "frame/RegKey.h"
#include "tests/support/CapturedLog.h"
#include "tests/support/Scratch.h"

namespace {

using namespace testing_support;
using Lines = std::vector<std::string>;

const char kTraceKey[] = "PelloryTest.InprocServer";
const char kNetscapeKey[] = "Software\\Netscape\\Netscape Navigator";
const char kNetscapeMainKey[] = "Software\\Netscape\\Netscape Navigator\\Main";
const char kFolderValue[] = "Install Directory";
const char* const kPluginNames[] = {"NPPelloryInst.dll", "NPWMPPelloryInst.dll"};

std::string ClassKey() { return std::string("CLSID\\") + kMediaPlayerPluginClsid; }
std::string ServerKey() { return ClassKey() + "\\InprocServer32"; }

std::string SystemFolder() {
  char system[MAX_PATH] = "";
  ::GetSystemDirectoryA(system, MAX_PATH);
  return system;
}

std::string Unregistered(const std::string& path) {
  return "OLE in-proc server '" + path + "' has been successfully unregistered.";
}

// A copy of the fixture COM server at `path`, registered; with `asPlayerPlugIn`
// it registers itself as the media player plug-in's class.
bool InstallServer(const std::string& path, bool asPlayerPlugIn) {
  if (!::CopyFileA((WinePath(FIXTURES_DIR_UNIX) + "\\ComServer.dll").c_str(), path.c_str(),
                   FALSE))
    return false;
  ::SetEnvironmentVariableA("COMSERVER_CLSID", asPlayerPlugIn ? kMediaPlayerPluginClsid : nullptr);
  frame::ScopedModule module(::LoadLibraryA(path.c_str()));
  const FARPROC proc = module ? ::GetProcAddress(module.get(), "DllRegisterServer") : nullptr;
  if (!proc) return false;
  return SUCCEEDED(reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(reinterpret_cast<void*>(proc))());
}

// The two browser plug-ins and a file of another maker in `folder`\Program\Plugins.
bool WriteBrowserPlugins(const std::string& folder) {
  const std::string plugins = folder + "Program\\Plugins\\";
  ::CreateDirectoryA((folder + "Program").c_str(), nullptr);
  ::CreateDirectoryA(plugins.c_str(), nullptr);
  bool written = WriteFileBytes(plugins + "NPOther.dll", "another maker's plug-in");
  for (const char* name : kPluginNames) written = written && WriteFileBytes(plugins + name, name);
  return written;
}

// Which of the three files of WriteBrowserPlugins are in `folder`.
Lines BrowserPluginsIn(const std::string& folder) {
  Lines present;
  for (const char* name : {"NPPelloryInst.dll", "NPWMPPelloryInst.dll", "NPOther.dll"})
    if (FileExists(folder + "Program\\Plugins\\" + name)) present.push_back(name);
  return present;
}

class RemovePluginsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Clean();
    char current[MAX_PATH] = "";
    ::GetCurrentDirectoryA(MAX_PATH, current);
    previousFolder_ = current;
    // A relative path read from the registry would be taken here, and an
    // empty folder value as this drive's root: both stay inside the prefix.
    ASSERT_EQ(work_.Path().compare(0, 3, "C:\\"), 0) << work_.Path();
    ASSERT_TRUE(::SetCurrentDirectoryA(work_.Path().c_str()));
  }
  void TearDown() override {
    ::SetCurrentDirectoryA(previousFolder_.c_str());
    ::SetEnvironmentVariableA("COMSERVER_CLSID", nullptr);
    Clean();
  }
  void Clean() {
    RegDeleteTree(HKEY_CLASSES_ROOT, ClassKey());
    ::RegDeleteKeyA(HKEY_CLASSES_ROOT, kTraceKey);
    RegDeleteTree(HKEY_CURRENT_USER, kNetscapeKey);
    ::DeleteFileA(filter_.c_str());
    RemoveTree(driveRoot_ + "Program");
  }

  ScratchDir work_{"plugins"};
  ScratchDir browser_{"netscape"};
  const std::string filter_ = SystemFolder() + "\\plrdscdc.ax";
  const std::string driveRoot_ = "C:\\";
  std::string previousFolder_;
};

// The player plug-in unregistered (its class key gone) and deleted, the
// filter unregistered and deleted, the browser's two plug-ins deleted and
// nothing else of its plug-in folder. A filter a running player holds, left
// to the restart with the restart question, is the end-to-end uninstall's.
TEST_F(RemovePluginsTest, RemovesThePlugIns) {
  const std::string player = work_.Path() + "PelloryPlayerPlugIn.dll";
  ASSERT_TRUE(InstallServer(filter_, false));
  ASSERT_TRUE(InstallServer(player, true));
  std::string server;
  ASSERT_TRUE(RegReadString(HKEY_CLASSES_ROOT, ServerKey(), "", server));
  ASSERT_EQ(server, player);
  ASSERT_TRUE(RegWriteString(HKEY_CURRENT_USER, kNetscapeMainKey, kFolderValue,
                             browser_.Path().substr(0, browser_.Path().size() - 1)));
  ASSERT_TRUE(WriteBrowserPlugins(browser_.Path()));

  bool rebootNeeded = false;
  {
    CapturedLog log;
    EXPECT_TRUE(RemovePlugins(rebootNeeded));
    EXPECT_EQ(log.lines, (Lines{Unregistered(player), Unregistered(filter_)}));
  }
  EXPECT_FALSE(rebootNeeded);
  EXPECT_FALSE(RegKeyExists(HKEY_CLASSES_ROOT, ClassKey()));
  EXPECT_FALSE(FileExists(player));
  EXPECT_FALSE(FileExists(filter_));
  EXPECT_EQ(BrowserPluginsIn(browser_.Path()), (Lines{"NPOther.dll"}));

  // Nothing left to remove: nothing happens, and the flag is never cleared.
  rebootNeeded = true;
  CapturedLog log;
  EXPECT_TRUE(RemovePlugins(rebootNeeded));
  EXPECT_TRUE(rebootNeeded);
  EXPECT_EQ(log.lines, Lines{});
}

// A registration that names its module through a folder variable
// (REG_EXPAND_SZ, as "%ProgramFiles%\\..." often is): the machine's folder is
// put in before the path is checked, and the plug-in goes. A variable the
// user's environment could set is no path at all.
TEST_F(RemovePluginsTest, ExpandsOnlyTheMachinesFolderVariables) {
  char programFiles[MAX_PATH] = "";
  ASSERT_TRUE(SUCCEEDED(::SHGetFolderPathA(nullptr, CSIDL_PROGRAM_FILES, nullptr,
                                           SHGFP_TYPE_CURRENT, programFiles)));
  const std::string folder = std::string(programFiles) + "\\PelloryTestPlugIn\\";
  ::CreateDirectoryA(folder.c_str(), nullptr);
  const std::string player = folder + "PelloryPlayerPlugIn.dll";
  ASSERT_TRUE(InstallServer(player, true));
  ::SetEnvironmentVariableA("PELLORY_PLUGIN_FOLDER", folder.c_str());
  const auto registerAs = [](const std::string& unexpanded) {
    frame::RegKey key;
    return key.Open(HKEY_CLASSES_ROOT, ServerKey(), KEY_SET_VALUE) == ERROR_SUCCESS &&
           ::RegSetValueExA(key.get(), "", 0, REG_EXPAND_SZ,
                            reinterpret_cast<const BYTE*>(unexpanded.c_str()),
                            static_cast<DWORD>(unexpanded.size() + 1)) == ERROR_SUCCESS;
  };

  ASSERT_TRUE(registerAs("%PELLORY_PLUGIN_FOLDER%PelloryPlayerPlugIn.dll"));
  bool rebootNeeded = false;
  {
    CapturedLog log;
    RemovePlugins(rebootNeeded);
    EXPECT_EQ(log.lines, Lines{});
  }
  ::SetEnvironmentVariableA("PELLORY_PLUGIN_FOLDER", nullptr);
  EXPECT_TRUE(FileExists(player)) << "a path from the user's environment was followed";

  ASSERT_TRUE(registerAs("%ProgramFiles%\\PelloryTestPlugIn\\PelloryPlayerPlugIn.dll"));
  CapturedLog log;
  EXPECT_TRUE(RemovePlugins(rebootNeeded));
  EXPECT_EQ(log.lines, Lines{Unregistered(player)});
  EXPECT_FALSE(rebootNeeded);
  // The fixture keeps a class key whose text is not its own path; its
  // unregistration removed its trace.
  EXPECT_FALSE(RegKeyExists(HKEY_CLASSES_ROOT, kTraceKey));
  EXPECT_FALSE(FileExists(player));
  ::RemoveDirectoryA(folder.c_str());
}

// A class key whose module is gone or is no full path to a file, and a
// browser key without a usable folder: nothing is unregistered, deleted or
// deferred. A relative path would otherwise be taken in the current folder,
// an empty folder as the drive's root, and a folder "in use" would be
// deferred with a restart for nothing.
TEST_F(RemovePluginsTest, LeavesAloneWhatItsKeysDoNotNameInFull) {
  ASSERT_TRUE(InstallServer(work_.Path() + "Player.dll", false));
  ASSERT_TRUE(WriteBrowserPlugins(work_.Path()));
  ASSERT_TRUE(WriteBrowserPlugins(driveRoot_));
  ASSERT_TRUE(WriteBrowserPlugins(browser_.Path()));
  const Lines all = {"NPPelloryInst.dll", "NPWMPPelloryInst.dll", "NPOther.dll"};

  struct Case {
    const char* what;
    const char* module;   // the class's module, nullptr: no class key
    const char* folder;   // "Install Directory", nullptr: no value
  };
  const std::string gone = work_.Path() + "Gone.dll";
  const std::string folder = work_.Path().substr(0, work_.Path().size() - 1);
  const Case cases[] = {
      {"nothing registered", nullptr, nullptr},
      {"module file gone", gone.c_str(), nullptr},
      {"relative module path, relative folder", "Player.dll", "."},
      {"module path names a folder, empty folder value", folder.c_str(), ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RegDeleteTree(HKEY_CLASSES_ROOT, ClassKey());
    RegDeleteTree(HKEY_CURRENT_USER, kNetscapeKey);
    if (c.module) {
      ASSERT_TRUE(RegWriteString(HKEY_CLASSES_ROOT, ServerKey(), "", c.module));
    }
    // The key is there, its value is not.
    ASSERT_TRUE(RegWriteString(HKEY_CURRENT_USER, kNetscapeMainKey, "Version", "4.8"));
    if (c.folder) {
      ASSERT_TRUE(RegWriteString(HKEY_CURRENT_USER, kNetscapeMainKey, kFolderValue, c.folder));
    }

    bool rebootNeeded = false;
    CapturedLog log;
    EXPECT_TRUE(RemovePlugins(rebootNeeded));
    EXPECT_FALSE(rebootNeeded);
    EXPECT_EQ(log.lines, Lines{}) << "nothing unregistered";
    EXPECT_TRUE(RegKeyExists(HKEY_CLASSES_ROOT, kTraceKey));
    EXPECT_TRUE(FileExists(work_.Path() + "Player.dll"));
    EXPECT_TRUE(DirExists(folder));
    EXPECT_EQ(RegKeyExists(HKEY_CLASSES_ROOT, ServerKey()), c.module != nullptr);
    EXPECT_EQ(BrowserPluginsIn(work_.Path()), all);
    EXPECT_EQ(BrowserPluginsIn(driveRoot_), all);
    EXPECT_EQ(BrowserPluginsIn(browser_.Path()), all);
  }
}

// Any program of the user can register classes of its own, which the
// merged classes view shows before the machine's (here a scratch key stands
// in for that view), and may point the class at any file: the module is taken
// from the machine's registration only. (One in the system folder, which is
// never unregistered or deleted, is the end-to-end uninstall trust case's.)
TEST_F(RemovePluginsTest, TakesTheModuleFromTheMachineOnly) {
  const std::string victim = work_.Path() + "Victim.dll";
  ASSERT_TRUE(::CopyFileA((WinePath(FIXTURES_DIR_UNIX) + "\\ComServer.dll").c_str(),
                          victim.c_str(), FALSE));
  const char kUserClasses[] = "Software\\PelloryTestUserClasses";
  ASSERT_TRUE(RegWriteString(HKEY_CURRENT_USER, std::string(kUserClasses) + "\\" + ServerKey(), "",
                             victim));
  frame::RegKey merged;
  ASSERT_EQ(merged.Open(HKEY_CURRENT_USER, kUserClasses, KEY_ALL_ACCESS), ERROR_SUCCESS);
  ASSERT_EQ(::RegOverridePredefKey(HKEY_CLASSES_ROOT, merged.get()), ERROR_SUCCESS);
  bool rebootNeeded = false;
  std::vector<std::string> lines;
  {
    CapturedLog log;
    RemovePlugins(rebootNeeded);
    lines = log.lines;
  }
  ::RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
  merged.Close();
  RegDeleteTree(HKEY_CURRENT_USER, kUserClasses);
  EXPECT_TRUE(FileExists(victim)) << "a per-user registration was followed";
  EXPECT_EQ(lines, Lines{});
  EXPECT_FALSE(rebootNeeded);
}

}  // namespace
