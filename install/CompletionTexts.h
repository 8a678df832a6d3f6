// The three text lines of the completion dialog that the installation steps
// write into while they work: a headline (item 210) and up to two paths
// (items 211 and 212). The dialog implements it; tests record the texts.
#pragma once

#include <string>

class CompletionTexts {
 public:
  virtual ~CompletionTexts() = default;
  // Sets all three lines at once; an empty path clears its line.
  virtual void ShowStep(const std::string& headline, const std::string& firstPath,
                        const std::string& secondPath) = 0;
};
