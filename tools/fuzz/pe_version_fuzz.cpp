// Fuzz target: the version reader that walks an installed file's headers and
// resource directory. The input is the whole file; the reader gets it through
// the same bounded read callback the program gives it, short at the end.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "core/PeVersion.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const pe::ReadAt read = [data, size](uint32_t offset, void* out, uint32_t wanted) -> uint32_t {
    if (offset >= size) return 0;
    const uint32_t got = static_cast<uint32_t>(
        size - offset < wanted ? size - offset : wanted);
    std::memcpy(out, data + offset, got);
    return got;
  };
  // The program's own limit, and a small one that cuts into the fixed part.
  for (uint32_t limit : {1024u, 60u}) {
    std::vector<uint8_t> block;
    const pe::BlockResult result = pe::ReadVersionBlock(read, size, limit, block);
    if (result != pe::BlockResult::kFound) {
      if (!block.empty()) __builtin_trap();
      continue;
    }
    if (block.empty() || block.size() > limit) __builtin_trap();
    uint16_t parts[4];
    pe::FixedFileVersion(block, parts);
  }
  return 0;
}
