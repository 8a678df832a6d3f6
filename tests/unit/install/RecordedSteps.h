// A completion dialog for tests: records each step as
// "headline|first path|second path".
#pragma once

#include <string>
#include <vector>

#include "install/CompletionTexts.h"

struct RecordedSteps : CompletionTexts {
  void ShowStep(const std::string& headline, const std::string& first,
                const std::string& second) override {
    steps.push_back(headline + "|" + first + "|" + second);
  }
  std::vector<std::string> steps;
};
