#include "removal/RemovalActions.h"

#include <cstdarg>
#include <cstdint>

#include "catalog/RegistryEntry.h"
#include "core/Log.h"
#include "core/RunSummary.h"
#include "core/TextFormat.h"
#include "core/UpdateLog.h"
#include "frame/Handle.h"
#include "frame/RegKey.h"
#include "install/FileReplace.h"
#include "install/Hooks.h"
#include "install/Registration.h"
#include "install/RestartWork.h"

namespace {

const char kSharedDllsKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDlls";
constexpr DWORD kMarks = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

// The form paths are compared in: one case, backslashes, no final one.
std::string Folded(std::string path) {
  for (char& c : path)
    if (c == '/') c = '\\';
  while (path.size() > 3 && path.back() == '\\') path.pop_back();
  if (!path.empty()) ::CharLowerBuffA(&path[0], static_cast<DWORD>(path.size()));
  return path;
}

std::string OwnProgramPath() {
  char path[MAX_PATH] = "";
  const DWORD length = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
  return length && length < MAX_PATH ? std::string(path, length) : std::string();
}

const char* RootName(HKEY root) {
  if (root == HKEY_LOCAL_MACHINE) return "HKLM";
  if (root == HKEY_CURRENT_USER) return "HKCU";
  if (root == HKEY_CLASSES_ROOT) return "HKCR";
  if (root == HKEY_USERS) return "HKU";
  return "?";
}

std::string RegistryPath(HKEY root, const std::string& key, const std::string& name) {
  return std::string(RootName(root)) + "\\" + key + "\\" + name;
}

// Folders are listed as files are, without a final backslash.
void Record(const char* list, std::string path, const std::string& reason = "") {
  if (path.size() > 3 && path.back() == '\\') path.pop_back();
  TheRunSummary().AddRemoval(list, path, reason);
}

}  // namespace

void RemovalActions::SetDryRun(bool dryRun) {
  dryRun_ = dryRun;
  gone_.clear();
  cleared_.clear();
  own_.clear();
  if (!dryRun) return;
  for (const std::string& path : {OwnProgramPath(), TheUpdateLog().Path()})
    if (!path.empty()) own_.insert(Folded(path));
}

bool RemovalActions::Allows(const std::string& what) {
  if (!dryRun_) return true;
  LogWrite("Would " + what + ".");
  return false;
}

void RemovalActions::Report(const char* format, ...) {
  if (dryRun_) return;
  va_list args;
  va_start(args, format);
  const std::string text = FormatTextV(format, args);
  va_end(args);
  LogWrite(text);
}

bool RemovalActions::IsGone(const std::string& path) const {
  if (!dryRun_ || gone_.empty()) return false;
  const std::string folded = Folded(path);
  // The path itself, or a folder it lies in.
  for (size_t end = folded.size(); end != std::string::npos && end > 0;
       end = folded.find_last_of('\\', end - 1)) {
    if (gone_.count(folded.substr(0, end))) return true;
  }
  return false;
}

DWORD RemovalActions::Attributes(const std::string& path) const {
  if (IsGone(path)) return INVALID_FILE_ATTRIBUTES;
  return ::GetFileAttributesA(path.c_str());
}

