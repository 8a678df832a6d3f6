// The completion window (dialog 206): a status window that says what the
// program does while the manager is down or files are put into place. It
// runs on a thread of its own, so that it stays drawn while its owner waits;
// other threads reach it only through posted messages. Shared ownership: the
// window's thread keeps the object alive until the window is gone, even when
// its owner has stopped waiting for it.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "frame/Handle.h"
#include "host/WindowIcons.h"
#include "ui/skin/SkinnedDialog.h"

class CompletionDialog : public SkinnedDialog {
 public:
  CompletionDialog();
  ~CompletionDialog() override;

  // True while the window exists.
  bool Exists() const;
  HWND Window() const { return window_; }

  void SetCaption(const std::string& caption);
  // Shows or hides the window; `topmost` also puts it above other windows.
  void Show(bool show, bool topmost = false);
  // Item 210 (the headline) and items 211 and 212 (paths); an empty text
  // clears its line.
  void ShowStep(const std::string& headline, const std::string& firstPath,
                const std::string& secondPath);
  void SetItemText(int itemId, const std::string& text);

  // Asks the window's thread to destroy the window and waits for the thread
  // at most `milliseconds`; true when it ended in that time.
  bool Close(DWORD milliseconds = 5000);

 protected:
  INT_PTR OnInitDialog() override;
  INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  friend std::shared_ptr<CompletionDialog> StartCompletionDialog();
  static DWORD WINAPI ThreadProc(void* parameter);
  void RunWindow();

  frame::ScopedHandle ready_;   // manual-reset: set once the window was made
  frame::ScopedHandle thread_;
  HWND window_ = nullptr;       // written before ready_ is set, never after
  WindowIcons icons_;
};

// Starts the window's thread and waits for it to make dialog 206 (hidden,
// the desktop as parent). The result is never null; Exists() tells whether
// the window could be made.
std::shared_ptr<CompletionDialog> StartCompletionDialog();
