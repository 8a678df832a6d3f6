// Folders of type 0: the data block holds the bytes as they are.
#include <cstring>

#include "install/cab/Decompressor.h"

namespace cab {
namespace {

class StoredDecompressor : public Decompressor {
 public:
  void Reset() override {}
  CodecStatus DecodeBlock(const uint8_t* in, size_t inSize, uint8_t* out,
                          size_t outSize) override {
    if (inSize != outSize || outSize > kMaxBlockBytes) return CodecStatus::kCorrupt;
    std::memcpy(out, in, outSize);
    return CodecStatus::kOk;
  }
};

}  // namespace

std::unique_ptr<Decompressor> MakeStoredDecompressor() {
  return std::make_unique<StoredDecompressor>();
}

}  // namespace cab
