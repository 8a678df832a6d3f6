#include "install/TempFileList.h"

#include <windows.h>

#include <algorithm>

namespace {

bool SamePath(const std::string& a, const std::string& b) {
  return ::lstrcmpiA(a.c_str(), b.c_str()) == 0;
}

}  // namespace

void TempFileList::Add(const std::string& path) {
  std::lock_guard<std::mutex> hold(lock_);
  if (!path.empty()) paths_.push_back(path);
}

std::vector<std::string> TempFileList::Paths() const {
  std::lock_guard<std::mutex> hold(lock_);
  return paths_;
}

bool TempFileList::Remove(const std::string& path) {
  std::lock_guard<std::mutex> hold(lock_);
  const auto before = paths_.size();
  paths_.erase(std::remove_if(paths_.begin(), paths_.end(),
                              [&](const std::string& p) { return SamePath(p, path); }),
               paths_.end());
  return paths_.size() != before;
}

bool TempFileList::Contains(const std::string& path) const {
  std::lock_guard<std::mutex> hold(lock_);
  return std::any_of(paths_.begin(), paths_.end(),
                     [&](const std::string& p) { return SamePath(p, path); });
}

void TempFileList::DeleteAll() {
  std::lock_guard<std::mutex> hold(lock_);
  // Newest first: the files in a listed folder were listed after it.
  for (auto path = paths_.rbegin(); path != paths_.rend(); ++path) {
    const DWORD attributes = ::GetFileAttributesA(path->c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) continue;
    // An extracted member may have kept a read-only attribute from elsewhere.
    ::SetFileAttributesA(path->c_str(), FILE_ATTRIBUTE_NORMAL);
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
      ::RemoveDirectoryA(path->c_str());  // only when empty: nothing unlisted is lost
    } else {
      ::DeleteFileA(path->c_str());
    }
  }
  paths_.clear();
}

TempFileList& TheTempFileList() {
  static TempFileList list;
  return list;
}
