#include "core/Platform.h"

#include <windows.h>

bool GetOsVersion(OsVersion& version) {
  OSVERSIONINFOA info = {};
  info.dwOSVersionInfoSize = sizeof(info);
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
  const bool ok = ::GetVersionExA(&info) != FALSE;
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
  version.platformId = info.dwPlatformId;
  version.major = info.dwMajorVersion;
  version.minor = info.dwMinorVersion;
  return ok;
}

bool IsNT() {
  OsVersion version;
  GetOsVersion(version);
  return version.platformId == VER_PLATFORM_WIN32_NT;
}

bool IsVistaOrLater() {
  OsVersion version;
  GetOsVersion(version);
  return version.platformId == VER_PLATFORM_WIN32_NT && version.major >= 6;
}

bool IsWow64() {
  using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
  static const bool wow64 = [] {
    HMODULE kernel = ::GetModuleHandleA("kernel32.dll");
    // Systems before XP SP2 have no WoW64 and no such function.
    auto fn = kernel ? reinterpret_cast<IsWow64ProcessFn>(
                           reinterpret_cast<void*>(::GetProcAddress(kernel, "IsWow64Process")))
                     : nullptr;
    BOOL result = FALSE;
    return fn && fn(::GetCurrentProcess(), &result) && result;
  }();
  return wow64;
}

uint32_t NativeRegistryView() { return IsWow64() ? KEY_WOW64_64KEY : 0; }

namespace {

// `path` lies below `folder` (no trailing backslash), compared without case;
// `rest` is what follows the folder's backslash.
bool IsBelow(const std::string& path, const std::string& folder, std::string& rest) {
  if (folder.empty() || path.size() <= folder.size() + 1 || path[folder.size()] != '\\')
    return false;
  if (::CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, path.data(),
                       static_cast<int>(folder.size()), folder.data(),
                       static_cast<int>(folder.size())) != CSTR_EQUAL)
    return false;
  rest = path.substr(folder.size() + 1);
  return true;
}

std::string FolderWithoutSlash(const char* text, UINT length) {
  std::string folder(text, length);
  while (!folder.empty() && folder.back() == '\\') folder.pop_back();
  return folder;
}

}  // namespace

std::string NativePathForSystem(const std::string& path) {
  if (!IsWow64()) return path;
  char system[MAX_PATH] = "";
  const UINT systemLength = ::GetSystemDirectoryA(system, MAX_PATH);
  std::string rest;
  if (systemLength == 0 || systemLength >= MAX_PATH ||
      !IsBelow(path, FolderWithoutSlash(system, systemLength), rest))
    return path;
  for (const char* exempt : {"drivers\\etc", "spool", "catroot", "catroot2", "logfiles",
                             "driverstore"}) {
    std::string below;
    const std::string name(exempt);
    if (::CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, rest.data(),
                         static_cast<int>(rest.size()), name.data(),
                         static_cast<int>(name.size())) == CSTR_EQUAL ||
        IsBelow(rest, name, below))
      return path;
  }
  // Bound at run time: systems without WoW64 have no such function.
  using GetWow64FolderFn = UINT(WINAPI*)(LPSTR, UINT);
  HMODULE kernel = ::GetModuleHandleA("kernel32.dll");
  auto fn = kernel ? reinterpret_cast<GetWow64FolderFn>(reinterpret_cast<void*>(
                         ::GetProcAddress(kernel, "GetSystemWow64DirectoryA")))
                   : nullptr;
  char wow64[MAX_PATH] = "";
  const UINT wow64Length = fn ? fn(wow64, MAX_PATH) : 0;
  if (wow64Length == 0 || wow64Length >= MAX_PATH) return path;
  return FolderWithoutSlash(wow64, wow64Length) + "\\" + rest;
}

uint16_t GetUILanguageId() {
  if (IsNT()) return ::GetUserDefaultLangID();
  using GetUILanguageFn = LANGID(WINAPI*)();
  HMODULE kernel = ::GetModuleHandleA("kernel32.dll");
  auto fn = kernel ? reinterpret_cast<GetUILanguageFn>(
                         reinterpret_cast<void*>(::GetProcAddress(kernel, "GetUserDefaultUILanguage")))
                   : nullptr;
  return fn ? fn() : ::GetUserDefaultLangID();
}
