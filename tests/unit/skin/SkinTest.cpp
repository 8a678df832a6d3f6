// The skin as a person sees it: pictures of skinned message boxes and dialogs
// on a Wine virtual desktop, clicks on their caption buttons.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <cstdlib>
#include <string>
#include <vector>

#include "frame/Handle.h"
#include "tests/support/Scratch.h"
#include "tests/support/TestProcess.h"
#include "tests/support/UiDriver.h"
#include "ui/skin/Caption.h"
#include "ui/skin/CaptionImages.h"
#include "ui/skin/ControlSkins.h"
#include "ui/skin/SkinColours.h"
#include "ui/skin/SkinnedDialog.h"
#include "ui/skin/SkinnedMessageBox.h"

namespace {

constexpr char kDesktop[] = "skin";
constexpr int kDesktopWidth = 800;  // unlike the 1024 x 768 display: proves the desktop
constexpr int kDesktopHeight = 600;
constexpr char kOnDesktopVariable[] = "UPGRADE_SKIN_DESKTOP";

std::string ArtefactPath(const std::string& name) {
  return testing_support::WinePath(ARTEFACTS_DIR_UNIX) + "\\" + name;
}

COLORREF ToColorRef(uint32_t pixel) {  // 0x00RRGGBB -> 0x00BBGGRR
  return RGB((pixel >> 16) & 0xFF, (pixel >> 8) & 0xFF, pixel & 0xFF);
}

COLORREF PixelAt(const ui::Bitmap& picture, POINT windowPoint) {
  return ToColorRef(picture.At(windowPoint.x, windowPoint.y));
}

POINT Centre(const RECT& r) { return {(r.left + r.right) / 2, (r.top + r.bottom) / 2}; }

POINT ToScreen(HWND window, POINT windowPoint) {
  RECT rect{};
  ::GetWindowRect(window, &rect);
  return {rect.left + windowPoint.x, rect.top + windowPoint.y};
}

LPARAM ScreenLParam(POINT p) { return MAKELPARAM(static_cast<WORD>(p.x), static_cast<WORD>(p.y)); }

LPARAM ClientLParam(HWND window, POINT screen) {
  ::ScreenToClient(window, &screen);  // above the client area: negative, as the system sends
  return MAKELPARAM(static_cast<WORD>(screen.x), static_cast<WORD>(screen.y));
}

void Pump(DWORD milliseconds) {
  const DWORD start = ::GetTickCount();
  do {
    MSG msg;
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageA(&msg);
    }
    ::Sleep(10);
  } while (::GetTickCount() - start < milliseconds);
}

// Captures until the window shows `colour` at `point` (its thread paints in
// its own time) or a few seconds have passed; the caller checks the result.
ui::Bitmap CaptureWhenPainted(HWND window, POINT point, COLORREF colour, bool pump) {
  ui::Bitmap picture;
  const DWORD start = ::GetTickCount();
  do {
    if (pump) Pump(50);
    else ::Sleep(50);
    if (ui::CaptureWindowSurface(window, picture) && point.x < picture.width &&
        point.y < picture.height && PixelAt(picture, point) == colour)
      break;
  } while (::GetTickCount() - start < 5000);
  return picture;
}

const struct Language {
  uint16_t id;
  const char* name;
  COLORREF caption;
  COLORREF background;
  UINT style;  // a box that has no Cancel button either way
} kLanguages[] = {
    {0x0409, "en", 0x357853, 0x65CAB5, MB_YESNO | MB_ICONQUESTION},
    {0x0407, "de", 0x336633, 0x66CC99, MB_OK | MB_ICONEXCLAMATION},
    {0x040C, "fr", 0x990099, 0x66FFCC, MB_YESNO | MB_ICONQUESTION},
};

// What a person does to a box on screen, from another thread while the box's
// own thread is inside the system's message box.
struct BoxVisit {
  const Language* language = nullptr;
  std::string caption;
  HDESK desktop = nullptr;
  bool found = false;
  skin::CaptionLayout layout;
  ui::Bitmap picture;
  DWORD_PTR hit = 0;
  bool menuShown = false;
  bool closeEnabled = false;  // in the system menu while it is shown
};

