#include "ui/skin/Caption.h"

#include <algorithm>
#include <cstddef>

#include "frame/Handle.h"
#include "ui/skin/SkinHandles.h"

namespace skin {
namespace {

constexpr COLORREF kWhite = RGB(0xFF, 0xFF, 0xFF);
constexpr int kIconSize = 16;

int Index(CaptionButton button) { return static_cast<int>(button); }

RECT Offset(RECT rect, int dx, int dy) {
  ::OffsetRect(&rect, dx, dy);
  return rect;
}

void Fill(HDC dc, const RECT& rect, COLORREF colour) {
  frame::ScopedGdiObject brush(::CreateSolidBrush(colour));
  if (brush) ::FillRect(dc, &rect, static_cast<HBRUSH>(brush.get()));
}

HICON SmallIcon(HWND window) {
  for (WPARAM kind : {WPARAM(ICON_SMALL), WPARAM(ICON_SMALL2)}) {
    if (LRESULT icon = ::SendMessageA(window, WM_GETICON, kind, 0))
      return reinterpret_cast<HICON>(icon);
  }
  return reinterpret_cast<HICON>(::GetClassLongPtrA(window, GCLP_HICONSM));
}

// The system's caption font; the stock GUI font when it cannot be had.
frame::ScopedGdiObject CaptionFont(bool tool) {
  NONCLIENTMETRICSA metrics{};
  // The size without the padded border: accepted by every version.
  metrics.cbSize = offsetof(NONCLIENTMETRICSA, iPaddedBorderWidth);
  if (!::SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, metrics.cbSize, &metrics, 0))
    return frame::ScopedGdiObject();
  return frame::ScopedGdiObject(
      ::CreateFontIndirectA(tool ? &metrics.lfSmCaptionFont : &metrics.lfCaptionFont));
}

void DrawCloseButton(HDC dc, const RECT& r, COLORREF fill) {
  Fill(dc, r, fill);
  const int h = r.bottom - r.top;
  // The cross keeps its shape in a button that is not square: it is drawn
  // in the largest square centred in the button.
  const int side = std::min<int>(r.right - r.left, h);
  const int left = r.left + (r.right - r.left - side) / 2;
  const int top = r.top + (h - side) / 2;
  const int inset = side / 5;
  const int end = side - 1 - inset;
  frame::ScopedGdiObject cross(::CreatePen(PS_SOLID, std::max(1, side / 7), kWhite));
  if (cross) {
    frame::ScopedSelect pen(dc, cross.get());
    ::MoveToEx(dc, left + inset, top + inset, nullptr);
    ::LineTo(dc, left + end, top + end);
    ::MoveToEx(dc, left + end, top + inset, nullptr);
    ::LineTo(dc, left + inset, top + end);
  }
  frame::ScopedGdiObject edge(::CreatePen(PS_SOLID, 1, kWhite));
  if (edge) {
    frame::ScopedSelect pen(dc, edge.get());
    frame::ScopedSelect brush(dc, ::GetStockObject(NULL_BRUSH));
    ::RoundRect(dc, r.left, r.top, r.right, r.bottom, h / 5, h / 5);
  }
}

void PaintCaption(HDC target, HWND window, const CaptionLayout& layout, const CaptionLook& look,
                  CaptionImages& images, bool tool) {
  const RECT& caption = layout.caption;
  const int width = caption.right - caption.left;
  const int height = caption.bottom - caption.top;
  // Drawn off-screen and copied in one transfer, so the caption never flickers.
  ScopedMemoryDC dc(target);
  frame::ScopedGdiObject bitmap(::CreateCompatibleBitmap(target, width, height));
  if (!dc.get() || !bitmap) return;
  frame::ScopedSelect selected(dc.get(), bitmap.get());

  const RECT whole = {0, 0, width, height};
  Fill(dc.get(), whole, look.caption);

  const int margin = (height - kIconSize) / 2;
  if (HICON icon = SmallIcon(window))
    ::DrawIconEx(dc.get(), margin, margin, icon, kIconSize, kIconSize, 0, nullptr, DI_NORMAL);

  char title[256] = "";
  ::GetWindowTextA(window, title, sizeof(title));
  RECT titleRect = {layout.titleLeft - caption.left, 0, layout.titleRight - caption.left, height};
  if (title[0] && titleRect.right > titleRect.left) {
    frame::ScopedGdiObject font = CaptionFont(tool);
    frame::ScopedSelect selectedFont(
        dc.get(), font ? font.get() : ::GetStockObject(DEFAULT_GUI_FONT));
    ::SetBkMode(dc.get(), TRANSPARENT);
    ::SetTextColor(dc.get(), kWhite);
    ::DrawTextA(dc.get(), title, -1, &titleRect,
                DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS | DT_NOPREFIX | DT_LEFT);
  }

  const int buttonHeight = layout.button[Index(CaptionButton::Close)].bottom -
                           layout.button[Index(CaptionButton::Close)].top;
  const int buttonWidth = layout.button[Index(CaptionButton::Close)].right -
                          layout.button[Index(CaptionButton::Close)].left;
  // Square images, centred: stretched to the button they would lose their shape.
  const int imageSide = std::min(buttonWidth, buttonHeight);
  const bool haveImages = images.Prepare(imageSide, imageSide);
  for (int i = 1; i < kCaptionButtonSlots; ++i) {
    if (!layout.visible[i]) continue;
    const auto button = static_cast<CaptionButton>(i);
    const RECT r = Offset(layout.button[i], -caption.left, -caption.top);
    const COLORREF fill = button == look.pressed ? look.background : look.caption;
    if (button == CaptionButton::Close) {
      DrawCloseButton(dc.get(), r, fill);
      continue;
    }
    Fill(dc.get(), r, fill);
    if (!haveImages) continue;
    int image = kImageHelp;
    if (button == CaptionButton::Minimise) image = kImageMinimise;
    if (button == CaptionButton::MaximiseRestore)
      image = ::IsZoomed(window) ? kImageRestore : kImageMaximise;
    images.Draw(image, dc.get(), r, layout.unavailable[i]);
  }

  ::BitBlt(target, caption.left, caption.top, width, height, dc.get(), 0, 0, SRCCOPY);
}

}  // namespace

