#include "core/Error.h"

#include "core/MessageBox.h"
#include "core/MessageTable.h"

namespace {

std::string& ResponseText() {
  static std::string text;
  return text;
}

}  // namespace

void SetLastResponseText(const std::string& text) { ResponseText() = text; }
std::string LastResponseText() { return ResponseText(); }

std::string CError::Description() const {
  std::string description = text_;
  if (code_ != 0) {
    const std::string system = SystemErrorText(code_);
    if (!system.empty()) {
      description += " " + system;
    } else {
      // Codes the system does not know come from WinInet or the server. When
      // neither has a text either, the error's own text still gets shown.
      std::string replacement = LastResponseText();
      if (replacement.empty()) replacement = WinInetErrorText(code_);
      if (!replacement.empty()) description = replacement;
    }
  }
  return description;
}

void CError::Show() const {
  const std::string description = Description();
  if (!description.empty()) AppMessageBox(description, MB_OK | MB_ICONSTOP, kCaptionInstall);
}
