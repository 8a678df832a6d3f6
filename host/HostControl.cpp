#include "host/HostControl.h"

#include <cstdarg>
#include <cstdio>
#include <functional>
#include <vector>

#include "core/Error.h"
#include "core/Locations.h"
#include "core/Log.h"
#include "core/TextFormat.h"
#include "core/MessageBox.h"
#include "core/Platform.h"
#include "core/Resources.h"
#include "core/Switches.h"
#include "frame/Handle.h"
#include "host/CompletionDialog.h"
#include "host/Processes.h"
#include "host/WindowIcons.h"
#include "resources/HostIds.h"
#include "resources/StringIds.h"
#include "tasks/ScheduledLaunch.h"
#include "ui/skin/SkinnedDialog.h"

const char kManagerWindowClass[] = "PelloryWndClass";
const char kDownloadManagerTitle[] = "Pellory Download Manager";

namespace {

constexpr DWORD kCloseTimeoutMs = 60000;
constexpr DWORD kDownloadManagerPolls = 10;
constexpr DWORD kPollMs = 500;
constexpr int kWindowLooks = 30;
constexpr DWORD kProcessEndMs = 20000;
constexpr DWORD kSettleMs = 5000;
constexpr DWORD kWindowThreadMs = 5000;

volatile LONG g_closeTimeoutMs = 0;  // test seam; 0: kCloseTimeoutMs

// The request to exit the download manager (dialog 225): OK or Cancel.
class ExitRequestDialog : public SkinnedDialog {
 protected:
  INT_PTR OnInitDialog() override {
    icons_.Apply(hwnd());
    return TRUE;
  }

 private:
  WindowIcons icons_;
};


enum class PumpEnd { kDone, kTimeUp, kQuit };

// Removes and dispatches this thread's messages until `done` says so, the
// time is up or a quit message ends the wait; that one is put back for the
// caller's loop.
PumpEnd PumpMessagesUntil(const std::function<bool()>& done, DWORD milliseconds) {
  const DWORD start = ::GetTickCount();
  for (;;) {
    MSG message;
    while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) {
        ::PostQuitMessage(static_cast<int>(message.wParam));
        return done() ? PumpEnd::kDone : PumpEnd::kQuit;
      }
      ::TranslateMessage(&message);
      ::DispatchMessageA(&message);
    }
    if (done()) return PumpEnd::kDone;
    const DWORD elapsed = ::GetTickCount() - start;
    if (elapsed >= milliseconds) return PumpEnd::kTimeUp;
    const DWORD left = milliseconds - elapsed;
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, left < 100 ? left : 100, QS_ALLINPUT);
  }
}

// Without quotes, a path with a blank ("C:\Program Files\...") would let the
// system try "C:\Program.exe" first.
std::string QuotedPath(const std::string& path) {
  return path.find(' ') == std::string::npos ? path : "\"" + path + "\"";
}

int StartManagerDirectly(const std::string& commandLine) {
  LogFormat("Restarting PelloryManager '%s'", commandLine.c_str());
  std::vector<char> buffer(commandLine.begin(), commandLine.end());
  buffer.push_back('\0');
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWMAXIMIZED;
  PROCESS_INFORMATION info = {};
  if (!::CreateProcessA(nullptr, buffer.data(), nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS,
                        nullptr, nullptr, &startup, &info)) {
    LogFormat("Failed to launch PelloryManager. Error %d", static_cast<int>(::GetLastError()));
    AppMessageBox(IDS_MANAGER_START_FAILED, MB_OK | MB_ICONSTOP);
    return 0;
  }
  frame::ScopedHandle process(info.hProcess);
  frame::ScopedHandle thread(info.hThread);
  for (int look = 0; look < kWindowLooks; ++look) {
    if (HWND window = ::FindWindowA(kManagerWindowClass, nullptr)) {
      ::SetActiveWindow(window);
      ::BringWindowToTop(window);
      ::SetForegroundWindow(window);
      break;
    }
    ::Sleep(kPollMs);
  }
  return 1;
}

}  // namespace

void SetManagerCloseTimeoutForTests(DWORD milliseconds) {
  ::InterlockedExchange(&g_closeTimeoutMs, static_cast<LONG>(milliseconds));
}

std::string ManagerProgramPath() {
  const std::string appDir = GetAppDir();
  return appDir.empty() ? "Manager.exe" : appDir + "Bin\\Manager.exe";
}

