// The real Upgrade.exe, started the way the manager or a user starts it:
// single instance, log file, uninstall entry, uninstaller relaunch, and the
// missing-system-library checks.
#include <gtest/gtest.h>

#include <string>

#include "frame/Handle.h"
#include "tests/e2e/Installation.h"

namespace e2e {
namespace {

using testing_support::ChildProcess;
using testing_support::FileExists;
using testing_support::ReadFileBytes;
using testing_support::RegReadString;
using testing_support::ScratchDir;
using testing_support::WriteFileBytes;

const char kRunning[] = "PelloryManager Upgrade is running. Please close it and try again.";
const char kNoFolder[] = "PelloryManager directory could not be found. Cannot continue.";
const char kConfirmUninstall[] = "Are you sure you want to uninstall PelloryManager?";
const char kNoUninstallFile[] = "Cannot find uninstall file.";
const char kMissingComponents[] =
    "Some critical system components are missing on your computer. Install cannot continue.";
const char kCaptionUninstall[] = "PelloryManager Uninstall";
const char kCaptionUpdate[] = "PelloryManager Components Update";
const std::string kHyphens(59, '-');

constexpr int kFailed = -1;

class StartupE2E : public ::testing::Test {
 protected:
  void SetUp() override { ResetMachineState(); }
  void TearDown() override {
    testing_support::WaitNoProcessNamed("Upgrade.exe", 10000);
    ResetMachineState();
  }

  // Starts the program, answers the one box it shows and returns its exit code.
  int RunAnsweringBox(const std::string& exe, const std::string& args, const char* caption,
                      const char* text, int button) {
    ChildProcess child;
    EXPECT_TRUE(child.Start(exe, args));
    SeenBox box = WaitForMessageBox(child.Id());
    EXPECT_NE(box.window, nullptr) << "no message box from " << args;
    if (!box.window) return static_cast<int>(STILL_ACTIVE);
    EXPECT_EQ(box.caption, caption);
    EXPECT_EQ(box.text, text);
    ui::PressButton(box.window, button);
    return testing_support::AsInt(child.Wait());
  }

  // Starts the uninstaller, says Yes to its question and expects the
  // "Cannot find uninstall file." box and a failed run.
  static void ExpectUninstallFileMissing(const std::string& exe, const std::string& args,
                                         const std::string& currentDir) {
    ChildProcess child;
    ASSERT_TRUE(child.Start(exe, args, currentDir));
    SeenBox ask = WaitForMessageBox(child.Id());
    ASSERT_EQ(ask.text, kConfirmUninstall);
    ui::PressButton(ask.window, IDYES);
    ASSERT_TRUE(ui::WaitForWindowGone(ask.window));
    SeenBox missing = WaitForMessageBox(child.Id());
    EXPECT_EQ(missing.caption, kCaptionUninstall);
    EXPECT_EQ(missing.text, kNoUninstallFile);
    ui::PressButton(missing.window, IDOK);
    EXPECT_EQ(testing_support::AsInt(child.Wait()), kFailed);
  }

  static std::string ReadLog(const std::string& path) {
    std::string bytes;
    EXPECT_TRUE(ReadFileBytes(path, bytes)) << path;
    return bytes;
  }

