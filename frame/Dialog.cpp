#include "frame/Dialog.h"

#include <mutex>

#include "frame/Module.h"

namespace frame {

namespace {

void (*g_beforeFirstDialog)() = nullptr;

void PrepareFirstDialog() {
  static std::once_flag once;
  if (g_beforeFirstDialog) std::call_once(once, g_beforeFirstDialog);
}

}  // namespace

void SetBeforeFirstDialog(void (*prepare)()) { g_beforeFirstDialog = prepare; }

Dialog::~Dialog() {
  if (hwnd_ && !modal_) ::DestroyWindow(hwnd_);
}

INT_PTR Dialog::DoModal(const DLGTEMPLATE* dialogTemplate, HWND parent) {
  if (!dialogTemplate) return -1;
  modal_ = true;
  PrepareFirstDialog();
  return ::DialogBoxIndirectParamA(TheModule().Instance(), dialogTemplate, parent, &Dialog::Proc,
                                   reinterpret_cast<LPARAM>(this));
}

HWND Dialog::Create(const DLGTEMPLATE* dialogTemplate, HWND parent) {
  if (!dialogTemplate) return nullptr;
  modal_ = false;
  PrepareFirstDialog();
  return ::CreateDialogIndirectParamA(TheModule().Instance(), dialogTemplate, parent,
                                      &Dialog::Proc, reinterpret_cast<LPARAM>(this));
}

void Dialog::Destroy() {
  if (hwnd_) ::DestroyWindow(hwnd_);
}

void Dialog::End(INT_PTR result) {
  if (hwnd_) ::EndDialog(hwnd_, result);
}

INT_PTR Dialog::HandleMessage(UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_INITDIALOG) return TRUE;
  if (message == WM_COMMAND && modal_ &&
      (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
    End(LOWORD(wParam));
    return TRUE;
  }
  return FALSE;
}

INT_PTR CALLBACK Dialog::Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  Dialog* self = nullptr;
  if (message == WM_INITDIALOG) {
    self = reinterpret_cast<Dialog*>(lParam);
    ::SetWindowLongPtrA(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
    if (self) self->hwnd_ = hwnd;
  } else {
    self = reinterpret_cast<Dialog*>(::GetWindowLongPtrA(hwnd, DWLP_USER));
  }
  if (!self) return FALSE;
  INT_PTR result = FALSE;
  try {
    result = self->HandleMessage(message, wParam, lParam);
  } catch (...) {
    if (self->modal_) ::EndDialog(hwnd, -1);
    else ::DestroyWindow(hwnd);
    result = TRUE;
  }
  if (message == WM_NCDESTROY) {
    ::SetWindowLongPtrA(hwnd, DWLP_USER, 0);
    self->hwnd_ = nullptr;
  }
  return result;
}

}  // namespace frame
