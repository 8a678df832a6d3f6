#include "install/cab/HuffmanTable.h"

#include <algorithm>

namespace cab {
namespace {

uint32_t MakeEntry(uint32_t kind, uint32_t length, uint32_t value) {
  return (kind << 24) | (length << 16) | value;
}

uint32_t Reverse(uint32_t code, int bits) {
  uint32_t r = 0;
  for (int i = 0; i < bits; ++i) {
    r = (r << 1) | (code & 1);
    code >>= 1;
  }
  return r;
}

}  // namespace

bool BuildHuffmanTable(const uint8_t* lengths, int numSymbols, int rootBits,
                       bool lsbFirst, HuffmanTable* table) {
  if (numSymbols <= 0 || numSymbols > 0x10000 || rootBits < 1 || rootBits > kMaxCodeBits)
    return false;
  int count[kMaxCodeBits + 1] = {};
  for (int s = 0; s < numSymbols; ++s) {
    if (lengths[s] > kMaxCodeBits) return false;
    ++count[lengths[s]];
  }
  // Kraft check: more codes of a length than the tree has room for is corrupt.
  int64_t room = 1;
  for (int len = 1; len <= kMaxCodeBits; ++len) {
    room = (room << 1) - count[len];
    if (room < 0) return false;
  }

  // First canonical code of each length.
  uint32_t next[kMaxCodeBits + 2] = {};
  uint32_t code = 0;
  count[0] = 0;
  for (int len = 1; len <= kMaxCodeBits; ++len) {
    code = (code + count[len - 1]) << 1;
    next[len] = code;
  }

  // Symbols in canonical order (by length, then symbol value).
  int offsets[kMaxCodeBits + 2] = {};
  for (int len = 1; len <= kMaxCodeBits; ++len) offsets[len + 1] = offsets[len] + count[len];
  static thread_local std::vector<uint16_t> sorted;
  sorted.resize(static_cast<size_t>(offsets[kMaxCodeBits + 1]));
  for (int s = 0; s < numSymbols; ++s)
    if (lengths[s]) sorted[offsets[lengths[s]]++] = static_cast<uint16_t>(s);
  const size_t used = sorted.size();

  const uint32_t rootSize = 1u << rootBits;
  table->rootBits = rootBits;
  table->entries.assign(rootSize, MakeEntry(kHuffInvalid, 0, 0));

  // Walk symbols in canonical order; codes sharing a root prefix are adjacent,
  // and within a prefix group lengths only grow, so the group's last code
  // fixes the width of its second-level table.
  size_t i = 0;
  while (i < used) {
    int sym = sorted[i];
    int len = lengths[sym];
    uint32_t c = next[len]++;
    if (len <= rootBits) {
      uint32_t fill = 1u << (rootBits - len);
      if (lsbFirst) {
        uint32_t base = Reverse(c, len);
        for (uint32_t k = 0; k < fill; ++k)
          table->entries[base | (k << len)] = MakeEntry(kHuffSymbol, len, sym);
      } else {
        uint32_t base = c << (rootBits - len);
        for (uint32_t k = 0; k < fill; ++k)
          table->entries[base + k] = MakeEntry(kHuffSymbol, len, sym);
      }
      ++i;
      continue;
    }
    // A new group of long codes with the root prefix of `c`.
    uint32_t prefix = c >> (len - rootBits);
    size_t j = i;
    uint32_t probe[kMaxCodeBits + 2];
    std::copy(next, next + kMaxCodeBits + 2, probe);
    --probe[len];
    int maxLen = len;
    while (j < used) {
      int l = lengths[sorted[j]];
      uint32_t cj = probe[l];
      if ((cj >> (l - rootBits)) != prefix) break;
      ++probe[l];
      maxLen = l;
      ++j;
    }
    int subBits = maxLen - rootBits;
    uint32_t subSize = 1u << subBits;
    size_t subOffset = table->entries.size();
    if (subOffset + subSize > 0x10000) return false;
    table->entries.resize(subOffset + subSize, MakeEntry(kHuffInvalid, 0, 0));
    uint32_t rootIndex = lsbFirst ? Reverse(prefix, rootBits) : prefix;
    table->entries[rootIndex] =
        MakeEntry(kHuffLink, static_cast<uint32_t>(subBits), static_cast<uint32_t>(subOffset));
    // Fill the group, `next` advancing as in the short-code case.
    --next[len];
    for (size_t k = i; k < j; ++k) {
      int s = sorted[k];
      int l = lengths[s];
      uint32_t ck = next[l]++;
      int rest = l - rootBits;
      uint32_t low = ck & ((1u << rest) - 1);
      uint32_t fill = 1u << (subBits - rest);
      if (lsbFirst) {
        uint32_t base = Reverse(low, rest);
        for (uint32_t f = 0; f < fill; ++f)
          table->entries[subOffset + (base | (f << rest))] = MakeEntry(kHuffSymbol, l, s);
      } else {
        uint32_t base = low << (subBits - rest);
        for (uint32_t f = 0; f < fill; ++f)
          table->entries[subOffset + base + f] = MakeEntry(kHuffSymbol, l, s);
      }
    }
    i = j;
  }
  return true;
}

}  // namespace cab