DWORD WINAPI VisitBox(void* parameter) {
  auto* visit = static_cast<BoxVisit*>(parameter);
  // Wine starts new threads on the default desktop, not the process's.
  ::SetThreadDesktop(visit->desktop);
  HWND box = ui::WaitForWindow({visit->caption, "#32770"}, 10000);
  if (!box) return 0;
  visit->found = true;
  visit->layout = skin::LayoutCaption(box);
  // Between the title's end and the close button.
  const POINT captionPoint = {visit->layout.titleRight, visit->layout.caption.top + 1};
  visit->picture = CaptureWhenPainted(box, captionPoint, visit->language->caption, false);

  const POINT close = ToScreen(
      box, Centre(visit->layout.button[static_cast<int>(skin::CaptionButton::Close)]));
  ::SendMessageTimeoutA(box, WM_NCHITTEST, 0, ScreenLParam(close), SMTO_ABORTIFHUNG, 5000,
                        &visit->hit);
  ::PostMessageA(box, WM_NCLBUTTONDOWN, HTCLOSE, ScreenLParam(close));
  ::PostMessageA(box, WM_LBUTTONUP, 0, ClientLParam(box, close));
  // Should the click go unheard, the box still ends (with another answer).
  if (!ui::WaitForWindowGone(box, 5000)) ::PostMessageA(box, WM_COMMAND, IDYES, 0);
  return 0;
}

// A Yes/No box in each language's colours, closed with its caption's close
// button as a person's click would: the answer is Cancel.
TEST(SkinnedMessageBox, ColoursOfTheLanguageAndCaptionCloseCancels) {
  for (const Language& language : kLanguages) {
    SCOPED_TRACE(language.name);
    InitSkinColours(language.id);
    BoxVisit visit;
    visit.language = &language;
    visit.caption = std::string("Skin ") + language.name;
    visit.desktop = ::GetThreadDesktop(::GetCurrentThreadId());
    frame::ScopedHandle visitor(::CreateThread(nullptr, 0, &VisitBox, &visit, 0, nullptr));
    ASSERT_TRUE(visitor.valid());
    const int answer = ShowSkinnedMessageBox("Install the selected components now?",
                                             visit.caption, language.style);
    ASSERT_EQ(::WaitForSingleObject(visitor.get(), 20000), WAIT_OBJECT_0);
    ASSERT_TRUE(visit.found);
    ASSERT_GT(visit.picture.width, 0);
    ui::SaveBitmap(visit.picture,
                   ArtefactPath(std::string("messagebox_") + language.name + ".bmp"));

    const skin::CaptionLayout& layout = visit.layout;
    const POINT captionPoint = {layout.titleRight, layout.caption.top + 1};
    const POINT clientPoint = {layout.client.left + 2, layout.client.top + 2};
    EXPECT_EQ(PixelAt(visit.picture, captionPoint), language.caption);
    EXPECT_EQ(PixelAt(visit.picture, clientPoint), language.background);
    EXPECT_EQ(visit.hit, static_cast<DWORD_PTR>(HTCLOSE));
    EXPECT_EQ(answer, IDCANCEL);
  }
}

void Type(std::initializer_list<WORD> keys) {
  for (WORD key : keys) {
    INPUT input[2] = {};
    input[0].type = input[1].type = INPUT_KEYBOARD;
    input[0].ki.wVk = input[1].ki.wVk = key;
    input[1].ki.dwFlags = KEYEVENTF_KEYUP;
    ::SendInput(2, input, sizeof(INPUT));
    ::Sleep(100);
  }
}