bool RemovalActions::Probe(const std::string& path, bool cleared) const {
  const DWORD attributes = Attributes(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  // A read-only file cannot be opened for writing, in use or not; once its
  // mark is cleared only an open elsewhere keeps it.
  const DWORD access = cleared && (attributes & FILE_ATTRIBUTE_READONLY)
                           ? GENERIC_READ
                           : GENERIC_READ | GENERIC_WRITE;
  frame::ScopedFile file(::CreateFileA(path.c_str(), access, 0, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
  return !file.valid();
}

bool RemovalActions::IsInUse(const std::string& path) const {
  if (!dryRun_) return IsFileLocked(path);
  if (own_.count(Folded(path))) return false;
  return Probe(path, cleared_.count(Folded(path)) != 0);
}

bool RemovalActions::ClearAttributes(const std::string& path) {
  if (!dryRun_) return ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL) != FALSE;
  if (Attributes(path) == INVALID_FILE_ATTRIBUTES) {
    ::SetLastError(ERROR_FILE_NOT_FOUND);
    return false;
  }
  cleared_.insert(Folded(path));
  return true;
}

void RemovalActions::MarkGone(const std::string& path) { gone_.insert(Folded(path)); }

bool RemovalActions::DeleteFile(const std::string& path) {
  if (!dryRun_) {
    ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (::DeleteFileA(path.c_str())) {
      Record("removed", path);
      return true;
    }
    const DWORD error = ::GetLastError();
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
      Record("kept", path, FormatText("cannot be deleted: error %lu", error));
    ::SetLastError(error);
    return false;
  }
  const DWORD attributes = Attributes(path);
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    ::SetLastError(attributes == INVALID_FILE_ATTRIBUTES ? ERROR_FILE_NOT_FOUND
                                                         : ERROR_ACCESS_DENIED);
    return false;
  }
  // Open elsewhere, it could not go now.
  if (!own_.count(Folded(path)) && Probe(path, true)) {
    LogFormat("Would fail to delete file '%s': it is in use.", path.c_str());
    Record("kept", path, FormatText("cannot be deleted: error %lu", 32ul));
    ::SetLastError(ERROR_SHARING_VIOLATION);
    return false;
  }
  LogFormat("Would delete file '%s'.", path.c_str());
  MarkGone(path);
  Record("removed", path);
  return true;
}

bool RemovalActions::RemoveFolder(const std::string& folder) {
  std::string path = folder;
  while (path.size() > 3 && path.back() == '\\') path.pop_back();
  if (!dryRun_) {
    ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_NORMAL);
    if (!::RemoveDirectoryA(path.c_str())) return false;
    Record("removed", path);
    return true;
  }
  const DWORD attributes = Attributes(path);
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    ::SetLastError(attributes == INVALID_FILE_ATTRIBUTES ? ERROR_FILE_NOT_FOUND
                                                         : ERROR_DIRECTORY);
    return false;
  }
  // Empty once what would be gone is gone.
  WIN32_FIND_DATAA entry;
  frame::ScopedFind find(::FindFirstFileA((path + "\\*").c_str(), &entry));
  if (find) {
    do {
      const std::string name = entry.cFileName;
      if (name != "." && name != ".." && !IsGone(path + "\\" + name)) {
        ::SetLastError(ERROR_DIR_NOT_EMPTY);
        return false;
      }
    } while (::FindNextFileA(find.get(), &entry));
  }
  LogFormat("Would remove folder '%s'.", path.c_str());
  MarkGone(path);
  Record("removed", path);
  return true;
}

bool RemovalActions::RemoveLink(const std::string& path, bool isFolder) {
  if (!dryRun_) {
    if (!(isFolder ? ::RemoveDirectoryA(path.c_str()) : ::DeleteFileA(path.c_str()))) return false;
    Record("removed", path);
    return true;
  }
  if (Attributes(path) == INVALID_FILE_ATTRIBUTES) {
    ::SetLastError(ERROR_FILE_NOT_FOUND);
    return false;
  }
  LogFormat("Would remove link '%s'; its target would be left alone.", path.c_str());
  MarkGone(path);
  Record("removed", path);
  return true;
}

void RemovalActions::Defer(const std::string& path) {
  Record("deferred", path);
  TheRunSummary().AddRestartReason(path);
}

DWORD RemovalActions::DeleteAtRestart(const std::string& path) {
  if (dryRun_) {
    LogFormat("Would delete '%s' at the next start of Windows.", path.c_str());
    Defer(path);
    return 0;
  }
  const DWORD error = DeleteFileDelayReboot(path);
  if (error == 0)
    Defer(path);
  else
    Record("kept", path, FormatText("cannot be left for the next start of Windows: error %lu",
                                    error));
  return error;
}

