// LZX codec on blocks from a small test-side encoder: verbatim, aligned-offset
// and uncompressed blocks, repeated offsets, every window size up to its
// highest position slot, the frame's end, the E8 translation, damaged
// streams; natively, cabextract reads the same streams too. The expected
// bytes come from a plain expansion of the same tokens. The encoder sends
// one flat code for each tree and no pretree runs: trees that change from
// block to block, long codes and runs come with the reference cabinets,
// which a real compressor made.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "install/cab/Decompressor.h"
#include "tests/unit/cab/CabTestSupport.h"

namespace {

using cabtest::Bytes;
using cab::CodecStatus;

constexpr uint32_t kFrame = 32768;
constexpr int kLengthSyms = 249;

int ExtraBits(int slot) { return slot < 4 ? 0 : std::min((slot - 2) / 2, 17); }
int SlotsForWindow(int bits) { return bits == 21 ? 50 : bits == 20 ? 42 : 30 + 2 * (bits - 15); }
uint32_t SlotBase(int slot) {
  uint32_t b = 0;
  for (int s = 0; s < slot; ++s) b += 1u << ExtraBits(s);
  return b;
}

struct Token {
  enum Kind { kLiteral, kMatch, kRepeat } kind;
  uint32_t a;    // byte, offset, or repeated-offset index
  uint32_t len;
  uint32_t Size() const { return kind == kLiteral ? 1 : len; }
};
Token Lit(uint8_t c) { return {Token::kLiteral, c, 1}; }
Token Match(uint32_t offset, uint32_t len) { return {Token::kMatch, offset, len}; }
Token Rep(uint32_t which, uint32_t len) { return {Token::kRepeat, which, len}; }

std::vector<Token> Text(const std::string& s) {
  std::vector<Token> t;
  for (char c : s) t.push_back(Lit(static_cast<uint8_t>(c)));
  return t;
}

struct Block {
  int type;  // 1 verbatim, 2 aligned offset, 3 uncompressed (literals only)
  std::vector<Token> tokens;
  uint32_t claimed = 0;       // block size sent; 0: the tokens' size
  uint32_t r[3] = {1, 1, 1};  // uncompressed blocks: the repeated offsets
};

uint32_t OutputSize(const std::vector<Block>& blocks) {
  uint32_t n = 0;
  for (const Block& b : blocks)
    for (const Token& t : b.tokens) n += t.Size();
  return n;
}

// The reference: tokens expanded one byte at a time.
std::string Expand(const std::vector<Block>& blocks) {
  std::string out;
  uint32_t r[3] = {1, 1, 1};
  for (const Block& b : blocks) {
    if (b.type == 3) std::copy(b.r, b.r + 3, r);
    for (const Token& t : b.tokens) {
      if (t.kind == Token::kLiteral) {
        out += static_cast<char>(t.a);
        continue;
      }
      // The repeated offsets move on as the format says.
      if (t.kind == Token::kMatch) {
        r[2] = r[1];
        r[1] = r[0];
        r[0] = t.a;
      } else {
        std::swap(r[0], r[t.a]);
      }
      for (uint32_t i = 0; i < t.len; ++i) out += out[out.size() - r[0]];
    }
  }
  return out;
}

// LZX bit writer: 16-bit little-endian words filled from the top bit.
class WordWriter {
 public:
  void Bits(uint32_t value, int n) {
    for (int i = n - 1; i >= 0; --i) {
      word_ = static_cast<uint16_t>(word_ | ((value >> i) & 1) << (15 - fill_));
      if (++fill_ == 16) {
        out_.insert(out_.end(), {static_cast<uint8_t>(word_), static_cast<uint8_t>(word_ >> 8)});
        word_ = 0;
        fill_ = 0;
      }
    }
  }
  void Align() { Bits(0, (16 - fill_) % 16); }
  // Before an uncompressed block: a whole word of padding when on a boundary.
  void AlignForRaw() { Bits(0, 16 - fill_); }
  void Raw(const std::string& s) { out_.insert(out_.end(), s.begin(), s.end()); }
  void Raw32(uint32_t v) {
    for (int i = 0; i < 4; ++i) out_.push_back(static_cast<uint8_t>(v >> (8 * i)));
  }
  Bytes Take() { return std::exchange(out_, {}); }

