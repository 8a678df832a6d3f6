// LZX as used in cabinets: a sliding window of 2^15..2^21 bytes, output in
// 32 KiB frames (one frame per data block), three block types (verbatim,
// aligned offset, uncompressed), three repeated offsets, and the optional
// translation of x86 CALL (E8) targets applied to each frame's output.
// Each data block's bit stream starts on a fresh 16-bit word; block state
// (type, bytes left, code lengths, repeated offsets) carries across frames.
// Every frame stands for exactly its own bytes: a match that would run over
// the end of its frame is damage (other decoders refuse it too).
#include <cstring>
#include <memory>

#include "install/cab/BitReader.h"
#include "install/cab/ByteOrder.h"
#include "install/cab/Decompressor.h"
#include "install/cab/HuffmanTable.h"

namespace cab {
namespace {

constexpr int kNumChars = 256;
constexpr int kMaxSlots = 50;
constexpr int kMainMax = kNumChars + kMaxSlots * 8;
constexpr int kLengthSyms = 249;
constexpr int kPretreeSyms = 20;
constexpr int kAlignedSyms = 8;
constexpr int kMinMatch = 2;
constexpr int kMainRootBits = 10;
constexpr int kLengthRootBits = 8;

enum BlockType { kNoBlock = 0, kVerbatim = 1, kAligned = 2, kUncompressed = 3 };

struct SlotTables {
  uint32_t base[kMaxSlots];
  uint8_t extra[kMaxSlots];
  SlotTables() {
    uint32_t b = 0;
    for (int i = 0; i < kMaxSlots; ++i) {
      int e = i < 4 ? 0 : (i - 2) / 2;
      if (e > 17) e = 17;
      extra[i] = static_cast<uint8_t>(e);
      base[i] = b;
      b += 1u << e;
    }
  }
};
const SlotTables kSlots;

int SlotsForWindow(int windowBits) {
  switch (windowBits) {
    case 15: return 30;
    case 16: return 32;
    case 17: return 34;
    case 18: return 36;
    case 19: return 38;
    case 20: return 42;
    case 21: return 50;
    default: return 0;
  }
}

class LzxDecompressor : public Decompressor {
 public:
  explicit LzxDecompressor(int windowBits)
      : windowSize_(1u << windowBits),
        numSlots_(SlotsForWindow(windowBits)),
        window_(new uint8_t[1u << windowBits]) {
    Reset();
  }

  void Reset() override {
    std::memset(mainLen_, 0, sizeof mainLen_);
    std::memset(lengthLen_, 0, sizeof lengthLen_);
    r_[0] = r_[1] = r_[2] = 1;
    headerRead_ = false;
    e8_ = false;
    e8Size_ = 0;
    blockType_ = kNoBlock;
    blockRemaining_ = 0;
    blockLength_ = 0;
    padPending_ = false;
    winPos_ = 0;
    totalOut_ = 0;
    frames_ = 0;
  }

  CodecStatus DecodeBlock(const uint8_t* in, size_t inSize, uint8_t* out,
                          size_t outSize) override {
    if (outSize > kMaxBlockBytes) return CodecStatus::kCorrupt;
    in_ = in;
    inSize_ = inSize;
    // Frames never straddle the end of the window (its size is a multiple
    // of the frame size); wrap before starting one.
    if (winPos_ + outSize > windowSize_) {
      if (winPos_ != windowSize_) return CodecStatus::kCorrupt;
      winPos_ = 0;
    }
    const uint32_t frameStart = winPos_;
    frameBase_ = winPos_;
    rawMode_ = blockType_ == kUncompressed && blockRemaining_ > 0;
    rawPos_ = 0;
    if (!rawMode_) {
      // An odd uncompressed block that ended the previous frame left its pad
      // byte at the start of this one.
      br_.Init(in, inSize, padPending_ && inSize > 0 ? 1 : 0);
      padPending_ = false;
    }

    size_t remaining = outSize;
    while (remaining > 0) {
      if (blockRemaining_ == 0 && !ReadBlockHeader()) return CodecStatus::kCorrupt;
      uint32_t run = blockRemaining_ < remaining ? blockRemaining_ : static_cast<uint32_t>(remaining);
      bool ok = blockType_ == kUncompressed ? CopyRaw(run) : DecodeRun(run);
      if (!ok) return CodecStatus::kCorrupt;
      blockRemaining_ -= run;
      remaining -= run;
      if (blockType_ == kUncompressed && blockRemaining_ == 0 && (blockLength_ & 1))
        padPending_ = true;
    }
    if (!rawMode_ && br_.Overrun()) return CodecStatus::kCorrupt;
    // Only a folder's last frame is short, so its blocks must end with it.
    if (outSize < kMaxBlockBytes && blockRemaining_ > 0) return CodecStatus::kCorrupt;
    if (rawMode_ && padPending_ && rawPos_ < inSize_) {
      ++rawPos_;
      padPending_ = false;
    }

    std::memcpy(out, window_.get() + frameStart, outSize);
    if (e8_ && frames_ < 32768 && outSize > 10) UndoE8(out, outSize);
    ++frames_;
    totalOut_ += outSize;
    return CodecStatus::kOk;
  }

