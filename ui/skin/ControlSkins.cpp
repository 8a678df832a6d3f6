#include "ui/skin/ControlSkins.h"

#include <commctrl.h>

#include <string>

#include "frame/Handle.h"

namespace skin {
namespace {

constexpr char kControlSkinProperty[] = "UpgradeControlSkin";

std::string WindowText(HWND window) {
  const int length = ::GetWindowTextLengthA(window);
  std::string text(static_cast<size_t>(length > 0 ? length : 0) + 1, '\0');
  const int got = ::GetWindowTextA(window, &text[0], static_cast<int>(text.size()));
  text.resize(got > 0 ? static_cast<size_t>(got) : 0);
  return text;
}

void Fill(HDC dc, const RECT& rect, COLORREF colour) {
  frame::ScopedGdiObject brush(::CreateSolidBrush(colour));
  if (brush) ::FillRect(dc, &rect, static_cast<HBRUSH>(brush.get()));
}

void Frame(HDC dc, RECT rect, COLORREF colour, int thickness) {
  frame::ScopedGdiObject brush(::CreateSolidBrush(colour));
  if (!brush) return;
  for (int i = 0; i < thickness && rect.right > rect.left && rect.bottom > rect.top; ++i) {
    ::FrameRect(dc, &rect, static_cast<HBRUSH>(brush.get()));
    ::InflateRect(&rect, -1, -1);
  }
}

HGDIOBJ ControlFont(HWND control) {
  if (LRESULT font = ::SendMessageA(control, WM_GETFONT, 0, 0))
    return reinterpret_cast<HGDIOBJ>(font);
  return ::GetStockObject(DEFAULT_GUI_FONT);
}

}  // namespace

bool ControlSkin::Attach(HWND control) {
  if (!subclass_.Install(control, &ControlSkin::Proc, kControlSkinProperty, this)) return false;
  OnAttach();
  return true;
}

void ControlSkin::SetColours(COLORREF background, COLORREF text) {
  background_ = background;
  text_ = text;
  if (Control()) ::InvalidateRect(Control(), nullptr, TRUE);
}

ControlSkin* ControlSkin::Of(HWND control) {
  return static_cast<ControlSkin*>(WindowSubclass::Owner(control, kControlSkinProperty));
}

LRESULT ControlSkin::Message(UINT message, WPARAM wParam, LPARAM lParam) {
  return CallPrevious(message, wParam, lParam);
}

LRESULT CALLBACK ControlSkin::Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  ControlSkin* self = Of(window);
  if (!self) return ::DefWindowProcA(window, message, wParam, lParam);
  try {
    return self->Message(message, wParam, lParam);
  } catch (...) {
    // Nothing may unwind into the system; the control draws as it would.
    return self->CallPrevious(message, wParam, lParam);
  }
}

void PushButtonSkin::OnAttach() {
  const LONG style = ::GetWindowLongA(Control(), GWL_STYLE);
  const LONG type = style & BS_TYPEMASK;
  groupBox_ = type == BS_GROUPBOX;
  default_ = type == BS_DEFPUSHBUTTON;
  if (!groupBox_) ::SetWindowLongA(Control(), GWL_STYLE, (style & ~BS_TYPEMASK) | BS_OWNERDRAW);
  ::InvalidateRect(Control(), nullptr, TRUE);
}

LRESULT PushButtonSkin::Message(UINT message, WPARAM wParam, LPARAM lParam) {
  if (groupBox_) {
    switch (message) {
      case WM_PAINT:
        PaintGroupBox();
        return 0;
      case WM_SETTEXT:
      case WM_ENABLE:
      case WM_SETFONT:
      case WM_UPDATEUISTATE: {
        // The system's button draws these changes at once, bypassing
        // WM_PAINT: paint the skin's box over it.
        const LRESULT result = CallPrevious(message, wParam, lParam);
        ::InvalidateRect(Control(), nullptr, TRUE);
        return result;
      }
      default:
        return CallPrevious(message, wParam, lParam);
    }
  }
  switch (message) {
    case BM_SETSTYLE: {
      // The dialog manager moves the default between buttons this way; the
      // button must stay owner-drawn, only the default mark changes.
      default_ = (wParam & BS_TYPEMASK) == BS_DEFPUSHBUTTON;
      const LRESULT result =
          CallPrevious(message, (wParam & ~WPARAM(BS_TYPEMASK)) | BS_OWNERDRAW, lParam);
      ::InvalidateRect(Control(), nullptr, TRUE);
      return result;
    }
    case WM_GETDLGCODE:
      // Still a push button to the dialog manager, so that it keeps moving
      // the default mark.
      return DLGC_BUTTON | (default_ ? DLGC_DEFPUSHBUTTON : DLGC_UNDEFPUSHBUTTON);
    default:
      return CallPrevious(message, wParam, lParam);
  }
}

