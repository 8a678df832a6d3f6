// Owner of a WinInet handle. The destructor closes quietly; code that must log
// a failed close (sessions, request files) calls CloseInternetHandle itself.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <memory>

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

// A WinInet handle that a call left behind on a call thread may still be
// using. It is closed only once its last holder lets go: the caller drops
// its share when it leaves a call behind, and the call closes the handle
// when it returns. Each handle holds its parent (a request its connection,
// a connection its session), since closing a parent closes its children.
struct SharedInternet {
  std::shared_ptr<SharedInternet> parent;  // declared first, so closed last
  ScopedInternet handle;
  HINTERNET get() const { return handle.get(); }
};
using SharedInternetPtr = std::shared_ptr<SharedInternet>;

// How long the network may stay silent (at the connect, the request, or in
// the middle of a body) before a transfer fails with ERROR_INTERNET_TIMEOUT.
// A line that still delivers bytes is never cut off.
constexpr DWORD kTransferTimeoutMs = 60000;
DWORD TransferTimeoutMs();
// What a call thread's wait allows beyond WinInet's own time-outs before it
// leaves the call behind.
constexpr DWORD kCallGraceMs = 5000;
// Test seam for in-process tests: a shorter limit; 0 restores kTransferTimeoutMs.
void SetTransferTimeoutForTests(DWORD ms);

// Sets WinInet's connect, send and receive time-outs on a session or request
// handle (Wine takes them only from the request). False when one is refused.
bool SetInternetTimeouts(HINTERNET handle);

// A call that failed after the network was silent for the limit: WinInet
// says so with its own code, Winsock's (Wine), or, for a call that waits for
// the first byte (elapsedMs: how long it waited), a dropped connection that
// came only once the limit had passed.
bool IsTimeoutFailure(DWORD error, DWORD elapsedMs);

// Closes and empties the handle; 0, or the close's error code, logged as
// "InternetCloseHandle failed" with the caller's line.
DWORD CloseInternetHandle(ScopedInternet& handle, int line);
// Lets go of a shared handle: closes it (as above) when no call holds it any
// more, else leaves the close to the last holder. The pointer is empty after.
DWORD ReleaseInternetHandle(SharedInternetPtr& handle, int line);
