// What the uninstaller's end-to-end cases share: an installation laid out
// or installed by a served Setup run, the real Upgrade.exe started with
// "/Uninstall" from the installed "Bin\" (it moves out and runs from a copy)
// or from elsewhere, its boxes read and answered the way a person would, and
// what is left on the disk, in the registry and in its log.
#pragma once

#include <gtest/gtest.h>
#include <shlobj.h>

#include <algorithm>
#include <string>
#include <vector>

#include "frame/Handle.h"
#include "frame/RegKey.h"
#include "tests/e2e/ServedRunTest.h"
#include "tests/fixtures/holder/HeldFile.h"
#include "tests/support/CatalogueCabinet.h"
#include "tests/support/PlayedUser.h"
#include "tests/support/UnixLinks.h"

namespace e2e {
namespace uninstall {

using namespace testing_support;
using Lines = std::vector<std::string>;

constexpr char kCaptionUninstall[] = "PelloryManager Uninstall";
constexpr char kCaptionWebInstall[] = "PelloryManager WebInstall";
constexpr char kCaptionUpdate[] = "PelloryManager Components Update";
constexpr char kConfirm[] = "Are you sure you want to uninstall PelloryManager?";
constexpr char kManagerRunning[] =
    "PelloryManager is running. Uninstall must close PelloryManager to remove it. Press OK to "
    "close PelloryManager.";
constexpr char kAudioQuestion[] = "Do you want to remove all your Pellory audio files?";
constexpr char kCancelQuestion[] = "Are you sure you want to cancel Uninstall?";
constexpr char kDone[] = "PelloryManager has been successfully uninstalled.";
constexpr char kRestartQuestion[] =
    "Uninstall has removed PelloryManager software from your computer. To complete uninstall "
    "you must reboot your system. Do you want to reboot your computer now?";
constexpr char kProgressTitle[] = "Uninstalling PelloryManager";
constexpr int kExitRequestText = 1226;  // only the download manager's exit request has it
constexpr int kFailed = -1;

constexpr char kSharedDlls[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDlls";
constexpr char kCodecsKey[] = "Software\\PelloryE2ECodecs";
constexpr char kUserFolder[] = "C:\\PelloryE2EUser\\";  // the user's, outside the installation
constexpr char kMozillaKey[] = "SOFTWARE\\Mozilla";
constexpr char kMozillaOrgKey[] = "SOFTWARE\\mozilla.org";
// The media player plug-in's class, which the uninstaller unregisters late.
constexpr char kPlayerPluginClass[] = "CLSID\\{5A1E7C30-2B94-4F61-9D3A-7C20E4B1F958}";
// Where the uninstaller's copies of itself live: folders of their own in the
// temporary folder.
constexpr char kCopyFolderPrefix[] = "Pellory Uninstall ";
// Browsers installed for the machine, where only administrators can write.
constexpr char kMachineBrowsers[] = "C:\\Program Files\\PelloryE2E Browsers\\";

inline std::string Inf(const Lines& lines) { return InfText(lines); }

// A file of the program's system folder, where it lies on the disk.
inline std::string SystemFile(const std::string& name) { return ProgramSystemFolder() + name; }
// The same file as the program names it (its SharedDlls value's name).
inline std::string SystemFileName(const std::string& name) { return SystemFolderName() + name; }

inline std::string ShellFolder(int csidl) {
  char path[MAX_PATH] = "";
  ::SHGetFolderPathA(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path);
  return path;
}

inline std::string TempFolder() {
  char temp[MAX_PATH] = "";
  ::GetTempPathA(MAX_PATH, temp);
  return temp;
}

inline size_t Count(const std::string& haystack, const std::string& needle) {
  size_t count = 0;
  for (size_t at = haystack.find(needle); at != std::string::npos;
       at = haystack.find(needle, at + 1))
    ++count;
  return count;
}

inline void MakeFiles(const std::string& root, const Lines& entries) {
  for (const std::string& entry : entries) {
    if (entry.back() == '\\')
      ::SHCreateDirectoryExA(nullptr, (root + entry).c_str(), nullptr);
    else
      ASSERT_TRUE(WriteFileBytes(root + entry, "user data " + entry)) << entry;
  }
}

// Every file and folder below `folder` (folders with a backslash), sorted.
inline Lines TreeOf(const std::string& folder, const std::string& below = "") {
  Lines entries;
  WIN32_FIND_DATAA found = {};
  frame::ScopedFind find(::FindFirstFileA((folder + below + "*").c_str(), &found));
  if (!find) return entries;
  do {
    const std::string name = found.cFileName;
    if (name == "." || name == "..") continue;
    const bool isFolder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    entries.push_back(below + name + (isFolder ? "\\" : ""));
    if (isFolder && !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
      for (const std::string& inner : TreeOf(folder, below + name + "\\")) entries.push_back(inner);
  } while (::FindNextFileA(find.get(), &found));
  std::sort(entries.begin(), entries.end());
  return entries;
}

// A SharedDlls count, or what it is instead.
inline std::string SharedCount(const std::string& path) {
  frame::RegKey key;
  if (key.Open(HKEY_LOCAL_MACHINE, kSharedDlls, KEY_READ | ProgramRegistryView()) != ERROR_SUCCESS)
    return "<no key>";
  DWORD number = 0;
  return key.QueryDword(path, number) == ERROR_SUCCESS ? std::to_string(number) : "<no DWORD>";
}

// How often a file's name stands in the deletions waiting for the next start
// of Windows.
inline size_t PendingDeletionsOf(const std::string& name) {
  frame::RegKey key;
  if (key.Open(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Session Manager") !=
      ERROR_SUCCESS)
    return 0;
  DWORD size = 0;
  if (::RegQueryValueExA(key.get(), "PendingFileRenameOperations", nullptr, nullptr, nullptr,
                         &size) != ERROR_SUCCESS)
    return 0;
  std::string bytes(size, '\0');
  if (::RegQueryValueExA(key.get(), "PendingFileRenameOperations", nullptr, nullptr,
                         reinterpret_cast<BYTE*>(&bytes[0]), &size) != ERROR_SUCCESS)
    return 0;
  return Count(bytes, name);
}

// True when the uninstaller's progress window exists and is off the screen,
// or goes off it within a second (its thread may still be at its messages).
inline bool ProgressHidden(DWORD processId) {
  const std::vector<HWND> windows = ui::FindWindows({kProgressTitle, "#32770", processId, false});
  if (windows.size() != 1) return false;
  for (int tries = 0; tries < 50 && ::IsWindowVisible(windows[0]); ++tries) ::Sleep(20);
  return !::IsWindowVisible(windows[0]);
}

// Answers the next box with `button` once it says `text`; what it said.
inline std::string Answer(DWORD processId, const std::string& text, int button,
                   const std::string& caption = kCaptionUninstall) {
  SeenBox box = WaitBox(processId);
  EXPECT_NE(box.window, nullptr) << "no box where '" << text << "' was due";
  if (!box.window) return "<no box>";
  EXPECT_EQ(box.text, text);
  EXPECT_EQ(box.caption, caption);
  ui::PressButton(box.window, button);
  ui::WaitForWindowGone(box.window);
  return box.text;
}

// Answers the audio question, then watches the progress window until it is
// gone or the next box comes: true when it was on screen again meanwhile.
inline bool AnswerAudioQuestion(DWORD processId, int button, const std::string& caption) {
  SeenBox box = WaitBox(processId);
  EXPECT_EQ(box.text, kAudioQuestion);
  EXPECT_EQ(box.caption, caption);
  if (!box.window) return false;
  EXPECT_TRUE(ProgressHidden(processId)) << "no hidden progress window during the question";
  const std::vector<HWND> windows = ui::FindWindows({kProgressTitle, "#32770", processId, false});
  ui::PressButton(box.window, button);
  if (windows.empty()) return false;
  const DWORD start = ::GetTickCount();
  while (::IsWindow(windows[0]) && ::GetTickCount() - start < Patience(60000)) {
    if (::IsWindowVisible(windows[0])) return true;
    for (HWND window : ui::FindWindows({"", "#32770", processId}))
      if (window != box.window && ::GetDlgItem(window, 0xFFFF)) return false;
    ::Sleep(2);
  }
  return false;
}

class UninstallE2E : public ServedRunTest {
 protected:
  void SetUp() override {
    RemoveUserTraces();
    ServedRunTest::SetUp();
  }
  void TearDown() override {
    if (uninstaller_) {
      if (::WaitForSingleObject(uninstaller_.get(), 20000) != WAIT_OBJECT_0)
        ::TerminateProcess(uninstaller_.get(), 3);
      uninstaller_.reset();
    }
    RemoveFolderLink(install_.Dir() + "Admin\\Shelf");
    if (browserStop_) ::SetEvent(browserStop_.get());
    WaitNoProcessNamed("CHROME.EXE", 10000);
    ::SetEnvironmentVariableA("FAKE_BROWSER_RECORDS", nullptr);
    ::SetEnvironmentVariableA("FAKE_BROWSER_STOP", nullptr);
    ServedRunTest::TearDown();
    RemoveUserTraces();
  }

  void RemoveUserTraces() {
    RemoveTree(kUserFolder);
    RemoveTree(DocumentsDir() + "\\PelloryE2E Audio");
    RemoveTree(TempFolder() + "PM Install1.INF");
    RegDeleteTree(HKEY_LOCAL_MACHINE, kCodecsKey);
    RegDeleteTree(HKEY_CURRENT_USER, kPelloryKey);
    for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY})
      for (const char* key : {kMozillaKey, kMozillaOrgKey}) {
        frame::RegKey software;
        if (software.Open(HKEY_LOCAL_MACHINE, "SOFTWARE", KEY_READ | KEY_WRITE | view) ==
            ERROR_SUCCESS)
          software.DeleteSubKeyTree(std::string(key).substr(sizeof("SOFTWARE")));
      }
    RemoveTree(ShellFolder(CSIDL_APPDATA) + "\\Mozilla");
    RemoveTree(ShellFolder(CSIDL_PROGRAMS) + "\\PelloryE2E");
    ::DeleteFileA((ShellFolder(CSIDL_DESKTOPDIRECTORY) + "\\PelloryE2E.lnk").c_str());
    frame::RegKey shared;
    if (shared.Open(HKEY_LOCAL_MACHINE, kSharedDlls, KEY_SET_VALUE | ProgramRegistryView()) ==
        ERROR_SUCCESS)
      for (const char* name : {"PelloryE2ESys.dll", "PelloryE2EZero.dll"})
        shared.DeleteValue(SystemFileName(name));
    RegDeleteTree(HKEY_CLASSES_ROOT, kPlayerPluginClass);
    RemoveTree(kMachineBrowsers);
    for (const std::string& copy : CopyFolders()) RemoveTree(TempFolder() + copy);
    for (const char* name : {"PelloryE2ESys.dll", "PelloryE2EZero.dll", "plrdscdc.ax"})
      ::DeleteFileA(SystemFile(name).c_str());
  }

  void WriteCatalogue(const Lines& lines) {
    ASSERT_TRUE(WriteFileBytes(install_.Bin() + "PM Install1.INF", Inf(lines)));
  }

  // A laid-out installation with audio files, program data and a plug-in; its
  // catalogue copy lists the manager, a file deep in Data\ and itself.
  void LayOut() {
    ASSERT_NO_FATAL_FAILURE(MakeFiles(
        install_.Dir(),
        {"Bin\\Content.plr", "Bin\\Plugins\\", "Bin\\Plugins\\Reader.dll", "Admin\\",
         "Admin\\state.dat", "Audio\\", "Audio\\book.plw", "Audio\\Part 2\\",
         "Audio\\Part 2\\book.plx", "Data\\", "Data\\Deep\\", "Data\\Deep\\Deeper\\",
         "Data\\Deep\\Deeper\\Chapter.txt", "Data\\manager.log"}));
    WriteCatalogue({"[Components]", "Player=1,0,0,0", "[Player]", "SourceDisksFiles=Player Files",
                    "[Player Files]", "1=Manager.exe", "2=Chapter.txt",
                    "[Manager.exe]", "File=p.cab", "FileVersion=1,0,0,0", "DestDir=Bin",
                    "[Chapter.txt]", "File=p.cab", "FileVersion=1,0,0,0",
                    "DestDir=Data\\Deep\\Deeper", "[Uninstall]", "File1=PM Install1.INF",
                    "[PM Install1.INF]", "DestDir=Bin"});
  }

  // The folders of the uninstaller's copies now in the temporary folder.
  static Lines CopyFolders() {
    Lines folders;
    for (const std::string& entry : TreeOf(TempFolder()))
      if (entry.rfind(kCopyFolderPrefix, 0) == 0 && entry.back() == '\\' &&
          std::count(entry.begin(), entry.end(), '\\') == 1)
        folders.push_back(entry);
    return folders;
  }

  // "Bin\Upgrade.exe /Uninstall" as the uninstall entry starts it (or the
  // same file by another path): the first process ends with 0 once its copy,
  // in a folder of its own in the temporary folder, runs; the copy is the
  // uninstaller watched from then on, and its log is beside it.
  void StartFromBin(const std::string& currentDir = "", std::string program = "") {
    if (program.empty()) program = install_.InstalledUpgrade();
    ChildProcess first;
    ASSERT_TRUE(first.Start(program, "/Uninstall", currentDir));
    ASSERT_EQ(AsInt(first.Wait()), 0);
    const DWORD start = ::GetTickCount();
    while (!uninstaller_ && ::GetTickCount() - start < Patience(20000)) {
      for (DWORD id : ProcessIdsNamed("Upgrade.exe", first.Id()))
        if (!uninstaller_) Watch(id);
      if (!uninstaller_) ::Sleep(50);
    }
    ASSERT_TRUE(uninstaller_) << "no copy of the uninstaller runs";
    char image[MAX_PATH] = "";
    DWORD length = MAX_PATH;
    ASSERT_TRUE(::QueryFullProcessImageNameA(uninstaller_.get(), 0, image, &length));
    copy_ = image;
    const std::string folder = copy_.substr(0, copy_.find_last_of('\\') + 1);
    EXPECT_EQ(folder.rfind(TempFolder() + kCopyFolderPrefix, 0), 0u) << copy_;
    EXPECT_EQ(copy_.substr(folder.size()), "Upgrade.exe");
    logPath_ = folder + "Update.log";
  }

  // A copy of a fixture browser installed for the machine.
  std::string MachineBrowser(const std::string& name) {
    ::SHCreateDirectoryExA(nullptr, kMachineBrowsers, nullptr);
    const std::string path = kMachineBrowsers + name;
    EXPECT_TRUE(::CopyFileA(FixturePath("browsers\\" + name).c_str(), path.c_str(), FALSE));
    return path;
  }

  // A copy of the program outside the installation, started directly (so
  // that switches besides "/Uninstall" reach the uninstaller).
  void StartElsewhere(const std::string& args, const std::string& currentDir = "") {
    const std::string exe = elsewhere_.Path() + "Upgrade.exe";
    ASSERT_TRUE(::CopyFileA(BuiltUpgradeExe().c_str(), exe.c_str(), FALSE));
    ASSERT_TRUE(direct_.Start(exe, args, currentDir));
    logPath_ = elsewhere_.Path() + "Update.log";
    Watch(direct_.Id());
    ASSERT_TRUE(uninstaller_);
  }

  void Watch(DWORD processId) {
    uninstaller_.reset(::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_TERMINATE,
                                     FALSE, processId));
    processId_ = processId;
  }

  int UninstallerExit(DWORD timeoutMs = 60000) {
    if (!uninstaller_ ||
        ::WaitForSingleObject(uninstaller_.get(), Patience(timeoutMs)) != WAIT_OBJECT_0)
      return static_cast<int>(STILL_ACTIVE);
    DWORD code = STILL_ACTIVE;
    ::GetExitCodeProcess(uninstaller_.get(), &code);
    return AsInt(code);
  }

  std::string UninstallLog() const { return FileContent(logPath_); }

  // A running browser of the fixtures, recording into a folder of the test.
  void StartBrowser(ChildProcess& browser, const std::string& path) {
    browserStop_.reset(::CreateEventA(nullptr, TRUE, FALSE, "PelloryE2EBrowserStop"));
    ::SetEnvironmentVariableA("FAKE_BROWSER_RECORDS", records_.Path().c_str());
    ::SetEnvironmentVariableA("FAKE_BROWSER_STOP", "PelloryE2EBrowserStop");
    ASSERT_TRUE(browser.Start(path, ""));
    for (int tries = 0; tries < 200 && !FileExists(records_.Path() + "CHROME.EXE.cmdline"); ++tries)
      ::Sleep(50);
    ASSERT_TRUE(FileExists(records_.Path() + "CHROME.EXE.cmdline"));
  }

  // Firefox before version 3, installed and not running, with a profile
  // whose cookies.txt holds a cookie of the cookie site and one of another.
  // It is a 64-bit Firefox: it registers in the system's own registry view,
  // which a 32-bit uninstaller must look into.
  std::string InstallFirefoxWithCookies() {
    const auto write = [](const std::string& path, const char* name, const std::string& value) {
      frame::RegKey key;
      ASSERT_EQ(key.Create(HKEY_LOCAL_MACHINE, path, KEY_READ | KEY_WRITE | KEY_WOW64_64KEY),
                ERROR_SUCCESS);
      ASSERT_EQ(key.SetString(name, value), ERROR_SUCCESS);
    };
    write(std::string(kMozillaKey) + "\\Mozilla Firefox\\2.0.0.14 (en-US)\\Main", "PathToExe",
          FixturePath("browsers\\FIREFOX.EXE"));
    write(std::string(kMozillaOrgKey) + "\\Mozilla", "CurrentVersion", "1.8.1.14");
    const std::string profile =
        ShellFolder(CSIDL_APPDATA) + "\\Mozilla\\Firefox\\Profiles\\e2e.default\\";
    ::SHCreateDirectoryExA(nullptr, profile.c_str(), nullptr);
    WriteFileBytes(profile + "cookies.txt",
                   "# HTTP Cookie File\n"
                   "cookies.pellory.test\tFALSE\t/\tFALSE\t1999999999\tPM\t4711\n"
                   "other.test\tFALSE\t/\tFALSE\t1999999999\tPM\tkeep\n");
    return profile + "cookies.txt";
  }

  frame::ScopedHandle uninstaller_;
  DWORD processId_ = 0;
  ChildProcess direct_;
  std::string logPath_;
  std::string copy_;  // the uninstaller's copy of itself, when it made one
  ScratchDir elsewhere_{"unin"};
  ScratchDir records_{"browsers"};
  frame::ScopedHandle browserStop_;
};

}  // namespace uninstall
}  // namespace e2e
