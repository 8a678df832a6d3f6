// printf-style formatting into a string: the one way the program fills the
// texts of its string tables and its log lines.
#pragma once

#include <cstdarg>
#include <string>

#if defined(__GNUC__)
#define UPGRADE_PRINTF(formatIndex, firstArgument) \
  __attribute__((format(printf, formatIndex, firstArgument)))
#else
#define UPGRADE_PRINTF(formatIndex, firstArgument)
#endif

// No length limit; an unusable format gives "".
std::string FormatText(const char* format, ...) UPGRADE_PRINTF(1, 2);
std::string FormatTextV(const char* format, va_list args);

// The value of one hexadecimal digit (either case); -1 for any other byte.
inline int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
