#include "app/Error.h"

#include "app/MessageBox.h"
#include "app/UpdateLog.h"
#include "frame/Handle.h"

namespace {

std::string& ResponseText() {
  static std::string text;
  return text;
}

}  // namespace

void SetLastResponseText(const std::string& text) { ResponseText() = text; }
std::string LastResponseText() { return ResponseText(); }

std::string MessageTableText(HMODULE module, DWORD code) {
  const DWORD source = module ? FORMAT_MESSAGE_FROM_HMODULE : FORMAT_MESSAGE_FROM_SYSTEM;
  char* buffer = nullptr;
  DWORD length = ::FormatMessageA(
      source | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS, module, code,
      MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPSTR>(&buffer), 0, nullptr);
  frame::ScopedLocal owner(buffer);
  if (length == 0 || !buffer) return std::string();
  std::string text(buffer, length);
  const auto lineBreak = text.find("\r\n");
  if (lineBreak != std::string::npos) text.erase(lineBreak, 2);
  return text;
}

std::string SystemErrorText(DWORD code) { return MessageTableText(nullptr, code); }

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
