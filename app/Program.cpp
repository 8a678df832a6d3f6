#include "app/Program.h"

#include <objbase.h>

#include <string>

#include "core/AdminCheck.h"
#include "core/Log.h"
#include "core/MessageBox.h"
#include "core/Platform.h"
#include "core/RunSummary.h"
#include "core/Switches.h"
#include "core/SystemLibraries.h"
#include "core/UpdateLog.h"
#include "frame/Dialog.h"
#include "frame/Handle.h"
#include "frame/Module.h"
#include "transfer/WinInetApi.h"
#include "ui/skin/SkinColours.h"

namespace {

constexpr char kMutexName[] = "PMUpdate";

// COM for the whole run: a multithreaded apartment with packet privacy.
class ComScope {
 public:
  ComScope() {
    initialised_ = SUCCEEDED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    // Failures are ignored: security may already be set by the system.
    ::CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_PKT_PRIVACY,
                           RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
  }
  ~ComScope() {
    if (initialised_) ::CoUninitialize();
  }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;

 private:
  bool initialised_ = false;
};

std::string CommandLineText() { return ::GetCommandLineA(); }

}  // namespace

// The single-instance mutex, held until the process ends; the uninstaller
// releases it early when it hands over to its copy in the temporary folder.
frame::ScopedHandle& InstanceMutex() {
  static frame::ScopedHandle mutex;
  return mutex;
}

bool CreateInstanceMutex() {
  InstanceMutex().reset(::CreateMutexA(nullptr, FALSE, kMutexName));
  return InstanceMutex().valid();
}

std::string RunModeName() {
  if (!GetSwitchValue("SwitchMode").empty()) return "switchmode";
  if (HasSwitch("Uninstall")) return "uninstall";
  if (HasSwitch("Setup")) return "setup";
  if (!GetSwitchValue("Component").empty()) return "component";
  if (HasSwitch("Devices")) return "devices";
  if (HasSwitch("q")) return "quiet";
  return "update";
}

int RunProgram(HINSTANCE instance) {
  ComScope com;
  InitSkinColours(GetUILanguageId());
  // Resource lookups follow the user's language through the program's own
  // loader (core/Resources.h), on every call: nothing to install here.

  {
    frame::ScopedHandle existing(::OpenMutexA(MUTEX_ALL_ACCESS, FALSE, kMutexName));
    if (existing) {
      if (HasSwitch("Uninstall")) AppMessageBox(IDS_ALREADY_RUNNING, MB_OK | MB_ICONEXCLAMATION);
      return kExitFailed;
    }
  }
  CreateInstanceMutex();

  TheRunSummary().SetMode(RunModeName());
  UpdateLog& log = TheUpdateLog();
  log.Open(HasSwitch("Uninstall"));
  InstallUpdateLogSink();
  log.WriteStart();

  frame::TheModule().Init(instance);
  LogFormat("Command line: \"%s\"", CommandLineText().c_str());

  if (IsNT() && !IsUserAdministrator()) {
    if (!IsQuiet()) AppMessageBox(IDS_NOT_ADMINISTRATOR, MB_OK | MB_ICONEXCLAMATION);
    return kExitOk;
  }

  if (IsQuiet()) {
    // A quiet run goes on without the common controls; it binds them only
    // when it comes to show a window (loading them costs more than a quiet
    // check that finds nothing new).
    frame::SetBeforeFirstDialog([] { BindComCtl(); });
  } else if (!BindComCtl()) {
    LogWrite("Comctl32.dll is not installed or old version");
    AppMessageBox(IDS_SYSTEM_COMPONENTS_MISSING, MB_OK | MB_ICONINFORMATION);
    return kExitFailed;
  }
  if (!BindWinInet() && !IsQuiet()) {
    LogWrite("Wininet.dll is not installed or old version");
    AppMessageBox(IDS_SYSTEM_COMPONENTS_MISSING, MB_OK | MB_ICONINFORMATION);
    return kExitFailed;
  }
  BindShlwapi();

  const std::string switchMode = GetSwitchValue("SwitchMode");
  if (!switchMode.empty()) {
    const int processId = ParseDecimal(switchMode);
    if (processId != -1) {
      const std::string removeFile = GetSwitchValue("RemoveFile");
      if (IsDryRun()) {
        LogFormat("Dry run: the mode switch would wait for process %d to end, delete '%s' and "
                  "start PelloryManager again; nothing is done.",
                  processId, removeFile.c_str());
        return kExitOk;
      }
      return RunModeSwitch(processId, removeFile.empty() ? nullptr : removeFile.c_str());
    }
  }
  if (HasSwitch("Uninstall")) return RunUninstallBranch();
  return RunUpdateBranch();
}
