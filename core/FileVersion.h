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
// own headers, the rest through the system's version functions. Apart for
// comparisons.
enum class HeaderAnswer {
  kVersion,    // `version` filled
  kNone,       // no readable version, and the system is not to be asked
  kAskSystem,  // not a plain case
};
HeaderAnswer ReadFileVersionPartsFromHeaders(const std::string& path, FileVersionParts& version);
bool ReadFileVersionPartsThroughSystem(const std::string& path, FileVersionParts& version);
