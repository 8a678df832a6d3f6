// Helpers for the cabinet tests: reading files, decoding a cabinet held in
// memory (with its set), and building small cabinets byte by byte.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "install/cab/CabDecoder.h"
#include "install/cab/Decompressor.h"

namespace cabtest {

using Bytes = std::vector<uint8_t>;

Bytes ReadFileBytes(const std::string& path);
std::string TestDataPath(const std::string& name);

// One line of the reference cabinets' EXPECTED.txt.
struct Expected {
  std::string name;
  bool ok = false;
  int members = 0;
  uint64_t bytes = 0;
  std::string md5;
};
std::vector<Expected> ReadExpected();

struct DecodeResult {
  cab::CabError error = cab::CabError::kNone;
  int members = 0;
  uint64_t bytes = 0;
  std::string md5;
  std::vector<std::string> names;
  std::string data;  // all member bytes, kept up to 1 MiB
};

// Decodes `cabinet`; next cabinets of a set come from `set` by name.
DecodeResult DecodeBytes(const Bytes& cabinet, const std::map<std::string, Bytes>& set = {},
                         bool safeNames = false);

// A cabinet under construction. Offsets, sizes and checksums are filled in
// by Build().
struct BuildBlock {
  Bytes data;
  uint16_t uncompressed = 0;
};
struct BuildFolder {
  uint16_t compression = 0;
  std::vector<BuildBlock> blocks;
};
struct BuildFile {
  std::string name;
  uint32_t size = 0;
  uint32_t offset = 0;
  uint16_t folder = 0;
};
struct BuildCabinet {
  uint16_t flags = 0;
  uint16_t setId = 0x4242;
  uint16_t index = 0;
  std::string prev, prevDisk, next, nextDisk;
  bool reserve = false;  // reserve fields present: none in the header and folders
  uint8_t dataReserve = 0;
  std::vector<BuildFolder> folders;
  std::vector<BuildFile> files;
};
Bytes Build(const BuildCabinet& cab);

// An uncompressed cabinet of the given members, one folder, 32 KiB blocks.
Bytes StoredCabinet(const std::vector<std::pair<std::string, std::string>>& members);

// One codec call: `outSize` bytes decoded from `in`.
std::string RunCodec(cab::Decompressor& codec, const Bytes& in, size_t outSize,
                     cab::CodecStatus* status);

// Canonical Huffman codes for code lengths (0: unused), as both codecs assign them.
std::vector<uint32_t> CanonicalCodes(const std::vector<uint8_t>& lengths);

#ifndef _WIN32
// All members of `cabinet` as cabextract writes them to standard output;
// false when cabextract is missing or reports an error.
bool CabextractMembers(const Bytes& cabinet, std::string& out);
#endif

}  // namespace cabtest