DWORD WINAPI CloseThroughSystemMenu(void* parameter) {
  auto* visit = static_cast<BoxVisit*>(parameter);
  ::SetThreadDesktop(visit->desktop);
  HWND box = ui::WaitForWindow({visit->caption, "#32770"}, 10000);
  if (!box) return 0;
  visit->found = true;
  // Windows greys Close in the menu of a box without Cancel; Wine does not.
  ::EnableMenuItem(::GetSystemMenu(box, FALSE), SC_CLOSE, MF_BYCOMMAND | MF_GRAYED);
  const skin::CaptionLayout layout = skin::LayoutCaption(box);
  const LPARAM onCaption =
      ScreenLParam(ToScreen(box, {layout.titleRight, Centre(layout.caption).y}));
  ::PostMessageA(box, WM_NCRBUTTONDOWN, HTCAPTION, onCaption);
  ::PostMessageA(box, WM_NCRBUTTONUP, HTCAPTION, onCaption);
  // The menu's last item is Close; the keys are typed, as the menu reads
  // the keyboard itself.
  visit->menuShown = ui::WaitForWindow({"", "#32768"}, 5000) != nullptr;
  const UINT close = ::GetMenuState(::GetSystemMenu(box, FALSE), SC_CLOSE, MF_BYCOMMAND);
  visit->closeEnabled = close != static_cast<UINT>(-1) && !(close & (MF_GRAYED | MF_DISABLED));
  if (visit->menuShown) Type({VK_UP, VK_RETURN});
  if (!ui::WaitForWindowGone(box, 5000)) {
    Type({VK_ESCAPE, VK_ESCAPE});
    ::PostMessageA(box, WM_COMMAND, IDYES, 0);
  }
  return 0;
}

// A right click on the caption of a Yes/No box brings up the system menu;
// its Close is available and a close through the caption too.
TEST(SkinnedMessageBox, SystemMenuOnTheCaptionAndItsCloseCancels) {
  InitSkinColours(0x0409);
  BoxVisit visit;
  visit.caption = "Skin menu";
  visit.desktop = ::GetThreadDesktop(::GetCurrentThreadId());
  frame::ScopedHandle visitor(
      ::CreateThread(nullptr, 0, &CloseThroughSystemMenu, &visit, 0, nullptr));
  ASSERT_TRUE(visitor.valid());
  const int answer = ShowSkinnedMessageBox("Remove PelloryManager?", visit.caption,
                                           MB_YESNO | MB_ICONQUESTION);
  ASSERT_EQ(::WaitForSingleObject(visitor.get(), 20000), WAIT_OBJECT_0);
  ASSERT_TRUE(visit.found);
  EXPECT_TRUE(visit.menuShown);
  EXPECT_TRUE(visit.closeEnabled) << "the caption's close button works, so does the menu's Close";
  EXPECT_EQ(answer, IDCANCEL);
}

// An in-memory dialog template: a caption with minimise and maximise boxes,
// a push button and a tab control.
class TemplateBuilder {
 public:
  TemplateBuilder(DWORD style, short cx, short cy, const char* title) {
    Dword(style);
    Dword(0);
    countAt_ = words_.size();
    Word(0);
    Word(10);
    Word(10);
    Word(static_cast<WORD>(cx));
    Word(static_cast<WORD>(cy));
    Word(0);  // no menu
    Word(0);  // the dialog class
    Text(title);
    Word(8);  // DS_SETFONT: point size and face
    Text("MS Shell Dlg");
  }
  void Item(DWORD style, short x, short y, short cx, short cy, WORD id, WORD atom,
            const char* className, const char* text) {
    while (words_.size() % 2) Word(0);  // DWORD alignment
    Dword(style | WS_CHILD | WS_VISIBLE);
    Dword(0);
    for (short v : {x, y, cx, cy}) Word(static_cast<WORD>(v));
    Word(id);
    if (className) {
      Text(className);
    } else {
      Word(0xFFFF);
      Word(atom);
    }
    Text(text);
    Word(0);  // no creation data
    ++words_[countAt_];
  }
  const DLGTEMPLATE* Get() {
    storage_.assign((words_.size() + 1) / 2, 0);
    std::memcpy(storage_.data(), words_.data(), words_.size() * sizeof(WORD));
    return reinterpret_cast<const DLGTEMPLATE*>(storage_.data());
  }

 private:
  void Word(WORD w) { words_.push_back(w); }
  void Dword(DWORD d) {
    Word(LOWORD(d));
    Word(HIWORD(d));
  }
  void Text(const char* s) {
    while (*s) Word(static_cast<unsigned char>(*s++));
    Word(0);
  }
  std::vector<WORD> words_;
  std::vector<DWORD> storage_;
  size_t countAt_ = 0;
};

