// Stands in for the uninstall progress window: keeps the last status and
// detail lines the removal routines set.
#pragma once

#include <string>

#include "uninstall/RemovalProgress.h"

struct RecordedProgress : RemovalProgress {
  void SetStatus(const std::string& text) override { status = text; }
  void SetDetail(const std::string& path) override { detail = path; }
  std::string status = "before";
  std::string detail = "before";
};