 private:
  Bytes out_;
  uint16_t word_ = 0;
  int fill_ = 0;
};

// A complete code over `n` symbols, as flat as can be.
std::vector<uint8_t> Flat(size_t n) {
  int k = 0;
  while ((size_t{1} << k) < n) ++k;
  std::vector<uint8_t> len(n, static_cast<uint8_t>(k));
  std::fill(len.begin(), len.begin() + static_cast<long>((size_t{1} << k) - n), k - 1);
  return len;
}

// Test-side encoder: blocks of tokens to one bit stream per 32 KiB frame.
class LzxEncoder {
 public:
  explicit LzxEncoder(int windowBits)
      : numSlots_(SlotsForWindow(windowBits)),
        main_(Flat(256 + numSlots_ * 8)),
        length_(Flat(kLengthSyms)),
        mainCode_(cabtest::CanonicalCodes(main_)),
        lengthCode_(cabtest::CanonicalCodes(length_)) {}

  std::vector<uint8_t> aligned = Flat(8);  // the aligned tree's lengths; a test may spoil them
  uint32_t e8Size = 0;                     // nonzero: E8 translation on with this size
  int highestSlot = 0;                     // so tests can tell the slots were reached

  std::vector<Bytes> Encode(const std::vector<Block>& blocks) {
    w_.Bits(e8Size ? 1 : 0, 1);
    if (e8Size) w_.Bits(e8Size, 32);
    for (const Block& b : blocks) EncodeBlock(b);
    if (pos_ + kFrame > nextCut_) Cut();
    return chunks_;
  }

 private:
  void EncodeBlock(const Block& b) {
    const uint32_t size = b.claimed ? b.claimed : OutputSize({b});
    w_.Bits(static_cast<uint32_t>(b.type), 3);
    w_.Bits(size, 24);
    if (b.type == 3) return EncodeRaw(b);
    if (b.type == 2)
      for (uint8_t l : aligned) w_.Bits(l, 3);
    SendLengths(main_, 0, 256);
    SendLengths(main_, 256, main_.size());
    SendLengths(length_, 0, kLengthSyms);
    sent_ = true;
    const std::vector<uint32_t> alignedCode = cabtest::CanonicalCodes(aligned);
    for (const Token& t : b.tokens) {
      if (t.kind == Token::kLiteral) {
        w_.Bits(mainCode_[t.a], main_[t.a]);
        Advance(1);
        continue;
      }
      const uint32_t header = std::min<uint32_t>(t.len - 2, 7);
      int slot = static_cast<int>(t.a);
      uint32_t extra = 0;
      if (t.kind == Token::kMatch) {
        for (slot = 3; slot + 1 < 50 && SlotBase(slot + 1) <= t.a + 2;) ++slot;
        extra = t.a + 2 - SlotBase(slot);
      }
      EXPECT_LT(slot, numSlots_) << "offset " << t.a << " beyond the window";
      highestSlot = std::max(highestSlot, slot);
      const size_t sym = 256 + static_cast<size_t>(slot) * 8 + header;
      w_.Bits(mainCode_[sym], main_[sym]);
      if (header == 7) w_.Bits(lengthCode_[t.len - 9], length_[t.len - 9]);
      const int bits = t.kind == Token::kMatch ? ExtraBits(slot) : 0;
      if (b.type == 2 && bits >= 3) {
        // Aligned blocks send the low three offset bits through their tree.
        w_.Bits(extra >> 3, bits - 3);
        w_.Bits(alignedCode[extra & 7], aligned[extra & 7]);
      } else {
        w_.Bits(extra, bits);
      }
      Advance(t.len);
    }
  }

