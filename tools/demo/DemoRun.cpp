// The built-in demo: prepares an installation in the current Wine prefix (a
// folder with Bin\Manager.exe and Bin\Upgrade.exe, "PelloryAppDir" pointing at
// it, the manager running), serves a catalogue folder on 127.0.0.1, runs the
// program's main job against it and prints what it did: the exit code, the
// installed files and versions, the registry records, the log's tail.
//
//   DemoRun [--serve DIR] [--interactive] [--shots DIR] [--tag TAG]
//           UPGRADE.EXE MANAGER.EXE [switches...]
//
// --interactive plays the user through every dialog (on a Wine virtual
// desktop, so that the skin's caption is on screen); with --shots each dialog
// is photographed: the demo writes NAME-TAG.req (the display and the window's
// rectangle) into DIR and waits for the script that started it to turn it
// into NAME-TAG.png. (A copy of the screen from inside Wine comes out black
// on a virtual desktop, so the picture is taken from the X side.)
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "frame/Handle.h"
#include "frame/RegKey.h"
#include "tests/support/HttpServer.h"
#include "tests/support/Scratch.h"
#include "tests/support/TestProcess.h"
#include "tests/support/UiDriver.h"

using namespace testing_support;

namespace {

const char kPelloryKey[] = "SOFTWARE\\Pellory";
const char kUninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\PelloryManager";
const char kUpgradeKey[] = "Software\\Pellory\\Upgrade";
const char kCatalogueFolder[] = "/PM50/Quoma/";
const char kCatalogueCabinet[] = "PM_InstallQuoma.cab";
const char kManagerClass[] = "PelloryWndClass";
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
  std::string shotsDir;  // Windows path; empty: no pictures
  std::string tag = "en";
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
    } else if (i + 1 < argc && name == "--serve") {
      options.serveDir = argv[++i];
    } else if (i + 1 < argc && name == "--shots") {
      options.shotsDir = argv[++i];
    } else if (i + 1 < argc && name == "--tag") {
      options.tag = argv[++i];
    } else {
      return false;
    }
  }
  if (argc - i < 2) return false;
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

// A message box: a dialog with the text control 0xFFFF. The program's own
// dialogs may have unnamed statics of that number too, so they are left out.
HWND FindBox(DWORD processId) {
  for (HWND window : ui::FindWindows({"", "#32770", processId})) {
    if (!::GetDlgItem(window, kBoxText)) continue;
    bool own = false;
    for (int id : {kConnectGroup, kSelectionList, kProgressBar, kCompletionHeadline})
      own = own || ::GetDlgItem(window, id) != nullptr;
    if (!own) return window;
  }
  return nullptr;
}

