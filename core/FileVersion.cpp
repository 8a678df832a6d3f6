#include "core/FileVersion.h"

#include <algorithm>
#include <vector>

#include "core/PeVersion.h"
#include "core/SystemLibraries.h"
#include "frame/Handle.h"

namespace {

// The fixed part of a version block sits right after its header, so a
// buffer of this size always holds it.
constexpr DWORD kFixedPartBuffer = 1024;

}  // namespace

// A few small reads of the file's own resource directory instead of the
// system loading the file.
HeaderAnswer ReadFileVersionPartsFromHeaders(const std::string& path, FileVersionParts& version) {
  frame::ScopedFile file(::CreateFileA(path.c_str(), GENERIC_READ,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return HeaderAnswer::kAskSystem;
  LARGE_INTEGER size;
  if (!::GetFileSizeEx(file.get(), &size)) return HeaderAnswer::kAskSystem;
  const pe::ReadAt read = [&file](uint32_t offset, void* out, uint32_t size) -> uint32_t {
    OVERLAPPED at = {};
    at.Offset = offset;
    DWORD got = 0;
    return ::ReadFile(file.get(), out, size, &got, &at) ? got : 0;
  };
  std::vector<uint8_t> block;
  uint16_t parts[4];
  switch (pe::ReadVersionBlock(read, static_cast<uint64_t>(size.QuadPart), kFixedPartBuffer,
                               block)) {
    case pe::BlockResult::kNone:
      return HeaderAnswer::kNone;
    case pe::BlockResult::kAskSystem:
      return HeaderAnswer::kAskSystem;
    case pe::BlockResult::kFound:
      break;
  }
  if (!pe::FixedFileVersion(block, parts)) return HeaderAnswer::kAskSystem;
  for (int i = 0; i < 4; ++i) version.part[i] = parts[i];
  return HeaderAnswer::kVersion;
}

bool ReadFileVersionPartsThroughSystem(const std::string& path, FileVersionParts& version) {
  // Aligned for the block's 32-bit fields; the function fills what fits,
  // so one call does without the size query.
  alignas(8) BYTE data[kFixedPartBuffer] = {};
  if (!BindVersion()) return false;
  const VersionApi& api = VersionFunctions();
  if (!api.GetFileVersionInfoA(path.c_str(), 0, sizeof(data), data)) return false;
  // The block's own length, and that of its value, must lie within what was read.
  const WORD blockLength = *reinterpret_cast<const WORD*>(data);
  if (blockLength < sizeof(VS_FIXEDFILEINFO)) return false;
  VS_FIXEDFILEINFO* info = nullptr;
  UINT length = 0;
  if (!api.VerQueryValueA(data, "\\", reinterpret_cast<void**>(&info), &length) || !info ||
      length < sizeof(VS_FIXEDFILEINFO))
    return false;
  // The fixed part must lie within the block as its length gives it, and so
  // within what was read: a block that ends before it is damaged.
  const BYTE* start = reinterpret_cast<const BYTE*>(info);
  const BYTE* end = data + std::min<size_t>(blockLength, sizeof(data));
  if (start < data || start + sizeof(VS_FIXEDFILEINFO) > end ||
      info->dwSignature != VS_FFI_SIGNATURE)
    return false;
  version.part[0] = HIWORD(info->dwFileVersionMS);
  version.part[1] = LOWORD(info->dwFileVersionMS);
  version.part[2] = HIWORD(info->dwFileVersionLS);
  version.part[3] = LOWORD(info->dwFileVersionLS);
  return true;
}

bool ReadFileVersionParts(const std::string& path, FileVersionParts& version) {
  switch (ReadFileVersionPartsFromHeaders(path, version)) {
    case HeaderAnswer::kVersion:
      return true;
    case HeaderAnswer::kNone:
      return false;
    case HeaderAnswer::kAskSystem:
      break;
  }
  return ReadFileVersionPartsThroughSystem(path, version);
}
