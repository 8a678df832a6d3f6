// The built-in demo: prepares an installation in the current Wine prefix (a
// folder with Bin\Manager.exe and Bin\Upgrade.exe, "PelloryAppDir" pointing at
// it, the manager running), serves a catalogue folder on 127.0.0.1, runs the
// program's main job against it and prints what it did: the exit code, the
// installed files and versions, the registry records, the log's tail.
//
//   DemoRun [--serve DIR] [--interactive] [--uninstall] [--shots DIR] [--tag TAG]
//           [--proxy PORT --proxy-login NAME:PASSWORD] UPGRADE.EXE MANAGER.EXE [switches...]
//
// --interactive plays the user through every dialog (on a Wine virtual
// desktop, so that the skin's caption is on screen); with --shots each dialog
// is photographed: the demo writes NAME-TAG.req (the display and the window's
// rectangle) into DIR and waits for the script that started it to turn it
// into NAME-TAG.png. (A copy of the screen from inside Wine comes out black
// on a virtual desktop, so the picture is taken from the X side.)
//
// --uninstall runs the installation quietly as above, then removes it again
// the way a user does: "Bin\Upgrade.exe /Uninstall", the played user
// answering the questions of the copy that runs from the temporary folder,
// with a fixture browser running; then it prints what is left.
//
// --proxy sets the proxy 127.0.0.1:PORT in the current user's Internet
// Settings, as a user's machine has it, before the program starts; the
// played user types NAME and PASSWORD into the system's credential dialog
// whenever it comes up (the script that started the demo runs the proxy).
#include <windows.h>
#include <shlobj.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "frame/Handle.h"
#include "frame/RegKey.h"
#include "tests/support/HttpServer.h"
#include "tests/support/PlayedUser.h"
#include "tests/support/Scratch.h"
#include "tests/support/TestProcess.h"
#include "tests/support/UiDriver.h"
#include "tools/demo/DemoReport.h"

using namespace testing_support;
using namespace demo;

