// What the worker's phases share: small helpers of the download and the
// installation phase, not meant for other callers.
#pragma once

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "catalog/Component.h"
#include "core/MessageBox.h"

namespace worker {

inline bool Contains(const std::vector<std::string>& list, const std::string& item) {
  return std::find(list.begin(), list.end(), item) != list.end();
}

inline bool SetupAndQuiet() { return IsSetupMode() && IsQuiet(); }

inline std::string LastPathElement(const std::string& location) {
  const size_t slash = location.find_last_of("\\/");
  return slash == std::string::npos ? location : location.substr(slash + 1);
}

// The component's work list: the files this run installs, then its hooks
// that are due (all of them in Setup mode), as plain file entries. The dry
// run decides by the same list.
std::vector<ComponentFile> WorkList(const Component& component);

// A cabinet that would not unpack: the user is told (unless quiet) and the
// text is what CheckCabinet found. The last error is read before anything
// else can change it.
std::string ReportBadCabinet(const std::string& cabinet, DWORD* error);

}  // namespace worker
