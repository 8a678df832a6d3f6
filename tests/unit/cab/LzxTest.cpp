// LZX codec on blocks from a small test-side encoder: verbatim, aligned-offset
// and uncompressed blocks, code lengths sent as deltas through the pretree,
// trees carried from block to block, repeated offsets, matches ending on the
// frame and window ends (never over them), every window size, the E8
// translation, damaged streams, and the same streams read back by cabextract.
// The expected bytes come from a plain expansion of the same tokens. An
// uncompressed block spanning frames, which the encoder never makes, is
// written by hand.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <queue>
#include <set>
#include <string>
#include <vector>

#include "install/cab/Decompressor.h"
#include "tests/unit/cab/CabTestSupport.h"

namespace {

using cabtest::Bytes;
using cabtest::WordWriter;
using cab::CodecStatus;

constexpr uint32_t kFrame = 32768;
constexpr int kLengthSyms = 249;

// Extra offset bits per position slot, as the format lists them.
constexpr int kExtraBits[50] = {0,  0,  0,  0,  1,  1,  2,  2,  3,  3,  4,  4,  5,  5,  6,  6,  7,
                                7,  8,  8,  9,  9,  10, 10, 11, 11, 12, 12, 13, 13, 14, 14, 15, 15,
                                16, 16, 17, 17, 17, 17, 17, 17, 17, 17, 17, 17, 17, 17, 17, 17};

int SlotsForWindow(int bits) {
  static const int kSlots[] = {30, 32, 34, 36, 38, 42, 50};
  return kSlots[bits - 15];
}

uint32_t SlotBase(int slot) {
  uint32_t b = 0;
  for (int s = 0; s < slot; ++s) b += 1u << kExtraBits[s];
  return b;
}

struct Token {
  enum Kind { kLiteral, kMatch, kRepeat, kRawBits } kind;
  uint32_t a;    // byte, offset, repeated-offset index, or bit pattern
  uint32_t len;  // match length or bit count
  uint32_t Size() const { return kind == kLiteral ? 1 : kind == kRawBits ? 0 : len; }
};
Token Lit(uint8_t c) { return {Token::kLiteral, c, 1}; }
Token Match(uint32_t offset, uint32_t len) { return {Token::kMatch, offset, len}; }
Token Rep(uint32_t which, uint32_t len) { return {Token::kRepeat, which, len}; }
Token RawBits(uint32_t bits, uint32_t n) { return {Token::kRawBits, bits, n}; }

std::vector<Token> Text(const std::string& s) {
  std::vector<Token> t;
  for (char c : s) t.push_back(Lit(static_cast<uint8_t>(c)));
  return t;
}
void Append(std::vector<Token>* to, const std::vector<Token>& more) {
  to->insert(to->end(), more.begin(), more.end());
}

struct Block {
  int type;  // 1 verbatim, 2 aligned offset, 3 uncompressed (literals only)
  std::vector<Token> tokens;
  uint32_t claimed = 0;            // block size sent; 0: the tokens' size
  uint32_t r[3] = {1, 1, 1};       // uncompressed blocks: the repeated offsets
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
      if (t.kind == Token::kRawBits) continue;
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

// Huffman code lengths for `freq`, at most `limit` bits: frequencies are
// halved until the tree is shallow enough. With fewer than two symbols, two
// codes of one bit, so that every tree sent is complete (other decoders
// refuse an incomplete or empty tree).
std::vector<uint8_t> HuffLengths(std::vector<uint32_t> freq, int limit) {
  auto used = std::count_if(freq.begin(), freq.end(), [](uint32_t f) { return f != 0; });
  for (size_t s = 0; used < 2 && s < freq.size(); ++s)
    if (!freq[s]) {
      freq[s] = 1;
      ++used;
    }
  for (;;) {
    std::vector<uint8_t> len(freq.size(), 0);
    using Node = std::pair<uint64_t, size_t>;  // weight, index into `below`
    std::priority_queue<Node, std::vector<Node>, std::greater<Node>> q;
    std::vector<std::vector<size_t>> below;  // the symbols under each node
    for (size_t s = 0; s < freq.size(); ++s)
      if (freq[s]) {
        q.push({freq[s], below.size()});
        below.push_back({s});
      }
    while (q.size() > 1) {
      const Node x = q.top();
      q.pop();
      const Node y = q.top();
      q.pop();
      std::vector<size_t> both = below[x.second];
      both.insert(both.end(), below[y.second].begin(), below[y.second].end());
      for (size_t s : both) ++len[s];
      q.push({x.first + y.first, below.size()});
      below.push_back(std::move(both));
    }
    if (*std::max_element(len.begin(), len.end()) <= limit) return len;
    for (uint32_t& f : freq)
      if (f) f = (f + 1) / 2;
  }
}

// Test-side encoder: blocks of tokens to one bit stream per 32 KiB frame.
class LzxEncoder {
 public:
  explicit LzxEncoder(int windowBits)
      : numSlots_(SlotsForWindow(windowBits)),
        mainPrev_(256 + numSlots_ * 8, 0),
        lengthPrev_(kLengthSyms, 0) {}