constexpr int kButtonId = 100;
constexpr int kTabId = 101;
constexpr int kGroupId = 102;

class TabbedDialog : public SkinnedDialog {
 protected:
  INT_PTR OnInitDialog() override {
    HWND tabs = ::GetDlgItem(hwnd(), kTabId);
    for (const char* label : {"Components", "Details"}) {
      TCITEMA item{};
      item.mask = TCIF_TEXT;
      item.pszText = const_cast<char*>(label);
      ::SendMessageA(tabs, TCM_INSERTITEMA, ::SendMessageA(tabs, TCM_GETITEMCOUNT, 0, 0),
                     reinterpret_cast<LPARAM>(&item));
    }
    return TRUE;
  }
};

// What a rectangle of the picture looks like next to one caption image drawn
// on the caption colour: the number of differing pixels.
int DifferingPixels(const ui::Bitmap& picture, const RECT& r, skin::CaptionImages& images,
                    int image, COLORREF caption) {
  const RECT local = {0, 0, r.right - r.left, r.bottom - r.top};
  HDC screen = ::GetDC(nullptr);
  HDC dc = ::CreateCompatibleDC(screen);
  frame::ScopedGdiObject canvas(::CreateCompatibleBitmap(screen, local.right, local.bottom));
  ::ReleaseDC(nullptr, screen);
  ui::Bitmap expected;
  {
    frame::ScopedSelect selected(dc, canvas.get());
    frame::ScopedGdiObject brush(::CreateSolidBrush(caption));
    ::FillRect(dc, &local, static_cast<HBRUSH>(brush.get()));
    images.Draw(image, dc, local, false);
    ui::CopyPixels(dc, 0, 0, local.right, local.bottom, expected);
  }
  ::DeleteDC(dc);
  int differing = 0;
  for (int y = 0; y < expected.height; ++y) {
    for (int x = 0; x < expected.width; ++x) {
      if (expected.At(x, y) != picture.At(r.left + x, r.top + y)) ++differing;
    }
  }
  return expected.width > 0 ? differing : -1;
}

