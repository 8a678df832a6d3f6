// The small helpers of the decoder core: member-name safety, the data-block
// checksum, the MD5 of the tool, the Huffman table builder.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>

#include "install/cab/CabError.h"
#include "install/cab/Checksum.h"
#include "install/cab/HuffmanTable.h"
#include "install/cab/Md5.h"
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

TEST(Checksum, TailBytesArePackedHighFirst) {
  const uint8_t data[7] = {1, 2, 3, 4, 5, 6, 7};
  // One word 0x04030201, then the tail 5,6,7 as 0x00050607.
  EXPECT_EQ(cab::CabChecksum(data, 7, 0), 0x04030201u ^ 0x00050607u);
  EXPECT_EQ(cab::CabChecksum(data, 5, 0), 0x04030201u ^ 0x05u);
  EXPECT_EQ(cab::CabChecksum(data, 6, 0x10), 0x04030201u ^ 0x0506u ^ 0x10u);
  EXPECT_EQ(cab::CabChecksum(data, 0, 0x1234), 0x1234u);
}

TEST(Md5, KnownDigests) {
  const struct {
    std::string in;
    const char* md5;
  } cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"The quick brown fox jumps over the lazy dog", "9e107d9d372bb6826bd81d3542a419d6"},
      {std::string(1000, 'a'), "cabe45dcc9ae5b66ba86600cca6b8ba8"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in.substr(0, 20));
    cab::Md5 whole;
    whole.Update(c.in.data(), c.in.size());
    EXPECT_EQ(whole.HexDigest(), c.md5);
    // Fed in uneven pieces, the digest is the same.
    cab::Md5 parts;
    for (size_t at = 0; at < c.in.size(); at += 7) parts.Update(c.in.data() + at, std::min<size_t>(7, c.in.size() - at));
    EXPECT_EQ(parts.HexDigest(), c.md5);
  }
}

// Walks a code through the table bit by bit, as a decoder would.
int DecodeMsb(const cab::HuffmanTable& t, uint32_t code, int len) {
  uint32_t bits = code << (32 - len);  // left-aligned
  uint32_t e = t.entries[bits >> (32 - t.rootBits)];
  if (cab::HuffKind(e) == cab::kHuffLink) {
    uint32_t w = cab::HuffLength(e);
    e = t.entries[cab::HuffValue(e) + ((bits >> (32 - t.rootBits - w)) & ((1u << w) - 1))];
  }
  if (cab::HuffKind(e) != cab::kHuffSymbol || static_cast<int>(cab::HuffLength(e)) != len) return -1;
  return static_cast<int>(cab::HuffValue(e));
}

TEST(HuffmanTable, LongCodesUseSecondLevelTables) {
  // Lengths 1, 2, ..., 15, 16, 16: a complete, maximally skewed code.
  std::vector<uint8_t> lens;
  for (int l = 1; l <= 16; ++l) lens.push_back(static_cast<uint8_t>(l));
  lens.push_back(16);
  cab::HuffmanTable t;
  ASSERT_TRUE(cab::BuildHuffmanTable(lens.data(), static_cast<int>(lens.size()), 6, false, &t));
  // Canonical codes: symbol k (k < 16) is k ones then a zero.
  for (int s = 0; s < 16; ++s) {
    SCOPED_TRACE(s);
    uint32_t code = ((1u << s) - 1) << 1;
    EXPECT_EQ(DecodeMsb(t, code, s + 1), s);
  }
  EXPECT_EQ(DecodeMsb(t, 0xFFFF, 16), 16);
  EXPECT_EQ(DecodeMsb(t, 0xFFFE, 16), 15);
}

TEST(HuffmanTable, RefusesOverSubscribedAcceptsIncomplete) {
  const uint8_t over[3] = {1, 1, 1};
  const uint8_t incomplete[3] = {1, 0, 2};
  const uint8_t tooLong[2] = {17, 1};
  cab::HuffmanTable t;
  EXPECT_FALSE(cab::BuildHuffmanTable(over, 3, 4, true, &t));
  EXPECT_FALSE(cab::BuildHuffmanTable(tooLong, 2, 4, true, &t));
  ASSERT_TRUE(cab::BuildHuffmanTable(incomplete, 3, 4, false, &t));
  // Codes: 0 -> "0", 2 -> "10"; "11" is unused and must read as invalid.
  EXPECT_EQ(cab::HuffKind(t.entries[0xC]), cab::kHuffInvalid);
  EXPECT_EQ(cab::HuffValue(t.entries[0x8]), 2u);
}

TEST(CabErrors, EveryCodeHasItsOwnText) {
  std::set<std::string> texts;
  for (int c = 0; c <= 11; ++c) texts.insert(cab::CabErrorText(static_cast<cab::CabError>(c)));
  EXPECT_EQ(texts.size(), 12u);
  EXPECT_EQ(cab::CabErrorCode(cab::CabError::kWrongCabinet), 10);
}

}  // namespace
