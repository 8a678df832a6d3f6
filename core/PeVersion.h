// Finding a program file's version block by reading its headers and resource
// directory, without loading the file: the quiet check reads the version of
// every installed file at each start of the manager, and loading each file
// (even as a data file) costs several times what a few small reads cost.
//
// Only the plain case is answered: a PE file whose resources hold exactly one
// version block (one name, one language). Anything else (another format,
// several languages, a damaged header) gives false, and the caller asks the
// system, which also knows the older formats and picks among languages.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

namespace pe {

// Reads up to `size` bytes at `offset` into `out`; the number read (fewer at
// the end of the file), or 0 on failure.
using ReadAt = std::function<uint32_t(uint32_t offset, void* out, uint32_t size)>;

enum class BlockResult {
  kFound,      // `block` holds the start of the version block
  kNone,       // the file names a version block that lies outside its sections
  kAskSystem,  // not the plain case: the system decides
};

// The start of the version block (what the system's version query returns),
// at most `limit` bytes of it. A file shorter than its sections claim is
// left to the system, which judges damaged files its own way. A block outside
// every section is no version at all: the system would copy it from beyond
// the file's image (under Wine that faults).
BlockResult ReadVersionBlock(const ReadAt& read, uint64_t fileSize, uint32_t limit,
                             std::vector<uint8_t>& block);

// The four parts of the fixed file version in a version block.
bool FixedFileVersion(const std::vector<uint8_t>& block, uint16_t parts[4]);

}  // namespace pe