HWND WaitForDialogWith(ChildProcess& child, int controlId, DWORD timeoutMs = kStepLimitMs) {
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

// The next message box: shown, photographed, answered.
bool AnswerBox(ChildProcess& child, Photographer& camera, const std::string& shot, int button) {
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

// Ticks a row of the selection list by its box, as a click there does.
void TickRow(HWND list, int row) {
  RECT rect{};
  DWORD_PTR ignored = 0;
  if (!::SendMessageTimeoutA(list, LB_GETITEMRECT, row, reinterpret_cast<LPARAM>(&rect),
                             SMTO_BLOCK, 5000, &ignored))
    return;
  const LPARAM at = MAKELPARAM(rect.left + 8, rect.top + 8);
  ::SendMessageTimeoutA(list, WM_LBUTTONDOWN, MK_LBUTTON, at, SMTO_BLOCK, 5000, &ignored);
  ::SendMessageTimeoutA(list, WM_LBUTTONUP, 0, at, SMTO_BLOCK, 5000, &ignored);
}

// The interactive update, step by step as a user goes through it. Returns
// false when a step did not come (the run is then ended by the caller).
bool PlayUser(ChildProcess& child, Photographer& camera) {
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

  // A catalogue that cannot be fetched or read is told in boxes instead.
  HWND selection = nullptr;
  for (const DWORD start = ::GetTickCount();
       !selection && child.Running() && ::GetTickCount() - start < kStepLimitMs; ::Sleep(50)) {
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
  for (int row = 0; row < rows; ++row) TickRow(list, row);
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
// answered No, or OK when it has no No, so that the run goes on.
DWORD WaitAnsweringBoxes(ChildProcess& child, DWORD timeoutMs) {
  const DWORD start = ::GetTickCount();
  while (::GetTickCount() - start < timeoutMs) {
    const DWORD code = child.Wait(100);
    if (code != STILL_ACTIVE) return code;
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

// --- What the run left ---------------------------------------------------

std::string FileVersionText(const std::string& path) {
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeA(path.c_str(), &ignored);
  if (!size) return "";
  std::vector<char> data(size);
  VS_FIXEDFILEINFO* info = nullptr;
  UINT length = 0;
  if (!::GetFileVersionInfoA(path.c_str(), 0, size, data.data()) ||
      !::VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&info), &length) || !info)
    return "";
  char text[64];
  std::snprintf(text, sizeof(text), "  version %u.%u.%u.%u",
                static_cast<unsigned>(HIWORD(info->dwFileVersionMS)),
                static_cast<unsigned>(LOWORD(info->dwFileVersionMS)),
                static_cast<unsigned>(HIWORD(info->dwFileVersionLS)),
                static_cast<unsigned>(LOWORD(info->dwFileVersionLS)));
  return text;
}

void ListFiles(const std::string& dir, const std::string& shown) {
  WIN32_FIND_DATAA found{};
  frame::ScopedFind find(::FindFirstFileA((dir + "*").c_str(), &found));
  if (!find) return;
  std::vector<WIN32_FIND_DATAA> entries;
  do {
    const std::string name = found.cFileName;
    if (name != "." && name != "..") entries.push_back(found);
  } while (::FindNextFileA(find.get(), &found));
  for (const WIN32_FIND_DATAA& entry : entries) {
    const std::string name = entry.cFileName;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      ListFiles(dir + name + "\\", shown + name + "\\");
    } else {
      std::printf("  %-32s %9lu bytes%s\n", (shown + name).c_str(),
                  static_cast<unsigned long>(entry.nFileSizeLow),
                  FileVersionText(dir + name).c_str());
    }
  }
}

// Every value of a key, as "name = data".
void PrintKey(HKEY root, const std::string& rootName, const std::string& path) {
  std::printf("%s\\%s:\n", rootName.c_str(), path.c_str());
  frame::RegKey key;
  if (key.Open(root, path) != ERROR_SUCCESS) {
    std::printf("  (no such key)\n");
    return;
  }
  for (DWORD index = 0;; ++index) {
    char name[256];
    DWORD nameLength = sizeof(name);
    BYTE data[1024];
    DWORD dataLength = sizeof(data) - 1;
    DWORD type = 0;
    if (::RegEnumValueA(key.get(), index, name, &nameLength, nullptr, &type, data, &dataLength) !=
        ERROR_SUCCESS)
      break;
    if (type == REG_DWORD && dataLength == 4) {
      DWORD number = 0;
      std::memcpy(&number, data, 4);
      std::printf("  %-16s %lu (REG_DWORD)\n", name, static_cast<unsigned long>(number));
    } else if (type == REG_SZ || type == REG_EXPAND_SZ) {
      data[dataLength] = 0;
      std::printf("  %-16s %s\n", name, reinterpret_cast<char*>(data));
    } else {
      std::printf("  %-16s (type %lu, %lu bytes)\n", name, static_cast<unsigned long>(type),
                  static_cast<unsigned long>(dataLength));
    }
  }
}

const char* Meaning(int code) {
  switch (code) {
    case 0: return "normal end";
    case 36: return "files or a hook wait for the next start of Windows";
    case -1: return "failure or cancel";
    default: return "unexpected";
  }
}

void PrintLogTail(size_t lines) {
  char profile[MAX_PATH] = "";
  ::GetEnvironmentVariableA("USERPROFILE", profile, MAX_PATH);
  const std::string logPath = std::string(profile) + "\\Documents\\Pellory\\Logs\\Update.log";
  std::string log;
  if (!ReadFileBytes(logPath, log)) {
    std::printf("\n(no log at %s)\n", logPath.c_str());
    return;
  }
  size_t at = log.size();
  for (size_t seen = 0; at > 0 && seen <= lines;) {
    --at;
    if (log[at] == '\n') ++seen;
  }
  std::string tail = log.substr(at == 0 ? 0 : at + 1);
  for (char& c : tail)
    if (c == '\0') c = '?';  // a stray zero must not cut the print
  std::printf("\n%s, last %zu lines:\n", logPath.c_str(), lines);
  std::fwrite(tail.data(), 1, tail.size(), stdout);
  std::printf("\n");
}

bool WaitForManager(DWORD timeoutMs) {
  const DWORD start = ::GetTickCount();
  while (!ManagerWindow() && ::GetTickCount() - start < timeoutMs) ::Sleep(50);
  return ManagerWindow() != nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    std::fprintf(stderr,
                 "usage: DemoRun [--serve DIR] [--interactive] [--shots DIR] [--tag TAG] "
                 "UPGRADE.EXE MANAGER.EXE [switches...]\n");
    return 2;
  }
  if (options.interactive && UnderWine() && !std::getenv(kOnDesktopVariable))
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

  std::printf("Running: \"%sUpgrade.exe\" %s\n\n", bin.c_str(), switches.c_str());
  ChildProcess upgrade;
  if (!upgrade.Start(bin + "Upgrade.exe", switches)) {
    std::fprintf(stderr, "demo: cannot start Upgrade.exe\n");
    return 2;
  }
  bool played = true;
  if (options.interactive) {
    Photographer camera(options);
    played = PlayUser(upgrade, camera);
  }
  const DWORD code = options.interactive ? upgrade.Wait(played ? kRunLimitMs : 5000)
                                         : WaitAnsweringBoxes(upgrade, kRunLimitMs);
  const bool ended = code != STILL_ACTIVE;
  if (!ended) upgrade.Kill();
  server.Stop();

  if (ended)
    std::printf("\nExit code: %d (%s)\n", AsInt(code), Meaning(AsInt(code)));
  else
    std::printf("\nUpgrade.exe did not end in time and was stopped\n");
  std::printf("Manager.exe running afterwards: %s\n\n", ManagerWindow() ? "yes" : "no");
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
  PrintLogTail(30);

  // Leave nothing running in the prefix.
  if (HWND window = ManagerWindow()) ::PostMessageA(window, WM_COMMAND, kManagerCloseCommand, 0);
  WaitNoProcessNamed("Manager.exe", 10000);
  return ended && played ? 0 : 1;
}
