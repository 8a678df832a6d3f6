#include "tools/demo/DemoUninstall.h"

#include <windows.h>
#include <shlobj.h>

#include <cstdio>
#include <string>
#include <vector>

#include "frame/Handle.h"
#include "frame/RegKey.h"
#include "tests/support/PlayedUser.h"
#include "tests/support/Scratch.h"
#include "tests/support/TestProcess.h"
#include "tests/support/UiDriver.h"
#include "tools/demo/DemoReport.h"
#include "tools/demo/DemoUser.h"

using namespace testing_support;

namespace demo {
namespace {

constexpr int kUninstallStatus = 210;  // progress window 207: status line
constexpr int kUninstallDetail = 211;  // and detail line (the path at work)
const char kHookProgram[] = "PlayerSetup.exe";
const char kBrowserStopEvent[] = "UpgradeDemoBrowserStop";
const char kAssociationKey[] = "Software\\Classes\\.plw";
const char kUserPelloryKey[] = "Software\\Pellory";

// A shell folder with a trailing backslash, or "".
std::string ShellFolder(int csidl) {
  char path[MAX_PATH] = "";
  if (FAILED(::SHGetFolderPathA(nullptr, csidl | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT,
                                path)) ||
      !path[0])
    return std::string();
  return std::string(path) + "\\";
}

// A process the demo did not start itself: the uninstaller's copy in the
// temporary folder. Seen through a handle of its own.
class Watched {
 public:
  bool Open(DWORD id) {
    handle_.reset(::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, id));
    id_ = id;
    return handle_.valid();
  }
  DWORD Id() const { return id_; }
  bool Running() const { return ::WaitForSingleObject(handle_.get(), 0) == WAIT_TIMEOUT; }
  // The exit code, or STILL_ACTIVE after the time-out.
  DWORD Wait(DWORD timeoutMs) {
    if (::WaitForSingleObject(handle_.get(), timeoutMs) != WAIT_OBJECT_0) return STILL_ACTIVE;
    DWORD code = STILL_ACTIVE;
    ::GetExitCodeProcess(handle_.get(), &code);
    return code;
  }
  std::string ImagePath() const {
    char path[MAX_PATH] = "";
    DWORD length = MAX_PATH;
    return ::QueryFullProcessImageNameA(handle_.get(), 0, path, &length) ? std::string(path, length)
                                                                        : std::string();
  }

