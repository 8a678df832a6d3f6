#include "ui/skin/Subclass.h"

namespace skin {

bool WindowSubclass::Install(HWND window, WNDPROC proc, const char* property, void* owner) {
  if (window_ || !window || !::IsWindow(window) || ::GetPropA(window, property)) return false;
  if (!::SetPropA(window, property, owner)) return false;
  // The property comes first: the new procedure may be called at once.
  ::SetLastError(0);
  const LONG_PTR old = ::SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(proc));
  if (old == 0 && ::GetLastError() != 0) {
    ::RemovePropA(window, property);
    return false;
  }
  window_ = window;
  proc_ = proc;
  previous_ = reinterpret_cast<WNDPROC>(old);
  property_ = property;
  return true;
}

void WindowSubclass::Remove() {
  if (!window_) return;
  if (::IsWindow(window_)) {
    const auto current = reinterpret_cast<WNDPROC>(::GetWindowLongPtrA(window_, GWLP_WNDPROC));
    if (current == proc_) {
      ::SetWindowLongPtrA(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous_));
    }
    ::RemovePropA(window_, property_);
  }
  window_ = nullptr;
}

LRESULT WindowSubclass::CallPrevious(UINT message, WPARAM wParam, LPARAM lParam) const {
  if (!window_ || !previous_) return ::DefWindowProcA(window_, message, wParam, lParam);
  return ::CallWindowProcA(previous_, window_, message, wParam, lParam);
}

void* WindowSubclass::Owner(HWND window, const char* property) {
  return ::GetPropA(window, property);
}

}  // namespace skin