namespace {

const char kPelloryKey[] = "SOFTWARE\\Pellory";
const char kUninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\PelloryManager";
const char kUpgradeKey[] = "Software\\Pellory\\Upgrade";
const char kCatalogueFolder[] = "/PM50/Quoma/";
const char kCatalogueCabinet[] = "PM_InstallQuoma.cab";
const char kManagerClass[] = "PelloryWndClass";
const char kInternetSettings[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
const char kDesktop[] = "demo";
const char kOnDesktopVariable[] = "UPGRADE_DEMO_DESKTOP";
constexpr UINT kManagerCloseCommand = 57665;
constexpr DWORD kRunLimitMs = 120000;  // one run of the program, at most
constexpr DWORD kStepLimitMs = 30000;  // one dialog to appear, at most

// Dialog controls that tell the windows apart in any language.
constexpr int kBoxText = 0xFFFF;         // every message box
constexpr int kConnectGroup = 219;       // connect dialog
constexpr int kSelectionList = 201;      // selection dialog
constexpr int kProgressBar = 1003;       // progress dialog
constexpr int kCompletionHeadline = 210; // completion window

struct Options {
  std::string serveDir;  // Windows path; empty: no server
  bool interactive = false;
  bool uninstall = false;
  std::string shotsDir;  // Windows path; empty: no pictures
  std::string tag = "en";
  std::string proxyPort;      // empty: no proxy
  std::string proxyName;      // what the played user types into the
  std::string proxyPassword;  // credential dialog
  std::string upgrade;
  std::string manager;
  std::string switches;
};

bool ParseOptions(int argc, char** argv, Options& options) {
  int i = 1;
  for (; i < argc && std::string(argv[i]).rfind("--", 0) == 0; ++i) {
    const std::string name = argv[i];
    if (name == "--interactive") {
      options.interactive = true;
    } else if (name == "--uninstall") {
      options.uninstall = true;
    } else if (i + 1 < argc && name == "--serve") {
      options.serveDir = argv[++i];
    } else if (i + 1 < argc && name == "--shots") {
      options.shotsDir = argv[++i];
    } else if (i + 1 < argc && name == "--tag") {
      options.tag = argv[++i];
    } else if (i + 1 < argc && name == "--proxy") {
      options.proxyPort = argv[++i];
    } else if (i + 1 < argc && name == "--proxy-login") {
      const std::string login = argv[++i];
      const size_t colon = login.find(':');
      if (colon == std::string::npos) return false;
      options.proxyName = login.substr(0, colon);
      options.proxyPassword = login.substr(colon + 1);
    } else {
      return false;
    }
  }
  if (argc - i < 2) return false;
  if (!options.proxyPort.empty() && options.proxyName.empty()) return false;
  options.upgrade = argv[i++];
  options.manager = argv[i++];
  for (; i < argc; ++i) options.switches += (options.switches.empty() ? "" : " ") + std::string(argv[i]);
  return true;
}

// Files of a folder (not below it), by name.
std::vector<std::string> FolderFiles(const std::string& dir) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA found{};
  frame::ScopedFind find(::FindFirstFileA((dir + "\\*").c_str(), &found));
  if (!find) return names;
  do {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(found.cFileName);
  } while (::FindNextFileA(find.get(), &found));
  return names;
}

// Serves every file of the folder below the catalogue's folder. Interactive
// runs get them slowly, so that the connect and progress dialogs stay up
// long enough to be seen.
bool ServeFolder(HttpServer& server, const Options& options) {
  const std::vector<std::string> names = FolderFiles(options.serveDir);
  bool catalogue = false;
  for (const std::string& name : names) {
    HttpRoute route;
    if (!ReadFileBytes(options.serveDir + "\\" + name, route.body)) return false;
    if (options.interactive) {
      route.pieceSize = name == kCatalogueCabinet ? 64 : 2048;
      route.pieceDelayMs = 150;
    }
    catalogue = catalogue || name == kCatalogueCabinet;
    server.SetRoute(kCatalogueFolder + name, route);
  }
  return catalogue;
}

// The manager the demo started, or the one the program started again.
HWND ManagerWindow() { return ::FindWindowA(kManagerClass, nullptr); }

// --- Playing the user --------------------------------------------------

// A visible top-level dialog of the process that has the control.
HWND FindDialogWith(DWORD processId, int controlId) {
  for (HWND window : ui::FindWindows({"", "#32770", processId}))
    if (::GetDlgItem(window, controlId)) return window;
  return nullptr;
}

bool HasEditBox(HWND window) {
  for (HWND child = ::GetWindow(window, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT))
    if (ui::ClassName(child) == "Edit") return true;
  return false;
}

// A message box: a dialog with the text control 0xFFFF. The program's own
// dialogs and the system's credential dialog may have unnamed statics of
// that number too, so they are left out.
HWND FindBox(DWORD processId) {
  for (HWND window : ui::FindWindows({"", "#32770", processId})) {
    if (!::GetDlgItem(window, kBoxText) || HasEditBox(window)) continue;
    bool own = false;
    for (int id : {kConnectGroup, kSelectionList, kProgressBar, kCompletionHeadline})
      own = own || ::GetDlgItem(window, id) != nullptr;
    if (!own) return window;
  }
  return nullptr;
}

template <class Process>
HWND WaitForDialogWith(Process& child, int controlId, DWORD timeoutMs = kStepLimitMs) {
  const DWORD start = ::GetTickCount();
  do {
    if (HWND window = FindDialogWith(child.Id(), controlId)) return window;
    if (!child.Running()) return nullptr;
    ::Sleep(50);
  } while (::GetTickCount() - start < timeoutMs);
  return nullptr;
}

class Photographer {
 public:
  explicit Photographer(const Options& options) : options_(options) {}

