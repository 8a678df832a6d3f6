#include "catalog/TargetPath.h"

#include "catalog/IniFile.h"
#include "core/Log.h"
#include "core/SafeName.h"

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// A path component that the system resolves to the parent folder: "..", and
// "..." or ".. " too, since trailing dots and blanks are stripped from names.
bool ClimbsUp(const std::string& part) {
  size_t end = part.size();
  while (end > 0 && (part[end - 1] == '.' || part[end - 1] == ' ')) --end;
  if (end != 0) return false;
  return part.find("..") != std::string::npos;
}

}  // namespace

bool IsContainedRelativePath(const std::string& text) {
  if (!text.empty() && IsSeparator(text[0])) return false;  // rooted, UNC, \\?\ .
  if (text.find(':') != std::string::npos) return false;    // drive or stream
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = start;
    while (end < text.size() && !IsSeparator(text[end])) ++end;
    const std::string part = text.substr(start, end - start);
    if (ClimbsUp(part) || IsDeviceName(part)) return false;
    start = end + 1;
  }
  return true;
}

bool NamesEntryBelow(const std::string& text) {
  if (!IsContainedRelativePath(text)) return false;
  // Windows drops trailing dots and blanks from each name: a name left
  // empty by that is no step down.
  size_t start = 0;
  while (start < text.size()) {
    size_t end = start;
    while (end < text.size() && !IsSeparator(text[end])) ++end;
    size_t last = end;
    while (last > start && (text[last - 1] == '.' || text[last - 1] == ' ')) --last;
    if (last > start) return true;
    start = end + 1;
  }
  return false;
}

std::string ComposeTargetPath(const std::string& name, const std::string& destDir,
                              const TargetFolders& folders) {
  const bool isSys = IniNameEquals(destDir, "LDID_SYS");
  const bool isWin = IniNameEquals(destDir, "LDID_WIN");
  if (name.empty() || !IsContainedRelativePath(name) ||
      (!isSys && !isWin && !IsContainedRelativePath(destDir))) {
    LogFormat("The file name '%s' with DestDir '%s' leaves the installation folder; "
              "the entry is skipped\n",
              name.c_str(), destDir.c_str());
    return "";
  }
  if (isSys) return folders.systemDir + "\\" + name;
  if (isWin) return folders.windowsDir + "\\" + name;
  if (folders.appDir.empty()) {
    LogFormat("The installation folder is unknown; the file %s is skipped\n", name.c_str());
    return "";
  }
  if (destDir.empty()) return folders.appDir + name;
  return folders.appDir + destDir + "\\" + name;
}
