// The modeless progress dialog of an installation: current component and
// file, an owner-painted bar, time left, transfer rate and a Cancel button.
// It lives on the main thread; the worker reaches it only through the
// messages below and reads IsCancelled.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "frame/Handle.h"
#include "resources/StringIds.h"
#include "transfer/CancelFlag.h"
#include "ui/skin/SkinnedDialog.h"

// A heap text that travels with a posted message. The sender makes it with
// MakeProgressText and gives it up only when the post succeeded; the dialog
// adopts it on arrival (or when it drains its queue on destruction), so a
// text is freed exactly once whatever happens to the window.
using ProgressText = std::unique_ptr<char[]>;
ProgressText MakeProgressText(const std::string& text);

class ProgressDialog : public SkinnedDialog {
 public:
  // wParam, lParam: component and file name (ProgressText, owned by the dialog).
  static constexpr UINT kSetItemMessage = WM_USER + 134;
  // wParam, lParam: bytes done, bytes in total (32-bit). Sent, not posted.
  static constexpr UINT kBytesMessage = WM_USER + 135;
  // Posted to itself in Setup mode: the picture replaces its placeholder.
  static constexpr UINT kShowPictureMessage = WM_USER + 136;

  explicit ProgressDialog(UINT captionId = IDS_CAPTION_DOWNLOAD);
  ~ProgressDialog() override;

  // Creates the dialog modeless; disables an enabled parent while it lives.
  bool Create(HWND parent);
  void Destroy();

  bool IsCancelled() const;
  // Set by Cancel; handed to the transfer layer, whose waits it ends at once.
  const CancelFlag& CancelSignal() const { return cancel_; }
  // Dispatches waiting messages first, so long runs stay responsive.
  void SetProgress(int percent);

  // For the worker thread.
  static bool PostCurrentItem(HWND dialog, const std::string& component,
                              const std::string& file);
  static void SendBytes(HWND dialog, uint32_t done, uint32_t total);

  // Test seam: the millisecond clock of the rate and time-left texts.
  using TickSource = DWORD(WINAPI*)();
  void SetTickSource(TickSource tickSource) { tickSource_ = tickSource; }

 protected:
  INT_PTR OnInitDialog() override;
  INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  void OnSetItem(WPARAM wParam, LPARAM lParam);
  void OnBytes(uint32_t done, uint32_t total);
  void OnShowPicture();
  void OnCancel();
  void Collapse();
  void Expand();
  void MoveForCollapse(int offset);
  void DrainPostedTexts();
  void SetTextIfDifferent(int controlId, const std::string& text, bool ignoreCase);

  static LRESULT CALLBACK BarProc(HWND bar, UINT message, WPARAM wParam, LPARAM lParam);
  void PaintBar(HWND bar, HDC target);

  UINT captionId_;
  int rangeMin_ = 0;
  int rangeMax_ = 100;
  int step_ = 10;
  CancelFlag cancel_;
  HWND parent_ = nullptr;
  bool disabledParent_ = false;
  DWORD startTime_ = 0;
  uint32_t previousDone_ = 0;
  bool collapsed_ = false;
  int collapseHeight_ = 0;
  RECT clientRect_ = {};
  HWND bar_ = nullptr;
  WNDPROC barDefaultProc_ = nullptr;
  frame::ScopedIcon bigIcon_;
  frame::ScopedIcon smallIcon_;
  frame::ScopedGdiObject barFont_;
  bool asking_ = false;  // the cancel question is open
  TickSource tickSource_ = &::GetTickCount;
};