void RemovalActions::Unregister(const std::string& path) {
  if (dryRun_)
    LogFormat("Would unregister the server '%s'.", path.c_str());
  else
    UnregisterModule(path);
}

void RemovalActions::RunHook(const std::string& commandLine, bool& rebootNeeded) {
  if (dryRun_) {
    LogFormat("Would run the uninstall hook %s.", commandLine.c_str());
    return;
  }
  uint32_t reboot = 0;
  LaunchHook(commandLine, reboot);
  if (reboot) rebootNeeded = true;
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

void RemovalActions::ReleaseSharedFile(const std::string& path) {
  frame::RegKey key;
  const REGSAM access = dryRun_ ? KEY_READ : KEY_READ | KEY_WRITE;
  DWORD count = 0;
  const bool counted = key.Open(HKEY_LOCAL_MACHINE, kSharedDllsKey, access) == ERROR_SUCCESS &&
                       key.QueryDword(path, count) == ERROR_SUCCESS;
  if (!counted)
    Keep(path, "a shared system file without a use count");
  else if (count == 0)
    Keep(path, "a shared system file; its use count stays at 0");
  else
    Keep(path, FormatText("a shared system file; its use count goes from %lu to %lu",
                          static_cast<unsigned long>(count),
                          static_cast<unsigned long>(count - 1)));
  if (!counted) return;
  if (dryRun_)
    LogFormat("Would lower the use count of the shared file '%s'.", path.c_str());
  else
    ReleaseSharedDllCount(key.get(), path);
}

LONG RemovalActions::DeleteRegistryKey(HKEY root, const std::string& parent,
                                       const std::string& name) {
  const std::string shown = RegistryPath(root, parent, name);
  frame::RegKey key;
  if (dryRun_) {
    const LONG rc = key.Open(root, parent + "\\" + name, KEY_READ);
    if (rc != ERROR_SUCCESS) return rc;
    LogFormat("Would delete registry key '%s'.", shown.c_str());
    Record("removed", shown);
    return ERROR_SUCCESS;
  }
  LONG rc = key.Open(root, parent, KEY_READ | KEY_WRITE);
  if (rc == ERROR_SUCCESS) rc = key.DeleteSubKeyTree(name);
  if (rc == ERROR_SUCCESS) Record("removed", shown);
  return rc;
}

void RemovalActions::DeleteRegistryEntry(const RegistryEntry& entry) {
  const HKEY root = RegistryRootKey(entry.root);
  if (!root) return;
  if (!entry.NamesKey()) {
    // Without a key the name would be a whole branch of the root.
    LogFormat("The registry line to delete '%s' without a key is refused.", entry.name.c_str());
    Refuse(std::string(RootName(root)) + "\\" + entry.name, "a registry line without a key");
    return;
  }
  frame::RegKey key;
  if (key.Open(root, entry.subkey, KEY_READ) != ERROR_SUCCESS) return;
  // What the line takes: the subkey of that name, else the value.
  frame::RegKey subkey;
  const bool isKey =
      !entry.name.empty() && subkey.Open(key.get(), entry.name, KEY_READ) == ERROR_SUCCESS;
  subkey.Close();
  if (!isKey && ::RegQueryValueExA(key.get(), entry.name.c_str(), nullptr, nullptr, nullptr,
                                   nullptr) != ERROR_SUCCESS)
    return;
  key.Close();
  const std::string shown = RegistryPath(root, entry.subkey, entry.name);
  if (dryRun_) {
    LogFormat("Would delete registry %s '%s'.", isKey ? "key" : "value", shown.c_str());
    Record("removed", shown);
  } else if (entry.ApplyDelete() == ERROR_SUCCESS) {
    Record("removed", shown);
  }
}

void RemovalActions::Refuse(const std::string& path, const std::string& reason) {
  Record("refused", path, reason);
}

void RemovalActions::Keep(const std::string& path, const std::string& reason) {
  Record("kept", path, reason);
}

RemovalActions& TheRemovalActions() {
  static RemovalActions actions;
  return actions;
}
