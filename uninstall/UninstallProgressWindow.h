// The uninstall progress window (dialog 207, "Uninstalling PelloryManager"):
// a status line and a detail line that shows paths, on a thread of its own.
// The uninstall writes its lines and shows or hides it; every such call is
// posted, so a busy window never holds the removal up.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "host/StatusWindow.h"
#include "uninstall/RemovalProgress.h"

class UninstallProgressWindow : public StatusWindow, public RemovalProgress {
 public:
  UninstallProgressWindow();
  void SetStatus(const std::string& text) override;
  void SetStatus(UINT textId);
  void SetDetail(const std::string& path) override;
};

// Starts the window's thread and waits for it to make dialog 207 (hidden).
std::shared_ptr<UninstallProgressWindow> StartUninstallProgressWindow();
