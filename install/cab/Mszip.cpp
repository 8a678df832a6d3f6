// MSZIP: each data block is "CK" followed by deflate (RFC 1951) data that
// ends with a final block. The 32 KiB history carries over from one data
// block to the next within a folder, so matches may reach into the previous
// block's output.
#include <cstring>
#include <memory>

#include "install/cab/BitReader.h"
#include "install/cab/Decompressor.h"
#include "install/cab/HuffmanTable.h"

namespace cab {
namespace {

constexpr size_t kHistory = 32768;
constexpr int kLitRootBits = 10;
constexpr int kDistRootBits = 8;
constexpr int kMaxLitCodes = 286;
constexpr int kMaxDistCodes = 30;

const uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                  31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
const uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                  2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
const uint16_t kDistBase[30] = {1,    2,    3,    4,    5,    7,     9,     13,    17,  25,
                                33,   49,   65,   97,   129,  193,   257,   385,   513, 769,
                                1025, 1537, 2049, 3073, 4097, 6145,  8193,  12289, 16385, 24577};
const uint8_t kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6,
                                6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
// Order in which the code-length code lengths are sent.
const uint8_t kClenOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

class MszipDecompressor : public Decompressor {
 public:
  MszipDecompressor() : window_(new uint8_t[2 * kHistory]) {
    // The fixed codes of block type 1, built once. Symbols 286/287 and
    // distances 30/31 get lengths so the code is complete, but are refused.
    uint8_t lens[320];
    for (int i = 0; i < 144; ++i) lens[i] = 8;
    for (int i = 144; i < 256; ++i) lens[i] = 9;
    for (int i = 256; i < 280; ++i) lens[i] = 7;
    for (int i = 280; i < 288; ++i) lens[i] = 8;
    BuildHuffmanTable(lens, 288, kLitRootBits, true, &fixedLit_);
    for (int i = 0; i < 32; ++i) lens[i] = 5;
    BuildHuffmanTable(lens, 32, kDistRootBits, true, &fixedDist_);
    Reset();
  }

  void Reset() override { histLen_ = 0; }

  CodecStatus DecodeBlock(const uint8_t* in, size_t inSize, uint8_t* out,
                          size_t outSize) override {
    if (outSize > kMaxBlockBytes || inSize < 2 || in[0] != 'C' || in[1] != 'K')
      return CodecStatus::kCorrupt;
    inStart_ = in + 2;
    br_.Init(inStart_, inSize - 2);
    uint8_t* base = window_.get() + kHistory;
    size_t pos = 0;
    bool last = false;
    while (!last) {
      br_.Refill();
      if (br_.Overrun()) return CodecStatus::kCorrupt;
      last = br_.Take(1) != 0;
      uint32_t type = br_.Take(2);
      bool ok;
      if (type == 0) {
        ok = StoredBlock(base, outSize, &pos);
      } else if (type == 1) {
        ok = Inflate(fixedLit_, fixedDist_, base, outSize, &pos);
      } else if (type == 2) {
        ok = ReadDynamicTables() && Inflate(lit_, dist_, base, outSize, &pos);
      } else {
        ok = false;
      }
      if (!ok || br_.Overrun()) return CodecStatus::kCorrupt;
    }
    if (pos != outSize) return CodecStatus::kCorrupt;
    std::memcpy(out, base, outSize);
    // Keep the last 32 KiB of history in front of the next block's output.
    std::memmove(window_.get(), window_.get() + outSize, kHistory);
    histLen_ = histLen_ + outSize > kHistory ? kHistory : histLen_ + outSize;
    return CodecStatus::kOk;
  }

 private:
  bool StoredBlock(uint8_t* base, size_t outSize, size_t* pos) {
    size_t at = br_.AlignToByte();
    size_t size = br_.Size();
    const uint8_t* data = inStart_;
    if (at + 4 > size) return false;
    uint32_t len = ReadLe16(data + at);
    uint32_t nlen = ReadLe16(data + at + 2);
    if ((len ^ 0xFFFF) != nlen) return false;
    at += 4;
    if (len > size - at || len > outSize - *pos) return false;
    std::memcpy(base + *pos, data + at, len);
    *pos += len;
    br_.Seek(at + len);
    return true;
  }