  // Once the window has painted: its rectangle goes to the script, which
  // answers with the picture.
  void Take(HWND window, const std::string& name) {
    if (options_.shotsDir.empty()) return;
    ::Sleep(600);
    RECT rect{};
    if (!::GetWindowRect(window, &rect)) return;
    char display[128] = "";
    ::GetEnvironmentVariableA("DISPLAY", display, sizeof(display));
    const std::string base = options_.shotsDir + "\\" + name + "-" + options_.tag;
    char request[256];
    std::snprintf(request, sizeof(request), "%s %ld %ld %ld %ld\n", display, rect.left, rect.top,
                  rect.right - rect.left, rect.bottom - rect.top);
    ::DeleteFileA((base + ".png").c_str());  // one of an earlier run is no answer
    if (!WriteFileBytes(base + ".req", request)) {
      std::printf("  (picture %s: cannot write the request)\n", name.c_str());
      return;
    }
    const DWORD start = ::GetTickCount();
    while (!FileExists(base + ".png") && ::GetTickCount() - start < 15000) ::Sleep(100);
    if (FileExists(base + ".png")) {
      std::printf("  picture: %s-%s.png\n", name.c_str(), options_.tag.c_str());
    } else {
      std::printf("  (picture %s: no answer from the script)\n", name.c_str());
    }
  }

 private:
  const Options& options_;
};

// The system's credential dialog, as WinINet shows it for a proxy that asks
// for a name and password: a dialog of the program's process with a
// password box and a plain box for the name before it.
struct CredentialDialog {
  HWND window = nullptr;
  HWND name = nullptr;
  HWND password = nullptr;
};

CredentialDialog FindCredentialDialog(DWORD processId) {
  for (HWND window : ui::FindWindows({"", "#32770", processId})) {
    CredentialDialog dialog;
    for (HWND child = ::GetWindow(window, GW_CHILD); child;
         child = ::GetWindow(child, GW_HWNDNEXT)) {
      if (ui::ClassName(child) != "Edit") continue;
      if (::GetWindowLongA(child, GWL_STYLE) & ES_PASSWORD)
        dialog.password = child;
      else if (!dialog.password)
        dialog.name = child;
    }
    if (dialog.name && dialog.password) {
      dialog.window = window;
      return dialog;
    }
  }
  return CredentialDialog();
}

// The person at the machine when the proxy asks: types the name and the
// password the demo was given and presses OK.
class ProxyUser {
 public:
  explicit ProxyUser(const Options& options) : options_(options) {}

  // Answers the credential dialog if it is up; false when it is not.
  bool Answer(DWORD processId, Photographer& camera) {
    if (options_.proxyPort.empty()) return false;
    const CredentialDialog dialog = FindCredentialDialog(processId);
    if (!dialog.window) return false;
    ++met_;
    ::Sleep(300);  // it fills its boxes after it is shown
    std::string texts;
    for (const std::string& text : ui::StaticTexts(dialog.window))
      texts += (texts.empty() ? "" : " | ") + text;
    std::printf("Credential dialog \"%s\":\n  %s\n", ui::WindowText(dialog.window).c_str(),
                texts.c_str());
    DWORD_PTR ignored = 0;
    ::SendMessageTimeoutA(dialog.name, WM_SETTEXT, 0,
                          reinterpret_cast<LPARAM>(options_.proxyName.c_str()), SMTO_BLOCK, 5000,
                          &ignored);
    ::SendMessageTimeoutA(dialog.password, WM_SETTEXT, 0,
                          reinterpret_cast<LPARAM>(options_.proxyPassword.c_str()), SMTO_BLOCK,
                          5000, &ignored);
    std::printf("  typed the name \"%s\" and the password\n", options_.proxyName.c_str());
    if (met_ == 1) camera.Take(dialog.window, "proxy-credentials");
    std::printf("  -> OK\n");
    ui::PressButton(dialog.window, IDOK);
    ui::WaitForWindowGone(dialog.window, 10000);
    return true;
  }
  int Met() const { return met_; }

