// The installation phase: the files marked for deleting go, every pending
// file is put into place (a locked one at the restart), servers are
// registered, hooks run, and the run ends with the completion sequence.
#include <algorithm>
#include <iterator>
#include <map>
#include <memory>
#include <string>

#include "catalog/InstalledState.h"
#include "core/Error.h"
#include "core/Locations.h"
#include "core/Log.h"
#include "core/Resources.h"
#include "core/RunSummary.h"
#include "core/TextFormat.h"
#include "frame/RegKey.h"
#include "host/CompletionDialog.h"
#include "host/HostControl.h"
#include "install/DownloadThread.h"
#include "install/ExtractCabinet.h"
#include "install/FileReplace.h"
#include "install/Hooks.h"
#include "install/InstallRun.h"
#include "install/RunJournal.h"
#include "install/Registration.h"
#include "install/WorkerCommon.h"
#include "resources/StringIds.h"

using namespace worker;

namespace {

// The completion window's three lines, for the registration and hook steps.
class CompletionWindowTexts : public CompletionTexts {
 public:
  explicit CompletionWindowTexts(CompletionDialog& dialog) : dialog_(dialog) {}
  void ShowStep(const std::string& headline, const std::string& firstPath,
                const std::string& secondPath) override {
    dialog_.ShowStep(headline, firstPath, secondPath);
  }

 private:
  CompletionDialog& dialog_;
};

// Whether a destination after `install` takes its file from the same
// unpacked member (same cabinet, same name): that member must stay.
bool NeededAgain(const std::map<std::string, std::string>& pending,
                 std::map<std::string, std::string>::const_iterator install) {
  const std::string name = LastPathElement(install->first);
  for (auto later = std::next(install); later != pending.end(); ++later)
    if (later->second == install->second &&
        ::lstrcmpiA(LastPathElement(later->first).c_str(), name.c_str()) == 0)
      return true;
  return false;
}

// Closes the completion window on every way out of the installation phase,
// an exception included, unless the completion sequence took it over.
class CompletionWindowScope {
 public:
  explicit CompletionWindowScope(std::shared_ptr<CompletionDialog> dialog)
      : dialog_(std::move(dialog)) {}
  ~CompletionWindowScope() {
    if (dialog_) dialog_->Close();
  }
  CompletionWindowScope(const CompletionWindowScope&) = delete;
  CompletionWindowScope& operator=(const CompletionWindowScope&) = delete;
  CompletionDialog& operator*() const { return *dialog_; }
  CompletionDialog* operator->() const { return dialog_.get(); }
  void Release() { dialog_.reset(); }

 private:
  std::shared_ptr<CompletionDialog> dialog_;
};

// A component's version is recorded only once its files are in place or
// waiting for the restart, its servers registered and its hooks run: a run
// that ends earlier leaves the records as they were, and the next check
// offers the component again.
void RecordComponentVersion(const Component& component) {
  frame::RegKey key;
  LONG rc = key.Create(HKEY_LOCAL_MACHINE, kComponentsKey, KEY_READ | KEY_WRITE);
  if (rc != ERROR_SUCCESS) {
    LogFormat("Failed to create the registry key 'HKLM\\%s. Error 0x0%x", kComponentsKey,
              static_cast<unsigned>(rc));
    return;
  }
  rc = key.SetString(component.sName, component.version.RegistryText());
  if (rc != ERROR_SUCCESS)
    LogFormat("Failed to set registry entry %s under the key 'HKLM\\%s. Error 0x0%x",
              component.sName.c_str(), kComponentsKey, static_cast<unsigned>(rc));
}

}  // namespace

