// Replacing a window's procedure for the length of a skin. The owner object is
// found again through a window property, so one procedure serves every window.
#pragma once

#include <windows.h>

namespace skin {

class WindowSubclass {
 public:
  WindowSubclass() = default;
  ~WindowSubclass() { Remove(); }
  WindowSubclass(const WindowSubclass&) = delete;
  WindowSubclass& operator=(const WindowSubclass&) = delete;

  // Puts `proc` in place and remembers the old procedure; false when the
  // window is gone, already carries `property`, or this subclass is in use.
  bool Install(HWND window, WNDPROC proc, const char* property, void* owner);
  // Gives the window its old procedure back when it still has ours (someone
  // may have subclassed it after us), and drops the property.
  void Remove();

  // The replaced procedure, or the default window procedure before Install.
  LRESULT CallPrevious(UINT message, WPARAM wParam, LPARAM lParam) const;

  HWND Window() const { return window_; }
  bool Installed() const { return window_ != nullptr; }

  static void* Owner(HWND window, const char* property);

 private:
  HWND window_ = nullptr;
  WNDPROC proc_ = nullptr;
  WNDPROC previous_ = nullptr;
  const char* property_ = nullptr;
};

}  // namespace skin
