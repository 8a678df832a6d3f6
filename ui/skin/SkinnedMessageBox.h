// Skinned message boxes. The system creates the box; a computer-based-
// training hook on the calling thread attaches the skin as the box's dialog
// window is created.
#pragma once

#include <windows.h>

#include <string>

#include "ui/skin/SkinnedDialog.h"

class SkinnedMessageBox : public SkinnedDialog {
 public:
  // Closed through the caption (its close button, the system menu, Alt+F4).
  bool ClosedByCaption() const { return closedByCaption_; }

 protected:
  LRESULT WindowMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  bool closedByCaption_ = false;
};

// Shows a system message box, without an owner, topmost and brought to the
// foreground, in the skin's colours. Returns the pressed button; closing the
// box through its caption returns IDCANCEL, also for boxes without a Cancel
// button.
int ShowSkinnedMessageBox(const std::string& text, const std::string& caption, UINT style);
