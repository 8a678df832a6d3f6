#include "install/RestartWork.h"

#include <functional>
#include <utility>
#include <vector>

#include "core/Error.h"
#include "core/Locations.h"
#include "core/Log.h"
#include "core/Platform.h"
#include "core/SystemLibraries.h"
#include "frame/Handle.h"
#include "frame/RegKey.h"
#include "install/RunJournal.h"
#include "install/SideCopy.h"

const char kRunOnceKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";

namespace {

const char kRenameSection[] = "rename";
// WININIT.INI is a short text; anything far larger is not one.
constexpr LONGLONG kLargestWininit = 16 * 1024 * 1024;

ExitWindowsCall g_exitWindowsForTests;

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

// The key of a line ("key=value"), without the blanks around it.
std::string LineKey(const std::string& line) {
  const size_t equals = line.find('=');
  if (equals == std::string::npos) return std::string();
  size_t begin = 0, end = equals;
  while (begin < end && (line[begin] == ' ' || line[begin] == '\t')) ++begin;
  while (end > begin && (line[end - 1] == ' ' || line[end - 1] == '\t')) --end;
  return line.substr(begin, end - begin);
}

// The value of a line ("key=value"), without the blanks around it.
std::string LineValue(const std::string& line) {
  const size_t equals = line.find('=');
  if (equals == std::string::npos) return std::string();
  const size_t begin = line.find_first_not_of(" \t", equals + 1);
  const size_t end = line.find_last_not_of(" \t\r\n");
  return begin == std::string::npos || end < begin ? std::string()
                                                    : line.substr(begin, end - begin + 1);
}

// Whether a line of the "rename" section goes.
using LineFilter = std::function<bool(const std::string& line)>;

// `text` with `lines` at the end of its "rename" section (the section added
// at the end of the text when it has none and there are lines to add), after
// the lines of that section that `drop` names have been taken out.
std::string WithRenameLines(const std::string& text, const std::vector<std::string>& lines,
                            const LineFilter& drop) {
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
    } else if (inRename && drop && drop(line)) {
      continue;
    }
    out += line;
    if (inRename && at != std::string::npos) insertAt = out.size();
  }
  if (!found) {
    if (lines.empty()) return out;
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

  // Adds `lines` to the "rename" section in place of the lines `drop` names
  // (none when empty); 0 or the system error code.
  DWORD AddRenameLines(const std::vector<std::string>& lines, const LineFilter& drop = nullptr) {
    const std::string text = WithRenameLines(text_, lines, drop);
    if (text == text_) return 0;
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

std::string PendingCopyName(const std::string& destination) { return destination + ".1"; }

DWORD DeferReplacement(const std::string& newFile, const std::string& destination,
                       bool deleteFirst, bool keepNewFile, RunJournal* journal) {
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
  if (journal && journal->Active()) {
    // An earlier run's waiting copy is kept whole for a restore; a new one is
    // known, so that a restore removes it.
    std::string kept;
    if (!hadPending) {
      journal->AddedFile(pending);
    } else if (const DWORD error = journal->KeepFile(pending, kept)) {
      LogFormat("The waiting copy '%s' cannot be kept. Error 0x0%x.", pending.c_str(),
                static_cast<unsigned>(error));
      return error;
    }
  }
  {
    const DWORD error = ReplaceByCopy(newFile, pending);
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
    // The system renames at its start, under the names it knows the files by.
    const std::string nativePending = NativePathForSystem(pending);
    const std::string nativeDestination = NativePathForSystem(destination);
    if (journal) journal->PendingRename(nativePending, nativeDestination);
    if (!::MoveFileExA(nativePending.c_str(), nativeDestination.c_str(),
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
      const auto sameKey = [&key](const std::string& line) {
        return ::lstrcmpiA(LineKey(line).c_str(), key.c_str()) == 0;
      };
      if (journal) {
        for (const std::string& line : lines) journal->WininitLine(line);
        // The earlier run's line for this destination is taken out for this
        // one, which a restore cannot tell from it.
        if (hadPending) journal->NotRestorable(destination);
      }
      if ((error = ini.AddRenameLines(lines, sameKey)) != 0)
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

DWORD DeleteFileDelayReboot(const std::string& path, RunJournal* journal) {
  if (IsNT()) {
    // The system deletes at its start, under the name it knows the file by.
    const std::string native = NativePathForSystem(path);
    if (journal) journal->PendingRename(native, std::string());
    if (!::MoveFileExA(native.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) return LastErrorCode();
    return 0;
  }
  // A line without a file would delete nothing at the restart.
  std::string shortPath;
  if (const DWORD error = ShortPath(path, shortPath)) return error;
  WininitFile ini;
  if (const DWORD error = ini.Open()) return error;
  if (journal) journal->WininitLine("NUL=" + shortPath);
  return ini.AddRenameLines({"NUL=" + shortPath});
}

DWORD ReplaceFileDelayReboot(const std::string& newFile, const std::string& destination) {
  return DeferReplacement(newFile, destination, false, false, nullptr);
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

int WithdrawWininitDeletes(const std::string& path) {
  // The line names the file by its short form; one written by hand may use
  // the long one.
  std::string shortPath;
  if (ShortPath(path, shortPath) != 0) shortPath = path;
  WininitFile ini;
  if (ini.Open() != 0) return 0;
  int withdrawn = 0;
  const auto deletesPath = [&](const std::string& line) {
    const std::string value = LineValue(line);
    const bool match = ::lstrcmpiA(LineKey(line).c_str(), "NUL") == 0 &&
                       (::lstrcmpiA(value.c_str(), shortPath.c_str()) == 0 ||
                        ::lstrcmpiA(value.c_str(), path.c_str()) == 0);
    withdrawn += match;
    return match;
  };
  if (const DWORD error = ini.AddRenameLines({}, deletesPath)) {
    LogFormat("Failed to write the file '%s'. Error 0x0%x.", ini.Path().c_str(),
              static_cast<unsigned>(error));
    return 0;
  }
  return withdrawn;
}

bool WithdrawWininitLine(const std::string& line) {
  WininitFile ini;
  if (ini.Open() != 0) return false;
  // One line that reads the same, blanks apart: lines alike do the same.
  bool found = false;
  const auto same = [&](const std::string& candidate) {
    const bool match =
        !found && ::lstrcmpiA(LineKey(candidate).c_str(), LineKey(line).c_str()) == 0 &&
        ::lstrcmpiA(LineValue(candidate).c_str(), LineValue(line).c_str()) == 0;
    found = found || match;
    return match;
  };
  if (const DWORD error = ini.AddRenameLines({}, same)) {
    LogFormat("Failed to write the file '%s'. Error 0x0%x.", ini.Path().c_str(),
              static_cast<unsigned>(error));
    return false;
  }
  if (found) LogFormat("The line '%s' of '%s' is withdrawn.", line.c_str(), ini.Path().c_str());
  return found;
}
