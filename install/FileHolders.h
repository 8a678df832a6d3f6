// Which programs hold a file open, as far as the system can tell: the
// restart manager's list, bound at run time (systems before it, and some
// emulations of it, tell nothing; the list is then empty).
#pragma once

#include <string>
#include <vector>

// The names of the programs that have `path` open; empty when none is known.
std::vector<std::string> ProgramsHoldingFile(const std::string& path);
