// Whole installation runs through SpawnDownloadThread: components built here,
// cabinets served by the in-test HTTP server, the real progress and completion
// windows, answers given through the UI driver from a second thread.
#include "install/InstallRun.h"

#include <gtest/gtest.h>
#include <objbase.h>
#include <tlhelp32.h>

#include <algorithm>
#include <set>
#include <thread>

#include "catalog/InstalledState.h"
#include "core/Error.h"
#include "core/Locations.h"
#include "core/MessageBox.h"
#include "core/Resources.h"
#include "core/Switches.h"
#include "host/HostControl.h"
#include "install/TempFileList.h"
#include "resources/StringIds.h"
#include "tests/fixtures/holder/HeldFile.h"
#include "tests/support/CapturedLog.h"
#include "tests/support/CatalogueCabinet.h"
#include "tests/support/HttpServer.h"
#include "tests/support/PlayedUser.h"
#include "tests/support/Scratch.h"
#include "tests/support/UiDriver.h"
#include "transfer/WinInetApi.h"

namespace {

using namespace testing_support;

std::string Recorded(const std::string& component) {
  std::string value;
  return RegReadString(HKEY_LOCAL_MACHINE, kComponentsKey, component, value) ? value : "<none>";
}

// The temporary files of the program's own pattern now in the temporary folder.
std::set<std::string> TemporaryDownloads() {
  std::set<std::string> names;
  WIN32_FIND_DATAA entry;
  HANDLE find = ::FindFirstFileA((GetTempDir() + "PGF*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return names;
  do names.insert(entry.cFileName);
  while (::FindNextFileA(find, &entry));
  ::FindClose(find);
  return names;
}

int ThreadCount() {
  int count = 0;
  HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  THREADENTRY32 entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL more = ::Thread32First(snapshot, &entry); more; more = ::Thread32Next(snapshot, &entry))
    if (entry.th32OwnerProcessID == ::GetCurrentProcessId()) ++count;
  ::CloseHandle(snapshot);
  return count;
}

DWORD HandleCount() {
  DWORD count = 0;
  ::GetProcessHandleCount(::GetCurrentProcess(), &count);
  return count;
}

// Presses a button of the first window of this process with that caption.
bool Answer(UINT captionId, int button) {
  HWND window = ui::WaitForWindow({LoadResString(captionId), "#32770", ::GetCurrentProcessId()});
  return window && ui::PressButton(window, button);
}

// COM on the calling thread, as the program's entry has it.
struct ComApartment {
  const bool on = SUCCEEDED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED));
  ~ComApartment() {
    if (on) ::CoUninitialize();
  }
};

class EngineRun : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(BindWinInet());
    ASSERT_TRUE(server_.Start());
    RegDeleteTree(HKEY_LOCAL_MACHINE, kComponentsKey);
    ASSERT_TRUE(RegWriteString(HKEY_LOCAL_MACHINE, kPelloryKey, "PelloryAppDir", app_.Path()));
    SetProcessArguments({});
  }
  void TearDown() override {
    SetProcessArguments({});
    RegDeleteTree(HKEY_LOCAL_MACHINE, kPelloryKey);
    RegDeleteTree(HKEY_LOCAL_MACHINE, kComponentsKey);
    server_.Stop();
  }

  ComponentFile File(const std::string& name, const std::string& cabinet) {
    ComponentFile file;
    file.sName = name;
    file.sFile = server_.Url("/" + cabinet);
    file.size = 100;
    return file;
  }
  static Component Named(const std::string& name, std::vector<ComponentFile> files) {
    Component component;
    component.sName = name;
    component.version = {1, 2, 0, 0};
    component.files = std::move(files);
    component.bRequiresPMClosed = false;
    return component;
  }

  // A run whose CError becomes a test failure with the run's log.
  int Run(const std::vector<Component>& components) {
    CapturedLog log;
    return Run(components, log);
  }
  int Run(const std::vector<Component>& components, CapturedLog& log) {
    try {
      return SpawnDownloadThread(components);
    } catch (const CError& error) {
      ADD_FAILURE() << "error " << error.Code() << ": " << error.Text() << "\n" << log.Text();
      return -2;
    }
  }

  HttpServer server_;
  ScratchDir app_{"engine"};
};

