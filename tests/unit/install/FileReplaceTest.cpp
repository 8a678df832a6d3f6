#include "install/FileReplace.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "core/Log.h"
#include "core/Platform.h"
#include "frame/RegKey.h"
#include "tests/fixtures/holder/HeldFile.h"
#include "tests/support/Scratch.h"
#include "tests/support/TestProcess.h"

namespace {

using testing_support::ChildProcess;
using testing_support::FileExists;
using testing_support::HeldFile;
using testing_support::ReadFileBytes;
using testing_support::RunRestartProcessing;
using testing_support::ScratchDir;
using testing_support::WriteFileBytes;

// No test of this program may restart the machine: every restart call that
// slips through is refused and counted.
int g_unexpectedRestarts = 0;
class NoRestartEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    SetExitWindowsCallForTests([](UINT, DWORD) {
      ++g_unexpectedRestarts;
      ::SetLastError(ERROR_ACCESS_DENIED);
      return FALSE;
    });
  }
  void TearDown() override { EXPECT_EQ(g_unexpectedRestarts, 0); }
};
::testing::Environment* const kNoRestart [[maybe_unused]] =
    ::testing::AddGlobalTestEnvironment(new NoRestartEnvironment);

class CapturedLog {
 public:
  CapturedLog() {
    previous_ = SetLogSink([this](const std::string& line) { lines.push_back(line); });
  }
  ~CapturedLog() { SetLogSink(previous_); }
  bool Has(const std::string& line) const {
    for (const auto& l : lines)
      if (l == line) return true;
    return false;
  }
  std::vector<std::string> lines;

 private:
  LogSink previous_;
};

std::string Content(const std::string& path) {
  std::string bytes;
  return ReadFileBytes(path, bytes) ? bytes : "<missing>";
}

bool IsReadOnly(const std::string& path) {
  const DWORD a = ::GetFileAttributesA(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_READONLY);
}

bool MakeReadOnly(const std::string& path) {
  return ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY) != FALSE;
}

std::string ShortPath(const std::string& path) {
  char buffer[MAX_PATH] = "";
  const DWORD n = ::GetShortPathNameA(path.c_str(), buffer, MAX_PATH);
  return n && n < MAX_PATH ? std::string(buffer, n) : "<no short path for " + path + ">";
}

std::string WininitPath() {
  char folder[MAX_PATH] = "";
  ::GetWindowsDirectoryA(folder, MAX_PATH);
  return std::string(folder) + "\\WININIT.INI";
}

std::string WininitBackupPath() {
  char folder[MAX_PATH] = "";
  ::GetWindowsDirectoryA(folder, MAX_PATH);
  return std::string(folder) + "\\wininit.bak";
}

// The lines of one section of an INI file, as they stand in the file.
std::vector<std::string> SectionLines(const std::string& text, const std::string& section) {
  std::vector<std::string> lines;
  bool inside = false;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line[0] == '[') {
      inside = ::lstrcmpiA(line.c_str(), ("[" + section + "]").c_str()) == 0;
    } else if (inside && !line.empty()) {
      lines.push_back(line);
    }
    start = end + 1;
  }
  return lines;
}

// ---------------------------------------------------------------------------
// The direct road: the destination is not in use.

TEST(ReplaceInstalledFile, ReadOnlyUnlockedDestinationIsMadeWritableAndCopiedOver) {
  ScratchDir dir;
  const std::string d = dir.Path() + "Target.dll";
  const std::string e = dir.Path() + "Target.extracted";
  ASSERT_TRUE(WriteFileBytes(d, "old"));
  ASSERT_TRUE(WriteFileBytes(e, "new"));
  ASSERT_TRUE(MakeReadOnly(d));
  ASSERT_TRUE(MakeReadOnly(e));
  InstallState state;
  CapturedLog log;
  EXPECT_EQ(ReplaceInstalledFile(d, e, state), 0u);
  EXPECT_EQ(Content(d), "new");
  EXPECT_FALSE(IsReadOnly(d));
  EXPECT_FALSE(FileExists(e));
  EXPECT_FALSE(FileExists(d + ".1"));
  EXPECT_EQ(state.rebootRequired, 0u);
  EXPECT_EQ(state.errorText, "");
  EXPECT_EQ(log.lines, (std::vector<std::string>{
                           "File '" + d + "' is read-only. Trying to remove read-only attribute...\n",
                           "Succeeded to remove file '" + d + "' read-only attribute.\n",
                           "Copying file '" + e + "' to file '" + d + "'...",
                           "Succeeded. Deleting temporary file '" + e + "'.",
                       }));
}

