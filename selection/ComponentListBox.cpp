#include "selection/ComponentListBox.h"

#include <algorithm>

#include "core/Resources.h"
#include "core/SystemLibraries.h"
#include "resources/StringIds.h"
#include "ui/skin/SkinColours.h"

namespace {

constexpr char kObjectProperty[] = "ComponentListBox";
constexpr char kDevicePlugInSuffix[] = " (Device Plug-in)";
constexpr int kImageSize = 16;
constexpr int kBoxLeft = 2;       // the tick box square, from the row's corner
constexpr int kBoxTop = 2;
constexpr int kPictureLeft = 36;  // the component picture
constexpr int kNameLeft = 68;
constexpr int kHeadNameLeft = 52;
constexpr int kRowPadding = 8;    // below the tallest text

// A device context from GetDC or GetWindowDC, released on every way out.
class WindowDc {
 public:
  WindowDc(HWND window, bool wholeWindow)
      : window_(window), dc_(wholeWindow ? ::GetWindowDC(window) : ::GetDC(window)) {}
  ~WindowDc() {
    if (dc_) ::ReleaseDC(window_, dc_);
  }
  WindowDc(const WindowDc&) = delete;
  WindowDc& operator=(const WindowDc&) = delete;
  HDC get() const { return dc_; }

 private:
  HWND window_;
  HDC dc_;
};

// Height of one line of `text` in the font selected into `dc`.
int LineHeight(HDC dc, const std::string& text) {
  RECT rect = {0, 0, 0, 0};
  ::DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &rect,
              DT_SINGLELINE | DT_CALCRECT | DT_NOPREFIX);
  return rect.bottom - rect.top;
}

void DrawCell(HDC dc, const std::string& text, int left, int top, int right, int bottom,
              UINT align) {
  RECT rect = {left, top, right, bottom};
  ::DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &rect,
              align | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
}

void DrawImage(HIMAGELIST images, int index, HDC dc, int x, int y) {
  const ComCtlApi& api = ComCtl();
  if (images && api.ImageList_Draw) api.ImageList_Draw(images, index, dc, x, y, ILD_TRANSPARENT);
}

}  // namespace

std::string RowDisplayName(const std::string& name) {
  const size_t suffix = name.find(kDevicePlugInSuffix);
  return suffix == std::string::npos ? name : name.substr(0, suffix);
}

ComponentListBox::~ComponentListBox() { Detach(); }

bool ComponentListBox::Attach(HWND list, HIMAGELIST images) {
  Detach();
  if (!list || !::IsWindow(list)) return false;
  images_ = images;
  if (!::SetPropA(list, kObjectProperty, this)) return false;
  previous_ = reinterpret_cast<WNDPROC>(
      ::SetWindowLongPtrA(list, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&ComponentListBox::Proc)));
  if (!previous_) {
    ::RemovePropA(list, kObjectProperty);
    return false;
  }
  list_ = list;

  // The bold form of the list's own font.
  HFONT font = reinterpret_cast<HFONT>(::SendMessageA(list, WM_GETFONT, 0, 0));
  if (!font) font = static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT));
  LOGFONTA face = {};
  if (::GetObjectA(font, sizeof(face), &face) == sizeof(face)) {
    face.lfWeight = FW_BOLD;
    boldFont_.reset(::CreateFontIndirectA(&face));
  }
  tallestText_ = 0;
  bandHeight_ = -1;
  // The frame is computed again with the head band reserved.
  ::SetWindowPos(list, nullptr, 0, 0, 0, 0,
                 SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  return true;
}

void ComponentListBox::Detach() {
  if (!list_) return;
  if (::IsWindow(list_)) {
    if (::GetWindowLongPtrA(list_, GWLP_WNDPROC) ==
        reinterpret_cast<LONG_PTR>(&ComponentListBox::Proc))
      ::SetWindowLongPtrA(list_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous_));
    ::RemovePropA(list_, kObjectProperty);
  }
  list_ = nullptr;
  previous_ = nullptr;
}

void ComponentListBox::Clear() {
  if (list_) ::SendMessageA(list_, LB_RESETCONTENT, 0, 0);
  rows_.clear();
}

int ComponentListBox::AddRow(std::unique_ptr<ComponentListItem> item) {
  if (!list_ || !item) return -1;
  // The list measures the row while it adds the string, before it has the data.
  measuring_ = item.get();
  const LRESULT index = ::SendMessageA(list_, LB_ADDSTRING, 0,
                                       reinterpret_cast<LPARAM>(item->sName.c_str()));
  measuring_ = nullptr;
  if (index < 0) return -1;
  ::SendMessageA(list_, LB_SETITEMDATA, static_cast<WPARAM>(index),
                 reinterpret_cast<LPARAM>(item.get()));
  rows_.push_back(std::move(item));
  return static_cast<int>(index);
}

