// One canonical Huffman table builder shared by the codecs: a root lookup
// table of `rootBits` bits and, for longer codes, second-level tables sized
// per root prefix. Deflate sends codes least significant bit first, LZX most
// significant bit first; the builder lays the table out for either.
#pragma once

#include <cstdint>
#include <vector>

namespace cab {

// Entry layout: bits 0-15 symbol (or second-level offset), bits 16-23 code
// length (or second-level index width), bits 24-31 kind.
constexpr uint32_t kHuffSymbol = 0;
constexpr uint32_t kHuffLink = 1;
constexpr uint32_t kHuffInvalid = 2;

constexpr int kMaxCodeBits = 16;

struct HuffmanTable {
  int rootBits = 0;
  std::vector<uint32_t> entries;
};

inline uint32_t HuffKind(uint32_t e) { return e >> 24; }
inline uint32_t HuffLength(uint32_t e) { return (e >> 16) & 0xFF; }
inline uint32_t HuffValue(uint32_t e) { return e & 0xFFFF; }

// Builds the table from code lengths (0 = unused, at most kMaxCodeBits).
// Over-subscribed lengths fail; an incomplete code is accepted and its unused
// codes decode as kHuffInvalid, which the codec reports as corrupt data.
// Capacity grows only when a larger table is needed, so rebuilding per block
// does not allocate in the steady state.
bool BuildHuffmanTable(const uint8_t* lengths, int numSymbols, int rootBits,
                       bool lsbFirst, HuffmanTable* table);

}  // namespace cab
