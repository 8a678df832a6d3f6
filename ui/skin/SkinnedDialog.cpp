#include "ui/skin/SkinnedDialog.h"

#include <windowsx.h>

#include "ui/skin/ControlSkins.h"
#include "ui/skin/SkinColours.h"

namespace {

constexpr char kSkinProperty[] = "UpgradeSkin";
constexpr int kBackgroundSlot = 5;
constexpr int kTextSlot = 2;
constexpr int kCaptionSlot = 6;

using skin::CaptionButton;

UINT SystemCommandFor(CaptionButton button, HWND window) {
  switch (button) {
    case CaptionButton::Minimise: return SC_MINIMIZE;
    case CaptionButton::MaximiseRestore: return ::IsZoomed(window) ? SC_RESTORE : SC_MAXIMIZE;
    case CaptionButton::Close: return SC_CLOSE;
    case CaptionButton::Help: return SC_CONTEXTHELP;
    default: return 0;
  }
}

LRESULT HitCodeFor(CaptionButton button) {
  switch (button) {
    case CaptionButton::Minimise: return HTMINBUTTON;
    case CaptionButton::MaximiseRestore: return HTMAXBUTTON;
    case CaptionButton::Close: return HTCLOSE;
    case CaptionButton::Help: return HTHELP;
    default: return HTNOWHERE;
  }
}

bool IsCaptionHit(WPARAM hit) {
  return hit == HTCAPTION || hit == HTSYSMENU || hit == HTMINBUTTON || hit == HTMAXBUTTON ||
         hit == HTCLOSE || hit == HTHELP;
}

POINT PointOf(LPARAM lParam) { return {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)}; }

// TrackPopupMenu does not bring the system menu up to date as the system's
// own tracking does: enable what applies to the window as it is now.
void UpdateSystemMenu(HWND window, HMENU menu) {
  const LONG style = ::GetWindowLongA(window, GWL_STYLE);
  const bool zoomed = ::IsZoomed(window) != FALSE;
  const bool iconic = ::IsIconic(window) != FALSE;
  auto enable = [menu](UINT command, bool on) {
    ::EnableMenuItem(menu, command, MF_BYCOMMAND | (on ? MF_ENABLED : MF_GRAYED));
  };
  enable(SC_RESTORE, zoomed || iconic);
  enable(SC_MOVE, !zoomed && !iconic);
  enable(SC_SIZE, (style & WS_THICKFRAME) && !zoomed && !iconic);
  enable(SC_MINIMIZE, (style & WS_MINIMIZEBOX) && !iconic);
  enable(SC_MAXIMIZE, (style & WS_MAXIMIZEBOX) && !zoomed);
  // The system greys Close for a message box without Cancel, yet the skin's
  // close button closes every window (a box then answers Cancel).
  const skin::CaptionLayout layout = skin::LayoutCaption(window);
  const int close = static_cast<int>(CaptionButton::Close);
  if (layout.visible[close] && !layout.unavailable[close]) enable(SC_CLOSE, true);
}

}  // namespace

SkinnedDialog::SkinnedDialog()
    : background_(SkinColour(kBackgroundSlot)),
      text_(SkinColour(kTextSlot)),
      brush_(::CreateSolidBrush(background_)) {}

SkinnedDialog::~SkinnedDialog() { Detach(); }

