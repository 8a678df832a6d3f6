// MSZIP codec on hand-built deflate streams: stored and fixed-code blocks,
// history carried across data blocks, invalid and truncated streams. Dynamic
// blocks come with the reference cabinets, which a real compressor made.
#include <gtest/gtest.h>

#include <string>

#include "install/cab/Decompressor.h"
#include "tests/unit/cab/CabTestSupport.h"

namespace {

using cabtest::Bytes;
using cabtest::RunCodec;

// Deflate bit writer: fields least significant bit first, Huffman codes
// most significant bit first. Starts with the "CK" of every MSZIP block.
class BitWriter {
 public:
  BitWriter() : out_(2, 'C') { out_[1] = 'K'; }
  void Bits(uint32_t value, int n) {
    for (int i = 0; i < n; ++i) Bit((value >> i) & 1);
  }
  void Code(uint32_t code, int len) {
    for (int i = len - 1; i >= 0; --i) Bit((code >> i) & 1);
  }
  Bytes Finish() { return out_; }

 private:
  void Bit(uint32_t b) {
    if (fill_ == 0) out_.push_back(0);
    out_.back() |= static_cast<uint8_t>(b << fill_);
    fill_ = (fill_ + 1) & 7;
  }
  Bytes out_;
  int fill_ = 0;
};

// The fixed code: literals, end of block, and the matches these tests use.
struct Fixed {
  std::vector<uint8_t> len = std::vector<uint8_t>(288, 8);
  std::vector<uint32_t> code;
  Fixed() {
    std::fill(len.begin() + 144, len.begin() + 256, 9);
    std::fill(len.begin() + 256, len.begin() + 280, 7);
    code = cabtest::CanonicalCodes(len);
  }
  void Literal(BitWriter& w, int c) const { w.Code(code[c], len[c]); }
  void End(BitWriter& w) const { w.Code(code[256], len[256]); }
  void Match(BitWriter& w, int length, int distance) const {
    static const int kBase[] = {3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 15, 17, 19, 23, 27,
                                31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
    int i = 28;
    while (kBase[i] > length) --i;
    w.Code(code[257 + i], len[257 + i]);
    w.Bits(static_cast<uint32_t>(length - kBase[i]), i < 8 || i == 28 ? 0 : (i - 4) / 4);
    int d = 0, base = 1, extra = 0;
    for (; d < 30; ++d) {
      extra = d < 4 ? 0 : (d - 2) / 2;
      if (distance < base + (1 << extra)) break;
      base += 1 << extra;
    }
    w.Code(static_cast<uint32_t>(d), 5);
    w.Bits(static_cast<uint32_t>(distance - base), extra);
  }
};

// A final stored block with LEN and NLEN as given.
Bytes StoredBlock(const std::string& data, uint16_t len, uint16_t nlen) {
  BitWriter w;
  w.Bits(1, 3);
  Bytes b = w.Finish();
  for (uint16_t v : {len, nlen}) b.insert(b.end(), {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)});
  b.insert(b.end(), data.begin(), data.end());
  return b;
}

// A final fixed-code block whose body `body` writes.
template <typename Body>
Bytes FixedBlock(Body body) {
  BitWriter w;
  w.Bits(3, 3);
  body(w);
  return w.Finish();
}

// A stored block of a whole frame, then a fixed block with overlapping
// matches, a 9-bit literal, the longest match, and matches into the
// previous block up to its very start. After Reset the history is gone.
TEST(Mszip, StoredAndFixedBlocksShareTheHistory) {
  auto d = cab::MakeMszipDecompressor();
  cab::CodecStatus st;
  std::string first(cab::kMaxBlockBytes, '.');
  first.replace(first.size() - 10, 10, "0123456789");
  const uint16_t n = static_cast<uint16_t>(first.size());
  ASSERT_EQ(RunCodec(*d, StoredBlock(first, n, static_cast<uint16_t>(~n)), n, &st), first);
  ASSERT_EQ(st, cab::CodecStatus::kOk);

  const Fixed f;
  const Bytes second = FixedBlock([&](BitWriter& w) {
    f.Match(w, 10, 10);
    f.Match(w, 3, 32768);
    for (char ch : std::string("abc")) f.Literal(w, ch);
    f.Match(w, 9, 3);
    f.Literal(w, 0xF0);
    f.Match(w, 258, 1);
    f.End(w);
  });
  const std::string want = "0123456789..." "abcabcabcabc" + std::string(259, '\xF0');
  EXPECT_EQ(RunCodec(*d, second, want.size(), &st), want);
  EXPECT_EQ(st, cab::CodecStatus::kOk);
  d->Reset();
  RunCodec(*d, second, want.size(), &st);
  EXPECT_EQ(st, cab::CodecStatus::kCorrupt);
}

TEST(Mszip, InvalidStreamsFail) {
  const Fixed f;
  const Bytes good = FixedBlock([&](BitWriter& w) {
    for (char ch : std::string("truncate me")) f.Literal(w, ch);
    f.Match(w, 20, 11);
    f.End(w);
  });
  // Each would give the 31 bytes asked for if its fault went unnoticed.
  std::vector<std::pair<std::string, Bytes>> cases = {
      {"no CK", Bytes{'C', 'X', 3, 0}},
      {"block type 3", [] {
         BitWriter w;
         w.Bits(7, 3);
         return w.Finish();
       }()},
      {"distance before the start", FixedBlock([&](BitWriter& w) {
         f.Literal(w, 'a');
         f.Match(w, 30, 2);
         f.End(w);
       })},
      {"output longer than the block", FixedBlock([&](BitWriter& w) {
         for (int i = 0; i < 32; ++i) f.Literal(w, 'a');
         f.End(w);
       })},
      {"stored length not complemented", StoredBlock(std::string(31, 's'), 31, 31)},
  };
  // Every prefix of a valid block: the zero pad past the end may be looked
  // at, never taken as data.
  for (size_t n = 0; n + 1 < good.size(); ++n)
    cases.push_back({"cut at " + std::to_string(n), Bytes(good.begin(), good.begin() + n)});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    auto d = cab::MakeMszipDecompressor();
    cab::CodecStatus st;
    RunCodec(*d, c.second, 31, &st);
    EXPECT_EQ(st, cab::CodecStatus::kCorrupt);
  }
  auto d = cab::MakeMszipDecompressor();
  cab::CodecStatus st;
  EXPECT_EQ(RunCodec(*d, good, 31, &st), "truncate metruncate metruncate ");
  EXPECT_EQ(st, cab::CodecStatus::kOk);
}

}  // namespace
