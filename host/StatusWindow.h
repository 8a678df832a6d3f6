// A status window: a dialog that says what the program does while its owner
// is busy (the completion window while the manager is down or files are put
// into place, the uninstall progress window). It runs on a thread of its own,
// so that it stays drawn while its owner works or waits; other threads reach
// it only through posted messages, so a busy window never holds them up.
// Shared ownership: the window's thread keeps the object alive until the
// window is gone, even when its owner has stopped waiting for it.
#pragma once

#include <windows.h>

#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "frame/Handle.h"
#include "host/WindowIcons.h"
#include "ui/skin/SkinnedDialog.h"

class StatusWindow : public SkinnedDialog {
 public:
  // `pathItems` are the lines that show paths (shortened to fit).
  StatusWindow(int dialogId, std::initializer_list<int> pathItems);
  ~StatusWindow() override;

  // True while the window exists.
  bool Exists() const;
  HWND Window() const { return window_; }

  void SetCaption(const std::string& caption);
  // Shows or hides the window; `topmost` also puts it above other windows.
  void Show(bool show, bool topmost = false);
  // An empty text clears the line.
  void SetItemText(int itemId, const std::string& text);

  // Asks the window's thread to destroy the window and waits for the thread
  // at most `milliseconds`; true when it ended in that time.
  bool Close(DWORD milliseconds = 5000);

  // Starts the window's thread and waits for it to make the dialog (hidden,
  // the desktop as parent). False when the window could not be made.
  static bool Start(const std::shared_ptr<StatusWindow>& window);

 protected:
  INT_PTR OnInitDialog() override;
  INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  static DWORD WINAPI ThreadProc(void* parameter);
  void RunWindow();
  bool IsPathItem(int itemId) const;

  const int dialogId_;
  const std::vector<int> pathItems_;
  frame::ScopedHandle ready_;   // manual-reset: set once the window was made
  frame::ScopedHandle thread_;
  HWND window_ = nullptr;       // written before ready_ is set, never after
  WindowIcons icons_;
};

// Makes a status window of type W and starts it. The result is never null;
// Exists() tells whether the window could be made.
template <class W>
std::shared_ptr<W> StartStatusWindow() {
  auto window = std::make_shared<W>();
  StatusWindow::Start(window);
  return window;
}
