// The application icon (203) in a window's caption and task button. The
// icons belong to the dialog object, which outlives its window.
#pragma once

#include <windows.h>

#include "frame/Handle.h"
#include "frame/Module.h"
#include "resources/StringIds.h"

class WindowIcons {
 public:
  void Apply(HWND window) {
    big_.reset(Load(SM_CXICON, SM_CYICON));
    small_.reset(Load(SM_CXSMICON, SM_CYSMICON));
    ::SendMessageA(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big_.get()));
    ::SendMessageA(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small_.get()));
  }

 private:
  static HICON Load(int widthMetric, int heightMetric) {
    return static_cast<HICON>(::LoadImageA(frame::TheModule().Instance(),
                                           MAKEINTRESOURCEA(IDI_APP), IMAGE_ICON,
                                           ::GetSystemMetrics(widthMetric),
                                           ::GetSystemMetrics(heightMetric), 0));
  }

  frame::ScopedIcon big_;
  frame::ScopedIcon small_;
};
