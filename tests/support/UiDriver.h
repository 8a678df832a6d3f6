// Drives another process's windows the way a person would: wait for a window
// to appear, read what it says, press its buttons, take a picture of it.
// Win32 only, so the same tests would run on a real Windows machine.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace ui {

struct WindowQuery {
  std::string caption;    // exact caption; empty = any
  std::string className;  // exact class name ("#32770" for dialogs); empty = any
  DWORD processId = 0;    // owning process; 0 = any
  bool visibleOnly = true;
};

// Polls the top-level windows until one matches; nullptr after timeoutMs.
HWND WaitForWindow(const WindowQuery& query, DWORD timeoutMs = 20000);
// Waits until the window is gone; false on time-out.
bool WaitForWindowGone(HWND window, DWORD timeoutMs = 20000);
// All matching top-level windows now.
std::vector<HWND> FindWindows(const WindowQuery& query);

std::string WindowText(HWND window);
std::string ClassName(HWND window);
// Texts of the window's static controls, in z-order.
std::vector<std::string> StaticTexts(HWND window);
// The text of a message box (its static control 0xFFFF), or "".
std::string MessageBoxText(HWND box);
// The text of a dialog control.
std::string ControlText(HWND dialog, int controlId);

// A dialog's caption and the text of one of its controls (0xFFFF: a message
// box's text). A box is found as soon as it shows, and its caption and text
// may follow a moment later (seen with the first box of a process, and on a
// busy machine): both are read again, for up to two seconds, until both are
// there or the dialog is gone.
struct DialogTexts {
  std::string caption;
  std::string text;
};
DialogTexts ReadDialogTexts(HWND dialog, int textControl = 0xFFFF);

// Clicks a button by id as a user would (BM_CLICK, posted so that a modal
// loop in the other process handles it). False when there is no such button.
bool PressButton(HWND dialog, int buttonId);
// Closes with the caption's close button (WM_CLOSE).
void CloseWindow(HWND window);
// Ticks a row of a list with check boxes by a click on the row's box (the
// selection dialog's list); false when the row's place cannot be had.
bool TickRow(HWND list, int row);

struct Bitmap {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> pixels;  // 0x00RRGGBB, top row first
  uint32_t At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};
// A picture of the window as it is on screen.
bool CaptureWindow(HWND window, Bitmap& bitmap);
// A picture of a window of this process from its own surface, frame and
// caption included. (Screen copies come out black inside Wine's virtual
// desktop, and without a window manager they miss what the window paints in
// its frame.)
bool CaptureWindowSurface(HWND window, Bitmap& bitmap);
// width x height pixels of a DC from (x, y).
bool CopyPixels(HDC source, int x, int y, int width, int height, Bitmap& bitmap);
// Saves a picture as a 24-bit .bmp (for people looking at a failed test).
bool SaveBitmap(const Bitmap& bitmap, const std::string& path);

}  // namespace ui
