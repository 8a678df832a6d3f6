// Whole cabinet decoder: bytes -> container -> every codec. Output is
// discarded; decoded bytes are bounded so that a tiny input claiming a huge
// folder cannot make a run slow. The input's "next cabinet" is the input
// itself, which exercises the set checks (index and set id) as well.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "install/cab/CabDecoder.h"
#include "install/cab/MemberName.h"

namespace {

class Discard : public cab::CabCallbacks {
 public:
  Discard(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  cab::MemberAction OpenMember(const cab::CabFile& file, uint16_t) override {
    cab::IsSafeMemberName(file.name);
    return cab::MemberAction::kWrite;
  }
  bool WriteMember(const uint8_t* data, size_t size) override {
    // Touch the bytes so that reads of uninitialised output show up.
    for (size_t i = 0; i < size; i += 4096) sink_ ^= data[i];
    return true;
  }
  bool CloseMember(const cab::CabFile&) override { return true; }
  std::unique_ptr<cab::CabInput> OpenNextCabinet(const cab::CabHeader&) override {
    if (++opened_ > 2) return nullptr;
    return std::make_unique<cab::MemoryCabInput>(data_, size_);
  }

 private:
  const uint8_t* data_;
  size_t size_;
  int opened_ = 0;
  volatile uint8_t sink_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Discard cb(data, size);
  cab::DecodeOptions options;
  options.maxDecodedBytes = 64u << 20;
  cab::DecodeCabinetSet(std::make_unique<cab::MemoryCabInput>(data, size), cb, options);
  return 0;
}
