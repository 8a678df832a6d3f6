// The four parts of a file's fixed version information.
#pragma once

#include <windows.h>

#include <string>

struct FileVersionParts {
  WORD part[4] = {0, 0, 0, 0};  // major, minor, build, revision
};

// False when the file has no readable version resource.
bool ReadFileVersionParts(const std::string& path, FileVersionParts& version);