DWORD CDownloadThread::InstallFiles(CompletionDialog& completion) {
  const std::map<std::string, std::string> pending = state.pendingInstalls;
  for (auto install = pending.begin(); install != pending.end(); ++install) {
    const std::string& destination = install->first;
    const std::string& cabinet = install->second;
    const std::string folder = CabinetFolder(cabinet);
    const std::string extracted = folder + LastPathElement(destination);
    // Missing only when something removed it meanwhile: the cabinet is
    // unpacked again.
    if (::GetFileAttributesA(extracted.c_str()) == INVALID_FILE_ATTRIBUTES) {
      completion.ShowStep(LoadResString(IDS_STATUS_DECOMPRESSING), extracted, "");
      ::CreateDirectoryA(folder.c_str(), nullptr);
      if (!ExtractCabinetTo(cabinet, folder, ::GetDlgItem(completion.Window(), 212))) {
        DWORD error = 0;
        state.errorText = ReportBadCabinet(cabinet, &error);
        return error;
      }
    }
    const size_t slash = destination.find_last_of('\\');
    if (slash != std::string::npos) CreateDirectoryPath(destination.substr(0, slash + 1));
    completion.ShowStep(LoadResString(IDS_STATUS_COPYING), extracted, destination);
    // The replacement raises the flag exactly when it defers the file.
    const uint32_t rebootBefore = state.rebootRequired;
    state.rebootRequired = 0;
    // The last destination of a member may have it moved into place; the
    // others get copies. Nothing else reads the folder by now: packages ran
    // from it and ended during the downloads, hooks run from their places.
    const DWORD error =
        ReplaceInstalledFile(destination, extracted, state,
                             NeededAgain(pending, install) ? ExtractedFileUse::kNeededAgain
                                                           : ExtractedFileUse::kDone);
    if (state.rebootRequired && error == 0) state.waitingForRestart.push_back(destination);
    if (error == 0) installedFiles_.push_back({destination, state.rebootRequired != 0});
    state.rebootRequired |= rebootBefore;
    if (error != 0) return error;
  }
  return 0;
}

void CDownloadThread::DeleteMarkedFiles(const std::vector<std::string>& markedForDeleting) {
  LogWrite("Deleting all files marked for deleting");
  for (const std::string& path : markedForDeleting) {
    const char* p = path.c_str();
    if (::GetFileAttributesA(p) == INVALID_FILE_ATTRIBUTES) {
      LogFormat("File '%s' to be deleted does not exist.", p);
      continue;
    }
    if (!::SetFileAttributesA(p, FILE_ATTRIBUTE_NORMAL))
      LogFormat("SetFileAttributes failed to set file attribute FILE_ATTRIBUTE_NORMAL for file "
                "'%s'. Error 0x0%x.",
                p, static_cast<unsigned>(LastErrorCode()));
    if (IsFileLocked(path)) {
      // A file this run also installs is never deleted at the restart: its
      // new copy would go with it.
      const bool installed =
          std::any_of(state.pendingInstalls.begin(), state.pendingInstalls.end(),
                      [&](const auto& install) {
                        return ::lstrcmpiA(install.first.c_str(), p) == 0;
                      });
      if (installed) {
        LogFormat("Locked file '%s' is not deleted: this run installs it.", p);
        continue;
      }
      if (const DWORD error = DeleteFileDelayReboot(path, state.journal)) {
        LogFormat("Failed to delete locked file '%s'. Error 0x0%x.", p,
                  static_cast<unsigned>(error));
      } else {
        LogFormat("Locked file '%s' remove is delayed till next reboot.", p);
        state.waitingForRestart.push_back(path);
      }
      state.rebootRequired = 1;
    } else if (state.journal && state.journal->Active()) {
      // Deleted by stepping aside: a restore can put it back.
      std::string kept;
      if (const DWORD error = state.journal->KeepFile(path, kept))
        LogFormat("Failed to delete file '%s'. Error 0x0%x.", p, static_cast<unsigned>(error));
      else
        LogFormat("Successfully deleted file '%s'.", p);
    } else if (::DeleteFileA(p)) {
      LogFormat("Successfully deleted file '%s'.", p);
    } else {
      LogFormat("Failed to delete file '%s'. Error 0x0%x.", p,
                static_cast<unsigned>(LastErrorCode()));
    }
  }
  LogWrite("Done Removing old files.");
}