int ComponentListBox::Count() const {
  if (!list_) return 0;
  const LRESULT count = ::SendMessageA(list_, LB_GETCOUNT, 0, 0);
  return count < 0 ? 0 : static_cast<int>(count);
}

const ComponentListItem* ComponentListBox::Row(int index) const { return MutableRow(index); }

ComponentListItem* ComponentListBox::MutableRow(int index) const {
  if (!list_ || index < 0) return nullptr;
  const LRESULT data = ::SendMessageA(list_, LB_GETITEMDATA, static_cast<WPARAM>(index), 0);
  if (data == LB_ERR || data == 0) return nullptr;
  // Only data this list put there is read.
  for (const auto& row : rows_)
    if (reinterpret_cast<LRESULT>(row.get()) == data) return row.get();
  return nullptr;
}

void ComponentListBox::MeasureItem(MEASUREITEMSTRUCT& measure) {
  const ComponentListItem* item = measuring_ ? measuring_ : Row(static_cast<int>(measure.itemID));
  if (item && list_) {
    WindowDc dc(list_, false);
    if (dc.get()) {
      frame::ScopedSelect font(dc.get(), boldFont_ ? boldFont_.get() : ::GetStockObject(DEFAULT_GUI_FONT));
      tallestText_ = std::max(tallestText_, LineHeight(dc.get(), item->sName));
    }
  }
  measure.itemHeight = static_cast<UINT>(tallestText_ + kRowPadding);
}

void ComponentListBox::DrawItem(const DRAWITEMSTRUCT& draw) {
  HDC dc = draw.hDC;
  const bool selected = (draw.itemState & ODS_SELECTED) != 0;
  const COLORREF text = ::GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_BTNTEXT);
  RECT row = draw.rcItem;
  ::FillRect(dc, &row, ::GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));

  const ComponentListItem* item = Row(static_cast<int>(draw.itemID));
  if (!item) return;

  const int left = row.left;
  const int width = row.right - row.left;
  const int top = row.top;
  const int textBottom = top + tallestText_;
  {
    frame::ScopedSelect font(dc, boldFont_ ? boldFont_.get() : ::GetStockObject(DEFAULT_GUI_FONT));
    const COLORREF oldText = ::SetTextColor(dc, text);
    const int oldMode = ::SetBkMode(dc, TRANSPARENT);
    DrawCell(dc, RowDisplayName(item->sName), left + kNameLeft, top, left + width / 2, textBottom,
             DT_LEFT);
    DrawCell(dc, item->sStatus, left + width / 2, top, left + 5 * width / 6, textBottom,
             DT_CENTER);
    DrawCell(dc, item->sSize, left + 5 * width / 6, top, left + width, textBottom, DT_CENTER);
    ::SetBkMode(dc, oldMode);
    ::SetTextColor(dc, oldText);
  }
  DrawImage(images_, item->imageIndex, dc, left + kPictureLeft, top + kBoxTop);
  const int box = selected ? (item->checked ? kImageTickedHighlighted : kImageEmptyHighlighted)
                           : (item->checked ? kImageTicked : kImageEmpty);
  DrawImage(images_, box, dc, left + kBoxLeft, top + kBoxTop);
  if (draw.itemState & ODS_FOCUS) ::DrawFocusRect(dc, &row);
}

void ComponentListBox::Toggle(int index, ComponentListItem& item, const RECT* repaint) {
  item.checked = item.checked ? 0 : 1;
  ::InvalidateRect(list_, repaint, FALSE);
  ::SendMessageA(::GetParent(list_), WM_COMPONENTCHECKED, static_cast<WPARAM>(index),
                 static_cast<LPARAM>(item.checked));
}

int ComponentListBox::BandHeight() {
  if (bandHeight_ >= 0) return bandHeight_;
  bandHeight_ = 0;
  WindowDc dc(list_, false);
  if (dc.get()) {
    frame::ScopedSelect font(dc.get(), boldFont_ ? boldFont_.get() : ::GetStockObject(DEFAULT_GUI_FONT));
    bandHeight_ = LineHeight(dc.get(), LoadResString(IDS_COLUMN_COMPONENT));
  }
  return bandHeight_;
}