  // An uncompressed block; its bytes count towards the frames like any.
  void EncodeRaw(const Block& b) {
    w_.AlignForRaw();
    for (uint32_t r : b.r) w_.Raw32(r);
    for (const Token& t : b.tokens) {
      w_.Raw(std::string(1, static_cast<char>(t.a)));
      Advance(1);
    }
    if (b.tokens.size() & 1) w_.Raw(std::string(1, '\0'));
  }

  // Code lengths [first, last) as deltas against the lengths sent before
  // (none at first), one code each of a fixed pretree: 0-11 four bits,
  // 12-19 five.
  void SendLengths(const std::vector<uint8_t>& len, size_t first, size_t last) {
    static const std::vector<uint8_t> kPre = {4, 4, 4, 4, 4, 4, 4, 4, 4, 4,
                                              4, 4, 5, 5, 5, 5, 5, 5, 5, 5};
    static const std::vector<uint32_t> kCode = cabtest::CanonicalCodes(kPre);
    for (uint8_t l : kPre) w_.Bits(l, 4);
    for (size_t x = first; x < last; ++x) {
      const int delta = sent_ ? 0 : (17 - len[x]) % 17;
      w_.Bits(kCode[delta], kPre[delta]);
    }
  }

  // Each frame's bits end on a word boundary; a match that runs over a frame
  // end belongs to the frame it starts in.
  void Advance(uint32_t n) {
    for (pos_ += n; pos_ >= nextCut_; nextCut_ += kFrame) Cut();
  }
  void Cut() {
    w_.Align();
    chunks_.push_back(w_.Take());
  }

