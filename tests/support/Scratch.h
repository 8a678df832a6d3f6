// Scratch files, folders and registry keys for tests inside one Wine prefix.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace testing_support {

// A new empty folder below the temporary folder, removed with its content on
// destruction. Path() ends with a backslash.
class ScratchDir {
 public:
  explicit ScratchDir(const std::string& tag = "t");
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

bool WriteFileBytes(const std::string& path, const std::string& bytes);
// The file's bytes, or "<missing>" when it cannot be read.
std::string FileContent(const std::string& path);
bool ReadFileBytes(const std::string& path, std::string& bytes);
bool FileExists(const std::string& path);
bool DirExists(const std::string& path);
void RemoveTree(const std::string& path);  // a folder and everything in it
// The names in a folder (given with its backslash), sorted: a side copy left
// behind shows here.
std::vector<std::string> FolderNames(const std::string& folder);

// The registry view of the program under test, for KEY_WOW64_* access bits:
// the shipped 32-bit program sees HKLM\Software through Wow6432Node, the twin
// the 64-bit registry. The helpers below read and write where it does.
REGSAM ProgramRegistryView();

// Registry helpers on a root such as HKEY_LOCAL_MACHINE; "" / 0 when missing.
bool RegReadString(HKEY root, const std::string& key, const std::string& name,
                   std::string& value);
bool RegWriteString(HKEY root, const std::string& key, const std::string& name,
                    const std::string& value);
bool RegKeyExists(HKEY root, const std::string& key);
void RegDeleteTree(HKEY root, const std::string& key);

// Converts a Unix path of the build tree to its Wine drive path (Z:\...).
std::string WinePath(const std::string& unixPath);
// A file in the Windows folder ("WININIT.INI").
std::string WindowsFile(const char* name);

// Copies `sourceExe` to `target` and gives the copy a fixed file version.
bool CopyWithVersion(const std::string& sourceExe, const std::string& target, WORD major,
                     WORD minor, WORD build, WORD revision);

}  // namespace testing_support
