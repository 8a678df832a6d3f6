// WinInet, bound at run time: the library is loaded at start-up and released
// at process end; the binding fails unless all fifteen functions are there.
#pragma once

#include <windows.h>
#include <wininet.h>

struct WinInetApi {
  decltype(&::InternetOpenA) InternetOpenA = nullptr;
  decltype(&::InternetConnectA) InternetConnectA = nullptr;
  decltype(&::InternetGetLastResponseInfoA) InternetGetLastResponseInfoA = nullptr;
  decltype(&::InternetCloseHandle) InternetCloseHandle = nullptr;
  decltype(&::InternetQueryOptionA) InternetQueryOptionA = nullptr;
  decltype(&::InternetSetFilePointer) InternetSetFilePointer = nullptr;
  decltype(&::InternetReadFile) InternetReadFile = nullptr;
  decltype(&::InternetWriteFile) InternetWriteFile = nullptr;
  decltype(&::InternetCrackUrlA) InternetCrackUrlA = nullptr;
  decltype(&::InternetQueryDataAvailable) InternetQueryDataAvailable = nullptr;
  decltype(&::HttpOpenRequestA) HttpOpenRequestA = nullptr;
  decltype(&::HttpSendRequestA) HttpSendRequestA = nullptr;
  decltype(&::HttpAddRequestHeadersA) HttpAddRequestHeadersA = nullptr;
  decltype(&::InternetSetOptionA) InternetSetOptionA = nullptr;
  decltype(&::HttpQueryInfoA) HttpQueryInfoA = nullptr;
  decltype(&::InternetErrorDlg) InternetErrorDlg = nullptr;
};

// Binds once; true when every function was found.
bool BindWinInet();
// The bound functions (all null when the binding failed).
const WinInetApi& WinInet();
// True once a binding succeeded. A quiet run goes on without WinInet, so the
// transfer layer asks before it calls.
bool IsWinInetBound();
