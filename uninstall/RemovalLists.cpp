#include "uninstall/RemovalLists.h"

#include <shlobj.h>

#include <cstdio>

#include "catalog/ComponentCatalog.h"
#include "catalog/RegistryEntry.h"
#include "catalog/TargetPath.h"
#include "core/Locations.h"
#include "core/Log.h"
#include "core/Resources.h"
#include "core/SystemLibraries.h"
#include "frame/RegKey.h"
#include "install/FileReplace.h"
#include "install/Hooks.h"
#include "install/Registration.h"
#include "resources/StringIds.h"
#include "uninstall/DirectoryRemoval.h"

namespace {

// The catalogue's values go through fixed buffers of this size.
constexpr size_t kValueCapacity = 260;
constexpr DWORD kHookRebootCode = 36;
const char kSharedDllsKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDlls";

std::string ReadValue(const IniFile& catalogue, const std::string& section,
                      const std::string& key) {
  char buffer[kValueCapacity] = "";
  catalogue.GetStringToBuffer(section, key, "", buffer, sizeof(buffer));
  return buffer;
}

// The values of Key1, Key2, ... of a section, up to the first missing or
// empty one: a gap ends the list.
std::vector<std::string> NumberedValues(const IniFile& catalogue, const std::string& section,
                                        const char* keyFormat) {
  std::vector<std::string> values;
  for (int n = 1;; ++n) {
    char key[32];
    std::snprintf(key, sizeof(key), keyFormat, n);
    std::string value = ReadValue(catalogue, section, key);
    if (value.empty()) break;
    values.push_back(std::move(value));
  }
  return values;
}

void ShowDetail(RemovalProgress* progress, const std::string& path) {
  if (progress) progress->SetDetail(path);
}

void ShowStatus(RemovalProgress* progress, UINT textId) {
  if (progress) progress->SetStatus(LoadResString(textId));
}

std::string FullPath(const std::string& name, const std::string& destDir) {
  ComponentFile file;
  file.sName = name;
  file.sDestDir = destDir;
  return TargetPath(file);
}

bool IsSharedSystemDir(const std::string& destDir) {
  return ::lstrcmpiA(destDir.c_str(), "LDID_SYS") == 0 ||
         ::lstrcmpiA(destDir.c_str(), "LDID_WIN") == 0;
}

// A file in use waits for the next start of Windows; one that is free is
// deleted in the final pass.
void ReleaseFile(const std::string& path, MarkedForDeletingList& marked, bool& rebootNeeded,
                 bool logDeferral) {
  if (!IsFileLocked(path)) {
    marked.Append(path);
    return;
  }
  const DWORD error = DeleteFileDelayReboot(path);
  if (logDeferral) {
    if (error == 0)
      LogFormat("Deleting of locked file '%s' is delayed till reboot.", path.c_str());
    else
      LogFormat("DeleteFileDelayReboot failed to delete file '%s'. Error 0x0%x.", path.c_str(),
                static_cast<unsigned>(error));
  }
  // Even a failed deferral ends the run with the restart question.
  rebootNeeded = true;
}

std::string CaseFolded(std::string path) {
  if (!path.empty()) ::CharLowerBuffA(&path[0], static_cast<DWORD>(path.size()));
  return path;
}

}  // namespace

bool RemovalPathList::Contains(const std::string& path) const {
  return index_.count(CaseFolded(path)) != 0;
}

bool RemovalPathList::Append(const std::string& path) {
  if (!index_.insert(CaseFolded(path)).second) return false;
  paths_.push_back(path);
  return true;
}

void RunUninstallHooks(const IniFile& catalogue, RemovalProgress* progress, bool& rebootNeeded) {
  for (const std::string& section : NumberedValues(catalogue, "Uninstall Hooks", "Hook%d")) {
    const std::string cmdLine = ReadValue(catalogue, section, "CmdLine");
    const std::string destDir = ReadValue(catalogue, section, "DestDir");
    const std::string path = FullPath(section, destDir);
    if (path.empty()) continue;  // refused by TargetPath, which logged it
    ShowDetail(progress, path);
    uint32_t reboot = 0;
    LaunchHook("\"" + path + "\" " + cmdLine, reboot);
    if (reboot) rebootNeeded = true;
  }
}

void ReleaseSharedDllCount(HKEY sharedDlls, const std::string& path) {
  DWORD type = 0;
  DWORD count = 0;
  DWORD bytes = sizeof(count);
  if (::RegQueryValueExA(sharedDlls, path.c_str(), nullptr, &type,
                         reinterpret_cast<BYTE*>(&count), &bytes) != ERROR_SUCCESS ||
      type != REG_DWORD || bytes != sizeof(count))
    return;
  // A count already at 0 stays there rather than wrapping to 4294967295.
  if (count == 0) return;
  --count;
  ::RegSetValueExA(sharedDlls, path.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&count),
                   sizeof(count));
}