  const int numSlots_;
  const std::vector<uint8_t> main_, length_;
  const std::vector<uint32_t> mainCode_, lengthCode_;
  bool sent_ = false;
  WordWriter w_;
  std::vector<Bytes> chunks_;
  uint32_t pos_ = 0;
  uint32_t nextCut_ = kFrame;
};

struct Decoded {
  CodecStatus status = CodecStatus::kOk;
  std::string data;
};

// Feeds the frames to the codec, 32 KiB each but the last.
Decoded DecodeFrames(int windowBits, const std::vector<Bytes>& chunks, uint32_t total) {
  Decoded r;
  auto d = cab::MakeLzxDecompressor(windowBits);
  for (uint32_t i = 0; i * kFrame < total; ++i) {
    const uint32_t size = std::min(kFrame, total - i * kFrame);
    static const Bytes kNone;
    const Bytes& in = i < chunks.size() ? chunks[i] : kNone;
    std::string out(size, '\0');
    r.status = d->DecodeBlock(in.data(), in.size(), reinterpret_cast<uint8_t*>(&out[0]), size);
    if (r.status != CodecStatus::kOk) return r;
    r.data += out;
  }
  return r;
}

// Decodes `blocks` and expects exactly `want` (the plain expansion if
// empty); natively, cabextract must read the same frames in a cabinet too.
void ExpectDecodes(int windowBits, LzxEncoder& enc, const std::vector<Block>& blocks,
                   std::string want = "", bool cabextract = false) {
  if (want.empty()) want = Expand(blocks);
  const std::vector<Bytes> chunks = enc.Encode(blocks);
  const Decoded got = DecodeFrames(windowBits, chunks, static_cast<uint32_t>(want.size()));
  ASSERT_EQ(got.status, CodecStatus::kOk);
  // Report the first differing byte rather than two megabytes.
  auto diff = std::mismatch(want.begin(), want.end(), got.data.begin());
  EXPECT_TRUE(diff.first == want.end()) << "first difference at " << (diff.first - want.begin());
#ifndef _WIN32
  // cabextract knows nothing of this encoder: agreeing with it checks the
  // encoder's reading of the format, and so what the decoder is tested against.
  if (!cabextract) return;
  cabtest::BuildCabinet cab;
  cab.folders.push_back({static_cast<uint16_t>(3 | (windowBits << 8)), {}});
  for (size_t i = 0; i < chunks.size(); ++i)
    cab.folders[0].blocks.push_back(
        {chunks[i], static_cast<uint16_t>(std::min<size_t>(kFrame, want.size() - i * kFrame))});
  cab.files.push_back({"lzx.bin", static_cast<uint32_t>(want.size()), 0, 0});
  std::string theirs;
  EXPECT_TRUE(cabtest::CabextractMembers(cabtest::Build(cab), theirs))
      << "cabextract is missing (scripts/bootstrap installs it) or refuses the stream";
  EXPECT_TRUE(theirs == want) << "cabextract disagrees with the test encoder";
#else
  (void)cabextract;
#endif
}

struct Lcg {
  uint32_t s;
  uint32_t Next(uint32_t n) {
    s = s * 1103515245u + 12345u;
    return (s >> 8) % n;
  }
};

// Literals, matches at any reachable offset up to `maxOffset` and repeated
// offsets in blocks of `perBlock` tokens, verbatim and aligned in turn, for
// at least `size` bytes; many matches end right at a frame's end, none runs
// over it.
std::vector<Block> Mixed(uint32_t seed, uint32_t size, uint32_t maxOffset, size_t perBlock) {
  Lcg g{seed};
  std::vector<Block> blocks;
  for (uint32_t n = 0; n < size;) {
    if (blocks.empty() || blocks.back().tokens.size() == perBlock)
      blocks.push_back({1 + static_cast<int>(blocks.size() % 2), {}});
    uint32_t pick = n < 64 ? 0 : g.Next(10);
    const uint32_t len = std::min(g.Next(4) == 0 ? 9 + g.Next(249) : 2 + g.Next(7),
                                  kFrame - n % kFrame);
    if (len < 2) pick = 0;
    const Token k = pick < 3   ? Lit(static_cast<uint8_t>(g.Next(256)))
                    : pick < 7 ? Match(1 + g.Next(std::min(n, maxOffset)), len)
                               : Rep(g.Next(3), len);
    blocks.back().tokens.push_back(k);
    n += k.Size();
  }
  return blocks;
}

// R0..R2 start at 1; an explicit match pushes them down, R1 and R2 swap with
// R0 when used, R0 stays; an uncompressed block sets all three for the next,
// whose trees are still sent against the ones before it.
TEST(Lzx, RepeatedOffsetsByHand) {
  std::vector<Token> t = Text("0123456789");
  t.insert(t.end(), {Match(10, 2), Match(5, 2), Rep(1, 2), Rep(2, 2), Rep(0, 3), Rep(2, 2)});
  const std::vector<Token> after = {Rep(0, 2), Rep(1, 2), Rep(2, 3), Lit('7')};
  for (int type : {1, 2}) {
    SCOPED_TRACE(type);
    LzxEncoder enc(15);
    ExpectDecodes(15, enc, {{type, t}, {3, Text("abcdefgh"), 0, {8, 3, 1}}, {type, after}},
                  "0123456789" "01" "78" "45" "55" "555" "17" "abcdefgh" "ab" "ha" "aaa" "7");
  }
}

// Over more output than the window holds, for every window size, in small
// blocks and large ones; then matches from the far end of the window through
// the highest position slot.
TEST(Lzx, MixedStreamsWrapEveryWindow) {
  for (int bits = 15; bits <= 21; ++bits) {
    SCOPED_TRACE("window 2^" + std::to_string(bits));
    const uint32_t window = 1u << bits;
    std::vector<Block> blocks = Mixed(bits, window + 3 * kFrame, window - 3, bits == 15 ? 40 : 3000);
    std::vector<Token>& tail = blocks.back().tokens;
    for (uint32_t n = OutputSize(blocks); n % kFrame; ++n) tail.push_back(Lit('-'));
    for (uint32_t offset : {window - 3, window - 4, window / 2 + 12345, window - 100000 % window})
      tail.insert(tail.end(), {Match(offset, 50), Lit('.')});
    tail.push_back(Rep(1, 40));
    LzxEncoder enc(bits);
    ExpectDecodes(bits, enc, blocks, "", true);
    EXPECT_EQ(enc.highestSlot, SlotsForWindow(bits) - 1);
  }
}

// E8 translation on, size 1000: an absolute CALL target t at output offset p
// reads back as the relative t - p, also when the call bytes come from a
// match; a target at or beyond the size, and a call in the frame's last 10
// bytes, stay as they are.
TEST(Lzx, E8TranslationOfCallTargets) {
  std::vector<Token> t = Text(std::string("abc\xE8\x67\x00\x00\x00", 8));  // at 3, target 103
  t.push_back(Match(8, 8));                                                // again at 11
  for (const Token& k : Text(std::string("\xE8\xE8\x03\x00\x00" "0123456789" "\xE8\x05\x00\x00\x00zzzz", 24)))
    t.push_back(k);  // target 1000; a call in the last 10 bytes
  const std::vector<Block> blocks = {{1, t}};
  std::string want = Expand(blocks);
  want[4] = 100;
  want[12] = static_cast<char>(103 - 11);
  LzxEncoder enc(16);
  enc.e8Size = 1000;
  ExpectDecodes(16, enc, blocks, want);
}

// An uncompressed block longer than a frame: the next frame carries the
// rest of it, its pad byte, then a new block.
TEST(Lzx, UncompressedBlockSpansFrames) {
  LzxEncoder enc(15);
  ExpectDecodes(15, enc, {{3, Text(std::string(kFrame + 3, 'a'))}, {1, Text("ef")}}, "", true);
}

// Whether the codec refuses `blocks` once encoded (with an over-subscribed
// aligned tree if asked), the frames changed by `cut`; the frames hold
// `total` bytes (0: what the tokens make).
bool Refused(const std::vector<Block>& blocks, uint32_t total = 0, bool badAligned = false,
             void (*cut)(std::vector<Bytes>&) = nullptr) {
  LzxEncoder enc(16);
  if (badAligned) enc.aligned.assign(8, 1);
  std::vector<Bytes> chunks = enc.Encode(blocks);
  if (cut) cut(chunks);
  return DecodeFrames(16, chunks, total ? total : OutputSize(blocks)).status ==
         CodecStatus::kCorrupt;
}

TEST(Lzx, DamagedStreamsFail) {
  // A frame stands for exactly its own bytes: a match may end with the
  // frame (the window streams have many) but not run over its end.
  std::vector<Token> frame = {Lit('x')}, overEnd, furtherBack;
  for (int i = 0; i < 128; ++i) frame.push_back(Match(1, 255));
  overEnd = furtherBack = frame;
  overEnd.push_back(Match(1, 200));  // 73 bytes over the frame's end
  furtherBack.insert(furtherBack.end(), {Match(1, 127), Match(60000, 10)});

  EXPECT_TRUE(Refused({{1, {Lit('a'), Lit('b'), Match(3, 2)}}})) << "match before the first byte";
  EXPECT_TRUE(Refused({{1, furtherBack}})) << "match before the first byte, in a later frame";
  EXPECT_TRUE(Refused({{2, overEnd}})) << "match over the frame's end";
  EXPECT_TRUE(Refused({{2, Text("abcde")}}, 0, true)) << "over-subscribed aligned tree";
  EXPECT_TRUE(Refused({{1, Text("hello"), 100}}, 5)) << "block claims more than the last frame";
  EXPECT_TRUE(Refused({{1, {Lit('a'), Lit('b'), Match(2, 4)}, 4}, {1, Text("xy")}}, 6))
      << "match runs past the end of its block";
  EXPECT_TRUE(Refused({{1, {Lit('a'), Lit('b'), Match(2, 30)}}}, 20))
      << "match runs past the end of the last frame";
  EXPECT_TRUE(Refused({{1, Mixed(5, 30000, 30000, 100000)[0].tokens}}, 0, false,
                      [](auto& chunks) { chunks[0].resize(chunks[0].size() / 2); }))
      << "stream cut short";
  EXPECT_TRUE(Refused({{0, Text("ab")}})) << "block type 0";
  EXPECT_TRUE(Refused({{3, Text("short"), 20}}, 20)) << "uncompressed bytes missing";
}

}  // namespace