// Phase 2: from here on Cancel has no effect. The windows belong to other
// threads: they are told, not waited for.
DWORD CDownloadThread::InstallPhase(bool restartHost) {
  if (HasProgressWindow()) ::ShowWindowAsync(progressWindow_, SW_HIDE);
  CompletionWindowScope completion(StartCompletionDialog());
  const bool visible = !SetupAndQuiet();
  if (visible) completion->Show(true);
  HWND status = completion->Window();

  ManagerState manager;
  manager.closeNeeded = restartHost;
  if (restartHost && visible)
    manager.stillRunning = CloseRunningManager(status, &manager.closed) == 0;
  DeleteMarkedFiles(markedForDeleting_);

  CompletionWindowTexts texts(*completion);
  DWORD result = InstallFiles(*completion);
  if (result == 0) {
    RegisterModules(state, texts);
    if (visible) {
      ::SetWindowPos(status, HWND_NOTOPMOST, 0, 0, 0, 0,
                     SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_ASYNCWINDOWPOS);
      ::ShowWindowAsync(status, SW_MINIMIZE);
    }
    result = ExecuteHooks(state, texts);
    if (visible) {
      ::ShowWindowAsync(status, SW_RESTORE);
      ::SetWindowPos(status, HWND_TOPMOST, 0, 0, 0, 0,
                     SWP_NOMOVE | SWP_NOSIZE | SWP_ASYNCWINDOWPOS);
    }
  }
  if (result != 0) {
    FinishFailedRun(*completion, result, manager);
    completion.Release();  // the sequence has closed it
    return result;
  }

  for (const Component& component : state.components) {
    if (Contains(state.failedComponents, component.sName)) continue;
    journal_.RegistryValue(HKEY_LOCAL_MACHINE, kComponentsKey, component.sName);
    RecordComponentVersion(component);
  }
  // The run ended well: the old copies go.
  journal_.Commit();
  SummarizeRun();
  CloseProgressWindow();
  completion->Show(false);
  const DWORD done = RunCompletionSequence(*completion, state.rebootRequired, manager);
  completion.Release();  // the sequence has closed it
  return done;
}

// What became of the chosen components, the files and the restart, for the
// run summary of a run that ended well.
void CDownloadThread::SummarizeRun() {
  RunSummary& summary = TheRunSummary();
  for (const Component& component : state.components) {
    if (Contains(state.failedComponents, component.sName))
      summary.SetAction(component.sName, "failed", "its package did not run");
    else
      summary.SetAction(component.sName, "installed");
  }
  for (const auto& file : installedFiles_)
    summary.AddFile(file.first, file.second ? "deferred" : "installed");
  for (const std::string& path : state.waitingForRestart) summary.AddRestartReason(path);
  for (const std::string& hook : state.restartHooks) summary.AddRestartReason(hook);
}

bool CDownloadThread::RestoreInstallation() {
  if (!journal_.Active()) return false;
  const std::vector<std::string> missed = journal_.Restore();
  for (const std::string& program : state.programsRun)
    LogFormat("The program '%s' ran in this run; what it did is not undone.", program.c_str());
  if (missed.empty()) {
    LogWrite("The installation is restored as it was before this run.");
    // Nothing of this run waits for the restart any more, unless a hook asked.
    state.rebootRequired = state.hookAskedRestart;
    state.waitingForRestart.clear();
    restoreText_ = LoadResString(IDS_UPDATE_RESTORED);
    return true;
  }
  std::string list;
  for (const std::string& what : missed) list += (list.empty() ? "'" : ", '") + what + "'";
  LogFormat("The installation is restored, except for: %s.", list.c_str());
  restoreText_ = FormatText(LoadResString(IDS_UPDATE_NOT_RESTORED).c_str(), list.c_str());
  return false;
}

// The user learns of the error and of the restore, then of a restart of
// Windows that something of this run still waits for, or gets back the
// manager this run closed. A quiet run leaves it all in the log.
void CDownloadThread::FinishFailedRun(CompletionDialog& completion, DWORD error,
                                      const ManagerState& manager) {
  LogFormat("The installation of the components failed. Error 0x0%x.",
            static_cast<unsigned>(error));
  RestoreInstallation();
  // What failed (with the system's words for it), then what the restore did.
  std::string message = CError(error, state.errorText).Description();
  if (!restoreText_.empty()) message += (message.empty() ? "" : "\n") + restoreText_;
  TheRunSummary().SetError(error, message);
  for (const Component& component : state.components)
    TheRunSummary().SetAction(component.sName, "failed", state.errorText);
  if (state.rebootRequired) {
    std::string files;
    for (const std::string& path : state.waitingForRestart)
      files += (files.empty() ? "'" : ", '") + path + "'";
    if (files.empty())
      LogWrite("A restart of Windows is due to complete what was installed.");
    else
      LogFormat("Files wait for the next start of Windows: %s.", files.c_str());
  }
  CloseProgressWindow();
  completion.Show(false);
  if (!IsQuiet() && !message.empty())
    AppMessageBox(message, MB_OK | MB_ICONSTOP, kCaptionInstall);
  RunCompletionSequence(completion, state.rebootRequired, manager, true);
  state.failureReported = 1;
}
