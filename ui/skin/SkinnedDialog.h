// The base of every dialog of the program: the flat coloured look. The skin
// replaces the dialog window's procedure (attached at initialisation, or by
// the message-box hook), paints the frame and caption itself with its own
// caption buttons, colours static controls and draws push buttons, group
// boxes and tab controls. Everything runs on the thread that owns the window.
//
// Deriving: override OnInitDialog for set-up and OnMessage for the dialog's
// own messages (return TRUE when handled); commands with the identifiers of
// the standard buttons (IDOK .. IDNO) that OnMessage leaves end the dialog
// with that identifier. A modeless dialog handles those commands itself.
#pragma once

#include <windows.h>

#include <memory>
#include <vector>

#include "frame/Dialog.h"
#include "frame/Handle.h"
#include "ui/skin/Caption.h"
#include "ui/skin/CaptionImages.h"
#include "ui/skin/Subclass.h"

namespace skin {
class ControlSkin;
}

class SkinnedDialog : public frame::Dialog {
 public:
  // Background from colour slot 5, text from slot 2.
  SkinnedDialog();
  ~SkinnedDialog() override;

  COLORREF BackgroundColour() const { return background_; }
  COLORREF TextColour() const { return text_; }
  HBRUSH BackgroundBrush() const { return static_cast<HBRUSH>(brush_.get()); }
  // Both repaint the window (and its skinned controls) when it exists.
  void SetBackgroundColour(COLORREF colour);
  void SetTextColour(COLORREF colour);

  // Puts the skin's procedure in place of the window's; false when the
  // window is gone or this skin is attached already.
  bool Attach(HWND window);
  // Restores the window's procedure (when it is still the skin's) and drops
  // the skins of the child controls.
  void Detach();
  HWND SkinnedWindow() const { return subclass_.Window(); }

  // Gives every child button and tab control that has no skin yet its skin;
  // call again after creating controls later.
  void SkinChildren();

 protected:
  // After the skin attached, before the children get their skins. Returns
  // what WM_INITDIALOG returns (TRUE: the system sets the focus).
  virtual INT_PTR OnInitDialog() { return TRUE; }
  // The dialog procedure's messages; TRUE when handled.
  virtual INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);

  // The skinned window's procedure. Overrides handle what they need first
  // and call this for the rest.
  virtual LRESULT WindowMessage(UINT message, WPARAM wParam, LPARAM lParam);
  // The window's own procedure (the one the skin replaced).
  LRESULT CallPrevious(UINT message, WPARAM wParam, LPARAM lParam) {
    return subclass_.CallPrevious(message, wParam, lParam);
  }
  // Paints frame and caption now; false when the window keeps the system's
  // look (minimised) or is not skinned.
  bool PaintFrame();

 private:
  INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) final;
  static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  LRESULT DefaultThenPaint(UINT message, WPARAM wParam, LPARAM lParam);
  bool PressButton(POINT screenPoint);
  LRESULT TrackPressedButton(UINT message, LPARAM clientPoint);
  void ForgetPressedButton();
  void ShowSystemMenu(POINT screenPoint);
  POINT ToWindow(POINT screenPoint) const;

  skin::WindowSubclass subclass_;
  COLORREF background_;
  COLORREF text_;
  frame::ScopedGdiObject brush_;
  skin::CaptionImages images_;
  skin::CaptionButton pressed_ = skin::CaptionButton::None;
  bool pressedShown_ = false;  // the remembered button is drawn pressed
  std::vector<std::unique_ptr<skin::ControlSkin>> children_;
};
