#include "browser/Plugins.h"

#include <windows.h>

#include <shlobj.h>

#include <cstdio>
#include <string>
#include <utility>

#include "core/Locations.h"
#include "core/Log.h"
#include "frame/RegKey.h"
#include "removal/RemovalActions.h"

const char kMediaPlayerPluginClsid[] = "{5A1E7C30-2B94-4F61-9D3A-7C20E4B1F958}";

namespace {

const char kMediaFilterName[] = "\\plrdscdc.ax";
const char kNetscapeKey[] = "Software\\Netscape\\Netscape Navigator\\Main";
const char kNetscapeFolderValue[] = "Install Directory";
const char* const kBrowserPluginFormats[] = {"%s\\Program\\Plugins\\NPPelloryInst.dll",
                                             "%s\\Program\\Plugins\\NPWMPPelloryInst.dll"};

// A registry value is taken as a path only when it is fully qualified
// ("C:\..." or "\\server\share\..."): a relative one would be taken in
// whatever folder the uninstaller runs in, an empty one as the current drive.
bool IsFullyQualifiedPath(const std::string& path) {
  const auto isSlash = [](char c) { return c == '\\' || c == '/'; };
  if (path.size() >= 3 && path[1] == ':' && isSlash(path[2]))
    return (path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z');
  // A UNC path names its server and share.
  return path.size() >= 5 && isSlash(path[0]) && isSlash(path[1]) && !isSlash(path[2]);
}

bool IsExistingFile(const std::string& path) {
  const DWORD attributes = TheRemovalActions().Attributes(path);
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The plug-in's path comes from the registry, where anything may stand: only
// a full path to an existing file is unregistered and deleted. A folder would fail
// to load and then look "locked", and its delayed deletion would ask for a
// restart for nothing.
void RemoveModule(const std::string& path, bool& rebootNeeded) {
  if (!IsFullyQualifiedPath(path) || !IsExistingFile(path)) return;
  RemovalActions& actions = TheRemovalActions();
  actions.Unregister(path);
  if (actions.IsInUse(path)) {
    actions.DeleteAtRestart(path);
    rebootNeeded = true;
  } else {
    actions.DeleteFile(path);
  }
}

std::string ShellFolder(int csidl) {
  char folder[MAX_PATH] = "";
  return SUCCEEDED(::SHGetFolderPathA(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, folder))
             ? std::string(folder)
             : std::string();
}

// The text with the machine's folder variables put in ("%SystemRoot%\...",
// "%ProgramFiles%\..."), from the system itself: the environment is the
// user's to set, and could send the path anywhere. "" for any other variable.
std::string ExpandedText(const std::string& text) {
  const std::pair<const char*, std::string> known[] = {
      {"SystemRoot", SystemFolder(&::GetWindowsDirectoryA)},
      {"windir", SystemFolder(&::GetWindowsDirectoryA)},
      {"ProgramFiles", ShellFolder(CSIDL_PROGRAM_FILES)},
      {"CommonProgramFiles", ShellFolder(CSIDL_PROGRAM_FILES_COMMON)},
  };
  std::string result;
  size_t from = 0;
  for (size_t open = text.find('%'); open != std::string::npos; open = text.find('%', from)) {
    const size_t close = text.find('%', open + 1);
    if (close == std::string::npos) return std::string();
    const std::string name = text.substr(open + 1, close - open - 1);
    const std::string* value = nullptr;
    for (const auto& entry : known)
      if (::lstrcmpiA(entry.first, name.c_str()) == 0) value = &entry.second;
    if (!value || value->empty()) return std::string();
    result.append(text, from, open - from);
    result += *value;
    from = close + 1;
  }
  result.append(text, from, std::string::npos);
  return result.size() < MAX_PATH ? result : std::string();
}

// The player plug-in's module is the installation's own: one in the Windows
// or system folder belongs to the system or to another program, whatever a
// registration says.
bool IsInSystemFolders(const std::string& path) {
  for (const std::string& folder :
       {SystemFolder(&::GetWindowsDirectoryA), SystemFolder(&::GetSystemDirectoryA)})
    if (!folder.empty() && IsPathInsideFolder(path, folder)) return true;
  return false;
}

// The module of the machine-wide registration only: the per-user classes,
// which HKEY_CLASSES_ROOT shows first, are any program of the user's to write,
// and what they name would be loaded into this elevated process.
std::string MediaPlayerPluginPath() {
  char keyPath[MAX_PATH] = "";
  std::snprintf(keyPath, sizeof(keyPath), "Software\\Classes\\CLSID\\%s\\InprocServer32",
                kMediaPlayerPluginClsid);
  frame::RegKey key;
  std::string module;
  if (key.Open(HKEY_LOCAL_MACHINE, keyPath, KEY_READ) != ERROR_SUCCESS ||
      key.QueryString("", module) != ERROR_SUCCESS)
    return std::string();
  // Registrations often name the module as "%SystemRoot%\...".
  DWORD type = 0;
  if (::RegQueryValueExA(key.get(), "", nullptr, &type, nullptr, nullptr) != ERROR_SUCCESS)
    return std::string();
  return type == REG_EXPAND_SZ ? ExpandedText(module) : module;
}

std::string MediaFilterPath() {
  char system[MAX_PATH] = "";
  const UINT length = ::GetSystemDirectoryA(system, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return std::string();
  return std::string(system) + kMediaFilterName;
}

void RemoveBrowserPlugins() {
  frame::RegKey key;
  std::string folder;
  if (key.Open(HKEY_CURRENT_USER, kNetscapeKey, KEY_READ) != ERROR_SUCCESS ||
      key.QueryString(kNetscapeFolderValue, folder) != ERROR_SUCCESS)
    return;
  if (!IsFullyQualifiedPath(folder)) return;
  while (folder.size() > 3 && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
  for (const char* format : kBrowserPluginFormats) {
    char path[MAX_PATH] = "";
    const int length = std::snprintf(path, sizeof(path), format, folder.c_str());
    if (length <= 0 || length >= MAX_PATH) continue;
    if (IsExistingFile(path)) TheRemovalActions().DeleteFile(path);
  }
}

}  // namespace

bool RemovePlugins(bool& rebootNeeded) {
  const std::string player = MediaPlayerPluginPath();
  if (!player.empty() && IsInSystemFolders(player)) {
    LogFormat("The media player plug-in's module '%s' lies in a system folder; it is left "
              "alone.", player.c_str());
    TheRemovalActions().Refuse(player, "the media player plug-in's module lies in a system "
                                       "folder");
  } else {
    RemoveModule(player, rebootNeeded);
  }
  RemoveModule(MediaFilterPath(), rebootNeeded);
  RemoveBrowserPlugins();
  return true;
}