bool PushButtonSkin::Draw(const DRAWITEMSTRUCT& item) {
  if (item.CtlType != ODT_BUTTON || groupBox_) return false;
  HDC dc = item.hDC;
  RECT r = item.rcItem;
  const bool pressed = (item.itemState & ODS_SELECTED) != 0;
  const bool disabled = (item.itemState & ODS_DISABLED) != 0;
  Fill(dc, r, background_);
  Frame(dc, r, text_, default_ ? 2 : 1);
  if (pressed) {
    RECT inner = r;
    ::InflateRect(&inner, -2, -2);
    Frame(dc, inner, text_, 1);
  }

  const std::string label = WindowText(Control());
  RECT textRect = r;
  if (pressed) ::OffsetRect(&textRect, 1, 1);
  frame::ScopedSelect font(dc, ControlFont(Control()));
  ::SetBkMode(dc, TRANSPARENT);
  ::SetTextColor(dc, disabled ? ::GetSysColor(COLOR_GRAYTEXT) : text_);
  ::DrawTextA(dc, label.c_str(), -1, &textRect, DT_SINGLELINE | DT_CENTER | DT_VCENTER);

  if (item.itemState & ODS_FOCUS) {
    RECT focus = r;
    ::InflateRect(&focus, -2, -2);
    ::SetTextColor(dc, text_);
    ::SetBkColor(dc, background_);
    ::DrawFocusRect(dc, &focus);
  }
  return true;
}

void PushButtonSkin::PaintGroupBox() {
  PAINTSTRUCT paint{};
  HDC dc = ::BeginPaint(Control(), &paint);
  if (!dc) return;
  {
    // Its own scope: the font goes back out of the DC before EndPaint.
    RECT r{};
    ::GetClientRect(Control(), &r);
    frame::ScopedSelect font(dc, ControlFont(Control()));
    const std::string label = WindowText(Control());
    TEXTMETRICA metrics{};
    ::GetTextMetricsA(dc, &metrics);

    // The system's button draws its etched two-pixel frame, from the row
    // above the middle of the label's line, whenever it repaints itself
    // (a state, enable or font change): cover it before drawing ours.
    RECT etched = r;
    etched.top += metrics.tmHeight / 2 - 1;
    Frame(dc, etched, background_, 2);

    // The frame line runs through the middle of the label's line.
    RECT box = r;
    box.top += metrics.tmHeight / 2;
    Frame(dc, box, text_, 1);
    if (!label.empty()) {
      SIZE size{};
      ::GetTextExtentPoint32A(dc, label.c_str(), static_cast<int>(label.size()), &size);
      RECT labelRect = {r.left + 8, r.top, r.left + 8 + size.cx + 4, r.top + metrics.tmHeight};
      if (labelRect.right > r.right - 2) labelRect.right = r.right - 2;
      Fill(dc, labelRect, background_);
      ::SetBkMode(dc, TRANSPARENT);
      ::SetTextColor(dc, ::IsWindowEnabled(Control()) ? text_ : ::GetSysColor(COLOR_GRAYTEXT));
      ::DrawTextA(dc, label.c_str(), -1, &labelRect,
                  DT_SINGLELINE | DT_CENTER | DT_TOP | DT_END_ELLIPSIS);
    }
  }
  ::EndPaint(Control(), &paint);
}

void TabControlSkin::OnAttach() {
  const LONG style = ::GetWindowLongA(Control(), GWL_STYLE);
  ::SetWindowLongA(Control(), GWL_STYLE, style | TCS_OWNERDRAWFIXED);
  ::InvalidateRect(Control(), nullptr, TRUE);
}

bool TabControlSkin::Draw(const DRAWITEMSTRUCT& item) {
  if (item.CtlType != ODT_TAB) return false;
  const bool selected = (item.itemState & ODS_SELECTED) != 0;
  Fill(item.hDC, item.rcItem, selected ? background_ : kInactiveTabColour);

  char label[256] = "";
  TCITEMA tab{};
  tab.mask = TCIF_TEXT;
  tab.pszText = label;
  tab.cchTextMax = sizeof(label);
  ::SendMessageA(Control(), TCM_GETITEMA, item.itemID, reinterpret_cast<LPARAM>(&tab));
  RECT textRect = item.rcItem;
  frame::ScopedSelect font(item.hDC, ControlFont(Control()));
  ::SetBkMode(item.hDC, TRANSPARENT);
  ::SetTextColor(item.hDC, text_);
  ::DrawTextA(item.hDC, tab.pszText ? tab.pszText : label, -1, &textRect,
              DT_SINGLELINE | DT_CENTER | DT_VCENTER);
  return true;
}

std::unique_ptr<ControlSkin> MakeControlSkin(HWND control, COLORREF background, COLORREF text) {
  char name[32] = "";
  if (!::GetClassNameA(control, name, sizeof(name))) return nullptr;
  if (::lstrcmpiA(name, "BUTTON") == 0) {
    const LONG type = ::GetWindowLongA(control, GWL_STYLE) & BS_TYPEMASK;
    if (type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON || type == BS_GROUPBOX)
      return std::make_unique<PushButtonSkin>(background, text);
    return nullptr;
  }
  if (::lstrcmpiA(name, "SYSTABCONTROL32") == 0)
    return std::make_unique<TabControlSkin>(background, text);
  return nullptr;
}

}  // namespace skin
