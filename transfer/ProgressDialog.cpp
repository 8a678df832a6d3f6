#include "transfer/ProgressDialog.h"

#include <commctrl.h>

#include <climits>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "catalog/DownloadSize.h"
#include "core/Log.h"
#include "core/MessageBox.h"
#include "core/Resources.h"
#include "frame/Module.h"
#include "resources/ProgressIds.h"

namespace {

constexpr char kBarProperty[] = "ProgDlgBar";
constexpr COLORREF kFillColour = 0xC00000;  // dark blue (0x00BBGGRR)
constexpr COLORREF kEmptyColour = 0xFFFFFF;
// A bound on one SetProgress pump, so that a window that keeps posting to
// itself cannot hold the caller forever.
constexpr int kMostMessagesPerPump = 10000;

struct MemoryDcTraits {
  using Type = HDC;
  static Type Invalid() { return nullptr; }
  static void Close(Type dc) { ::DeleteDC(dc); }
};
using ScopedMemoryDc = frame::UniqueHandle<MemoryDcTraits>;

// printf into a string; the formats come from the string tables.
template <class... Args>
std::string Format(const std::string& format, Args... args) {
  const int length = std::snprintf(nullptr, 0, format.c_str(), args...);
  if (length <= 0) return std::string();
  std::string text(static_cast<size_t>(length) + 1, '\0');
  std::snprintf(&text[0], text.size(), format.c_str(), args...);
  text.resize(static_cast<size_t>(length));
  return text;
}

std::string WindowText(HWND window) {
  const int length = ::GetWindowTextLengthA(window);
  if (length <= 0) return std::string();
  std::string text(static_cast<size_t>(length) + 1, '\0');
  const int copied = ::GetWindowTextA(window, &text[0], length + 1);
  text.resize(copied > 0 ? static_cast<size_t>(copied) : 0);
  return text;
}

// Below a minute in seconds, then whole minutes. The string table has no
// hours, so an hour or more also reads as whole minutes ("%d min", 130): it
// is the shortest text and fits the time-left line.
std::string DurationText(uint64_t seconds) {
  if (seconds < 60) return Format(LoadResString(IDS_DURATION_SECONDS), static_cast<int>(seconds));
  const uint64_t minutes = seconds / 60;
  const int shown = minutes > INT_MAX ? INT_MAX : static_cast<int>(minutes);
  return Format(LoadResString(IDS_DURATION_MINUTES), shown);
}

HFONT CreateStatusFont() {
  NONCLIENTMETRICSA metrics = {};
  metrics.cbSize = sizeof(metrics);
  if (!::SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, metrics.cbSize, &metrics, 0)) {
    // Systems before Vista refuse the structure with the padded border.
    metrics.cbSize = offsetof(NONCLIENTMETRICSA, iPaddedBorderWidth);
    if (!::SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, metrics.cbSize, &metrics, 0))
      return nullptr;
  }
  return ::CreateFontIndirectA(&metrics.lfStatusFont);
}

// The system's dialog class: the program's dialogs and its message boxes.
bool IsDialogWindow(HWND window) {
  char name[8] = "";
  return window && ::GetClassNameA(window, name, sizeof(name)) > 0 &&
         std::strcmp(name, "#32770") == 0;
}

RECT ChildRect(HWND dialog, HWND child) {
  RECT rect = {};
  ::GetWindowRect(child, &rect);
  ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

}  // namespace

ProgressText MakeProgressText(const std::string& text) {
  ProgressText copy(new char[text.size() + 1]);
  std::memcpy(copy.get(), text.c_str(), text.size() + 1);
  return copy;
}

ProgressDialog::ProgressDialog(UINT captionId) : captionId_(captionId) {}

ProgressDialog::~ProgressDialog() {
  // Here, not in the base: the handlers of the destruction are this class's.
  Destroy();
}

