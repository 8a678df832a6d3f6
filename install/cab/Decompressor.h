// Interface between the cabinet container and its codecs. The container hands
// a codec one verified data block at a time (checksum checked, a block split
// across two cabinets already joined); codecs never see cabinet framing.
// One Decompressor decodes one folder from its first block to its last; the
// container creates a new one (or calls Reset) at the start of every folder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace cab {

// Result of a codec call. Maps onto the decoder error codes of the FDI front:
// kOk -> 0, kCorrupt -> 7 (decompressor failure), kNoMemory -> 5.
enum class CodecStatus { kOk, kCorrupt, kNoMemory };

class Decompressor {
 public:
  virtual ~Decompressor() = default;

  // Forget all state (window, models); the next block starts a new folder.
  virtual void Reset() = 0;

  // Decodes one data block. `in`/`inSize`: the block's compressed bytes.
  // `out`/`outSize`: exactly the block's uncompressed size (at most 32768;
  // only the last block of a folder may be shorter). Must never read past
  // in+inSize (a bounded implicit zero pad is fine), never write past
  // out+outSize, and must fail (not loop) on damaged input.
  virtual CodecStatus DecodeBlock(const uint8_t* in, size_t inSize,
                                  uint8_t* out, size_t outSize) = 0;
};

// Maximum uncompressed bytes in one data block.
constexpr size_t kMaxBlockBytes = 32768;
// Maximum compressed bytes in one data block (a codec's worst expansion).
constexpr size_t kMaxCompressedBlockBytes = 32768 + 6144;

// Factories; each codec lives in its own file. windowBits comes from bits
// 8-12 of the folder's compression type (Quantum 10..21, LZX 15..21).
// They return nullptr for a window size the codec does not support.
std::unique_ptr<Decompressor> MakeStoredDecompressor();              // type 0
std::unique_ptr<Decompressor> MakeMszipDecompressor();               // type 1
std::unique_ptr<Decompressor> MakeQuantumDecompressor(int windowBits);  // type 2
std::unique_ptr<Decompressor> MakeLzxDecompressor(int windowBits);   // type 3

}  // namespace cab
