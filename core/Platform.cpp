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

uint16_t GetUILanguageId() {
  if (IsNT()) return ::GetUserDefaultLangID();
  using GetUILanguageFn = LANGID(WINAPI*)();
  HMODULE kernel = ::GetModuleHandleA("kernel32.dll");
  auto fn = kernel ? reinterpret_cast<GetUILanguageFn>(
                         reinterpret_cast<void*>(::GetProcAddress(kernel, "GetUserDefaultUILanguage")))
                   : nullptr;
  return fn ? fn() : ::GetUserDefaultLangID();
}