bool ProgressDialog::Create(HWND parent) {
  // One window per object: a second would lose the first, and the parent
  // it disabled would stay so.
  if (hwnd()) {
    LogFormat("The progress dialog exists already.");
    return false;
  }
  parent_ = parent;
  disabledParent_ = false;
  if (parent && ::IsWindowEnabled(parent)) {
    ::EnableWindow(parent, FALSE);
    disabledParent_ = true;
  }
  HWND window = frame::Dialog::Create(FindDialogTemplate(IDD_PROGRESS), parent);
  if (!window) {
    LogFormat("Failed to create the progress dialog. Error 0x0%x",
              static_cast<unsigned>(::GetLastError()));
    if (disabledParent_) ::EnableWindow(parent, TRUE);
    disabledParent_ = false;
    return false;
  }
  // A quiet Setup run installs without showing anything.
  if (!(IsSetupMode() && IsQuiet())) ::ShowWindow(window, SW_SHOW);
  return true;
}

void ProgressDialog::Destroy() {
  // The parent first, so that it takes the activation when this window goes.
  if (disabledParent_ && ::IsWindow(parent_)) ::EnableWindow(parent_, TRUE);
  disabledParent_ = false;
  frame::Dialog::Destroy();
}

bool ProgressDialog::IsCancelled() const { return cancel_.IsSet(); }

void ProgressDialog::SetProgress(int percent) {
  MSG msg;
  for (int handled = 0; handled < kMostMessagesPerPump &&
                        ::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE);
       ++handled) {
    if (msg.message == WM_QUIT) {
      ::PostQuitMessage(static_cast<int>(msg.wParam));  // for the loop that owns it
      break;
    }
    // Each message to the dialog handling of its own window: this pump also
    // runs inside the loops of other dialogs, the cancel question's among
    // them, and their keys must reach them.
    HWND root = msg.hwnd ? ::GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
    if (!IsDialogWindow(root) || !::IsDialogMessageA(root, &msg)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageA(&msg);
    }
  }
  // A message above may have closed the dialog.
  if (!hwnd() || !bar_) return;
  ::SendMessageA(bar_, PBM_SETPOS, static_cast<WPARAM>(percent), 0);
  ::InvalidateRect(bar_, nullptr, FALSE);
  const int range = rangeMax_ - rangeMin_;
  const int shown = range > 0 ? static_cast<int>(static_cast<int64_t>(percent) * 100 / range) : 0;
  SetTextIfDifferent(IDC_PROGRESS_PERCENT, Format(std::string("%d%c"), shown, '%'), false);
}

bool ProgressDialog::PostCurrentItem(HWND dialog, const std::string& component,
                                     const std::string& file) {
  ProgressText componentText = MakeProgressText(component);
  ProgressText fileText = MakeProgressText(file);
  if (!::PostMessageA(dialog, kSetItemMessage, reinterpret_cast<WPARAM>(componentText.get()),
                      reinterpret_cast<LPARAM>(fileText.get())))
    return false;  // nobody took them: freed here
  componentText.release();
  fileText.release();
  return true;
}

void ProgressDialog::SendBytes(HWND dialog, uint32_t done, uint32_t total) {
  ::SendMessageA(dialog, kBytesMessage, static_cast<WPARAM>(done),
                 static_cast<LPARAM>(static_cast<LONG>(total)));
}

INT_PTR ProgressDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case kSetItemMessage:
      OnSetItem(wParam, lParam);
      return TRUE;
    case kBytesMessage:
      OnBytes(static_cast<uint32_t>(wParam), static_cast<uint32_t>(lParam));
      return TRUE;
    case kShowPictureMessage:
      OnShowPicture();
      return TRUE;
    case WM_SYSCOMMAND:
      // Minimise and maximise only switch between the compact and the full form.
      if ((wParam & 0xFFF0) == SC_MINIMIZE) {
        if (!collapsed_) Collapse();
        return TRUE;
      }
      if ((wParam & 0xFFF0) == SC_MAXIMIZE) {
        if (collapsed_) Expand();
        return TRUE;
      }
      break;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDCANCEL) {
        OnCancel();
        return TRUE;
      }
      if (LOWORD(wParam) == IDOK) {
        Destroy();
        return TRUE;
      }
      break;
    case WM_DESTROY:
      if (disabledParent_ && ::IsWindow(parent_)) ::EnableWindow(parent_, TRUE);
      disabledParent_ = false;
      DrainPostedTexts();
      break;
    case WM_NCDESTROY:
      DrainPostedTexts();  // the last moment a post can still reach this window
      break;
    default:
      break;
  }
  return SkinnedDialog::OnMessage(message, wParam, lParam);
}