  // Damage hooks: change the code lengths before they are sent (the codes
  // follow the changed lengths), or let the last zero run of the length
  // tree reach past its end.
  std::function<void(std::vector<uint8_t>& main, std::vector<uint8_t>& length,
                     std::vector<uint8_t>& aligned)>
      tamper;
  bool overlongLastRun = false;
  uint32_t e8Size = 0;  // nonzero: E8 translation on with this size

  // What the stream used, so tests can tell their features were exercised.
  std::set<int> pretreeCodes;
  int longestMainCode = 0;
  int longestLengthCode = 0;
  int highestSlot = 0;
  int overshoot = 0;
  int crossings = 0;

  std::vector<Bytes> Encode(const std::vector<Block>& blocks) {
    chunks_.clear();
    pos_ = 0;
    nextCut_ = kFrame;
    w_.Bits(e8Size ? 1 : 0, 1);
    if (e8Size) {
      w_.Bits(e8Size >> 16, 16);
      w_.Bits(e8Size & 0xFFFF, 16);
    }
    for (const Block& b : blocks) EncodeBlock(b);
    if (pos_ + kFrame > nextCut_) Cut();
    return chunks_;
  }

 private:
  struct Coded {
    int mainSym;
    int lengthSym = -1;
    int slot = 0;
    uint32_t extra = 0;
  };

  Coded Classify(const Token& t) const {
    Coded c;
    if (t.kind == Token::kLiteral) {
      c.mainSym = static_cast<int>(t.a);
      return c;
    }
    uint32_t header = std::min<uint32_t>(t.len - 2, 7);
    if (header == 7) c.lengthSym = static_cast<int>(t.len - 9);
    if (t.kind == Token::kRepeat) {
      c.slot = static_cast<int>(t.a);
    } else {
      uint32_t formatted = t.a + 2;
      c.slot = 3;
      while (c.slot + 1 < 50 && SlotBase(c.slot + 1) <= formatted) ++c.slot;
      c.extra = formatted - SlotBase(c.slot);
    }
    c.mainSym = 256 + c.slot * 8 + static_cast<int>(header);
    return c;
  }

