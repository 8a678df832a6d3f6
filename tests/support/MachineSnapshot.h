// What a run could have changed, written down to compare before and after:
// every folder and file below some folders (a file with its size, time and
// content) and every key and value below some registry keys.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace testing_support {

class MachineSnapshot {
 public:
  // Every entry below `folder` (with its backslash); files whose name is in
  // `ignored` (any case) are left out.
  MachineSnapshot& Folder(const std::string& folder,
                          const std::vector<std::string>& ignored = {});
  // The key (missing is written down too), its values and all below it.
  MachineSnapshot& Key(HKEY root, const std::string& rootName, const std::string& subkey);
  // One value of a key, or that it is missing.
  MachineSnapshot& Value(HKEY root, const std::string& rootName, const std::string& subkey,
                         const std::string& name);

  const std::vector<std::string>& Lines() const { return lines_; }

 private:
  void AddFolder(const std::string& folder, const std::vector<std::string>& ignored);
  void AddKey(HKEY key, const std::string& path);

  std::vector<std::string> lines_;
};

// The lines of `after` that `before` lacks (prefixed "+ ") and the lines of
// `before` that `after` lacks ("- "): empty when nothing changed.
std::vector<std::string> SnapshotChanges(const MachineSnapshot& before,
                                         const MachineSnapshot& after);

}  // namespace testing_support