// A maximised skinned dialog shows the restore image; pressing a caption
// button and letting go elsewhere does nothing, a click restores.
TEST(SkinnedDialog, MaximisedShowsRestoreAndOnlyAClickRestores) {
  InitSkinColours(0x0409);
  INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_TAB_CLASSES};
  ASSERT_TRUE(::InitCommonControlsEx(&controls));
  TemplateBuilder dialogTemplate(WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX |
                                     WS_MAXIMIZEBOX | DS_SETFONT | DS_MODALFRAME,
                                 220, 120, "Skinned dialog");
  dialogTemplate.Item(BS_DEFPUSHBUTTON | WS_TABSTOP, 150, 96, 60, 16, kButtonId, 0x0080, nullptr,
                      "Install");
  dialogTemplate.Item(0, 10, 10, 200, 78, kTabId, 0, WC_TABCONTROLA, "");
  dialogTemplate.Item(BS_GROUPBOX, 10, 90, 130, 24, kGroupId, 0x0080, nullptr, "Options");
  TabbedDialog dialog;
  HWND window = dialog.Create(dialogTemplate.Get(), nullptr);
  ASSERT_NE(window, nullptr);
  ::ShowWindow(window, SW_MAXIMIZE);
  ASSERT_TRUE(::IsZoomed(window));

  const skin::CaptionLayout layout = skin::LayoutCaption(window);
  const RECT maximise = layout.button[static_cast<int>(skin::CaptionButton::MaximiseRestore)];
  ASSERT_TRUE(layout.visible[static_cast<int>(skin::CaptionButton::MaximiseRestore)]);
  const ui::Bitmap picture =
      CaptureWhenPainted(window, {layout.titleRight, layout.caption.top + 1}, 0x357853, true);
  ui::SaveBitmap(picture, ArtefactPath("dialog_maximised.bmp"));
  ASSERT_GT(picture.width, 0);

  skin::CaptionImages images;
  const int side = std::min(maximise.right - maximise.left, maximise.bottom - maximise.top);
  ASSERT_TRUE(images.Prepare(side, side));
  EXPECT_EQ(DifferingPixels(picture, maximise, images, skin::kImageRestore, 0x357853), 0);
  EXPECT_GT(DifferingPixels(picture, maximise, images, skin::kImageMaximise, 0x357853), 0);

  // The skinned controls: the button's face and the tab that is not selected.
  RECT button{};
  ::GetWindowRect(::GetDlgItem(window, kButtonId), &button);
  RECT tab{};
  ::SendMessageA(::GetDlgItem(window, kTabId), TCM_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&tab));
  ::MapWindowPoints(::GetDlgItem(window, kTabId), nullptr, reinterpret_cast<POINT*>(&tab), 2);
  RECT frameRect{};
  ::GetWindowRect(window, &frameRect);
  EXPECT_EQ(PixelAt(picture, {button.left + 4 - frameRect.left, button.top + 4 - frameRect.top}),
            0x65CAB5u);
  EXPECT_EQ(PixelAt(picture, {tab.left + 3 - frameRect.left, tab.top + 3 - frameRect.top}),
            skin::kInactiveTabColour);
  RECT group{};
  ::GetWindowRect(::GetDlgItem(window, kGroupId), &group);
  EXPECT_EQ(PixelAt(picture, {group.left - frameRect.left, group.bottom - 1 - frameRect.top}), 0u)
      << "the group box's frame in the text colour";

  // Disabled and enabled again (as while a dialog works), the system's
  // button draws its own etched frame at once; the skin's must cover it all.
  ::EnableWindow(::GetDlgItem(window, kGroupId), FALSE);
  ::EnableWindow(::GetDlgItem(window, kGroupId), TRUE);
  const ui::Bitmap repainted = CaptureWhenPainted(
      window, {group.left - frameRect.left, group.bottom - 1 - frameRect.top}, 0, true);
  ui::SaveBitmap(repainted, ArtefactPath("dialog_group_repainted.bmp"));
  ASSERT_GT(repainted.width, 0);
  // Beside the label, the box's edges hold only the skin's two colours.
  int foreign = 0;
  for (int y = group.top; y < group.bottom; ++y) {
    for (int x = group.left; x < group.right; ++x) {
      const bool edge = x < group.left + 6 || x >= group.right - 6 || y >= group.bottom - 6;
      const COLORREF pixel = PixelAt(repainted, {x - frameRect.left, y - frameRect.top});
      if (edge && pixel != 0x65CAB5u && pixel != 0) ++foreign;
    }
  }
  EXPECT_EQ(foreign, 0) << "the system's frame shows beside the skin's";

  // Press on the restore button, move off it and let go in the client area.
  const POINT onButton = ToScreen(window, Centre(maximise));
  const POINT elsewhere = ToScreen(window, Centre(layout.client));
  ::PostMessageA(window, WM_NCLBUTTONDOWN, HTMAXBUTTON, ScreenLParam(onButton));
  Pump(100);
  EXPECT_EQ(::GetCapture(), window);
  ui::Bitmap pressed;
  if (ui::CaptureWindowSurface(window, pressed))
    ui::SaveBitmap(pressed, ArtefactPath("dialog_pressed.bmp"));
  ::PostMessageA(window, WM_MOUSEMOVE, MK_LBUTTON, ClientLParam(window, elsewhere));
  ::PostMessageA(window, WM_LBUTTONUP, 0, ClientLParam(window, elsewhere));
  Pump(300);
  EXPECT_TRUE(::IsZoomed(window));
  EXPECT_NE(::GetCapture(), window);

  // The same press, let go on the button.
  ::PostMessageA(window, WM_NCLBUTTONDOWN, HTMAXBUTTON, ScreenLParam(onButton));
  ::PostMessageA(window, WM_LBUTTONUP, 0, ClientLParam(window, onButton));
  Pump(300);
  EXPECT_FALSE(::IsZoomed(window));
  ui::Bitmap restored;
  if (ui::CaptureWindowSurface(window, restored))
    ui::SaveBitmap(restored, ArtefactPath("dialog_restored.bmp"));
  dialog.Destroy();
}