  bool ReadDynamicTables() {
    br_.Refill();
    int hlit = static_cast<int>(br_.Take(5)) + 257;
    int hdist = static_cast<int>(br_.Take(5)) + 1;
    int hclen = static_cast<int>(br_.Take(4)) + 4;
    if (hlit > kMaxLitCodes || hdist > kMaxDistCodes) return false;
    uint8_t clens[19] = {};
    for (int i = 0; i < hclen; ++i) {
      if (i % 8 == 0) br_.Refill();
      clens[kClenOrder[i]] = static_cast<uint8_t>(br_.Take(3));
    }
    if (!BuildHuffmanTable(clens, 19, 7, true, &clen_)) return false;

    uint8_t lens[kMaxLitCodes + kMaxDistCodes];
    int total = hlit + hdist;
    int n = 0;
    while (n < total) {
      br_.Refill();
      if (br_.Overrun()) return false;
      int sym = br_.Decode(clen_);
      if (sym < 0) return false;
      if (sym < 16) {
        lens[n++] = static_cast<uint8_t>(sym);
        continue;
      }
      int repeat;
      uint8_t value = 0;
      if (sym == 16) {
        if (n == 0) return false;
        value = lens[n - 1];
        repeat = 3 + static_cast<int>(br_.Take(2));
      } else if (sym == 17) {
        repeat = 3 + static_cast<int>(br_.Take(3));
      } else {
        repeat = 11 + static_cast<int>(br_.Take(7));
      }
      if (n + repeat > total) return false;
      std::memset(lens + n, value, static_cast<size_t>(repeat));
      n += repeat;
    }
    if (lens[256] == 0) return false;  // no end-of-block code
    return BuildHuffmanTable(lens, hlit, kLitRootBits, true, &lit_) &&
           BuildHuffmanTable(lens + hlit, hdist, kDistRootBits, true, &dist_);
  }

  // Decodes symbols of one compressed block into base[*pos..outSize).
  bool Inflate(const HuffmanTable& lit, const HuffmanTable& dist, uint8_t* base,
               size_t outSize, size_t* posInOut) {
    size_t pos = *posInOut;
    // History available behind `base`: the previous blocks' output.
    const size_t hist = histLen_;
    for (;;) {
      // One refill covers the longest step: 15 + 5 + 15 + 13 bits.
      br_.Refill();
      int sym = br_.Decode(lit);
      if (sym < 256) {
        if (sym < 0 || pos >= outSize) return false;
        base[pos++] = static_cast<uint8_t>(sym);
        continue;
      }
      if (sym == 256) break;
      sym -= 257;
      if (sym >= 29) return false;
      size_t len = kLengthBase[sym] + br_.Take(kLengthExtra[sym]);
      int dsym = br_.Decode(dist);
      if (dsym < 0 || dsym >= 30) return false;
      size_t d = kDistBase[dsym] + br_.Take(kDistExtra[dsym]);
      if (d > pos + hist || len > outSize - pos) return false;
      uint8_t* dst = base + pos;
      const uint8_t* src = dst - d;
      if (d >= len) {
        std::memcpy(dst, src, len);
      } else if (d == 1) {
        std::memset(dst, *src, len);
      } else {
        for (size_t i = 0; i < len; ++i) dst[i] = src[i];
      }
      pos += len;
    }
    *posInOut = pos;
    return true;
  }

  std::unique_ptr<uint8_t[]> window_;  // [0, 32K) history, [32K, 64K) this block
  size_t histLen_ = 0;
  LsbBitReader br_;
  const uint8_t* inStart_ = nullptr;
  HuffmanTable fixedLit_, fixedDist_, lit_, dist_, clen_;
};

}  // namespace

std::unique_ptr<Decompressor> MakeMszipDecompressor() {
  return std::make_unique<MszipDecompressor>();
}

}  // namespace cab
