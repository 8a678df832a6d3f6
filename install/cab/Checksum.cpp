#include "install/cab/Checksum.h"

#include "install/cab/ByteOrder.h"

namespace cab {

uint32_t CabChecksum(const uint8_t* data, size_t size, uint32_t seed) {
  uint32_t sum = seed;
  size_t words = size / 4;
  for (size_t i = 0; i < words; ++i, data += 4) sum ^= ReadLe32(data);
  // The tail is packed in the opposite order to the words.
  uint32_t tail = 0;
  switch (size & 3) {
    case 3:
      tail |= static_cast<uint32_t>(*data++) << 16;
      [[fallthrough]];
    case 2:
      tail |= static_cast<uint32_t>(*data++) << 8;
      [[fallthrough]];
    case 1:
      tail |= *data;
      break;
    default:
      break;
  }
  return sum ^ tail;
}

uint32_t DataBlockChecksum(const uint8_t* data, size_t size, const uint8_t* sizeFields) {
  return CabChecksum(sizeFields, 4, CabChecksum(data, size, 0));
}

}  // namespace cab
