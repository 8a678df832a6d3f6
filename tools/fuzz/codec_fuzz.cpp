// One codec fed raw data blocks: the first bytes choose the window size and
// the block sizes; the rest is cut into blocks handed in one after another,
// as a folder's blocks are.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "install/cab/Decompressor.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
#if defined(FUZZ_LZX)
  std::unique_ptr<cab::Decompressor> codec = cab::MakeLzxDecompressor(15 + data[0] % 7);
#elif defined(FUZZ_QUANTUM)
  std::unique_ptr<cab::Decompressor> codec = cab::MakeQuantumDecompressor(10 + data[0] % 12);
#else
  std::unique_ptr<cab::Decompressor> codec = cab::MakeMszipDecompressor();
#endif
  uint8_t sizes = data[1];
  data += 2;
  size -= 2;
  static std::vector<uint8_t> out(cab::kMaxBlockBytes);
  // Up to 8 blocks; each takes an even share of the input.
  int blocks = 1 + (sizes & 7);
  size_t share = size / static_cast<size_t>(blocks);
  for (int i = 0; i < blocks; ++i) {
    size_t len = i + 1 == blocks ? size : share;
    // Full frames except, when asked, a short last one.
    size_t outSize = (i + 1 == blocks && (sizes & 8)) ? (len * 3) % cab::kMaxBlockBytes
                                                       : cab::kMaxBlockBytes;
    if (codec->DecodeBlock(data, len, out.data(), outSize) != cab::CodecStatus::kOk) break;
    data += len;
    size -= len;
  }
  return 0;
}
