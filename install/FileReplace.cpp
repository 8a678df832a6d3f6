#include "install/FileReplace.h"

#include "core/Log.h"
#include "frame/Handle.h"
#include "frame/RegKey.h"

namespace {

const char kRunOnceKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";

}  // namespace

bool IsFileLocked(const std::string& path) {
  if (::GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) return false;
  frame::ScopedFile file(::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  return !file.valid();
}

LONG AddRunOnceEntry(const std::string& name, const std::string& commandLine) {
  frame::RegKey key;
  const LONG rc = key.Open(HKEY_LOCAL_MACHINE, kRunOnceKey, KEY_WRITE);
  if (rc != ERROR_SUCCESS) {
    LogFormat("Failed to open registry key '%s'. Error 0x0%x", kRunOnceKey,
              static_cast<unsigned>(rc));
    return rc;
  }
  return key.SetString(name, commandLine);
}
