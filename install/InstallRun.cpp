#include "install/InstallRun.h"

#include <memory>
#include <new>
#include <string>

#include "core/Error.h"
#include "core/Log.h"
#include "core/MessageBox.h"
#include "core/Resources.h"
#include "host/CompletionDialog.h"
#include "host/HostControl.h"
#include "install/DownloadThread.h"
#include "install/FileReplace.h"
#include "resources/StringIds.h"

namespace {

constexpr DWORD kStatusWindowWaitMs = 5000;

// Dispatches everything waiting for this thread; a quit request is kept for
// the caller's own loop.
void DispatchWaiting(HWND dialog, bool& quit, WPARAM& quitCode) {
  MSG message;
  while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      quit = true;
      quitCode = message.wParam;
      continue;
    }
    if (dialog && ::IsWindow(dialog) && ::IsDialogMessageA(dialog, &message)) continue;
    ::TranslateMessage(&message);
    ::DispatchMessageA(&message);
  }
}

}  // namespace

int SpawnDownloadThread(const std::vector<Component>& components) {
  std::unique_ptr<CDownloadThread> worker;
  try {
    worker = std::make_unique<CDownloadThread>(components);
  } catch (const std::bad_alloc&) {
    throw CError(0, "Out of memory");
  }
  DWORD threadId = 0;
  HANDLE thread = ::CreateThread(nullptr, 0, StartDownloadThread, worker.get(), 0, &threadId);
  if (!thread) {
    const DWORD error = ::GetLastError();
    worker.reset();
    throw CError(error, "System Error");
  }
  worker->thread.reset(thread);
  worker->threadId = threadId;

  // The progress dialog lives on this thread: its messages are dispatched
  // for as long as the worker runs.
  bool quit = false;
  WPARAM quitCode = 0;
  for (;;) {
    const DWORD wait = ::MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_ALLINPUT);
    if (wait == WAIT_OBJECT_0) break;
    if (wait == WAIT_FAILED && ::WaitForSingleObject(thread, 50) == WAIT_OBJECT_0) break;
    DispatchWaiting(worker->progress.hwnd(), quit, quitCode);
  }
  if (quit) ::PostQuitMessage(static_cast<int>(quitCode));

  LogWrite("Thread object has been signaled.");
  DWORD exitCode = 0;
  // An exit code that cannot be read is no success.
  if (!::GetExitCodeThread(thread, &exitCode)) exitCode = ERROR_GEN_FAILURE;
  LogWrite("After GetExitCodeThread.");
  worker->thread.reset();
  LogWrite("After CloseHandle.");

  const InstallState& state = worker->state;
  const int result = state.cancelled                   ? kRunCancelled
                     : !state.failedComponents.empty() ? kRunFailed
                     : state.rebootRequired            ? kRunRebootRequired
                                                       : kRunDone;
  const bool reported = state.failureReported != 0;
  const std::string errorText = state.errorText;
  worker.reset();
  if (exitCode != 0) {
    if (reported) return kRunFailed;
    throw CError(exitCode, errorText);
  }
  return result;
}

DWORD RunCompletionSequence(CompletionDialog& status, uint32_t& rebootRequired,
                            const ManagerState& manager, bool failed) {
  const bool setupAndQuiet = IsSetupMode() && IsQuiet();
  if (rebootRequired) {
    // Setup mode with quiet asks nothing: the run ends with 36.
    if (!setupAndQuiet) {
      if (AppMessageBox(IDS_CONFIRM_REBOOT, MB_YESNO | MB_ICONQUESTION, MessageCaptionId()) ==
          IDYES) {
        if (!RebootComputer())
          AppMessageBox(IDS_REBOOT_FAILED, MB_OK | MB_ICONSTOP, MessageCaptionId());
      } else {
        rebootRequired = 0;
      }
    }
  } else if (manager.stillRunning) {
    // A second one would only meet the first.
    LogWrite("PelloryManager did not close; it is not started again.");
  } else {
    // In Setup mode the manager is started whether or not it ran before.
    // After a failure only the one this run closed comes back, unasked:
    // "successfully installed" would not be true.
    bool restart = failed ? manager.closed : IsSetupMode();
    if (!restart && !failed && manager.closeNeeded) {
      status.Show(false);
      restart = AppMessageBox(IDS_CONFIRM_RESTART_MANAGER, MB_YESNO | MB_ICONQUESTION,
                              MessageCaptionId()) == IDYES;
      if (restart && !setupAndQuiet) status.Show(true);
    }
    if (restart) {
      if (status.Exists() && !setupAndQuiet) {
        status.Show(true, true);
        status.ShowStep(LoadResString(IDS_RESTARTING_MANAGER), "", "");
      }
      RestartManager();
    }
  }
  status.Close(kStatusWindowWaitMs);
  LogWrite("Exiting StartDownloadThread.");
  return 0;
}
