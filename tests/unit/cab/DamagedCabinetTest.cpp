// Damaged and hostile cabinets, made from good ones: each must be refused
// with the right code, without crashing, hanging or over-allocating.
#include <gtest/gtest.h>

#include "install/cab/ByteOrder.h"
#include "install/cab/Cabinet.h"
#include "tests/unit/cab/CabTestSupport.h"
#include "tests/unit/cab/ReferenceData.h"

namespace {

using cab::CabError;
using cabtest::Bytes;

// Cut at every byte: the header, the reserve areas, the folder and file
// tables, long names and the data blocks of each codec all end early.
TEST(DamagedCabinet, TruncatedAtEveryByte) {
  for (const char* name : {"simple.cab", "normal_2files_2folders.cab", "reserve_HFD.cab",
                           "dir.cab", "normal_255c_filename.cab", "mszip_lzx_qtm.cab"}) {
    Bytes cab = cabtest::ReadReference(name);
    for (size_t n = 0; n < cab.size(); ++n) {
      SCOPED_TRACE(std::string(name) + " cut at " + std::to_string(n));
      Bytes cut(cab.begin(), cab.begin() + static_cast<long>(n));
      CabError e = cabtest::DecodeBytes(cut).error;
      EXPECT_TRUE(e == CabError::kCorruptCabinet || e == CabError::kNotACabinet)
          << static_cast<int>(e);
    }
  }
}

TEST(DamagedCabinet, FlippedDataByteFailsTheChecksum) {
  Bytes cab = cabtest::StoredCabinet({{"a.txt", "hello, checksummed world"}});
  ASSERT_FALSE(cab.empty());
  size_t block = cabtest::FirstDataBlock(cab, 0);
  ASSERT_NE(cab::ReadLe32(cab.data() + block), 0u);
  ASSERT_EQ(cabtest::DecodeBytes(cab).error, CabError::kNone);
  for (size_t i = block + 8; i < cab.size(); ++i) {
    SCOPED_TRACE(i);
    Bytes bad = cab;
    bad[i] ^= 0x10;
    EXPECT_EQ(cabtest::DecodeBytes(bad).error, CabError::kCorruptCabinet);
  }
  // A zero checksum means "not computed": the same damage then goes through.
  Bytes unchecked = cab;
  cab::WriteLe32(unchecked.data() + block, 0);
  unchecked[block + 8] ^= 0x10;
  EXPECT_EQ(cabtest::DecodeBytes(unchecked).error, CabError::kNone);
}

TEST(DamagedCabinet, HostileCountsAndSizes) {
  Bytes good = cabtest::StoredCabinet({{"a", "abc"}});
  struct Patch {
    const char* what;
    size_t at;
    std::vector<uint8_t> bytes;
    CabError error;
  };
  const Patch patches[] = {
      {"60000 folders", 26, {0x60, 0xEA}, CabError::kCorruptCabinet},
      {"65535 files", 28, {0xFF, 0xFF}, CabError::kCorruptCabinet},
      {"files offset past the end", 16, {0xFF, 0xFF, 0xFF, 0x7F}, CabError::kCorruptCabinet},
      {"version 1.4", 24, {4, 1}, CabError::kUnknownVersion},
      {"version 2.3", 24, {3, 2}, CabError::kUnknownVersion},
      // The folder's compression type (after the 36-byte header and the
      // folder's data offset and block count): type 4 and up, and windows
      // outside what the codecs support (LZX 2^15..2^21, Quantum 2^10..2^21).
      {"type 4", 42, {0x04, 0x00}, CabError::kBadCompressionType},
      {"type 15", 42, {0x0F, 0x00}, CabError::kBadCompressionType},
      {"LZX 2^14", 42, {0x03, 0x0E}, CabError::kBadCompressionType},
      {"LZX 2^22", 42, {0x03, 0x16}, CabError::kBadCompressionType},
      {"Quantum 2^9", 42, {0x02, 0x09}, CabError::kBadCompressionType},
      {"Quantum 2^22", 42, {0x02, 0x16}, CabError::kBadCompressionType},
  };
  for (const Patch& p : patches) {
    SCOPED_TRACE(p.what);
    Bytes bad = good;
    std::copy(p.bytes.begin(), p.bytes.end(), bad.begin() + static_cast<long>(p.at));
    EXPECT_EQ(cabtest::DecodeBytes(bad).error, p.error);
  }

  // Reserve areas: above the published maximum, or larger than the file.
  for (uint16_t reserve : {60001, 65535, 59999}) {
    SCOPED_TRACE(reserve);
    cabtest::BuildCabinet c;
    c.reserve = true;
    c.headerReserve = 16;
    c.folders.push_back({0, {{Bytes{'x'}, 1}}});
    c.files.push_back({"x", 1, 0, 0});
    Bytes cab = cabtest::Build(c);
    ASSERT_EQ(cabtest::DecodeBytes(cab).error, CabError::kNone);
    cab[36] = static_cast<uint8_t>(reserve);
    cab[37] = static_cast<uint8_t>(reserve >> 8);
    EXPECT_EQ(cabtest::DecodeBytes(cab).error, CabError::kCorruptCabinet);
  }

  // A data block claiming more than the decoder's block limits.
  for (uint16_t uncompressed : {32769, 65535}) {
    cabtest::BuildCabinet c;
    c.folders.push_back({0, {{Bytes(8, 'z'), uncompressed}}});
    c.files.push_back({"z", 8, 0, 0});
    EXPECT_EQ(cabtest::DecodeBytes(cabtest::Build(c)).error, CabError::kCorruptCabinet);
  }

  // A member reaching past the end of its folder's data.
  cabtest::BuildCabinet c;
  c.folders.push_back({0, {{Bytes(8, 'z'), 8}}});
  c.files.push_back({"z", 9, 0, 0});
  EXPECT_EQ(cabtest::DecodeBytes(cabtest::Build(c)).error, CabError::kCorruptCabinet);
  // Stored data whose compressed and uncompressed sizes differ.
  c.folders[0].blocks[0].uncompressed = 7;
  c.files[0].size = 7;
  EXPECT_EQ(cabtest::DecodeBytes(cabtest::Build(c)).error, CabError::kDecompressorFailure);
}

// A two-cabinet set: one member spans the cabinets, and a data block is
// split between them.
std::pair<cabtest::BuildCabinet, cabtest::BuildCabinet> SpanningSet() {
  cabtest::BuildCabinet a, b;
  a.flags = cab::kFlagNextCabinet;
  a.next = "two.cab";
  a.nextDisk = "disk 2";
  std::string text = "0123456789abcdefghij";
  // Block 1 whole in cabinet one; block 2 split 5 + 5 bytes.
  a.folders.push_back({0, {{Bytes(text.begin(), text.begin() + 10), 10},
                           {Bytes(text.begin() + 10, text.begin() + 15), 0}}});
  a.files.push_back({"first", 4, 0, 0});
  a.files.push_back({"span", 14, 4, cab::kFolderContinuedToNext});
  b.flags = cab::kFlagPrevCabinet;
  b.prev = "one.cab";
  b.prevDisk = "disk 1";
  b.index = 1;
  b.folders.push_back({0, {{Bytes(text.begin() + 15, text.end()), 10}}});
  b.files.push_back({"span", 14, 4, cab::kFolderContinuedFromPrev});
  b.files.push_back({"last", 2, 18, 0});
  return {a, b};
}

// The set as built reads whole; a next cabinet of another set, out of
// order, or with another data reserve is refused, and so is a block split
// again with no cabinet after.
TEST(CabinetSet, SpanningMembersAndWrongNextCabinets) {
  const struct {
    const char* what;
    uint16_t setId, index;
    uint8_t dataReserve;
    uint16_t lastBlockSize;
    CabError error;
  } cases[] = {
      {"the set as built", 0x4242, 1, 0, 10, CabError::kNone},
      {"other set id", 0x4243, 1, 0, 10, CabError::kWrongCabinet},
      {"same index", 0x4242, 0, 0, 10, CabError::kWrongCabinet},
      {"index skipped", 0x4242, 2, 0, 10, CabError::kWrongCabinet},
      {"other data reserve", 0x4242, 1, 4, 10, CabError::kReserveMismatch},
      {"split block that never ends", 0x4242, 1, 0, 0, CabError::kCorruptCabinet},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto set = SpanningSet();
    set.second.setId = c.setId;
    set.second.index = c.index;
    set.second.reserve = c.dataReserve != 0;
    set.second.dataReserve = c.dataReserve;
    set.second.folders[0].blocks[0].uncompressed = c.lastBlockSize;
    cabtest::DecodeResult r =
        cabtest::DecodeBytes(cabtest::Build(set.first), {{"two.cab", cabtest::Build(set.second)}});
    EXPECT_EQ(r.error, c.error);
    if (c.error == CabError::kNone) {
      EXPECT_EQ(r.names, (std::vector<std::string>{"first", "span", "last"}));
      EXPECT_EQ(r.data, "0123" "456789abcdefgh" "ij");
    }
  }
}

// Which names are unsafe is HelpersTest's table; here the extraction path
// must refuse one before any of its bytes go out, and let safe ones through.
TEST(MemberNames, UnsafeNamesAreRefusedByTheExtractionPath) {
  Bytes cab = cabtest::StoredCabinet({{"fine.txt", "ok"}, {"..\\evil.txt", "bad"}});
  cabtest::DecodeResult r = cabtest::DecodeBytes(cab, {}, true);
  EXPECT_EQ(r.error, CabError::kTargetFile);
  EXPECT_EQ(r.names, std::vector<std::string>{"fine.txt"});
  EXPECT_EQ(r.data, "ok");
  // Decoding without writing (the test mode) yields the stored bytes.
  EXPECT_EQ(cabtest::DecodeBytes(cab).error, CabError::kNone);
  // A name field that begins with its terminating zero: the cabinet is
  // damaged, in the test mode too, and nothing of it is written.
  Bytes unnamed = cabtest::StoredCabinet({{"fine.txt", "ok"}, {"", "bad"}});
  r = cabtest::DecodeBytes(unnamed, {}, true);
  EXPECT_EQ(r.error, CabError::kCorruptCabinet);
  EXPECT_TRUE(r.names.empty());
  EXPECT_EQ(cabtest::DecodeBytes(unnamed).error, CabError::kCorruptCabinet);
  Bytes good = cabtest::StoredCabinet({{"sub\\file.txt", "ok"}, {"x.y.z", "also"}});
  EXPECT_EQ(cabtest::DecodeBytes(good, {}, true).error, CabError::kNone);
}

}  // namespace
