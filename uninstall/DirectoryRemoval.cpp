#include "uninstall/DirectoryRemoval.h"

#include <cctype>
#include <vector>

#include "core/Locations.h"
#include "core/Error.h"
#include "core/Log.h"
#include "core/Resources.h"
#include "core/SystemLibraries.h"
#include "frame/Handle.h"
#include "resources/StringIds.h"
#include "removal/RemovalActions.h"

namespace {

std::string WithoutBackslash(const std::string& path) {
  if (!path.empty() && path.back() == '\\') return path.substr(0, path.size() - 1);
  return path;
}

bool IsDotEntry(const char* name) {
  return std::string(name) == "." || std::string(name) == "..";
}

// Calls visit(entry) for every entry of the folder but "." and ".." (and
// what a dry run would have removed), until it returns false; false when it
// was stopped. The search is closed before the caller goes on (a folder
// being searched cannot be removed).
template <class Visit>
bool ForEachEntry(const std::string& base, Visit visit) {
  WIN32_FIND_DATAA entry;
  frame::ScopedFind find(::FindFirstFileA((base + "*.*").c_str(), &entry));
  if (!find) return true;
  do {
    if (!IsDotEntry(entry.cFileName) && !TheRemovalActions().IsGone(base + entry.cFileName) &&
        !visit(entry))
      return false;
  } while (::FindNextFileA(find.get(), &entry));
  return true;
}

bool IsLink(const WIN32_FIND_DATAA& entry) {
  return (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// The part of the name from its last dot on; "" when it has none.
std::string ExtensionOf(const std::string& name) {
  const std::string::size_type dot = name.rfind('.');
  return dot == std::string::npos ? std::string() : name.substr(dot);
}

bool FileGoes(const std::string& name, const char* first, const char* second,
              const char* third) {
  if (!first) return true;
  if (!*first) return false;
  const std::string extension = ExtensionOf(name);
  if (extension.empty()) return false;
  for (const char* wanted : {first, second, third})
    if (wanted && ::lstrcmpiA(extension.c_str(), wanted) == 0) return true;
  return false;
}

// The window may be absent: the routines then only log.
void ShowEntry(RemovalProgress* progress, const std::string& status, const std::string& path) {
  if (!progress) return;
  progress->SetStatus(status);
  progress->SetDetail(path);
}

// Removes a junction or link itself, never what it points at; 0 or the
// error, logged either way. Attributes are left alone, since setting them
// would reach the target.
DWORD RemoveLink(const std::string& path, bool isFolder) {
  RemovalActions& actions = TheRemovalActions();
  if (!actions.RemoveLink(path, isFolder)) {
    const DWORD error = LastErrorCode();
    actions.Report("Cannot remove link %s. Error %d.", path.c_str(), static_cast<int>(error));
    return error;
  }
  actions.Report("Link %s has been removed; its target is left alone", path.c_str());
  return 0;
}

// Logs and answers false when the folder must not be removed.
bool AllowRemoval(const std::string& folder) {
  if (IsRemovableFolderPath(folder)) return true;
  LogFormat("Refusing to remove '%s': not a folder the uninstaller may remove.", folder.c_str());
  TheRemovalActions().Refuse(folder, "not a folder the uninstaller may remove");
  return false;
}

}  // namespace

bool IsRemovableFolderPath(const std::string& folder) {
  std::string path = folder;
  for (char& c : path)
    if (c == '/') c = '\\';
  // The long-path and device prefixes name the same places as the plain path.
  for (const char* prefix : {"\\\\?\\UNC\\", "\\\\.\\UNC\\"}) {
    if (path.compare(0, 8, prefix) == 0) {
      path = "\\\\" + path.substr(8);
      break;
    }
  }
  if (path.compare(0, 4, "\\\\?\\") == 0 || path.compare(0, 4, "\\\\.\\") == 0)
    path = path.substr(4);

  // Which components form the root: a drive, or a UNC server and share.
  std::string::size_type rest;
  size_t rootParts;
  if (path.size() >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':') {
    if (path.size() < 3 || path[2] != '\\') return false;  // "C:" and "C:x" are relative
    rest = 3;
    rootParts = 0;
  } else if (path.compare(0, 2, "\\\\") == 0) {
    rest = 2;
    rootParts = 2;
  } else {
    return false;  // relative, or rooted on the current drive
  }

  // Windows drops trailing dots and spaces of each name, and empty names from
  // doubled backslashes; "." stays, ".." goes up.
  std::vector<std::string> parts;
  while (rest <= path.size()) {
    std::string::size_type end = path.find('\\', rest);
    if (end == std::string::npos) end = path.size();
    std::string part = path.substr(rest, end - rest);
    rest = end + 1;
    if (part == "..") {
      if (parts.size() <= rootParts) return false;
      parts.pop_back();
      continue;
    }
    while (!part.empty() && (part.back() == '.' || part.back() == ' ')) part.pop_back();
    if (!part.empty()) parts.push_back(part);
  }
  return parts.size() > rootParts;
}

namespace {

enum class FolderKind { kFolder, kLink, kOther };

// Opens a folder without following a link and holds it, sharing neither
// rename nor delete, so that its path keeps naming this folder while it is
// worked on: a link swapped in after the folder was listed is seen as a link
// and never entered. kOther for anything that is no folder or cannot be
// opened (a missing folder among them).
FolderKind HoldFolder(const std::string& folder, frame::ScopedFile& hold) {
  const std::string path = WithoutBackslash(folder);
  RemovalEntryHook()(path);
  const DWORD attributes = TheRemovalActions().Attributes(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return FolderKind::kOther;
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return FolderKind::kLink;
  // Listing access, not attributes alone: an open for attributes only takes
  // no part in the share checks, and so would not keep a rename out.
  hold.reset(::CreateFileA(path.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  BY_HANDLE_FILE_INFORMATION info = {};
  if (!hold || !::GetFileInformationByHandle(hold.get(), &info)) return FolderKind::kOther;
  if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return FolderKind::kLink;
  return (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? FolderKind::kFolder
                                                            : FolderKind::kOther;
}

struct SweepFilter {
  const char* first;
  const char* second;
  const char* third;
  bool Filtered() const { return first != nullptr; }
  bool Takes(const std::string& name) const { return FileGoes(name, first, second, third); }
};

// Removes the folder at the end of a sweep; 0 or the error, logged either way.
DWORD RemoveSweptFolder(const std::string& folder) {
  RemovalActions& actions = TheRemovalActions();
  if (!RemoveDirectoryEntry(folder)) {
    const DWORD error = LastErrorCode();
    actions.Report("Cannot delete directory %s. Error %d.", folder.c_str(),
                   static_cast<int>(error));
    return error;
  }
  actions.Report("Directory %s has been successfully removed", folder.c_str());
  return 0;
}

// Works through a held folder's entries; true when it deleted anything below.
// A filtered sweep removes a folder below only when the sweep itself emptied
// it: a folder that was empty before, or still holds anything, is the user's.
bool SweepEntries(const std::string& folder, RemovalProgress* progress, const SweepFilter& filter) {
  const std::string base = WithBackslash(folder);
  bool deleted = false;
  ForEachEntry(base, [&](const WIN32_FIND_DATAA& entry) {
    const std::string path = base + entry.cFileName;
    std::string status;
    const bool isFolder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    frame::ScopedFile hold;
    const FolderKind kind = isFolder ? HoldFolder(path, hold) : FolderKind::kOther;
    if (IsLink(entry) || kind == FolderKind::kLink) {
      // A filtered sweep takes links only as files of its kinds: a folder
      // link, or a link of another kind, is the user's and stays.
      if (isFolder && filter.Filtered()) {
        TheRemovalActions().Refuse(path, "a link: it and its target are left alone");
        return true;
      }
      if (!isFolder && !filter.Takes(entry.cFileName)) return true;
      // A junction or link leads out of the tree: the link goes, never
      // what it points at.
      status = LoadResString(isFolder ? IDS_STATUS_REMOVING_FOLDER : IDS_STATUS_DELETING_FILE);
      if (RemoveLink(path, isFolder) == 0) deleted = true;
    } else if (isFolder) {
      if (kind != FolderKind::kFolder) return true;  // gone, or no longer a folder
      status = LoadResString(IDS_STATUS_REMOVING_FOLDER);
      const bool deletedBelow = SweepEntries(path, progress, filter);
      hold.reset();
      if (!filter.Filtered()) {
        if (RemoveSweptFolder(path) == 0) deleted = true;
      } else if (deletedBelow) {
        deleted = true;
        if (IsDirectoryEmpty(path)) RemoveSweptFolder(path);
      }
    } else if (filter.Takes(entry.cFileName)) {
      status = LoadResString(IDS_STATUS_DELETING_FILE);
      if (TheRemovalActions().DeleteFile(path)) deleted = true;
    }
    ShowEntry(progress, status, path);
    return true;
  });
  return deleted;
}

}  // namespace

RemovalEntryHookFn& RemovalEntryHook() {
  static RemovalEntryHookFn hook = [](const std::string&) {};
  return hook;
}

DWORD RemoveDirectoryTree(const std::string& folder, RemovalProgress* progress,
                          const char* firstExtension, const char* secondExtension,
                          const char* thirdExtension) {
  if (!AllowRemoval(folder)) return ERROR_ACCESS_DENIED;
  const SweepFilter filter = {firstExtension, secondExtension, thirdExtension};
  // The folder itself may be a link (a user who moved a folder elsewhere
  // and left a junction in its place): what it points at is never swept. A
  // whole-tree removal takes the link alone; a filtered sweep, which only
  // takes files of its kinds, leaves it.
  const std::string self = WithoutBackslash(folder);
  frame::ScopedFile hold;
  const FolderKind kind = HoldFolder(self, hold);
  if (kind == FolderKind::kLink) {
    if (filter.Filtered()) {
      LogFormat("Directory %s is a link; it and its target are left alone", self.c_str());
      TheRemovalActions().Refuse(self, "a link: it and its target are left alone");
      return ERROR_ACCESS_DENIED;
    }
    return RemoveLink(self, true);
  }
  if (kind == FolderKind::kFolder) SweepEntries(folder, progress, filter);
  hold.reset();
  // A filtered sweep never takes the folder it was given: it may be the
  // user's own (the audio folder may be "Music"), and it stays with its
  // empty subfolders.
  if (filter.Filtered()) return kind == FolderKind::kFolder ? ERROR_DIR_NOT_EMPTY : ERROR_PATH_NOT_FOUND;
  return RemoveSweptFolder(folder);
}

bool RemoveEmptyDirectories(const std::string& folder, RemovalProgress* progress) {
  if (!AllowRemoval(folder)) return false;
  // A link counts as content: what it points at is not ours to empty, and
  // the folder given may itself be one.
  frame::ScopedFile hold;
  const FolderKind kind = HoldFolder(folder, hold);
  if (kind == FolderKind::kLink) return false;
  const std::string base = WithBackslash(folder);
  bool onlyFolders = true;
  if (kind == FolderKind::kFolder) {
    // A file or a link keeps this folder, never its other folders: each is
    // still tidied.
    ForEachEntry(base, [&](const WIN32_FIND_DATAA& entry) {
      if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || IsLink(entry) ||
          !RemoveEmptyDirectories(base + entry.cFileName, progress))
        onlyFolders = false;
      return true;
    });
  }
  hold.reset();
  if (!onlyFolders) return false;
  if (IsDirectoryEmpty(folder)) {
    RemovalActions& actions = TheRemovalActions();
    if (RemoveDirectoryEntry(folder)) {
      actions.Report("Empty directory %s has been successfully removed", folder.c_str());
    } else {
      actions.Report("Cannot delete empty directory %s. Error %d.", folder.c_str(),
                     static_cast<int>(LastErrorCode()));
    }
  }
  return true;
}

void FindFilesOfKinds(const std::string& folder,
                      const std::function<void(const std::string& path)>& found,
                      const char* firstExtension, const char* secondExtension) {
  const std::string base = WithBackslash(folder);
  ForEachEntry(base, [&](const WIN32_FIND_DATAA& entry) {
    const std::string path = base + entry.cFileName;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      if (!IsLink(entry)) FindFilesOfKinds(path, found, firstExtension, secondExtension);
    } else if (FileGoes(entry.cFileName, firstExtension, secondExtension, nullptr)) {
      found(path);
    }
    return true;
  });
}

bool RemoveDirectoryEntry(const std::string& folder) {
  if (folder.empty()) return false;
  if (!AllowRemoval(folder)) {
    ::SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  return TheRemovalActions().RemoveFolder(folder);
}

bool DirectoryExists(const std::string& path) {
  if (path.empty()) return false;
  return TheRemovalActions().Attributes(WithoutBackslash(path)) != INVALID_FILE_ATTRIBUTES;
}

bool IsDirectoryEmpty(const std::string& folder) {
  return ForEachEntry(WithBackslash(folder), [](const WIN32_FIND_DATAA&) { return false; });
}

bool SpecialFolderPath(int csidl, std::string& path) {
  path.clear();
  if (!BindShell()) return false;
  const ShellApi& shell = ShellFunctions();
  LPITEMIDLIST list = nullptr;
  if (FAILED(shell.SHGetSpecialFolderLocation(nullptr, csidl, &list)) || !list) return false;
  char buffer[MAX_PATH] = "";
  const bool converted = shell.SHGetPathFromIDListA(list, buffer) != FALSE;
  // The item list belongs to the shell's allocator.
  IMalloc* allocator = nullptr;
  if (SUCCEEDED(shell.SHGetMalloc(&allocator)) && allocator) {
    allocator->Free(list);
    allocator->Release();
  }
  path = buffer;
  return converted && !path.empty();
}

bool IsSystemFolderOrAbove(const std::string& folder) {
  if (!IsRemovableFolderPath(folder)) return true;
  const std::string candidate = FullLongFolderPath(folder);
  if (candidate.empty()) return true;
  std::vector<std::string> system;
  char buffer[MAX_PATH] = "";
  if (::GetWindowsDirectoryA(buffer, MAX_PATH)) system.push_back(buffer);
  if (::GetSystemDirectoryA(buffer, MAX_PATH)) system.push_back(buffer);
  for (int csidl : {CSIDL_WINDOWS, CSIDL_SYSTEM, CSIDL_SYSTEMX86, CSIDL_PROGRAM_FILES,
                    CSIDL_PROGRAM_FILESX86, CSIDL_PROGRAM_FILES_COMMON, CSIDL_PROFILE}) {
    std::string path;
    if (SpecialFolderPath(csidl, path)) system.push_back(path);
  }
  for (const std::string& entry : system) {
    const std::string protectedFolder = FullLongFolderPath(entry);
    // The candidate is the protected folder itself or lies above it.
    if (!protectedFolder.empty() && protectedFolder.size() >= candidate.size() &&
        ::CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, protectedFolder.c_str(),
                         static_cast<int>(candidate.size()), candidate.c_str(),
                         static_cast<int>(candidate.size())) == CSTR_EQUAL)
      return true;
  }
  return false;
}
