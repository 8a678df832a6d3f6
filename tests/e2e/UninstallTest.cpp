// The uninstaller as users meet it: the real Upgrade.exe started with
// "/Uninstall" from the installed "Bin\" (it moves to the temporary folder
// and runs from there) or from elsewhere, its questions answered through the
// UI driver, and then what is left on the disk, in the registry and in its
// log. The biggest case uninstalls what a served Setup run installed.
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
namespace {

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

std::string Inf(const Lines& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

std::string SystemFile(const std::string& name) {
  char folder[MAX_PATH] = "";
  ::GetSystemDirectoryA(folder, MAX_PATH);
  return std::string(folder) + "\\" + name;
}

std::string ShellFolder(int csidl) {
  char path[MAX_PATH] = "";
  ::SHGetFolderPathA(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path);
  return path;
}

std::string TempFolder() {
  char temp[MAX_PATH] = "";
  ::GetTempPathA(MAX_PATH, temp);
  return temp;
}

size_t Count(const std::string& haystack, const std::string& needle) {
  size_t count = 0;
  for (size_t at = haystack.find(needle); at != std::string::npos;
       at = haystack.find(needle, at + 1))
    ++count;
  return count;
}

void MakeFiles(const std::string& root, const Lines& entries) {
  for (const std::string& entry : entries) {
    if (entry.back() == '\\')
      ::SHCreateDirectoryExA(nullptr, (root + entry).c_str(), nullptr);
    else
      ASSERT_TRUE(WriteFileBytes(root + entry, "user data " + entry)) << entry;
  }
}

// Every file and folder below `folder` (folders with a backslash), sorted.
Lines TreeOf(const std::string& folder, const std::string& below = "") {
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
std::string SharedCount(const std::string& path) {
  frame::RegKey key;
  if (key.Open(HKEY_LOCAL_MACHINE, kSharedDlls) != ERROR_SUCCESS) return "<no key>";
  DWORD number = 0;
  return key.QueryDword(path, number) == ERROR_SUCCESS ? std::to_string(number) : "<no DWORD>";
}

// How often a file's name stands in the deletions waiting for the next start
// of Windows.
size_t PendingDeletionsOf(const std::string& name) {
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
bool ProgressHidden(DWORD processId) {
  const std::vector<HWND> windows = ui::FindWindows({kProgressTitle, "#32770", processId, false});
  if (windows.size() != 1) return false;
  for (int tries = 0; tries < 50 && ::IsWindowVisible(windows[0]); ++tries) ::Sleep(20);
  return !::IsWindowVisible(windows[0]);
}

// The uninstaller's message box now on screen (a #32770 window with the text
// control 0xFFFF), or an empty one after the time.
SeenBox WaitBox(DWORD processId, DWORD timeoutMs = 30000) {
  SeenBox box;
  const DWORD start = ::GetTickCount();
  do {
    // A box still being made, or being taken down, has no text.
    for (HWND window : ui::FindWindows({"", "#32770", processId}))
      if (::GetDlgItem(window, 0xFFFF) && !ui::MessageBoxText(window).empty()) {
        ui::DialogTexts texts = ui::ReadDialogTexts(window);
        box.window = window;
        box.caption = texts.caption;
        box.text = texts.text;
        return box;
      }
    ::Sleep(50);
  } while (::GetTickCount() - start < timeoutMs);
  return box;
}

// Answers the next box with `button` once it says `text`; what it said.
std::string Answer(DWORD processId, const std::string& text, int button,
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
bool AnswerAudioQuestion(DWORD processId, int button, const std::string& caption) {
  SeenBox box = WaitBox(processId);
  EXPECT_EQ(box.text, kAudioQuestion);
  EXPECT_EQ(box.caption, caption);
  if (!box.window) return false;
  EXPECT_TRUE(ProgressHidden(processId)) << "no hidden progress window during the question";
  const std::vector<HWND> windows = ui::FindWindows({kProgressTitle, "#32770", processId, false});
  ui::PressButton(box.window, button);
  if (windows.empty()) return false;
  const DWORD start = ::GetTickCount();
  while (::IsWindow(windows[0]) && ::GetTickCount() - start < 60000) {
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
    RegDeleteTree(HKEY_LOCAL_MACHINE, kMozillaKey);
    RegDeleteTree(HKEY_LOCAL_MACHINE, kMozillaOrgKey);
    RemoveTree(ShellFolder(CSIDL_APPDATA) + "\\Mozilla");
    RemoveTree(ShellFolder(CSIDL_PROGRAMS) + "\\PelloryE2E");
    ::DeleteFileA((ShellFolder(CSIDL_DESKTOPDIRECTORY) + "\\PelloryE2E.lnk").c_str());
    frame::RegKey shared;
    if (shared.Open(HKEY_LOCAL_MACHINE, kSharedDlls, KEY_SET_VALUE) == ERROR_SUCCESS)
      for (const char* name : {"PelloryE2ESys.dll", "PelloryE2EZero.dll"})
        shared.DeleteValue(SystemFile(name));
    RegDeleteTree(HKEY_CLASSES_ROOT, kPlayerPluginClass);
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

  // "Bin\Upgrade.exe /Uninstall" as the uninstall entry starts it: the first
  // process ends with 0 once its copy in the temporary folder runs; the copy
  // is the uninstaller watched from then on.
  void StartFromBin(const std::string& currentDir = "") {
    ChildProcess first;
    ASSERT_TRUE(first.Start(install_.InstalledUpgrade(), "/Uninstall", currentDir));
    ASSERT_EQ(AsInt(first.Wait()), 0);
    logPath_ = TempFolder() + "Update.log";
    const DWORD start = ::GetTickCount();
    while (!uninstaller_ && ::GetTickCount() - start < 20000) {
      for (DWORD id : ProcessIdsNamed("Upgrade.exe", first.Id()))
        if (!uninstaller_) Watch(id);
      if (!uninstaller_) ::Sleep(50);
    }
    ASSERT_TRUE(uninstaller_) << "no copy of the uninstaller runs";
    EXPECT_TRUE(FileExists(TempFolder() + "Upgrade.exe"));
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
    if (!uninstaller_ || ::WaitForSingleObject(uninstaller_.get(), timeoutMs) != WAIT_OBJECT_0)
      return static_cast<int>(STILL_ACTIVE);
    DWORD code = STILL_ACTIVE;
    ::GetExitCodeProcess(uninstaller_.get(), &code);
    return AsInt(code);
  }

  std::string UninstallLog() const { return FileContent(logPath_); }

  // A running browser of the fixtures, recording into a folder of the test.
  void StartBrowser(ChildProcess& browser) {
    browserStop_.reset(::CreateEventA(nullptr, TRUE, FALSE, "PelloryE2EBrowserStop"));
    ::SetEnvironmentVariableA("FAKE_BROWSER_RECORDS", records_.Path().c_str());
    ::SetEnvironmentVariableA("FAKE_BROWSER_STOP", "PelloryE2EBrowserStop");
    ASSERT_TRUE(browser.Start(FixturePath("browsers\\CHROME.EXE"), ""));
    for (int tries = 0; tries < 200 && !FileExists(records_.Path() + "CHROME.EXE.cmdline"); ++tries)
      ::Sleep(50);
    ASSERT_TRUE(FileExists(records_.Path() + "CHROME.EXE.cmdline"));
  }

  // Firefox before version 3, installed and not running, with a profile
  // whose cookies.txt holds a cookie of the cookie site and one of another.
  std::string InstallFirefoxWithCookies() {
    RegWriteString(HKEY_LOCAL_MACHINE,
                   std::string(kMozillaKey) + "\\Mozilla Firefox\\2.0.0.14 (en-US)\\Main",
                   "PathToExe", FixturePath("browsers\\FIREFOX.EXE"));
    RegWriteString(HKEY_LOCAL_MACHINE, std::string(kMozillaOrgKey) + "\\Mozilla", "CurrentVersion",
                   "1.8.1.14");
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
  ScratchDir elsewhere_{"unin"};
  ScratchDir records_{"browsers"};
  frame::ScopedHandle browserStop_;
};

// A catalogue whose Setup run puts down files in Bin, Codecs, Hooks and the
// system folder and registry values of its own; its uninstall sections list
// hooks (Hook3 after a gap), files, a folder, shortcuts and a registry line.
Lines ServedCatalogue() {
  return {"[Components]", "Player=1,0,0,0", "Codecs=1,0,0,0",
          "[Player]", "RequiresPMClosed=No", "SourceDisksFiles=Player Files",
          "Add Registry0=HKLM," + std::string(kCodecsKey) + ",Formats,FLG_ADDREG_TYPE_SZ,AAC MP3",
          "Add Registry1=HKLM," + std::string(kCodecsKey) + ",Kept,FLG_ADDREG_TYPE_SZ,stays",
          "[Player Files]", "1=Player.ini", "2=Shared.dat", "3=PelloryE2ESys.dll",
          "4=PelloryE2EZero.dll", "5=UnHook1.exe", "6=UnHook3.exe",
          "[Codecs]", "RequiresPMClosed=No", "SourceDisksFiles=Codecs Files",
          "[Codecs Files]", "1=Shared.dat", "2=AAC.codec",
          "[Player.ini]", "File=player.cab", "FileVersion=1,0,0,0", "DestDir=Bin",
          "[Shared.dat]", "File=player.cab", "FileVersion=1,0,0,0", "DestDir=Bin",
          "[PelloryE2ESys.dll]", "File=player.cab", "FileVersion=1,0,0,0", "DestDir=LDID_SYS",
          "[PelloryE2EZero.dll]", "File=player.cab", "FileVersion=1,0,0,0", "DestDir=LDID_SYS",
          "[UnHook1.exe]", "File=player.cab", "FileVersion=1,0,0,0", "DestDir=Hooks",
          "CmdLine=/uninstall",
          "[UnHook3.exe]", "File=player.cab", "FileVersion=1,0,0,0", "DestDir=Hooks",
          "CmdLine=/third",
          "[AAC.codec]", "File=codecs.cab", "FileVersion=1,0,0,0", "DestDir=Codecs",
          "[Uninstall Hooks]", "Hook1=UnHook1.exe", "Hook3=UnHook3.exe",
          "[Uninstall]", "File1=Shared.dat", "File2=Excluded.txt", "File3=Notes",
          "File4=Manager.exe", "File5=PM Install1.INF",
          "Shortcut1=CSIDL_PROGRAMS,PelloryE2E", "Shortcut2=CSIDL_DESKTOPDIRECTORY,PelloryE2E.lnk",
          "Registry1=HKLM," + std::string(kCodecsKey) + ",Formats",
          "[Excluded.txt]", "DestDir=Bin", "Platform=15",
          "[Notes]", "DestDir=Data",
          "[Manager.exe]", "DestDir=Bin", "[PM Install1.INF]", "DestDir=Bin"};
}

// The whole road: installed by a served Setup run, the manager it started and
// the download manager running, uninstalled from "Bin\" with Yes to the audio
// question while "Bin\Content.plr" is in use, and "PelloryProgramsDir" set to
// the root of the drive.
TEST_F(UninstallE2E, FromBinRemovesWhatTheInstallPutDownAndNothingOfTheUsers) {
  std::string hook;
  ASSERT_TRUE(ReadFileBytes(FixturePath("Hook.exe"), hook));
  server_.Serve(kCataloguePath, CabinetBytes({{"PM Install1.INF", Inf(ServedCatalogue())}}));
  server_.Serve("/PM50/Quoma/player.cab",
                CabinetBytes({{"Player.ini", "[Player]\r\n"}, {"Shared.dat", "shared"},
                              {"PelloryE2ESys.dll", "system"}, {"PelloryE2EZero.dll", "zero"},
                              {"UnHook1.exe", hook}, {"UnHook3.exe", hook}}));
  server_.Serve("/PM50/Quoma/codecs.cab", CabinetBytes({{"AAC.codec", "aac"}}));
  ASSERT_EQ(AsInt(RunUpgrade(install_.InstalledUpgrade(), "/Setup /q " + UrlSwitch(), 90000)), 0);
  const std::string dir = install_.Dir(), bin = install_.Bin();
  for (const std::string& file : {bin + "Player.ini", bin + "Shared.dat", dir + "Codecs\\AAC.codec",
                                  dir + "Hooks\\UnHook1.exe", SystemFile("PelloryE2ESys.dll")})
    ASSERT_TRUE(FileExists(file)) << file << " was not installed";
  std::string value;
  ASSERT_TRUE(RegReadString(HKEY_LOCAL_MACHINE, kCodecsKey, "Formats", value));

  // What the user, other installers and the manager's own runs added.
  frame::RegKey shared;
  ASSERT_EQ(shared.Create(HKEY_LOCAL_MACHINE, kSharedDlls), ERROR_SUCCESS);
  ASSERT_EQ(shared.SetDword(SystemFile("PelloryE2ESys.dll"), 3), ERROR_SUCCESS);
  ASSERT_EQ(shared.SetDword(SystemFile("PelloryE2EZero.dll"), 0), ERROR_SUCCESS);
  shared.Close();
  ASSERT_NO_FATAL_FAILURE(MakeFiles(
      dir, {"Bin\\Content.plr", "Bin\\Excluded.txt", "Bin\\Plugins\\", "Bin\\Plugins\\Reader.dll",
            "Admin\\", "Admin\\state.dat", "Admin\\Old\\", "Admin\\Old\\x.log", "Audio\\",
            "Audio\\book.plw", "Audio\\Part 2\\", "Audio\\Part 2\\book.plx", "Data\\",
            "Data\\Notes\\", "Data\\Notes\\mine.txt", "Data\\manager.log", "Music\\",
            "Music\\mine.mp3"}));
  ASSERT_NO_FATAL_FAILURE(MakeFiles(kUserFolder, {"Linked\\", "Linked\\song.plw",
                                                  "Linked\\letter.txt", "song.plw", "talk.plx"}));
  ASSERT_TRUE(MakeFolderLink(dir + "Admin\\Shelf", std::string(kUserFolder) + "Linked"));
  const std::string programs = ShellFolder(CSIDL_PROGRAMS);
  ASSERT_NO_FATAL_FAILURE(MakeFiles(programs + "\\", {"PelloryE2E\\", "PelloryE2E\\Manager.lnk"}));
  ASSERT_TRUE(WriteFileBytes(ShellFolder(CSIDL_DESKTOPDIRECTORY) + "\\PelloryE2E.lnk", "link"));
  ASSERT_TRUE(RegWriteString(HKEY_LOCAL_MACHINE, kPelloryKey, "PelloryProgramsDir", "C:\\"));
  for (const char* subkey : {"\\GIDMAP", "\\Player\\Deep"})
    ASSERT_TRUE(RegWriteString(HKEY_LOCAL_MACHINE, kPelloryKey + std::string(subkey), "v", "x"));
  // The player plug-in, which goes after the settings and before the
  // program's keys: its unregistration runs the snapshot program.
  ScratchDir plugIn("plugin");
  const std::string snapshot = plugIn.Path() + "PlayerPlugIn.exe";
  ASSERT_TRUE(::CopyFileA(FixturePath("RegistrySnapshot.exe").c_str(), snapshot.c_str(), FALSE));
  ASSERT_TRUE(RegWriteString(HKEY_CLASSES_ROOT,
                             std::string(kPlayerPluginClass) + "\\InprocServer32", "", snapshot));
  ASSERT_TRUE(RegWriteString(HKEY_CURRENT_USER, kPelloryKey, "Volume", "7"));
  ASSERT_TRUE(RegKeyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
  HeldFile player;  // the manager's player holds its content file
  ASSERT_TRUE(player.Hold(bin + "Content.plr"));
  ui::WindowQuery managerWindow;
  managerWindow.className = "PelloryWndClass";
  ASSERT_NE(ui::WaitForWindow(managerWindow), nullptr) << "the Setup run did not start the manager";
  ScratchDir downloads("dm");
  RunningFixture downloadManager;
  ASSERT_TRUE(
      downloadManager.Start("DownloadManager.exe", downloads.Path(), "DownloadManager.exe"));

  ASSERT_NO_FATAL_FAILURE(StartFromBin());
  Answer(processId_, kConfirm, IDYES);
  ASSERT_NE(WaitBox(processId_).window, nullptr);
  EXPECT_TRUE(ProgressHidden(processId_)) << "the progress window stays up over the close prompt";
  Answer(processId_, kManagerRunning, IDOK);
  EXPECT_TRUE(AnswerAudioQuestion(processId_, IDYES, kCaptionUninstall))
      << "the progress window did not come back after the question";
  Answer(processId_, kRestartQuestion, IDNO);
  EXPECT_EQ(UninstallerExit(), 0);
  EXPECT_TRUE(WaitNoProcessNamed("Manager.exe", 10000)) << "the manager was not closed";
  EXPECT_TRUE(downloadManager.Ended()) << "the download manager was not closed";
  const std::string log = UninstallLog();

  // Hooks: Hook1 ran with its command line, Hook3 behind the gap never did.
  EXPECT_EQ(FileContent(dir + "Hooks\\UnHook1.exe.runs"),
            "\"" + dir + "Hooks\\UnHook1.exe\" /uninstall\r\n");
  EXPECT_FALSE(FileExists(dir + "Hooks\\UnHook3.exe.runs"));
  // The file of two components and of the list went once.
  EXPECT_FALSE(FileExists(bin + "Shared.dat"));
  EXPECT_EQ(Count(log, "Successfully deleted file '" + bin + "Shared.dat' marked for deleting."),
            1u) << log;
  for (const std::string& gone :
       {bin + "Player.ini", bin + "Manager.exe", bin + "PM Install1.INF", bin + "Upgrade.exe",
        bin + "Update.log", dir + "Codecs\\AAC.codec", dir + "Hooks\\UnHook1.exe",
        dir + "Audio\\book.plw", dir + "Audio\\Part 2\\book.plx", dir + "Data\\manager.log",
        dir + "Admin\\state.dat", dir + "Admin\\Old\\x.log"})
    EXPECT_FALSE(FileExists(gone)) << gone;
  EXPECT_FALSE(DirExists(bin + "Plugins"));
  EXPECT_FALSE(FileExists(UserLogPath())) << "the logs folder keeps a log";
  // Shared system files stay; a count goes down by one, a count at 0 stays 0.
  for (const auto& count :
       {std::make_pair("PelloryE2ESys.dll", 2u), std::make_pair("PelloryE2EZero.dll", 0u)}) {
    EXPECT_TRUE(FileExists(SystemFile(count.first))) << count.first;
    EXPECT_EQ(SharedCount(SystemFile(count.first)), std::to_string(count.second)) << count.first;
  }
  // Left alone: a file the platform excludes, a listed folder that holds a
  // file, the user's own folders, and everything behind the link in "Admin".
  EXPECT_TRUE(FileExists(bin + "Excluded.txt"));
  EXPECT_TRUE(FileExists(dir + "Data\\Notes\\mine.txt"));
  EXPECT_NE(log.find("Deleteting recursively directory '" + dir + "Data\\Notes'"),
            std::string::npos);
  EXPECT_TRUE(FileExists(dir + "Music\\mine.mp3"));
  EXPECT_EQ(TreeOf(kUserFolder), (Lines{"Linked\\", "Linked\\letter.txt", "Linked\\song.plw",
                                        "song.plw", "talk.plx"}))
      << "the user's files outside the installation";
  EXPECT_NE(log.find("The registry entry 'PelloryProgramsDir' does not name a folder below a "
                     "drive: 'C:\\'\r\n"), std::string::npos) << log;
  // Windows removes the link itself; Wine cannot, and says so.
  const std::string link = dir + "Admin\\Shelf";
  EXPECT_TRUE(!DirExists(link) ||
              log.find("Cannot remove link " + link + ". Error ") != std::string::npos)
      << log;
  // The content file waits for the restart.
  EXPECT_TRUE(FileExists(bin + "Content.plr"));
  // Shortcuts, registry lines, the program's keys and the uninstall entry.
  EXPECT_FALSE(DirExists(programs + "\\PelloryE2E"));
  EXPECT_TRUE(DirExists(programs));
  EXPECT_FALSE(FileExists(ShellFolder(CSIDL_DESKTOPDIRECTORY) + "\\PelloryE2E.lnk"));
  EXPECT_FALSE(RegReadString(HKEY_LOCAL_MACHINE, kCodecsKey, "Formats", value));
  EXPECT_TRUE(RegReadString(HKEY_LOCAL_MACHINE, kCodecsKey, "Kept", value));
  EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, kPelloryKey)) << "GIDMAP or another key stayed";
  EXPECT_FALSE(RegKeyExists(HKEY_CURRENT_USER, kPelloryKey));
  EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
  // Between emptying the product key and deleting it, only the group maps were there.
  EXPECT_EQ(FileContent(snapshot + ".keys"), "keys: GIDMAP\r\nvalues:\r\n");
  EXPECT_FALSE(FileExists(snapshot)) << "the plug-in stayed";
  EXPECT_FALSE(FileExists(TempFolder() + "PM Install1.INF")) << "the catalogue copy stayed";

  ASSERT_TRUE(player.Release());
  ASSERT_TRUE(RunRestartProcessing());
  EXPECT_FALSE(FileExists(bin + "Content.plr"));
  EXPECT_FALSE(FileExists(TempFolder() + "Upgrade.exe")) << "the copy did not go at the restart";
}

// Cancelling the wait for the download helper: -1, and nothing removed.
TEST_F(UninstallE2E, CancelledWaitForTheDownloadHelperLeavesEveryFileInPlace) {
  ASSERT_NO_FATAL_FAILURE(LayOut());
  ScratchDir helpers("helper");
  const std::string helper = helpers.Path() + "PelloryDownloadHelper.exe";
  ASSERT_TRUE(::CopyFileA(FixturePath("Hook.exe").c_str(), helper.c_str(), FALSE));
  ChildProcess helperRun;
  ASSERT_TRUE(helperRun.Start(helper, "/sleep:240000"));
  RunningFixture downloadManager;
  ASSERT_TRUE(downloadManager.Start("DownloadManager.exe", helpers.Path(), "DownloadManager.exe"));

  ASSERT_NO_FATAL_FAILURE(StartFromBin());
  const Lines before = TreeOf(install_.Dir());
  Answer(processId_, kConfirm, IDYES);
  HWND request = WaitForDialogWith(processId_, kExitRequestText, 30000);
  ASSERT_NE(request, nullptr) << "no request to exit the download manager";
  EXPECT_TRUE(ProgressHidden(processId_)) << "the progress window stays up over the request";
  EXPECT_TRUE(downloadManager.Ended()) << "the download manager window was not closed first";
  ui::PressButton(request, IDCANCEL);
  Answer(processId_, kCancelQuestion, IDYES, kCaptionUpdate);
  EXPECT_EQ(UninstallerExit(), kFailed);
  EXPECT_TRUE(helperRun.Running());
  EXPECT_EQ(TreeOf(install_.Dir()), before);
  EXPECT_TRUE(RegKeyExists(HKEY_LOCAL_MACHINE, kPelloryKey));
  EXPECT_TRUE(FileExists(install_.Bin() + "Content.plr"));
  helperRun.Kill();
}

// No to the audio question: the audio files stay, program data, logs and
// plug-ins go. A running browser is sent the completion page, Firefox's
// cookies are emptied, and the media filter a player holds makes the run end
// with the restart question.
TEST_F(UninstallE2E, AudioNoKeepsAudioFilesAndALockedFilterAsksForARestart) {
  ASSERT_NO_FATAL_FAILURE(LayOut());
  ASSERT_TRUE(RegWriteString(HKEY_LOCAL_MACHINE, kPelloryKey, "Cookie Url",
                             "http://cookies.pellory.test"));
  const std::string cookies = InstallFirefoxWithCookies();
  ChildProcess chrome;
  ASSERT_NO_FATAL_FAILURE(StartBrowser(chrome));
  const std::string filter = SystemFile("plrdscdc.ax");
  ASSERT_TRUE(::CopyFileA(FixturePath("ComServer.dll").c_str(), filter.c_str(), FALSE));
  HeldFile mediaPlayer;
  ASSERT_TRUE(mediaPlayer.Hold(filter, HeldFile::Sharing::Read));

  ASSERT_NO_FATAL_FAILURE(StartElsewhere("/Uninstall"));
  Answer(processId_, kConfirm, IDYES);
  EXPECT_TRUE(AnswerAudioQuestion(processId_, IDNO, kCaptionUninstall))
      << "the progress window did not come back after the question";
  Answer(processId_, kRestartQuestion, IDNO);
  EXPECT_EQ(UninstallerExit(), 0);

  const std::string dir = install_.Dir();
  for (const std::string& kept : {dir + "Audio\\book.plw", dir + "Audio\\Part 2\\book.plx",
                                  dir + "Bin\\Content.plr"})
    EXPECT_TRUE(FileExists(kept)) << kept;
  EXPECT_FALSE(DirExists(dir + "Admin"));
  EXPECT_FALSE(DirExists(dir + "Bin\\Plugins"));
  EXPECT_FALSE(FileExists(dir + "Data\\manager.log"));
  EXPECT_FALSE(FileExists(dir + "Bin\\Manager.exe"));
  EXPECT_FALSE(FileExists(dir + "Bin\\Upgrade.exe"));

  std::string record;
  for (int tries = 0; tries < 100 && Count(record, "\r\n") < 2; ++tries, ::Sleep(100))
    record = FileContent(records_.Path() + "CHROME.EXE.cmdline");
  const std::string started = "\"" + FixturePath("browsers\\CHROME.EXE") + "\" \"http://";
  EXPECT_NE(record.find("\r\n" + started), std::string::npos) << record;
  EXPECT_NE(record.find("Uninstall\"\r\n"), std::string::npos) << record;
  const std::string jar = FileContent(cookies);
  EXPECT_NE(jar.find("cookies.pellory.test\tFALSE\t/\tFALSE\t1999999999\tPM\t\n"),
            std::string::npos) << jar;
  EXPECT_NE(jar.find("other.test\tFALSE\t/\tFALSE\t1999999999\tPM\tkeep\n"), std::string::npos)
      << jar;

  EXPECT_TRUE(FileExists(filter));
  ASSERT_TRUE(mediaPlayer.Release());
  ASSERT_TRUE(RunRestartProcessing());
  EXPECT_FALSE(FileExists(filter)) << "the filter was not left to the restart";
}

// Started by a shortcut whose working folder is "Bin\" (as the start menu's
// uninstall entry has it): the copy in the temporary folder must not keep
// that folder in use, so an installation with nothing of the user's still
// goes completely.
TEST_F(UninstallE2E, StartedInBinItStillRemovesTheWholeFolder) {
  ASSERT_NO_FATAL_FAILURE(LayOut());

  ASSERT_NO_FATAL_FAILURE(StartFromBin(install_.Bin()));
  Answer(processId_, kConfirm, IDYES);
  AnswerAudioQuestion(processId_, IDYES, kCaptionUninstall);
  Answer(processId_, kDone, IDOK);
  EXPECT_EQ(UninstallerExit(), 0);
  EXPECT_FALSE(DirExists(install_.Dir()))
      << "left: " << ::testing::PrintToString(TreeOf(install_.Dir())) << "\n" << UninstallLog();
}

// Yes to the audio files while "PelloryProgramsDir" names the user's profile:
// a system folder is never searched, so the audio files below it stay; the
// installation's own go.
TEST_F(UninstallE2E, AudioFilesAreNeverSoughtInASystemFolder) {
  ASSERT_NO_FATAL_FAILURE(LayOut());
  const std::string profile = ShellFolder(CSIDL_PROFILE);
  ASSERT_FALSE(profile.empty());
  ASSERT_TRUE(RegWriteString(HKEY_LOCAL_MACHINE, kPelloryKey, "PelloryProgramsDir", profile));
  const std::string audio = DocumentsDir() + "\\PelloryE2E Audio\\";
  ASSERT_EQ(::SHCreateDirectoryExA(nullptr, audio.c_str(), nullptr), ERROR_SUCCESS);
  ASSERT_NO_FATAL_FAILURE(MakeFiles(audio, {"book.plw", "Part 2\\", "Part 2\\book.plx"}));
  ASSERT_NO_FATAL_FAILURE(MakeFiles(install_.Dir(), {"My Notes\\", "My Notes\\todo.txt"}));
  // The shell extension, loaded by the shell: it waits for the restart
  // without asking for one.
  const std::string extension = install_.Bin() + "PelloryExt.dll";
  ASSERT_TRUE(::CopyFileA(FixturePath("ComServer.dll").c_str(), extension.c_str(), FALSE));
  HeldFile shell;
  ASSERT_TRUE(shell.Hold(extension, HeldFile::Sharing::Read));

  ASSERT_NO_FATAL_FAILURE(StartElsewhere("/Uninstall"));
  Answer(processId_, kConfirm, IDYES);
  AnswerAudioQuestion(processId_, IDYES, kCaptionUninstall);
  Answer(processId_, kDone, IDOK);
  EXPECT_EQ(UninstallerExit(), 0);

  EXPECT_EQ(TreeOf(audio), (Lines{"Part 2\\", "Part 2\\book.plx", "book.plw"}));
  EXPECT_FALSE(DirExists(install_.Dir() + "Audio"));
  // The user's own file keeps its folder and the installation folder.
  EXPECT_TRUE(FileExists(install_.Dir() + "My Notes\\todo.txt"));
  EXPECT_TRUE(FileExists(extension));
  EXPECT_EQ(PendingDeletionsOf("\\Bin\\PelloryExt.dll"), 1u);
  const std::string log = UninstallLog();
  EXPECT_NE(log.find("Refusing to search '" + profile), std::string::npos) << log;
}

// The catalogue cannot be copied to the temporary folder (a folder has its
// name there): the error is shown, the run fails and nothing is removed.
TEST_F(UninstallE2E, ACatalogueThatCannotBeCopiedFailsBeforeRemovingAnything) {
  ASSERT_NO_FATAL_FAILURE(LayOut());
  ASSERT_TRUE(::CreateDirectoryA((TempFolder() + "PM Install1.INF").c_str(), nullptr));
  const Lines before = TreeOf(install_.Dir());

  ASSERT_NO_FATAL_FAILURE(StartElsewhere("/Uninstall"));
  Answer(processId_, kConfirm, IDYES);
  SeenBox failed = WaitBox(processId_);
  ASSERT_NE(failed.window, nullptr);
  EXPECT_EQ(failed.caption, "PelloryManager Install");
  EXPECT_EQ(failed.text.rfind("Uninstall failed.", 0), 0u) << failed.text;
  ui::PressButton(failed.window, IDOK);
  EXPECT_EQ(UninstallerExit(), kFailed);
  EXPECT_EQ(TreeOf(install_.Dir()), before);
  EXPECT_TRUE(RegKeyExists(HKEY_LOCAL_MACHINE, kPelloryKey));
  EXPECT_NE(UninstallLog().find("Cannot copy '" + install_.Bin() + "PM Install1.INF' to '"),
            std::string::npos) << UninstallLog();
}

// Setup mode and quiet, started directly: the questions still come (with the
// Setup caption), the progress window stays hidden after the audio question,
// an empty "PelloryProgramsDir" is no folder (not the current one), and an
// installation with nothing of the user's goes completely, its empty
// folders deepest first.
TEST_F(UninstallE2E, QuietSetupKeepsTheWindowHiddenAndRemovesTheWholeFolder) {
  ASSERT_NO_FATAL_FAILURE(LayOut());
  ASSERT_TRUE(RegWriteString(HKEY_LOCAL_MACHINE, kPelloryKey, "PelloryProgramsDir", ""));
  ScratchDir current("cwd");
  ASSERT_NO_FATAL_FAILURE(MakeFiles(current.Path(), {"song.plw", "talk.plx"}));

  ASSERT_NO_FATAL_FAILURE(StartElsewhere("/Uninstall /Setup /q", current.Path()));
  Answer(processId_, kConfirm, IDYES, kCaptionWebInstall);
  EXPECT_FALSE(AnswerAudioQuestion(processId_, IDYES, kCaptionWebInstall))
      << "the progress window came back in a quiet Setup run";
  Answer(processId_, kDone, IDOK, kCaptionWebInstall);
  EXPECT_EQ(UninstallerExit(), 0);

  EXPECT_FALSE(DirExists(install_.Dir()))
      << "left: " << ::testing::PrintToString(TreeOf(install_.Dir())) << "\n" << UninstallLog();
  EXPECT_EQ(TreeOf(current.Path()), (Lines{"song.plw", "talk.plx"}));
  EXPECT_FALSE(DirExists(DocumentsDir() + "\\Pellory")) << "the uninstall made the user folder";
  const std::string log = UninstallLog();
  const std::string data = install_.Dir() + "Data";
  const auto removed = [&log](const std::string& folder) {
    return log.find("Empty directory " + folder + " has been successfully removed");
  };
  const size_t deeper = removed(data + "\\Deep\\Deeper"), deep = removed(data + "\\Deep");
  const size_t top = removed(data);
  EXPECT_NE(top, std::string::npos) << log;
  EXPECT_NE(log.find("Empty directory " + install_.Dir() + " has been successfully removed"),
            std::string::npos) << log;
  EXPECT_LT(deeper, deep) << log;
  EXPECT_LT(deep, top) << log;
}

// Run with LC_ALL=de_DE.UTF-8 (CMakeLists.txt): the questions, the progress
// window and its lines in German (texts in code page 1252).
class UninstallLanguageEnv : public UninstallE2E {};

TEST_F(UninstallLanguageEnv, GermanQuestionsAndProgressWindow) {
  ASSERT_NO_FATAL_FAILURE(LayOut());
  const char kCaption[] = "PelloryManager-Deinstallation";

  ASSERT_NO_FATAL_FAILURE(StartElsewhere("/Uninstall"));
  Answer(processId_, "M\xF6" "chten Sie PelloryManager wirklich deinstallieren?", IDYES, kCaption);
  SeenBox audio = WaitBox(processId_);
  EXPECT_EQ(audio.text, "M\xF6" "chten Sie alle Ihre Pellory-Audiodateien entfernen?");
  EXPECT_EQ(audio.caption, kCaption);
  const std::vector<HWND> windows =
      ui::FindWindows({"PelloryManager wird deinstalliert", "#32770", processId_, false});
  ASSERT_EQ(windows.size(), 1u) << "no progress window with the German title";
  EXPECT_EQ(ui::ControlText(windows[0], 210), "Datei wird gel\xF6scht:");
  if (audio.window) ui::PressButton(audio.window, IDNO);
  ui::WaitForWindowGone(audio.window);
  Answer(processId_, "PelloryManager wurde erfolgreich deinstalliert.", IDOK, kCaption);
  EXPECT_EQ(UninstallerExit(), 0);
}

}  // namespace
}  // namespace e2e