// The system's caption-button metrics for one test, set back afterwards.
class CaptionButtonWidth {
 public:
  explicit CaptionButtonWidth(int factor) {
    saved_.cbSize = offsetof(NONCLIENTMETRICSA, iPaddedBorderWidth);
    ok_ = ::SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, saved_.cbSize, &saved_, 0);
    NONCLIENTMETRICSA wide = saved_;
    wide.iCaptionWidth = saved_.iCaptionHeight * factor;
    ok_ = ok_ && ::SystemParametersInfoA(SPI_SETNONCLIENTMETRICS, wide.cbSize, &wide, 0);
  }
  ~CaptionButtonWidth() {
    if (ok_) ::SystemParametersInfoA(SPI_SETNONCLIENTMETRICS, saved_.cbSize, &saved_, 0);
  }
  bool ok() const { return ok_ != FALSE; }

 private:
  NONCLIENTMETRICSA saved_{};
  BOOL ok_ = FALSE;
};

// Where the caption buttons are twice as wide as high, their pictures and
// the close cross keep their square shape, centred in the button.
TEST(SkinnedDialog, CaptionGlyphsStaySquareInWideButtons) {
  InitSkinColours(0x0409);
  CaptionButtonWidth metrics(2);
  ASSERT_TRUE(metrics.ok());
  TemplateBuilder dialogTemplate(WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX |
                                     WS_MAXIMIZEBOX | DS_SETFONT | DS_MODALFRAME,
                                 220, 60, "Wide buttons");
  SkinnedDialog dialog;
  HWND window = dialog.Create(dialogTemplate.Get(), nullptr);
  ASSERT_NE(window, nullptr);
  ::ShowWindow(window, SW_SHOW);
  const skin::CaptionLayout layout = skin::LayoutCaption(window);
  const ui::Bitmap picture =
      CaptureWhenPainted(window, {layout.titleRight, layout.caption.top + 1}, 0x357853, true);
  ui::SaveBitmap(picture, ArtefactPath("dialog_wide_buttons.bmp"));
  ASSERT_GT(picture.width, 0);

  for (auto button : {skin::CaptionButton::Minimise, skin::CaptionButton::MaximiseRestore,
                      skin::CaptionButton::Close}) {
    SCOPED_TRACE(static_cast<int>(button));
    RECT r = layout.button[static_cast<int>(button)];
    const int side = r.bottom - r.top;
    ASSERT_GE(r.right - r.left, side * 3 / 2);
    const int squareLeft = r.left + (r.right - r.left - side) / 2;
    // The close button's rounded border runs round all of it: look inside.
    if (button == skin::CaptionButton::Close) ::InflateRect(&r, -2, -2);
    int inside = 0, outside = 0;
    for (int y = r.top; y < r.bottom; ++y) {
      for (int x = r.left; x < r.right; ++x) {
        if (PixelAt(picture, {x, y}) != 0xFFFFFFu) continue;
        ++(x >= squareLeft && x < squareLeft + side ? inside : outside);
      }
    }
    EXPECT_GT(inside, side);
    EXPECT_EQ(outside, 0);
  }
  dialog.Destroy();
}

}  // namespace

int main(int argc, char** argv) {
  if (testing_support::UnderWine() && !std::getenv(kOnDesktopVariable)) {
    const std::string size = std::to_string(kDesktopWidth) + "x" + std::to_string(kDesktopHeight);
    return testing_support::RunSelfOnVirtualDesktop(kDesktop, size.c_str(), kOnDesktopVariable,
                                                    "skin_test", 1);
  }
  if (testing_support::UnderWine()) {
    RECT desktop{};
    ::GetWindowRect(::GetDesktopWindow(), &desktop);
    if (desktop.right - desktop.left != kDesktopWidth ||
        desktop.bottom - desktop.top != kDesktopHeight) {
      std::fprintf(stderr, "skin_test: not on the %dx%d virtual desktop (%ldx%ld)\n",
                   kDesktopWidth, kDesktopHeight, desktop.right - desktop.left,
                   desktop.bottom - desktop.top);
      return 1;
    }
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