void ComponentListBox::PaintBand() {
  RECT window = {};
  RECT client = {};
  if (!::GetWindowRect(list_, &window) || !::GetClientRect(list_, &client)) return;
  ::MapWindowPoints(list_, nullptr, reinterpret_cast<POINT*>(&client), 2);
  const int width = window.right - window.left;
  // The band is the strip between the window's top and its rows; painting
  // only there keeps the first row intact whatever the font's height.
  const int bottom = client.top - window.top;
  if (width <= 0 || bottom <= 0) return;

  WindowDc dc(list_, true);
  if (!dc.get()) return;
  const COLORREF text = SkinColour(2);
  RECT band = {0, 0, width, bottom};
  frame::ScopedGdiObject background(::CreateSolidBrush(SkinColour(5)));
  if (background) ::FillRect(dc.get(), &band, static_cast<HBRUSH>(background.get()));

  frame::ScopedSelect font(dc.get(), boldFont_ ? boldFont_.get() : ::GetStockObject(DEFAULT_GUI_FONT));
  ::SetTextColor(dc.get(), text);
  ::SetBkMode(dc.get(), TRANSPARENT);
  const int half = width / 2;
  const int fiveSixths = 5 * width / 6;
  DrawCell(dc.get(), LoadResString(IDS_COLUMN_COMPONENT), kHeadNameLeft, 0, half, bottom, DT_CENTER);
  DrawCell(dc.get(), LoadResString(IDS_COLUMN_STATUS), half, 0, fiveSixths, bottom, DT_CENTER);
  DrawCell(dc.get(), LoadResString(IDS_COLUMN_SIZE), fiveSixths, 0, width, bottom, DT_CENTER);

  frame::ScopedGdiObject pen(::CreatePen(PS_SOLID, 1, text));
  if (!pen) return;
  frame::ScopedSelect usePen(dc.get(), pen.get());
  for (int x : {half, fiveSixths}) {
    ::MoveToEx(dc.get(), x, 4, nullptr);
    ::LineTo(dc.get(), x, bottom - 2);
  }
}

LRESULT CALLBACK ComponentListBox::Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = static_cast<ComponentListBox*>(::GetPropA(window, kObjectProperty));
  if (!self || !self->previous_) return ::DefWindowProcA(window, message, wParam, lParam);
  try {
    return self->OnMessage(message, wParam, lParam);
  } catch (...) {
    // Nothing unwinds through the system: the list's own handling instead.
    return ::CallWindowProcA(self->previous_, window, message, wParam, lParam);
  }
}

LRESULT ComponentListBox::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  const WNDPROC previous = previous_;
  HWND window = list_;
  switch (message) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK: {  // a quick second click on the box is a click too
      const POINT point = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
      const LRESULT hit = ::SendMessageA(window, LB_ITEMFROMPOINT, 0, lParam);
      const int index = static_cast<int>(LOWORD(hit));
      RECT row = {};
      if (hit != LB_ERR && HIWORD(hit) == 0 &&
          ::SendMessageA(window, LB_GETITEMRECT, static_cast<WPARAM>(index),
                         reinterpret_cast<LPARAM>(&row)) != LB_ERR) {
        const RECT square = {row.left + kBoxLeft, row.top + kBoxTop,
                             row.left + kBoxLeft + kImageSize, row.top + kBoxTop + kImageSize};
        ComponentListItem* item = MutableRow(index);
        if (item && ::PtInRect(&square, point)) Toggle(index, *item, &square);
      }
      break;  // the list selects the row as usual
    }
    case WM_KEYDOWN:
      // A held space bar repeats: the tick flips on the first press only.
      if (wParam == VK_SPACE && !(lParam & (1 << 30))) {
        const LRESULT index = ::SendMessageA(window, LB_GETCURSEL, 0, 0);
        ComponentListItem* item = index == LB_ERR ? nullptr : MutableRow(static_cast<int>(index));
        if (item) Toggle(static_cast<int>(index), *item, nullptr);
      }
      break;
    case WM_NCCALCSIZE: {
      const LRESULT result = ::CallWindowProcA(previous, window, message, wParam, lParam);
      RECT* client = wParam ? &reinterpret_cast<NCCALCSIZE_PARAMS*>(lParam)->rgrc[0]
                            : reinterpret_cast<RECT*>(lParam);
      if (client) client->top = std::min(client->bottom, client->top + BandHeight());
      return result;
    }
    case WM_NCPAINT: {
      const LRESULT result = ::CallWindowProcA(previous, window, message, wParam, lParam);
      PaintBand();
      return result;
    }
    case WM_NCDESTROY:
      // The window goes first; its rows follow it.
      Detach();
      rows_.clear();
      return ::CallWindowProcA(previous, window, message, wParam, lParam);
    default:
      break;
  }
  return ::CallWindowProcA(previous, window, message, wParam, lParam);
}
