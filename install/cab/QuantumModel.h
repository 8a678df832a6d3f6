// Quantum's adaptive frequency models and code tables, shared by the
// decoder and by anything that must produce the same symbol statistics.
//
// Each model is a table of (symbol, cumulative frequency) kept roughly in
// order of falling frequency. cum[i] counts the frequencies of the entries
// from i to the end, so cum[0] is the total and the sentinel cum[n] is 0;
// entry i owns the interval [cum[i+1], cum[i]).
#pragma once

#include <cstdint>
#include <utility>

namespace cab {
namespace quantum {

inline constexpr int kMinWindowBits = 10;
inline constexpr int kMaxWindowBits = 21;
inline constexpr int kMaxModelEntries = 64;
inline constexpr int kLiteralModels = 4;
inline constexpr int kSelectorSymbols = 7;
inline constexpr int kLengthSymbols = 27;
inline constexpr int kMaxPositionSlots = 2 * kMaxWindowBits;

// Model adaptation: every coded symbol adds kIncrement to its frequency; past
// kRescaleLimit the table is halved, and every kReorderPeriod-th time it is
// re-sorted instead.
inline constexpr unsigned kIncrement = 8;
inline constexpr unsigned kRescaleLimit = 3800;
inline constexpr int kFirstReorder = 4;
inline constexpr int kReorderPeriod = 50;

// Selector values: 0-3 choose a literal model (64 byte values each), 4 a
// 3-byte match, 5 a 4-byte match, 6 a longer match with a coded length.
inline constexpr int kSelectMatch3 = 4;
inline constexpr int kSelectMatch4 = 5;

// Match offsets: slot base plus extra bits, plus one.
inline constexpr uint32_t kPositionBase[kMaxPositionSlots] = {
    0,     1,      2,      3,      4,      6,      8,      12,      16,     24,    32,
    48,    64,     96,     128,    192,    256,    384,    512,     768,    1024,  1536,
    2048,  3072,   4096,   6144,   8192,   12288,  16384,  24576,   32768,  49152, 65536,
    98304, 131072, 196608, 262144, 393216, 524288, 786432, 1048576, 1572864};
inline constexpr uint8_t kPositionExtra[kMaxPositionSlots] = {
    0, 0,  0,  0,  1,  1,  2,  2,  3,  3,  4,  4,  5,  5,  6,  6,  7,  7,  8,  8,  9,
    9, 10, 10, 11, 11, 12, 12, 13, 13, 14, 14, 15, 15, 16, 16, 17, 17, 18, 18, 19, 19};

// Long match lengths: slot base plus extra bits, plus five.
inline constexpr uint32_t kLongMatchBias = 5;
inline constexpr uint8_t kLengthBase[kLengthSymbols] = {0,  1,  2,  3,   4,   5,   6,   8,   10,
                                                        12, 14, 18, 22,  26,  30,  38,  46,  54,
                                                        62, 78, 94, 110, 126, 158, 190, 222, 254};
inline constexpr uint8_t kLengthExtra[kLengthSymbols] = {0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2,
                                                         3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};

struct Model {
  int entries = 0;
  int reorderIn = 0;
  uint16_t sym[kMaxModelEntries];
  uint16_t cum[kMaxModelEntries + 1];

  void Init(int firstSymbol, int count) {
    entries = count;
    reorderIn = kFirstReorder;
    for (int i = 0; i <= count; ++i) {
      if (i < count) sym[i] = static_cast<uint16_t>(firstSymbol + i);
      cum[i] = static_cast<uint16_t>(count - i);
    }
  }

  // Entry `index` was just coded.
  void Update(int index) {
    for (int i = 0; i <= index; ++i) cum[i] = static_cast<uint16_t>(cum[i] + kIncrement);
    if (cum[0] > kRescaleLimit) Rescale();
  }

  void Rescale() {
    if (--reorderIn > 0) {
      // Halve, keeping every entry's frequency at least one.
      for (int i = entries - 1; i >= 0; --i) {
        cum[i] = static_cast<uint16_t>(cum[i] >> 1);
        if (cum[i] <= cum[i + 1]) cum[i] = static_cast<uint16_t>(cum[i + 1] + 1);
      }
      return;
    }
    reorderIn = kReorderPeriod;
    // Plain frequencies, halved rounding up, then the entries sorted by
    // falling frequency. The exchange order decides how ties fall, and the
    // encoder made the same moves, so it must stay exactly this one.
    uint16_t freq[kMaxModelEntries];
    for (int i = 0; i < entries; ++i)
      freq[i] = static_cast<uint16_t>((cum[i] - cum[i + 1] + 1) >> 1);
    for (int i = 0; i + 1 < entries; ++i) {
      for (int j = i + 1; j < entries; ++j) {
        if (freq[i] < freq[j]) {
          std::swap(freq[i], freq[j]);
          std::swap(sym[i], sym[j]);
        }
      }
    }
    cum[entries] = 0;
    for (int i = entries - 1; i >= 0; --i) cum[i] = static_cast<uint16_t>(cum[i + 1] + freq[i]);
  }
};

// Every model a folder uses, as they stand at the start of a folder.
struct ModelSet {
  Model literal[kLiteralModels];
  Model match3, match4, longPosition, longLength, selector;

  void Init(int windowBits) {
    const int slots = 2 * windowBits;
    for (int i = 0; i < kLiteralModels; ++i) literal[i].Init(i * 64, 64);
    match3.Init(0, slots < 24 ? slots : 24);
    match4.Init(0, slots < 36 ? slots : 36);
    longPosition.Init(0, slots);
    longLength.Init(0, kLengthSymbols);
    selector.Init(0, kSelectorSymbols);
  }
};

}  // namespace quantum
}  // namespace cab
