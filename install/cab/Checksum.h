// The data-block checksum of the cabinet format: 32-bit words XORed together,
// with a tail of 1-3 bytes packed high byte first.
#pragma once

#include <cstddef>
#include <cstdint>

namespace cab {

uint32_t CabChecksum(const uint8_t* data, size_t size, uint32_t seed);

// The checksum stored in a data block: over the data, then over the block's
// compressed and uncompressed size fields (4 bytes at offset 4).
uint32_t DataBlockChecksum(const uint8_t* data, size_t size, const uint8_t* sizeFields);

}  // namespace cab
