// A small Quantum encoder for tests and benchmarks: it drives the codec's own
// models through an arithmetic encoder and places the extra bits where the
// decoder reads them. Tokens come either from a test's own list or from a
// plain greedy matcher over real data.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "install/cab/QuantumModel.h"

namespace cabtest {

struct QuantumToken {
  uint32_t offset = 0;  // 0 for a literal
  uint32_t length = 0;
  uint8_t byte = 0;
};
using QuantumTokens = std::vector<QuantumToken>;

inline QuantumToken QLiteral(uint8_t b) { return QuantumToken{0, 1, b}; }
inline QuantumToken QMatch(uint32_t offset, uint32_t length) {
  return QuantumToken{offset, length, 0};
}

class QuantumEncoder {
 public:
  explicit QuantumEncoder(int windowBits);

  // Whether the models of this window size can express `t`.
  bool CanCode(const QuantumToken& t) const;

  // One frame (one data block): the coder starts afresh, the models go on.
  std::vector<uint8_t> Frame(const QuantumTokens& tokens);

 private:
  void Token(const QuantumToken& t);
  void Symbol(cab::quantum::Model& m, int symbol);
  void Emit(uint32_t bit);
  void Raw(uint32_t value, int n);
  std::vector<uint8_t> Merge() const;

  cab::quantum::ModelSet m_;
  uint32_t low_ = 0, high_ = 0xFFFF;
  int pending_ = 0;
  size_t shifts_ = 0;
  std::vector<uint8_t> coder_;                    // coder bits, one per byte
  std::vector<std::pair<size_t, uint32_t>> raw_;  // (coder bit it precedes, bit)
};

// What the tokens mean, appended to `history` (the folder's output so far).
void ExpandQuantumTokens(const QuantumTokens& tokens, std::string& history);

// Greedy LZ77 parse of `data` into frames of at most 32 KiB, matches only
// within the window and never across a frame end.
std::vector<QuantumTokens> ParseForQuantum(const std::string& data, int windowBits);

// A whole folder's data blocks: (compressed bytes, uncompressed size).
std::vector<std::pair<std::vector<uint8_t>, uint16_t>> EncodeQuantumFolder(
    const std::string& data, int windowBits);

}  // namespace cabtest