 private:
  frame::ScopedHandle handle_;
  DWORD id_ = 0;
};

// The progress window 207 of the process, when it is in view.
HWND FindUninstallProgress(DWORD processId) {
  HWND window = FindDialogWith(processId, kUninstallStatus);
  return window && ::GetDlgItem(window, kUninstallDetail) ? window : nullptr;
}

bool MakeFolders(const std::string& path) {
  return ::SHCreateDirectoryExA(nullptr, path.c_str(), nullptr) == ERROR_SUCCESS ||
         DirExists(path);
}

// What a user's machine holds besides the installed components once the
// manager has been used for a while, so that the uninstall has something to
// decide about: downloaded audio files (in the installation and in the audio
// programs folder), the content index, a file of the user's own, the
// shortcuts and the file type the manager's installer made, the manager's
// settings of the user.
struct LivedIn {
  std::string programsDir;
  std::vector<std::string> shortcuts;
};

bool PrepareLivedIn(const std::string& installDir, LivedIn& lived) {
  lived.programsDir = ShellFolder(CSIDL_PERSONAL) + "Pellory\\Audiobooks\\";
  const std::string library = installDir + "Library\\";
  const std::string menu = ShellFolder(CSIDL_PROGRAMS) + "PelloryManager\\";
  lived.shortcuts = {menu + "PelloryManager.lnk", menu + "Uninstall PelloryManager.lnk",
                     ShellFolder(CSIDL_DESKTOPDIRECTORY) + "PelloryManager.lnk"};
  if (!MakeFolders(lived.programsDir) || !MakeFolders(library) || !MakeFolders(menu)) return false;
  const std::vector<std::pair<std::string, std::string>> files = {
      {library + "The Long Way Home.plw", "audio: the book"},
      {library + "The Long Way Home.plx", "audio: its chapters"},
      {installDir + "Bin\\Content.plr", "the manager's content index"},
      {lived.programsDir + "Short Stories.plw", "audio: a book in the audio programs folder"},
      {lived.programsDir + "cover.jpg", "the user's own file"},
  };
  std::printf("Added for the uninstall:\n");
  for (const auto& file : files) {
    if (!WriteFileBytes(file.first, file.second + "\r\n")) return false;
    std::printf("  %-62s %s\n", file.first.c_str(), file.second.c_str());
  }
  for (const std::string& shortcut : lived.shortcuts) {
    if (!WriteFileBytes(shortcut, "(stand-in for a shortcut)\r\n")) return false;
    std::printf("  %-62s a shortcut (a stand-in file)\n", shortcut.c_str());
  }
  // The audio programs folder is where the manager keeps the user's books.
  if (!RegWriteString(HKEY_LOCAL_MACHINE, kPelloryKey, "PelloryProgramsDir", lived.programsDir) ||
      !RegWriteString(HKEY_LOCAL_MACHINE, kAssociationKey, "", "Pellory.Audiobook") ||
      !RegWriteString(HKEY_CURRENT_USER, kUserPelloryKey, "LastBook", "The Long Way Home"))
    return false;
  std::printf("  HKLM\\%s\\PelloryProgramsDir = %s\n", kPelloryKey, lived.programsDir.c_str());
  std::printf("  HKLM\\%s (default) = Pellory.Audiobook\n", kAssociationKey);
  std::printf("  HKCU\\%s\\LastBook = The Long Way Home\n", kUserPelloryKey);
  // The fake manager's record of its start is the demo's, not the product's.
  ::DeleteFileA((installDir + "Bin\\Manager.exe.cmdline").c_str());
  return true;
}

// A browser the user has open while the uninstall runs: the fixture browser
// under the name the uninstaller looks for. It and every copy started from
// it record their command lines in one folder and end on one event.
class RunningBrowser {
 public:
  RunningBrowser() : records_("browser") {}
  ~RunningBrowser() {
    if (!stop_) return;
    ::SetEvent(stop_.get());
    if (process_.Wait(10000) == STILL_ACTIVE) process_.Kill();
    // The copies the uninstaller started end on the same event.
    for (DWORD id : ProcessIdsNamed("SAFARI.EXE")) {
      frame::ScopedHandle copy(::OpenProcess(SYNCHRONIZE, FALSE, id));
      if (copy) ::WaitForSingleObject(copy.get(), 10000);
    }
  }
  RunningBrowser(const RunningBrowser&) = delete;
  RunningBrowser& operator=(const RunningBrowser&) = delete;

  bool Start() {
    stop_.reset(::CreateEventA(nullptr, TRUE, FALSE, kBrowserStopEvent));
    if (!stop_) return false;
    // Inherited by the uninstaller and so by the browsers it starts.
    ::SetEnvironmentVariableA("FAKE_BROWSER_RECORDS", records_.Path().c_str());
    ::SetEnvironmentVariableA("FAKE_BROWSER_STOP", kBrowserStopEvent);
    // Installed for the machine, as browsers are: the uninstaller never
    // starts one that runs from a folder the user can write.
    const std::string folder = "C:\\Program Files\\Safari\\";
    ::CreateDirectoryA(folder.c_str(), nullptr);
    if (!::CopyFileA(FixturePath("browsers\\SAFARI.EXE").c_str(), (folder + "SAFARI.EXE").c_str(),
                     FALSE) ||
        !process_.Start(folder + "SAFARI.EXE", ""))
      return false;
    const DWORD start = ::GetTickCount();
    while (!FileExists(Record()) && ::GetTickCount() - start < 10000) ::Sleep(50);
    return FileExists(Record());
  }
  std::string Record() const { return records_.Path() + "SAFARI.EXE.cmdline"; }