TEST_F(EngineRun, EachFileComesFromItsOwnCabinetAndEachCabinetIsFetchedOnce) {
  // Two cabinets hold a member of the same name meant for different folders.
  server_.Serve("/one.cab", CabinetBytes({{"Readme.txt", "one"}, {"Shared.dat", "shared"}}));
  server_.Serve("/two.cab", CabinetBytes({{"Readme.txt", "two"}}));
  const std::vector<Component> run = {
      // One member to two folders: each gets it.
      Named("Alpha", {File("A\\Readme.txt", "one.cab"), File("Shared.dat", "one.cab"),
                      File("C\\Readme.txt", "one.cab")}),
      // The same entry again in a second component: handled once.
      Named("Beta", {File("B\\Readme.txt", "two.cab"), File("Shared.dat", "one.cab")}),
      Named("Gamma", {})};
  std::vector<Component> withLine = run;
  withLine[2].addRegistry = {RegistryEntry::ParseAdd("HKLM,Software\\EngineTest,Marker,FLG_ADDREG_TYPE_SZ,set")};

  EXPECT_EQ(Run(withLine), kRunDone);
  EXPECT_EQ(FileContent(app_.Path() + "A\\Readme.txt"), "one");
  EXPECT_EQ(FileContent(app_.Path() + "B\\Readme.txt"), "two");
  EXPECT_EQ(FileContent(app_.Path() + "C\\Readme.txt"), "one");
  EXPECT_EQ(FileContent(app_.Path() + "Shared.dat"), "shared");
  EXPECT_EQ(server_.RequestCount("/one.cab"), 1u);
  EXPECT_EQ(server_.RequestCount("/two.cab"), 1u);
  // A component with nothing to install still gets its line and its record.
  std::string marker;
  EXPECT_TRUE(RegReadString(HKEY_LOCAL_MACHINE, "Software\\EngineTest", "Marker", marker));
  EXPECT_EQ(marker, "set");
  for (const char* name : {"Alpha", "Beta", "Gamma"}) EXPECT_EQ(Recorded(name), "1, 2, 0, 0");
  RegDeleteTree(HKEY_LOCAL_MACHINE, "Software\\EngineTest");

  // A second whole run leaves no handle and no thread behind.
  const DWORD handles = HandleCount();
  const int threads = ThreadCount();
  EXPECT_EQ(Run(run), kRunDone);
  EXPECT_EQ(HandleCount(), handles);
  EXPECT_EQ(ThreadCount(), threads);
}

// A cancelled run records no component: none of their files were put in place.
TEST_F(EngineRun, CancelRecordsNothingAndLeavesNoDownloadBehind) {
  server_.Serve("/first.cab", CabinetBytes({{"First.txt", "first"}}));
  HttpRoute slow;
  slow.body = CabinetBytes({{"Second.txt", std::string(300000, 's')}});
  slow.pieceSize = 2000;
  slow.pieceDelayMs = 40;
  server_.SetRoute("/slow.cab", slow);
  const std::set<std::string> before = TemporaryDownloads();

  std::thread user([&] {
    for (int i = 0; i < 200 && server_.RequestCount("/slow.cab") == 0; ++i) ::Sleep(50);
    ::Sleep(300);  // well inside the slow body
    EXPECT_TRUE(Answer(IDS_CAPTION_DOWNLOAD, IDCANCEL));
    EXPECT_TRUE(Answer(kCaptionUpdate, IDYES));
  });
  const int result = Run(
      {Named("First", {File("First.txt", "first.cab")}), Named("Second", {File("Second.txt", "slow.cab")})});
  user.join();
  EXPECT_EQ(result, kRunCancelled);
  EXPECT_EQ(Recorded("First"), "<none>");
  EXPECT_EQ(Recorded("Second"), "<none>");
  EXPECT_FALSE(FileExists(app_.Path() + "First.txt"));  // nothing is put into place
  EXPECT_FALSE(FileExists(app_.Path() + "Second.txt"));
  EXPECT_EQ(TemporaryDownloads(), before);
}

