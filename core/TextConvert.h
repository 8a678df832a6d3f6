// The program's texts are in the system's ANSI code page; some callers need
// them as UTF-16 (Unicode registry values) or UTF-8 (SQLite's file names, the
// run summary). When the system cannot convert a text, AnsiToWide gives ""
// and AnsiToUtf8 the text as it was.
#pragma once

#include <string>

std::wstring AnsiToWide(const std::string& text);
std::string AnsiToUtf8(const std::string& text);
// `length` UTF-16 units in the system's code page.
std::string WideToAnsi(const wchar_t* text, size_t length);