 private:
  ScratchDir records_;
  frame::ScopedHandle stop_;
  ChildProcess process_;
};

void PrintHookRuns(const std::string& installDir) {
  std::string runs;
  if (ReadFileBytes(installDir + kHookProgram + std::string(".runs"), runs))
    std::printf("Hook runs so far (%s.runs):\n%s", kHookProgram, runs.c_str());
  else
    std::printf("(no record of hook runs)\n");
}

// The uninstall as a user goes through it: Yes to the question, OK to close
// the manager, Yes to removing the audio files, OK to the end (No to a
// restart). The progress window is photographed while the uninstall hook
// runs, when it names the hook on its detail line. Returns true when the
// final message came.
template <class Process>
bool PlayUninstallUser(Process& copy, Photographer& camera, const std::string& installDir) {
  bool confirmed = false;
  bool audioAnswered = false;
  bool finalSeen = false;
  bool progressShot = false;
  int messages = 0;
  std::vector<std::string> removalLines;  // the window's lines while it removes
  const DWORD start = ::GetTickCount();
  while (copy.Running() && ::GetTickCount() - start < kRunLimitMs) {
    if (HWND box = FindBox(copy.Id())) {
      const bool question = ::GetDlgItem(box, IDNO) != nullptr;
      if (question && !confirmed) {
        std::printf("Question 65529:\n");
        confirmed = AnswerBox(copy, camera, "uninstall-question", IDYES);
      } else if (question && !audioAnswered) {
        PrintHookRuns(installDir);
        std::printf("Question 104:\n");
        audioAnswered = AnswerBox(copy, camera, "uninstall-audio-question", IDYES);
      } else if (question) {
        std::printf("Restart question 65530:\n");
        finalSeen = AnswerBox(copy, camera, "uninstall-restart-question", IDNO);
      } else if (!audioAnswered && ManagerWindow()) {
        std::printf("Message box 100:\n");
        AnswerBox(copy, camera, "uninstall-manager-running", IDOK);
      } else if (audioAnswered && !finalSeen) {
        std::printf("Final message 5:\n");
        finalSeen = AnswerBox(copy, camera, "uninstall-done", IDOK);
      } else {
        std::printf("Message box:\n");
        AnswerBox(copy, camera, "uninstall-message-" + std::to_string(++messages), IDOK);
      }
      continue;
    }
    if (HWND progress = FindUninstallProgress(copy.Id())) {
      const std::string status = ui::ControlText(progress, kUninstallStatus);
      const std::string detail = ui::ControlText(progress, kUninstallDetail);
      if (!progressShot && detail.find(kHookProgram) != std::string::npos) {
        progressShot = true;
        std::printf("Progress window \"%s\" while the uninstall hook runs:\n  %s\n  %s\n",
                    ui::WindowText(progress).c_str(), status.c_str(), detail.c_str());
        camera.Take(progress, "uninstall-progress");
        continue;
      }
      // A line is caught whole only once its status is set.
      if (audioAnswered && !status.empty()) {
        const std::string line = status + " " + detail;
        if (removalLines.empty() || removalLines.back() != line) removalLines.push_back(line);
      }
    }
    ::Sleep(20);
  }
  if (!removalLines.empty()) {
    std::printf("Progress window lines caught while it removed (it is quick; some pass unseen):\n");
    for (const std::string& line : removalLines) std::printf("  %s\n", line.c_str());
  }
  return finalSeen;
}

// Every file below a folder, or that the folder is gone.
void ListWhatIsLeft(const std::string& dir) {
  std::printf("What is left of %s:\n", dir.c_str());
  if (!DirExists(dir)) {
    std::printf("  (the folder is gone)\n");
    return;
  }
  ListFiles(dir, "");
}

}  // namespace