TEST_F(EngineRun, ALockedFileWaitsForTheRestart) {
  server_.Serve("/locked.cab", CabinetBytes({{"Locked.txt", "new"}}));
  const std::string locked = app_.Path() + "Locked.txt";
  ASSERT_TRUE(WriteFileBytes(locked, "old"));
  HeldFile holder;
  ASSERT_TRUE(holder.Hold(locked));
  const std::vector<Component> run = {Named("Locked", {File("Locked.txt", "locked.cab")})};

  // Interactively the restart question comes; No ends the run with 0. Only
  // that question is answered No: any other box fails the test. (A quiet
  // Setup run asks nothing and ends with 36: the update-flow test's.)
  const std::string reboot = LoadResString(IDS_CONFIRM_REBOOT);
  {
    User user({{0xFFFF,
                [&](const Seen& seen) {
                  EXPECT_EQ(seen.text, reboot);
                  if (!ui::PressButton(seen.window, IDNO)) ui::PressButton(seen.window, IDOK);
                }}},
              LoadResString(kCaptionUpdate));
    EXPECT_EQ(Run(run), kRunDone);
    const auto& seen = user.Finish();
    ASSERT_EQ(seen.size(), 1u) << "the restart question did not come";
    EXPECT_EQ(seen[0].text, reboot);
  }
  EXPECT_TRUE(holder.Release());
  EXPECT_EQ(FileContent(locked), "old");  // until the restart
}

TEST_F(EngineRun, ABadCabinetStopsTheRunBeforeAnyFileIsTouched) {
  server_.Serve("/good.cab", CabinetBytes({{"Good.txt", "new good"}}));
  std::string damaged = CabinetBytes({{"Worse.txt", std::string(5000, 'b')}});
  damaged[damaged.size() - 100] ^= 0x55;  // the data no longer matches its checksum
  // Sorted after Good.txt, so that only the check before installing can save it.
  for (const std::string& bad : {damaged, CabinetBytes({{"Other.txt", "not the file"}})}) {
    server_.Serve("/bad.cab", bad);
    ASSERT_TRUE(WriteFileBytes(app_.Path() + "Good.txt", "old good"));
    ASSERT_TRUE(WriteFileBytes(app_.Path() + "Doomed.txt", "kept"));
    Component good = Named("Good", {File("Good.txt", "good.cab")});
    good.deleteFiles = {File("Doomed.txt", "")};

    SetProcessArguments({"-q"});
    try {
      SpawnDownloadThread({good, Named("Bad", {File("Worse.txt", "bad.cab")})});
      ADD_FAILURE() << "the run went on with a bad cabinet";
    } catch (const CError& error) {
      EXPECT_NE(error.Code(), 0u);
      EXPECT_NE(error.Text().find("corrupted"), std::string::npos) << error.Text();
    }
    EXPECT_EQ(FileContent(app_.Path() + "Good.txt"), "old good");
    EXPECT_EQ(FileContent(app_.Path() + "Doomed.txt"), "kept");
    EXPECT_FALSE(FileExists(app_.Path() + "Worse.txt"));
  }
}