INT_PTR ProgressDialog::OnInitDialog() {
  HWND window = hwnd();
  HINSTANCE instance = frame::TheModule().Instance();
  bigIcon_.reset(static_cast<HICON>(::LoadImageA(
      instance, MAKEINTRESOURCEA(IDI_APP), IMAGE_ICON, ::GetSystemMetrics(SM_CXICON),
      ::GetSystemMetrics(SM_CYICON), 0)));
  smallIcon_.reset(static_cast<HICON>(::LoadImageA(
      instance, MAKEINTRESOURCEA(IDI_APP), IMAGE_ICON, ::GetSystemMetrics(SM_CXSMICON),
      ::GetSystemMetrics(SM_CYSMICON), 0)));
  ::SendMessageA(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon_.get()));
  ::SendMessageA(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_.get()));

  ::GetClientRect(window, &clientRect_);
  if (HWND line = ::GetDlgItem(window, IDC_PROGRESS_LINE))
    collapseHeight_ = ChildRect(window, line).top;

  // The bar is painted here: two colours, the percentage centred over both.
  bar_ = ::GetDlgItem(window, IDC_PROGRESS_BAR);
  if (bar_) {
    barFont_.reset(CreateStatusFont());
    ::SetPropA(bar_, kBarProperty, this);
    barDefaultProc_ = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrA(bar_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&BarProc)));
  }

  if (IsSetupMode()) {
    ::SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    ::PostMessageA(window, kShowPictureMessage, 0, 0);
  } else {
    Collapse();
  }

  if (bar_) {
    ::SendMessageA(bar_, PBM_SETRANGE32, static_cast<WPARAM>(rangeMin_), rangeMax_);
    ::SendMessageA(bar_, PBM_SETSTEP, static_cast<WPARAM>(step_), 0);
    ::SendMessageA(bar_, PBM_SETPOS, 0, 0);
  }
  ::SetWindowTextA(window, LoadResString(captionId_).c_str());
  return TRUE;
}

void ProgressDialog::OnSetItem(WPARAM wParam, LPARAM lParam) {
  // Adopted before anything can fail, so both are freed on every path.
  ProgressText component(reinterpret_cast<char*>(wParam));
  ProgressText file(reinterpret_cast<char*>(lParam));
  ::SetDlgItemTextA(hwnd(), IDC_PROGRESS_COMPONENT,
                    Format(LoadResString(IDS_INSTALLING_COMPONENT),
                           component ? component.get() : "").c_str());
  ::SetDlgItemTextA(hwnd(), IDC_PROGRESS_FILE,
                    Format(LoadResString(IDS_DOWNLOADING_FILE), file ? file.get() : "").c_str());
}

void ProgressDialog::OnBytes(uint32_t done, uint32_t total) {
  if (done > total) done = total;
  const int percent = total ? static_cast<int>(static_cast<uint64_t>(done) * 100 / total) : 0;
  if (hwnd()) SetProgress(percent);
  if (!hwnd()) return;  // closed while SetProgress dispatched

  const DWORD now = tickSource_();
  if (startTime_ == 0) {
    startTime_ = now ? now : 1;  // 0 means "not started"
    return;
  }
  const DWORD elapsed = now - startTime_;  // unsigned: right across the 49-day wrap
  if (elapsed == 0 || done == 0) return;

  // The bytes of the previous message over the time so far: one message behind.
  const uint64_t rate = static_cast<uint64_t>(previousDone_) * 1000 / elapsed;
  std::string rateText;
  if (rate <= 1024)
    rateText = Format(LoadResString(IDS_RATE_BYTES), static_cast<int>(rate));
  else if (rate <= 1048576)
    rateText = Format(LoadResString(IDS_RATE_KILOBYTES), static_cast<int>(rate / 1024));
  else
    rateText = Format(LoadResString(IDS_RATE_MEGABYTES), static_cast<double>(rate) / 1048576.0);
  SetTextIfDifferent(IDC_PROGRESS_RATE, rateText, true);

  const uint64_t secondsLeft = static_cast<uint64_t>(total - done) * elapsed / done / 1000;
  SetTextIfDifferent(IDC_PROGRESS_TIME_LEFT,
                     Format(LoadResString(IDS_TIME_LEFT), DurationText(secondsLeft).c_str(),
                            FormatDownloadSize(done).c_str(), FormatDownloadSize(total).c_str()),
                     false);
  previousDone_ = done;
}