// Installs by "Bin\Upgrade.exe /Uninstall" as a user starts it, plays the
// user through the copy that runs from the temporary folder and prints what
// is left. True when the uninstall ran to its end.
bool RunUninstall(const Options& options, const std::string& installDir) {
  const std::string bin = installDir + "Bin\\";
  std::printf("\n=== Uninstall ===\n\n");
  ChildProcess manager;
  if (!ManagerWindow()) {
    // The quiet installation leaves the user's manager open; should it not
    // run, it is started, so that the uninstall has it to close.
    if (!manager.Start(bin + "Manager.exe", "") || !WaitForManager(20000)) {
      std::fprintf(stderr, "demo: the manager did not start\n");
      return false;
    }
  }
  std::printf("Manager.exe running\n");
  LivedIn lived;
  if (!PrepareLivedIn(installDir, lived)) {
    std::fprintf(stderr, "demo: cannot prepare the files and keys for the uninstall\n");
    return false;
  }
  RunningBrowser browser;
  if (!browser.Start()) {
    std::fprintf(stderr, "demo: the fixture browser did not start\n");
    return false;
  }
  std::printf("Browser running: SAFARI.EXE (the fixture browser)\n");

  std::printf("Running: \"%sUpgrade.exe\" /Uninstall\n\n", bin.c_str());
  ChildProcess launcher;
  if (!launcher.Start(bin + "Upgrade.exe", "/Uninstall")) {
    std::fprintf(stderr, "demo: cannot start Upgrade.exe\n");
    return false;
  }
  // It copies itself into a folder of its own in the temporary folder,
  // starts the copy and ends.
  const DWORD launcherCode = launcher.Wait(kStepLimitMs);
  if (launcherCode == STILL_ACTIVE) {
    std::printf("Bin\\Upgrade.exe /Uninstall did not end in time and was stopped\n");
    launcher.Kill();
    return false;
  }
  std::printf("Bin\\Upgrade.exe: exit code %d\n", AsInt(launcherCode));
  Watched copy;
  for (const DWORD begin = ::GetTickCount(); !copy.Id() && ::GetTickCount() - begin < 10000;
       ::Sleep(50)) {
    const std::vector<DWORD> ids = ProcessIdsNamed("Upgrade.exe", launcher.Id());
    if (!ids.empty() && !copy.Open(ids.front())) break;
  }
  if (!copy.Id()) {
    std::printf("No copy of Upgrade.exe runs: the uninstall did not go on\n");
    PrintLogTail(bin + "Update.log", 30);
    return false;
  }
  const std::string tempCopy = copy.ImagePath();
  std::printf("The copy runs: %s /Uninstall\n", tempCopy.c_str());

  Photographer camera(options);
  const bool played = PlayUninstallUser(copy, camera, installDir);
  DWORD code = copy.Wait(played ? kRunLimitMs : 5000);
  const bool ended = code != STILL_ACTIVE;
  if (!ended) {
    // The copy is this demo's doing; it is ended by its id.
    frame::ScopedHandle process(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, copy.Id()));
    if (process && ::TerminateProcess(process.get(), 1))
      ::WaitForSingleObject(process.get(), 5000);
  }

  if (ended)
    std::printf("\nExit code of the copy: %d (%s)\n", AsInt(code),
                AsInt(code) == 0    ? "the uninstall ran to its end"
                : AsInt(code) == -1 ? "the user gave up, or the uninstall failed"
                                    : "unexpected");
  else
    std::printf("\nThe copy did not end in time and was stopped\n");
  std::printf("Manager.exe running afterwards: %s\n\n", ManagerWindow() ? "yes" : "no");

  ListWhatIsLeft(installDir);
  std::printf("\n");
  ListWhatIsLeft(lived.programsDir);
  std::printf("\n");
  ListWhatIsLeft(ShellFolder(CSIDL_PERSONAL) + "Pellory\\Logs\\");
  std::printf("\nShortcuts:\n");
  for (const std::string& shortcut : lived.shortcuts)
    std::printf("  %-62s %s\n", shortcut.c_str(), FileExists(shortcut) ? "still there" : "removed");
  std::printf("The copy %s: %s\n\n", tempCopy.c_str(),
              FileExists(tempCopy) ? "still there (deleted at the next start of Windows)"
                                   : "gone");
  PrintKey(HKEY_LOCAL_MACHINE, "HKLM", kPelloryKey);
  PrintKey(HKEY_CURRENT_USER, "HKCU", kUserPelloryKey);
  PrintKey(HKEY_LOCAL_MACHINE, "HKLM", kUninstallKey);
  PrintKey(HKEY_LOCAL_MACHINE, "HKLM", kAssociationKey);

  std::string given;
  ReadFileBytes(browser.Record(), given);
  std::printf("\nThe browser's starts (SAFARI.EXE.cmdline; the first is the demo's):\n%s",
              given.c_str());
  PrintLogTail(tempCopy.substr(0, tempCopy.find_last_of('\\') + 1) + "Update.log", 60);
  return ended && played && launcherCode == 0 && code == 0;
}

}  // namespace demo
