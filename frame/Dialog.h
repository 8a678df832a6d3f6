// Base of every dialog: binds a dialog procedure to an object. Derived
// classes override HandleMessage; nothing may unwind through the Win32 callback,
// so the procedure catches everything and ends the dialog with -1 on a fault.
#pragma once

#include <windows.h>

namespace frame {

// Runs once, before the first dialog of the process is made: the program
// sets it when it puts off preparing the common controls until a window
// needs them (a quiet check that finds nothing shows none). Set it before
// any dialog can be made; it may run on any thread that makes one.
void SetBeforeFirstDialog(void (*prepare)());

class Dialog {
 public:
  Dialog() = default;
  Dialog(const Dialog&) = delete;
  Dialog& operator=(const Dialog&) = delete;
  virtual ~Dialog();

  // Modal from an in-memory template (the caller found it in the right
  // language); returns what EndDialog was given, or -1.
  INT_PTR DoModal(const DLGTEMPLATE* dialogTemplate, HWND parent);
  // Modeless from an in-memory template; the dialog lives until Destroy.
  HWND Create(const DLGTEMPLATE* dialogTemplate, HWND parent);
  void Destroy();

  HWND hwnd() const { return hwnd_; }

 protected:
  // Return TRUE when the message was handled (as a dialog procedure does).
  virtual INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  // Only for modal dialogs.
  void End(INT_PTR result);

 private:
  static INT_PTR CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

  HWND hwnd_ = nullptr;
  bool modal_ = false;
};

}  // namespace frame
