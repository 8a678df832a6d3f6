// The cabinet container: every reference cabinet gives the result listed in
// EXPECTED.txt (members, bytes and MD5 for a good one, a refusal for a
// damaged one); damaged and hostile cabinets made from good ones are refused
// with the right code, without crashing, hanging or over-allocating; sets;
// the member names the extraction path refuses.
#include <gtest/gtest.h>

#include "install/cab/ByteOrder.h"
#include "install/cab/Cabinet.h"
#include "tests/unit/cab/CabTestSupport.h"

namespace {

using cab::CabError;
using cabtest::Bytes;
using cabtest::DecodeBytes;

// A file that is missing fails the test with its name instead of handing on
// no bytes.
Bytes ReadReference(const std::string& name) {
  Bytes bytes = cabtest::ReadFileBytes(cabtest::TestDataPath(name));
  if (bytes.empty()) ADD_FAILURE() << "missing or empty test data file: " << name;
  return bytes;
}

TEST(ReferenceCabinets, MatchExpectedResults) {
  // Damaged cabinets whose defect has a code of its own; the others need
  // only be refused.
  const std::map<std::string, CabError> codes = {
      {"bad_signature.cab", CabError::kNotACabinet},
      {"search.cab", CabError::kNotACabinet},
      {"bad_folderindex.cab", CabError::kCorruptCabinet},
      {"bad_nofiles.cab", CabError::kCorruptCabinet},
      {"bad_nofolders.cab", CabError::kCorruptCabinet},
      {"partial_shortheader.cab", CabError::kCorruptCabinet},
      {"partial_nodata.cab", CabError::kCorruptCabinet},
      {"partial_str_shortfname.cab", CabError::kCorruptCabinet},
  };
  // The later cabinets of a set are looked up by the names in the headers.
  std::map<std::string, Bytes> set;
  for (int i = 2; i <= 5; ++i) {
    const std::string n = "cabd_multi_basic_pt" + std::to_string(i) + ".cab";
    set[n] = ReadReference(n);
  }
  const std::vector<cabtest::Expected> all = cabtest::ReadExpected();
  ASSERT_GE(all.size(), 40u) << "EXPECTED.txt not found or short: " << TESTDATA_DIR;
  for (const cabtest::Expected& e : all) {
    SCOPED_TRACE(e.name);
    const cabtest::DecodeResult r = DecodeBytes(ReadReference(e.name), set);
    if (e.ok) {
      EXPECT_EQ(r.error, CabError::kNone);
      EXPECT_EQ(r.members, e.members);
      EXPECT_EQ(r.bytes, e.bytes);
      EXPECT_EQ(r.md5, e.md5);
    } else if (codes.count(e.name)) {
      EXPECT_EQ(r.error, codes.at(e.name));
    } else {
      EXPECT_NE(r.error, CabError::kNone);
    }
  }
  // Entering a set in the middle: members begun earlier are partial and left
  // out, nothing is invented. A set whose next cabinet is missing fails.
  const cabtest::DecodeResult middle = DecodeBytes(set["cabd_multi_basic_pt5.cab"]);
  EXPECT_EQ(middle.error, CabError::kNone);
  EXPECT_EQ(middle.members, 0);
  EXPECT_EQ(DecodeBytes(ReadReference("cabd_multi_basic_pt1.cab")).error,
            CabError::kCabinetNotFound);
}

// Cut at every byte: the header, the reserve areas, the folder and file
// tables, long names and the data blocks of each codec all end early.
TEST(DamagedCabinet, TruncatedAtEveryByte) {
  for (const char* name : {"simple.cab", "normal_2files_2folders.cab", "reserve_HFD.cab",
                           "dir.cab", "normal_255c_filename.cab", "mszip_lzx_qtm.cab"}) {
    const Bytes cab = ReadReference(name);
    for (size_t n = 0; n < cab.size(); ++n) {
      SCOPED_TRACE(std::string(name) + " cut at " + std::to_string(n));
      const CabError e = DecodeBytes(Bytes(cab.begin(), cab.begin() + static_cast<long>(n))).error;
      EXPECT_TRUE(e == CabError::kCorruptCabinet || e == CabError::kNotACabinet)
          << static_cast<int>(e);
    }
  }
}

// A flipped data byte fails the block's checksum; a zero checksum means
// "not computed", and the same damage then goes through.
TEST(DamagedCabinet, FlippedDataByteFailsTheChecksum) {
  Bytes cab = cabtest::StoredCabinet({{"a.txt", "hello, checksummed world"}});
  const size_t block = cab::ReadLe32(cab.data() + 36);  // the one folder's first block
  ASSERT_NE(cab::ReadLe32(cab.data() + block), 0u);
  ASSERT_EQ(DecodeBytes(cab).error, CabError::kNone);
  cab[cab.size() - 1] ^= 0x10;
  EXPECT_EQ(DecodeBytes(cab).error, CabError::kCorruptCabinet);
  cab::WriteLe32(cab.data() + block, 0);
  EXPECT_EQ(DecodeBytes(cab).error, CabError::kNone);
}

TEST(DamagedCabinet, HostileCountsAndSizes) {
  const struct {
    const char* what;
    size_t at;
    std::vector<uint8_t> bytes;
    CabError error;
  } patches[] = {
      {"60000 folders", 26, {0x60, 0xEA}, CabError::kCorruptCabinet},
      {"files offset past the end", 16, {0xFF, 0xFF, 0xFF, 0x7F}, CabError::kCorruptCabinet},
      {"version 1.4", 24, {4, 1}, CabError::kUnknownVersion},
      // The folder's compression type (after the 36-byte header and the
      // folder's data offset and block count): type 4, and windows outside
      // what the codecs support (LZX 2^15..2^21, Quantum 2^10..2^21).
      {"type 4", 42, {0x04, 0x00}, CabError::kBadCompressionType},
      {"LZX 2^14", 42, {0x03, 0x0E}, CabError::kBadCompressionType},
      {"LZX 2^22", 42, {0x03, 0x16}, CabError::kBadCompressionType},
      {"Quantum 2^9", 42, {0x02, 0x09}, CabError::kBadCompressionType},
      {"Quantum 2^22", 42, {0x02, 0x16}, CabError::kBadCompressionType},
  };
  for (const auto& p : patches) {
    SCOPED_TRACE(p.what);
    Bytes bad = cabtest::StoredCabinet({{"a", "abc"}});
    std::copy(p.bytes.begin(), p.bytes.end(), bad.begin() + static_cast<long>(p.at));
    EXPECT_EQ(DecodeBytes(bad).error, p.error);
  }

  cabtest::BuildCabinet c;
  // A data block claiming more than the decoder's block limit.
  c.folders.push_back({0, {{Bytes(8, 'z'), 32769}}});
  c.files.push_back({"z", 8, 0, 0});
  EXPECT_EQ(DecodeBytes(cabtest::Build(c)).error, CabError::kCorruptCabinet);
  // A member reaching past the end of its folder's data.
  c.folders[0].blocks[0].uncompressed = 8;
  c.files[0].size = 9;
  EXPECT_EQ(DecodeBytes(cabtest::Build(c)).error, CabError::kCorruptCabinet);
  // Stored data whose compressed and uncompressed sizes differ.
  c.folders[0].blocks[0].uncompressed = 7;
  c.files[0].size = 7;
  EXPECT_EQ(DecodeBytes(cabtest::Build(c)).error, CabError::kDecompressorFailure);
}

// A two-cabinet set: one member spans the cabinets, and its second data
// block is split between them (5 + 5 bytes). It reads whole; a next cabinet
// out of order or with another data reserve is refused, and so is a block
// split again with no cabinet after. (Other set ids and skipped indexes are
// the extraction tests'.)
TEST(CabinetSet, SpanningMembersAndWrongNextCabinets) {
  const struct {
    const char* what;
    uint16_t index;
    uint8_t dataReserve;
    uint16_t lastBlockSize;
    CabError error;
  } cases[] = {
      {"the set as built", 1, 0, 10, CabError::kNone},
      {"same index", 0, 0, 10, CabError::kWrongCabinet},
      {"other data reserve", 1, 4, 10, CabError::kReserveMismatch},
      {"split block that never ends", 1, 0, 0, CabError::kCorruptCabinet},
  };
  const std::string text = "0123456789abcdefghij";
  const auto part = [&](size_t from, size_t to) { return Bytes(text.begin() + from, text.begin() + to); };
  cabtest::BuildCabinet a;
  a.flags = cab::kFlagNextCabinet;
  a.next = "two.cab";
  a.folders.push_back({0, {{part(0, 10), 10}, {part(10, 15), 0}}});
  a.files = {{"first", 4, 0, 0}, {"span", 14, 4, cab::kFolderContinuedToNext}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    cabtest::BuildCabinet b;
    b.flags = cab::kFlagPrevCabinet;
    b.prev = "one.cab";
    b.index = c.index;
    b.reserve = c.dataReserve != 0;
    b.dataReserve = c.dataReserve;
    b.folders.push_back({0, {{part(15, 20), c.lastBlockSize}}});
    b.files = {{"span", 14, 4, cab::kFolderContinuedFromPrev}, {"last", 2, 18, 0}};
    const cabtest::DecodeResult r = DecodeBytes(cabtest::Build(a), {{"two.cab", cabtest::Build(b)}});
    EXPECT_EQ(r.error, c.error);
    if (c.error == CabError::kNone) {
      EXPECT_EQ(r.names, (std::vector<std::string>{"first", "span", "last"}));
      EXPECT_EQ(r.data, text.substr(0, 20));
    }
  }
}

// Which names are unsafe is HelpersTest's table; here the extraction path
// must refuse one before any of its bytes go out, while decoding without
// writing (the test mode) yields the stored bytes. A name field that begins
// with its terminating zero is damage in both modes, and nothing is written.
TEST(MemberNames, UnsafeNamesAreRefusedByTheExtractionPath) {
  const Bytes cab = cabtest::StoredCabinet({{"fine.txt", "ok"}, {"..\\evil.txt", "bad"}});
  cabtest::DecodeResult r = DecodeBytes(cab, {}, true);
  EXPECT_EQ(r.error, CabError::kTargetFile);
  EXPECT_EQ(r.names, std::vector<std::string>{"fine.txt"});
  EXPECT_EQ(r.data, "ok");
  EXPECT_EQ(DecodeBytes(cab).error, CabError::kNone);
  const Bytes unnamed = cabtest::StoredCabinet({{"fine.txt", "ok"}, {"", "bad"}});
  r = DecodeBytes(unnamed, {}, true);
  EXPECT_EQ(r.error, CabError::kCorruptCabinet);
  EXPECT_TRUE(r.names.empty());
  EXPECT_EQ(DecodeBytes(unnamed).error, CabError::kCorruptCabinet);
}

}  // namespace
