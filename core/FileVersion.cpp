#include "core/FileVersion.h"

namespace {

// The fixed part of a version block sits right after its header, so a
// buffer of this size always holds it: one read of the file instead of a
// size query followed by the read (each opens and maps the file, which the
// status of every catalogue file pays for at every start of the manager).
constexpr DWORD kFixedPartBuffer = 1024;

}  // namespace

bool ReadFileVersionParts(const std::string& path, FileVersionParts& version) {
  // Aligned for the block's 32-bit fields; the function fills what fits.
  alignas(8) BYTE data[kFixedPartBuffer] = {};
  if (!::GetFileVersionInfoA(path.c_str(), 0, sizeof(data), data)) return false;
  // The block's own length, and that of its value, must lie within what was read.
  const WORD blockLength = *reinterpret_cast<const WORD*>(data);
  if (blockLength < sizeof(VS_FIXEDFILEINFO)) return false;
  VS_FIXEDFILEINFO* info = nullptr;
  UINT length = 0;
  if (!::VerQueryValueA(data, "\\", reinterpret_cast<void**>(&info), &length) || !info ||
      length < sizeof(VS_FIXEDFILEINFO))
    return false;
  const BYTE* start = reinterpret_cast<const BYTE*>(info);
  if (start < data || start + sizeof(VS_FIXEDFILEINFO) > data + sizeof(data) ||
      info->dwSignature != VS_FFI_SIGNATURE)
    return false;
  version.part[0] = HIWORD(info->dwFileVersionMS);
  version.part[1] = LOWORD(info->dwFileVersionMS);
  version.part[2] = HIWORD(info->dwFileVersionLS);
  version.part[3] = LOWORD(info->dwFileVersionLS);
  return true;
}