void ProgressDialog::OnShowPicture() {
  try {
    HWND window = hwnd();
    HWND placeholder = ::GetDlgItem(window, IDC_PROGRESS_PLACEHOLDER);
    HWND picture = ::GetDlgItem(window, IDC_PROGRESS_PICTURE);
    if (!placeholder || !picture) return;
    const RECT place = ChildRect(window, placeholder);
    ::SetWindowPos(picture, nullptr, place.left, place.top, place.right - place.left,
                   place.bottom - place.top, SWP_NOZORDER | SWP_NOACTIVATE);
    ::DestroyWindow(placeholder);
    ::ShowWindow(picture, SW_SHOW);
    ::InvalidateRect(picture, nullptr, TRUE);
    ::UpdateWindow(picture);
  } catch (...) {
    LogFormat("Unhandled exception. File %s, Line %d.", "ProgDlg", 668);
  }
}

void ProgressDialog::OnCancel() {
  if (asking_) return;  // Escape or the close button while the question is open
  asking_ = true;
  const int answer = AppMessageBox(IDS_CONFIRM_ABORT_DOWNLOAD,
                                   MB_YESNO | MB_ICONEXCLAMATION | MB_SYSTEMMODAL);
  asking_ = false;
  if (answer != IDYES) return;
  // The worker first: hiding a window can take a while (seconds under Wine
  // without a window manager).
  cancel_.Set();
  if (hwnd()) ::ShowWindow(hwnd(), SW_HIDE);
}

void ProgressDialog::Collapse() {
  HWND window = hwnd();
  ::ShowWindow(::GetDlgItem(window, IDC_PROGRESS_PLACEHOLDER), SW_HIDE);
  ::ShowWindow(::GetDlgItem(window, IDC_PROGRESS_LINE), SW_HIDE);
  MoveForCollapse(-collapseHeight_);
  collapsed_ = true;
}

void ProgressDialog::Expand() {
  HWND window = hwnd();
  MoveForCollapse(collapseHeight_);
  // The placeholder is gone once the picture took its place.
  if (HWND placeholder = ::GetDlgItem(window, IDC_PROGRESS_PLACEHOLDER))
    ::ShowWindow(placeholder, SW_SHOW);
  ::ShowWindow(::GetDlgItem(window, IDC_PROGRESS_LINE), SW_SHOW);
  collapsed_ = false;
}

