#include "uninstall/UninstallFlow.h"

#include <windows.h>

#include <memory>

#include "browser/BrowserStep.h"
#include "browser/Plugins.h"
#include "browser/Sites.h"
#include "core/Error.h"
#include "core/Locations.h"
#include "core/Log.h"
#include "core/MessageBox.h"
#include "core/Resources.h"
#include "core/RunSummaryFile.h"
#include "core/SystemLibraries.h"
#include "frame/RegKey.h"
#include "host/HostControl.h"
#include "host/Processes.h"
#include "install/RestartWork.h"
#include "resources/StringIds.h"
#include "uninstall/DirectoryRemoval.h"
#include "removal/RemovalActions.h"
#include "uninstall/RemovalLists.h"
#include "uninstall/UninstallCatalogue.h"
#include "uninstall/UninstallProgressWindow.h"

namespace {

const char kCatalogueName[] = "PM Install1.INF";
const char kProductKey[] = "SOFTWARE\\Pellory";
const char kUninstallKeys[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
// The window's thread only has to destroy its window; a thread that does not
// end by then is left to the end of the process.
constexpr DWORD kWindowCloseBound = 30000;

const char kAudioKept[] = "an audio file, kept by the answer No to the audio question";
const char kSystemFolder[] = "a system folder or a drive root";

// A dry run shows no window: it removes nothing to show.
bool WindowStaysHidden() {
  return (IsSetupMode() && IsQuiet()) || TheRemovalActions().DryRun();
}

bool FileExists(const std::string& path) {
  const DWORD attributes = TheRemovalActions().Attributes(path);
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The progress window for the length of the flow: hidden and closed on every
// way out, the early ones included.
class ProgressScope {
 public:
  ProgressScope() : window_(StartUninstallProgressWindow()) {}
  ~ProgressScope() { Close(); }
  UninstallProgressWindow& operator*() const { return *window_; }
  UninstallProgressWindow* operator->() const { return window_.get(); }

  void Close() {
    if (closed_) return;
    closed_ = true;
    window_->Show(false);
    if (!window_->Close(kWindowCloseBound))
      LogWrite("The uninstall progress window did not close; it ends with the program.");
  }

 private:
  std::shared_ptr<UninstallProgressWindow> window_;
  bool closed_ = false;
};

// Shows the window again after a question, unless a quiet setup keeps it out
// of sight.
void ShowAgain(UninstallProgressWindow& window) {
  if (!WindowStaysHidden()) window.Show(true);
}

// Waits for a program to end, the window out of the way while the user is
// asked; false when the user gave up.
bool WaitForProgram(UninstallProgressWindow& window, const char* module, const char* shownAs) {
  if (!IsModuleRunning(module)) return true;
  if (!TheRemovalActions().Allows(std::string("ask the user to exit ") + shownAs)) return true;
  window.Show(false);
  const bool ended = WaitForModuleExit(module, shownAs, IDS_CONFIRM_CANCEL_UNINSTALL) != 0;
  if (ended) ShowAgain(window);
  return ended;
}

// A sweep through a whole tree, unless the folder is one no sweep may enter
// (a drive root, a system folder or one above it).
void SweepTree(const std::string& folder, UninstallProgressWindow& window, const char* first,
               const char* second = nullptr) {
  if (folder.empty()) return;
  if (IsSystemFolderOrAbove(folder)) {
    LogFormat("Refusing to search '%s' for files to delete: it is a system folder or a drive root.",
              folder.c_str());
    TheRemovalActions().Refuse(folder, kSystemFolder);
    return;
  }
  RemoveDirectoryTree(folder, &window, first, second);
}

void DeleteKeyTree(HKEY root, const std::string& parent, const std::string& name) {
  RemovalActions& actions = TheRemovalActions();
  const LONG rc = actions.DeleteRegistryKey(root, parent, name);
  if (rc == ERROR_SUCCESS)
    actions.Report("Registry key '%s\\%s' has been deleted.", parent.c_str(), name.c_str());
  else if (rc != ERROR_FILE_NOT_FOUND)
    LogFormat("Cannot delete registry key '%s\\%s'. Error %ld.", parent.c_str(), name.c_str(), rc);
}

// Every subkey of the product key but the group maps, then every value of
// the key itself; the first failure ends it. Not listed: the whole key goes
// later, and is listed then.
void EmptyProductKey() {
  frame::RegKey key;
  if (key.Open(HKEY_LOCAL_MACHINE, kProductKey, KEY_READ | KEY_WRITE) != ERROR_SUCCESS) return;
  if (!TheRemovalActions().Allows(std::string("empty the registry key 'HKLM\\") + kProductKey +
                                  "' but for its group maps"))
    return;
  DWORD index = 0;
  for (;;) {
    char name[256];
    DWORD length = sizeof(name);
    LONG rc = ::RegEnumKeyExA(key.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc != ERROR_SUCCESS) {
      LogFormat("Cannot list the keys of '%s'. Error %ld.", kProductKey, rc);
      return;
    }
    if (std::string(name, length).find("GIDMAP") != std::string::npos) {
      ++index;  // kept until the whole key goes
      continue;
    }
    rc = key.DeleteSubKeyTree(std::string(name, length));
    if (rc != ERROR_SUCCESS) {
      LogFormat("Cannot delete registry key '%s\\%s'. Error %ld.", kProductKey, name, rc);
      return;
    }
  }
  for (;;) {
    char name[16384];
    DWORD length = sizeof(name);
    LONG rc =
        ::RegEnumValueA(key.get(), 0, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc == ERROR_SUCCESS) rc = key.DeleteValue(std::string(name, length));
    if (rc != ERROR_SUCCESS) {
      LogFormat("Cannot delete the values of '%s'. Error %ld.", kProductKey, rc);
      return;
    }
  }
}

// "C:\A\B\" of "C:\A\B\Logs\"; empty when there is none.
std::string ParentFolder(const std::string& folder) {
  if (folder.size() < 2) return std::string();
  const std::string::size_type slash = folder.find_last_of('\\', folder.size() - 2);
  return slash == std::string::npos ? std::string() : folder.substr(0, slash + 1);
}

// Removes a folder when it exists and is empty; false when it was there,
// empty, and could not be removed.
bool RemoveIfEmpty(const std::string& folder) {
  if (!DirectoryExists(folder) || !IsDirectoryEmpty(folder)) return true;
  return RemoveDirectoryEntry(folder);
}

// The audio files the answer No keeps, listed where the sweep for them would
// have looked.
void ListKeptAudioFiles(const std::string& folder) {
  if (folder.empty() || IsSystemFolderOrAbove(folder)) return;
  FindFilesOfKinds(
      folder, [](const std::string& path) { TheRemovalActions().Keep(path, kAudioKept); },
      ".plw", ".plx");
}

// The Content.plr of the installation: deleted now, or at the next start of
// Windows while something holds it.
void RemoveContentFile(const std::string& path, UninstallProgressWindow& window,
                       bool& rebootNeeded) {
  if (!FileExists(path)) return;
  window.SetDetail(path);
  RemovalActions& actions = TheRemovalActions();
  if (actions.IsInUse(path)) {
    actions.DeleteAtRestart(path);
    rebootNeeded = true;
    return;
  }
  if (!actions.DeleteFile(path))
    actions.Report("Cannot delete file '%s'. Error %lu.", path.c_str(), ::GetLastError());
}

// The manager's shell extension: unregistered and deleted, or left to the
// next start of Windows (the shell that holds it asks for no restart).
void RemoveShellExtension(const std::string& path) {
  if (!FileExists(path)) return;
  RemovalActions& actions = TheRemovalActions();
  actions.Unregister(path);
  actions.ClearAttributes(path);
  if (actions.IsInUse(path) || !actions.DeleteFile(path)) actions.DeleteAtRestart(path);
}

// The run summary beside a log the sweeps take (Update.json beside
// Update.log): an update's in the logs folder, and that of a run in place in
// Bin\ (a dry run's).
void RemoveRunSummary(const std::string& folder) {
  const std::string path = RunSummaryPath(folder + "Update.log");
  if (!path.empty() && FileExists(path)) TheRemovalActions().DeleteFile(path);
}

}  // namespace

int UninstallFlow(const std::string& installDir) {
  // 1. The shell functions; PathSetDlgItemPathA is optional.
  BindShlwapi();
  if (!BindShell()) {
    LogWrite("Shell32.dll is not installed or old version");
    AppMessageBox(IDS_UNINSTALL_SHELL_MISSING, MB_OK | MB_ICONINFORMATION);
    return -1;
  }

  RemovalActions& actions = TheRemovalActions();
  actions.SetDryRun(IsDryRun());
  if (actions.DryRun())
    LogWrite("Dry run: the uninstall says what it would do and changes nothing.");

  // 2. The cookies' site is read now: its setting goes with the product key.
  const std::string cookieUrl = GetCookieUrl();
  const std::string appDir = WithBackslash(installDir);
  const std::string binDir = appDir + "Bin\\";
  PrependBinToPath();
  LogFormat("Uninstalling PelloryManager from '%s'.", appDir.c_str());
  // Started from a shortcut or by the relaunch, the working folder may be the
  // "Bin" folder itself, which the process holds open: it could never go. The
  // system folder is one no ordinary program can put anything into.
  char systemDir[MAX_PATH] = "";
  const UINT systemLength = ::GetSystemDirectoryA(systemDir, MAX_PATH);
  if (systemLength && systemLength < MAX_PATH) ::SetCurrentDirectoryA(systemDir);
  bool rebootNeeded = false;

  // 3. The progress window.
  ProgressScope window;
  window->SetStatus(IDS_VERIFYING_INSTALLATION);
  ShowAgain(*window);

  // 4. Whatever runs from the installation. Nothing is removed before this.
  // The window is hidden and shown through its own queue, in the order asked.
  if (::FindWindowA(kManagerWindowClass, nullptr) && actions.Allows("close PelloryManager")) {
    window->Show(false);
    CloseRunningManager(nullptr);
    ShowAgain(*window);
  }
  if (!::FindWindowA(nullptr, kDownloadManagerTitle) ||
      actions.Allows(std::string("close ") + kDownloadManagerTitle))
    CloseDownloadManager();
  if (!WaitForProgram(*window, "Manager.exe", "PelloryManager") ||
      !WaitForProgram(*window, "PDHelper.exe", kDownloadManagerTitle) ||
      !WaitForProgram(*window, "PelloryDownloadHelper.exe", kDownloadManagerTitle)) {
    LogWrite("Uninstall cancelled: a program of the installation is still running.");
    return -1;
  }

  // 5. The catalogue, read once and checked before anything is removed; every
  // later pass works from what is held in memory (the file goes with Bin\).
  UninstallCatalogue catalogue;
  if (const DWORD error = ReadUninstallCatalogue(binDir + kCatalogueName, catalogue))
    throw CError(error, "Uninstall failed.");

  // 6. The uninstall hooks.
  window->SetStatus(IDS_STATUS_EXECUTING);
  window->SetDetail("");
  RunUninstallHooks(catalogue.sections, &*window, rebootNeeded);

  // 7. The audio files are the user's: asked, No by default; a dry run asks
  // nothing and takes the default.
  window->SetStatus(IDS_STATUS_DELETING_FILE);
  window->SetDetail("");
  window->Show(false);
  const bool removeAudio =
      !actions.DryRun() && AppMessageBox(IDS_CONFIRM_REMOVE_AUDIO,
                                         MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
  ShowAgain(*window);
  LogFormat("Audio files: %s.", removeAudio ? "removed" : "kept");

  // 8. Program data the catalogue does not list, unless the installation
  // folder is one no removal may reach into.
  if (IsSystemFolderOrAbove(appDir)) {
    LogFormat("Refusing to remove program data below '%s': it is a system folder or a drive "
              "root.", appDir.c_str());
    actions.Refuse(appDir, kSystemFolder);
  } else {
    RemoveDirectoryTree(appDir + "Admin", &*window);
    // The plug-ins' folder is the program's own: it goes once the sweep
    // has left it empty.
    RemoveDirectoryTree(binDir + "Plugins", &*window, ".dll");
    RemoveIfEmpty(binDir + "Plugins");
    actions.DeleteFile(binDir + "Upgrade.exe");
    RemoveRunSummary(binDir);
  }
  SweepTree(appDir, *window, ".log");

  // 9. The audio files, when the user said so.
  const std::string logsDir = GetLogsDir();
  if (removeAudio) {
    SweepTree(appDir, *window, ".plw", ".plx");
    SweepTree(GetProgramsDir(), *window, ".plw", ".plx");
    RemoveContentFile(binDir + "Content.plr", *window, rebootNeeded);
  } else {
    ListKeptAudioFiles(appDir);
    ListKeptAudioFiles(GetProgramsDir());
    if (FileExists(binDir + "Content.plr")) actions.Keep(binDir + "Content.plr", kAudioKept);
  }

  // 10-13. The installed files: each handled once, plain deletions last.
  ProcessedList processed;
  MarkedForDeletingList marked;
  RemoveComponentFiles(catalogue.components, appDir, &*window, processed, marked, rebootNeeded);
  RemoveListedFiles(catalogue.sections, &*window, processed, marked, rebootNeeded);
  RemoveShellExtension(binDir + "PelloryExt.dll");
  DeleteMarkedFiles(marked);

  // 14-15. Shortcuts and registry entries.
  window->SetStatus(IDS_STATUS_REMOVING_SHORTCUTS);
  window->SetDetail("");
  RemoveListedShortcuts(catalogue.sections, &*window);
  window->SetStatus(IDS_STATUS_REMOVING_REGISTRY);
  window->SetDetail("");
  RemoveListedRegistryEntries(catalogue.sections);

  // 16. The product key's settings; the group maps stay until step 22.
  EmptyProductKey();

  // 17. This program, when it is the copy the relaunch made, is already
  // waiting for the next start of Windows (it was scheduled as it started); a
  // copy the user keeps elsewhere is the user's.

  // 18. Bin\, then the installation folder, when empty.
  RemoveIfEmpty(binDir);
  bool appDirDeferred = false;
  if (!RemoveIfEmpty(appDir) && IsRemovableFolderPath(appDir)) {
    actions.DeleteAtRestart(appDir);
    rebootNeeded = true;
    appDirDeferred = true;
  }

  // 19. The entry in the list of installed programs.
  DeleteKeyTree(HKEY_LOCAL_MACHINE, kUninstallKeys, LoadResString(IDS_PRODUCT_NAME));

  // 20. The logs, then what is left empty.
  if (!logsDir.empty() && !IsSystemFolderOrAbove(logsDir)) {
    RemoveDirectoryTree(logsDir, &*window, ".log");
    RemoveRunSummary(logsDir);
    // The sweep leaves the folder it was given; it goes here once empty.
    if (DirectoryExists(logsDir)) RemoveEmptyDirectories(logsDir, &*window);
  }
  if (!IsSystemFolderOrAbove(appDir)) RemoveEmptyDirectories(appDir, &*window);
  // The folder that held the logs (the user's "Documents\Pellory"), once
  // nothing is left in it.
  const std::string logsParent = ParentFolder(logsDir);
  if (!logsParent.empty() && ::lstrcmpiA(logsParent.c_str(), appDir.c_str()) != 0 &&
      !IsSystemFolderOrAbove(logsParent))
    RemoveIfEmpty(logsParent);
  if (!appDirDeferred && DirectoryExists(appDir))
    actions.Keep(appDir, "the installation folder still holds files");

  // 21. The window goes; then the plug-ins.
  window.Close();
  RemovePlugins(rebootNeeded);

  // 22. The product's keys, group maps included.
  DeleteKeyTree(HKEY_LOCAL_MACHINE, "SOFTWARE", "Pellory");
  DeleteKeyTree(HKEY_CURRENT_USER, "SOFTWARE", "Pellory");

  // 23. The sites are told, and their cookies emptied.
  if (actions.Allows("tell the maker's sites of the uninstall and empty their cookies"))
    RunBrowserStep(cookieUrl);

  // 24. The result. A dry run only says it.
  if (actions.DryRun()) {
    LogWrite(rebootNeeded ? "Dry run: the uninstall would leave some of this for the next start "
                            "of Windows."
                          : "Dry run: the uninstall could remove all of this now.");
    LogWrite("Dry run: nothing on this machine has been changed.");
  } else if (!rebootNeeded) {
    LogWrite("PelloryManager has been uninstalled.");
    AppMessageBox(IDS_UNINSTALL_SUCCEEDED, MB_OK | MB_ICONINFORMATION);
  } else {
    LogWrite("PelloryManager has been uninstalled; some files go at the next start of Windows.");
    if (AppMessageBox(IDS_UNINSTALL_REBOOT, MB_YESNO | MB_ICONQUESTION) == IDYES)
      RebootComputer();
  }
  return rebootNeeded ? kUninstallRestartNeeded : 0;
}
