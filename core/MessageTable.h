// Texts from message tables: the system's, and those of modules that carry
// one (WinInet's). Below both the error object and the log, which use them.
#pragma once

#include <windows.h>

#include <string>

// The system message table's text for a code (default language), its first
// line break removed; "" when the system has none.
std::string SystemErrorText(DWORD code);
// The same from a module's message table (WinInet's, say); null = the system's.
std::string MessageTableText(HMODULE module, DWORD code);
// The message text WinInet holds for a code, first CR LF removed; empty if none.
std::string WinInetErrorText(DWORD code);
