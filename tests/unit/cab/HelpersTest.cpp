// The small helpers of the decoder core: member-name safety and the Huffman
// table builder. (The data-block checksum and the MD5 are checked by every
// reference cabinet, which carries real checksums and has its digest listed.)
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "install/cab/HuffmanTable.h"
#include "install/cab/MemberName.h"

namespace {

TEST(MemberNames, SafeAndUnsafe) {
  const struct {
    const char* name;
    bool safe;
  } cases[] = {
      {"file.txt", true},        {"sub\\file.txt", true},  {"a\\b\\c.dll", true},
      {"..x", true},             {"x..", true},            {".hidden", true},
      {"", false},               {"..", false},            {"..\\x", false},
      {"a\\..\\b", false},       {"a/../b", false},        {".", false},
      {"a\\.\\b", false},        {"...", false},           {". .", false},
      {"\\x", false},            {"/x", false},            {"\\\\srv\\share", false},
      {"C:x", false},            {"C:\\x", false},         {"file.txt:stream", false},
      {"a\\", false},            {"a\\\\b", false},        {"bad\x01name", false},
      // Device names, in any case, with an extension, as a folder part.
      {"CON", false},            {"nul", false},           {"Aux.txt", false},
      {"prn.", false},           {"COM1", false},          {"lpt9.log", false},
      {"CONIN$", false},         {"conout$", false},       {"sub\\NUL\\x.txt", false},
      {"con \\x", false},       {"COM0", true},           {"COM10", true},
      {"console.txt", true},     {"nully", true},          {"LPT", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(cab::IsSafeMemberName(c.name), c.safe);
  }
}

// Reads the code `code` of `len` bits (first bit sent first) through the
// table as a decoder does: root index, then the second-level index, each
// packed in the table's bit order. Gives the entry it ends on.
uint32_t Lookup(const cab::HuffmanTable& t, uint32_t code, int len, bool lsbFirst) {
  int pos = 0;
  auto take = [&](int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i, ++pos) {
      const uint32_t bit = pos < len ? (code >> (len - 1 - pos)) & 1 : 0;
      v |= lsbFirst ? bit << i : bit << (n - 1 - i);
    }
    return v;
  };
  uint32_t e = t.entries.at(take(t.rootBits));
  if (cab::HuffKind(e) == cab::kHuffLink)
    e = t.entries.at(cab::HuffValue(e) + take(static_cast<int>(cab::HuffLength(e))));
  return e;
}

bool Reads(const cab::HuffmanTable& t, uint32_t code, int len, bool lsbFirst, int symbol) {
  const uint32_t e = Lookup(t, code, len, lsbFirst);
  return cab::HuffKind(e) == cab::kHuffSymbol && static_cast<int>(cab::HuffLength(e)) == len &&
         static_cast<int>(cab::HuffValue(e)) == symbol;
}

// MSZIP reads codes least significant bit first, LZX most significant first.
// Long codes go through second-level tables; over-subscribed lengths are
// refused; the unused codes of an incomplete code read as invalid.
TEST(HuffmanTable, BothBitOrders) {
  // Lengths 1, 2, ..., 15, 16, 16: a complete, maximally skewed code.
  std::vector<uint8_t> lens;
  for (int l = 1; l <= 16; ++l) lens.push_back(static_cast<uint8_t>(l));
  lens.push_back(16);
  // Codes "0", "10" and "1100000": "111" and "1100001" are unused, in the
  // root and in a second-level table.
  const uint8_t incomplete[4] = {1, 2, 0, 7};
  const uint8_t over[3] = {1, 1, 1};
  const uint8_t tooLong[2] = {17, 1};
  for (bool lsb : {false, true}) {
    SCOPED_TRACE(lsb ? "lsb first" : "msb first");
    cab::HuffmanTable t;
    ASSERT_TRUE(cab::BuildHuffmanTable(lens.data(), static_cast<int>(lens.size()), 6, lsb, &t));
    // Canonical codes: symbol k (k < 16) is k ones then a zero.
    for (int s = 0; s < 16; ++s) EXPECT_TRUE(Reads(t, ((1u << s) - 1) << 1, s + 1, lsb, s)) << s;
    EXPECT_TRUE(Reads(t, 0xFFFF, 16, lsb, 16));

    ASSERT_TRUE(cab::BuildHuffmanTable(incomplete, 4, 4, lsb, &t));
    EXPECT_TRUE(Reads(t, 0x60, 7, lsb, 3));
    EXPECT_EQ(cab::HuffKind(Lookup(t, 0x7, 3, lsb)), cab::kHuffInvalid);
    EXPECT_EQ(cab::HuffKind(Lookup(t, 0x61, 7, lsb)), cab::kHuffInvalid);

    EXPECT_FALSE(cab::BuildHuffmanTable(over, 3, 4, lsb, &t));
    EXPECT_FALSE(cab::BuildHuffmanTable(tooLong, 2, 4, lsb, &t));
  }
}

}  // namespace
