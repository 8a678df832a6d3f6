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
#include "resources/StringIds.h"
#include "uninstall/DirectoryRemoval.h"
#include "removal/RemovalActions.h"

namespace {

// The catalogue's values go through fixed buffers of this size.
constexpr size_t kValueCapacity = 260;

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
  RemovalActions& actions = TheRemovalActions();
  if (!actions.IsInUse(path)) {
    marked.Append(path);
    return;
  }
  const DWORD error = actions.DeleteAtRestart(path);
  if (logDeferral) {
    if (error == 0)
      actions.Report("Deleting of locked file '%s' is delayed till reboot.", path.c_str());
    else
      actions.Report("DeleteFileDelayReboot failed to delete file '%s'. Error 0x0%x.",
                     path.c_str(), static_cast<unsigned>(error));
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
    TheRemovalActions().RunHook("\"" + path + "\" " + cmdLine, rebootNeeded);
  }
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
      TheRemovalActions().Refuse(server, "the registered server of '" + file.sName +
                                             "' lies outside the installation");
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
  RemovalActions& actions = TheRemovalActions();
  for (const Component& component : catalogue) {
    for (const ComponentFile& file : component.files) {
      const std::string path = RemovablePath(file, appDir);
      if (path.empty() || processed.Contains(path)) continue;
      const DWORD attributes = actions.Attributes(path);
      if (attributes == INVALID_FILE_ATTRIBUTES) continue;
      ShowDetail(progress, path);
      if (IsSharedSystemDir(file.sDestDir)) {
        // Other programs may use it: only its use count goes down.
        actions.ReleaseSharedFile(path);
      } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        // Not a file the installation put down: the folder passes take
        // folders, and only empty ones.
        LogFormat("'%s' of the component list is a folder; it is left alone.", path.c_str());
        actions.Refuse(path, "a folder in the component list: only the removal of empty "
                             "folders takes folders");
      } else {
        if (file.bOLESelfRegistered) actions.Unregister(path);
        // A read-only file is not one in use: only a file that is open stays
        // for the restart.
        if (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM))
          actions.ClearAttributes(path);
        ReleaseFile(path, marked, rebootNeeded, false);
      }
      processed.Append(path);
    }
  }
}

void RemoveListedFiles(const IniFile& catalogue, RemovalProgress* progress,
                       ProcessedList& processed,
                       MarkedForDeletingList& marked, bool& rebootNeeded) {
  RemovalActions& actions = TheRemovalActions();
  for (const std::string& section : NumberedValues(catalogue, "Uninstall", "File%d")) {
    const std::string destDir = ReadValue(catalogue, section, "DestDir");
    if (destDir.empty() && catalogue.FindEntry(section, "DestDir")) continue;
    const std::string path = FullPath(section, destDir);
    if (path.empty() || processed.Contains(path)) continue;
    const DWORD attributes = actions.Attributes(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) continue;
    const int platform = catalogue.GetInt(section, "Platform", 31);
    if (!PlatformMatches(static_cast<uint32_t>(platform))) continue;

    const bool folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    ShowStatus(progress, folder ? IDS_STATUS_REMOVING_FOLDER : IDS_STATUS_DELETING_FILE);
    ShowDetail(progress, path);
    if (folder) {
      LogFormat("Deleteting recursively directory '%s'", path.c_str());
      // Only an empty folder goes: whatever is still in one belongs to someone.
      if (IsDirectoryEmpty(path))
        RemoveDirectoryTree(path, progress);
      else
        actions.Keep(path, "a listed folder that is not empty");
      continue;
    }
    if (!actions.ClearAttributes(path))
      LogFormat("SetFileAttributes failed to set file attribute FILE_ATTRIBUTE_NORMAL for file "
                "'%s'. Error 0x0%x.",
                path.c_str(), static_cast<unsigned>(::GetLastError()));
    ReleaseFile(path, marked, rebootNeeded, true);
    processed.Append(path);
  }
}

void DeleteMarkedFiles(const MarkedForDeletingList& marked) {
  RemovalActions& actions = TheRemovalActions();
  for (const std::string& path : marked.Paths()) {
    if (actions.DeleteFile(path))
      actions.Report("Successfully deleted file '%s' marked for deleting.", path.c_str());
    else
      actions.Report("DeleteFile failed to delete file '%s'. Error %d.", path.c_str(),
                     static_cast<int>(::GetLastError()));
  }
}

void RemoveListedShortcuts(const IniFile& catalogue, RemovalProgress* progress) {
  RemovalActions& actions = TheRemovalActions();
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
      actions.Refuse(value, "a shortcut entry that names no place below a shell folder");
      continue;
    }
    std::string folder;
    if (!SpecialFolderPath(csidl, folder)) continue;
    const std::string path = folder + "\\" + below;
    if (IsSystemFolderOrAbove(path)) {
      LogFormat("The shortcut entry '%s' is refused.", value.c_str());
      actions.Refuse(path, "a system folder or a drive root");
      continue;
    }
    const DWORD attributes = actions.Attributes(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY))
      actions.DeleteFile(path);
    else
      RemoveDirectoryTree(path, progress);
  }
}

void RemoveListedRegistryEntries(const IniFile& catalogue) {
  for (const std::string& line : NumberedValues(catalogue, "Uninstall", "Registry%d"))
    TheRemovalActions().DeleteRegistryEntry(RegistryEntry::ParseDelete(line));
}
