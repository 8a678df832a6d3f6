// The cabinet container: the header (CFHEADER with its optional reserve
// areas and set names), the folder table (CFFOLDER) and the file table
// (CFFILE). Data blocks (CFDATA) are read by the set decoder (CabDecoder.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "install/cab/CabError.h"
#include "install/cab/CabInput.h"

namespace cab {

// Header flags.
constexpr uint16_t kFlagPrevCabinet = 0x0001;
constexpr uint16_t kFlagNextCabinet = 0x0002;
constexpr uint16_t kFlagReservePresent = 0x0004;

// Folder indices of files that span cabinets.
constexpr uint16_t kFolderContinuedFromPrev = 0xFFFD;
constexpr uint16_t kFolderContinuedToNext = 0xFFFE;
constexpr uint16_t kFolderContinuedPrevAndNext = 0xFFFF;

// Compression types (low 4 bits of the folder's type field).
constexpr uint16_t kCompressionMask = 0x000F;
constexpr uint16_t kCompressionNone = 0;
constexpr uint16_t kCompressionMszip = 1;
constexpr uint16_t kCompressionQuantum = 2;
constexpr uint16_t kCompressionLzx = 3;

// Published limits.
constexpr uint32_t kMaxHeaderReserve = 60000;
constexpr size_t kMaxNameBytes = 255;

struct CabHeader {
  uint32_t cabinetSize = 0;
  uint32_t filesOffset = 0;
  uint8_t versionMinor = 0;
  uint8_t versionMajor = 0;
  uint16_t folderCount = 0;
  uint16_t fileCount = 0;
  uint16_t flags = 0;
  uint16_t setId = 0;
  uint16_t cabinetIndex = 0;
  uint16_t headerReserve = 0;
  uint8_t folderReserve = 0;
  uint8_t dataReserve = 0;
  std::string prevCabinet, prevDisk, nextCabinet, nextDisk;
  uint64_t foldersOffset = 0;  // where the folder table starts
};

struct CabFolder {
  uint32_t dataOffset = 0;
  uint16_t dataBlocks = 0;
  uint16_t compression = 0;  // type in bits 0-3, window size in bits 8-12
};

struct CabFile {
  uint32_t size = 0;
  uint32_t folderOffset = 0;  // offset of the member in its folder's output
  uint16_t folderIndex = 0;
  uint16_t date = 0;
  uint16_t time = 0;
  uint16_t attributes = 0;
  std::string name;  // stored bytes, "\\" separated
};

struct CabinetInfo {
  CabHeader header;
  std::vector<CabFolder> folders;
  std::vector<CabFile> files;
  uint64_t fileSize = 0;
};

// Reads and checks the header only (signature, version, counts, reserve,
// names): enough to tell whether a file is a cabinet.
CabError ReadCabinetHeader(CabInput& input, CabHeader* header);

// Reads header, folder table and file table. Counts are checked against the
// real input size before anything is allocated for them.
CabError ReadCabinet(CabInput& input, CabinetInfo* info);

// Human-readable name of a folder's compression type ("MSZIP", "LZX:21").
std::string CompressionName(uint16_t compression);

}  // namespace cab
