#include "uninstall/UninstallCopy.h"

#include <sddl.h>

#include <cstdio>

#include "core/Locations.h"
#include "core/Platform.h"
#include "frame/Handle.h"

namespace {

const char kFolderPrefix[] = "Pellory Uninstall ";
constexpr int kNameTries = 16;

// Full access for the administrators and the system, handed down to what is
// made inside; nothing from the temporary folder is inherited.
const char kCopyFolderRights[] = "D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)";

bool FileIdentity(const std::string& path, BY_HANDLE_FILE_INFORMATION& info) {
  frame::ScopedFile file(::CreateFileA(path.c_str(), 0,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                       nullptr));
  return file && ::GetFileInformationByHandle(file.get(), &info);
}

}  // namespace

DWORD MakeUninstallCopyFolder(std::string& folder) {
  folder.clear();
  const std::string temp = GetTempDir();
  if (temp.empty()) return ERROR_PATH_NOT_FOUND;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  // The older family has no rights on files; the folder is then a plain one.
  // On the NT family a folder without them would be the user's to write.
  const bool secured = ::ConvertStringSecurityDescriptorToSecurityDescriptorA(
                           kCopyFolderRights, SDDL_REVISION_1, &descriptor, nullptr) != FALSE;
  if (!secured && IsNT()) {
    const DWORD error = ::GetLastError();
    return error ? error : ERROR_INVALID_SECURITY_DESCR;
  }
  SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor, FALSE};
  DWORD error = ERROR_ALREADY_EXISTS;
  for (int attempt = 0; attempt < kNameTries && error == ERROR_ALREADY_EXISTS; ++attempt) {
    LARGE_INTEGER counter = {};
    ::QueryPerformanceCounter(&counter);
    char name[96];
    std::snprintf(name, sizeof(name), "%s%lu-%08lx%08lx", kFolderPrefix,
                  static_cast<unsigned long>(::GetCurrentProcessId()),
                  static_cast<unsigned long>(counter.HighPart ^ ::GetTickCount()),
                  static_cast<unsigned long>(counter.LowPart + attempt));
    const std::string candidate = temp + name;
    // CreateDirectory fails on anything already there, a link included.
    if (::CreateDirectoryA(candidate.c_str(), secured ? &attributes : nullptr)) {
      folder = candidate + "\\";
      error = 0;
    } else {
      error = ::GetLastError();
      if (error == 0) error = ERROR_CANNOT_MAKE;
    }
  }
  if (descriptor) ::LocalFree(descriptor);
  return error;
}

bool IsUninstallCopy(const std::string& programPath) {
  const size_t slash = programPath.find_last_of('\\');
  if (slash == std::string::npos) return false;
  const std::string folder = FullLongFolderPath(programPath.substr(0, slash + 1));
  const std::string temp = FullLongFolderPath(GetTempDir());
  if (folder.empty() || temp.empty() || folder.size() <= temp.size() ||
      !IsPathInsideFolder(folder, temp))
    return false;
  const std::string name = folder.substr(temp.size(), folder.size() - temp.size() - 1);
  return name.find('\\') == std::string::npos &&
         name.compare(0, sizeof(kFolderPrefix) - 1, kFolderPrefix) == 0;
}

bool IsSameFile(const std::string& first, const std::string& second) {
  BY_HANDLE_FILE_INFORMATION a = {}, b = {};
  if (!FileIdentity(first, a) || !FileIdentity(second, b)) return false;
  return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
         a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}
