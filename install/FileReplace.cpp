#include "install/FileReplace.h"

#include <aclapi.h>

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
#include "frame/Binding.h"
#include "frame/Handle.h"
#include "frame/RegKey.h"
#include "install/TempFileList.h"
#include "resources/StringIds.h"

namespace {

const char kRunOnceKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
const char kRenameSection[] = "rename";
// Where the source position of the worker's file handling is logged.
const char kSourceUnit[] = "DownloadThread";
constexpr int kReadOnlyClearLine = 1525;
// WININIT.INI is a short text; anything far larger is not one.
constexpr LONGLONG kLargestWininit = 16 * 1024 * 1024;

ExitWindowsCall g_exitWindowsForTests;
FileCopyCall g_fileCopyForTests;
FileMoveCall g_fileMoveForTests;
FileMoveCall g_sideMoveForTests;

// Copies a new file to a fresh name beside its destination.
BOOL CopyFileCall(const std::string& from, const std::string& to) {
  return g_fileCopyForTests ? g_fileCopyForTests(from, to)
                            : ::CopyFileA(from.c_str(), to.c_str(), TRUE);
}

// A plain rename (the older family's only kind).
BOOL MoveFileCall(const std::string& from, const std::string& to) {
  return g_fileMoveForTests ? g_fileMoveForTests(from, to)
                            : ::MoveFileA(from.c_str(), to.c_str());
}

// Moves an extracted file beside its destination: a rename only, never a
// copy in disguise (the copy has its own road).
BOOL SideMoveCall(const std::string& from, const std::string& to) {
  return g_sideMoveForTests ? g_sideMoveForTests(from, to)
                            : ::MoveFileExA(from.c_str(), to.c_str(), 0);
}

// A failed call never reports success, even when it left no error code.
DWORD LastErrorCode() {
  const DWORD error = ::GetLastError();
  return error ? error : ERROR_GEN_FAILURE;
}

// Bound at run time, as the program's other security calls.
using SetNamedSecurityInfoFn = DWORD(WINAPI*)(LPSTR, SE_OBJECT_TYPE, SECURITY_INFORMATION, PSID,
                                              PSID, PACL, PACL);

// A renamed file keeps the permissions it had where it was made (the temporary
// folder: its user, the administrators and the system only), where a copy
// takes its folder's. The moved file gets its new folder's inherited
// permissions instead, as a copy would. The NT family only; 0 or the error.
DWORD InheritFolderPermissions(const std::string& path) {
  if (!IsNT()) return 0;
  static frame::LibraryBinding binding;
  static SetNamedSecurityInfoFn setNamedSecurityInfo = nullptr;
  const frame::FunctionSlot slots[] = {
      {"SetNamedSecurityInfoA", frame::Slot(setNamedSecurityInfo)}};
  if (!binding.Bind("Advapi32.dll", slots, 1)) return ERROR_PROC_NOT_FOUND;
  // No entries of its own, and open to the folder's inheritable ones.
  ACL empty = {};
  empty.AclRevision = ACL_REVISION;
  empty.AclSize = sizeof(ACL);
  std::string name = path;
  return setNamedSecurityInfo(&name[0], SE_FILE_OBJECT,
                              DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION,
                              nullptr, nullptr, &empty, nullptr);
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

// A fresh name in `folder` for a copy on its way to its place: short (an
// 8.3 name, so the older family's tools take it as it is) and unlikely to be
// in use; callers still try the next one when it is.
std::string SideName(const std::string& folder, unsigned attempt) {
  static LONG counter = 0;
  const unsigned seed = static_cast<unsigned>(::InterlockedIncrement(&counter)) * 7919u +
                        ::GetCurrentProcessId() * 31u + ::GetTickCount() + attempt;
  char name[16] = "";
  wsprintfA(name, "~up%05X.tmp", seed & 0xFFFFFu);
  return folder + name;
}

constexpr unsigned kSideNameAttempts = 64;

// A complete copy of a file in its destination's folder, under a name of its
// own: on the same volume, so one rename puts it in place, and with the
// folder's own permissions. Unless it was put in place, it is removed again,
// or, when it was moved there, moved back.
class SideCopy {
 public:
  SideCopy() = default;
  SideCopy(const SideCopy&) = delete;
  SideCopy& operator=(const SideCopy&) = delete;
  ~SideCopy() { Discard(); }

  // Renames `source` beside `destination` (same volume); 0 or the system
  // error code, and then `source` is where it was.
  DWORD Move(const std::string& source, const std::string& destination) {
    const std::string folder = SplitFolder(destination).first;
    for (unsigned attempt = 0; attempt < kSideNameAttempts; ++attempt) {
      const std::string name = SideName(folder, attempt);
      if (::GetFileAttributesA(name.c_str()) != INVALID_FILE_ATTRIBUTES) continue;
      if (!SideMoveCall(source, name)) {
        const DWORD error = LastErrorCode();
        if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;  // not ours
        return error;
      }
      path_ = name;
      movedFrom_ = source;
      if (const DWORD error = InheritFolderPermissions(name)) {
        Discard();
        return error;
      }
      return 0;
    }
    return ERROR_FILE_EXISTS;
  }

  // Copies `source` beside `destination`; 0 or the copy's system error code.
  DWORD Make(const std::string& source, const std::string& destination) {
    const std::string folder = SplitFolder(destination).first;
    for (unsigned attempt = 0; attempt < kSideNameAttempts; ++attempt) {
      const std::string name = SideName(folder, attempt);
      if (::GetFileAttributesA(name.c_str()) != INVALID_FILE_ATTRIBUTES) continue;
      if (CopyFileCall(source, name)) {
        path_ = name;
        return 0;
      }
      const DWORD error = LastErrorCode();
      if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;  // not ours
      path_ = name;  // a copy that failed part-way may have left bytes behind
      return error;
    }
    return ERROR_FILE_EXISTS;
  }

  // Renames the copy onto `target`, replacing what is there.
  DWORD PutInPlace(const std::string& target) {
    if (IsNT()) {
      if (!::MoveFileExA(path_.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING))
        return LastErrorCode();
      path_.clear();
      return 0;
    }
    // The older family has no rename that replaces. The old file steps aside
    // instead of being deleted, so that a failed rename can put it back, and
    // it goes only once the copy has its place.
    const DWORD attributes = ::GetFileAttributesA(target.c_str());
    std::string aside;
    if (attributes != INVALID_FILE_ATTRIBUTES) {
      // What the NT family's rename refuses, and a delete would.
      if (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY))
        return ERROR_ACCESS_DENIED;
      const std::string folder = SplitFolder(target).first;
      for (unsigned attempt = 0; attempt < kSideNameAttempts && aside.empty(); ++attempt) {
        const std::string name = SideName(folder, attempt);
        if (::GetFileAttributesA(name.c_str()) == INVALID_FILE_ATTRIBUTES) aside = name;
      }
      if (aside.empty()) return ERROR_FILE_EXISTS;
      if (!MoveFileCall(target, aside)) return LastErrorCode();
    }
    if (!MoveFileCall(path_, target)) {
      const DWORD error = LastErrorCode();
      // The user must be able to find the file under its other name.
      if (!aside.empty() && !MoveFileCall(aside, target))
        LogFormat("The old file '%s' could not be put back and is kept as '%s'. Error 0x0%x.",
                  target.c_str(), aside.c_str(), static_cast<unsigned>(LastErrorCode()));
      return error;
    }
    path_.clear();
    if (!aside.empty() && !::DeleteFileA(aside.c_str())) {
      // Something opened it since the rename a moment ago; it is free again
      // by the time the program ends, and WININIT.INI may be held open by
      // the caller now, so no line for the restart is written from here.
      LogFormat("DeleteFile failed for the file '%s', the old '%s'. Error 0x0%x. It is "
                "deleted when the program ends.",
                aside.c_str(), target.c_str(), static_cast<unsigned>(LastErrorCode()));
      TheTempFileList().Add(aside);
    }
    return 0;
  }

 private:
  void Discard() {
    if (path_.empty()) return;
    if (!movedFrom_.empty()) {
      // The run may want the extracted file again, a later try or a copy.
      if (::MoveFileExA(path_.c_str(), movedFrom_.c_str(), 0)) {
        path_.clear();
        return;
      }
      LogFormat("MoveFileEx failed to move the file '%s' back to '%s'. Error 0x0%x.",
                path_.c_str(), movedFrom_.c_str(), static_cast<unsigned>(LastErrorCode()));
    }
    ::SetFileAttributesA(path_.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileA(path_.c_str());
    path_.clear();
  }

  std::string path_;
  std::string movedFrom_;  // where a moved file came from
};

// Puts a copy of `source` in the place of `target`: the old file stays whole
// until the complete copy replaces it. 0 or the system error code.
DWORD ReplaceByCopy(const std::string& source, const std::string& target) {
  SideCopy copy;
  if (const DWORD error = copy.Make(source, target)) return error;
  return copy.PutInPlace(target);
}

// The same for a `source` nothing needs afterwards: renamed beside `target`
// where the volume allows it, which spares writing every byte again, else
// copied. `moved` says which; on a failure `source` is where it was.
DWORD ReplaceByMove(const std::string& source, const std::string& target, bool& moved) {
  SideCopy side;
  const DWORD moveError = side.Move(source, target);
  moved = moveError == 0;
  if (!moved) {
    LogFormat("MoveFileEx could not move the file '%s' beside '%s'. Error 0x0%x. It is copied.",
              source.c_str(), target.c_str(), static_cast<unsigned>(moveError));
    if (const DWORD error = side.Make(source, target)) return error;
  }
  return side.PutInPlace(target);
}

// The key of a line ("key=value"), without the blanks around it.
std::string LineKey(const std::string& line) {
  const size_t equals = line.find('=');
  if (equals == std::string::npos) return std::string();
  size_t begin = 0, end = equals;
  while (begin < end && (line[begin] == ' ' || line[begin] == '\t')) ++begin;
  while (end > begin && (line[end - 1] == ' ' || line[end - 1] == '\t')) --end;
  return line.substr(begin, end - begin);
}

// `text` with `lines` at the end of its "rename" section (the section added
// at the end of the text when it has none), after the lines of that section
// whose key is `replacedKey` have been taken out.
std::string WithRenameLines(const std::string& text, const std::vector<std::string>& lines,
                            const std::string& replacedKey) {
  std::string added;
  for (const std::string& line : lines) added += line + "\r\n";
  std::string out;
  bool inRename = false, found = false;
  size_t insertAt = 0;  // in `out`: after the section's last line that is not blank
  for (size_t lineStart = 0; lineStart < text.size();) {
    const size_t newline = text.find('\n', lineStart);
    const size_t next = newline == std::string::npos ? text.size() : newline + 1;
    const std::string line = text.substr(lineStart, next - lineStart);
    lineStart = next;
    const size_t at = line.find_first_not_of(" \t\r\n");
    if (at != std::string::npos && line[at] == '[') {
      const size_t close = line.find(']', at);
      const std::string name =
          close == std::string::npos ? std::string() : line.substr(at + 1, close - at - 1);
      // Only the first "rename" section counts, as for the profile functions.
      inRename = !found && ::lstrcmpiA(name.c_str(), kRenameSection) == 0;
      found = found || inRename;
    } else if (inRename && !replacedKey.empty() &&
               ::lstrcmpiA(LineKey(line).c_str(), replacedKey.c_str()) == 0) {
      continue;
    }
    out += line;
    if (inRename && at != std::string::npos) insertAt = out.size();
  }
  if (!found) {
    if (!out.empty() && out.back() != '\n') out += "\r\n";
    return out + "[" + kRenameSection + "]\r\n" + added;
  }
  if (out[insertAt - 1] != '\n') added.insert(0, "\r\n");
  out.insert(insertAt, added);
  return out;
}

// WININIT.INI, held open without sharing from the first look to the last
// write: a file that cannot be written is found before anything else has
// changed, and the lines of one operation go in with one write.
class WininitFile {
 public:
  WininitFile() = default;
  WininitFile(const WininitFile&) = delete;
  WininitFile& operator=(const WininitFile&) = delete;
  // A file made here and never written goes again.
  ~WininitFile() {
    if (!created_ || written_) return;
    file_.reset();
    ::DeleteFileA(path_.c_str());
  }

  const std::string& Path() const { return path_; }

  // Opens (or makes) the file and reads it; 0 or the system error code.
  DWORD Open() {
    path_ = WininitPath();
    if (path_.empty()) return LastErrorCode();
    file_.reset(::CreateFileA(path_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file_) return LastErrorCode();
    created_ = ::GetLastError() != ERROR_ALREADY_EXISTS;
    LARGE_INTEGER size = {};
    if (!::GetFileSizeEx(file_.get(), &size)) return LastErrorCode();
    if (size.QuadPart > kLargestWininit) return ERROR_FILE_TOO_LARGE;
    text_.assign(static_cast<size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    if (!text_.empty() && (!::ReadFile(file_.get(), &text_[0], static_cast<DWORD>(text_.size()),
                                       &read, nullptr) ||
                           read != text_.size()))
      return LastErrorCode();
    return 0;
  }

  // Adds `lines` to the "rename" section in place of the line keyed
  // `replacedKey` (none when empty); 0 or the system error code.
  DWORD AddRenameLines(const std::vector<std::string>& lines, const std::string& replacedKey) {
    const std::string text = WithRenameLines(text_, lines, replacedKey);
    // The room first: where the file system allocates it as the file grows, a
    // full disk then fails before the old text is touched.
    if (text.size() > text_.size()) {
      if (!SetSize(text.size())) {
        const DWORD error = LastErrorCode();
        SetSize(text_.size());
        return error;
      }
    }
    DWORD written = 0;
    if (::SetFilePointer(file_.get(), 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER ||
        !::WriteFile(file_.get(), text.data(), static_cast<DWORD>(text.size()), &written,
                     nullptr) ||
        written != text.size() || !SetSize(text.size()))
      return LastErrorCode();
    text_ = text;
    written_ = true;
    return 0;
  }

 private:
  bool SetSize(size_t size) {
    return ::SetFilePointer(file_.get(), static_cast<LONG>(size), nullptr, FILE_BEGIN) !=
               INVALID_SET_FILE_POINTER &&
           ::SetEndOfFile(file_.get());
  }

  std::string path_;
  std::string text_;
  frame::ScopedFile file_;
  bool created_ = false;
  bool written_ = false;
};

// Copies the new file beside the destination as its ".1" copy and has that
// renamed onto the destination at the restart; on the older family after a
// "NUL" line for the destination when `deleteFirst`. Whatever can fail is
// tried before anything changes: a failure leaves no line, no new waiting
// copy (an earlier run's one keeps its bytes) and the new file where it is.
// Once all is done the new file goes, unless `keepNewFile`.
DWORD DeferReplacement(const std::string& newFile, const std::string& destination,
                       bool deleteFirst, bool keepNewFile) {
  const bool nt = IsNT();
  std::string key, deleteLine;
  WininitFile ini;
  if (!nt) {
    // The destination's short form is taken before its copy appears beside it.
    std::string shortDestination;
    DWORD error = ReplaceLineKey(destination, key);
    if (!error && deleteFirst) error = ShortPath(destination, shortDestination);
    if (error) {
      LogFormat("GetShortPathName failed for the file '%s'. Error 0x0%x.", destination.c_str(),
                static_cast<unsigned>(error));
      return error;
    }
    if (deleteFirst) deleteLine = std::string("NUL=") + shortDestination;
    if ((error = ini.Open()) != 0) {
      LogFormat("Failed to open the file '%s'. Error 0x0%x.", ini.Path().c_str(),
                static_cast<unsigned>(error));
      return error;
    }
  }
  const std::string pending = PendingCopyName(destination);
  const bool hadPending = ::GetFileAttributesA(pending.c_str()) != INVALID_FILE_ATTRIBUTES;
  ::SetFileAttributesA(newFile.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (hadPending) ::SetFileAttributesA(pending.c_str(), FILE_ATTRIBUTE_NORMAL);
  {
    SideCopy copy;
    DWORD error = copy.Make(newFile, destination);
    if (!error) error = copy.PutInPlace(pending);
    if (error) {
      // Without the copy there is nothing to rename at the restart.
      LogFormat("CopyFile failed to copy file '%s' to the file '%s'. Error 0x0%x.",
                newFile.c_str(), pending.c_str(), static_cast<unsigned>(error));
      return error;
    }
  }
  ::SetFileAttributesA(pending.c_str(), FILE_ATTRIBUTE_NORMAL);

  DWORD error = 0;
  if (nt) {
    if (!::MoveFileExA(pending.c_str(), destination.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT)) {
      error = LastErrorCode();
      LogFormat("MoveFileEx failed for the file '%s'. Error 0x0%x.", pending.c_str(),
                static_cast<unsigned>(error));
    }
  } else {
    std::string shortPending;
    if ((error = ShortPath(pending, shortPending)) != 0) {
      LogFormat("GetShortPathName failed for the file '%s'. Error 0x0%x.", pending.c_str(),
                static_cast<unsigned>(error));
    } else {
      // The line left by an earlier run for this destination goes, so that
      // the new one comes after every "NUL" line written for the destination
      // meanwhile: the start-up processing works top down and would otherwise
      // delete the file it has just put in place.
      std::vector<std::string> lines;
      if (!deleteLine.empty()) lines.push_back(deleteLine);
      lines.push_back(key + "=" + shortPending);
      if ((error = ini.AddRenameLines(lines, key)) != 0)
        LogFormat("Failed to write the file '%s'. Error 0x0%x.", ini.Path().c_str(),
                  static_cast<unsigned>(error));
    }
  }
  if (error) {
    // An earlier run's copy now holds this run's bytes, which its own line or
    // rename puts in place at the restart; a copy new in this run goes.
    if (!hadPending) ::DeleteFileA(pending.c_str());
    return error;
  }
  if (!keepNewFile) ::DeleteFileA(newFile.c_str());
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
  if (const DWORD error = ReplaceByCopy(destination, pending)) {
    LogFormat("CopyFile failed to copy file '%s' to the file '%s'. Error 0x0%x.",
              destination.c_str(), pending.c_str(), static_cast<unsigned>(error));
  } else {
    LogFormat("File '%s' also replaces the copy '%s' that waits for the restart.",
              destination.c_str(), pending.c_str());
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
  // A line without a file would delete nothing at the restart.
  std::string shortPath;
  if (const DWORD error = ShortPath(path, shortPath)) return error;
  WininitFile ini;
  if (const DWORD error = ini.Open()) return error;
  return ini.AddRenameLines({"NUL=" + shortPath}, std::string());
}

DWORD ReplaceFileDelayReboot(const std::string& newFile, const std::string& destination) {
  return DeferReplacement(newFile, destination, false, false);
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
  return std::exchange(g_exitWindowsForTests, std::move(call));
}

FileCopyCall SetFileCopyCallForTests(FileCopyCall call) {
  return std::exchange(g_fileCopyForTests, std::move(call));
}

FileMoveCall SetFileMoveCallForTests(FileMoveCall call) {
  return std::exchange(g_fileMoveForTests, std::move(call));
}

FileMoveCall SetSideMoveCallForTests(FileMoveCall call) {
  return std::exchange(g_sideMoveForTests, std::move(call));
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
                           InstallState& state, ExtractedFileUse use) {
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
    // Beside the destination first: a copy that fails part-way (a full disk)
    // never leaves the installed file half-written.
    const bool keep = use == ExtractedFileUse::kNeededAgain;
    bool moved = false;
    if (const DWORD error = keep ? ReplaceByCopy(extracted, destination)
                                 : ReplaceByMove(extracted, destination, moved)) {
      const std::string text = FormatString(IDS_COPY_FAILED, e, d, static_cast<int>(error));
      LogWrite(text);
      state.errorText += text;
      return error;
    }
    if (keep)
      LogFormat("Succeeded. The file '%s' is kept for another destination.", e);
    else
      LogWrite(FormatString(IDS_COPY_SUCCEEDED, e));
    ::SetFileAttributesA(d, FILE_ATTRIBUTE_NORMAL);
    RefreshEarlierPendingCopy(destination);
    if (!keep && !moved && !::DeleteFileA(e)) {
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
  // The start-up processing of the older family deletes the old file before
  // it renames the new one into place; both lines go in together or not at all.
  if (const DWORD error = DeferReplacement(extracted, destination, IsFileLocked(destination),
                                           use == ExtractedFileUse::kNeededAgain))
    return error;
  state.pendingInstalls.erase(destination);
  return 0;
}