// Moves the controls below the line by `offset` and the window's top edge the
// other way, so the bottom edge stays where it is.
void ProgressDialog::MoveForCollapse(int offset) {
  HWND window = hwnd();
  for (HWND child = ::GetWindow(window, GW_CHILD); child;
       child = ::GetWindow(child, GW_HWNDNEXT)) {
    const int id = ::GetDlgCtrlID(child);
    if (id == IDC_PROGRESS_PLACEHOLDER || id == IDC_PROGRESS_LINE) continue;
    const RECT rect = ChildRect(window, child);
    ::SetWindowPos(child, nullptr, rect.left, rect.top + offset, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  RECT frame = {};
  ::GetWindowRect(window, &frame);
  ::SetWindowPos(window, nullptr, frame.left, frame.top - offset, frame.right - frame.left,
                 frame.bottom - frame.top + offset, SWP_NOZORDER | SWP_NOACTIVATE);
  ::InvalidateRect(window, nullptr, TRUE);
}

// Texts still queued when the window goes would never reach a handler.
void ProgressDialog::DrainPostedTexts() {
  MSG msg;
  while (::PeekMessageA(&msg, hwnd(), kSetItemMessage, kSetItemMessage, PM_REMOVE)) {
    ProgressText component(reinterpret_cast<char*>(msg.wParam));
    ProgressText file(reinterpret_cast<char*>(msg.lParam));
  }
}

void ProgressDialog::SetTextIfDifferent(int controlId, const std::string& text, bool ignoreCase) {
  HWND control = ::GetDlgItem(hwnd(), controlId);
  if (!control) return;
  const std::string current = WindowText(control);
  const bool same = ignoreCase ? ::lstrcmpiA(current.c_str(), text.c_str()) == 0 : current == text;
  if (!same) ::SetWindowTextA(control, text.c_str());
}

LRESULT CALLBACK ProgressDialog::BarProc(HWND bar, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = static_cast<ProgressDialog*>(::GetPropA(bar, kBarProperty));
  if (!self || !self->barDefaultProc_) return ::DefWindowProcA(bar, message, wParam, lParam);
  const WNDPROC original = self->barDefaultProc_;
  try {
    switch (message) {
      case WM_ERASEBKGND:
        return 1;  // the paint covers every pixel
      case WM_PAINT: {
        PAINTSTRUCT paint;
        if (HDC dc = ::BeginPaint(bar, &paint)) {
          self->PaintBar(bar, dc);
          ::EndPaint(bar, &paint);
        }
        return 0;
      }
      case WM_PRINTCLIENT:
        self->PaintBar(bar, reinterpret_cast<HDC>(wParam));
        return 0;
      case WM_NCDESTROY:
        ::SetWindowLongPtrA(bar, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original));
        ::RemovePropA(bar, kBarProperty);
        self->bar_ = nullptr;
        self->barDefaultProc_ = nullptr;
        break;
      default:
        break;
    }
  } catch (...) {
    // Nothing unwinds through the window procedure; the bar stays as it was.
  }
  return ::CallWindowProcA(original, bar, message, wParam, lParam);
}

void ProgressDialog::PaintBar(HWND bar, HDC target) {
  const int range = rangeMax_ - rangeMin_;
  if (range <= 0 || !target) return;
  RECT client = {};
  ::GetClientRect(bar, &client);
  const int width = client.right;
  const int height = client.bottom;
  if (width <= 0 || height <= 0) return;

  int position = static_cast<int>(::SendMessageA(bar, PBM_GETPOS, 0, 0)) - rangeMin_;
  if (position < 0) position = 0;
  if (position > range) position = range;
  const int filled = static_cast<int>(static_cast<int64_t>(width) * position / range);
  const std::string text =
      Format(std::string("%d%%"), static_cast<int>(static_cast<int64_t>(position) * 100 / range));

  // Off-screen first: the bar never flickers between its two fills.
  ScopedMemoryDc memory(::CreateCompatibleDC(target));
  frame::ScopedGdiObject bitmap(::CreateCompatibleBitmap(target, width, height));
  frame::ScopedGdiObject fillBrush(::CreateSolidBrush(kFillColour));
  frame::ScopedGdiObject emptyBrush(::CreateSolidBrush(kEmptyColour));
  if (!memory || !bitmap || !fillBrush || !emptyBrush) return;
  frame::ScopedSelect selectBitmap(memory.get(), bitmap.get());
  HGDIOBJ font = barFont_ ? barFont_.get() : ::GetStockObject(DEFAULT_GUI_FONT);
  frame::ScopedSelect selectFont(memory.get(), font);

  const RECT fillPart = {0, 0, filled, height};
  const RECT emptyPart = {filled, 0, width, height};
  ::FillRect(memory.get(), &fillPart, static_cast<HBRUSH>(fillBrush.get()));
  ::FillRect(memory.get(), &emptyPart, static_cast<HBRUSH>(emptyBrush.get()));
  ::SetBkMode(memory.get(), TRANSPARENT);
  // The same centred text twice, each clipped to one part in the other colour.
  const struct {
    const RECT& part;
    COLORREF colour;
  } layers[] = {{fillPart, kEmptyColour}, {emptyPart, kFillColour}};
  for (const auto& layer : layers) {
    const int saved = ::SaveDC(memory.get());
    ::IntersectClipRect(memory.get(), layer.part.left, layer.part.top, layer.part.right,
                        layer.part.bottom);
    ::SetTextColor(memory.get(), layer.colour);
    RECT whole = client;
    ::DrawTextA(memory.get(), text.c_str(), -1, &whole,
                DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    ::RestoreDC(memory.get(), saved);
  }
  ::BitBlt(target, 0, 0, width, height, memory.get(), 0, 0, SRCCOPY);
}