void SkinnedDialog::SetBackgroundColour(COLORREF colour) {
  background_ = colour;
  brush_.reset(::CreateSolidBrush(colour));
  for (auto& child : children_) child->SetColours(background_, text_);
  if (HWND window = SkinnedWindow())
    ::RedrawWindow(window, nullptr, nullptr,
                   RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
}

void SkinnedDialog::SetTextColour(COLORREF colour) {
  text_ = colour;
  for (auto& child : children_) child->SetColours(background_, text_);
  if (HWND window = SkinnedWindow())
    ::RedrawWindow(window, nullptr, nullptr,
                   RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
}

bool SkinnedDialog::Attach(HWND window) {
  return subclass_.Install(window, &SkinnedDialog::Proc, kSkinProperty, this);
}

void SkinnedDialog::Detach() {
  const bool tracking = pressed_ != CaptionButton::None;
  ForgetPressedButton();
  if (tracking && SkinnedWindow() && ::GetCapture() == SkinnedWindow()) ::ReleaseCapture();
  for (auto& child : children_) child->Detach();
  children_.clear();
  subclass_.Remove();
}

void SkinnedDialog::SkinChildren() {
  HWND window = SkinnedWindow();
  if (!window) return;
  // Direct children only: a nested dialog's controls send their drawing
  // requests to that dialog, not to this one.
  for (HWND child = ::GetWindow(window, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
    if (skin::ControlSkin::Of(child)) continue;
    std::unique_ptr<skin::ControlSkin> skin = skin::MakeControlSkin(child, background_, text_);
    if (skin && skin->Attach(child)) children_.push_back(std::move(skin));
  }
}

INT_PTR SkinnedDialog::OnMessage(UINT, WPARAM, LPARAM) { return FALSE; }

INT_PTR SkinnedDialog::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    Attach(hwnd());
    const INT_PTR result = OnInitDialog();
    SkinChildren();
    return result;
  }
  if (OnMessage(message, wParam, lParam)) return TRUE;
  if (message == WM_COMMAND) {
    const UINT id = LOWORD(wParam);
    const UINT code = HIWORD(wParam);  // 0 from a button or menu, 1 from an accelerator
    if (id >= IDOK && id <= IDNO && (code == BN_CLICKED || code == 1)) {
      End(id);
      return TRUE;
    }
  }
  return FALSE;
}

LRESULT CALLBACK SkinnedDialog::Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = static_cast<SkinnedDialog*>(skin::WindowSubclass::Owner(window, kSkinProperty));
  if (!self) return ::DefDlgProcA(window, message, wParam, lParam);
  try {
    return self->WindowMessage(message, wParam, lParam);
  } catch (...) {
    // Nothing may unwind into the system: the window's own procedure answers.
    return self->CallPrevious(message, wParam, lParam);
  }
}

bool SkinnedDialog::PaintFrame() {
  HWND window = SkinnedWindow();
  if (!window) return false;
  const skin::CaptionLook look = {background_, SkinColour(kCaptionSlot),
                                  pressedShown_ ? pressed_ : CaptionButton::None};
  return skin::PaintFrameAndCaption(window, look, images_);
}

LRESULT SkinnedDialog::DefaultThenPaint(UINT message, WPARAM wParam, LPARAM lParam) {
  const LRESULT result = CallPrevious(message, wParam, lParam);
  PaintFrame();
  return result;
}

POINT SkinnedDialog::ToWindow(POINT screenPoint) const {
  RECT rect{};
  ::GetWindowRect(SkinnedWindow(), &rect);
  return {screenPoint.x - rect.left, screenPoint.y - rect.top};
}

bool SkinnedDialog::PressButton(POINT screenPoint) {
  HWND window = SkinnedWindow();
  const CaptionButton button =
      skin::ButtonAt(skin::LayoutCaption(window), ToWindow(screenPoint));
  if (button == CaptionButton::None) return false;
  pressed_ = button;
  pressedShown_ = true;
  ::SetCapture(window);
  PaintFrame();
  return true;
}

void SkinnedDialog::ForgetPressedButton() {
  pressed_ = CaptionButton::None;
  pressedShown_ = false;
}

LRESULT SkinnedDialog::TrackPressedButton(UINT message, LPARAM clientPoint) {
  HWND window = SkinnedWindow();
  POINT point = PointOf(clientPoint);  // captured: client coordinates
  ::ClientToScreen(window, &point);
  const bool over = skin::ButtonAt(skin::LayoutCaption(window), ToWindow(point)) == pressed_;
  if (message == WM_MOUSEMOVE) {
    if (over != pressedShown_) {
      pressedShown_ = over;
      PaintFrame();
    }
    return 0;
  }
  const CaptionButton button = pressed_;
  ForgetPressedButton();
  ::ReleaseCapture();
  PaintFrame();
  if (over) ::PostMessageA(window, WM_SYSCOMMAND, SystemCommandFor(button, window), 0);
  return 0;
}

