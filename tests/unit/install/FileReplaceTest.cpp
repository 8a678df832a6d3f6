#include "install/FileReplace.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "core/Platform.h"
#include "frame/Handle.h"
#include "install/TempFileList.h"
#include "tests/fixtures/holder/HeldFile.h"
#include "tests/support/Scratch.h"

namespace {

using namespace testing_support;
using Lines = std::vector<std::string>;

// No test of this program may restart the machine: a restart call that gets
// past the tests' own recorders is refused and fails the run.
int g_unexpectedRestarts = 0;
class NoRestart : public ::testing::Environment {
  void SetUp() override {
    SetExitWindowsCallForTests([](UINT, DWORD) { return ++g_unexpectedRestarts, FALSE; });
  }
  void TearDown() override { EXPECT_EQ(g_unexpectedRestarts, 0); }
};
::testing::Environment* const kNoRestart [[maybe_unused]] =
    ::testing::AddGlobalTestEnvironment(new NoRestart);

std::string ShortPath(const std::string& path) {
  char buffer[MAX_PATH] = "";
  const DWORD n = ::GetShortPathNameA(path.c_str(), buffer, MAX_PATH);
  return n && n < MAX_PATH ? std::string(buffer, n) : "<no short path for " + path + ">";
}

// While it lives, each move of an extracted file beside its destination
// fails as across volumes, and each copy of a new file writes half its bytes
// to the target and then fails as a full disk does.
class HalfCopies {
 public:
  HalfCopies() {
    previousMove_ = SetSideMoveCallForTests([this](const std::string&, const std::string& to) {
      moveTargets.push_back(to);
      return ::SetLastError(ERROR_NOT_SAME_DEVICE), FALSE;
    });
    previous_ = SetFileCopyCallForTests([this](const std::string& from, const std::string& to) {
      targets.push_back(to);
      std::string bytes;
      if (!ReadFileBytes(from, bytes) || !WriteFileBytes(to, bytes.substr(0, bytes.size() / 2)))
        return ::SetLastError(ERROR_GEN_FAILURE), FALSE;
      return ::SetLastError(ERROR_DISK_FULL), FALSE;
    });
  }
  ~HalfCopies() {
    SetFileCopyCallForTests(previous_);
    SetSideMoveCallForTests(previousMove_);
  }
  HalfCopies(const HalfCopies&) = delete;
  HalfCopies& operator=(const HalfCopies&) = delete;
  Lines targets;
  Lines moveTargets;

