// Control of the manager ("Manager.exe", window class "PelloryWndClass") and
// the download manager (window "Pellory Download Manager"): asking them to
// close, waiting for them, starting the manager again, and the mode switch
// the manager asks for with the "SwitchMode" switch. Everything runs on the
// calling thread; the waits that keep the caller's windows alive dispatch
// its messages themselves.
#pragma once

#include <windows.h>

#include <string>

extern const char kManagerWindowClass[];      // "PelloryWndClass"
extern const char kDownloadManagerTitle[];    // "Pellory Download Manager"
constexpr UINT kManagerCloseCommand = 57665;  // WM_COMMAND, posted
constexpr UINT kDownloadManagerCloseCommand = 2005;

// Installation folder + "Bin\Manager.exe", or "Manager.exe" when the folder
// is unknown.
std::string ManagerProgramPath();

// Tells the user that the manager must close, asks it to close and waits for
// its window to go. A manager that has not closed after the wait bound (60 s)
// is logged and, unless quiet, the user is asked to close it; then the run
// goes on (files in use are left to the next system start). A quit message
// ends the wait early and is left queued for the caller. 1 when the manager
// is not, or no longer, running; 0 when it still runs. `closed` (optional)
// tells whether a running manager was closed here.
int CloseRunningManager(HWND windowToHide, bool* closed = nullptr);
// 1 when the download manager is not, or no longer, running after about 5 s.
int CloseDownloadManager();

// While a process has the module loaded: asks the user to exit the program
// (dialog 225 for the download manager, a message box otherwise) and, on
// anything but OK, the cancel question. 1 when it no longer runs, 0 when the
// user gave up.
int WaitForModuleExit(const std::string& moduleName, const std::string& displayName,
                      UINT cancelQuestionId);

// Starts the manager with the "Pass" switch's text: on Vista and later with
// the user's ordinary rights through the scheduler, else (and when the
// scheduler cannot) directly. 1 when started; 0 after telling the user.
int RestartManager();

// The mode switch: waits for the manager's process to end, deletes the
// plug-in file (null or empty: none) and starts the manager again, with the
// completion window shown meanwhile. The result of RestartManager.
int SwitchMode(DWORD managerProcessId, const char* fileToDelete);

// Test seam: the bound of CloseRunningManager's wait (0 puts the 60 s back).
void SetManagerCloseTimeoutForTests(DWORD milliseconds);
