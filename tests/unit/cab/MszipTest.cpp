// MSZIP codec on hand-built deflate streams: stored, fixed and dynamic
// blocks, history carried across data blocks, and invalid streams.
#include <gtest/gtest.h>

#include <string>

#include "install/cab/Decompressor.h"
#include "tests/unit/cab/CabTestSupport.h"

namespace {

using cabtest::Bytes;
using cabtest::RunCodec;

// Deflate bit writer: fields least significant bit first, Huffman codes
// most significant bit first.
class BitWriter {
 public:
  void Bits(uint32_t value, int n) {
    for (int i = 0; i < n; ++i) Bit((value >> i) & 1);
  }
  void Code(uint32_t code, int len) {
    for (int i = len - 1; i >= 0; --i) Bit((code >> i) & 1);
  }
  void AlignByte() {
    while (fill_) Bit(0);
  }
  void Byte(uint8_t b) { out_.push_back(b); }
  Bytes Finish() {
    AlignByte();
    return out_;
  }

 private:
  void Bit(uint32_t b) {
    if (fill_ == 0) out_.push_back(0);
    out_.back() |= static_cast<uint8_t>(b << fill_);
    fill_ = (fill_ + 1) & 7;
  }
  Bytes out_;
  int fill_ = 0;
};

Bytes Ck() { return Bytes{'C', 'K'}; }

Bytes Cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Writes literals and matches with a given literal/length and distance code.
struct Coder {
  std::vector<uint8_t> litLen, distLen;
  std::vector<uint32_t> lit, dist;
  void Literal(BitWriter& w, int c) const { w.Code(lit[c], litLen[c]); }
  void End(BitWriter& w) const { w.Code(lit[256], litLen[256]); }
  // Only the lengths and distances these tests use.
  void Match(BitWriter& w, int length, int distance) const {
    static const int kBase[] = {3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 15, 17, 19, 23, 27,
                                31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
    static const int kExtra[] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
    int i = 28;
    while (kBase[i] > length) --i;
    w.Code(lit[257 + i], litLen[257 + i]);
    w.Bits(static_cast<uint32_t>(length - kBase[i]), kExtra[i]);
    int d = 0, base = 1, extra = 0;
    for (d = 0; d < 30; ++d) {
      extra = d < 4 ? 0 : (d - 2) / 2;
      if (distance < base + (1 << extra)) break;
      base += 1 << extra;
    }
    w.Code(dist[d], distLen[d]);
    w.Bits(static_cast<uint32_t>(distance - base), extra);
  }
};

Coder Fixed() {
  Coder c;
  c.litLen.assign(288, 8);
  for (int i = 144; i < 256; ++i) c.litLen[i] = 9;
  for (int i = 256; i < 280; ++i) c.litLen[i] = 7;
  c.distLen.assign(30, 5);
  c.lit = cabtest::CanonicalCodes(c.litLen);
  c.dist = cabtest::CanonicalCodes(c.distLen);
  return c;
}

// A complete dynamic code unlike the fixed one: literals 9 bits, the end
// code and first length code 5 bits, other lengths 6; distances 4 and 5.
Coder Dynamic() {
  Coder c;
  c.litLen.assign(286, 9);
  c.litLen[256] = c.litLen[257] = 5;
  for (int i = 258; i < 286; ++i) c.litLen[i] = 6;
  c.distLen.assign(30, 5);
  c.distLen[0] = c.distLen[1] = 4;
  c.lit = cabtest::CanonicalCodes(c.litLen);
  c.dist = cabtest::CanonicalCodes(c.distLen);
  return c;
}

// Dynamic block header sending every length as a plain 4-bit code-length
// symbol (symbols 0-15 all 4 bits long).
void DynamicHeader(BitWriter& w, const Coder& c, bool last) {
  w.Bits(last, 1);
  w.Bits(2, 2);
  w.Bits(static_cast<uint32_t>(c.litLen.size() - 257), 5);
  w.Bits(static_cast<uint32_t>(c.distLen.size() - 1), 5);
  w.Bits(19 - 4, 4);
  static const int kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
  for (int sym : kOrder) w.Bits(sym < 16 ? 4 : 0, 3);
  for (uint8_t l : c.litLen) w.Code(l, 4);
  for (uint8_t l : c.distLen) w.Code(l, 4);
}

TEST(Mszip, StoredFixedAndDynamicBlocks) {
  auto d = cab::MakeMszipDecompressor();
  cab::CodecStatus st;

  BitWriter stored;
  stored.Bits(1, 1);
  stored.Bits(0, 2);
  stored.AlignByte();
  Bytes s = stored.Finish();
  for (uint8_t b : {5, 0, 0xFA, 0xFF}) s.push_back(b);
  for (char ch : std::string("hello")) s.push_back(static_cast<uint8_t>(ch));
  EXPECT_EQ(RunCodec(*d, Cat(Ck(), s), 5, &st), "hello");
  EXPECT_EQ(st, cab::CodecStatus::kOk);

  d->Reset();
  Coder f = Fixed();
  BitWriter fixed;
  fixed.Bits(1, 1);
  fixed.Bits(1, 2);
  for (char ch : std::string("abc")) f.Literal(fixed, ch);
  f.Match(fixed, 9, 3);       // overlapping: abcabcabc
  f.Literal(fixed, 0xF0);     // a 9-bit literal
  f.Match(fixed, 258, 1);     // longest match, run of one byte
  f.End(fixed);
  std::string want = "abcabcabcabc" + std::string(1, '\xF0') + std::string(258, '\xF0');
  EXPECT_EQ(RunCodec(*d, Cat(Ck(), fixed.Finish()), want.size(), &st), want);
  EXPECT_EQ(st, cab::CodecStatus::kOk);

  d->Reset();
  Coder y = Dynamic();
  BitWriter dyn;
  DynamicHeader(dyn, y, false);
  for (char ch : std::string("xyz")) y.Literal(dyn, ch);
  y.Match(dyn, 3, 3);
  y.End(dyn);
  DynamicHeader(dyn, y, true);  // a second block reuses nothing but history
  y.Match(dyn, 6, 6);
  y.End(dyn);
  EXPECT_EQ(RunCodec(*d, Cat(Ck(), dyn.Finish()), 12, &st), "xyzxyzxyzxyz");
  EXPECT_EQ(st, cab::CodecStatus::kOk);
}

TEST(Mszip, MatchReachesIntoThePreviousDataBlock) {
  auto d = cab::MakeMszipDecompressor();
  cab::CodecStatus st;
  // Block 1: 32768 stored bytes with a recognisable tail.
  std::string first(cab::kMaxBlockBytes, '.');
  first.replace(first.size() - 10, 10, "0123456789");
  BitWriter w1;
  w1.Bits(1, 1);
  w1.Bits(0, 2);
  Bytes b1 = Cat(Ck(), w1.Finish());
  for (uint8_t b : {0x00, 0x80, 0xFF, 0x7F}) b1.push_back(b);
  b1.insert(b1.end(), first.begin(), first.end());
  ASSERT_EQ(RunCodec(*d, b1, first.size(), &st), first);
  ASSERT_EQ(st, cab::CodecStatus::kOk);

  // Block 2 copies the tail of block 1 and a byte from its very start.
  Coder f = Fixed();
  BitWriter w2;
  w2.Bits(1, 1);
  w2.Bits(1, 2);
  f.Match(w2, 10, 10);
  f.Match(w2, 3, 32768);
  f.End(w2);
  Bytes b2 = Cat(Ck(), w2.Finish());
  EXPECT_EQ(RunCodec(*d, b2, 13, &st), "0123456789...");
  EXPECT_EQ(st, cab::CodecStatus::kOk);

  // After Reset the history is gone: the same block reaches nothing.
  d->Reset();
  RunCodec(*d, b2, 13, &st);
  EXPECT_EQ(st, cab::CodecStatus::kCorrupt);
}

TEST(Mszip, InvalidStreamsFail) {
  Coder f = Fixed();
  std::vector<std::pair<std::string, Bytes>> cases;
  auto fixedBlock = [&](auto body) {
    BitWriter w;
    w.Bits(1, 1);
    w.Bits(1, 2);
    body(w);
    return Cat(Ck(), w.Finish());
  };
  cases.push_back({"no CK", Bytes{'C', 'X', 3, 0}});
  cases.push_back({"empty", Bytes{}});
  cases.push_back({"block type 3", fixedBlock([](BitWriter& w) { w.Bits(3, 2); })});
  cases.push_back({"distance before the start",
                   fixedBlock([&](BitWriter& w) { f.Literal(w, 'a'); f.Match(w, 3, 2); f.End(w); })});
  cases.push_back({"distance code 30", fixedBlock([&](BitWriter& w) {
                     f.Literal(w, 'a');
                     f.Match(w, 3, 1);
                     w.Code(f.lit[257], 7);
                     w.Code(30, 5);
                     f.End(w);
                   })});
  cases.push_back({"length symbol 286", fixedBlock([&](BitWriter& w) { w.Code(0xC6, 8); })});
  cases.push_back({"no end of block", fixedBlock([&](BitWriter& w) { f.Literal(w, 'a'); })});
  cases.push_back({"output longer than the block",
                   fixedBlock([&](BitWriter& w) { for (int i = 0; i < 9; ++i) f.Literal(w, 'a'); f.End(w); })});
  {
    BitWriter w;
    w.Bits(1, 1);
    w.Bits(0, 2);
    w.AlignByte();
    Bytes s = Cat(Ck(), w.Finish());
    for (int b : {4, 0, 0xFB, 0xFE, 0x61, 0x62, 0x63, 0x64}) s.push_back(b);
    cases.push_back({"stored length not complemented", s});
  }
  {
    // Over-subscribed code-length code: all 19 lengths 1.
    BitWriter w;
    w.Bits(1, 1);
    w.Bits(2, 2);
    w.Bits(0, 5);
    w.Bits(0, 5);
    w.Bits(15, 4);
    for (int i = 0; i < 19; ++i) w.Bits(1, 3);
    cases.push_back({"over-subscribed code lengths", Cat(Ck(), w.Finish())});
  }
  {
    // Repeat code 16 with nothing to repeat.
    BitWriter w;
    w.Bits(1, 1);
    w.Bits(2, 2);
    w.Bits(0, 5);
    w.Bits(0, 5);
    w.Bits(0, 4);  // 4 code-length codes: 16, 17, 18, 0 all 2 bits
    for (int i = 0; i < 4; ++i) w.Bits(2, 3);
    w.Code(1, 2);  // symbol 16 (codes: 0 -> 00, 16 -> 01): repeat, with nothing before
    w.Bits(0, 2);
    cases.push_back({"repeat with nothing to repeat", Cat(Ck(), w.Finish())});
  }
  {
    // A dynamic code without an end-of-block code.
    Coder y = Dynamic();
    y.litLen[256] = 0;
    BitWriter w;
    DynamicHeader(w, y, true);
    cases.push_back({"no end code", Cat(Ck(), w.Finish())});
  }
  {
    // Literal/length count above 286.
    BitWriter w;
    w.Bits(1, 1);
    w.Bits(2, 2);
    w.Bits(30, 5);
    w.Bits(0, 5);
    w.Bits(15, 4);
    cases.push_back({"HLIT 287", Cat(Ck(), w.Finish())});
  }
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    auto d = cab::MakeMszipDecompressor();
    cab::CodecStatus st;
    RunCodec(*d, c.second, 8, &st);
    EXPECT_EQ(st, cab::CodecStatus::kCorrupt);
  }
}

// Every prefix of a valid block fails cleanly: the zero pad past the end may
// be looked at, never taken as data.
TEST(Mszip, TruncatedBlocksFail) {
  Coder y = Dynamic();
  BitWriter w;
  DynamicHeader(w, y, true);
  for (char ch : std::string("truncate me")) y.Literal(w, ch);
  y.Match(w, 20, 11);
  y.End(w);
  Bytes full = Cat(Ck(), w.Finish());
  auto d = cab::MakeMszipDecompressor();
  cab::CodecStatus st;
  ASSERT_EQ(RunCodec(*d, full, 31, &st), "truncate metruncate metruncate ");
  ASSERT_EQ(st, cab::CodecStatus::kOk);
  for (size_t n = 0; n + 1 < full.size(); ++n) {
    SCOPED_TRACE(n);
    d->Reset();
    RunCodec(*d, Bytes(full.begin(), full.begin() + static_cast<long>(n)), 31, &st);
    EXPECT_EQ(st, cab::CodecStatus::kCorrupt);
  }
}

}  // namespace
