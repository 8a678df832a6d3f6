// What the code under test logs while the object lives; the previous sink is
// put back at the end of the scope. Header-only: any test that links the log.
#pragma once

#include <string>
#include <vector>

#include "core/Log.h"

namespace testing_support {

class CapturedLog {
 public:
  CapturedLog() {
    previous_ = SetLogSink([this](const std::string& line) { lines.push_back(line); });
  }
  ~CapturedLog() { SetLogSink(previous_); }
  CapturedLog(const CapturedLog&) = delete;
  CapturedLog& operator=(const CapturedLog&) = delete;

  // A line exactly as logged.
  bool Has(const std::string& line) const {
    for (const std::string& l : lines)
      if (l == line) return true;
    return false;
  }
  // Some line holds the fragment.
  bool Contains(const std::string& fragment) const {
    for (const std::string& l : lines)
      if (l.find(fragment) != std::string::npos) return true;
    return false;
  }
  // Every line followed by CR LF, as Update.log writes them.
  std::string Text() const {
    std::string text;
    for (const std::string& l : lines) text += l + "\r\n";
    return text;
  }

  std::vector<std::string> lines;

 private:
  LogSink previous_;
};

}  // namespace testing_support