 private:
  const Options& options_;
  int met_ = 0;
};

// The next message box: shown, photographed, answered.
template <class Process>
bool AnswerBox(Process& child, Photographer& camera, const std::string& shot, int button) {
  HWND box = nullptr;
  for (const DWORD start = ::GetTickCount(); !box && child.Running() &&
                                             ::GetTickCount() - start < kStepLimitMs;
       ::Sleep(50))
    box = FindBox(child.Id());
  if (!box) {
    std::printf("  no message box came\n");
    return false;
  }
  std::printf("  box \"%s\": %s\n", ui::WindowText(box).c_str(), ui::MessageBoxText(box).c_str());
  if (!shot.empty()) camera.Take(box, shot);
  std::printf("  -> %s\n", button == IDYES ? "Yes" : button == IDNO ? "No" : "OK");
  ui::PressButton(box, button);
  ui::WaitForWindowGone(box, 10000);
  return true;
}

// The interactive update, step by step as a user goes through it. Returns
// false when a step did not come (the run is then ended by the caller).
bool PlayUser(ChildProcess& child, Photographer& camera, ProxyUser& proxyUser) {
  std::printf("Question 101:\n");
  if (!AnswerBox(child, camera, "question", IDYES)) return false;

  std::printf("Connect dialog:\n");
  HWND connect = WaitForDialogWith(child, kConnectGroup);
  if (!connect) {
    std::printf("  did not come\n");
    return false;
  }
  std::printf("  \"%s\": %s\n", ui::WindowText(connect).c_str(),
              ui::ControlText(connect, 206).c_str());
  camera.Take(connect, "connect");

  // A proxy may ask for a name and password at the catalogue fetch; a
  // catalogue that cannot be fetched or read is told in boxes instead.
  HWND selection = nullptr;
  for (const DWORD start = ::GetTickCount();
       !selection && child.Running() && ::GetTickCount() - start < kStepLimitMs; ::Sleep(50)) {
    if (proxyUser.Answer(child.Id(), camera)) continue;
    selection = FindDialogWith(child.Id(), kSelectionList);
    if (!selection && FindBox(child.Id())) {
      std::printf("Message box:\n");
      AnswerBox(child, camera, "", IDOK);
    }
  }
  std::printf("Selection dialog:\n");
  if (!selection) {
    std::printf("  did not come\n");
    return false;
  }
  HWND list = ::GetDlgItem(selection, kSelectionList);
  const int rows = static_cast<int>(::SendMessageA(list, LB_GETCOUNT, 0, 0));
  std::printf("  %d rows; size before: %s\n", rows,
              ui::ControlText(selection, 208).c_str());
  // Rows start unticked: the user takes everything.
  for (int row = 0; row < rows; ++row) ui::TickRow(list, row);
  std::printf("  ticked every row; size now: %s\n", ui::ControlText(selection, 208).c_str());
  camera.Take(selection, "selection");
  std::printf("  -> OK\n");
  ui::PressButton(selection, IDOK);

  // From here on the program leads: whatever comes is met as it comes,
  // until the program ends.
  bool progressSeen = false;
  bool completionSeen = false;
  int messages = 0;
  const DWORD start = ::GetTickCount();
  while (child.Running() && ::GetTickCount() - start < kRunLimitMs) {
    if (proxyUser.Answer(child.Id(), camera)) continue;
    HWND progress = progressSeen ? nullptr : FindDialogWith(child.Id(), kProgressBar);
    if (progress) {
      progressSeen = true;
      std::printf("Progress dialog \"%s\":\n", ui::WindowText(progress).c_str());
      // Minimise and maximise switch between the compact and the full form.
      ::PostMessageA(progress, WM_SYSCOMMAND, SC_MAXIMIZE, 0);
      camera.Take(progress, "progress-expanded");
      ::PostMessageA(progress, WM_SYSCOMMAND, SC_MINIMIZE, 0);
      camera.Take(progress, "progress-compact");
      continue;
    }
    if (HWND box = FindBox(child.Id())) {
      // A question now is the restart question: No, a demo never reboots.
      const bool question = ::GetDlgItem(box, IDNO) != nullptr;
      const std::string name = question ? "restart-question"
                               : ManagerWindow()
                                   ? "manager-running"
                                   : "message-" + std::to_string(++messages);
      std::printf("Message box:\n");
      AnswerBox(child, camera, name, question ? IDNO : IDOK);
      continue;
    }
    HWND completion = completionSeen ? nullptr : FindDialogWith(child.Id(), kCompletionHeadline);
    if (completion && ::GetDlgItem(completion, kConnectGroup) == nullptr) {
      // It is shown, hidden for a box and shown again: a picture only when
      // it is in view.
      ::Sleep(300);
      if (FindBox(child.Id()) || !::IsWindowVisible(completion)) continue;
      completionSeen = true;
      std::printf("Completion window \"%s\": %s\n", ui::WindowText(completion).c_str(),
                  ui::ControlText(completion, kCompletionHeadline).c_str());
      camera.Take(completion, "completion");
      continue;
    }
    ::Sleep(50);
  }
  return true;
}

// Runs without the played user still get a box now and then (the quiet
// check's question, an error of a run without /q): each is printed and
// answered No, or OK when it has no No, so that the run goes on. A proxy's
// credential dialog, even in quiet runs, is answered as the person at the
// machine does.
DWORD WaitAnsweringBoxes(ChildProcess& child, DWORD timeoutMs, Photographer& camera,
                         ProxyUser& proxyUser) {
  timeoutMs = Patience(timeoutMs);
  const DWORD start = ::GetTickCount();
  while (::GetTickCount() - start < timeoutMs) {
    const DWORD code = child.Wait(100);
    if (code != STILL_ACTIVE) return code;
    if (proxyUser.Answer(child.Id(), camera)) continue;
    HWND box = FindBox(child.Id());
    if (!box) continue;
    const int button = ::GetDlgItem(box, IDNO) ? IDNO : ::GetDlgItem(box, IDOK) ? IDOK : IDCANCEL;
    std::printf("box \"%s\": %s\n  -> %s (the demo's answer)\n", ui::WindowText(box).c_str(),
                ui::MessageBoxText(box).c_str(),
                button == IDNO ? "No" : button == IDOK ? "OK" : "Cancel");
    ui::PressButton(box, button);
    ui::WaitForWindowGone(box, 10000);
  }
  return child.Wait(0);
}


bool WaitForManager(DWORD timeoutMs) {
  const DWORD start = ::GetTickCount();
  while (!ManagerWindow() && ::GetTickCount() - start < timeoutMs) ::Sleep(50);
  return ManagerWindow() != nullptr;
}


// --- The uninstall -------------------------------------------------------

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
}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    std::fprintf(stderr,
                 "usage: DemoRun [--serve DIR] [--interactive] [--uninstall] [--shots DIR] [--tag TAG] "
                 "[--proxy PORT --proxy-login NAME:PASSWORD] UPGRADE.EXE MANAGER.EXE "
                 "[switches...]\n");
    return 2;
  }
  if ((options.interactive || options.uninstall) && UnderWine() &&
      !std::getenv(kOnDesktopVariable))
    return RunSelfOnVirtualDesktop(kDesktop, "1024x768", kOnDesktopVariable, "demo", 2);

  const std::string installDir = "C:\\Program Files\\Pellory\\";
  const std::string bin = installDir + "Bin\\";
  ::CreateDirectoryA("C:\\Program Files", nullptr);
  ::CreateDirectoryA(installDir.c_str(), nullptr);
  ::CreateDirectoryA(bin.c_str(), nullptr);
  if (!::CopyFileA(options.upgrade.c_str(), (bin + "Upgrade.exe").c_str(), FALSE) ||
      !CopyWithVersion(options.manager, bin + "Manager.exe", 4, 2, 0, 17)) {
    std::fprintf(stderr, "demo: cannot prepare %s\n", bin.c_str());
    return 2;
  }
  RegWriteString(HKEY_LOCAL_MACHINE, kPelloryKey, "PelloryAppDir", installDir);
  std::printf("Installation: %s (Manager.exe 4.2.0.17)\n", installDir.c_str());

  // The user has the manager open, as when it offers the update.
  ChildProcess manager;
  if (!manager.Start(bin + "Manager.exe", "") || !WaitForManager(20000)) {
    std::fprintf(stderr, "demo: the manager did not start\n");
    return 2;
  }
  std::printf("Manager.exe running\n");

  HttpServer server;
  std::string switches = options.switches;
  if (!options.serveDir.empty()) {
    if (!server.Start() || !ServeFolder(server, options)) {
      std::fprintf(stderr, "demo: cannot serve %s (it needs %s)\n", options.serveDir.c_str(),
                   kCatalogueCabinet);
      return 2;
    }
    const std::string url = server.Url(std::string(kCatalogueFolder) + kCatalogueCabinet);
    std::printf("Serving %s at %s\n", options.serveDir.c_str(), server.BaseUrl().c_str());
    switches += (switches.empty() ? "" : " ") + std::string("/URL:") + url;
  }

  if (!options.proxyPort.empty()) {
    // The proxy as the user's machine has it; the prefix is the demo's own.
    frame::RegKey settings;
    const std::string server = "127.0.0.1:" + options.proxyPort;
    if (settings.Create(HKEY_CURRENT_USER, kInternetSettings) != ERROR_SUCCESS ||
        settings.SetDword("ProxyEnable", 1) != ERROR_SUCCESS ||
        settings.SetString("ProxyServer", server) != ERROR_SUCCESS) {
      std::fprintf(stderr, "demo: cannot set the proxy in the Internet Settings\n");
      return 2;
    }
    std::printf("Proxy: HKCU\\%s: ProxyEnable = 1, ProxyServer = %s\n", kInternetSettings,
                server.c_str());
  }

  std::printf("Running: \"%sUpgrade.exe\" %s\n\n", bin.c_str(), switches.c_str());
  ChildProcess upgrade;
  if (!upgrade.Start(bin + "Upgrade.exe", switches)) {
    std::fprintf(stderr, "demo: cannot start Upgrade.exe\n");
    return 2;
  }
  Photographer camera(options);
  ProxyUser proxyUser(options);
  bool played = true;
  if (options.interactive) played = PlayUser(upgrade, camera, proxyUser);
  const DWORD code = options.interactive
                         ? upgrade.Wait(played ? kRunLimitMs : 5000)
                         : WaitAnsweringBoxes(upgrade, kRunLimitMs, camera, proxyUser);
  const bool ended = code != STILL_ACTIVE;
  if (!ended) upgrade.Kill();
  server.Stop();

  if (ended)
    std::printf("\nExit code: %d (%s)\n", AsInt(code), Meaning(AsInt(code)));
  else
    std::printf("\nUpgrade.exe did not end in time and was stopped\n");
  std::printf("Manager.exe running afterwards: %s\n\n", ManagerWindow() ? "yes" : "no");
  // Behind a proxy that asks, the dialog must have come, once: what was
  // typed at the catalogue fetch serves the whole run.
  const bool proxyMet = options.proxyPort.empty() || proxyUser.Met() == 1;
  if (!options.proxyPort.empty())
    std::printf("Credential dialogs answered: %d%s\n\n", proxyUser.Met(),
                proxyMet ? "" : " (one was expected)");
  if (!options.serveDir.empty())
    std::printf("Catalogue requests: %zu, requests in all: %zu\n\n",
                server.RequestCount(std::string(kCatalogueFolder) + kCatalogueCabinet),
                server.Requests().size());

  std::printf("Files in %s:\n", installDir.c_str());
  ListFiles(installDir, "");
  std::string hookRuns;
  if (ReadFileBytes(installDir + "PlayerSetup.exe.runs", hookRuns))
    std::printf("\nHook runs (PlayerSetup.exe.runs):\n%s", hookRuns.c_str());
  std::printf("\n");
  PrintKey(HKEY_LOCAL_MACHINE, "HKLM", std::string(kUpgradeKey) + "\\Components");
  PrintKey(HKEY_LOCAL_MACHINE, "HKLM", std::string(kUpgradeKey) + "\\Hooks");
  PrintKey(HKEY_LOCAL_MACHINE, "HKLM", "Software\\Pellory\\Codecs");
  PrintKey(HKEY_LOCAL_MACHINE, "HKLM", kUninstallKey);
  bool uninstalled = true;
  if (options.uninstall) {
    uninstalled = ended && RunUninstall(options, installDir);
  } else {
    PrintLogTail(30);
    // A dry run's answer is its summary.
    if (options.switches.find("/DryRun") != std::string::npos) PrintRunSummary();
  }

  // Leave nothing running in the prefix.
  if (HWND window = ManagerWindow()) ::PostMessageA(window, WM_COMMAND, kManagerCloseCommand, 0);
  WaitNoProcessNamed("Manager.exe", 10000);
  return ended && played && uninstalled && proxyMet ? 0 : 1;
}
