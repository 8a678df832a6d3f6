// WinInet's cookie calls, bound at run time like the transfer layer's calls:
// the library is loaded on first use and released at process end.
#pragma once

#include <windows.h>
#include <wininet.h>

struct WinInetCookieApi {
  decltype(&::InternetSetCookieA) InternetSetCookieA = nullptr;
  decltype(&::InternetGetCookieA) InternetGetCookieA = nullptr;
};

// Binds once; true when both functions were found.
bool BindWinInetCookies();
// The bound functions (null when the binding failed).
const WinInetCookieApi& WinInetCookies();