  static int Count(const std::string& haystack, const std::string& needle) {
    int count = 0;
    for (size_t at = haystack.find(needle); at != std::string::npos;
         at = haystack.find(needle, at + 1))
      ++count;
    return count;
  }
};

// A log of exactly one run: start line, hyphens, ..., closing lines once.
void ExpectOneRun(const std::string& run) {
  ASSERT_EQ(run.compare(0, 18, "Update started at "), 0) << run.substr(0, 80);
  // "Www Mmm dd hh:mm:ss yyyy": 24 characters, then the hyphen line.
  ASSERT_GE(run.size(), 18u + 24 + 2 + 59 + 2);
  EXPECT_EQ(run.substr(18 + 24, 2), "\r\n");
  EXPECT_EQ(run.substr(18 + 24 + 2, 61), kHyphens + "\r\n");
  const std::string end = "\r\n\r\n" + kHyphens + "\r\nUpdate Completed at ";
  const size_t endAt = run.rfind(end);
  ASSERT_NE(endAt, std::string::npos);
  EXPECT_EQ(run.size(), endAt + end.size() + 24 + 2) << "closing line is not the last";
}

TEST_F(StartupE2E, SecondInstanceEndsAtOnceAndOnlyUninstallSaysSo) {
  Installation install;
  install.Register();
  install.SetManagerVersion(1, 0, 0, 1);
  HANDLE mutex = ::CreateMutexA(nullptr, FALSE, "PMUpdate");
  ASSERT_NE(mutex, nullptr);

  // Without "Uninstall": no box (a box would block the run), exit -1.
  EXPECT_EQ(testing_support::AsInt(RunUpgrade(install.InstalledUpgrade(), "", 20000)), kFailed);
  EXPECT_FALSE(FileExists(UserLogPath())) << "a second instance must not touch the log";

  EXPECT_EQ(RunAnsweringBox(install.InstalledUpgrade(), "/Uninstall", kCaptionUninstall,
                            kRunning, IDOK),
            kFailed);
  ::CloseHandle(mutex);
}

TEST_F(StartupE2E, LogIsCreatedAppendedAndEmptiedPastItsLimit) {
  Installation install;
  install.Register();
  install.SetManagerVersion(2, 5, 0, 7);

  // First run: the Pellory and Logs folders are made, the file starts with the start line.
  EXPECT_EQ(testing_support::AsInt(RunUpgrade(install.InstalledUpgrade(), "/q")), kFailed);
  const std::string first = ReadLog(UserLogPath());
  ExpectOneRun(first);
  EXPECT_NE(first.find("\r\nCommand line: \""), std::string::npos);
  EXPECT_NE(first.find(" /q\"\r\n"), std::string::npos);

  // Second run appends after two line feeds and a CR LF.
  RunUpgrade(install.InstalledUpgrade(), "/q");
  const std::string second = ReadLog(UserLogPath());
  ASSERT_EQ(second.compare(0, first.size(), first), 0);
  const std::string appended = second.substr(first.size());
  ASSERT_EQ(appended.compare(0, 4, "\n\n\r\n"), 0);
  ExpectOneRun(appended.substr(4));

  // Exactly 512000 bytes stay and are appended to.
  const std::string limit(512000, '#');
  ASSERT_TRUE(WriteFileBytes(UserLogPath(), limit));
  RunUpgrade(install.InstalledUpgrade(), "/q");
  const std::string kept = ReadLog(UserLogPath());
  ASSERT_GT(kept.size(), limit.size());
  EXPECT_EQ(kept.compare(0, limit.size(), limit), 0);
  EXPECT_EQ(kept.compare(limit.size(), 4, "\n\n\r\n"), 0);

  // One byte more and the file is emptied, not cut to a tail.
  ASSERT_TRUE(WriteFileBytes(UserLogPath(), limit + "y"));
  RunUpgrade(install.InstalledUpgrade(), "/q");
  const std::string emptied = ReadLog(UserLogPath());
  EXPECT_EQ(emptied.find('#'), std::string::npos);
  ASSERT_EQ(emptied.compare(0, 4, "\n\n\r\n"), 0);
  ExpectOneRun(emptied.substr(4));
}

TEST_F(StartupE2E, UninstallEntryIsWrittenEvenWhenTheFolderIsMissing) {
  // No "PelloryAppDir" at all: the entry is written, then string 95, exit 0.
  EXPECT_EQ(RunAnsweringBox(BuiltUpgradeExe(), "", kCaptionUpdate, kNoFolder, IDOK), 0);
  std::string value;
  ASSERT_TRUE(RegReadString(HKEY_LOCAL_MACHINE, kUninstallKey, "DisplayName", value));
  EXPECT_EQ(value, "PelloryManager");
  ASSERT_TRUE(RegReadString(HKEY_LOCAL_MACHINE, kUninstallKey, "UninstallString", value));
  EXPECT_EQ(value, "\"Bin\\Upgrade.exe\" /Uninstall");
  ASSERT_TRUE(RegReadString(HKEY_LOCAL_MACHINE, kUninstallKey, "Publisher", value));
  EXPECT_EQ(value, "Pellory, Inc.");
  EXPECT_FALSE(RegReadString(HKEY_LOCAL_MACHINE, kUninstallKey, "DisplayVersion", value));
  EXPECT_NE(ReadLog(UserLogPath()).find(
                "Failed to open the registry key 'SOFTWARE\\Pellory'. Error 0x02"),
            std::string::npos);

  // A folder that the registry names but that does not exist: the same.
  testing_support::RegWriteString(HKEY_LOCAL_MACHINE, kPelloryKey, "PelloryAppDir",
                                  "C:\\Nowhere\\Pellory");
  EXPECT_EQ(RunAnsweringBox(BuiltUpgradeExe(), "", kCaptionUpdate, kNoFolder, IDOK), 0);
  ASSERT_TRUE(RegReadString(HKEY_LOCAL_MACHINE, kUninstallKey, "UninstallString", value));
  EXPECT_EQ(value, "\"C:\\Nowhere\\Pellory\\Bin\\Upgrade.exe\" /Uninstall");
  EXPECT_FALSE(RegReadString(HKEY_LOCAL_MACHINE, kUninstallKey, "DisplayVersion", value));

  // An empty value, or the root of a drive: no installation, not the drive itself.
  for (const char* dir : {"", "C:\\"}) {
    testing_support::RegWriteString(HKEY_LOCAL_MACHINE, kPelloryKey, "PelloryAppDir", dir);
    EXPECT_EQ(RunAnsweringBox(BuiltUpgradeExe(), "", kCaptionUpdate, kNoFolder, IDOK), 0) << dir;
    EXPECT_NE(ReadLog(UserLogPath()).find("The registry entry 'PelloryAppDir' does not name a "
                                          "folder below a drive: '" + std::string(dir) + "'"),
              std::string::npos);
  }
}

TEST_F(StartupE2E, DisplayVersionComesFromTheManagersVersionResource) {
  Installation install;
  install.Register();

  // A manager without a version resource: no "DisplayVersion".
  ::CopyFileA(FixturePath("Manager.exe").c_str(), (install.Bin() + "Manager.exe").c_str(), FALSE);
  RunUpgrade(install.InstalledUpgrade(), "/q");
  std::string value;
  EXPECT_FALSE(RegReadString(HKEY_LOCAL_MACHINE, kUninstallKey, "DisplayVersion", value));
  ASSERT_TRUE(RegReadString(HKEY_LOCAL_MACHINE, kUninstallKey, "UninstallString", value));
  EXPECT_EQ(value, "\"" + install.Dir() + "Bin\\Upgrade.exe\" /Uninstall");

  install.SetManagerVersion(3, 14, 159, 26);
  // The built-in catalogue address is not reachable here: the run fails, not succeeds.
  EXPECT_EQ(testing_support::AsInt(RunUpgrade(install.InstalledUpgrade(), "/q")), kFailed);
  ASSERT_TRUE(RegReadString(HKEY_LOCAL_MACHINE, kUninstallKey, "DisplayVersion", value));
  EXPECT_EQ(value, "3.14.159.26");
  const std::string log = ReadLog(UserLogPath());
  EXPECT_NE(log.find("Failed to download INF file. Error 0x0"), std::string::npos);
}

TEST_F(StartupE2E, UninstallFromBinRelaunchesFromTheTemporaryFolder) {
  Installation install;
  install.Register();
  install.WriteCatalogueCopy();
  char temp[MAX_PATH] = "";
  ::GetTempPathA(MAX_PATH, temp);

  // Other switches are not passed on: the copy asks although /q was given.
  EXPECT_EQ(testing_support::AsInt(RunUpgrade(install.InstalledUpgrade(), "/Uninstall /q")), 0);
  // The copy runs from a new folder of its own in the temporary folder.
  WIN32_FIND_DATAA found = {};
  frame::ScopedFind find(
      ::FindFirstFileA((std::string(temp) + "Pellory Uninstall *").c_str(), &found));
  ASSERT_TRUE(find) << "no folder for the copy";
  const std::string folder = std::string(temp) + found.cFileName + "\\";
  const std::string copy = folder + "Upgrade.exe";
  EXPECT_TRUE(FileExists(copy));
  SeenBox box = WaitForMessageBoxCaption(kCaptionUninstall);
  ASSERT_NE(box.window, nullptr) << "the relaunched copy did not ask";
  EXPECT_EQ(box.text, kConfirmUninstall);
  ui::PressButton(box.window, IDNO);
  EXPECT_TRUE(testing_support::WaitNoProcessNamed("Upgrade.exe", 20000));

  // The first process logged next to itself and closed its log before handing over.
  const std::string log = ReadLog(install.Bin() + "Update.log");
  ExpectOneRun(log);
  EXPECT_NE(log.find("Launching Uninstall from temp directory:\r\n\"" + copy +
                     "\" /Uninstall\r\n"),
            std::string::npos);
  EXPECT_FALSE(FileExists(UserLogPath()));
  // The copy logged next to itself, in its folder.
  ExpectOneRun(ReadLog(folder + "Update.log"));
}

TEST_F(StartupE2E, UninstallElsewhereAsksAndNeedsTheCatalogueCopy) {
  Installation install;
  install.Register();
  ScratchDir elsewhere("unin");
  const std::string exe = elsewhere.Path() + "Upgrade.exe";
  ASSERT_TRUE(::CopyFileA(BuiltUpgradeExe().c_str(), exe.c_str(), FALSE));

  EXPECT_EQ(RunAnsweringBox(exe, "/Uninstall", kCaptionUninstall, kConfirmUninstall, IDNO), 0);
  ExpectOneRun(ReadLog(elsewhere.Path() + "Update.log"));

  // Flags ignore case, and "-" works as "/".
  ExpectUninstallFileMissing(exe, "-uninstall", "");

  // No installation folder: a "Bin\PM Install1.INF" in the current folder is
  // not the catalogue copy.
  testing_support::RegWriteString(HKEY_LOCAL_MACHINE, kPelloryKey, "PelloryAppDir", "");
  ASSERT_TRUE(::CreateDirectoryA((elsewhere.Path() + "Bin").c_str(), nullptr));
  ASSERT_TRUE(WriteFileBytes(elsewhere.Path() + "Bin\\PM Install1.INF", "[Version]\r\n"));
  ExpectUninstallFileMissing(exe, "/Uninstall", elsewhere.Path());
}

// A system library disabled for the whole run: string 1001 and -1, unless
// quiet, when the run goes on to the update branch.
void ExpectMissingLibraryHandling(const std::string& logLine) {
  ResetMachineState();
  Installation install;
  install.Register();
  install.SetManagerVersion(1, 0, 0, 0);
  ChildProcess child;
  ASSERT_TRUE(child.Start(install.InstalledUpgrade(), ""));
  SeenBox box = WaitForMessageBox(child.Id());
  ASSERT_NE(box.window, nullptr);
  EXPECT_EQ(box.caption, kCaptionUpdate);
  EXPECT_EQ(box.text, kMissingComponents);
  ui::PressButton(box.window, IDOK);
  EXPECT_EQ(testing_support::AsInt(child.Wait()), kFailed);
  std::string log;
  ASSERT_TRUE(ReadFileBytes(UserLogPath(), log));
  EXPECT_NE(log.find("\r\n" + logLine + "\r\n"), std::string::npos);

  EXPECT_EQ(testing_support::AsInt(RunUpgrade(install.InstalledUpgrade(), "/q")), kFailed);
  ASSERT_TRUE(ReadFileBytes(UserLogPath(), log));
  EXPECT_NE(log.find("Failed to download INF file. Error 0x0"), std::string::npos);
  ResetMachineState();
}

// Runs with WINEDLLOVERRIDES=comctl32=d (see CMakeLists.txt).
TEST(NoComCtlEnv, MissingCommonControlsStopUnlessQuiet) {
  ExpectMissingLibraryHandling("Comctl32.dll is not installed or old version");
}

// Runs with WINEDLLOVERRIDES=wininet=d.
TEST(NoWinInetEnv, MissingWinInetStopsUnlessQuiet) {
  ExpectMissingLibraryHandling("Wininet.dll is not installed or old version");
}

}  // namespace
}  // namespace e2e