 private:
  bool ReadBlockHeader() {
    if (rawMode_) {
      // Back from an uncompressed block: skip its pad byte, resume bits.
      size_t pos = rawPos_ + (padPending_ ? 1 : 0);
      if (pos > inSize_) return false;
      br_.Init(in_, inSize_, pos);
      rawMode_ = false;
    }
    padPending_ = false;

    if (!headerRead_) {
      headerRead_ = true;
      if (br_.Read(1)) {
        uint32_t hi = br_.Read(16);
        uint32_t lo = br_.Read(16);
        e8_ = true;
        e8Size_ = static_cast<int32_t>((hi << 16) | lo);
      }
    }
    blockType_ = static_cast<int>(br_.Read(3));
    uint32_t hi = br_.Read(16);
    uint32_t lo = br_.Read(8);
    blockLength_ = (hi << 8) | lo;
    blockRemaining_ = blockLength_;
    if (br_.Overrun()) return false;

    switch (blockType_) {
      case kAligned: {
        uint8_t alen[kAlignedSyms];
        for (int i = 0; i < kAlignedSyms; ++i) alen[i] = static_cast<uint8_t>(br_.Read(3));
        if (!BuildHuffmanTable(alen, kAlignedSyms, 7, false, &alignedTable_)) return false;
      }
        [[fallthrough]];
      case kVerbatim:
        if (!ReadLengths(mainLen_, 0, kNumChars) ||
            !ReadLengths(mainLen_, kNumChars, kNumChars + numSlots_ * 8) ||
            !BuildHuffmanTable(mainLen_, kNumChars + numSlots_ * 8, kMainRootBits, false,
                               &mainTable_) ||
            !ReadLengths(lengthLen_, 0, kLengthSyms) ||
            !BuildHuffmanTable(lengthLen_, kLengthSyms, kLengthRootBits, false, &lengthTable_))
          return false;
        break;
      case kUncompressed: {
        rawPos_ = br_.AlignForRaw();
        rawMode_ = true;
        if (rawPos_ + 12 > inSize_) return false;
        for (int i = 0; i < 3; ++i) r_[i] = ReadLe32(in_ + rawPos_ + 4 * i);
        rawPos_ += 12;
        break;
      }
      default:
        return false;
    }
    return rawMode_ || !br_.Overrun();
  }

  // Code lengths sent as deltas against the previous block's lengths,
  // through a 20-symbol pretree.
  bool ReadLengths(uint8_t* lens, int first, int last) {
    uint8_t pre[kPretreeSyms];
    for (int i = 0; i < kPretreeSyms; ++i) pre[i] = static_cast<uint8_t>(br_.Read(4));
    if (!BuildHuffmanTable(pre, kPretreeSyms, 8, false, &pretreeTable_)) return false;
    int x = first;
    while (x < last) {
      if (br_.Overrun()) return false;
      int z = br_.Decode(pretreeTable_);
      if (z < 0) return false;
      int run;
      int value;
      if (z == 17) {
        run = 4 + static_cast<int>(br_.Read(4));
        value = 0;
      } else if (z == 18) {
        run = 20 + static_cast<int>(br_.Read(5));
        value = 0;
      } else if (z == 19) {
        run = 4 + static_cast<int>(br_.Read(1));
        z = br_.Decode(pretreeTable_);
        if (z < 0 || z > 16) return false;
        value = (lens[x] - z + 17) % 17;
      } else {
        run = 1;
        value = (lens[x] - z + 17) % 17;
      }
      // The range's length is known, so a run past its end is damage.
      if (run > last - x) return false;
      std::memset(lens + x, value, static_cast<size_t>(run));
      x += run;
    }
    return true;
  }

  bool CopyRaw(uint32_t run) {
    if (rawPos_ > inSize_ || run > inSize_ - rawPos_) return false;
    std::memcpy(window_.get() + winPos_, in_ + rawPos_, run);
    rawPos_ += run;
    winPos_ += run;
    return true;
  }