int CloseRunningManager(HWND windowToHide, bool* closed) {
  if (closed) *closed = false;
  HWND manager = ::FindWindowA(kManagerWindowClass, nullptr);
  if (!manager) return 1;
  // The window may belong to another thread (the completion window does):
  // a blocking show would wait for that thread to answer.
  if (windowToHide && ::IsWindow(windowToHide)) ::ShowWindowAsync(windowToHide, SW_HIDE);
  AppMessageBox(HasSwitch("Uninstall") ? IDS_MANAGER_RUNNING_UNINSTALL : IDS_MANAGER_RUNNING_UPDATE,
                MB_OK | MB_ICONEXCLAMATION);
  if (windowToHide && ::IsWindow(windowToHide) && !(IsSetupMode() && IsQuiet()))
    ::ShowWindowAsync(windowToHide, SW_SHOW);
  ::PostMessageA(manager, WM_COMMAND, kManagerCloseCommand, 0);

  const LONG seam = ::InterlockedCompareExchange(&g_closeTimeoutMs, 0, 0);
  const DWORD bound = seam > 0 ? static_cast<DWORD>(seam) : kCloseTimeoutMs;
  auto gone = [manager] { return !::IsWindow(manager); };
  const PumpEnd end = PumpMessagesUntil(gone, bound);
  if (end == PumpEnd::kTimeUp) {
    // A manager that hangs on exit must not hang the update with it.
    LogFormat("PelloryManager did not close within %lu seconds.", bound / 1000);
    if (!IsQuiet()) AppMessageBox(IDS_MANAGER_DID_NOT_CLOSE, MB_OK | MB_ICONEXCLAMATION);
  }
  if (end != PumpEnd::kDone && !gone()) {
    LogWrite("PelloryManager is still running; files in use wait for the next start.");
    return 0;
  }
  if (closed) *closed = true;
  ::Sleep(2000);
  return 1;
}

int CloseDownloadManager() {
  HWND window = ::FindWindowA(nullptr, kDownloadManagerTitle);
  if (!window) return 1;
  ::PostMessageA(window, WM_COMMAND, kDownloadManagerCloseCommand, 0);
  for (DWORD poll = 0; poll < kDownloadManagerPolls; ++poll) {
    const bool gone = !::IsWindow(window);
    ::Sleep(kPollMs);
    if (gone) return 1;
  }
  return 0;
}

int WaitForModuleExit(const std::string& moduleName, const std::string& displayName,
                      UINT cancelQuestionId) {
  while (IsModuleRunning(moduleName)) {
    INT_PTR answer = IDCANCEL;
    if (displayName != kDownloadManagerTitle) {
      const std::string text =
          FormatText(LoadResString(IDS_PROGRAM_RUNNING).c_str(), displayName.c_str());
      answer = AppMessageBox(text, MB_OK | MB_ICONEXCLAMATION, kCaptionUpdate);
    } else {
      ExitRequestDialog request;
      answer = request.DoModal(FindDialogTemplate(IDD_EXIT_DOWNLOAD_MANAGER), nullptr);
    }
    if (answer == IDOK) continue;
    if (AppMessageBox(cancelQuestionId, MB_YESNO | MB_ICONEXCLAMATION, kCaptionUpdate) == IDYES)
      return 0;
  }
  return 1;
}

int RestartManager() {
  const std::string program = ManagerProgramPath();
  const std::string pass = GetSwitchValue("Pass");
  if (IsVistaOrLater()) {
    if (LaunchThroughScheduler(program, pass.empty() ? nullptr : pass.c_str())) return 1;
    // The direct start still brings the manager back, only with this
    // program's rights instead of the user's ordinary ones.
    LogWrite("The scheduled launch of PelloryManager failed; starting it directly.");
  }
  return StartManagerDirectly(QuotedPath(program) + (pass.empty() ? "" : " " + pass));
}

int SwitchMode(DWORD managerProcessId, const char* fileToDelete) {
  if (fileToDelete)
    LogFormat("Deleting plug-in file %s...\n", fileToDelete);
  else
    LogWrite("Switching PM Mode...");

  frame::ScopedHandle process(::OpenProcess(
      SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_TERMINATE, FALSE, managerProcessId));
  if (!process)
    LogFormat("OpenProcess failed to open process PM ID 0x0%x. Error %d\n",
              static_cast<unsigned>(managerProcessId), static_cast<int>(::GetLastError()));

  std::shared_ptr<CompletionDialog> dialog = StartCompletionDialog();
  if (dialog->Exists()) {
    dialog->SetCaption(LoadResString(IDS_PRODUCT_NAME));
    dialog->Show(true);
  }

  if (process) {
    WaitForProcess(process.get(), kProcessEndMs);
    process.reset();
    PumpMessagesUntil([] { return false; }, kSettleMs);
  }

  if (fileToDelete && *fileToDelete && !::DeleteFileA(fileToDelete)) {
    const DWORD error = ::GetLastError();
    // The error has no text of its own, so its description starts with a blank.
    const std::string description = CError(error, std::string()).Description();
    const size_t first = description.find_first_not_of(' ');
    const std::string reason = first == std::string::npos ? "" : description.substr(first);
    AppMessageBox(FormatText(LoadResString(IDS_DELETE_PLUGIN_FAILED).c_str(), fileToDelete,
                             static_cast<int>(error), reason.c_str()),
                  MB_OK | MB_ICONSTOP);
  }

  const int restarted = RestartManager();
  dialog->Close(kWindowThreadMs);
  return restarted;
}
