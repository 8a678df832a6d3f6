// The skinned frame and caption bar: where the caption and its buttons lie,
// and painting them in the skin's colours.
#pragma once

#include <windows.h>

#include "ui/skin/CaptionImages.h"

namespace skin {

enum class CaptionButton { None = 0, Minimise = 1, MaximiseRestore = 2, Close = 3, Help = 4 };
constexpr int kCaptionButtonSlots = 5;  // indexed by CaptionButton

// All rectangles in window coordinates (origin at the window's top-left).
struct CaptionLayout {
  RECT window{};
  RECT client{};
  RECT caption{};  // empty when the window has no caption bar
  RECT button[kCaptionButtonSlots]{};
  bool visible[kCaptionButtonSlots]{};
  bool unavailable[kCaptionButtonSlots]{};
  int titleLeft = 0;   // the title runs from here ...
  int titleRight = 0;  // ... to 2 pixels before the leftmost visible button
};

// The system's placement: close at the right, maximise and minimise beside
// it (both shown when either box style is set), help instead of them.
CaptionLayout LayoutCaption(HWND window);

// The visible, available button under a point in window coordinates.
CaptionButton ButtonAt(const CaptionLayout& layout, POINT windowPoint);

struct CaptionLook {
  COLORREF background;  // frame and pressed buttons
  COLORREF caption;
  CaptionButton pressed;  // drawn pressed, or None
};

// Paints the frame in the background colour and the caption bar; false when
// the window is minimised, which keeps the system's look.
bool PaintFrameAndCaption(HWND window, const CaptionLook& look, CaptionImages& images);

}  // namespace skin
