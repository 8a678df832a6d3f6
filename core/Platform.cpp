#include "core/Platform.h"

#include <windows.h>

#include "core/Locations.h"

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

// `path` is `folder` itself or lies below it, compared without case.
bool IsOrIsBelow(const std::string& path, const std::string& folder) {
  return !folder.empty() && path.size() >= folder.size() &&
         (path.size() == folder.size() || path[folder.size()] == '\\') &&
         ::CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, path.data(),
                          static_cast<int>(folder.size()), folder.data(),
                          static_cast<int>(folder.size())) == CSTR_EQUAL;
}

}  // namespace

std::string NativePathForSystem(const std::string& path) {
  if (!IsWow64()) return path;
  const std::string system = SystemFolder(&::GetSystemDirectoryA);
  if (system.empty() || path.size() <= system.size() + 1 || !IsOrIsBelow(path, system))
    return path;
  const std::string rest = path.substr(system.size() + 1);
  for (const char* exempt : {"drivers\\etc", "spool", "catroot", "catroot2", "logfiles",
                             "driverstore"})
    if (IsOrIsBelow(rest, exempt)) return path;
  // Bound at run time: systems without WoW64 have no such function.
  using FolderQuery = UINT(WINAPI*)(LPSTR, UINT);
  HMODULE kernel = ::GetModuleHandleA("kernel32.dll");
  auto wow64Query = kernel ? reinterpret_cast<FolderQuery>(reinterpret_cast<void*>(
                                 ::GetProcAddress(kernel, "GetSystemWow64DirectoryA")))
                           : nullptr;
  const std::string wow64 = wow64Query ? SystemFolder(wow64Query) : std::string();
  return wow64.empty() ? path : wow64 + path.substr(system.size());
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
