#include "install/DamagedFiles.h"

#include <windows.h>

#include "core/Locations.h"
#include "core/Error.h"
#include "core/Log.h"
#include "core/MessageBox.h"
#include "frame/Handle.h"
#include "install/FileReplace.h"
#include "resources/StringIds.h"

namespace {

void RemoveDamagedFile(const std::string& path, uint32_t* rebootRequired) {
  LogFormat("Deleting damaged file '%s'.", path.c_str());
  // A read-only file cannot be deleted; on Windows it would also count as
  // locked below (it cannot be opened for writing) and wait for a restart.
  ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (!IsFileLocked(path)) {
    if (!::DeleteFileA(path.c_str()))
      LogFormat("Failed to delete damaged file '%s'. Error 0x0%x.", path.c_str(),
                static_cast<unsigned>(LastErrorCode()));
    return;
  }
  LogFormat("The damaged file '%s is locked. Will be removed on next reboot.", path.c_str());
  if (rebootRequired) *rebootRequired = 1;
  if (const DWORD error = DeleteFileDelayReboot(path))
    LogFormat("Failed to delete damaged locked file '%s'. Error 0x0%x.", path.c_str(),
              static_cast<unsigned>(error));
}

}  // namespace

bool IsDamagedFileName(const std::string& name) {
  if (name.find('~') == std::string::npos) return false;
  const size_t dot = name.find_last_of('.');
  if (dot == std::string::npos) return false;
  const char* extension = name.c_str() + dot;
  for (const char* binary : {".dll", ".ocx", ".exe"})
    if (::lstrcmpiA(extension, binary) == 0) return true;
  return false;
}

int SweepDamagedFiles(const std::string& folder, SweepMode mode, uint32_t* rebootRequired) {
  WIN32_FIND_DATAA entry;
  frame::ScopedFind find(::FindFirstFileA((folder + "*.*").c_str(), &entry));
  if (!find) return 0;  // a folder that cannot be listed is skipped
  do {
    const std::string name = entry.cFileName;
    if (name == "." || name == "..") continue;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      // A junction leads out of the tree: nothing there is the manager's.
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) continue;
      if (SweepDamagedFiles(folder + name + "\\", mode, rebootRequired) && mode == SweepMode::Report)
        return 1;
      continue;
    }
    if (!IsDamagedFileName(name)) continue;
    const std::string path = folder + name;
    if (mode == SweepMode::Report) {
      LogFormat("Damaged file '%s' found.", path.c_str());
      return 1;
    }
    RemoveDamagedFile(path, rebootRequired);
  } while (::FindNextFileA(find.get(), &entry));
  return 0;
}

// Without an application folder there is nothing to sweep: an empty folder
// would make the sweep list the current folder instead.
bool HasDamagedFiles() {
  const std::string appDir = GetAppDir();
  return !appDir.empty() && SweepDamagedFiles(appDir, SweepMode::Report) == 1;
}

int RemoveDamagedFiles() {
  const std::string appDir = GetAppDir();
  uint32_t rebootRequired = 0;
  if (!appDir.empty()) SweepDamagedFiles(appDir, SweepMode::Remove, &rebootRequired);
  if (rebootRequired) {
    // Asked whatever the quiet option: the files stay until the restart.
    if (AppMessageBox(IDS_CONFIRM_REBOOT, MB_YESNO | MB_ICONQUESTION, MessageCaptionId()) == IDYES &&
        !RebootComputer())
      AppMessageBox(IDS_REBOOT_FAILED, MB_OK | MB_ICONERROR);
  }
  return 1;
}