CaptionLayout LayoutCaption(HWND window) {
  CaptionLayout layout;
  RECT screen{};
  if (!::GetWindowRect(window, &screen)) return layout;
  layout.window = {0, 0, screen.right - screen.left, screen.bottom - screen.top};

  RECT client{};
  ::GetClientRect(window, &client);
  ::MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&client), 2);
  layout.client = Offset(client, -screen.left, -screen.top);

  const LONG style = ::GetWindowLongA(window, GWL_STYLE);
  const LONG exStyle = ::GetWindowLongA(window, GWL_EXSTYLE);
  if ((style & WS_CAPTION) != WS_CAPTION) return layout;
  const bool tool = (exStyle & WS_EX_TOOLWINDOW) != 0;

  // The frame is as wide at the top as at the sides; a client edge lies
  // inside it, below the caption.
  int frame = layout.client.left;
  if (exStyle & WS_EX_CLIENTEDGE) frame -= ::GetSystemMetrics(SM_CXEDGE);
  frame = std::max(frame, 0);
  const int captionHeight = ::GetSystemMetrics(tool ? SM_CYSMCAPTION : SM_CYCAPTION);
  const int bottom = std::min<int>(frame + captionHeight, layout.client.top);
  if (bottom <= frame) return layout;
  layout.caption = {frame, frame, layout.window.right - frame, bottom};

  const int width = ::GetSystemMetrics(tool ? SM_CXSMSIZE : SM_CXSIZE) - 2;
  const int height = ::GetSystemMetrics(tool ? SM_CYSMSIZE : SM_CYSIZE) - 4;
  const int top = layout.caption.top + 2;
  auto place = [&](CaptionButton button, int right) {
    layout.button[Index(button)] = {right - width, top, right, top + height};
    layout.visible[Index(button)] = true;
    return right - width;
  };

  int leftmost = layout.caption.right;
  if (style & WS_SYSMENU) {
    leftmost = place(CaptionButton::Close, layout.caption.right - 2);
    if (!tool && (style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX))) {
      const int left = place(CaptionButton::MaximiseRestore, leftmost - 2);
      leftmost = place(CaptionButton::Minimise, left);
      layout.unavailable[Index(CaptionButton::Minimise)] = !(style & WS_MINIMIZEBOX);
      layout.unavailable[Index(CaptionButton::MaximiseRestore)] = !(style & WS_MAXIMIZEBOX);
    } else if (!tool && (exStyle & WS_EX_CONTEXTHELP)) {
      leftmost = place(CaptionButton::Help, leftmost - 2);
    }
    // What the system itself reports wins over the styles.
    TITLEBARINFO info{};
    info.cbSize = sizeof(info);
    if (::GetTitleBarInfo(window, &info)) {
      const int report[kCaptionButtonSlots] = {-1, 2, 3, 5, 4};
      for (int i = 1; i < kCaptionButtonSlots; ++i) {
        if (i != Index(CaptionButton::Close) && layout.visible[i] &&
            (info.rgstate[report[i]] & STATE_SYSTEM_UNAVAILABLE))
          layout.unavailable[i] = true;
      }
    }
  }
  const int height0 = layout.caption.bottom - layout.caption.top;
  layout.titleLeft = layout.caption.left + (height0 - kIconSize) / 2 + 18;
  layout.titleRight = leftmost - 2;
  return layout;
}

CaptionButton ButtonAt(const CaptionLayout& layout, POINT windowPoint) {
  for (int i = 1; i < kCaptionButtonSlots; ++i) {
    if (layout.visible[i] && !layout.unavailable[i] && ::PtInRect(&layout.button[i], windowPoint))
      return static_cast<CaptionButton>(i);
  }
  return CaptionButton::None;
}

bool PaintFrameAndCaption(HWND window, const CaptionLook& look, CaptionImages& images) {
  if (::IsIconic(window)) return false;
  const CaptionLayout layout = LayoutCaption(window);
  ScopedWindowDC dc(window);
  if (!dc.get()) return true;

  // Everything outside the client area and the caption bar is frame: fixed
  // borders, window and client edges and sizing borders alike.
  {
    ScopedSavedDC saved(dc.get());
    ::ExcludeClipRect(dc.get(), layout.client.left, layout.client.top, layout.client.right,
                      layout.client.bottom);
    if (!::IsRectEmpty(&layout.caption))
      ::ExcludeClipRect(dc.get(), layout.caption.left, layout.caption.top, layout.caption.right,
                        layout.caption.bottom);
    Fill(dc.get(), layout.window, look.background);
  }

  // The caption and border bits, but the visible bit too: every shown window.
  const DWORD style = static_cast<DWORD>(::GetWindowLongA(window, GWL_STYLE));
  if ((style & 0xFFC00000u) && !::IsRectEmpty(&layout.caption)) {
    const bool tool = (::GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_TOOLWINDOW) != 0;
    PaintCaption(dc.get(), window, layout, look, images, tool);
  }
  return true;
}

}  // namespace skin
