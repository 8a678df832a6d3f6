// Command-line switches. A switch is one word of the argument vector that
// begins with "-" or "/". Flags match their name without regard to case;
// value switches are "/Name:value" with the name matched case-sensitively.
// The first matching word wins.
#pragma once

#include <string>
#include <vector>

// Pure forms, over an explicit argument vector (program name excluded).
bool HasSwitchIn(const std::vector<std::string>& args, const char* name);
std::string GetSwitchValueIn(const std::vector<std::string>& args, const char* name);

// Signed decimal as the runtime's atoi reads it: leading blanks, an optional
// sign, digits until the first non-digit; no digits give 0.
int ParseDecimal(const std::string& text);

// The process's own switches (the runtime's argument vector).
void SetProcessArguments(std::vector<std::string> args);
const std::vector<std::string>& ProcessArguments();
bool HasSwitch(const char* name);
std::string GetSwitchValue(const char* name);