  void EncodeBlock(const Block& b) {
    uint32_t size = b.claimed;
    if (!size)
      for (const Token& t : b.tokens) size += t.Size();
    w_.Bits(static_cast<uint32_t>(b.type), 3);
    w_.Bits(size >> 8, 16);
    w_.Bits(size & 0xFF, 8);
    if (b.type == 3) {
      EncodeRaw(b);
      return;
    }
    std::vector<Coded> coded;
    std::vector<uint32_t> mainFreq(mainPrev_.size(), 0), lengthFreq(kLengthSyms, 0),
        alignedFreq(8, 0);
    for (const Token& t : b.tokens) {
      if (t.kind == Token::kRawBits) {
        coded.push_back({});
        continue;
      }
      Coded c = Classify(t);
      EXPECT_LT(c.slot, numSlots_) << "offset " << t.a << " beyond the window";
      highestSlot = std::max(highestSlot, c.slot);
      ++mainFreq[c.mainSym];
      if (c.lengthSym >= 0) ++lengthFreq[c.lengthSym];
      if (b.type == 2 && c.slot >= 3 && kExtraBits[c.slot] >= 3) ++alignedFreq[c.extra & 7];
      coded.push_back(c);
    }
    std::vector<uint8_t> mainLen = HuffLengths(mainFreq, 16);
    std::vector<uint8_t> lengthLen = HuffLengths(lengthFreq, 16);
    std::vector<uint8_t> alignedLen = HuffLengths(alignedFreq, 7);
    if (tamper) tamper(mainLen, lengthLen, alignedLen);
    if (b.type == 2)
      for (uint8_t l : alignedLen) w_.Bits(l, 3);
    SendLengths(mainLen, mainPrev_, 0, 256, false);
    SendLengths(mainLen, mainPrev_, 256, static_cast<int>(mainLen.size()), false);
    SendLengths(lengthLen, lengthPrev_, 0, kLengthSyms, overlongLastRun);
    mainPrev_ = mainLen;
    lengthPrev_ = lengthLen;
    for (uint8_t l : mainLen) longestMainCode = std::max<int>(longestMainCode, l);
    for (uint8_t l : lengthLen) longestLengthCode = std::max<int>(longestLengthCode, l);

    const std::vector<uint32_t> mainCode = cabtest::CanonicalCodes(mainLen);
    const std::vector<uint32_t> lengthCode = cabtest::CanonicalCodes(lengthLen);
    const std::vector<uint32_t> alignedCode = cabtest::CanonicalCodes(alignedLen);
    for (size_t i = 0; i < b.tokens.size(); ++i) {
      const Token& t = b.tokens[i];
      const Coded& c = coded[i];
      if (t.kind == Token::kRawBits) {
        w_.Bits(t.a, static_cast<int>(t.len));
        continue;
      }
      w_.Bits(mainCode[c.mainSym], mainLen[c.mainSym]);
      if (c.lengthSym >= 0) w_.Bits(lengthCode[c.lengthSym], lengthLen[c.lengthSym]);
      if (t.kind == Token::kMatch) {
        int bits = kExtraBits[c.slot];
        if (b.type == 2 && bits >= 3) {
          // Aligned blocks send the low three offset bits through their tree.
          w_.Bits(c.extra >> 3, bits - 3);
          w_.Bits(alignedCode[c.extra & 7], alignedLen[c.extra & 7]);
        } else {
          w_.Bits(c.extra, bits);
        }
      }
      Advance(t.Size());
    }
  }

  // An uncompressed block; it must end inside the frame it starts in.
  void EncodeRaw(const Block& b) {
    w_.AlignForRaw();
    for (uint32_t r : b.r) w_.Raw32(r);
    std::string bytes;
    for (const Token& t : b.tokens) bytes += static_cast<char>(t.a);
    EXPECT_LT(pos_ + bytes.size(), nextCut_) << "uncompressed block over a frame end";
    w_.Raw(bytes);
    if (bytes.size() & 1) w_.Raw(std::string(1, '\0'));
    pos_ += static_cast<uint32_t>(bytes.size());
  }

  // Code lengths [first, last) as deltas against `prev`, through a pretree.
  void SendLengths(const std::vector<uint8_t>& len, const std::vector<uint8_t>& prev, int first,
                   int last, bool overlong) {
    struct Pre {
      int code;
      uint32_t extra;
      int bits;
      int follow;  // code 19: the delta code that follows
    };
    auto delta = [&](int x) { return (prev[x] - len[x] + 17) % 17; };
    std::vector<Pre> pre;
    int x = first;
    while (x < last) {
      int zeros = 0;
      while (x + zeros < last && len[x + zeros] == 0) ++zeros;
      int same = 1;
      while (x + same < last && len[x + same] == len[x] && prev[x + same] == prev[x]) ++same;
      if (zeros >= 20) {
        int run = std::min(zeros, 51);
        pre.push_back({18, static_cast<uint32_t>(run - 20), 5, -1});
        x += run;
      } else if (zeros >= 4) {
        int run = std::min(zeros, 19);
        pre.push_back({17, static_cast<uint32_t>(run - 4), 4, -1});
        x += run;
      } else if (len[x] != 0 && same >= 4) {
        int run = std::min(same, 5);
        pre.push_back({19, static_cast<uint32_t>(run - 4), 1, delta(x)});
        x += run;
      } else {
        pre.push_back({delta(x), 0, 0, -1});
        ++x;
      }
    }
    if (overlong && !pre.empty() && pre.back().code >= 17 && pre.back().code <= 18) {
      // Stretch the final zero run to the longest its code can say.
      Pre& p = pre.back();
      uint32_t most = p.code == 17 ? 15 : 31;
      overshoot = static_cast<int>(most - p.extra);
      p.extra = most;
    }
    std::vector<uint32_t> freq(20, 0);
    for (const Pre& p : pre) {
      ++freq[p.code];
      if (p.follow >= 0) ++freq[p.follow];
    }
    std::vector<uint8_t> preLen = HuffLengths(freq, 15);
    std::vector<uint32_t> preCode = cabtest::CanonicalCodes(preLen);
    for (uint8_t l : preLen) w_.Bits(l, 4);
    for (const Pre& p : pre) {
      pretreeCodes.insert(p.code);
      w_.Bits(preCode[p.code], preLen[p.code]);
      w_.Bits(p.extra, p.bits);
      if (p.follow >= 0) w_.Bits(preCode[p.follow], preLen[p.follow]);
    }
  }

