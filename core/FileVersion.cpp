#include "core/FileVersion.h"

#include <vector>

bool ReadFileVersionParts(const std::string& path, FileVersionParts& version) {
  DWORD handle = 0;
  const DWORD size = ::GetFileVersionInfoSizeA(path.c_str(), &handle);
  if (size == 0) return false;
  std::vector<BYTE> data(size);
  if (!::GetFileVersionInfoA(path.c_str(), 0, size, data.data())) return false;
  VS_FIXEDFILEINFO* info = nullptr;
  UINT length = 0;
  if (!::VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&info), &length) || !info ||
      length < sizeof(VS_FIXEDFILEINFO))
    return false;
  version.part[0] = HIWORD(info->dwFileVersionMS);
  version.part[1] = LOWORD(info->dwFileVersionMS);
  version.part[2] = HIWORD(info->dwFileVersionLS);
  version.part[3] = LOWORD(info->dwFileVersionLS);
  return true;
}
