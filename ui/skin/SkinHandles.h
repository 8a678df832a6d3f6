// Owners for what the skin borrows from the system while it draws: device
// contexts, the message-box hook. GDI objects themselves use frame/Handle.h.
#pragma once

#include <windows.h>

#include "frame/Handle.h"

namespace skin {

// A window's whole-window DC (GetWindowDC), released on scope exit.
class ScopedWindowDC {
 public:
  explicit ScopedWindowDC(HWND window) : window_(window), dc_(::GetWindowDC(window)) {}
  ~ScopedWindowDC() {
    if (dc_) ::ReleaseDC(window_, dc_);
  }
  ScopedWindowDC(const ScopedWindowDC&) = delete;
  ScopedWindowDC& operator=(const ScopedWindowDC&) = delete;
  HDC get() const { return dc_; }

 private:
  HWND window_;
  HDC dc_;
};

// A window's client DC, or the screen's for no window (GetDC).
class ScopedClientDC {
 public:
  explicit ScopedClientDC(HWND window) : window_(window), dc_(::GetDC(window)) {}
  ~ScopedClientDC() {
    if (dc_) ::ReleaseDC(window_, dc_);
  }
  ScopedClientDC(const ScopedClientDC&) = delete;
  ScopedClientDC& operator=(const ScopedClientDC&) = delete;
  HDC get() const { return dc_; }

 private:
  HWND window_;
  HDC dc_;
};

// A memory DC compatible with another, deleted on scope exit.
class ScopedMemoryDC {
 public:
  explicit ScopedMemoryDC(HDC compatible) : dc_(::CreateCompatibleDC(compatible)) {}
  ~ScopedMemoryDC() {
    if (dc_) ::DeleteDC(dc_);
  }
  ScopedMemoryDC(const ScopedMemoryDC&) = delete;
  ScopedMemoryDC& operator=(const ScopedMemoryDC&) = delete;
  HDC get() const { return dc_; }

 private:
  HDC dc_;
};

// SaveDC on entry, RestoreDC on exit: clip regions and drawing modes.
class ScopedSavedDC {
 public:
  explicit ScopedSavedDC(HDC dc) : dc_(dc), saved_(::SaveDC(dc)) {}
  ~ScopedSavedDC() {
    if (saved_) ::RestoreDC(dc_, saved_);
  }
  ScopedSavedDC(const ScopedSavedDC&) = delete;
  ScopedSavedDC& operator=(const ScopedSavedDC&) = delete;

 private:
  HDC dc_;
  int saved_;
};

struct HookTraits {
  using Type = HHOOK;
  static Type Invalid() { return nullptr; }
  static void Close(Type h) { ::UnhookWindowsHookEx(h); }
};
using ScopedHook = frame::UniqueHandle<HookTraits>;

}  // namespace skin
