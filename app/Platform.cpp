#include "app/Platform.h"

#include <windows.h>

namespace {

OSVERSIONINFOA Version() {
  OSVERSIONINFOA info = {};
  info.dwOSVersionInfoSize = sizeof(info);
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
  ::GetVersionExA(&info);
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
  return info;
}

}  // namespace

bool IsNT() { return Version().dwPlatformId == VER_PLATFORM_WIN32_NT; }

bool IsVistaOrLater() {
  const OSVERSIONINFOA info = Version();
  return info.dwPlatformId == VER_PLATFORM_WIN32_NT && info.dwMajorVersion >= 6;
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
