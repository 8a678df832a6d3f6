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

// The first fields of a dynamic block: final bit, type, HLIT, HDIST, HCLEN.
void DynamicStart(BitWriter& w, bool last, uint32_t hlit, uint32_t hdist, uint32_t hclen) {
  w.Bits(last, 1);
  w.Bits(2, 2);
  w.Bits(hlit, 5);
  w.Bits(hdist, 5);
  w.Bits(hclen, 4);
}

// Dynamic block header sending every length as a plain 4-bit code-length
// symbol (symbols 0-15 all 4 bits long).
void DynamicHeader(BitWriter& w, const Coder& c, bool last) {
  DynamicStart(w, last, static_cast<uint32_t>(c.litLen.size() - 257),
               static_cast<uint32_t>(c.distLen.size() - 1), 19 - 4);
  static const int kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
  for (int sym : kOrder) w.Bits(sym < 16 ? 4 : 0, 3);
  for (uint8_t l : c.litLen) w.Code(l, 4);
  for (uint8_t l : c.distLen) w.Code(l, 4);
}

// A final stored block: "CK", header, LEN and NLEN as given, the bytes.
Bytes StoredBlock(const std::string& data, uint16_t len, uint16_t nlen) {
  BitWriter w;
  w.Bits(1, 1);
  w.Bits(0, 2);
  Bytes b = Cat(Ck(), w.Finish());
  for (uint16_t v : {len, nlen}) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
  }
  b.insert(b.end(), data.begin(), data.end());
  return b;
}
Bytes StoredBlock(const std::string& data) {
  const uint16_t len = static_cast<uint16_t>(data.size());
  return StoredBlock(data, len, static_cast<uint16_t>(~len));
}

// A final fixed-code block whose body `body` writes.
template <typename Body>
Bytes FixedBlock(Body body) {
  BitWriter w;
  w.Bits(1, 1);
  w.Bits(1, 2);
  body(w);
  return Cat(Ck(), w.Finish());
}

TEST(Mszip, StoredFixedAndDynamicBlocks) {
  auto d = cab::MakeMszipDecompressor();
  cab::CodecStatus st;
  EXPECT_EQ(RunCodec(*d, StoredBlock("hello"), 5, &st), "hello");
  EXPECT_EQ(st, cab::CodecStatus::kOk);

  d->Reset();
  Coder f = Fixed();
  const Bytes fixed = FixedBlock([&](BitWriter& w) {
    for (char ch : std::string("abc")) f.Literal(w, ch);
    f.Match(w, 9, 3);    // overlapping: abcabcabc
    f.Literal(w, 0xF0);  // a 9-bit literal
    f.Match(w, 258, 1);  // longest match, run of one byte
    f.End(w);
  });
  std::string want = "abcabcabcabc" + std::string(1, '\xF0') + std::string(258, '\xF0');
  EXPECT_EQ(RunCodec(*d, fixed, want.size(), &st), want);
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
  ASSERT_EQ(RunCodec(*d, StoredBlock(first), first.size(), &st), first);
  ASSERT_EQ(st, cab::CodecStatus::kOk);

  // Block 2 copies the tail of block 1 and a byte from its very start.
  Coder f = Fixed();
  const Bytes b2 = FixedBlock([&](BitWriter& w) {
    f.Match(w, 10, 10);
    f.Match(w, 3, 32768);
    f.End(w);
  });
  EXPECT_EQ(RunCodec(*d, b2, 13, &st), "0123456789...");
  EXPECT_EQ(st, cab::CodecStatus::kOk);

  // After Reset the history is gone: the same block reaches nothing.
  d->Reset();
  RunCodec(*d, b2, 13, &st);
  EXPECT_EQ(st, cab::CodecStatus::kCorrupt);
}

TEST(Mszip, InvalidStreamsFail) {
  Coder f = Fixed();
  Coder noEnd = Dynamic();
  noEnd.litLen[256] = 0;
  BitWriter noEndCode, overSubscribed, nothingToRepeat, hlit287;
  DynamicHeader(noEndCode, noEnd, true);
  DynamicStart(overSubscribed, true, 0, 0, 15);  // all 19 code-length codes 1 bit long
  for (int i = 0; i < 19; ++i) overSubscribed.Bits(1, 3);
  DynamicStart(nothingToRepeat, true, 0, 0, 0);  // codes 16, 17, 18, 0 all 2 bits
  for (int i = 0; i < 4; ++i) nothingToRepeat.Bits(2, 3);
  nothingToRepeat.Code(1, 2);  // symbol 16 (codes: 0 -> 00, 16 -> 01) with nothing before
  nothingToRepeat.Bits(0, 2);
  DynamicStart(hlit287, true, 30, 0, 15);
  const std::pair<const char*, Bytes> cases[] = {
      {"no CK", Bytes{'C', 'X', 3, 0}},
      {"block type 3", FixedBlock([](BitWriter& w) { w.Bits(3, 2); })},
      {"distance before the start", FixedBlock([&](BitWriter& w) {
         f.Literal(w, 'a');
         f.Match(w, 3, 2);
         f.End(w);
       })},
      {"distance code 30", FixedBlock([&](BitWriter& w) {
         f.Literal(w, 'a');
         f.Match(w, 3, 1);
         w.Code(f.lit[257], 7);
         w.Code(30, 5);
         f.End(w);
       })},
      {"length symbol 286", FixedBlock([](BitWriter& w) { w.Code(0xC6, 8); })},
      {"no end of block", FixedBlock([&](BitWriter& w) { f.Literal(w, 'a'); })},
      {"output longer than the block", FixedBlock([&](BitWriter& w) {
         for (int i = 0; i < 9; ++i) f.Literal(w, 'a');
         f.End(w);
       })},
      {"stored length not complemented", StoredBlock("abcd", 4, 0xFEFB)},
      {"over-subscribed code lengths", Cat(Ck(), overSubscribed.Finish())},
      {"repeat with nothing to repeat", Cat(Ck(), nothingToRepeat.Finish())},
      {"no end code", Cat(Ck(), noEndCode.Finish())},
      {"HLIT 287", Cat(Ck(), hlit287.Finish())},
  };
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
