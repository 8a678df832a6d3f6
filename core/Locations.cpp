#include "core/Locations.h"

#include <shlobj.h>

#include <vector>

#include "core/Log.h"
#include "core/SystemLibraries.h"
#include "frame/RegKey.h"

const char kPelloryKey[] = "SOFTWARE\\Pellory";
const char kUpgradeKeyPrefix[] = "Software\\Pellory\\Upgrade\\";
const char kUninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\PelloryManager";

namespace {

// The length of a path's root: "C:\" or "\\server\share\"; 0 for a path
// without one (relative, or a UNC path without its share).
size_t RootLength(const std::string& path) {
  if (path.size() >= 3 && IsCharAlphaA(path[0]) && path[1] == ':' && path[2] == '\\') return 3;
  if (path.compare(0, 2, "\\\\") != 0) return 0;
  const size_t server = path.find('\\', 2);
  if (server == std::string::npos || server == 2) return 0;
  const size_t share = path.find('\\', server + 1);
  if (share == std::string::npos || share == server + 1) return 0;
  return share + 1;
}

// A folder read from the registry is used only as a full path below a drive
// or share root: an empty, relative or root value would make the program
// treat the current folder or a whole drive as the installation.
// The value is taken in its full form, with "." and ".." resolved and "/"
// read as "\": "C:\.\" and "C:\x\..\" are the drive's root, as the system
// sees them.
std::string InstallationFolderOrEmpty(const char* valueName, const std::string& value) {
  char full[MAX_PATH] = "";
  const DWORD length =
      value.empty() ? 0 : ::GetFullPathNameA(value.c_str(), MAX_PATH, full, nullptr);
  const bool absolute = RootLength(WithBackslash(value)) != 0;
  const std::string folder =
      absolute && length && length < MAX_PATH ? WithBackslash(full) : std::string();
  if (IsFolderBelowRoot(folder)) return folder;
  LogFormat("The registry entry '%s' does not name a folder below a drive: '%s'", valueName,
            value.c_str());
  return std::string();
}

std::string ReadPelloryFolder(const char* valueName) {
  frame::RegKey key;
  LONG rc = key.Open(HKEY_LOCAL_MACHINE, kPelloryKey, KEY_READ | KEY_WRITE);
  if (rc != ERROR_SUCCESS) {
    LogFormat("Failed to open the registry key 'SOFTWARE\\Pellory'. Error 0x0%x",
              static_cast<unsigned>(rc));
    return std::string();
  }
  std::string value;
  rc = key.QueryString(valueName, value, MAX_PATH);
  if (rc != ERROR_SUCCESS) {
    LogFormat("Failed to query the registry entry '%s'. Error 0x0%x", valueName,
              static_cast<unsigned>(rc));
    return std::string();
  }
  return InstallationFolderOrEmpty(valueName, value);
}

struct ShellFolderName {
  const char* name;
  int id;
};

const ShellFolderName kShellFolders[] = {
    {"CSIDL_DESKTOP", 0},          {"CSIDL_INTERNET", 1},
    {"CSIDL_PROGRAMS", 2},         {"CSIDL_CONTROLS", 3},
    {"CSIDL_PRINTERS", 4},         {"CSIDL_PERSONAL", 5},
    {"CSIDL_FAVORITES", 6},        {"CSIDL_STARTUP", 7},
    {"CSIDL_RECENT", 8},           {"CSIDL_SENDTO", 9},
    {"CSIDL_BITBUCKET", 10},       {"CSIDL_DESKTOPDIRECTORY", 16},
    {"CSIDL_DRIVES", 17},          {"CSIDL_NETWORK", 18},
    {"CSIDL_NETHOOD", 19},         {"CSIDL_FONTS", 20},
    {"CSIDL_TEMPLATES", 21},       {"CSIDL_COMMON_STARTMENU", 22},
    {"CSIDL_COMMON_PROGRAMS", 23}, {"CSIDL_COMMON_STARTUP", 24},
    {"CSIDL_COMMON_DESKTOPDIRECTORY", 25}, {"CSIDL_APPDATA", 26},
    {"CSIDL_PRINTHOOD", 27},       {"CSIDL_ALTSTARTUP", 29},
    {"CSIDL_COMMON_ALTSTARTUP", 30}, {"CSIDL_COMMON_FAVORITES", 31},
    {"CSIDL_INTERNET_CACHE", 32},  {"CSIDL_COOKIES", 33},
    {"CSIDL_HISTORY", 34},
};

}  // namespace

std::string WithBackslash(std::string folder) {
  if (folder.empty() || folder.back() != '\\') folder += '\\';
  return folder;
}

std::string FullLongFolderPath(const std::string& folder) {
  char full[MAX_PATH] = "";
  const DWORD length = ::GetFullPathNameA(folder.c_str(), MAX_PATH, full, nullptr);
  if (!length || length >= MAX_PATH) return std::string();
  char longForm[MAX_PATH] = "";
  const DWORD longLength = ::GetLongPathNameA(full, longForm, MAX_PATH);
  return WithBackslash(longLength && longLength < MAX_PATH ? longForm : full);
}

bool IsPathInsideFolder(const std::string& path, const std::string& folder) {
  const std::string inner = FullLongFolderPath(path);
  const std::string outer = FullLongFolderPath(folder);
  if (inner.empty() || outer.empty() || inner.size() < outer.size()) return false;
  return ::CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, inner.c_str(),
                          static_cast<int>(outer.size()), outer.c_str(),
                          static_cast<int>(outer.size())) == CSTR_EQUAL;
}