TEST(ReplaceInstalledFile, FailedCopyStopsAndFailedDeleteIsRecorded) {
  ScratchDir dir;
  const std::string d = dir.Path() + "Target.dll";
  const std::string e = dir.Path() + "Target.extracted";
  ASSERT_TRUE(WriteFileBytes(d, "old"));
  {
    SCOPED_TRACE("the extracted file is missing: the copy fails");
    InstallState state;
    state.errorText = "earlier. ";
    CapturedLog log;
    EXPECT_EQ(ReplaceInstalledFile(d, e, state), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    const std::string text = "CopyFile failed to copy file '" + e + "' to the file '" + d +
                             "'. Error 2.";
    EXPECT_EQ(state.errorText, "earlier. " + text);
    EXPECT_TRUE(log.Has(text));
    EXPECT_EQ(Content(d), "old");
  }
  {
    SCOPED_TRACE("the extracted file is open elsewhere: copied, but not deleted");
    ASSERT_TRUE(WriteFileBytes(e, "new"));
    HeldFile holder;
    ASSERT_TRUE(holder.Hold(e, HeldFile::Sharing::Read));
    InstallState state;
    CapturedLog log;
    EXPECT_EQ(ReplaceInstalledFile(d, e, state), 0u);
    EXPECT_EQ(Content(d), "new");
    EXPECT_TRUE(FileExists(e));
    EXPECT_EQ(state.errorText, "Failed to delete file. Error 32.");
    EXPECT_TRUE(log.Has("Failed to delete file. Error 32."));
    EXPECT_EQ(state.rebootRequired, 0u);
  }
}

// ---------------------------------------------------------------------------
// The NT road: the session manager's pending renames.

TEST(DelayedOperations, LockedFilesAreReplacedAndDeletedAtTheRestart) {
  ASSERT_TRUE(IsNT());
  ScratchDir dir;
  // Two destinations with one base name: each has its own pending copy.
  const std::string dll = dir.Path() + "Foo.dll";
  const std::string exe = dir.Path() + "Foo.exe";
  const std::string obsolete = dir.Path() + "Obsolete.ocx";
  const std::string newDll = dir.Path() + "dll.extracted";
  const std::string newExe = dir.Path() + "exe.extracted";
  ASSERT_TRUE(WriteFileBytes(dll, "old dll"));
  ASSERT_TRUE(WriteFileBytes(exe, "old exe"));
  ASSERT_TRUE(WriteFileBytes(obsolete, "obsolete"));
  ASSERT_TRUE(WriteFileBytes(newDll, "new dll"));
  ASSERT_TRUE(WriteFileBytes(newExe, "new exe"));
  ASSERT_TRUE(MakeReadOnly(dll));  // read-only and locked

  HeldFile dllHolder, exeHolder, obsoleteHolder;
  ASSERT_TRUE(dllHolder.Hold(dll));
  ASSERT_TRUE(exeHolder.Hold(exe));
  ASSERT_TRUE(obsoleteHolder.Hold(obsolete));
  ASSERT_TRUE(IsFileLocked(dll));

  InstallState state;
  state.pendingInstalls = {{dll, "a.cab"}, {exe, "a.cab"}, {obsolete, "b.cab"}};
  {
    CapturedLog log;
    EXPECT_EQ(ReplaceInstalledFile(dll, newDll, state), 0u);
    EXPECT_EQ(log.lines, (std::vector<std::string>{
                             "File '" + dll + "' is read-only. Trying to remove read-only attribute...\n",
                             "Succeeded to remove file '" + dll + "' read-only attribute.\n",
                             "File '" + dll + "' is locked. The file update is delayed until reboot.",
                         }));
  }
  EXPECT_EQ(ReplaceInstalledFile(exe, newExe, state), 0u);
  EXPECT_EQ(DeleteFileDelayReboot(obsolete), 0u);
  EXPECT_EQ(state.rebootRequired, 1u);
  EXPECT_EQ(state.pendingInstalls.size(), 1u);
  EXPECT_EQ(state.pendingInstalls.count(obsolete), 1u);
  EXPECT_EQ(Content(dll + ".1"), "new dll");
  EXPECT_EQ(Content(exe + ".1"), "new exe");
  EXPECT_FALSE(FileExists(newDll));
  EXPECT_FALSE(FileExists(newExe));

  ASSERT_TRUE(dllHolder.Release());
  ASSERT_TRUE(exeHolder.Release());
  ASSERT_TRUE(obsoleteHolder.Release());
  // Nothing has happened to the files in use yet.
  EXPECT_EQ(Content(dll), "old dll");
  EXPECT_EQ(Content(exe), "old exe");
  EXPECT_TRUE(FileExists(obsolete));
  ASSERT_TRUE(RunRestartProcessing());
  EXPECT_EQ(Content(dll), "new dll");
  EXPECT_EQ(Content(exe), "new exe");
  EXPECT_FALSE(FileExists(obsolete));
  EXPECT_FALSE(FileExists(dll + ".1"));
  EXPECT_FALSE(FileExists(exe + ".1"));
}

TEST(DelayedOperations, FailedPendingCopyKeepsTheNewFileAndReportsTheError) {
  ScratchDir dir;
  const std::string d = dir.Path() + "Busy.dll";
  const std::string e = dir.Path() + "Busy.extracted";
  ASSERT_TRUE(WriteFileBytes(d, "old"));
  ASSERT_TRUE(WriteFileBytes(e, "new"));
  // Something that is not a file stands where the pending copy goes.
  ASSERT_TRUE(::CreateDirectoryA((d + ".1").c_str(), nullptr));
  HeldFile holder;
  ASSERT_TRUE(holder.Hold(d));
  InstallState state;
  state.pendingInstalls[d] = "a.cab";
  EXPECT_NE(ReplaceInstalledFile(d, e, state), 0u);
  EXPECT_EQ(Content(e), "new");
  EXPECT_EQ(state.pendingInstalls.count(d), 1u);
  ASSERT_TRUE(holder.Release());
  EXPECT_EQ(Content(d), "old");
}

// Records the restart calls while it lives, answering them with `answer`.
struct RestartRecorder {
  struct Call {
    UINT flags;
    DWORD reason;
  };
  RestartRecorder() {
    previous = SetExitWindowsCallForTests([this](UINT flags, DWORD reason) {
      calls.push_back({flags, reason});
      if (!answer) ::SetLastError(ERROR_SHUTDOWN_IN_PROGRESS);
      return answer;
    });
  }
  ~RestartRecorder() { SetExitWindowsCallForTests(previous); }
  std::vector<Call> calls;
  BOOL answer = TRUE;
  ExitWindowsCall previous;
};

TEST(RebootComputer, EnablesTheShutdownPrivilegeAndAsksForARestart) {
  RestartRecorder restart;
  {
    CapturedLog log;
    EXPECT_NE(RebootComputer(), FALSE);
    EXPECT_EQ(log.lines, (std::vector<std::string>{"Rebooting Computer", "ExitWindowsEx succeeded."}));
  }
  restart.answer = FALSE;
  {
    CapturedLog log;
    EXPECT_EQ(RebootComputer(), FALSE);
    EXPECT_EQ(log.lines,
              (std::vector<std::string>{"Rebooting Computer", "ExitWindowsEx failed. Error 1115."}));
  }
  ASSERT_EQ(restart.calls.size(), 2u);
  EXPECT_EQ(restart.calls[0].flags, static_cast<UINT>(EWX_REBOOT));
  EXPECT_EQ(restart.calls[0].reason, 0u);
}

// ---------------------------------------------------------------------------
// The older family: WININIT.INI. The emulated Windows version is read when a
// process starts, so the work runs in a child process of this program started
// while HKCU\Software\Wine "Version" says "win98"; this process then runs the
// restart processing and looks at the files.

const char kFolderVariable[] = "REPLACE_TEST_WIN98_FOLDER";
const char kOtherSection[] = "[Settings]\r\nPattern=*.tmp\r\nMask=***.bak\r\n";

// Sets the emulated version for this prefix and puts the old value back.
class EmulatedVersion {
 public:
  explicit EmulatedVersion(const std::string& version) {
    had_ = testing_support::RegReadString(HKEY_CURRENT_USER, "Software\\Wine", "Version", old_);
    testing_support::RegWriteString(HKEY_CURRENT_USER, "Software\\Wine", "Version", version);
  }
  ~EmulatedVersion() {
    frame::RegKey key;
    if (key.Open(HKEY_CURRENT_USER, "Software\\Wine", KEY_WRITE) != ERROR_SUCCESS) return;
    if (had_)
      key.SetString("Version", old_);
    else
      key.DeleteValue("Version");
  }

 private:
  bool had_ = false;
  std::string old_;
};

struct OlderFamilyFiles {
  explicit OlderFamilyFiles(const std::string& base) : folder(base + "Long Folder Name\\") {}
  std::string folder;
  std::string Locked() const { return folder + "Locked Library.dll"; }
  std::string First() const { return folder + "first.extracted"; }
  std::string Second() const { return folder + "second.extracted"; }
  std::string Doomed() const { return folder + "Doomed Notes.txt"; }
  std::string Missing() const { return folder + "Fresh Plugin.ocx"; }
  std::string Third() const { return folder + "third.extracted"; }
  std::string Blocked() const { return folder + "Blocked.dll"; }
  std::string Fourth() const { return folder + "fourth.extracted"; }
};

TEST(OlderFamily, WininitLinesAreWrittenAndCarriedOutAtTheRestart) {
  ScratchDir dir;
  const OlderFamilyFiles f(dir.Path());
  ASSERT_TRUE(::CreateDirectoryA(f.folder.c_str(), nullptr));
  ASSERT_TRUE(WriteFileBytes(f.Locked(), "old"));
  ASSERT_TRUE(WriteFileBytes(f.First(), "new 1"));
  ASSERT_TRUE(WriteFileBytes(f.Second(), "new 2"));
  ASSERT_TRUE(WriteFileBytes(f.Doomed(), "doomed"));
  ASSERT_TRUE(WriteFileBytes(f.Third(), "new 3"));
  ASSERT_TRUE(WriteFileBytes(f.Blocked(), "kept"));
  ASSERT_TRUE(WriteFileBytes(f.Fourth(), "new 4"));
  ASSERT_TRUE(::CreateDirectoryA((f.Blocked() + ".1").c_str(), nullptr));
  // The first '*' of the file belongs to another section's entries.
  ::DeleteFileA(WininitBackupPath().c_str());
  ASSERT_TRUE(WriteFileBytes(WininitPath(), kOtherSection));

  HeldFile lockedHolder, blockedHolder;
  ASSERT_TRUE(lockedHolder.Hold(f.Locked()));
  ASSERT_TRUE(blockedHolder.Hold(f.Blocked()));
  {
    EmulatedVersion win98("win98");
    ::SetEnvironmentVariableA(kFolderVariable, dir.Path().c_str());
    char self[MAX_PATH] = "";
    ::GetModuleFileNameA(nullptr, self, MAX_PATH);
    ChildProcess child;
    ASSERT_TRUE(child.Start(self, "--gtest_filter=OlderFamilyEnv.*"));
    EXPECT_EQ(child.Wait(120000), 0u) << "the work under Windows 98 emulation failed";
    ::SetEnvironmentVariableA(kFolderVariable, nullptr);
  }
  ASSERT_TRUE(lockedHolder.Release());
  ASSERT_TRUE(blockedHolder.Release());
  EXPECT_EQ(Content(f.Locked()), "old");

  ASSERT_TRUE(RunRestartProcessing());
  // The second replacement of the locked file wins; the delete lines written
  // for it both ran before it.
  EXPECT_EQ(Content(f.Locked()), "new 2");
  EXPECT_FALSE(FileExists(f.Locked() + ".1"));
  EXPECT_FALSE(FileExists(f.Doomed()));
  EXPECT_EQ(Content(f.Missing()), "new 3");
  EXPECT_FALSE(FileExists(f.Missing() + ".1"));
  // The failed pending copy left no delete line behind.
  EXPECT_EQ(Content(f.Blocked()), "kept");
  EXPECT_FALSE(FileExists(WininitPath()));
  std::string backup;
  ASSERT_TRUE(ReadFileBytes(WininitBackupPath(), backup));
  EXPECT_EQ(backup.compare(0, sizeof(kOtherSection) - 1, kOtherSection), 0) << backup;
}

// Runs in the child process only (the plain run leaves out "Env" suites).
TEST(OlderFamilyEnv, WininitLines) {
  const char* base = std::getenv(kFolderVariable);
  if (!base) GTEST_SKIP() << "started by OlderFamily.* under Windows 98 emulation";
  ASSERT_FALSE(IsNT()) << "the emulated Windows version did not take effect";
  const OlderFamilyFiles f(base);
  const std::string shortFolder = ShortPath(f.folder.substr(0, f.folder.size() - 1)) + "\\";
  ASSERT_NE(shortFolder, f.folder) << "the folder should have a short form of its own";
  auto renameLines = [] {
    std::string text;
    EXPECT_TRUE(ReadFileBytes(WininitPath(), text));
    EXPECT_EQ(text.compare(0, sizeof(kOtherSection) - 1, kOtherSection), 0) << text;
    return SectionLines(text, "rename");
  };
  const std::string deleteLocked = "NUL=" + ShortPath(f.Locked());
  ASSERT_EQ(ShortPath(f.Locked()).substr(0, shortFolder.size()), shortFolder);

  InstallState state;
  state.pendingInstalls[f.Locked()] = "a.cab";
  ASSERT_TRUE(IsFileLocked(f.Locked()));
  EXPECT_EQ(ReplaceInstalledFile(f.Locked(), f.First(), state), 0u);
  EXPECT_EQ(state.rebootRequired, 1u);
  EXPECT_TRUE(state.pendingInstalls.empty());
  EXPECT_FALSE(FileExists(f.First()));
  EXPECT_EQ(Content(f.Locked() + ".1"), "new 1");
  const std::string replaceLocked =
      shortFolder + "Locked Library.dll=" + ShortPath(f.Locked() + ".1");
  EXPECT_EQ(renameLines(), (std::vector<std::string>{deleteLocked, replaceLocked}));

  // A second run before the restart: its replace line moves below the new
  // delete line.
  EXPECT_EQ(ReplaceInstalledFile(f.Locked(), f.Second(), state), 0u);
  EXPECT_EQ(Content(f.Locked() + ".1"), "new 2");
  EXPECT_EQ(renameLines(), (std::vector<std::string>{deleteLocked, deleteLocked, replaceLocked}));

  EXPECT_EQ(DeleteFileDelayReboot(f.Doomed()), 0u);
  const std::string deleteDoomed = "NUL=" + ShortPath(f.Doomed());
  EXPECT_EQ(renameLines(),
            (std::vector<std::string>{deleteLocked, deleteLocked, replaceLocked, deleteDoomed}));

  // A destination that does not exist yet: its folder's short form and its name.
  EXPECT_EQ(ReplaceFileDelayReboot(f.Third(), f.Missing()), 0u);
  const std::string replaceMissing =
      shortFolder + "Fresh Plugin.ocx=" + ShortPath(f.Missing() + ".1");
  EXPECT_EQ(renameLines(), (std::vector<std::string>{deleteLocked, deleteLocked, replaceLocked,
                                                     deleteDoomed, replaceMissing}));

  // The pending copy cannot be made: no line at all, the new file stays.
  ASSERT_TRUE(IsFileLocked(f.Blocked()));
  EXPECT_NE(ReplaceInstalledFile(f.Blocked(), f.Fourth(), state), 0u);
  EXPECT_EQ(Content(f.Fourth()), "new 4");
  EXPECT_EQ(renameLines(), (std::vector<std::string>{deleteLocked, deleteLocked, replaceLocked,
                                                     deleteDoomed, replaceMissing}));
}

}  // namespace
