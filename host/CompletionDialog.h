// The completion window (dialog 206): a status window that says what the
// program does while the manager is down or files are put into place.
#pragma once

#include <memory>
#include <string>

#include "host/StatusWindow.h"

class CompletionDialog : public StatusWindow {
 public:
  CompletionDialog();
  // Item 210 (the headline) and items 211 and 212 (paths); an empty text
  // clears its line.
  void ShowStep(const std::string& headline, const std::string& firstPath,
                const std::string& secondPath);
};

// Starts the window's thread and waits for it to make dialog 206.
std::shared_ptr<CompletionDialog> StartCompletionDialog();
