// IniFile::Load: the file I/O around the pure Parse. The Windows build opens
// the file without sharing, as the catalogue must not change while it is read.
#include "catalog/IniFile.h"

#include <vector>

#include "core/Log.h"

#ifdef _WIN32
#include <windows.h>

#include "frame/Handle.h"

bool IniFile::Load(const std::string& path) {
  sections_.clear();
  index_.clear();
  frame::ScopedFile file(::CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    LogFormat("Failed to open INI file '%s'. Error %d\n", path.c_str(),
              static_cast<int>(::GetLastError()));
    return false;
  }
  LARGE_INTEGER size = {};
  if (!::GetFileSizeEx(file.get(), &size) || size.QuadPart <= 0 ||
      size.QuadPart > 0x7FFFFFFF)
    return false;
  std::vector<char> buffer;
  try {
    buffer.resize(static_cast<size_t>(size.QuadPart));
  } catch (const std::bad_alloc&) {
    return false;
  }
  DWORD read = 0;
  if (!::ReadFile(file.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr) ||
      read != buffer.size())
    return false;
  Parse(buffer.data(), buffer.size());
  return true;
}

#else
#include <cerrno>
#include <cstdio>
#include <memory>

bool IniFile::Load(const std::string& path) {
  sections_.clear();
  index_.clear();
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                       &std::fclose);
  if (!file) {
    LogFormat("Failed to open INI file '%s'. Error %d\n", path.c_str(), errno);
    return false;
  }
  std::vector<char> buffer;
  char chunk[65536];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof(chunk), file.get())) > 0)
    buffer.insert(buffer.end(), chunk, chunk + n);
  if (std::ferror(file.get()) || buffer.empty()) return false;
  Parse(buffer.data(), buffer.size());
  return true;
}
#endif
