// The removal passes on a catalogue the test writes into an installation
// folder of its own: what is removed, what stays, what waits for the next
// start of Windows, and what the log and the SharedDlls counts say.
#include "uninstall/RemovalLists.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <algorithm>
#include <string>
#include <vector>

#include "catalog/ComponentCatalog.h"
#include "core/Locations.h"
#include "frame/RegKey.h"
#include "tests/fixtures/holder/HeldFile.h"
#include "tests/unit/uninstall/RecordedProgress.h"
#include "tests/support/CapturedLog.h"
#include "tests/support/Scratch.h"

namespace {

using namespace testing_support;

const char kSharedDlls[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDlls";
const char kTestKey[] = "Software\\Pellory\\RemovalTest";
const std::string kHookProgram = WinePath(FIXTURES_DIR_UNIX) + "\\Hook.exe";

std::string SystemFile(const std::string& name) {
  char folder[MAX_PATH] = "";
  ::GetSystemDirectoryA(folder, MAX_PATH);
  return std::string(folder) + "\\" + name;
}

// Lines joined with CR LF, as the catalogue comes.
std::string Inf(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

size_t Count(const std::vector<std::string>& lines, const std::string& line) {
  return static_cast<size_t>(std::count(lines.begin(), lines.end(), line));
}

// The installation folder is a scratch folder named by PelloryAppDir; the
// catalogue lies in it.
class RemovalPass : public ::testing::Test {
 protected:
  void SetUp() override {
    TearDown();
    ASSERT_TRUE(RegWriteString(HKEY_LOCAL_MACHINE, kPelloryKey, "PelloryAppDir", dir_.Path()));
    ASSERT_TRUE(::CreateDirectoryA(Bin("").c_str(), nullptr));
  }
  void TearDown() override { RegDeleteTree(HKEY_LOCAL_MACHINE, kPelloryKey); }

  std::string Bin(const std::string& name) const { return dir_.Path() + "Bin\\" + name; }
  void Load(const std::vector<std::string>& lines) {
    const std::string path = dir_.Path() + "PM Install1.INF";
    ASSERT_TRUE(WriteFileBytes(path, Inf(lines)));
    ASSERT_TRUE(ini_.Load(path));
    LoadComponentsFrom(catalogue_, ini_);
  }

  ScratchDir dir_{"removal"};
  IniFile ini_{0x0409};
  ComponentCatalog catalogue_;
};

// Shared system files and their SharedDlls values, removed again at the end:
// the system folder and the key belong to the whole prefix.
struct SharedCounts {
  explicit SharedCounts(std::vector<std::string> names) : paths(std::move(names)) {
    key.Create(HKEY_LOCAL_MACHINE, kSharedDlls);
  }
  ~SharedCounts() {
    for (const std::string& path : paths) {
      key.DeleteValue(path);
      ::DeleteFileA(path.c_str());
    }
  }
  std::string Dword(const std::string& path) const {
    DWORD value = 0;
    return key.QueryDword(path, value) == ERROR_SUCCESS ? std::to_string(value) : "<no dword>";
  }
  std::vector<std::string> paths;
  frame::RegKey key;
};

// What the end-to-end uninstall cannot tell apart: a file of two components
// and of the list deleted once (a second try would only log a failure), a
// count of 1 going to 0 with its file kept, a count that is no DWORD, a gap
// in the file list, and files in use from both passes.
TEST_F(RemovalPass, ComponentAndListedFilesAreHandledOnceAndOnlyWhereSafe) {
  const std::string sys1 = SystemFile("RemovalOne.dll");
  const std::string sysText = SystemFile("RemovalText.dll");
  SharedCounts counts({sys1, sysText});
  ASSERT_TRUE(counts.key.IsOpen());
  ASSERT_EQ(counts.key.SetDword(sys1, 2), ERROR_SUCCESS);
  ASSERT_EQ(counts.key.SetString(sysText, "1"), ERROR_SUCCESS);
  for (const std::string& path : {sys1, sysText}) ASSERT_TRUE(WriteFileBytes(path, "sys"));
  for (const char* name : {"Shared.dll", "Locked.dat", "Locked.dll", "Never.txt"})
    ASSERT_TRUE(WriteFileBytes(Bin(name), name));
  ASSERT_TRUE(::CreateDirectoryA(Bin("Empty").c_str(), nullptr));

  Load({"[Components]", "Player=1,0,0,0", "Codecs=1,0,0,0",
        "[Player]", "SourceDisksFiles=Player Files",
        "[Player Files]", "1=Shared.dll", "2=RemovalOne.dll", "3=RemovalText.dll",
        "[Codecs]", "SourceDisksFiles=Codecs Files",
        "[Codecs Files]", "1=Shared.dll", "2=Locked.dll", "3=REMOVALONE.DLL",
        "[Shared.dll]", "File=p.cab", "FileVersion=1,0,0,0", "DestDir=Bin",
        "[Locked.dll]", "File=c.cab", "FileVersion=1,0,0,0", "DestDir=Bin",
        "[RemovalOne.dll]", "File=p.cab", "FileVersion=1,0,0,0", "DestDir=ldid_sys",
        "[RemovalText.dll]", "File=p.cab", "FileVersion=1,0,0,0", "DestDir=LDID_SYS",
        "[Uninstall]", "File1=Shared.dll", "File2=Empty", "File3=Locked.dat", "File4=Locked.dll",
        "File6=Never.txt",
        "[Empty]", "DestDir=Bin", "[Locked.dat]", "DestDir=Bin", "[Never.txt]", "DestDir=Bin"});
  ASSERT_EQ(catalogue_.size(), 2u);

  HeldFile holder, componentHolder;
  ASSERT_TRUE(holder.Hold(Bin("Locked.dat")));
  ASSERT_TRUE(componentHolder.Hold(Bin("Locked.dll")));
  CapturedLog log;
  ProcessedList processed;
  MarkedForDeletingList marked;
  bool rebootNeeded = false;
  RemoveComponentFiles(catalogue_, GetAppDir(), nullptr, processed, marked, rebootNeeded);
  EXPECT_TRUE(rebootNeeded);  // Locked.dll
  RemoveListedFiles(ini_, nullptr, processed, marked, rebootNeeded);
  DeleteMarkedFiles(marked);

  // The file of two components and of the list: marked and deleted once.
  EXPECT_EQ(Count(marked.Paths(), Bin("Shared.dll")), 1u);
  EXPECT_EQ(Count(processed.Paths(), Bin("Shared.dll")), 1u);
  EXPECT_EQ(Count(log.lines, "Successfully deleted file '" + Bin("Shared.dll") +
                                 "' marked for deleting."), 1u) << log.Text();
  EXPECT_FALSE(log.Contains("DeleteFile failed")) << log.Text();
  EXPECT_FALSE(FileExists(Bin("Shared.dll")));

  // Shared system files stay; only a DWORD count above 0 goes down, once
  // however often and in whatever case the file is listed.
  for (const std::string& path : {sys1, sysText}) EXPECT_TRUE(FileExists(path)) << path;
  EXPECT_EQ(counts.Dword(sys1), "1");
  std::string text;
  EXPECT_TRUE(RegReadString(HKEY_LOCAL_MACHINE, kSharedDlls, sysText, text));
  EXPECT_EQ(text, "1");
  EXPECT_EQ(Count(processed.Paths(), sys1), 1u);

  // Behind a gap: kept. A listed empty folder goes.
  EXPECT_TRUE(FileExists(Bin("Never.txt")));
  EXPECT_FALSE(DirExists(Bin("Empty")));

  // Files in use wait for the next start of Windows; the one the component
  // pass deferred is not deferred again by the listed pass.
  EXPECT_EQ(Count(marked.Paths(), Bin("Locked.dat")), 0u);
  EXPECT_EQ(Count(marked.Paths(), Bin("Locked.dll")), 0u);
  EXPECT_TRUE(log.Has("Deleting of locked file '" + Bin("Locked.dat") +
                      "' is delayed till reboot.")) << log.Text();
  EXPECT_FALSE(log.Contains(Bin("Locked.dll"))) << log.Text();
  ASSERT_TRUE(holder.Release());
  ASSERT_TRUE(componentHolder.Release());
  EXPECT_TRUE(FileExists(Bin("Locked.dat")));
  EXPECT_TRUE(FileExists(Bin("Locked.dll")));
  ASSERT_TRUE(RunRestartProcessing());
  EXPECT_FALSE(FileExists(Bin("Locked.dat")));
  EXPECT_FALSE(FileExists(Bin("Locked.dll")));
}

TEST_F(RemovalPass, ProgressWindowShowsWhatIsRemoved) {
  ASSERT_TRUE(::CreateDirectoryA(Bin("Empty").c_str(), nullptr));
  ASSERT_TRUE(WriteFileBytes(Bin("Listed.txt"), "x"));
  for (const char* section : {"Listed.txt", "Empty"}) {
    SCOPED_TRACE(section);
    Load({"[Uninstall]", std::string("File1=") + section, "[Listed.txt]", "DestDir=Bin",
          "[Empty]", "DestDir=Bin"});
    ProcessedList processed;
    MarkedForDeletingList marked;
    bool rebootNeeded = false;
    RecordedProgress progress;
    RemoveListedFiles(ini_, &progress, processed, marked, rebootNeeded);
    EXPECT_EQ(progress.status,
              section == std::string("Empty") ? "Removing directory:" : "Deleting file:");
    EXPECT_EQ(progress.detail, Bin(section));
  }
}

// The end-to-end uninstall runs a hook and stops at the gap; what a hook's
// exit code asks for is seen only here.
TEST_F(RemovalPass, AHookAsksForTheRestartByItsExitCode) {
  ASSERT_TRUE(::CopyFileA(kHookProgram.c_str(), Bin("First.exe").c_str(), FALSE));
  for (const char* exitCode : {"0", "36"}) {
    SCOPED_TRACE(exitCode);
    Load({"[Uninstall Hooks]", "Hook1=First.exe", "[First.exe]", "DestDir=Bin",
          std::string("CmdLine=/uninstall /exit:") + exitCode});
    bool rebootNeeded = false;
    RunUninstallHooks(ini_, nullptr, rebootNeeded);
    EXPECT_EQ(rebootNeeded, std::string(exitCode) == "36");
  }
  const std::string runs = FileContent(Bin("First.exe.runs"));
  EXPECT_EQ(runs, "\"" + Bin("First.exe") + "\" /uninstall /exit:0\r\n\"" + Bin("First.exe") +
                      "\" /uninstall /exit:36\r\n");
}

// The end-to-end uninstall removes a shortcut folder, a shortcut and a
// registry value; here the entries it never meets: refused spellings, shell
// folders without a place, and a registry line naming a whole key.
TEST_F(RemovalPass, ShortcutsAndRegistryEntriesGoOnlyBelowTheirPlace) {
  char programs[MAX_PATH] = "";
  ASSERT_EQ(::SHGetFolderPathA(nullptr, CSIDL_PROGRAMS, nullptr, 0, programs), S_OK);
  const std::string folder = std::string(programs) + "\\Pellory Removal";
  ASSERT_TRUE(::CreateDirectoryA(folder.c_str(), nullptr));
  ASSERT_TRUE(WriteFileBytes(folder + "\\Manager.lnk", "link"));
  ASSERT_TRUE(WriteFileBytes(folder + "\\Help.lnk", "link"));
  ASSERT_TRUE(RegWriteString(HKEY_LOCAL_MACHINE, kTestKey, "Kept", "x"));
  ASSERT_TRUE(RegWriteString(HKEY_LOCAL_MACHINE, std::string(kTestKey) + "\\Sub", "v", "x"));

  Load({"[Uninstall]", "Shortcut1=CSIDL_PROGRAMS,Pellory Removal", "Shortcut2=CSIDL_PROGRAMS,",
        "Shortcut3=CSIDL_NOSUCH,Pellory Removal", "Shortcut4=CSIDL_PROGRAMS,..\\Programs",
        "Shortcut5=CSIDL_DRIVES,Pellory Removal", "Shortcut6=CSIDL_ALTSTARTUP,Pellory Removal",
        "Shortcut7=CSIDL_PROGRAMS,.", "Shortcut8=CSIDL_PROGRAMS,.\\ .",
        "Registry1=HKLM," + std::string(kTestKey) + ",Sub"});
  CapturedLog log;
  RemoveListedShortcuts(ini_, nullptr);
  RemoveListedRegistryEntries(ini_);

  EXPECT_FALSE(DirExists(folder));
  // An empty, unknown or climbing entry never reaches the shell folder itself.
  EXPECT_TRUE(DirExists(programs));
  EXPECT_TRUE(log.Has("The shortcut entry 'CSIDL_PROGRAMS,' is refused.")) << log.Text();
  EXPECT_TRUE(log.Has("The shortcut entry 'CSIDL_NOSUCH,Pellory Removal' is refused."));
  EXPECT_TRUE(log.Has("The shortcut entry 'CSIDL_PROGRAMS,..\\Programs' is refused."));
  EXPECT_TRUE(log.Has("The shortcut entry 'CSIDL_PROGRAMS,.' is refused."));
  EXPECT_TRUE(log.Has("The shortcut entry 'CSIDL_PROGRAMS,.\\ .' is refused."));
  // A shell folder without a place on disk (or missing here) is skipped, not
  // taken as the root of the current drive.
  EXPECT_FALSE(log.Contains("Cannot delete directory")) << log.Text();
  for (const std::string& line : log.lines) {
    if (line.find("Pellory Removal") == std::string::npos || line.find("The shortcut entry ") == 0)
      continue;
    EXPECT_NE(line.find(folder), std::string::npos) << line;
  }

  std::string value;
  EXPECT_TRUE(RegReadString(HKEY_LOCAL_MACHINE, kTestKey, "Kept", value));
  EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, std::string(kTestKey) + "\\Sub"));
  RegDeleteTree(HKEY_LOCAL_MACHINE, kTestKey);
}

}  // namespace