 private:
  FileCopyCall previous_;
  FileMoveCall previousMove_;
};

// The file system's identity of a file: kept by a rename, new for a copy.
std::string FileIdentity(const std::string& path) {
  frame::ScopedFile file(::CreateFileA(path.c_str(), 0,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, 0, nullptr));
  BY_HANDLE_FILE_INFORMATION info = {};
  if (!file || !::GetFileInformationByHandle(file.get(), &info)) return "<none for " + path + ">";
  return std::to_string(info.dwVolumeSerialNumber) + ":" + std::to_string(info.nFileIndexHigh) +
         ":" + std::to_string(info.nFileIndexLow);
}

bool WriteFiles(const std::string& dir, const std::vector<std::pair<std::string, std::string>>& files) {
  for (const auto& f : files)
    if (!WriteFileBytes(dir + f.first, f.second)) return false;
  return true;
}

// A free destination is copied over (read-only or not), a locked one on the
// NT family gets its copy beside it and a pending rename, which Windows'
// restart processing carries out here.
TEST(ReplaceInstalledFile, FreeFilesAreCopiedOverAndLockedOnesReplacedAtTheRestart) {
  ASSERT_TRUE(IsNT());
  ScratchDir dir;
  const std::string p = dir.Path(), d = p + "Target.dll", e = p + "Target.extracted";
  // Two locked files of one base name are the registration test's.
  const std::string dll = p + "Foo.dll", obsolete = p + "Obsolete.ocx";
  ASSERT_TRUE(WriteFiles(p, {{"Target.dll", "old"}, {"Target.extracted", "new"}, {"Foo.dll", "old dll"},
                             {"Obsolete.ocx", "x"}, {"dll.new", "new dll"}}));
  for (const auto& f : {d, e, dll}) ASSERT_TRUE(::SetFileAttributesA(f.c_str(), FILE_ATTRIBUTE_READONLY));
  InstallState state;
  {
    CapturedLog log;
    EXPECT_EQ(ReplaceInstalledFile(d, e, state), 0u);
    EXPECT_EQ(log.lines, (Lines{"File '" + d + "' is read-only. Trying to remove read-only attribute...\n",
                                "Succeeded to remove file '" + d + "' read-only attribute.\n",
                                "Copying file '" + e + "' to file '" + d + "'...",
                                "Succeeded. Deleting temporary file '" + e + "'."}));
  }
  EXPECT_EQ(FileContent(d), "new");
  EXPECT_EQ(::GetFileAttributesA(d.c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
  EXPECT_FALSE(FileExists(e));
  // The extracted file is missing: nothing copied, the error appended.
  state.errorText = "earlier. ";
  EXPECT_EQ(ReplaceInstalledFile(d, e, state), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(state.errorText,
            "earlier. CopyFile failed to copy file '" + e + "' to the file '" + d + "'. Error 2.");
  // The extracted file is open elsewhere, for reading only: copied, but not deleted.
  ASSERT_TRUE(WriteFileBytes(e, "newer"));
  HeldFile holders[3];
  ASSERT_TRUE(holders[0].Hold(e, HeldFile::Sharing::Read));
  state.errorText.clear();
  EXPECT_EQ(ReplaceInstalledFile(d, e, state), 0u);
  EXPECT_EQ(FileContent(d), "newer");
  EXPECT_TRUE(FileExists(e));
  EXPECT_EQ(state.errorText, "Failed to delete file. Error 32.");
  EXPECT_EQ(state.rebootRequired, 0u);

  ASSERT_TRUE(holders[1].Hold(dll));  // read-only and locked
  ASSERT_TRUE(holders[2].Hold(obsolete));
  state.pendingInstalls = {{dll, "a.cab"}, {obsolete, "b.cab"}};
  {
    CapturedLog log;
    EXPECT_EQ(ReplaceInstalledFile(dll, p + "dll.new", state), 0u);
    EXPECT_EQ(log.lines.back(), "File '" + dll + "' is locked. The file update is delayed until reboot.");
  }
  EXPECT_EQ(DeleteFileDelayReboot(obsolete), 0u);
  EXPECT_EQ(state.rebootRequired, 1u);
  EXPECT_EQ(state.pendingInstalls, (std::map<std::string, std::string>{{obsolete, "b.cab"}}));
  EXPECT_EQ(FileContent(dll + ".1"), "new dll");
  for (auto& h : holders) ASSERT_TRUE(h.Release());
  EXPECT_EQ(FileContent(dll) + "|" + FileContent(obsolete), "old dll|x");
  // A later run before the restart finds Foo.dll free and copies directly: the
  // restart must not bring the earlier run's copy back over it.
  ASSERT_TRUE(WriteFileBytes(p + "dll.newer", "newer dll"));
  EXPECT_EQ(ReplaceInstalledFile(dll, p + "dll.newer", state), 0u);
  ASSERT_TRUE(RunRestartProcessing());
  EXPECT_EQ(FileContent(dll) + "|" + FileContent(obsolete), "newer dll|<missing>");
  EXPECT_FALSE(FileExists(dll + ".1"));
}

// A copy that fails half-way, as on a full disk: the installed file keeps its
// bytes, the copy's error is returned and told as before, and no partial copy
// is left in the folder. The same for the copy that waits for the restart: a
// failed second run leaves the first run's waiting copy whole.
TEST(ReplaceInstalledFile, ACopyThatFailsHalfWayDamagesNothing) {
  ASSERT_TRUE(IsNT());
  ScratchDir dir;
  const std::string p = dir.Path(), d = p + "Player.dll", e = p + "Player.extracted";
  const std::string oldBytes = "the installed player", newBytes = "the new player, a longer text";
  ASSERT_TRUE(WriteFiles(p, {{"Player.dll", oldBytes}, {"Player.extracted", newBytes}}));
  InstallState state;
  {
    HalfCopies halfCopies;
    CapturedLog log;
    EXPECT_EQ(ReplaceInstalledFile(d, e, state), static_cast<DWORD>(ERROR_DISK_FULL));
    const std::string failed =
        "CopyFile failed to copy file '" + e + "' to the file '" + d + "'. Error 112.";
    EXPECT_EQ(log.lines, (Lines{"Copying file '" + e + "' to file '" + d + "'...",
                                "MoveFileEx could not move the file '" + e + "' beside '" + d +
                                    "'. Error 0x011. It is copied.",
                                failed}));
    EXPECT_EQ(state.errorText, failed);
    ASSERT_EQ(halfCopies.moveTargets.size(), 1u);
    ASSERT_EQ(halfCopies.targets.size(), 1u);
    EXPECT_EQ(halfCopies.targets[0].rfind('\\'), p.size() - 1) << "copied beside the destination";
  }
  EXPECT_EQ(FileContent(d), oldBytes);
  EXPECT_EQ(FolderNames(p), (Lines{"Player.dll", "Player.extracted"}));
  // Once the copy works, the file is replaced and nothing else stays.
  EXPECT_EQ(ReplaceInstalledFile(d, e, state), 0u);
  EXPECT_EQ(FileContent(d), newBytes);
  EXPECT_EQ(FolderNames(p), (Lines{"Player.dll"}));

  // Locked: the first run's copy waits beside the file; a second run's copy fails.
  ASSERT_TRUE(WriteFiles(p, {{"first.new", "first run"}, {"second.new", newBytes}}));
  HeldFile holder;
  ASSERT_TRUE(holder.Hold(d));
  EXPECT_EQ(ReplaceInstalledFile(d, p + "first.new", state), 0u);
  state.pendingInstalls = {{d, "a.cab"}};
  {
    HalfCopies halfCopies;
    EXPECT_EQ(ReplaceInstalledFile(d, p + "second.new", state),
              static_cast<DWORD>(ERROR_DISK_FULL));
  }
  EXPECT_EQ(state.pendingInstalls.count(d), 1u);
  EXPECT_EQ(FileContent(d + ".1"), "first run");
  EXPECT_EQ(FileContent(p + "second.new"), newBytes);  // still there for a later try
  EXPECT_EQ(FolderNames(p), (Lines{"Player.dll", "Player.dll.1", "second.new"}));
  ASSERT_TRUE(holder.Release());
  ASSERT_TRUE(RunRestartProcessing());
  EXPECT_EQ(FileContent(d), "first run");
  EXPECT_EQ(FolderNames(p), (Lines{"Player.dll", "second.new"}));
}

// An extracted file that nothing needs afterwards is renamed into place, not
// copied: the installed file is the very file that was extracted, and neither
// it nor a side file is left. One that another destination needs is copied
// and stays. Where the rename cannot be done (another volume), it is copied
// as before; where the final rename fails, the installed file is untouched
// and the extracted file back where it was.
TEST(ReplaceInstalledFile, AnExtractedFileNobodyNeedsIsMovedIntoPlace) {
  ASSERT_TRUE(IsNT());
  ScratchDir dir;
  const std::string staging = dir.Path() + "PGF1.tmp.d\\", app = dir.Path() + "App\\";
  const std::string plugins = app + "Plugins\\", e = staging + "Player.dll";
  const std::string d = app + "Player.dll", second = plugins + "Player.dll";
  for (const std::string& folder : {staging, app, plugins})
    ASSERT_TRUE(::CreateDirectoryA(folder.c_str(), nullptr));
  ASSERT_TRUE(WriteFiles(staging, {{"Player.dll", "new player"}, {"Codec.dll", "new codec"},
                                   {"Skin.dll", "new skin"}}));
  ASSERT_TRUE(WriteFiles(app, {{"Player.dll", "old player"}, {"Codec.dll", "old codec"},
                               {"Skin.dll", "old skin"}}));
  const std::string extractedId = FileIdentity(e);
  InstallState state;
  EXPECT_EQ(ReplaceInstalledFile(second, e, state, ExtractedFileUse::kNeededAgain), 0u);
  EXPECT_EQ(FileContent(second), "new player");
  EXPECT_EQ(FileContent(e), "new player");
  EXPECT_NE(FileIdentity(second), extractedId);
  {
    CapturedLog log;
    EXPECT_EQ(ReplaceInstalledFile(d, e, state), 0u);
    EXPECT_EQ(log.lines, (Lines{"Copying file '" + e + "' to file '" + d + "'...",
                                "Succeeded. Deleting temporary file '" + e + "'."}));
  }
  EXPECT_EQ(FileContent(d), "new player");
  EXPECT_EQ(FileIdentity(d), extractedId) << "copied, not moved";
  EXPECT_EQ(state.errorText, "");
  EXPECT_EQ(FolderNames(app), (Lines{"Codec.dll", "Player.dll", "Plugins", "Skin.dll"}));
  EXPECT_EQ(FolderNames(plugins), (Lines{"Player.dll"}));

  // The rename beside the destination fails: copied, and deleted after.
  FileMoveCall previous = SetSideMoveCallForTests([](const std::string&, const std::string&) {
    return ::SetLastError(ERROR_NOT_SAME_DEVICE), FALSE;
  });
  const std::string codec = app + "Codec.dll", codecId = FileIdentity(staging + "Codec.dll");
  EXPECT_EQ(ReplaceInstalledFile(codec, staging + "Codec.dll", state), 0u);
  EXPECT_EQ(FileContent(codec), "new codec");
  EXPECT_NE(FileIdentity(codec), codecId);

  // Moved beside it, but then the installed file is opened by someone
  // without sharing and the replacing rename fails.
  const std::string skin = app + "Skin.dll";
  frame::ScopedFile opener;
  SetSideMoveCallForTests([&](const std::string& from, const std::string& to) {
    if (!::MoveFileExA(from.c_str(), to.c_str(), 0)) return FALSE;
    opener.reset(::CreateFileA(skin.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    return TRUE;
  });
  EXPECT_NE(ReplaceInstalledFile(skin, staging + "Skin.dll", state), 0u);
  SetSideMoveCallForTests(previous);
  ASSERT_TRUE(opener.valid());
  opener.reset();
  EXPECT_EQ(FileContent(skin), "old skin");
  EXPECT_EQ(FileContent(staging + "Skin.dll"), "new skin");
  EXPECT_EQ(FolderNames(app), (Lines{"Codec.dll", "Player.dll", "Plugins", "Skin.dll"}));
  EXPECT_EQ(FolderNames(staging), (Lines{"Skin.dll"}));
  // Tried again, it goes in.
  EXPECT_EQ(ReplaceInstalledFile(skin, staging + "Skin.dll", state), 0u);
  EXPECT_EQ(FileContent(skin), "new skin");
  EXPECT_EQ(FolderNames(staging), Lines{});
}

// The older family: WININIT.INI. The emulated Windows version is read when a
// process starts, so the work runs in a child process of this program started
// while HKCU\Software\Wine "Version" says "win98"; this process then runs the
// restart processing and looks at the files.
const char kFolderVariable[] = "REPLACE_TEST_WIN98_FOLDER";
// The first '*' of the file belongs to another section; so does a "***".
const char kOtherSection[] = "[Settings]\r\nPattern=*.tmp\r\nMask=***.bak\r\n";

// Runs the tests `filter` of this program in a child process under Windows 98
// emulation, with `folder` in its environment and a WININIT.INI holding only
// kOtherSection; the child's exit code.
DWORD RunUnderWindows98(const std::string& filter, const std::string& folder) {
  ::DeleteFileA(WindowsFile("wininit.bak").c_str());
  if (!WriteFileBytes(WindowsFile("WININIT.INI"), kOtherSection)) return 1;
  std::string old;
  const bool had = RegReadString(HKEY_CURRENT_USER, "Software\\Wine", "Version", old);
  if (!RegWriteString(HKEY_CURRENT_USER, "Software\\Wine", "Version", "win98")) return 1;
  ::SetEnvironmentVariableA(kFolderVariable, folder.c_str());
  char self[MAX_PATH] = "";
  ::GetModuleFileNameA(nullptr, self, MAX_PATH);
  ChildProcess child;
  const bool started = child.Start(self, "--gtest_filter=" + filter);
  const DWORD exitCode = started ? child.Wait(120000) : STILL_ACTIVE;
  ::SetEnvironmentVariableA(kFolderVariable, nullptr);
  if (had)
    RegWriteString(HKEY_CURRENT_USER, "Software\\Wine", "Version", old);
  else
    ::RegDeleteKeyValueA(HKEY_CURRENT_USER, "Software\\Wine", "Version");
  return exitCode;
}

// The lines of [rename] in WININIT.INI, which must follow kOtherSection.
Lines RenameLines() {
  const std::string text = FileContent(WindowsFile("WININIT.INI"));
  const std::string head = kOtherSection + std::string("[rename]\r\n");
  if (text.compare(0, head.size(), head) != 0) return {"<unexpected start>", text};
  Lines lines;
  for (size_t at = head.size(), end; at < text.size(); at = end + 2) {
    end = std::min(text.find("\r\n", at), text.size());
    if (end > at) lines.push_back(text.substr(at, end - at));
  }
  return lines;
}

TEST(OlderFamily, WininitLinesAreWrittenAndCarriedOutAtTheRestart) {
  ScratchDir dir;
  const std::string f = dir.Path() + "Long Folder Name\\";
  ASSERT_TRUE(::CreateDirectoryA(f.c_str(), nullptr));
  ASSERT_TRUE(WriteFiles(f, {{"Locked Library.dll", "old"}, {"1.new", "new 1"}, {"2.new", "new 2"},
                             {"Doomed Notes.txt", "doomed"}, {"3.new", "new 3"},
                             {"Blocked.dll", "kept"}, {"4.new", "new 4"}}));
  ASSERT_TRUE(::CreateDirectoryA((f + "Blocked.dll.1").c_str(), nullptr));
  HeldFile locked, blocked;
  ASSERT_TRUE(locked.Hold(f + "Locked Library.dll"));
  ASSERT_TRUE(blocked.Hold(f + "Blocked.dll"));
  ASSERT_EQ(RunUnderWindows98("OlderFamilyEnv.WininitLines", f), 0u)
      << "the work under Windows 98 emulation failed";
  ASSERT_TRUE(locked.Release());
  ASSERT_TRUE(blocked.Release());
  EXPECT_EQ(FileContent(f + "Locked Library.dll"), "old");
  EXPECT_TRUE(FileExists(f + "Doomed Notes.txt"));

  ASSERT_TRUE(RunRestartProcessing());
  // The second replacement of the locked file wins; its delete line (the
  // first run's was withdrawn for it) ran before it.
  EXPECT_EQ(FileContent(f + "Locked Library.dll"), "new 2");
  EXPECT_FALSE(FileExists(f + "Locked Library.dll.1"));
  EXPECT_FALSE(FileExists(f + "Doomed Notes.txt"));
  EXPECT_EQ(FileContent(f + "Fresh Plugin.ocx"), "new 3");
  EXPECT_EQ(FileContent(f + "Blocked.dll"), "kept");  // its failed copy left no delete line
  // The restart processing took the file and kept it as wininit.bak.
  EXPECT_FALSE(FileExists(WindowsFile("WININIT.INI")));
  EXPECT_EQ(FileContent(WindowsFile("wininit.bak")).find(kOtherSection), 0u);
}

// A run whose replacement cannot be registered for the restart leaves the
// machine as it found it: no delete line without its replace line, the
// earlier run's line and waiting copy untouched, the new file kept.
TEST(OlderFamily, AFailedStepLeavesEverythingAsItWas) {
  ScratchDir dir;
  const std::string f = dir.Path() + "Long Folder Name\\", lib = f + "Locked Library.dll";
  ASSERT_TRUE(::CreateDirectoryA(f.c_str(), nullptr));
  ASSERT_TRUE(WriteFiles(f, {{"Locked Library.dll", "old"}, {"1.new", "new 1"}, {"2.new", "new 2"},
                             {"3.new", "new 3"}, {"Free.dll", "old free"}, {"4.new", "new 4"}}));
  HeldFile locked;
  ASSERT_TRUE(locked.Hold(lib));
  ASSERT_EQ(RunUnderWindows98("OlderFamilyEnv.FailedSteps", f), 0u)
      << "the work under Windows 98 emulation failed";
  ASSERT_TRUE(locked.Release());
  ASSERT_TRUE(RunRestartProcessing());
  EXPECT_EQ(FileContent(lib), "new 2");
  EXPECT_EQ(FileContent(f + "Free.dll"), "new 4");
  EXPECT_EQ(FolderNames(f), (Lines{"3.new", "Free.dll", "Locked Library.dll"}));
}

TEST(OlderFamilyEnv, FailedSteps) {
  const char* folder = std::getenv(kFolderVariable);
  if (!folder) GTEST_SKIP() << "started by OlderFamily.* under Windows 98 emulation";
  ASSERT_FALSE(IsNT()) << "the emulated Windows version did not take effect";
  const std::string f = folder, lib = f + "Locked Library.dll", ini = WindowsFile("WININIT.INI");
  InstallState state;
  ASSERT_EQ(ReplaceInstalledFile(lib, f + "1.new", state), 0u);
  const std::string before = FileContent(ini);
  const Lines files = FolderNames(f);
  ASSERT_EQ(files, (Lines{"2.new", "3.new", "4.new", "Free.dll", "Locked Library.dll",
                          "Locked Library.dll.1"}));
  const auto expectUnchanged = [&](const char* how) {
    SCOPED_TRACE(how);
    EXPECT_EQ(FileContent(ini), before);
    EXPECT_EQ(FolderNames(f), files);
    EXPECT_EQ(FileContent(lib + ".1"), "new 1");
    EXPECT_EQ(FileContent(f + "2.new"), "new 2");
    EXPECT_EQ(state.pendingInstalls.count(lib), 1u);
  };
  state.pendingInstalls = {{lib, "a.cab"}};
  {
    // Another program has WININIT.INI open without sharing. (A read-only
    // attribute would not do: Wine lets root write such a file.)
    HeldFile other;
    ASSERT_TRUE(other.Hold(ini));
    EXPECT_NE(ReplaceInstalledFile(lib, f + "2.new", state), 0u);
    EXPECT_NE(DeleteFileDelayReboot(f + "3.new"), 0u);
    ASSERT_TRUE(other.Release());
  }
  expectUnchanged("WININIT.INI open elsewhere without sharing");
  // A destination in a folder that does not exist has no short form.
  EXPECT_NE(ReplaceFileDelayReboot(f + "3.new", f + "Missing\\Fresh Plugin.ocx"), 0u);
  expectUnchanged("no short path");
  // Once WININIT.INI can be written, the second run's lines go in.
  EXPECT_EQ(ReplaceInstalledFile(lib, f + "2.new", state), 0u);
  const std::string delLib = "NUL=" + ShortPath(lib);
  // The first run's delete line is withdrawn for the second run's own.
  EXPECT_EQ(RenameLines(), (Lines{delLib, ShortPath(f.substr(0, f.size() - 1)) +
                                              "\\Locked Library.dll=" + ShortPath(lib + ".1")}));

  // A free file: this family has no rename that replaces, and a copy that
  // fails half-way still leaves the old file whole.
  const std::string free = f + "Free.dll";
  {
    HalfCopies halfCopies;
    EXPECT_EQ(ReplaceInstalledFile(free, f + "4.new", state), static_cast<DWORD>(ERROR_DISK_FULL));
  }
  EXPECT_EQ(FileContent(free), "old free");
  EXPECT_EQ(FolderNames(f), (Lines{"3.new", "4.new", "Free.dll", "Locked Library.dll",
                                   "Locked Library.dll.1"}));
  ASSERT_TRUE(::SetFileAttributesA(free.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(ReplaceInstalledFile(free, f + "4.new", state), 0u);
  EXPECT_EQ(FileContent(free), "new 4");
  EXPECT_EQ(::GetFileAttributesA(free.c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
  EXPECT_EQ(FolderNames(f), (Lines{"3.new", "Free.dll", "Locked Library.dll",
                                   "Locked Library.dll.1"}));

  // The old file steps aside for the rename of the new one. When that rename
  // fails and the old file cannot come back either, the log says where it is.
  const std::string moved = f + "Moved.dll";
  ASSERT_TRUE(WriteFiles(f, {{"Moved.dll", "old moved"}, {"5.new", "new 5"}}));
  std::vector<std::pair<std::string, std::string>> moves;
  FileMoveCall previous = SetFileMoveCallForTests([&](const std::string& from, const std::string& to) {
    moves.emplace_back(from, to);
    if (moves.size() == 1) return ::MoveFileA(from.c_str(), to.c_str());
    return ::SetLastError(ERROR_ACCESS_DENIED), FALSE;
  });
  {
    CapturedLog log;
    EXPECT_EQ(ReplaceInstalledFile(moved, f + "5.new", state), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    ASSERT_EQ(moves.size(), 3u);
    const std::string aside = moves[0].second;
    EXPECT_EQ(moves[0].first, moved);
    EXPECT_EQ(moves[2], std::make_pair(aside, moved));
    EXPECT_EQ(FileContent(aside), "old moved");
    EXPECT_TRUE(log.Has("The old file '" + moved + "' could not be put back and is kept as '" +
                        aside + "'. Error 0x05."))
        << log.Text();
    ASSERT_TRUE(::MoveFileA(aside.c_str(), moved.c_str()));
  }
  // The new file is in place but the old one, opened by someone meanwhile,
  // cannot be deleted: it is logged and goes when the program ends.
  frame::ScopedFile opener;
  moves.clear();
  SetFileMoveCallForTests([&](const std::string& from, const std::string& to) {
    moves.emplace_back(from, to);
    const BOOL done = ::MoveFileA(from.c_str(), to.c_str());
    if (done && from == moved && moves.size() == 1)
      opener.reset(::CreateFileA(to.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    return done;
  });
  {
    CapturedLog log;
    EXPECT_EQ(ReplaceInstalledFile(moved, f + "5.new", state), 0u);
    ASSERT_EQ(moves.size(), 2u);
    ASSERT_TRUE(opener.valid());
    const std::string aside = moves[0].second;
    EXPECT_EQ(FileContent(moved), "new 5");
    EXPECT_TRUE(log.Has("DeleteFile failed for the file '" + aside + "', the old '" + moved +
                        "'. Error 0x020. It is deleted when the program ends."))
        << log.Text();
    EXPECT_TRUE(TheTempFileList().Contains(aside));
    opener.reset();
    EXPECT_EQ(FileContent(aside), "old moved");
    TheTempFileList().DeleteAll();  // as at the end of the program
    EXPECT_FALSE(FileExists(aside));
  }
  SetFileMoveCallForTests(previous);
  EXPECT_TRUE(::DeleteFileA(moved.c_str()));
}

// Runs in the child process only (the plain run leaves out "Env" suites).
TEST(OlderFamilyEnv, WininitLines) {
  const char* folder = std::getenv(kFolderVariable);
  if (!folder) GTEST_SKIP() << "started by OlderFamily.* under Windows 98 emulation";
  ASSERT_FALSE(IsNT()) << "the emulated Windows version did not take effect";
  const std::string f = folder, s = ShortPath(f.substr(0, f.size() - 1)) + "\\";
  ASSERT_NE(s, f) << "the folder should have a short form of its own";
  const std::string lib = f + "Locked Library.dll";
  InstallState state;
  state.pendingInstalls[lib] = "a.cab";
  EXPECT_EQ(ReplaceInstalledFile(lib, f + "1.new", state), 0u);
  EXPECT_EQ(state.rebootRequired, 1u);
  EXPECT_TRUE(state.pendingInstalls.empty());
  // A second run before the restart: the replace line moves below the new
  // delete line, or the restart would delete the file it has put in place.
  EXPECT_EQ(ReplaceInstalledFile(lib, f + "2.new", state), 0u);
  EXPECT_EQ(DeleteFileDelayReboot(f + "Doomed Notes.txt"), 0u);
  // A destination that does not exist yet: its folder's short form and its name.
  EXPECT_EQ(ReplaceFileDelayReboot(f + "3.new", f + "Fresh Plugin.ocx"), 0u);
  // The pending copy cannot be made: no line at all, the new file stays.
  state.pendingInstalls[f + "Blocked.dll"] = "b.cab";
  EXPECT_NE(ReplaceInstalledFile(f + "Blocked.dll", f + "4.new", state), 0u);
  EXPECT_EQ(FileContent(f + "4.new"), "new 4");
  EXPECT_EQ(state.pendingInstalls.count(f + "Blocked.dll"), 1u);
  // The lines of [rename], after the other section, in short names.
  const std::string delLib = "NUL=" + ShortPath(lib);
  const Lines lines = RenameLines();
  EXPECT_EQ(lines, (Lines{delLib, s + "Locked Library.dll=" + ShortPath(lib + ".1"),
                          "NUL=" + ShortPath(f + "Doomed Notes.txt"),
                          s + "Fresh Plugin.ocx=" + ShortPath(f + "Fresh Plugin.ocx.1")}));
}

}  // namespace
