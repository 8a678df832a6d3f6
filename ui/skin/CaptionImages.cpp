#include "ui/skin/CaptionImages.h"

#include "frame/Binding.h"
#include "frame/Handle.h"
#include "frame/Module.h"
#include "resources/SkinIds.h"
#include "ui/skin/SkinHandles.h"

namespace skin {
namespace {

// Image lists come from the common controls, which the program binds at run
// time so that it can still start (and say so) where they are missing.
struct ImageListApi {
  HIMAGELIST(WINAPI* ImageList_Create)(int, int, UINT, int, int) = nullptr;
  int(WINAPI* ImageList_AddMasked)(HIMAGELIST, HBITMAP, COLORREF) = nullptr;
  BOOL(WINAPI* ImageList_Draw)(HIMAGELIST, int, HDC, int, int, UINT) = nullptr;
  BOOL(WINAPI* ImageList_Destroy)(HIMAGELIST) = nullptr;
};

struct BoundImageLists {
  frame::LibraryBinding binding;
  ImageListApi api;
  bool bound = false;
};

// Bound once per process; message boxes may come from any thread first.
const ImageListApi* ImageLists() {
  static BoundImageLists* bound = [] {
    static BoundImageLists lists;
    const frame::FunctionSlot slots[] = {
        {"ImageList_Create", frame::Slot(lists.api.ImageList_Create)},
        {"ImageList_AddMasked", frame::Slot(lists.api.ImageList_AddMasked)},
        {"ImageList_Draw", frame::Slot(lists.api.ImageList_Draw)},
        {"ImageList_Destroy", frame::Slot(lists.api.ImageList_Destroy)},
    };
    lists.bound = lists.binding.Bind("ComCtl32.dll", slots, sizeof(slots) / sizeof(slots[0]));
    return &lists;
  }();
  return bound->bound ? &bound->api : nullptr;
}

}  // namespace

CaptionImages::~CaptionImages() { Reset(); }

void CaptionImages::Reset() {
  if (list_) {
    if (const ImageListApi* api = ImageLists()) api->ImageList_Destroy(list_);
  }
  list_ = nullptr;
  width_ = height_ = 0;
}

bool CaptionImages::Prepare(int width, int height) {
  if (width <= 0 || height <= 0) return false;
  if (list_ && width == width_ && height == height_) return true;
  Reset();
  const ImageListApi* api = ImageLists();
  if (!api) return false;

  // Bitmaps are language-neutral: the module's own, no language lookup.
  frame::ScopedGdiObject strip(::LoadImageA(frame::TheModule().Instance(),
                                            MAKEINTRESOURCEA(IDB_CAPTION_BUTTONS), IMAGE_BITMAP,
                                            0, 0, LR_CREATEDIBSECTION));
  if (!strip) return false;

  // Shrink the whole strip at once. Colour-on-colour stretching keeps every
  // pixel pure white or pure magenta, so the mask stays exact; the glyphs'
  // two-pixel strokes survive down to half size.
  frame::ScopedGdiObject scaled;
  {
    ScopedClientDC screen(nullptr);
    scaled.reset(::CreateCompatibleBitmap(screen.get(), width * kCaptionImageCount, height));
    ScopedMemoryDC source(screen.get());
    ScopedMemoryDC target(screen.get());
    if (!scaled || !source.get() || !target.get()) return false;
    frame::ScopedSelect inSource(source.get(), strip.get());
    frame::ScopedSelect inTarget(target.get(), scaled.get());
    ::SetStretchBltMode(target.get(), COLORONCOLOR);
    ::StretchBlt(target.get(), 0, 0, width * kCaptionImageCount, height, source.get(), 0, 0,
                 kCaptionImageCell * kCaptionImageCount, kCaptionImageCell, SRCCOPY);
  }

  list_ = api->ImageList_Create(width, height, ILC_COLOR24 | ILC_MASK, kCaptionImageCount, 0);
  if (!list_) return false;
  if (api->ImageList_AddMasked(list_, static_cast<HBITMAP>(scaled.get()),
                               kCaptionImageTransparent) < 0) {
    Reset();
    return false;
  }
  width_ = width;
  height_ = height;
  return true;
}

void CaptionImages::Draw(int image, HDC dc, const RECT& rect, bool blended) const {
  const ImageListApi* api = ImageLists();
  if (!list_ || !api) return;
  const int x = rect.left + (rect.right - rect.left - width_) / 2;
  const int y = rect.top + (rect.bottom - rect.top - height_) / 2;
  api->ImageList_Draw(list_, image, dc, x, y, ILD_TRANSPARENT | (blended ? ILD_BLEND50 : 0));
}

}  // namespace skin