  // Decodes `run` bytes of a verbatim or aligned block into the window.
  bool DecodeRun(uint32_t run) {
    uint8_t* window = window_.get();
    const bool aligned = blockType_ == kAligned;
    while (run > 0) {
      br_.Refill();
      if (br_.Overrun()) return false;
      int sym = br_.Decode(mainTable_);
      if (sym < 0) return false;
      if (sym < kNumChars) {
        window[winPos_++] = static_cast<uint8_t>(sym);
        --run;
        continue;
      }
      sym -= kNumChars;
      uint32_t len = static_cast<uint32_t>(sym & 7);
      int slot = sym >> 3;
      if (len == 7) {
        int extra = br_.Decode(lengthTable_);
        if (extra < 0) return false;
        len += static_cast<uint32_t>(extra);
      }
      len += kMinMatch;

      uint32_t offset;
      if (slot == 0) {
        offset = r_[0];
      } else if (slot == 1) {
        offset = r_[1];
        r_[1] = r_[0];
        r_[0] = offset;
      } else if (slot == 2) {
        offset = r_[2];
        r_[2] = r_[0];
        r_[0] = offset;
      } else {
        int extra = kSlots.extra[slot];
        offset = kSlots.base[slot] - 2;
        if (aligned && extra >= 3) {
          offset += br_.Read(extra - 3) << 3;
          int a = br_.Decode(alignedTable_);
          if (a < 0) return false;
          offset += static_cast<uint32_t>(a);
        } else {
          offset += br_.Read(extra);
        }
        r_[2] = r_[1];
        r_[1] = r_[0];
        r_[0] = offset;
      }

      // Matches end inside the frame and reach only bytes already decoded.
      uint64_t available = totalOut_ + (winPos_ - frameBase_);
      if (len > run || offset == 0 || offset > windowSize_ || offset > available) return false;
      uint8_t* dst = window + winPos_;
      if (offset <= winPos_) {
        const uint8_t* src = dst - offset;
        if (offset >= len) {
          std::memcpy(dst, src, len);
        } else {
          for (uint32_t i = 0; i < len; ++i) dst[i] = src[i];
        }
      } else {
        // The source wraps around the end of the window.
        uint32_t src = winPos_ + windowSize_ - offset;
        for (uint32_t i = 0; i < len; ++i) {
          dst[i] = window[src];
          if (++src == windowSize_) src = 0;
        }
      }
      winPos_ += len;
      run -= len;
    }
    return true;
  }

  void UndoE8(uint8_t* data, size_t size) {
    int64_t cur = static_cast<int64_t>(totalOut_);
    const int64_t limit = e8Size_;
    uint8_t* p = data;
    uint8_t* end = data + size - 10;
    while (p < end) {
      if (*p++ != 0xE8) {
        ++cur;
        continue;
      }
      int64_t abs = static_cast<int32_t>(ReadLe32(p));
      if (abs >= -cur && abs < limit) {
        int64_t rel = abs >= 0 ? abs - cur : abs + limit;
        WriteLe32(p, static_cast<uint32_t>(rel));
      }
      p += 4;
      cur += 5;
    }
  }

  const uint32_t windowSize_;
  const int numSlots_;
  std::unique_ptr<uint8_t[]> window_;
  uint32_t winPos_ = 0;
  uint32_t frameBase_ = 0;  // window position of the current frame's start
  uint64_t totalOut_ = 0;  // folder bytes produced before this frame
  uint32_t frames_ = 0;

  uint32_t r_[3];
  bool headerRead_ = false;
  bool e8_ = false;
  int32_t e8Size_ = 0;
  int blockType_ = kNoBlock;
  uint32_t blockRemaining_ = 0;
  uint32_t blockLength_ = 0;
  bool padPending_ = false;

  const uint8_t* in_ = nullptr;
  size_t inSize_ = 0;
  bool rawMode_ = false;
  size_t rawPos_ = 0;
  Msb16BitReader br_;

  uint8_t mainLen_[kMainMax];
  uint8_t lengthLen_[kLengthSyms];
  HuffmanTable mainTable_, lengthTable_, alignedTable_, pretreeTable_;
};

}  // namespace

std::unique_ptr<Decompressor> MakeLzxDecompressor(int windowBits) {
  if (SlotsForWindow(windowBits) == 0) return nullptr;
  return std::make_unique<LzxDecompressor>(windowBits);
}

}  // namespace cab