namespace {

// Where a component's file is for removal; "" (logged) for one that must stay
// where it is.
std::string RemovablePath(const ComponentFile& file, const std::string& appDir) {
  if (file.sDestDir.empty() && !IsNullClassId(file.clsid)) {
    const std::string server = InstalledServerPath(file.clsid);
    if (!server.empty()) {
      if (IsPathInsideFolder(server, appDir)) return server;
      LogFormat("The registered server '%s' of '%s' lies outside the installation; it is "
                "left alone.", server.c_str(), file.sName.c_str());
    }
    // The file's own place in the installation, whatever is registered.
    ComponentFile placed = file;
    placed.clsid = ClassId{};
    return TargetPath(placed, appDir);
  }
  return TargetPath(file, appDir);
}

}  // namespace

void RemoveComponentFiles(const ComponentCatalog& catalogue, const std::string& appDir,
                          RemovalProgress* progress, ProcessedList& processed,
                          MarkedForDeletingList& marked, bool& rebootNeeded) {
  for (const Component& component : catalogue) {
    for (const ComponentFile& file : component.files) {
      const std::string path = RemovablePath(file, appDir);
      if (path.empty() || processed.Contains(path)) continue;
      const DWORD attributes = ::GetFileAttributesA(path.c_str());
      if (attributes == INVALID_FILE_ATTRIBUTES) continue;
      ShowDetail(progress, path);
      if (IsSharedSystemDir(file.sDestDir)) {
        // Other programs may use it: only its use count goes down.
        frame::RegKey key;
        if (key.Open(HKEY_LOCAL_MACHINE, kSharedDllsKey, KEY_READ | KEY_WRITE) == ERROR_SUCCESS)
          ReleaseSharedDllCount(key.get(), path);
      } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        // Not a file the installation put down: the folder passes take
        // folders, and only empty ones.
        LogFormat("'%s' of the component list is a folder; it is left alone.", path.c_str());
      } else {
        if (file.bOLESelfRegistered) UnregisterModule(path);
        // A read-only file is not one in use: only a file that is open stays
        // for the restart.
        if (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM))
          ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        ReleaseFile(path, marked, rebootNeeded, false);
      }
      processed.Append(path);
    }
  }
}

void RemoveListedFiles(const IniFile& catalogue, RemovalProgress* progress,
                       ProcessedList& processed,
                       MarkedForDeletingList& marked, bool& rebootNeeded) {
  for (const std::string& section : NumberedValues(catalogue, "Uninstall", "File%d")) {
    const std::string destDir = ReadValue(catalogue, section, "DestDir");
    if (destDir.empty() && catalogue.FindEntry(section, "DestDir")) continue;
    const std::string path = FullPath(section, destDir);
    if (path.empty() || processed.Contains(path)) continue;
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) continue;
    const int platform = catalogue.GetInt(section, "Platform", 31);
    if (!PlatformMatches(static_cast<uint32_t>(platform))) continue;

    const bool folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    ShowStatus(progress, folder ? IDS_STATUS_REMOVING_FOLDER : IDS_STATUS_DELETING_FILE);
    ShowDetail(progress, path);
    if (folder) {
      LogFormat("Deleteting recursively directory '%s'", path.c_str());
      // Only an empty folder goes: whatever is still in one belongs to someone.
      if (IsDirectoryEmpty(path)) RemoveDirectoryTree(path, progress);
      continue;
    }
    if (!::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL))
      LogFormat("SetFileAttributes failed to set file attribute FILE_ATTRIBUTE_NORMAL for file "
                "'%s'. Error 0x0%x.",
                path.c_str(), static_cast<unsigned>(::GetLastError()));
    ReleaseFile(path, marked, rebootNeeded, true);
    processed.Append(path);
  }
}

void DeleteMarkedFiles(const MarkedForDeletingList& marked) {
  for (const std::string& path : marked.Paths()) {
    if (::DeleteFileA(path.c_str()))
      LogFormat("Successfully deleted file '%s' marked for deleting.", path.c_str());
    else
      LogFormat("DeleteFile failed to delete file '%s'. Error %d.", path.c_str(),
                static_cast<int>(::GetLastError()));
  }
}

void RemoveListedShortcuts(const IniFile& catalogue, RemovalProgress* progress) {
  for (const std::string& value : NumberedValues(catalogue, "Uninstall", "Shortcut%d")) {
    const size_t comma = value.find(',');
    const std::string name = value.substr(0, comma);
    const std::string below = comma == std::string::npos ? "" : value.substr(comma + 1);
    const int csidl = ShellFolderId(name);
    // An unknown name would read as the desktop, and an empty, "." or
    // climbing path would reach the shell folder itself or beyond it.
    if ((csidl == 0 && ::lstrcmpiA(name.c_str(), "CSIDL_DESKTOP") != 0) ||
        !NamesEntryBelow(below)) {
      LogFormat("The shortcut entry '%s' is refused.", value.c_str());
      continue;
    }
    std::string folder;
    if (!SpecialFolderPath(csidl, folder)) continue;
    const std::string path = folder + "\\" + below;
    if (IsSystemFolderOrAbove(path)) {
      LogFormat("The shortcut entry '%s' is refused.", value.c_str());
      continue;
    }
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY))
      ::DeleteFileA(path.c_str());
    else
      RemoveDirectoryTree(path, progress);
  }
}

void RemoveListedRegistryEntries(const IniFile& catalogue) {
  for (const std::string& line : NumberedValues(catalogue, "Uninstall", "Registry%d"))
    RegistryEntry::ParseDelete(line).ApplyDelete();
}
