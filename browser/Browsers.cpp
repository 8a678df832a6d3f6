#include "browser/Browsers.h"

#include <windows.h>

#include <cctype>
#include <vector>

#include <shlobj.h>

#include "browser/Sites.h"
#include "core/Locations.h"
#include "core/Platform.h"
#include "frame/Handle.h"
#include "frame/RegKey.h"
#include "tasks/ScheduledLaunch.h"

namespace {

struct BrowserName {
  const char* executable;
  const char* pageName;
};

const BrowserName kBrowserNames[kBrowserCount] = {
    {"IEXPLORE.EXE", "IE"},
    {"FIREFOX.EXE", "FireFox"},
    {"SAFARI.EXE", "Safari"},
    {"CHROME.EXE", "Chrome"},
};

constexpr DWORD kMaxValueName = 16384;  // the registry's own limit, terminator included
constexpr DWORD kMaxKeyName = 256;
constexpr DWORD kFileTypeChars = 500;

// The key's own "PathToExe" when it is a text, else the first one found
// below it, subkeys in enumeration order; "" when there is none.
std::string FindPathToExe(HKEY key) {
  std::vector<char> name(kMaxValueName);
  for (DWORD index = 0;; ++index) {
    DWORD nameChars = kMaxValueName;
    DWORD type = 0;
    char data[MAX_PATH + 1] = "";
    DWORD bytes = MAX_PATH;
    const LONG rc = ::RegEnumValueA(key, index, name.data(), &nameChars, nullptr, &type,
                                    reinterpret_cast<BYTE*>(data), &bytes);
    if (rc == ERROR_MORE_DATA) continue;  // a longer text is no usable path
    if (rc != ERROR_SUCCESS) break;
    if (type != REG_SZ || ::lstrcmpiA(name.data(), "PathToExe") != 0) continue;
    data[bytes < MAX_PATH ? bytes : MAX_PATH] = '\0';
    const std::string path(data);  // stops at the stored terminator, if any
    if (!path.empty()) return path;
    break;
  }
  for (DWORD index = 0;; ++index) {
    char subkeyName[kMaxKeyName] = "";
    DWORD chars = kMaxKeyName;
    const LONG rc =
        ::RegEnumKeyExA(key, index, subkeyName, &chars, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_MORE_DATA) continue;
    if (rc != ERROR_SUCCESS) break;
    frame::RegKey subkey;
    if (subkey.Open(key, subkeyName, KEY_READ) != ERROR_SUCCESS) continue;
    std::string path = FindPathToExe(subkey.get());
    if (!path.empty()) return path;
  }
  return std::string();
}

std::string ReadDefaultValue(HKEY root, const std::string& path) {
  frame::RegKey key;
  std::string value;
  if (key.Open(root, path, KEY_READ) != ERROR_SUCCESS) return std::string();
  if (key.QueryString("", value, kFileTypeChars) != ERROR_SUCCESS) return std::string();
  return value;
}

}  // namespace

BrowserTable MakeBrowserTable() {
  BrowserTable table;
  for (size_t row = 0; row < kBrowserCount; ++row)
    table[row].sModuleName = kBrowserNames[row].executable;
  return table;
}

const char* BrowserPageName(BrowserRow row) {
  return row < kBrowserCount ? kBrowserNames[row].pageName : "";
}

std::string FindFirefoxPath() {
  // A 64-bit Firefox registers in the system's own view, a 32-bit one, on
  // 64-bit Windows, in the view this program is shown.
  for (REGSAM view : {static_cast<REGSAM>(NativeRegistryView()), REGSAM(0)}) {
    frame::RegKey mozilla;
    if (mozilla.Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Mozilla", KEY_READ | view) != ERROR_SUCCESS)
      continue;
    std::string path = FindPathToExe(mozilla.get());
    if (!path.empty()) return path;
  }
  return std::string();
}

bool IsInternetExplorerDefault() {
  const std::string fileType = ReadDefaultValue(HKEY_CLASSES_ROOT, ".html");
  if (fileType.empty()) return false;
  std::string command = ReadDefaultValue(HKEY_CLASSES_ROOT, fileType + "\\shell\\open\\command");
  for (char& c : command) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return command.find("IEXPLORE.EXE") != std::string::npos;
}

std::string BuildCompletionAddress(const std::string& urlTemplate, const std::string& pm,
                                   const std::string& pdm, const std::string& browserName,
                                   const std::string& operation) {
  const std::string* values[] = {&pm, &pdm, &browserName, &operation};
  std::string address;
  size_t next = 0;
  size_t from = 0;
  for (size_t at = urlTemplate.find("%s"); at != std::string::npos && next < 4;
       at = urlTemplate.find("%s", from)) {
    address.append(urlTemplate, from, at - from);
    address += *values[next++];
    from = at + 2;
  }
  address.append(urlTemplate, from, std::string::npos);
  for (size_t at = address.find("?&"); at != std::string::npos; at = address.find("?&", at + 1))
    address.erase(at + 1, 1);
  return address;
}

bool OpenCompletionPage(const std::string& browserPath, const std::string& pm,
                        const std::string& pdm, const std::string& browserName,
                        const std::string& operation) {
  const std::string urlTemplate = GetCompletionUrlTemplate();
  if (urlTemplate.empty() || browserPath.empty()) return false;
  const std::string address = BuildCompletionAddress(urlTemplate, pm, pdm, browserName, operation);
  // Both come from the machine or the sites' values: a quote inside either
  // would end its argument early and let the rest become arguments of its own.
  if (browserPath.find('"') != std::string::npos || address.find('"') != std::string::npos)
    return false;
  // The browser may outlive the uninstaller: it runs in its own folder and
  // gets none of the uninstaller's handles, so that it pins neither the
  // uninstaller's folder nor its files against deletion; and it runs with
  // the user's own rights, not the uninstaller's.
  std::string folder = browserPath.substr(0, browserPath.find_last_of("\\/") + 1);
  if (folder.size() > 3) folder.pop_back();  // "C:\" keeps its backslash
  return StartWithUserRights(browserPath, "\"" + address + "\"", folder);
}

bool IsInMachineProgramFolders(const std::string& path) {
  // Not the Windows folder: ordinary users may create files in some of its
  // folders (its Temp, the printer drivers' colour folder).
  std::vector<std::string> folders;
  char buffer[MAX_PATH] = "";
  for (int csidl : {CSIDL_PROGRAM_FILES, CSIDL_PROGRAM_FILESX86}) {
    buffer[0] = '\0';
    if (SUCCEEDED(::SHGetFolderPathA(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buffer)) &&
        buffer[0])
      folders.push_back(buffer);
  }
  // The 64-bit system's own Program Files, which a 32-bit program is shown
  // under another name.
  frame::RegKey key;
  std::string native;
  if (key.Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion",
               KEY_READ | NativeRegistryView()) == ERROR_SUCCESS &&
      key.QueryString("ProgramFilesDir", native) == ERROR_SUCCESS && !native.empty())
    folders.push_back(native);
  for (const std::string& folder : folders)
    if (IsFolderBelowRoot(WithBackslash(folder)) && IsPathInsideFolder(path, folder)) return true;
  return false;
}
