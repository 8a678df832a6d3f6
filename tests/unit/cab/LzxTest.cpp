// LZX codec on hand-built uncompressed blocks: the block header, the 16-bit
// alignment and pad byte, blocks spanning frames, and the E8 translation.
#include <gtest/gtest.h>

#include <string>

#include "install/cab/Decompressor.h"
#include "tests/unit/cab/CabTestSupport.h"

namespace {

using Bytes = std::vector<uint8_t>;

using cabtest::WordWriter;

void UncompressedHeader(WordWriter& w, uint32_t size) {
  w.Bits(3, 3);
  w.Bits(size >> 8, 16);
  w.Bits(size & 0xFF, 8);
  w.AlignForRaw();
  w.Raw32(1);
  w.Raw32(1);
  w.Raw32(1);
}

std::string Decode(cab::Decompressor& d, const Bytes& in, size_t outSize, cab::CodecStatus* st) {
  std::string out(outSize, '\0');
  *st = d.DecodeBlock(in.data(), in.size(), reinterpret_cast<uint8_t*>(&out[0]), outSize);
  return out;
}

TEST(Lzx, WindowSizes) {
  for (int bits = 10; bits <= 24; ++bits) {
    SCOPED_TRACE(bits);
    EXPECT_EQ(cab::MakeLzxDecompressor(bits) != nullptr, bits >= 15 && bits <= 21);
  }
}

TEST(Lzx, UncompressedBlocksWithPadByte) {
  auto d = cab::MakeLzxDecompressor(16);
  WordWriter w;
  w.Bits(0, 1);  // no E8 translation
  UncompressedHeader(w, 5);
  w.Raw("odd!!");
  w.Raw("\xEE");  // pad byte after an odd-sized block
  // The next block header follows on the word boundary.
  UncompressedHeader(w, 4);
  w.Raw("even");
  cab::CodecStatus st;
  EXPECT_EQ(Decode(*d, w.Take(), 9, &st), "odd!!even");
  EXPECT_EQ(st, cab::CodecStatus::kOk);
}

TEST(Lzx, UncompressedBlockSpansFrames) {
  auto d = cab::MakeLzxDecompressor(15);
  std::string a(cab::kMaxBlockBytes, 'a');
  WordWriter w;
  w.Bits(0, 1);
  UncompressedHeader(w, cab::kMaxBlockBytes + 3);
  w.Raw(a);
  cab::CodecStatus st;
  EXPECT_EQ(Decode(*d, w.Take(), a.size(), &st), a);
  ASSERT_EQ(st, cab::CodecStatus::kOk);
  // The second frame carries the rest of the block, its pad, then a new block.
  w.Raw("bcd");
  w.Raw(std::string(1, '\0'));
  UncompressedHeader(w, 2);
  w.Raw("ef");
  EXPECT_EQ(Decode(*d, w.Take(), 5, &st), "bcdef");
  EXPECT_EQ(st, cab::CodecStatus::kOk);
}

TEST(Lzx, E8TranslationOfCallTargets) {
  auto d = cab::MakeLzxDecompressor(16);
  WordWriter w;
  w.Bits(1, 1);  // E8 translation on, file size 0x10000
  w.Bits(0x0001, 16);
  w.Bits(0x0000, 16);
  // At offset 5 a CALL whose stored target is the absolute 100; the output
  // holds the relative 95. An absolute target beyond the size stays.
  std::string data = "12345";
  data += '\xE8';
  data += std::string("\x64\x00\x00\x00", 4);
  data += '\xE8';
  data += std::string("\x00\x00\x02\x00", 4);
  data += "tail-bytes";
  UncompressedHeader(w, static_cast<uint32_t>(data.size()));
  w.Raw(data);
  cab::CodecStatus st;
  std::string out = Decode(*d, w.Take(), data.size(), &st);
  ASSERT_EQ(st, cab::CodecStatus::kOk);
  std::string want = data;
  want[6] = 95;
  EXPECT_EQ(out, want);
}

TEST(Lzx, DamagedBlocksFail) {
  struct Case {
    const char* what;
    Bytes in;
  };
  std::vector<Case> cases;
  {
    WordWriter w;
    w.Bits(0, 1);
    UncompressedHeader(w, 20);
    w.Raw("short");
    cases.push_back({"raw bytes missing", w.Take()});
  }
  {
    WordWriter w;
    w.Bits(0, 1);
    w.Bits(0, 3);  // block type 0
    w.Bits(0, 24);
    cases.push_back({"block type 0", w.Take()});
  }
  {
    WordWriter w;
    w.Bits(0, 1);
    w.Bits(5, 3);
    w.Bits(0, 24);
    cases.push_back({"block type 5", w.Take()});
  }
  {
    // A verbatim block whose pretree is all zeros cannot code anything.
    WordWriter w;
    w.Bits(0, 1);
    w.Bits(1, 3);
    w.Bits(0, 16);
    w.Bits(8, 8);
    for (int i = 0; i < 20; ++i) w.Bits(0, 4);
    w.Bits(0, 16);
    cases.push_back({"empty pretree", w.Take()});
  }
  cases.push_back({"nothing", Bytes{}});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto d = cab::MakeLzxDecompressor(16);
    cab::CodecStatus st;
    Decode(*d, c.in, 8, &st);
    EXPECT_EQ(st, cab::CodecStatus::kCorrupt);
  }
}

}  // namespace
