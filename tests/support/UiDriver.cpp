#include "tests/support/UiDriver.h"

#include <cstdio>

#include "tests/support/TestProcess.h"

namespace ui {
namespace {

struct EnumState {
  const WindowQuery* query;
  std::vector<HWND>* found;
};

bool Matches(HWND window, const WindowQuery& query) {
  if (query.visibleOnly && !::IsWindowVisible(window)) return false;
  if (query.processId) {
    DWORD pid = 0;
    ::GetWindowThreadProcessId(window, &pid);
    if (pid != query.processId) return false;
  }
  if (!query.className.empty() && ClassName(window) != query.className) return false;
  if (!query.caption.empty() && WindowText(window) != query.caption) return false;
  return true;
}

BOOL CALLBACK CollectTopLevel(HWND window, LPARAM param) {
  auto* state = reinterpret_cast<EnumState*>(param);
  if (Matches(window, *state->query)) state->found->push_back(window);
  return TRUE;
}

BOOL CALLBACK CollectStatics(HWND child, LPARAM param) {
  auto* texts = reinterpret_cast<std::vector<std::string>*>(param);
  if (::lstrcmpiA(ClassName(child).c_str(), "Static") == 0) texts->push_back(WindowText(child));
  return TRUE;
}

}  // namespace

std::vector<HWND> FindWindows(const WindowQuery& query) {
  std::vector<HWND> found;
  EnumState state{&query, &found};
  ::EnumWindows(&CollectTopLevel, reinterpret_cast<LPARAM>(&state));
  return found;
}

HWND WaitForWindow(const WindowQuery& query, DWORD timeoutMs) {
  timeoutMs = testing_support::Patience(timeoutMs);
  const DWORD start = ::GetTickCount();
  for (;;) {
    std::vector<HWND> found = FindWindows(query);
    if (!found.empty()) return found.front();
    if (::GetTickCount() - start >= timeoutMs) return nullptr;
    ::Sleep(50);
  }
}

bool WaitForWindowGone(HWND window, DWORD timeoutMs) {
  const DWORD start = ::GetTickCount();
  while (::IsWindow(window)) {
    if (::GetTickCount() - start >= timeoutMs) return false;
    ::Sleep(50);
  }
  return true;
}

std::string WindowText(HWND window) {
  // WM_GETTEXT works across processes (the system marshals the buffer).
  char text[4096] = "";
  DWORD_PTR length = 0;
  if (!::SendMessageTimeoutA(window, WM_GETTEXT, sizeof(text), reinterpret_cast<LPARAM>(text),
                             SMTO_ABORTIFHUNG, 5000, &length))
    return std::string();
  return std::string(text, length < sizeof(text) ? length : 0);
}

std::string ClassName(HWND window) {
  char name[256] = "";
  int length = ::GetClassNameA(window, name, sizeof(name));
  return std::string(name, length > 0 ? static_cast<size_t>(length) : 0);
}

std::vector<std::string> StaticTexts(HWND window) {
  std::vector<std::string> texts;
  ::EnumChildWindows(window, &CollectStatics, reinterpret_cast<LPARAM>(&texts));
  return texts;
}

std::string MessageBoxText(HWND box) {
  HWND text = ::GetDlgItem(box, 0xFFFF);
  return text ? WindowText(text) : std::string();
}

std::string ControlText(HWND dialog, int controlId) {
  HWND control = ::GetDlgItem(dialog, controlId);
  return control ? WindowText(control) : std::string();
}

DialogTexts ReadDialogTexts(HWND dialog, int textControl) {
  DialogTexts texts;
  for (int i = 0; i <= 40 && ::IsWindow(dialog); ++i) {
    if (i > 0) ::Sleep(50);
    texts.caption = WindowText(dialog);
    texts.text = ControlText(dialog, textControl);
    if (!texts.caption.empty() && !texts.text.empty()) break;
  }
  return texts;
}

bool PressButton(HWND dialog, int buttonId) {
  HWND button = ::GetDlgItem(dialog, buttonId);
  if (!button) return false;
  ::PostMessageA(button, BM_CLICK, 0, 0);
  return true;
}

void CloseWindow(HWND window) { ::PostMessageA(window, WM_CLOSE, 0, 0); }

bool TickRow(HWND list, int row) {
  RECT rect = {};
  DWORD_PTR ignored = 0;
  if (!::SendMessageTimeoutA(list, LB_GETITEMRECT, static_cast<WPARAM>(row),
                             reinterpret_cast<LPARAM>(&rect), SMTO_BLOCK, 5000, &ignored))
    return false;
  const LPARAM box = MAKELPARAM(rect.left + 8, rect.top + 8);
  ::SendMessageTimeoutA(list, WM_LBUTTONDOWN, MK_LBUTTON, box, SMTO_BLOCK, 5000, &ignored);
  ::SendMessageTimeoutA(list, WM_LBUTTONUP, 0, box, SMTO_BLOCK, 5000, &ignored);
  return true;
}

bool CopyPixels(HDC source, int x, int y, int width, int height, Bitmap& bitmap) {
  if (!source || width <= 0 || height <= 0) return false;
  HDC memory = ::CreateCompatibleDC(source);
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top row first
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP dib = ::CreateDIBSection(source, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  bool ok = false;
  if (dib && bits) {
    HGDIOBJ old = ::SelectObject(memory, dib);
    ok = ::BitBlt(memory, 0, 0, width, height, source, x, y, SRCCOPY) != FALSE;
    ::GdiFlush();
    if (ok) {
      bitmap.width = width;
      bitmap.height = height;
      const auto* pixels = static_cast<const uint32_t*>(bits);
      bitmap.pixels.assign(pixels, pixels + static_cast<size_t>(width) * height);
      for (auto& pixel : bitmap.pixels) pixel &= 0x00FFFFFF;
    }
    ::SelectObject(memory, old);
  }
  if (dib) ::DeleteObject(dib);
  ::DeleteDC(memory);
  return ok;
}

bool CaptureWindow(HWND window, Bitmap& bitmap) {
  RECT rect;
  if (!::GetWindowRect(window, &rect)) return false;
  // Copy from the screen: what a person sees, whatever process draws it.
  HDC screen = ::GetDC(nullptr);
  const bool ok = CopyPixels(screen, rect.left, rect.top, rect.right - rect.left,
                             rect.bottom - rect.top, bitmap);
  ::ReleaseDC(nullptr, screen);
  return ok;
}

bool CaptureWindowSurface(HWND window, Bitmap& bitmap) {
  RECT rect;
  if (!::GetWindowRect(window, &rect)) return false;
  HDC surface = ::GetWindowDC(window);
  const bool ok =
      CopyPixels(surface, 0, 0, rect.right - rect.left, rect.bottom - rect.top, bitmap);
  if (surface) ::ReleaseDC(window, surface);
  return ok;
}

bool SaveBitmap(const Bitmap& bitmap, const std::string& path) {
  const int rowBytes = ((bitmap.width * 3 + 3) / 4) * 4;
  BITMAPFILEHEADER file = {};
  BITMAPINFOHEADER header = {};
  header.biSize = sizeof(header);
  header.biWidth = bitmap.width;
  header.biHeight = -bitmap.height;
  header.biPlanes = 1;
  header.biBitCount = 24;
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof(file) + sizeof(header);
  file.bfSize = file.bfOffBits + rowBytes * bitmap.height;
  FILE* out = std::fopen(path.c_str(), "wb");
  if (!out) return false;
  std::fwrite(&file, sizeof(file), 1, out);
  std::fwrite(&header, sizeof(header), 1, out);
  std::vector<unsigned char> row(static_cast<size_t>(rowBytes), 0);
  for (int y = 0; y < bitmap.height; ++y) {
    for (int x = 0; x < bitmap.width; ++x) {
      const uint32_t pixel = bitmap.At(x, y);
      row[x * 3 + 0] = pixel & 0xFF;
      row[x * 3 + 1] = (pixel >> 8) & 0xFF;
      row[x * 3 + 2] = (pixel >> 16) & 0xFF;
    }
    std::fwrite(row.data(), 1, row.size(), out);
  }
  return std::fclose(out) == 0;
}

}  // namespace ui
