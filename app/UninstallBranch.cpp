// The uninstall mode: an uninstaller started from the installation's own
// "Bin" folder first moves out of it (to the temporary folder), so that the removal
// can delete the program's own files; then the user confirms and the removal
// runs. A dry run removes nothing, so it runs in place and asks nothing.
#include <string>

#include "app/Program.h"
#include "core/Error.h"
#include "core/Locations.h"
#include "core/Log.h"
#include "core/MessageBox.h"
#include "core/UpdateLog.h"
#include "frame/Handle.h"
#include "install/FileReplace.h"
#include "uninstall/UninstallCopy.h"
#include "uninstall/UninstallFlow.h"

frame::ScopedHandle& InstanceMutex();
bool CreateInstanceMutex();

namespace {

std::string OwnPath() {
  char path[MAX_PATH] = "";
  DWORD length = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
  return length && length < MAX_PATH ? std::string(path, length) : std::string();
}

// "name.ext" of a path.
std::string FileNameOf(const std::string& path) {
  const auto slash = path.find_last_of("\\/:");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool FileExists(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Copies the program into a new folder of its own below the temporary folder
// and starts the copy with only "/Uninstall". 0 when the copy runs and this
// process should end, else the error; the log is open again then.
DWORD RelaunchFromTemp(const std::string& ownPath) {
  std::string folder;
  DWORD error = MakeUninstallCopyFolder(folder);
  if (error) {
    LogFormat("Cannot make a folder for the uninstaller's copy in '%s'. Error %lu.",
              GetTempDir().c_str(), static_cast<unsigned long>(error));
    return error;
  }
  // The temporary folder is the user's, who may rename what is in it: the
  // folder is held, sharing no rename or delete, from here until the copy
  // runs, and so is the copy once written (shared for reading only), so that
  // what starts is what was copied.
  frame::ScopedFile heldFolder(::CreateFileA(
      folder.c_str(), FILE_LIST_DIRECTORY | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!heldFolder) {
    error = ::GetLastError();
    LogFormat("Cannot hold the folder '%s'. Error %lu.", folder.c_str(),
              static_cast<unsigned long>(error));
    ::RemoveDirectoryA(folder.c_str());
    return error ? error : ERROR_CANNOT_MAKE;
  }
  const std::string copy = folder + FileNameOf(ownPath);
  if (!::CopyFileA(ownPath.c_str(), copy.c_str(), TRUE)) {
    error = ::GetLastError();
    LogFormat("Cannot copy the uninstaller to '%s'. Error %lu.", copy.c_str(),
              static_cast<unsigned long>(error));
    heldFolder.reset();
    ::RemoveDirectoryA(folder.c_str());
    return error ? error : ERROR_CANNOT_MAKE;
  }
  frame::ScopedFile heldCopy(::CreateFileA(copy.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!heldCopy) {
    error = ::GetLastError();
    LogFormat("Cannot hold the uninstaller's copy '%s'. Error %lu.", copy.c_str(),
              static_cast<unsigned long>(error));
    heldFolder.reset();
    ::DeleteFileA(copy.c_str());
    ::RemoveDirectoryA(folder.c_str());
    return error ? error : ERROR_CANNOT_MAKE;
  }
  char commandLine[2 * MAX_PATH + 32];
  wsprintfA(commandLine, "\"%s\" %s", copy.c_str(), "/Uninstall");
  LogWrite("Launching Uninstall from temp directory:");
  LogWrite(commandLine);
  TheUpdateLog().Finish();

  // The copy tests for the single-instance mutex as every start does, so let
  // it go first; it is taken again if the copy cannot be started.
  InstanceMutex().reset();
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  // It works in its own folder, which no ordinary program can write.
  if (!::CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS,
                        nullptr, folder.c_str(), &startup, &process)) {
    error = ::GetLastError();
    CreateInstanceMutex();
    TheUpdateLog().Open(true);
    LogFormat("Cannot start the uninstaller's copy '%s'. Error %lu.", copy.c_str(),
              static_cast<unsigned long>(error));
    heldCopy.reset();
    heldFolder.reset();
    ::DeleteFileA(copy.c_str());
    ::RemoveDirectoryA(folder.c_str());
    return error ? error : ERROR_CANNOT_MAKE;
  }
  frame::ScopedHandle processHandle(process.hProcess);
  frame::ScopedHandle threadHandle(process.hThread);
  return 0;
}

}  // namespace

int RunUninstallBranch() {
  const std::string appDir = GetAppDir();
  const std::string ownPath = OwnPath();
  const bool dryRun = IsDryRun();
  // The installed program however it was reached: a short name, another
  // case, a path through a link all name the same file.
  if (!dryRun && !appDir.empty() &&
      IsSameFile(ownPath, appDir + "Bin\\" + FileNameOf(ownPath))) {
    // Run in place, the removal could not take Bin\ and would still say it
    // succeeded: a copy that cannot be made or started ends the run here,
    // with nothing removed.
    if (const DWORD error = RelaunchFromTemp(ownPath)) throw CError(error, "Uninstall failed.");
    return kExitOk;
  }
  // The copy the relaunch made goes at the next start of Windows, however this
  // run ends (a "No", a cancel, a failure): nobody else can remove it.
  if (!dryRun && IsUninstallCopy(ownPath)) DeleteFileDelayReboot(ownPath);

  if (!dryRun && AppMessageBox(IDS_CONFIRM_UNINSTALL, MB_YESNO | MB_ICONQUESTION) != IDYES)
    return kExitOk;

  // Without an installation folder there is nothing to look in: never the
  // current folder's "Bin\".
  if (appDir.empty() || !FileExists(appDir + "Bin\\PM Install1.INF")) {
    AppMessageBox(IDS_NO_UNINSTALL_FILE, MB_OK | MB_ICONSTOP);
    return kExitFailed;
  }
  // The removal's own result, so that a run the user gave up on, or one that
  // could not read its catalogue, does not read as done. An uninstall that
  // ran to its end has asked about the restart itself; a dry run tells
  // whether one would be needed.
  const int result = UninstallFlow(appDir);
  if (result == kUninstallRestartNeeded) return dryRun ? kExitRestartNeeded : kExitOk;
  return result == 0 ? kExitOk : kExitFailed;
}
