#include "core/MessageTable.h"

#include "frame/Handle.h"

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

std::string WinInetErrorText(DWORD code) {
  HMODULE wininet = ::GetModuleHandleA("wininet.dll");
  return wininet ? MessageTableText(wininet, code) : std::string();
}
