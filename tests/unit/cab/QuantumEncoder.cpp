#include "tests/unit/cab/QuantumEncoder.h"

#include <algorithm>

namespace cabtest {
namespace {

namespace q = cab::quantum;

constexpr uint32_t kFrameBytes = 32768;
constexpr uint32_t kMaxMatch = 259;

int SlotOf(uint32_t offset) {
  for (int s = q::kMaxPositionSlots - 1; s >= 0; --s)
    if (offset - 1 >= q::kPositionBase[s]) return s;
  return 0;
}

int LengthSlotOf(uint32_t length) {
  for (int s = q::kLengthSymbols - 1; s >= 0; --s)
    if (length - q::kLongMatchBias >= q::kLengthBase[s]) return s;
  return 0;
}

}  // namespace

QuantumEncoder::QuantumEncoder(int windowBits) { m_.Init(windowBits); }

bool QuantumEncoder::CanCode(const QuantumToken& t) const {
  if (t.offset == 0) return true;
  const int slot = SlotOf(t.offset);
  if (t.length == 3) return slot < m_.match3.entries;
  if (t.length == 4) return slot < m_.match4.entries;
  return t.length >= 5 && t.length <= kMaxMatch && slot < m_.longPosition.entries;
}

std::vector<uint8_t> QuantumEncoder::Frame(const QuantumTokens& tokens) {
  low_ = 0;
  high_ = 0xFFFF;
  pending_ = 0;
  shifts_ = 0;
  coder_.clear();
  raw_.clear();
  for (const QuantumToken& t : tokens) Token(t);
  // Flush the 16-bit low register, then zeros until every bit the decoder
  // will have looked at is present.
  Emit(low_ >> 15);
  for (int i = 14; i >= 0; --i) coder_.push_back((low_ >> i) & 1);
  while (coder_.size() < shifts_ + 16) coder_.push_back(0);
  return Merge();
}

void QuantumEncoder::Token(const QuantumToken& t) {
  if (t.offset == 0) {
    Symbol(m_.selector, t.byte >> 6);
    Symbol(m_.literal[t.byte >> 6], t.byte);
    return;
  }
  const int slot = SlotOf(t.offset);
  if (t.length == 3) {
    Symbol(m_.selector, q::kSelectMatch3);
    Symbol(m_.match3, slot);
  } else if (t.length == 4) {
    Symbol(m_.selector, q::kSelectMatch4);
    Symbol(m_.match4, slot);
  } else {
    Symbol(m_.selector, 6);
    const int ls = LengthSlotOf(t.length);
    Symbol(m_.longLength, ls);
    Raw(t.length - q::kLongMatchBias - q::kLengthBase[ls], q::kLengthExtra[ls]);
    Symbol(m_.longPosition, slot);
  }
  Raw(t.offset - 1 - q::kPositionBase[slot], q::kPositionExtra[slot]);
}

void QuantumEncoder::Symbol(q::Model& m, int symbol) {
  int i = 0;
  while (m.sym[i] != symbol) ++i;
  const uint32_t range = high_ - low_ + 1;
  const uint32_t total = m.cum[0];
  high_ = low_ + m.cum[i] * range / total - 1;
  low_ = low_ + m.cum[i + 1] * range / total;
  m.Update(i);
  for (;;) {
    if (!((low_ ^ high_) & 0x8000)) {
      Emit(low_ >> 15);
    } else if ((low_ & 0x4000) && !(high_ & 0x4000)) {
      ++pending_;
      low_ &= 0x3FFF;
      high_ |= 0x4000;
    } else {
      break;
    }
    low_ = (low_ << 1) & 0xFFFF;
    high_ = ((high_ << 1) | 1) & 0xFFFF;
    ++shifts_;
  }
}

void QuantumEncoder::Emit(uint32_t bit) {
  coder_.push_back(static_cast<uint8_t>(bit));
  for (; pending_ > 0; --pending_) coder_.push_back(static_cast<uint8_t>(bit ^ 1));
}

// The decoder reads extra bits straight from the stream, after the 16 coder
// bits it holds: they go before coder bit 16 + shifts so far.
void QuantumEncoder::Raw(uint32_t value, int n) {
  for (int i = n - 1; i >= 0; --i) raw_.push_back({shifts_ + 16, (value >> i) & 1});
}

std::vector<uint8_t> QuantumEncoder::Merge() const {
  std::vector<uint8_t> bits;
  size_t r = 0;
  for (size_t k = 0; k <= coder_.size(); ++k) {
    while (r < raw_.size() && raw_[r].first == k) bits.push_back(raw_[r++].second);
    if (k < coder_.size()) bits.push_back(coder_[k]);
  }
  std::vector<uint8_t> out((bits.size() + 7) / 8, 0);
  for (size_t i = 0; i < bits.size(); ++i)
    out[i / 8] = static_cast<uint8_t>(out[i / 8] | (bits[i] << (7 - i % 8)));
  return out;
}

void ExpandQuantumTokens(const QuantumTokens& tokens, std::string& history) {
  for (const QuantumToken& t : tokens) {
    if (t.offset == 0) {
      history.push_back(static_cast<char>(t.byte));
    } else {
      for (uint32_t i = 0; i < t.length; ++i) history.push_back(history[history.size() - t.offset]);
    }
  }
}

std::vector<QuantumTokens> ParseForQuantum(const std::string& data, int windowBits) {
  const uint32_t window = 1u << windowBits;
  const QuantumEncoder probe(windowBits);
  constexpr int kHashBits = 16;
  constexpr int kChainDepth = 16;
  std::vector<int64_t> head(size_t{1} << kHashBits, -1);
  std::vector<int64_t> prev(data.size(), -1);
  auto hash = [&](size_t i) {
    uint32_t v = static_cast<uint8_t>(data[i]) | static_cast<uint8_t>(data[i + 1]) << 8 |
                 static_cast<uint32_t>(static_cast<uint8_t>(data[i + 2])) << 16;
    return (v * 2654435761u) >> (32 - kHashBits);
  };
  auto insert = [&](size_t i) {
    if (i + 2 >= data.size()) return;
    uint32_t h = hash(i);
    prev[i] = head[h];
    head[h] = static_cast<int64_t>(i);
  };

  std::vector<QuantumTokens> frames;
  size_t pos = 0;
  while (pos < data.size()) {
    const size_t frameEnd = std::min<size_t>(data.size(), pos + kFrameBytes);
    QuantumTokens f;
    while (pos < frameEnd) {
      QuantumToken best = QLiteral(static_cast<uint8_t>(data[pos]));
      const size_t limit = std::min<size_t>(kMaxMatch, frameEnd - pos);
      if (limit >= 3 && pos + 2 < data.size()) {
        int64_t cand = head[hash(pos)];
        for (int depth = 0; cand >= 0 && depth < kChainDepth; ++depth, cand = prev[cand]) {
          const size_t off = pos - static_cast<size_t>(cand);
          if (off > window) break;
          size_t len = 0;
          while (len < limit && data[cand + len] == data[pos + len]) ++len;
          QuantumToken t = QMatch(static_cast<uint32_t>(off), static_cast<uint32_t>(len));
          if (len >= 3 && len > best.length && probe.CanCode(t)) best = t;
        }
      }
      for (uint32_t i = 0; i < best.length; ++i) insert(pos + i);
      pos += best.length;
      f.push_back(best);
    }
    frames.push_back(std::move(f));
  }
  return frames;
}

std::vector<std::pair<std::vector<uint8_t>, uint16_t>> EncodeQuantumFolder(
    const std::string& data, int windowBits) {
  QuantumEncoder enc(windowBits);
  std::vector<std::pair<std::vector<uint8_t>, uint16_t>> blocks;
  for (const QuantumTokens& f : ParseForQuantum(data, windowBits)) {
    uint32_t size = 0;
    for (const QuantumToken& t : f) size += t.length;
    blocks.emplace_back(enc.Frame(f), static_cast<uint16_t>(size));
  }
  return blocks;
}

}  // namespace cabtest
