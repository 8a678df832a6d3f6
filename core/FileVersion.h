// The four parts of a file's fixed version information.
#pragma once

#include <windows.h>

#include <string>

struct FileVersionParts {
  WORD part[4] = {0, 0, 0, 0};  // major, minor, build, revision
};

// False when the file has no readable version resource.
bool ReadFileVersionParts(const std::string& path, FileVersionParts& version);
// The two ways ReadFileVersionParts takes: the plain cases from the file's
// own headers (false for all others), the rest through the system's version
// functions. Apart for comparisons.
bool ReadFileVersionPartsFromHeaders(const std::string& path, FileVersionParts& version);
bool ReadFileVersionPartsThroughSystem(const std::string& path, FileVersionParts& version);
