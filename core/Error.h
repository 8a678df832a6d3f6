// CError: the program's exception, for operations that cannot go on. It
// carries a 32-bit code (system or WinINet) and a text; the entry and the
// thread procedures catch it and Show it.
#pragma once

#include <windows.h>

#include <string>

class CError {
 public:
  CError(DWORD code, std::string text) : code_(code), text_(std::move(text)) {}
  DWORD Code() const { return code_; }
  const std::string& Text() const { return text_; }

  // What Show displays: the text, plus the system's message for the code;
  // for codes the system does not know, the server's last response text or
  // WinInet's message instead.
  std::string Description() const;
  // Shows a non-empty description with a stop icon and caption 124.
  void Show() const;

 private:
  DWORD code_;
  std::string text_;
};

// A code that is never 0: a failed step must not read as success.
inline DWORD NonZero(DWORD code) { return code != 0 ? code : ERROR_GEN_FAILURE; }
// The calling thread's last error, never 0 after a call that failed.
inline DWORD LastErrorCode() { return NonZero(::GetLastError()); }

// The server's extended error text of the transfer layer's latest failure.
void SetLastResponseText(const std::string& text);
std::string LastResponseText();