// The manager runs while a component that needs it closed is installed
// interactively: the user is told, the manager closes on its command, the
// file goes into place, and Yes to the restart question brings the manager
// back with the "Pass" text. Wine's Windows 7 scheduler cannot make the
// launch task, so the manager is started directly.
TEST_F(EngineRun, TheManagerClosesForItsComponentAndComesBackOnYes) {
  const ComApartment com;
  server_.Serve("/viewer.cab", CabinetBytes({{"Viewer.dat", "viewer"}}));
  const std::string bin = app_.Path() + "Bin\\";
  ASSERT_TRUE(::CreateDirectoryA(bin.c_str(), nullptr));
  RunningFixture manager;
  ASSERT_TRUE(manager.Start("Manager.exe", bin, "Manager.exe"));
  Component viewer = Named("Viewer", {File("Viewer.dat", "viewer.cab")});
  viewer.files[0].version = {-1, -1, -1, -1};  // installed only when missing
  viewer.bRequiresPMClosed = true;
  SetProcessArguments({"-Pass:-restored"});
  const std::string caption = LoadResString(kCaptionUpdate);

  CapturedLog log;
  {
    User user({{0xFFFF, Press(IDOK)}, {0xFFFF, Press(IDYES)}}, caption);
    EXPECT_EQ(Run({viewer}, log), kRunDone);
    const auto& seen = user.Finish();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].text, LoadResString(IDS_MANAGER_RUNNING_UPDATE));
    EXPECT_EQ(seen[1].text, LoadResString(IDS_CONFIRM_RESTART_MANAGER));
  }
  EXPECT_TRUE(manager.Ended()) << "the manager did not get its close command";
  EXPECT_EQ(FileContent(app_.Path() + "Viewer.dat"), "viewer");
  EXPECT_TRUE(log.Has("The scheduled launch of PelloryManager failed; starting it directly."))
      << log.Text();
  HWND restarted = ui::WaitForWindow({"", kManagerWindowClass, 0});
  ASSERT_NE(restarted, nullptr) << "the manager was not started again";
  std::string record = FileContent(manager.path + ".cmdline");
  record.erase(std::remove(record.begin(), record.end(), '"'), record.end());
  EXPECT_EQ(record, manager.path + " -restored");

  // Nothing left to install: the running manager is left alone, nothing asked.
  {
    const User::Step dismiss = [](const Seen& seen) {
      if (!ui::PressButton(seen.window, IDNO)) ui::PressButton(seen.window, IDOK);
    };
    User user({{0xFFFF, dismiss}, {0xFFFF, dismiss}}, caption);
    EXPECT_EQ(Run({viewer}), kRunDone);
    for (const Seen& seen : user.Finish()) ADD_FAILURE() << "asked: " << seen.text;
  }
  EXPECT_TRUE(::IsWindow(restarted));
  ::PostMessageA(restarted, WM_COMMAND, kManagerCloseCommand, 0);
  EXPECT_TRUE(WaitNoProcessNamed("Manager.exe"));
}

// A manager that does not close when asked (here within the test's short
// bound) is still running at the end: a Setup run, which otherwise starts
// the manager at its end, does not start a second one.
TEST_F(EngineRun, AManagerThatDidNotCloseIsNotStartedASecondTime) {
  const ComApartment com;
  server_.Serve("/viewer.cab", CabinetBytes({{"Viewer.dat", "viewer"}}));
  const std::string bin = app_.Path() + "Bin\\";
  ASSERT_TRUE(::CreateDirectoryA(bin.c_str(), nullptr));
  RunningFixture manager;
  ASSERT_TRUE(manager.Start("Manager.exe", bin, "Manager.exe", "/ignore"));
  Component viewer = Named("Viewer", {File("Viewer.dat", "viewer.cab")});
  viewer.bRequiresPMClosed = true;
  SetProcessArguments({"-Setup"});
  SetManagerCloseTimeoutForTests(2000);

  CapturedLog log;
  {
    User user({{0xFFFF, Press(IDOK)}, {0xFFFF, Press(IDOK)}}, LoadResString(kCaptionWebInstall));
    EXPECT_EQ(Run({viewer}, log), kRunDone);
    const auto& seen = user.Finish();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].text, LoadResString(IDS_MANAGER_RUNNING_UPDATE));
    EXPECT_EQ(seen[1].text, LoadResString(IDS_MANAGER_DID_NOT_CLOSE));
  }
  SetManagerCloseTimeoutForTests(0);
  EXPECT_EQ(FileContent(app_.Path() + "Viewer.dat"), "viewer");
  EXPECT_TRUE(log.Has("PelloryManager did not close; it is not started again.")) << log.Text();
  EXPECT_FALSE(log.Contains("Restarting PelloryManager")) << log.Text();
  ::Sleep(1000);  // a second start would have come by now
  EXPECT_EQ(CountProcessesNamed("Manager.exe"), 1);
  EXPECT_NE(FileContent(manager.path + ".cmdline").find("/ignore"), std::string::npos)
      << "the manager was started again";
  EXPECT_FALSE(manager.Ended(0));
}

}  // namespace