void SkinnedDialog::ShowSystemMenu(POINT screenPoint) {
  HWND window = SkinnedWindow();
  HMENU menu = ::GetSystemMenu(window, FALSE);
  if (!menu) return;
  UpdateSystemMenu(window, menu);
  const UINT command = static_cast<UINT>(
      ::TrackPopupMenu(menu, TPM_RIGHTBUTTON | TPM_RETURNCMD | TPM_NONOTIFY, screenPoint.x,
                       screenPoint.y, 0, window, nullptr));
  if (command)
    ::PostMessageA(window, WM_SYSCOMMAND, command, MAKELPARAM(screenPoint.x, screenPoint.y));
}

LRESULT SkinnedDialog::WindowMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  HWND window = SkinnedWindow();
  switch (message) {
    case WM_INITDIALOG: {
      // Windows the hook skinned before they existed (message boxes).
      const LRESULT result = CallPrevious(message, wParam, lParam);
      SkinChildren();
      return result;
    }
    case WM_NCPAINT:
      if (PaintFrame()) return 0;
      return CallPrevious(message, wParam, lParam);  // minimised: the system's look
    case WM_ERASEBKGND: {
      RECT client{};
      ::GetClientRect(window, &client);
      ::FillRect(reinterpret_cast<HDC>(wParam), &client, BackgroundBrush());
      return 1;
    }
    case WM_NCHITTEST: {
      // The skin's buttons are the only caption buttons: its rectangles decide.
      const LRESULT hit = CallPrevious(message, wParam, lParam);
      const CaptionButton button =
          skin::ButtonAt(skin::LayoutCaption(window), ToWindow(PointOf(lParam)));
      if (button != CaptionButton::None) return HitCodeFor(button);
      if (hit == HTMINBUTTON || hit == HTMAXBUTTON || hit == HTCLOSE || hit == HTHELP)
        return HTCAPTION;
      return hit;
    }
    case WM_NCLBUTTONDOWN:
    case WM_NCLBUTTONDBLCLK:
      if (PressButton(PointOf(lParam))) return 0;
      return CallPrevious(message, wParam, lParam);  // moving, the maximise double-click
    case WM_MOUSEMOVE:
    case WM_LBUTTONUP:
      if (pressed_ != CaptionButton::None && ::GetCapture() == window)
        return TrackPressedButton(message, lParam);
      return CallPrevious(message, wParam, lParam);
    case WM_CAPTURECHANGED:
      if (pressed_ != CaptionButton::None && reinterpret_cast<HWND>(lParam) != window) {
        ForgetPressedButton();
        PaintFrame();
      }
      return CallPrevious(message, wParam, lParam);
    case WM_NCRBUTTONDOWN:
      // The system would track the button itself and show its own menu.
      if (IsCaptionHit(wParam)) return 0;
      return CallPrevious(message, wParam, lParam);
    case WM_NCRBUTTONUP:
      // Only the skin's menu: passing the release on as well would bring the
      // system menu up a second time.
      if (IsCaptionHit(wParam)) {
        ShowSystemMenu(PointOf(lParam));
        return 0;
      }
      return CallPrevious(message, wParam, lParam);
    case WM_SETTEXT:
    case WM_ACTIVATE:
    case WM_MOUSEACTIVATE:
    case WM_NCACTIVATE:
    case WM_NCMOUSEMOVE:
    case WM_ACTIVATEAPP:
    case WM_NCMOUSEHOVER:
    case WM_NCMOUSELEAVE:
      // The system repaints its own caption while handling these.
      return DefaultThenPaint(message, wParam, lParam);
    case WM_CTLCOLORSTATIC: {
      HDC dc = reinterpret_cast<HDC>(wParam);
      ::SetTextColor(dc, text_);
      ::SetBkColor(dc, background_);
      ::SetBkMode(dc, TRANSPARENT);
      return reinterpret_cast<LRESULT>(BackgroundBrush());
    }
    case WM_DRAWITEM: {
      const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      skin::ControlSkin* skin = item ? skin::ControlSkin::Of(item->hwndItem) : nullptr;
      if (skin && ::GetParent(item->hwndItem) == window && skin->Draw(*item)) return TRUE;
      return CallPrevious(message, wParam, lParam);
    }
    case WM_DESTROY:
    case WM_NCDESTROY: {
      const LRESULT result = CallPrevious(message, wParam, lParam);
      Detach();
      return result;
    }
    default:
      return CallPrevious(message, wParam, lParam);
  }
}
