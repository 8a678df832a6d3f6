#include "install/cab/Cabinet.h"

#include <cstring>

#include "install/cab/ByteOrder.h"

namespace cab {
namespace {

// CFHEADER field offsets.
constexpr size_t kHdrSignature = 0;
constexpr size_t kHdrCabinetSize = 8;
constexpr size_t kHdrFilesOffset = 16;
constexpr size_t kHdrVersionMinor = 24;
constexpr size_t kHdrVersionMajor = 25;
constexpr size_t kHdrFolderCount = 26;
constexpr size_t kHdrFileCount = 28;
constexpr size_t kHdrFlags = 30;
constexpr size_t kHdrSetId = 32;
constexpr size_t kHdrCabinetIndex = 34;
constexpr size_t kHeaderSize = 36;
// Reserve sizes, present with kFlagReservePresent.
constexpr size_t kReserveHeaderReserve = 0;
constexpr size_t kReserveFolderReserve = 2;
constexpr size_t kReserveDataReserve = 3;
constexpr size_t kReserveFieldsSize = 4;
// CFFOLDER.
constexpr size_t kFolderDataOffset = 0;
constexpr size_t kFolderDataBlocks = 4;
constexpr size_t kFolderCompression = 6;
constexpr size_t kFolderSize = 8;
// CFFILE.
constexpr size_t kFileSize = 0;
constexpr size_t kFileFolderOffset = 4;
constexpr size_t kFileFolderIndex = 8;
constexpr size_t kFileDate = 10;
constexpr size_t kFileTime = 12;
constexpr size_t kFileAttributes = 14;
constexpr size_t kFileFixedSize = 16;

constexpr uint64_t kUnknownSize = ~0ull;

bool ReadAt(CabInput& input, uint64_t pos, void* buffer, size_t size) {
  return input.Seek(pos) && input.Read(buffer, size) == size;
}

// A NUL-terminated name of at most kMaxNameBytes at `*pos`.
bool ReadName(CabInput& input, uint64_t* pos, std::string* out) {
  char buf[kMaxNameBytes + 1];
  if (!input.Seek(*pos)) return false;
  size_t got = input.Read(buf, sizeof buf);
  const void* nul = std::memchr(buf, 0, got);
  if (!nul) return false;
  size_t len = static_cast<size_t>(static_cast<const char*>(nul) - buf);
  out->assign(buf, len);
  *pos += len + 1;
  return true;
}

}  // namespace

CabError ReadCabinetHeader(CabInput& input, CabHeader* header) {
  int64_t size = input.Size();
  uint64_t fileSize = size < 0 ? kUnknownSize : static_cast<uint64_t>(size);
  uint8_t h[kHeaderSize];
  if (!input.Seek(0)) return CabError::kCorruptCabinet;
  size_t got = input.Read(h, sizeof h);
  if (got < 4 || std::memcmp(h + kHdrSignature, "MSCF", 4) != 0) return CabError::kNotACabinet;
  if (got < kHeaderSize) return CabError::kCorruptCabinet;

  CabHeader hd;
  hd.cabinetSize = ReadLe32(h + kHdrCabinetSize);
  hd.filesOffset = ReadLe32(h + kHdrFilesOffset);
  hd.versionMinor = h[kHdrVersionMinor];
  hd.versionMajor = h[kHdrVersionMajor];
  hd.folderCount = ReadLe16(h + kHdrFolderCount);
  hd.fileCount = ReadLe16(h + kHdrFileCount);
  hd.flags = ReadLe16(h + kHdrFlags);
  hd.setId = ReadLe16(h + kHdrSetId);
  hd.cabinetIndex = ReadLe16(h + kHdrCabinetIndex);
  if (hd.versionMajor != 1 || hd.versionMinor != 3) return CabError::kUnknownVersion;
  if (hd.folderCount == 0 || hd.fileCount == 0) return CabError::kCorruptCabinet;

  uint64_t pos = kHeaderSize;
  if (hd.flags & kFlagReservePresent) {
    uint8_t r[kReserveFieldsSize];
    if (!ReadAt(input, pos, r, sizeof r)) return CabError::kCorruptCabinet;
    hd.headerReserve = ReadLe16(r + kReserveHeaderReserve);
    hd.folderReserve = r[kReserveFolderReserve];
    hd.dataReserve = r[kReserveDataReserve];
    if (hd.headerReserve > kMaxHeaderReserve) return CabError::kCorruptCabinet;
    pos += kReserveFieldsSize + hd.headerReserve;
    if (pos > fileSize) return CabError::kCorruptCabinet;
  }
  if (hd.flags & kFlagPrevCabinet) {
    if (!ReadName(input, &pos, &hd.prevCabinet) || !ReadName(input, &pos, &hd.prevDisk))
      return CabError::kCorruptCabinet;
  }
  if (hd.flags & kFlagNextCabinet) {
    if (!ReadName(input, &pos, &hd.nextCabinet) || !ReadName(input, &pos, &hd.nextDisk))
      return CabError::kCorruptCabinet;
  }
  hd.foldersOffset = pos;
  // The tables must fit in the file before anything is sized by their counts.
  uint64_t folderBytes = static_cast<uint64_t>(hd.folderCount) * (kFolderSize + hd.folderReserve);
  if (pos + folderBytes > fileSize) return CabError::kCorruptCabinet;
  uint64_t minFileBytes = static_cast<uint64_t>(hd.fileCount) * (kFileFixedSize + 1);
  if (static_cast<uint64_t>(hd.filesOffset) + minFileBytes > fileSize) return CabError::kCorruptCabinet;
  *header = std::move(hd);
  return CabError::kNone;
}

CabError ReadCabinet(CabInput& input, CabinetInfo* info) {
  CabinetInfo ci;
  CabError err = ReadCabinetHeader(input, &ci.header);
  if (err != CabError::kNone) return err;
  const CabHeader& hd = ci.header;
  int64_t size = input.Size();
  ci.fileSize = size < 0 ? kUnknownSize : static_cast<uint64_t>(size);

  // Folder table, read in one piece (its size was checked against the file).
  const size_t folderStride = kFolderSize + hd.folderReserve;
  std::vector<uint8_t> table(static_cast<size_t>(hd.folderCount) * folderStride);
  if (!ReadAt(input, hd.foldersOffset, table.data(), table.size())) return CabError::kCorruptCabinet;
  ci.folders.resize(hd.folderCount);
  for (size_t i = 0; i < hd.folderCount; ++i) {
    const uint8_t* f = table.data() + i * folderStride;
    ci.folders[i].dataOffset = ReadLe32(f + kFolderDataOffset);
    ci.folders[i].dataBlocks = ReadLe16(f + kFolderDataBlocks);
    ci.folders[i].compression = ReadLe16(f + kFolderCompression);
  }

  // File table: at most fixed part plus the longest name per file, and never
  // more than what the file holds.
  uint64_t want = static_cast<uint64_t>(hd.fileCount) * (kFileFixedSize + kMaxNameBytes + 1);
  if (ci.fileSize != kUnknownSize && want > ci.fileSize - hd.filesOffset)
    want = ci.fileSize - hd.filesOffset;
  table.resize(static_cast<size_t>(want));
  if (!input.Seek(hd.filesOffset)) return CabError::kCorruptCabinet;
  table.resize(input.Read(table.data(), table.size()));
  ci.files.resize(hd.fileCount);
  size_t at = 0;
  for (size_t i = 0; i < hd.fileCount; ++i) {
    if (table.size() - at < kFileFixedSize + 1) return CabError::kCorruptCabinet;
    const uint8_t* f = table.data() + at;
    CabFile& file = ci.files[i];
    file.size = ReadLe32(f + kFileSize);
    file.folderOffset = ReadLe32(f + kFileFolderOffset);
    file.folderIndex = ReadLe16(f + kFileFolderIndex);
    file.date = ReadLe16(f + kFileDate);
    file.time = ReadLe16(f + kFileTime);
    file.attributes = ReadLe16(f + kFileAttributes);
    const uint8_t* name = f + kFileFixedSize;
    size_t room = table.size() - at - kFileFixedSize;
    if (room > kMaxNameBytes + 1) room = kMaxNameBytes + 1;
    const void* nul = std::memchr(name, 0, room);
    if (!nul) return CabError::kCorruptCabinet;
    size_t len = static_cast<size_t>(static_cast<const uint8_t*>(nul) - name);
    if (len == 0) return CabError::kCorruptCabinet;  // a member without a name
    file.name.assign(reinterpret_cast<const char*>(name), len);
    at += kFileFixedSize + len + 1;
    if (file.folderIndex < kFolderContinuedFromPrev && file.folderIndex >= hd.folderCount)
      return CabError::kCorruptCabinet;
    // A member must lie inside what a folder can hold (2^32 bytes at most).
    if (static_cast<uint64_t>(file.folderOffset) + file.size > 0xFFFFFFFFull)
      return CabError::kCorruptCabinet;
  }
  *info = std::move(ci);
  return CabError::kNone;
}

std::string CompressionName(uint16_t compression) {
  int window = (compression >> 8) & 0x1F;
  switch (compression & kCompressionMask) {
    case kCompressionNone: return "none";
    case kCompressionMszip: return "MSZIP";
    case kCompressionQuantum: return "Quantum:" + std::to_string(window);
    case kCompressionLzx: return "LZX:" + std::to_string(window);
    default: return "unknown(" + std::to_string(compression & kCompressionMask) + ")";
  }
}

}  // namespace cab
