// Skins of a dialog's child controls: push buttons (also default push
// buttons and group boxes) and tab controls, drawn in the dialog's colours.
// Each subclasses its control while it lives; the dialog owns them.
#pragma once

#include <windows.h>

#include <memory>

#include "ui/skin/Subclass.h"

namespace skin {

class ControlSkin {
 public:
  ControlSkin(COLORREF background, COLORREF text) : background_(background), text_(text) {}
  virtual ~ControlSkin() = default;
  ControlSkin(const ControlSkin&) = delete;
  ControlSkin& operator=(const ControlSkin&) = delete;

  // Subclasses the control and makes it draw through the skin.
  bool Attach(HWND control);
  // Gives the control back its procedure (when it is still ours).
  void Detach() { subclass_.Remove(); }

  HWND Control() const { return subclass_.Window(); }
  void SetColours(COLORREF background, COLORREF text);

  // An owner-draw request for this control; false when not handled.
  virtual bool Draw(const DRAWITEMSTRUCT& item) = 0;

  // The skin a control carries, if any.
  static ControlSkin* Of(HWND control);

 protected:
  virtual void OnAttach() {}
  virtual LRESULT Message(UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT CallPrevious(UINT message, WPARAM wParam, LPARAM lParam) {
    return subclass_.CallPrevious(message, wParam, lParam);
  }

  COLORREF background_;
  COLORREF text_;

 private:
  static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  WindowSubclass subclass_;
};

// Push and default push buttons become owner-drawn; group boxes keep their
// type and are painted by the skin.
class PushButtonSkin : public ControlSkin {
 public:
  using ControlSkin::ControlSkin;
  bool Draw(const DRAWITEMSTRUCT& item) override;

 protected:
  void OnAttach() override;
  LRESULT Message(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  void PaintGroupBox();
  bool groupBox_ = false;
  bool default_ = false;  // the dialog's default button (a thicker frame)
};

// The selected tab in the dialog's background colour, the others in the
// inactive tab colour; labels centred in the text colour.
class TabControlSkin : public ControlSkin {
 public:
  using ControlSkin::ControlSkin;
  bool Draw(const DRAWITEMSTRUCT& item) override;

 protected:
  void OnAttach() override;
};

constexpr COLORREF kInactiveTabColour = 0x95DACD;

// The skin for a child window of this class and style, or nullptr for a
// control that the skin leaves alone.
std::unique_ptr<ControlSkin> MakeControlSkin(HWND control, COLORREF background, COLORREF text);

}  // namespace skin
