#include "browser/WinInetCookies.h"

#include "frame/Binding.h"

namespace {

WinInetCookieApi g_api;
frame::LibraryBinding g_binding;

}  // namespace

bool BindWinInetCookies() {
  using frame::Slot;
  const frame::FunctionSlot slots[] = {
      {"InternetSetCookieA", Slot(g_api.InternetSetCookieA)},
      {"InternetGetCookieA", Slot(g_api.InternetGetCookieA)},
  };
  return g_binding.Bind("WinInet.dll", slots, sizeof(slots) / sizeof(slots[0]));
}

const WinInetCookieApi& WinInetCookies() { return g_api; }
