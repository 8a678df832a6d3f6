// Where the removal routines say what they are doing: the status line and
// the detail line (a path) of the uninstall progress window. The routines
// take it as an optional pointer; without one they only log.
#pragma once

#include <string>

class RemovalProgress {
 public:
  virtual void SetStatus(const std::string& text) = 0;
  virtual void SetDetail(const std::string& path) = 0;

 protected:
  ~RemovalProgress() = default;
};
