#include "tests/support/MachineSnapshot.h"

#include <algorithm>
#include <cstdio>

#include "frame/Handle.h"
#include "frame/RegKey.h"
#include "tests/support/Scratch.h"

namespace testing_support {
namespace {

std::string Hex(const unsigned char* data, size_t size) {
  std::string text;
  char byte[4];
  for (size_t i = 0; i < size; ++i) {
    std::snprintf(byte, sizeof(byte), "%02x", data[i]);
    text += byte;
  }
  return text;
}

std::string ValueLine(const std::string& path, const std::string& name, DWORD type,
                      const std::vector<unsigned char>& data) {
  return path + "\\[" + name + "] " + std::to_string(type) + ":" + Hex(data.data(), data.size());
}

// FNV-1a: two contents that differ give different lines.
std::string ContentHash(const std::string& bytes) {
  unsigned long long hash = 1469598103934665603ull;
  for (unsigned char c : bytes) hash = (hash ^ c) * 1099511628211ull;
  return std::to_string(hash);
}

}  // namespace

MachineSnapshot& MachineSnapshot::Folder(const std::string& folder,
                                         const std::vector<std::string>& ignored) {
  if (::GetFileAttributesA(folder.c_str()) == INVALID_FILE_ATTRIBUTES)
    lines_.push_back(folder + " (missing)");
  else
    AddFolder(folder, ignored);
  return *this;
}

void MachineSnapshot::AddFolder(const std::string& folder,
                                const std::vector<std::string>& ignored) {
  WIN32_FIND_DATAA found = {};
  frame::ScopedFind find(::FindFirstFileA((folder + "*").c_str(), &found));
  if (!find) return;
  std::vector<std::string> lines;
  do {
    const std::string name = found.cFileName;
    if (name == "." || name == "..") continue;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      lines_.push_back(folder + name + "\\");
      AddFolder(folder + name + "\\", ignored);
      continue;
    }
    const bool skip = std::any_of(ignored.begin(), ignored.end(), [&](const std::string& other) {
      return ::lstrcmpiA(other.c_str(), name.c_str()) == 0;
    });
    if (skip) continue;
    const unsigned long long time =
        (static_cast<unsigned long long>(found.ftLastWriteTime.dwHighDateTime) << 32) |
        found.ftLastWriteTime.dwLowDateTime;
    lines_.push_back(folder + name + " size " + std::to_string(found.nFileSizeLow) + " time " +
                     std::to_string(time) + " content " +
                     ContentHash(FileContent(folder + name)));
  } while (::FindNextFileA(find.get(), &found));
}

MachineSnapshot& MachineSnapshot::Key(HKEY root, const std::string& rootName,
                                      const std::string& subkey) {
  frame::RegKey key;
  const std::string path = rootName + "\\" + subkey;
  if (key.Open(root, subkey) != ERROR_SUCCESS) {
    lines_.push_back(path + " (missing)");
    return *this;
  }
  AddKey(key.get(), path);
  return *this;
}

void MachineSnapshot::AddKey(HKEY key, const std::string& path) {
  lines_.push_back(path);
  static char name[16384];
  std::vector<unsigned char> data(1 << 16);
  for (DWORD index = 0;; ++index) {
    DWORD nameLength = sizeof(name);
    DWORD type = 0;
    DWORD size = static_cast<DWORD>(data.size());
    if (::RegEnumValueA(key, index, name, &nameLength, nullptr, &type, data.data(), &size) !=
        ERROR_SUCCESS)
      break;
    lines_.push_back(ValueLine(path, std::string(name, nameLength), type,
                               std::vector<unsigned char>(data.begin(), data.begin() + size)));
  }
  std::vector<std::string> subkeys;
  for (DWORD index = 0;; ++index) {
    DWORD nameLength = sizeof(name);
    if (::RegEnumKeyExA(key, index, name, &nameLength, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      break;
    subkeys.emplace_back(name, nameLength);
  }
  for (const std::string& subkey : subkeys) {
    frame::RegKey child;
    if (child.Open(key, subkey) == ERROR_SUCCESS)
      AddKey(child.get(), path + "\\" + subkey);
  }
}

MachineSnapshot& MachineSnapshot::Value(HKEY root, const std::string& rootName,
                                        const std::string& subkey, const std::string& name) {
  const std::string path = rootName + "\\" + subkey;
  frame::RegKey key;
  DWORD type = 0, size = 0;
  if (key.Open(root, subkey) != ERROR_SUCCESS ||
      ::RegQueryValueExA(key.get(), name.c_str(), nullptr, &type, nullptr, &size) !=
          ERROR_SUCCESS) {
    lines_.push_back(path + "\\[" + name + "] (missing)");
    return *this;
  }
  std::vector<unsigned char> data(size);
  ::RegQueryValueExA(key.get(), name.c_str(), nullptr, &type, data.data(), &size);
  data.resize(size);
  lines_.push_back(ValueLine(path, name, type, data));
  return *this;
}

std::vector<std::string> SnapshotChanges(const MachineSnapshot& before,
                                         const MachineSnapshot& after) {
  std::vector<std::string> changes;
  const auto& old = before.Lines();
  const auto& now = after.Lines();
  for (const std::string& line : now)
    if (std::find(old.begin(), old.end(), line) == old.end()) changes.push_back("+ " + line);
  for (const std::string& line : old)
    if (std::find(now.begin(), now.end(), line) == now.end()) changes.push_back("- " + line);
  return changes;
}

}  // namespace testing_support