bool IsFolderBelowRoot(const std::string& folder) {
  const size_t rootEnd = RootLength(folder);
  // Something must follow the root, and it must not be one more separator.
  return rootEnd && folder.size() > rootEnd && folder[rootEnd] != '\\' && folder.back() == '\\';
}

std::string GetAppDir() { return ReadPelloryFolder("PelloryAppDir"); }
std::string GetProgramsDir() { return ReadPelloryFolder("PelloryProgramsDir"); }

namespace {

// Documents\Pellory\, made when missing if `create`.
std::string UserDataDir(bool create) {
  char documents[MAX_PATH] = "";
  if (FAILED(::SHGetFolderPathA(nullptr, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT, documents)) ||
      !documents[0])
    return std::string();
  std::string folder = std::string(documents) + "\\Pellory";
  if (create) ::CreateDirectoryA(folder.c_str(), nullptr);
  return folder + "\\";
}

}  // namespace

std::string GetUserDataDir() { return UserDataDir(true); }

// Creates nothing: the uninstall asks for it, and a dry run must leave no folder behind.
std::string GetLogsDir() {
  std::string base = UserDataDir(false);
  if (base.empty()) base = GetAppDir();
  if (base.empty()) return std::string();
  return base + "Logs\\";
}

std::string GetModuleDir() {
  char path[MAX_PATH] = "";
  DWORD length = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return std::string();
  std::string folder(path, length);
  const auto slash = folder.find_last_of('\\');
  return slash == std::string::npos ? std::string() : folder.substr(0, slash + 1);
}

std::string GetTempDir() {
  char temp[MAX_PATH] = "";
  DWORD length = ::GetTempPathA(MAX_PATH, temp);
  if (length == 0 || length >= MAX_PATH) return std::string();
  return WithBackslash(std::string(temp, length));
}

std::string MakeTempFileName() {
  const std::string folder = GetTempDir();
  char name[MAX_PATH] = "";
  if (folder.empty() || !::GetTempFileNameA(folder.c_str(), "PGF", 0, name)) return std::string();
  return name;
}

bool CreateDirectoryPath(const std::string& path) {
  // Drive roots ("C:\") and the "\\server\share\" part of a UNC path exist
  // or cannot be made; a UNC path without its share has nothing to make.
  size_t rootEnd = RootLength(path);
  if (!rootEnd && path.compare(0, 2, "\\\\") == 0) rootEnd = path.size();
  for (size_t i = 0; i < path.size(); ++i) {
    if (path[i] != '\\') continue;
    const std::string prefix = path.substr(0, i + 1);
    if (i < rootEnd) continue;
    if (::GetFileAttributesA(prefix.c_str()) != INVALID_FILE_ATTRIBUTES) continue;
    if (!::CreateDirectoryA(prefix.c_str(), nullptr) &&
        ::GetLastError() != ERROR_ALREADY_EXISTS)
      return false;
  }
  return true;
}

std::string ReadUpgradeValue(const std::string& subkey, const std::string& name,
                             const std::string& defaultValue) {
  frame::RegKey key;
  if (key.Open(HKEY_LOCAL_MACHINE, kUpgradeKeyPrefix + subkey, KEY_READ) != ERROR_SUCCESS)
    return defaultValue;
  std::string value;
  if (key.QueryString(name, value, 1040) != ERROR_SUCCESS) return defaultValue;
  return value;
}

LONG WriteUpgradeValue(const std::string& subkey, const std::string& name,
                       const std::string& value) {
  const std::string path = kUpgradeKeyPrefix + subkey;
  frame::RegKey key;
  LONG rc = key.Create(HKEY_LOCAL_MACHINE, path, KEY_READ | KEY_WRITE);
  if (rc != ERROR_SUCCESS) {
    LogFormat("CRegKey::Create failed with error %d for key HKLM\\%s", static_cast<int>(rc),
              path.c_str());
    return rc;
  }
  rc = key.SetString(name, value);
  if (rc != ERROR_SUCCESS) {
    LogFormat("CRegKey::SetStringValue failed with error %d for key HKLM\\%s,entry '%s'",
              static_cast<int>(rc), path.c_str(), name.c_str());
  }
  return rc;
}

int ShellFolderId(const std::string& name) {
  for (const auto& entry : kShellFolders) {
    if (::lstrcmpiA(entry.name, name.c_str()) == 0) return entry.id;
  }
  return 0;
}

bool PrependBinToPath() {
  frame::RegKey key;
  if (key.Open(HKEY_LOCAL_MACHINE, kPelloryKey, KEY_READ) != ERROR_SUCCESS) return false;
  std::string value;
  if (key.QueryString("PelloryAppDir", value, MAX_PATH) != ERROR_SUCCESS) return false;
  const std::string appDir = InstallationFolderOrEmpty("PelloryAppDir", value);
  if (appDir.empty()) return false;
  const std::string prefix = appDir + "Bin\\;";
  // The process itself no longer searches PATH for libraries.
  AddLibraryFolder(appDir + "Bin");
  DWORD length = ::GetEnvironmentVariableA("PATH", nullptr, 0);
  std::vector<char> old(length + 1, '\0');
  if (length) ::GetEnvironmentVariableA("PATH", old.data(), length + 1);
  const std::string path = prefix + old.data();
  return ::SetEnvironmentVariableA("PATH", path.c_str()) != FALSE;
}

std::string SystemFolder(UINT(WINAPI* query)(LPSTR, UINT)) {
  char folder[MAX_PATH] = "";
  const UINT length = query(folder, MAX_PATH);
  return length && length < MAX_PATH ? std::string(folder, length) : std::string();
}
