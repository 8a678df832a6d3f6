// Owner of a WinInet handle. The destructor closes quietly; code that must log
// a failed close (sessions, request files) calls CloseInternetHandle itself.
#pragma once

#include <windows.h>
#include <wininet.h>

#include "frame/Handle.h"
#include "transfer/WinInetApi.h"

struct InternetHandleTraits {
  using Type = HINTERNET;
  static Type Invalid() { return nullptr; }
  static void Close(Type h) {
    if (WinInet().InternetCloseHandle) WinInet().InternetCloseHandle(h);
  }
};

using ScopedInternet = frame::UniqueHandle<InternetHandleTraits>;

// Closes and empties the handle; 0, or the close's error code, logged as
// "InternetCloseHandle failed" with the caller's line.
DWORD CloseInternetHandle(ScopedInternet& handle, int line);