  // Each frame's bits end on a word boundary; a match that runs over a frame
  // end belongs to the frame it starts in.
  void Advance(uint32_t n) {
    pos_ += n;
    if (pos_ > nextCut_) ++crossings;
    while (pos_ >= nextCut_) {
      Cut();
      nextCut_ += kFrame;
    }
  }
  void Cut() {
    w_.Align();
    chunks_.push_back(w_.Take());
  }

  const int numSlots_;
  std::vector<uint8_t> mainPrev_, lengthPrev_;
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
  if (!d) {
    ADD_FAILURE() << "window 2^" << windowBits << " refused";
    r.status = CodecStatus::kCorrupt;
    return r;
  }
  for (uint32_t i = 0; i * kFrame < total; ++i) {
    uint32_t size = std::min(kFrame, total - i * kFrame);
    std::string out(size, '\0');
    static const Bytes kNone;
    const Bytes& in = i < chunks.size() ? chunks[i] : kNone;
    r.status = d->DecodeBlock(in.data(), in.size(), reinterpret_cast<uint8_t*>(&out[0]), size);
    if (r.status != CodecStatus::kOk) return r;
    r.data += out;
  }
  return r;
}

struct Lcg {
  uint32_t s;
  uint32_t Next(uint32_t n) {
    s = s * 1103515245u + 12345u;
    return (s >> 8) % n;
  }
};

// A mix of literals, matches at any reachable offset up to `maxOffset`, and
// repeated-offset matches, producing at least `size` bytes; many matches end
// right at a frame's end, none runs over it.
std::vector<Token> Mixed(uint32_t seed, uint32_t size, uint32_t maxOffset) {
  Lcg g{seed};
  std::vector<Token> t;
  uint32_t n = 0;
  while (n < size) {
    uint32_t pick = n < 64 ? 0 : g.Next(10);
    Token k;
    uint32_t len = g.Next(4) == 0 ? 9 + g.Next(249) : 2 + g.Next(7);
    // A match ends at the latest with its frame.
    const uint32_t frameLeft = kFrame - n % kFrame;
    if (len > frameLeft) len = frameLeft;
    if (len < 2) pick = 0;
    if (pick < 3) k = Lit(static_cast<uint8_t>(g.Next(256)));
    else if (pick < 7) k = Match(1 + g.Next(std::min(n, maxOffset)), len);
    else k = Rep(g.Next(3), len);
    t.push_back(k);
    n += k.Size();
  }
  return t;
}

// Blocks of at most `perBlock` tokens, of the given types in turn.
std::vector<Block> Split(const std::vector<Token>& t, size_t perBlock, std::vector<int> types) {
  std::vector<Block> blocks;
  for (size_t i = 0; i < t.size(); i += perBlock) {
    Block b{types[blocks.size() % types.size()], {}};
    b.tokens.assign(t.begin() + i, t.begin() + std::min(t.size(), i + perBlock));
    blocks.push_back(b);
  }
  return blocks;
}

// The same blocks with every match that would run over a frame's end cut
// short there (a piece of one byte becomes a literal): a frame stands for
// exactly its own bytes.
std::vector<Block> EndAtFrames(std::vector<Block> blocks) {
  uint32_t n = 0;
  for (Block& b : blocks)
    for (Token& t : b.tokens) {
      const uint32_t left = kFrame - n % kFrame;
      if ((t.kind == Token::kMatch || t.kind == Token::kRepeat) && t.len > left)
        t = left == 1 ? Lit('#') : Token{t.kind, t.a, left};
      n += t.Size();
    }
  return blocks;
}

void ExpectRoundTrip(int windowBits, LzxEncoder& enc, const std::vector<Block>& input) {
  const std::vector<Block> blocks = EndAtFrames(input);
  std::vector<Bytes> chunks = enc.Encode(blocks);
  std::string want = Expand(blocks);
  ASSERT_EQ(chunks.size(), (want.size() + kFrame - 1) / kFrame);
  Decoded got = DecodeFrames(windowBits, chunks, static_cast<uint32_t>(want.size()));
  ASSERT_EQ(got.status, CodecStatus::kOk);
  ASSERT_EQ(got.data.size(), want.size());
  // Report the first differing byte rather than two megabytes.
  auto diff = std::mismatch(want.begin(), want.end(), got.data.begin());
  EXPECT_TRUE(diff.first == want.end()) << "first difference at " << (diff.first - want.begin());
}

// Decodes `blocks` (with E8 translation of this size when nonzero) and
// expects exactly `want`.
void ExpectDecodes(int windowBits, const std::vector<Block>& blocks, const std::string& want,
                   uint32_t e8Size = 0) {
  LzxEncoder enc(windowBits);
  enc.e8Size = e8Size;
  Decoded got = DecodeFrames(windowBits, enc.Encode(blocks), static_cast<uint32_t>(want.size()));
  EXPECT_EQ(got.status, CodecStatus::kOk);
  EXPECT_EQ(got.data, want);
}

// R0..R2 start at 1; an explicit match pushes them down, R1 and R2 swap with
// R0 when used, R0 stays; an uncompressed block sets all three for the next.
TEST(Lzx, RepeatedOffsetsByHand) {
  std::vector<Token> t = Text("0123456789");
  Append(&t, {Match(10, 2), Match(5, 2), Rep(1, 2), Rep(2, 2), Rep(0, 3), Rep(2, 2)});
  for (int type : {1, 2}) {
    SCOPED_TRACE(type);
    ExpectDecodes(16, {{type, t}}, "0123456789" "01" "78" "45" "55" "555" "17");
  }
  ExpectDecodes(15, {{3, Text("abcdefgh"), 0, {8, 3, 1}}, {1, {Rep(0, 2), Rep(1, 2), Rep(2, 3)}}},
                "abcdefgh" "ab" "ha" "aaa");
}

TEST(Lzx, TreesCarryOverAndLongCodes) {
  // Literal counts 2^i give code lengths 1..15 (longer than the decoder's
  // first lookup level); length footers skewed the same way.
  std::vector<Token> skewed;
  for (int i = 0; i < 16; ++i)
    for (int k = 0; k < (1 << i); ++k) skewed.push_back(Lit(static_cast<uint8_t>('A' + i)));
  for (int i = 0; i < 12; ++i)
    for (int k = 0; k < (1 << i); ++k) skewed.push_back(Match(1 + (k % 50), 9 + i * 20));
  std::vector<Block> blocks;
  blocks.push_back({1, skewed});
  // Same statistics again: every delta is zero.
  blocks.push_back({1, skewed});
  // A flat alphabet: runs of equal lengths (code 19).
  blocks.push_back({2, Text("the quick brown fox jumps over the lazy dog, THE QUICK BROWN FOX")});
  blocks.push_back({3, Text("raw")});
  // After an uncompressed block the lengths still count as the previous ones.
  std::vector<Token> tail = Text("abcdefghijklmnopqrstuvwxyz");
  Append(&tail, {Match(26, 30), Rep(0, 100), Match(40000, 257)});
  blocks.push_back({2, tail});
  blocks.push_back({1, tail});

  LzxEncoder enc(17);
  ExpectRoundTrip(17, enc, blocks);
  EXPECT_GT(enc.longestMainCode, 10);
  EXPECT_GT(enc.longestLengthCode, 8);
  for (int code : {0, 1, 16, 17, 18, 19}) {
    SCOPED_TRACE(code);
    EXPECT_TRUE(enc.pretreeCodes.count(code));
  }
}

// Matches (explicit and repeated) that end right at a frame's end or start
// the next one decode; with a 32 KiB window the frame's end is the window's
// too. A frame stands for exactly its own bytes, so the same stream with the
// match running 20 bytes over the frame's end (and the next one shorter by
// as much) is refused.
TEST(Lzx, MatchesEndWithTheirFrame) {
  for (int bits : {15, 16})
    for (int type : {1, 2})
      for (uint32_t over : {0u, 20u}) {
        SCOPED_TRACE("window 2^" + std::to_string(bits) + ", block type " + std::to_string(type) +
                     (over ? ", a match over the frame's end" : ""));
        std::vector<Token> t;
        Lcg g{99};
        uint32_t n = 0;
        for (; n < 3000; ++n) t.push_back(Lit(static_cast<uint8_t>(g.Next(256))));
        for (; n + 257 < kFrame - 100; n += 257) t.push_back(Match(1 + g.Next(2900), 257));
        for (; n < kFrame - 100; ++n) t.push_back(Lit(static_cast<uint8_t>(g.Next(256))));
        Append(&t, {Match(2000 + g.Next(500), 100 + over), Rep(0, 200 - over),
                    Match(1 + g.Next(2000), 30), Lit('!')});
        const std::vector<Block> blocks = {{type, t}};
        LzxEncoder enc(bits);
        const std::vector<Bytes> chunks = enc.Encode(blocks);
        EXPECT_EQ(enc.crossings, over ? 1 : 0);
        const Decoded got = DecodeFrames(bits, chunks, OutputSize(blocks));
        EXPECT_EQ(got.status, over ? CodecStatus::kCorrupt : CodecStatus::kOk);
        EXPECT_TRUE(over || got.data == Expand(blocks));
      }
}

struct WindowCase {
  int bits;
  size_t perBlock;
  std::vector<int> types;
};

void PrintTo(const WindowCase& c, std::ostream* os) {
  *os << "window 2^" << c.bits << ", " << c.perBlock << " tokens a block";
}

class LzxWindow : public ::testing::TestWithParam<WindowCase> {};

// Literals, matches at any reachable offset and repeated offsets over more
// output than the window holds, in blocks of the case's types and sizes
// (small blocks send their trees as deltas again and again), then matches
// from the far end of the window through the highest position slot.
TEST_P(LzxWindow, MixedStreamsWrapTheWindow) {
  const WindowCase& c = GetParam();
  const uint32_t window = 1u << c.bits;
  std::vector<Token> t = Mixed(static_cast<uint32_t>(c.bits * 7 + c.perBlock),
                               window + 3 * kFrame, window - 3);
  for (uint32_t offset : {window - 3, window - 4, window / 2 + 12345, window - 100000 % window})
    Append(&t, {Match(offset, 50), Lit('.')});
  t.push_back(Rep(1, 40));
  LzxEncoder enc(c.bits);
  ExpectRoundTrip(c.bits, enc, Split(t, c.perBlock, c.types));
  EXPECT_EQ(enc.highestSlot, SlotsForWindow(c.bits) - 1);
}

INSTANTIATE_TEST_SUITE_P(Sizes, LzxWindow,
                         ::testing::Values(WindowCase{15, 40, {1, 2}}, WindowCase{16, 5000, {2}},
                                           WindowCase{17, 300, {1, 2}},
                                           WindowCase{18, 3000, {1, 2}},
                                           WindowCase{19, 3000, {2, 1}},
                                           WindowCase{20, 3000, {1, 2}},
                                           WindowCase{21, 3000, {1, 2}}));

// E8 translation on, size 1000: an absolute CALL target t at output offset p
// reads back as the relative t - p, also when the call bytes come from a
// match; a target at or beyond the size, and a call in the frame's last 10
// bytes, stay as they are.
TEST(Lzx, E8TranslationOfCallTargets) {
  std::vector<Token> t = Text("abc");
  Append(&t, Text(std::string("\xE8\x67\x00\x00\x00", 5)));  // at 3, target 103
  Append(&t, {Match(8, 8)});                                   // again at 11
  Append(&t, Text(std::string("\xE8\xE8\x03\x00\x00", 5)));  // target 1000
  Append(&t, Text("0123456789"));
  Append(&t, Text(std::string("\xE8\x05\x00\x00\x00zzzz", 9)));
  std::vector<Block> blocks = {{1, t}};
  std::string want = Expand(blocks);
  want[4] = 100;
  want[12] = static_cast<char>(103 - 11);
  ExpectDecodes(16, blocks, want, 1000);
}

// An uncompressed block longer than a frame: the next frame carries the rest
// of it, its pad byte, then a new block.
TEST(Lzx, UncompressedBlockSpansFrames) {
  auto header = [](WordWriter& w, uint32_t size) {
    w.Bits(3, 3);
    w.Bits(size >> 8, 16);
    w.Bits(size & 0xFF, 8);
    w.AlignForRaw();
    for (int i = 0; i < 3; ++i) w.Raw32(1);
  };
  auto d = cab::MakeLzxDecompressor(15);
  std::string a(kFrame, 'a');
  WordWriter w;
  w.Bits(0, 1);
  header(w, kFrame + 3);
  w.Raw(a);
  CodecStatus st;
  EXPECT_EQ(cabtest::RunCodec(*d, w.Take(), a.size(), &st), a);
  ASSERT_EQ(st, CodecStatus::kOk);
  w.Raw("bcd");
  w.Raw(std::string(1, '\0'));
  header(w, 2);
  w.Raw("ef");
  EXPECT_EQ(cabtest::RunCodec(*d, w.Take(), 5, &st), "bcdef");
  EXPECT_EQ(st, CodecStatus::kOk);
}

using Tamper = std::function<void(std::vector<uint8_t>& main, std::vector<uint8_t>& length,
                                  std::vector<uint8_t>& aligned)>;
using Cut = std::function<void(std::vector<Bytes>&)>;

// Whether the codec refuses `blocks` once encoded, with their code lengths
// changed by `tamper` (the codes follow the changed lengths) and the frames
// by `cut`; the frames hold `total` bytes (0: what the tokens make).
bool Refused(const std::vector<Block>& blocks, uint32_t total = 0, Tamper tamper = nullptr,
             Cut cut = nullptr, bool overlongLastRun = false) {
  LzxEncoder enc(16);
  enc.tamper = tamper;
  enc.overlongLastRun = overlongLastRun;
  std::vector<Bytes> chunks = enc.Encode(blocks);
  if (cut) cut(chunks);
  if (overlongLastRun) {
    EXPECT_GT(enc.overshoot, 0) << "no zero run to stretch";
  }
  return DecodeFrames(16, chunks, total ? total : OutputSize(blocks)).status ==
         CodecStatus::kCorrupt;
}

TEST(Lzx, DamagedStreamsFail) {
  const Tamper noTamper;
  std::vector<Token> frameThenFar;  // one whole frame, then a match reaching further back
  for (int i = 0; i < 128; ++i) Append(&frameThenFar, {Lit('x'), Match(1, 255)});
  frameThenFar.push_back(Match(60000, 10));
  const std::vector<Token> five = Text("abcde");

  EXPECT_TRUE(Refused({{1, {Lit('a'), Lit('b'), Match(3, 2)}}})) << "match before the first byte";
  EXPECT_TRUE(Refused({{2, {Rep(0, 4)}}})) << "repeated offset with nothing decoded";
  EXPECT_TRUE(Refused({{1, frameThenFar}})) << "match before the first byte, in a later frame";
  EXPECT_TRUE(Refused({{1, {Lit('a'), Lit('b'), Lit('c'), Lit('d'), RawBits(7, 3)}, 5}}, 5,
                      [](auto& main, auto&, auto&) {
                        for (int c = 'a'; c <= 'd'; ++c) main[c] = 3;
                      }))
      << "incomplete main tree, unused code in the stream";
  EXPECT_TRUE(Refused({{1, five}}, 0, [](auto& main, auto&, auto&) {
    for (int c = 'a'; c <= 'e'; ++c) main[c] = 2;
  })) << "over-subscribed main tree";
  EXPECT_TRUE(Refused({{1, {Lit('a'), Lit('b'), Match(2, 20)}}}, 0,
                      [](auto&, auto& len, auto&) { len[0] = len[1] = len[2] = 1; }))
      << "over-subscribed length tree";
  EXPECT_TRUE(Refused({{2, five}}, 0, [](auto&, auto&, auto& al) {
    std::fill(al.begin(), al.end(), 1);
  })) << "over-subscribed aligned tree";
  EXPECT_TRUE(Refused({{1, Text("hello"), 100}}, 5)) << "block claims more than the last frame";
  EXPECT_TRUE(Refused({{1, {Lit('a'), Lit('b'), Match(2, 4)}, 4}, {1, Text("xy")}}, 6))
      << "match runs past the end of its block";
  EXPECT_TRUE(Refused({{1, {Lit('a'), Lit('b'), Match(2, 30)}}}, 20))
      << "match runs past the end of the last frame";
  EXPECT_TRUE(Refused({{1, Text("abc")}}, 0, noTamper, nullptr, true))
      << "pretree run past the end of the lengths";
  EXPECT_TRUE(Refused({{1, Mixed(5, 30000, 30000)}}, 0, noTamper,
                      [](auto& chunks) { chunks[0].resize(chunks[0].size() / 2); }))
      << "stream cut short";
  EXPECT_TRUE(Refused({{1, Text("ab")}}, 0, noTamper, [](auto& chunks) { chunks[0].clear(); }))
      << "no bytes at all";
  EXPECT_TRUE(Refused({{0, Text("ab")}})) << "block type 0";
  EXPECT_TRUE(Refused({{5, Text("ab")}})) << "block type 5";
  EXPECT_TRUE(Refused({{3, Text("short"), 20}}, 20)) << "uncompressed bytes missing";
  // A verbatim block of 8 bytes whose pretree lengths are all zero codes nothing.
  EXPECT_TRUE(Refused({{1, Text("abcdefgh")}}, 0, noTamper, [](auto& chunks) {
    WordWriter w;
    w.Bits(0, 1);
    w.Bits(1, 3);
    w.Bits(0, 16);
    w.Bits(8, 8);
    for (int i = 0; i < 20; ++i) w.Bits(0, 4);
    w.Bits(0, 16);
    chunks = {w.Take()};
  })) << "empty pretree";
}

#ifndef _WIN32
// The same streams in cabinets, read by cabextract (installed by the
// bootstrap): it knows nothing of this encoder, so agreement with it checks
// the encoder's reading of the format, and with it what the decoder is
// tested against.
TEST(Lzx, CabextractReadsTheEncodersCabinets) {
  ASSERT_EQ(std::system("cabextract --version >/dev/null 2>&1"), 0)
      << "cabextract is missing (scripts/bootstrap installs it)";
  const struct {
    WindowCase window;
    uint32_t size;
  } cases[] = {{{15, 300, {1, 2}}, 90000}, {{21, 2000, {2, 1}}, 200000}};
  for (const auto& c : cases) {
    const int bits = c.window.bits;
    SCOPED_TRACE(bits);
    std::vector<Block> blocks =
        Split(Mixed(bits * 5 + 1, c.size, (1u << bits) - 3), c.window.perBlock, c.window.types);
    LzxEncoder enc(bits);
    std::vector<Bytes> chunks = enc.Encode(blocks);
    const std::string want = Expand(blocks);
    cabtest::BuildCabinet cab;
    cabtest::BuildFolder folder;
    folder.compression = static_cast<uint16_t>(3 | (bits << 8));
    for (size_t i = 0; i < chunks.size(); ++i)
      folder.blocks.push_back(
          {chunks[i], static_cast<uint16_t>(std::min<size_t>(kFrame, want.size() - i * kFrame))});
    cab.folders.push_back(folder);
    cab.files.push_back({"lzx.bin", static_cast<uint32_t>(want.size()), 0, 0});
    const Bytes cabinet = cabtest::Build(cab);

    std::string theirs;
    EXPECT_TRUE(cabtest::CabextractMembers(cabinet, theirs));
    EXPECT_TRUE(theirs == want) << "cabextract disagrees with the test encoder";
    cabtest::DecodeResult ours = cabtest::DecodeBytes(cabinet);
    EXPECT_EQ(ours.error, cab::CabError::kNone);
    EXPECT_TRUE(ours.data == want) << "the program's decoder disagrees";
  }
}
#endif

}  // namespace
