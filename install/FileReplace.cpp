#include "install/FileReplace.h"

#include <cstdio>
#include <utility>
#include <vector>

#include "core/Locations.h"
#include "core/Log.h"
#include "core/MessageBox.h"
#include "core/Platform.h"
#include "core/Resources.h"
#include "core/TextFormat.h"
#include "core/SystemLibraries.h"
#include "frame/Handle.h"
#include "frame/RegKey.h"
#include "resources/StringIds.h"

namespace {

const char kRunOnceKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
const char kRenameSection[] = "rename";
// The profile functions keep one value per key, but the start-up processing
// wants one "NUL" line per file to delete: each delete is written under this
// placeholder key, which is then renamed in the file itself.
const char kPlaceholderKey[] = "***";
// Where the source position of the worker's file handling is logged.
const char kSourceUnit[] = "DownloadThread";
constexpr int kReadOnlyClearLine = 1525;
// WININIT.INI is a short text; anything far larger is not one.
constexpr LONGLONG kLargestWininit = 16 * 1024 * 1024;

ExitWindowsCall g_exitWindowsForTests;

// A failed call never reports success, even when it left no error code.
DWORD LastErrorCode() {
  const DWORD error = ::GetLastError();
  return error ? error : ERROR_GEN_FAILURE;
}

template <class... Args>
std::string FormatString(UINT id, Args... args) {
  return FormatText(LoadResString(id).c_str(), args...);
}

bool IsReadOnly(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
}

// Clears only the read-only bit; false when that failed.
bool ClearReadOnly(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  const DWORD rest = attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
  return ::SetFileAttributesA(path.c_str(), rest ? rest : FILE_ATTRIBUTE_NORMAL) != FALSE;
}

// The copy that waits next to its destination for the restart. It is named
// after the whole file name, so that Foo.dll and Foo.exe in one folder never
// share one, and a later run before the restart replaces its own copy.
std::string PendingCopyName(const std::string& destination) { return destination + ".1"; }

// Splits at the last backslash: "C:\Dir\" and "Foo.dll".
std::pair<std::string, std::string> SplitFolder(const std::string& path) {
  const size_t slash = path.find_last_of('\\');
  if (slash == std::string::npos) return {std::string(), path};
  return {path.substr(0, slash + 1), path.substr(slash + 1)};
}

DWORD ShortPath(const std::string& path, std::string& shortPath) {
  char buffer[MAX_PATH] = "";
  const DWORD length = ::GetShortPathNameA(path.c_str(), buffer, MAX_PATH);
  if (length == 0) return LastErrorCode();
  if (length >= MAX_PATH) return ERROR_FILENAME_EXCED_RANGE;
  shortPath.assign(buffer, length);
  return 0;
}

std::string WininitPath() {
  char folder[MAX_PATH] = "";
  const UINT length = ::GetWindowsDirectoryA(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return std::string();
  return WithBackslash(std::string(folder, length)) + "WININIT.INI";
}

// The key of a replace line: the short form of the destination's folder and
// the destination's own long name. The short form of a destination that does
// not exist yet cannot be taken; its folder's can.
DWORD ReplaceLineKey(const std::string& destination, std::string& key) {
  std::string shortDestination;
  const auto parts = SplitFolder(destination);
  if (ShortPath(destination, shortDestination) == 0) {
    key = SplitFolder(shortDestination).first + parts.second;
    return 0;
  }
  std::string folder = parts.first;
  if (folder.size() > 3 && folder.back() == '\\') folder.pop_back();  // keep "C:\" whole
  std::string shortFolder;
  if (const DWORD error = ShortPath(folder, shortFolder)) return error;
  key = WithBackslash(shortFolder) + parts.second;
  return 0;
}

// Writes the profile cache out to the file.
void FlushProfile(const std::string& ini) {
  ::WritePrivateProfileStringA(nullptr, nullptr, nullptr, ini.c_str());
}

// The position of the placeholder key at the start of a line of the
// "rename" section, or npos. Only that line is changed: a '*' elsewhere in
// the file belongs to someone else.
size_t FindPlaceholderLine(const std::string& text) {
  bool inRename = false;
  size_t lineStart = 0;
  while (lineStart < text.size()) {
    size_t lineEnd = text.find('\n', lineStart);
    if (lineEnd == std::string::npos) lineEnd = text.size();
    size_t at = lineStart;
    while (at < lineEnd && (text[at] == ' ' || text[at] == '\t')) ++at;
    if (at < lineEnd && text[at] == '[') {
      const size_t close = text.find(']', at);
      const std::string name =
          close < lineEnd ? text.substr(at + 1, close - at - 1) : std::string();
      inRename = ::lstrcmpiA(name.c_str(), kRenameSection) == 0;
    } else if (inRename && text.compare(at, 3, kPlaceholderKey) == 0) {
      size_t after = at + 3;
      while (after < lineEnd && (text[after] == ' ' || text[after] == '\t')) ++after;
      if (after < lineEnd && text[after] == '=') return at;
    }
    lineStart = lineEnd + 1;
  }
  return std::string::npos;
}

// Renames the placeholder key written just before to "NUL", in the file.
DWORD RenamePlaceholderToNul(const std::string& ini) {
  frame::ScopedFile file(::CreateFileA(ini.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return LastErrorCode();
  LARGE_INTEGER size = {};
  if (!::GetFileSizeEx(file.get(), &size)) return LastErrorCode();
  if (size.QuadPart > kLargestWininit) return ERROR_FILE_TOO_LARGE;
  std::string text(static_cast<size_t>(size.QuadPart), '\0');
  DWORD read = 0;
  if (!text.empty() && (!::ReadFile(file.get(), &text[0], static_cast<DWORD>(text.size()), &read,
                                    nullptr) ||
                        read != text.size()))
    return LastErrorCode();
  const size_t at = FindPlaceholderLine(text);
  if (at == std::string::npos) return ERROR_INVALID_DATA;
  text.replace(at, 3, "NUL");
  DWORD written = 0;
  if (::SetFilePointer(file.get(), 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER ||
      !::SetEndOfFile(file.get()) ||
      !::WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
      written != text.size())
    return LastErrorCode();
  return 0;
}

// The new file, copied next to its destination, waiting for the restart.
struct PendingCopy {
  bool nt = true;
  std::string path;  // the copy
  std::string key;   // older family: the key of its replace line
};

DWORD MakePendingCopy(const std::string& newFile, const std::string& destination,
                      PendingCopy& copy) {
  copy.nt = IsNT();
  copy.path = PendingCopyName(destination);
  // The destination's short form is taken before its copy appears beside it.
  if (!copy.nt) {
    if (const DWORD error = ReplaceLineKey(destination, copy.key)) {
      LogFormat("GetShortPathName failed for the file '%s'. Error 0x0%x.", destination.c_str(),
                static_cast<unsigned>(error));
      return error;
    }
  }
  ::SetFileAttributesA(newFile.c_str(), FILE_ATTRIBUTE_NORMAL);
  ::SetFileAttributesA(copy.path.c_str(), FILE_ATTRIBUTE_NORMAL);  // an earlier run's copy
  if (!::CopyFileA(newFile.c_str(), copy.path.c_str(), FALSE)) {
    // Without the copy there is nothing to rename at the restart; the new
    // file stays where it is.
    const DWORD error = LastErrorCode();
    LogFormat("CopyFile failed to copy file '%s' to the file '%s'. Error 0x0%x.", newFile.c_str(),
              copy.path.c_str(), static_cast<unsigned>(error));
    return error;
  }
  ::SetFileAttributesA(copy.path.c_str(), FILE_ATTRIBUTE_NORMAL);
  ::DeleteFileA(newFile.c_str());
  return 0;
}

// Registers the rename of the copy onto its destination for the restart.
DWORD RegisterPendingCopy(const std::string& destination, const PendingCopy& copy) {
  if (copy.nt) {
    if (!::MoveFileExA(copy.path.c_str(), destination.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT)) {
      const DWORD error = LastErrorCode();
      LogFormat("MoveFileEx failed for the file '%s'. Error 0x0%x.", copy.path.c_str(),
                static_cast<unsigned>(error));
      return error;
    }
    return 0;
  }
  std::string shortCopy;
  if (const DWORD error = ShortPath(copy.path, shortCopy)) return error;
  const std::string ini = WininitPath();
  if (ini.empty()) return LastErrorCode();
  // A line left by an earlier run for this destination goes, so that the new
  // line comes after every "NUL" line written for the destination meanwhile:
  // the start-up processing works top down and would otherwise delete the
  // file it has just put in place.
  ::WritePrivateProfileStringA(kRenameSection, copy.key.c_str(), nullptr, ini.c_str());
  if (!::WritePrivateProfileStringA(kRenameSection, copy.key.c_str(), shortCopy.c_str(),
                                    ini.c_str()))
    return LastErrorCode();
  FlushProfile(ini);
  return 0;
}

// An earlier run found the destination locked and left its copy waiting for
// the restart; this run could copy directly. The restart would put the older
// copy back over the newer file, and on the older family its "NUL" line
// deletes the destination first, so the waiting copy cannot simply go: it
// becomes the file just installed.
void RefreshEarlierPendingCopy(const std::string& destination) {
  const std::string pending = PendingCopyName(destination);
  if (::GetFileAttributesA(pending.c_str()) == INVALID_FILE_ATTRIBUTES) return;
  ::SetFileAttributesA(pending.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (::CopyFileA(destination.c_str(), pending.c_str(), FALSE)) {
    LogFormat("File '%s' also replaces the copy '%s' that waits for the restart.",
              destination.c_str(), pending.c_str());
  } else {
    LogFormat("CopyFile failed to copy file '%s' to the file '%s'. Error 0x0%x.",
              destination.c_str(), pending.c_str(), static_cast<unsigned>(LastErrorCode()));
  }
}

// Enables the shutdown privilege of the process (NT family).
bool EnableShutdownPrivilege() {
  if (!BindAdvapi()) return false;
  const AdvapiApi& api = Advapi();
  frame::ScopedHandle token;
  if (!api.OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY,
                            token.put())) {
    LogFormat("OpenProcessToken failed. Error 0x0%x.", static_cast<unsigned>(LastErrorCode()));
    return false;
  }
  TOKEN_PRIVILEGES privileges = {};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  if (!api.LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege",
                                 &privileges.Privileges[0].Luid)) {
    LogFormat("LookupPrivilegeValue failed. Error 0x0%x.", static_cast<unsigned>(LastErrorCode()));
    return false;
  }
  if (!api.AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr)) {
    LogFormat("AdjustTokenPrivileges failed. Error 0x0%x.",
              static_cast<unsigned>(LastErrorCode()));
    return false;
  }
  return true;
}

}  // namespace

bool IsFileLocked(const std::string& path) {
  if (::GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) return false;
  frame::ScopedFile file(::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  return !file.valid();
}

DWORD DeleteFileDelayReboot(const std::string& path) {
  if (IsNT()) {
    if (!::MoveFileExA(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) return LastErrorCode();
    return 0;
  }
  const std::string ini = WininitPath();
  if (ini.empty()) return LastErrorCode();
  // A line without a file would delete nothing at the restart.
  std::string shortPath;
  if (const DWORD error = ShortPath(path, shortPath)) return error;
  if (!::WritePrivateProfileStringA(kRenameSection, kPlaceholderKey, shortPath.c_str(),
                                    ini.c_str()))
    return LastErrorCode();
  FlushProfile(ini);
  return RenamePlaceholderToNul(ini);
}

DWORD ReplaceFileDelayReboot(const std::string& newFile, const std::string& destination) {
  PendingCopy copy;
  if (const DWORD error = MakePendingCopy(newFile, destination, copy)) return error;
  return RegisterPendingCopy(destination, copy);
}

LONG AddRunOnceEntry(const std::string& name, const std::string& commandLine) {
  frame::RegKey key;
  const LONG rc = key.Open(HKEY_LOCAL_MACHINE, kRunOnceKey, KEY_WRITE);
  if (rc != ERROR_SUCCESS) {
    LogFormat("Failed to open registry key '%s'. Error 0x0%x", kRunOnceKey,
              static_cast<unsigned>(rc));
    return rc;
  }
  return key.SetString(name, commandLine);
}

ExitWindowsCall SetExitWindowsCallForTests(ExitWindowsCall call) {
  ExitWindowsCall previous = std::move(g_exitWindowsForTests);
  g_exitWindowsForTests = std::move(call);
  return previous;
}

BOOL RebootComputer() {
  if (IsNT() && !EnableShutdownPrivilege()) return FALSE;
  LogWrite("Rebooting Computer");
  const BOOL ok = g_exitWindowsForTests ? g_exitWindowsForTests(EWX_REBOOT, 0)
                                        : ::ExitWindowsEx(EWX_REBOOT, 0);
  const DWORD error = ::GetLastError();
  if (ok)
    LogWrite("ExitWindowsEx succeeded.");
  else
    LogFormat("ExitWindowsEx failed. Error %d.", static_cast<int>(error));
  return ok;
}

DWORD ReplaceInstalledFile(const std::string& destination, const std::string& extracted,
                           InstallState& state) {
  const char* d = destination.c_str();
  const char* e = extracted.c_str();

  DWORD attributeError = 0;
  if (IsReadOnly(destination)) {
    LogFormat("File '%s' is read-only. Trying to remove read-only attribute...\n", d);
    if (ClearReadOnly(destination)) {
      LogFormat("Succeeded to remove file '%s' read-only attribute.\n", d);
    } else {
      attributeError = LastErrorCode();
      LogFormat("SetFileAttributes failed for the file '%s'. Error 0x0%x. File %s, line %d\n", d,
                static_cast<unsigned>(attributeError), kSourceUnit, kReadOnlyClearLine);
    }
  }
  if (IsReadOnly(extracted)) ClearReadOnly(extracted);

  if (!IsFileLocked(destination)) {
    LogWrite(FormatString(IDS_COPYING_FILE, e, d));
    if (IsReadOnly(destination)) {
      // Shown whatever the quiet option; the copy is tried all the same.
      AppMessageBox(FormatString(IDS_TARGET_READ_ONLY, d, static_cast<int>(attributeError)),
                    MB_OK | MB_ICONERROR);
    }
    ::SetFileAttributesA(e, FILE_ATTRIBUTE_NORMAL);
    if (!::CopyFileA(e, d, FALSE)) {
      const DWORD error = LastErrorCode();
      const std::string text = FormatString(IDS_COPY_FAILED, e, d, static_cast<int>(error));
      LogWrite(text);
      state.errorText += text;
      return error;
    }
    LogWrite(FormatString(IDS_COPY_SUCCEEDED, e));
    ::SetFileAttributesA(d, FILE_ATTRIBUTE_NORMAL);
    RefreshEarlierPendingCopy(destination);
    if (!::DeleteFileA(e)) {
      // The temporary file is removed with the others when the program ends.
      const std::string text =
          FormatString(IDS_DELETE_TEMP_FAILED, static_cast<int>(LastErrorCode()));
      LogWrite(text);
      state.errorText += text;
    }
    return 0;
  }

  LogFormat("File '%s' is locked. The file update is delayed until reboot.", d);
  state.rebootRequired = 1;
  PendingCopy copy;
  if (const DWORD error = MakePendingCopy(extracted, destination, copy)) return error;
  // The start-up processing of the older family deletes the old file before
  // it renames the new one into place. The delete is written only once the
  // new file waits beside it: a failed copy must not cost the old file.
  if (!copy.nt && IsFileLocked(destination)) {
    if (const DWORD error = DeleteFileDelayReboot(destination))
      LogFormat("Failed to delete locked file '%s'. Error 0x0%x.", d,
                static_cast<unsigned>(error));
  }
  if (const DWORD error = RegisterPendingCopy(destination, copy)) return error;
  state.pendingInstalls.erase(destination);
  return 0;
}
