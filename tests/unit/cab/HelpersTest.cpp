// The small helpers of the decoder core: member-name safety and the Huffman
// table builder. (The data-block checksum and the MD5 are checked by every
// reference cabinet, which carries real checksums and has its digest listed;
// long codes by the reference cabinets' LZX folders.)
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
      {"sub\\file.txt", true}, {"..x", true},        {".hidden", true},     {"", false},
      {"..", false},           {"..\\x", false},     {"a\\..\\b", false},   {"a/../b", false},
      {".", false},            {"...", false},       {". .", false},        {"\\x", false},
      {"/x", false},           {"C:x", false},       {"file.txt:stream", false},
      {"a\\", false},          {"a\\\\b", false},    {"bad\x01name", false},
      // Device names, in any case, with an extension, as a folder part.
      {"CON", false},          {"nul", false},       {"Aux.txt", false},    {"prn.", false},
      {"lpt9.log", false},     {"CONIN$", false},    {"sub\\NUL\\x.txt", false},
      {"con \\x", false},      {"COM0", true},       {"COM10", true},       {"console.txt", true},
      {"LPT", true},
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
// A long code goes through a second-level table; the unused codes of an
// incomplete code read as invalid; over-subscribed lengths are refused.
TEST(HuffmanTable, BothBitOrders) {
  // Codes "0", "10" and "1100000": "111" and "1100001" are unused, in the
  // root and in a second-level table.
  const uint8_t incomplete[4] = {1, 2, 0, 7};
  const uint8_t over[3] = {1, 1, 1};
  const uint8_t tooLong[2] = {17, 1};
  for (bool lsb : {false, true}) {
    SCOPED_TRACE(lsb ? "lsb first" : "msb first");
    cab::HuffmanTable t;
    ASSERT_TRUE(cab::BuildHuffmanTable(incomplete, 4, 4, lsb, &t));
    EXPECT_TRUE(Reads(t, 0x0, 1, lsb, 0));
    EXPECT_TRUE(Reads(t, 0x2, 2, lsb, 1));
    EXPECT_TRUE(Reads(t, 0x60, 7, lsb, 3));
    EXPECT_EQ(cab::HuffKind(Lookup(t, 0x7, 3, lsb)), cab::kHuffInvalid);
    EXPECT_EQ(cab::HuffKind(Lookup(t, 0x61, 7, lsb)), cab::kHuffInvalid);
    EXPECT_FALSE(cab::BuildHuffmanTable(over, 3, 4, lsb, &t));
    EXPECT_FALSE(cab::BuildHuffmanTable(tooLong, 2, 4, lsb, &t));
  }
}

}  // namespace
