// Quantum as used in cabinets: an LZ77 window of 2^10..2^21 bytes whose
// literals and matches are coded with a 16-bit arithmetic coder over adaptive
// frequency models. One data block is one frame of output: the coder starts
// afresh at every block, while the window and the models carry over from
// block to block until the folder ends.
#include <algorithm>
#include <memory>

#include "install/cab/BitReader.h"
#include "install/cab/Decompressor.h"
#include "install/cab/QuantumModel.h"

namespace cab {
namespace {

using namespace quantum;

// The coder looks 16 bits ahead, so a sound frame may end with the reader
// that far past its last byte; more than this means the block was cut short.
constexpr size_t kMaxOverreadBits = 32;

class QuantumDecompressor : public Decompressor {
 public:
  explicit QuantumDecompressor(int windowBits)
      : windowBits_(windowBits),
        windowSize_(1u << windowBits),
        window_(new uint8_t[1u << windowBits]) {
    Reset();
  }

  void Reset() override {
    m_.Init(windowBits_);
    winPos_ = 0;
    filled_ = 0;
  }

  CodecStatus DecodeBlock(const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize) override {
    if (outSize > kMaxBlockBytes) return CodecStatus::kCorrupt;
    bits_.Init(in, inSize);
    high_ = 0xFFFF;
    low_ = 0;
    code_ = bits_.Read(16);

    size_t done = 0;
    while (done < outSize) {
      const int select = DecodeSymbol(m_.selector);
      if (select < kLiteralModels) {
        Put(static_cast<uint8_t>(DecodeSymbol(m_.literal[select])), out, done);
        continue;
      }
      uint32_t length;
      int slot;
      if (select == kSelectMatch3) {
        length = 3;
        slot = DecodeSymbol(m_.match3);
      } else if (select == kSelectMatch4) {
        length = 4;
        slot = DecodeSymbol(m_.match4);
      } else {
        const int ls = DecodeSymbol(m_.longLength);
        length = kLengthBase[ls] + bits_.Read(kLengthExtra[ls]) + kLongMatchBias;
        slot = DecodeSymbol(m_.longPosition);
      }
      const uint32_t offset = kPositionBase[slot] + bits_.Read(kPositionExtra[slot]) + 1u;
      // A match may not reach before the folder's first byte, nor run past
      // the end of the frame.
      if (offset > filled_ || offset > windowSize_ || length > outSize - done)
        return CodecStatus::kCorrupt;
      uint32_t from = (winPos_ + windowSize_ - offset) & (windowSize_ - 1);
      if (from + length <= windowSize_ && winPos_ + length <= windowSize_) {
        // Neither end wraps; source and target may overlap, byte by byte.
        uint8_t* w = window_.get();
        for (uint32_t i = 0; i < length; ++i) out[done + i] = w[winPos_ + i] = w[from + i];
        done += length;
        winPos_ = (winPos_ + length) & (windowSize_ - 1);
        filled_ = std::min(windowSize_, filled_ + length);
      } else {
        for (uint32_t i = 0; i < length; ++i) {
          Put(window_[from], out, done);
          from = (from + 1) & (windowSize_ - 1);
        }
      }
    }
    if (bits_.OverreadBits() > kMaxOverreadBits) return CodecStatus::kCorrupt;
    return CodecStatus::kOk;
  }

 private:
  void Put(uint8_t b, uint8_t* out, size_t& done) {
    window_[winPos_] = b;
    winPos_ = (winPos_ + 1) & (windowSize_ - 1);
    if (filled_ < windowSize_) ++filled_;
    out[done++] = b;
  }

  // Decodes one symbol with model `m`, adapts the model and renormalises
  // the coder. low_/high_/code_ are 16-bit registers.
  int DecodeSymbol(Model& m) {
    const uint32_t range = ((high_ - low_) & 0xFFFF) + 1;
    const uint32_t total = m.cum[0];
    const uint32_t target = ((((code_ - low_) & 0xFFFF) + 1) * total - 1) / range;
    int i = 1;
    while (i < m.entries && m.cum[i] > target) ++i;
    const int symbol = m.sym[i - 1];
    high_ = (low_ + m.cum[i - 1] * range / total - 1) & 0xFFFF;
    low_ = (low_ + m.cum[i] * range / total) & 0xFFFF;
    m.Update(i - 1);

    for (;;) {
      const uint32_t diff = (low_ ^ high_) & 0xFFFF;
      if (!(diff & 0x8000)) {
        // The top n bits agree: shift them all out at once.
        const int n = diff ? __builtin_clz(diff) - 16 : 16;
        low_ = (low_ << n) & 0xFFFF;
        high_ = ((high_ << n) | ((1u << n) - 1)) & 0xFFFF;
        code_ = ((code_ << n) | bits_.Read(n)) & 0xFFFF;
        continue;
      }
      // Top bits differ: only an interval straddling the middle closely
      // (01... to 10...) is narrowed by dropping the second bit.
      if (!((low_ & 0x4000) && !(high_ & 0x4000))) break;
      code_ ^= 0x4000;
      low_ = (low_ & 0x3FFF) << 1;
      high_ = (((high_ | 0x4000) << 1) | 1) & 0xFFFF;
      code_ = ((code_ << 1) | bits_.Bit()) & 0xFFFF;
    }
    return symbol;
  }

  const int windowBits_;
  const uint32_t windowSize_;
  std::unique_ptr<uint8_t[]> window_;
  uint32_t winPos_ = 0;
  uint32_t filled_ = 0;  // bytes of the window holding folder data

  ModelSet m_;

  MsbBitReader bits_;
  uint32_t high_ = 0, low_ = 0, code_ = 0;
};

}  // namespace

std::unique_ptr<Decompressor> MakeQuantumDecompressor(int windowBits) {
  if (windowBits < kMinWindowBits || windowBits > kMaxWindowBits) return nullptr;
  return std::make_unique<QuantumDecompressor>(windowBits);
}

}  // namespace cab
