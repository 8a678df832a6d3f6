#include "core/SafeName.h"

// Windows opens a device, not a file, for these names in any folder, with
// any extension ("nul.txt") and in any case.
bool IsDeviceName(const std::string& part) {
  std::string base = part.substr(0, part.find('.'));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  for (char& c : base)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  if (base == "CON" || base == "NUL" || base == "AUX" || base == "PRN" || base == "CONIN$" ||
      base == "CONOUT$")
    return true;
  return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
         base[3] >= '1' && base[3] <= '9';
}

bool IsSafeMemberName(const std::string& name) {
  if (name.empty()) return false;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find_first_of("\\/", start);
    if (end == std::string::npos) end = name.size();
    // An empty part: a leading separator, a UNC prefix, doubled or trailing ones.
    if (end == start) return false;
    bool onlyDotsAndSpaces = true;
    for (size_t i = start; i < end; ++i) {
      unsigned char c = static_cast<unsigned char>(name[i]);
      if (c < 0x20 || c == ':') return false;
      if (c != '.' && c != ' ') onlyDotsAndSpaces = false;
    }
    // Windows trims trailing dots and spaces, so "..." and ". ." mean ".."
    // or "."; none of these names a file.
    if (onlyDotsAndSpaces) return false;
    if (IsDeviceName(name.substr(start, end - start))) return false;
    start = end + 1;
  }
  return true;
}

