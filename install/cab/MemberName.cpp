#include "install/cab/MemberName.h"

namespace cab {

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
    start = end + 1;
  }
  return true;
}

}  // namespace cab
