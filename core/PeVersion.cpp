#include "core/PeVersion.h"

#include <algorithm>
#include <cstring>

namespace pe {
namespace {

constexpr uint32_t kResourceDirectoryIndex = 2;
constexpr uint32_t kVersionType = 16;  // RT_VERSION
constexpr uint32_t kVersionName = 1;   // VS_VERSION_INFO
constexpr uint32_t kSubdirectoryBit = 0x80000000u;
constexpr uint32_t kFixedSignature = 0xFEEF04BDu;

uint16_t Word(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t Dword(const uint8_t* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}

bool ReadExactly(const ReadAt& read, uint32_t offset, void* out, uint32_t size) {
  return read(offset, out, size) == size;
}

struct Section {
  uint32_t virtualAddress;
  uint32_t virtualSize;
  uint32_t rawOffset;
  uint32_t rawSize;
};

// The file offset of an address in the image, or 0 when no section's data
// on disk holds `size` bytes there.
uint32_t FileOffset(const std::vector<Section>& sections, uint32_t address, uint32_t size) {
  for (const Section& s : sections) {
    const uint32_t extent = s.virtualSize ? std::min(s.virtualSize, s.rawSize) : s.rawSize;
    if (address < s.virtualAddress || address - s.virtualAddress > extent) continue;
    const uint32_t into = address - s.virtualAddress;
    if (size > extent - into) return 0;
    return s.rawOffset + into;
  }
  return 0;
}

// A resource directory at `directory` (relative to the resource section):
// its counts of named and numbered entries, which follow its 16 bytes.
bool DirectoryCounts(const ReadAt& read, uint32_t resourceBase, uint32_t resourceSize,
                     uint32_t directory, uint32_t& named, uint32_t& numbered) {
  uint8_t header[16];
  if (directory > resourceSize || resourceSize - directory < sizeof(header) ||
      !ReadExactly(read, resourceBase + directory, header, sizeof(header)))
    return false;
  named = Word(header + 12);
  numbered = Word(header + 14);
  return (resourceSize - directory - sizeof(header)) / 8 >= named + numbered;
}

// The value of the numbered entry `id` (a subdirectory's offset with the top
// bit, or a data entry's offset); numbered entries follow the named ones.
bool NumberedEntry(const ReadAt& read, uint32_t resourceBase, uint32_t resourceSize,
                   uint32_t directory, uint32_t id, uint32_t& value) {
  uint32_t named = 0, numbered = 0;
  if (!DirectoryCounts(read, resourceBase, resourceSize, directory, named, numbered) ||
      named + numbered > 4096)
    return false;
  std::vector<uint8_t> entries((named + numbered) * 8);
  if (!entries.empty() && !ReadExactly(read, resourceBase + directory + 16, entries.data(),
                                       static_cast<uint32_t>(entries.size())))
    return false;
  for (uint32_t i = named; i < named + numbered; ++i) {
    if (Dword(&entries[i * 8]) != id) continue;
    value = Dword(&entries[i * 8 + 4]);
    return true;
  }
  return false;
}

// The value of a directory's one and only entry.
bool OnlyEntry(const ReadAt& read, uint32_t resourceBase, uint32_t resourceSize,
               uint32_t directory, uint32_t& value) {
  uint32_t named = 0, numbered = 0;
  uint8_t entry[8];
  if (!DirectoryCounts(read, resourceBase, resourceSize, directory, named, numbered) ||
      named + numbered != 1 || !ReadExactly(read, resourceBase + directory + 16, entry, 8))
    return false;
  value = Dword(entry + 4);
  return true;
}

}  // namespace

BlockResult ReadVersionBlock(const ReadAt& read, uint64_t fileSize, uint32_t limit,
                             std::vector<uint8_t>& block) {
  constexpr BlockResult kAsk = BlockResult::kAskSystem;
  uint8_t dos[64];
  if (!ReadExactly(read, 0, dos, sizeof(dos)) || dos[0] != 'M' || dos[1] != 'Z') return kAsk;
  const uint32_t peOffset = Dword(dos + 60);
  // Signature, file header, and the optional header's magic.
  uint8_t head[24 + 2];
  if (peOffset > 0x10000000u || !ReadExactly(read, peOffset, head, sizeof(head)) ||
      std::memcmp(head, "PE\0\0", 4) != 0)
    return kAsk;
  const uint32_t sectionCount = Word(head + 6);
  const uint32_t optionalSize = Word(head + 20);
  const uint16_t magic = Word(head + 24);
  // Where the data directories begin in the optional header.
  uint32_t directoriesAt = 0;
  if (magic == 0x10B)
    directoriesAt = 96;
  else if (magic == 0x20B)
    directoriesAt = 112;
  else
    return kAsk;
  if (sectionCount == 0 || sectionCount > 96 || optionalSize > 0x1000 ||
      optionalSize < directoriesAt + (kResourceDirectoryIndex + 1) * 8)
    return kAsk;
  std::vector<uint8_t> optional(optionalSize);
  if (!ReadExactly(read, peOffset + 24, optional.data(), optionalSize)) return kAsk;
  const uint32_t directoryCount = Dword(&optional[directoriesAt - 4]);
  if (directoryCount <= kResourceDirectoryIndex) return kAsk;
  const uint32_t resourceAddress = Dword(&optional[directoriesAt + kResourceDirectoryIndex * 8]);
  const uint32_t resourceSize = Dword(&optional[directoriesAt + kResourceDirectoryIndex * 8 + 4]);
  if (resourceAddress == 0 || resourceSize < 16) return kAsk;

  std::vector<uint8_t> table(sectionCount * 40);
  if (!ReadExactly(read, peOffset + 24 + optionalSize, table.data(),
                   static_cast<uint32_t>(table.size())))
    return kAsk;
  std::vector<Section> sections;
  for (uint32_t i = 0; i < sectionCount; ++i) {
    const uint8_t* s = &table[i * 40];
    const Section section{Dword(s + 12), Dword(s + 8), Dword(s + 20), Dword(s + 16)};
    if (section.rawSize && uint64_t{section.rawOffset} + section.rawSize > fileSize) return kAsk;
    sections.push_back(section);
  }
  const uint32_t resourceBase = FileOffset(sections, resourceAddress, resourceSize);
  if (resourceBase == 0) return kAsk;

  // Type, then name (the only one, and numbered 1), then language (the only
  // one); the last gives the data entry.
  uint32_t names = 0, named = 0, numbered = 0, languages = 0, dataEntry = 0;
  if (!NumberedEntry(read, resourceBase, resourceSize, 0, kVersionType, names) ||
      !(names & kSubdirectoryBit) ||
      !DirectoryCounts(read, resourceBase, resourceSize, names & ~kSubdirectoryBit, named,
                       numbered) ||
      named != 0 || numbered != 1 ||
      !NumberedEntry(read, resourceBase, resourceSize, names & ~kSubdirectoryBit, kVersionName,
                     languages) ||
      !(languages & kSubdirectoryBit) ||
      !OnlyEntry(read, resourceBase, resourceSize, languages & ~kSubdirectoryBit, dataEntry) ||
      (dataEntry & kSubdirectoryBit) || dataEntry > resourceSize || resourceSize - dataEntry < 16)
    return kAsk;
  uint8_t data[16];
  if (!ReadExactly(read, resourceBase + dataEntry, data, sizeof(data))) return kAsk;
  const uint32_t dataAddress = Dword(data), dataSize = Dword(data + 4);
  const uint32_t wanted = std::min(dataSize, limit);
  if (wanted == 0) return kAsk;
  const uint32_t dataOffset = FileOffset(sections, dataAddress, wanted);
  if (dataOffset == 0) return BlockResult::kNone;
  block.resize(wanted);
  if (ReadExactly(read, dataOffset, block.data(), wanted)) return BlockResult::kFound;
  block.clear();
  return kAsk;
}

bool FixedFileVersion(const std::vector<uint8_t>& block, uint16_t parts[4]) {
  // Length, value length, type, "VS_VERSION_INFO" in UTF-16 with its zero,
  // padding to 32 bits, then the fixed part.
  static const char kKey[] = "VS_VERSION_INFO";
  constexpr size_t kKeyAt = 6, kFixedAt = 40, kFixedSize = 52;
  if (block.size() < kFixedAt + kFixedSize) return false;
  // The block's own length must take in the fixed part, its value's length
  // must be that of a fixed part.
  if (Word(&block[0]) < kFixedAt + kFixedSize || Word(&block[2]) < kFixedSize) return false;
  for (size_t i = 0; i < sizeof(kKey); ++i)
    if (Word(&block[kKeyAt + i * 2]) != static_cast<uint8_t>(kKey[i])) return false;
  const uint8_t* fixed = &block[kFixedAt];
  if (Dword(fixed) != kFixedSignature) return false;
  const uint32_t ms = Dword(fixed + 8), ls = Dword(fixed + 12);
  parts[0] = static_cast<uint16_t>(ms >> 16);
  parts[1] = static_cast<uint16_t>(ms & 0xFFFF);
  parts[2] = static_cast<uint16_t>(ls >> 16);
  parts[3] = static_cast<uint16_t>(ls & 0xFFFF);
  return true;
}

}  // namespace pe
