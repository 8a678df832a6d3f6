// Small helpers for the catalogue tests; they build natively and for Windows.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/Log.h"
#include "tests/support/CapturedLog.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace catalog_test {

// Captures what the code under test logs, for the length of a scope.
using CapturedLog = testing_support::CapturedLog;

// ASCII text as UTF-16LE code units, with or without the FF FE mark.
inline std::string Utf16(const std::string& text, bool withMark) {
  std::string out = withMark ? std::string("\xFF\xFE", 2) : std::string();
  for (char c : text) {
    out.push_back(c);
    out.push_back('\0');
  }
  return out;
}

inline std::string TempPath(const std::string& name) {
#ifdef _WIN32
  char folder[MAX_PATH + 1] = {};
  ::GetTempPathA(MAX_PATH, folder);
  return std::string(folder) + "catalog-test-" + name;
#else
  const char* folder = std::getenv("TMPDIR");
  return std::string(folder && *folder ? folder : "/tmp") + "/catalog-test-" +
         std::to_string(static_cast<long>(::getpid())) + "-" + name;
#endif
}

inline bool WriteFile(const std::string& path, const std::string& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace catalog_test
