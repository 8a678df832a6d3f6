// The caption-button pictures: bitmap 210 of the program (five 27 x 27 cells,
// magenta transparent) in an image list, shrunk to the caption's buttons.
#pragma once

#include <windows.h>
#include <commctrl.h>

namespace skin {

// Cells of the strip.
enum CaptionImage { kImageMinimise = 0, kImageRestore = 1, kImageMaximise = 2, kImageHelp = 4 };

constexpr int kCaptionImageCell = 27;
constexpr int kCaptionImageCount = 5;
constexpr COLORREF kCaptionImageTransparent = RGB(0xFF, 0x00, 0xFF);

class CaptionImages {
 public:
  CaptionImages() = default;
  ~CaptionImages();
  CaptionImages(const CaptionImages&) = delete;
  CaptionImages& operator=(const CaptionImages&) = delete;

  // Builds the list for buttons of this size (again only when the size
  // changes); false when the bitmap or the image-list functions are missing.
  bool Prepare(int width, int height);
  // Draws one cell, centred in `rect`; `blended` for an unavailable button.
  void Draw(int image, HDC dc, const RECT& rect, bool blended) const;

 private:
  void Reset();

  HIMAGELIST list_ = nullptr;
  int width_ = 0;
  int height_ = 0;
};

}  // namespace skin
