// Every reference cabinet gives the result listed in EXPECTED.txt: members,
// bytes and MD5 for a good one, a refusal for a damaged one.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "install/cab/Decompressor.h"
#include "install/cab/Md5.h"
#include "tests/unit/cab/CabTestSupport.h"
#include "tests/unit/cab/ReferenceData.h"

namespace {

using cabtest::Bytes;

struct Expected {
  std::string name;
  bool ok = false;
  int members = 0;
  uint64_t bytes = 0;
  std::string md5;
};

std::vector<Expected> ReadExpected() {
  std::vector<Expected> out;
  std::ifstream in(cabtest::TestDataPath("EXPECTED.txt"));
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream ls(line);
    Expected e;
    std::string result;
    ls >> e.name >> result;
    e.ok = result == "ok";
    if (e.ok) ls >> e.members >> e.bytes >> e.md5;
    out.push_back(e);
  }
  return out;
}

// The members of a set are looked up by the names in the headers; the shared
// folder holds them all.
std::map<std::string, Bytes> SetOf(const std::string& first) {
  std::map<std::string, Bytes> set;
  if (first.rfind("cabd_multi_basic_", 0) == 0)
    for (int i = 2; i <= 5; ++i) {
      std::string n = "cabd_multi_basic_pt" + std::to_string(i) + ".cab";
      set[n] = cabtest::ReadReference(n);
    }
  return set;
}

TEST(ReferenceCabinets, MatchExpectedResults) {
  std::vector<Expected> all = ReadExpected();
  ASSERT_GE(all.size(), 40u) << "EXPECTED.txt not found or short: " << TESTDATA_DIR;
  for (const Expected& e : all) {
    SCOPED_TRACE(e.name);
    if (e.name == "mszip_lzx_qtm.cab") continue;  // its own test below
    Bytes cab = cabtest::ReadReference(e.name);
    ASSERT_FALSE(cab.empty());
    cabtest::DecodeResult r = cabtest::DecodeBytes(cab, SetOf(e.name));
    if (e.ok) {
      EXPECT_EQ(r.error, cab::CabError::kNone);
      EXPECT_EQ(r.members, e.members);
      EXPECT_EQ(r.bytes, e.bytes);
      EXPECT_EQ(r.md5, e.md5);
    } else {
      EXPECT_NE(r.error, cab::CabError::kNone);
    }
  }
}

// Damaged cabinets give the code that names their defect.
TEST(ReferenceCabinets, DamagedOnesGiveTheirErrorCode) {
  const struct {
    const char* name;
    cab::CabError error;
  } cases[] = {
      {"bad_signature.cab", cab::CabError::kNotACabinet},
      {"search.cab", cab::CabError::kNotACabinet},
      {"bad_folderindex.cab", cab::CabError::kCorruptCabinet},
      {"bad_nofiles.cab", cab::CabError::kCorruptCabinet},
      {"bad_nofolders.cab", cab::CabError::kCorruptCabinet},
      {"partial_shortheader.cab", cab::CabError::kCorruptCabinet},
      {"partial_nodata.cab", cab::CabError::kCorruptCabinet},
      {"partial_str_shortfname.cab", cab::CabError::kCorruptCabinet},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(cabtest::DecodeBytes(cabtest::ReadReference(c.name)).error,
              c.error);
  }
}

TEST(ReferenceCabinets, MszipLzxQuantumFolders) {
  Bytes cab = cabtest::ReadReference("mszip_lzx_qtm.cab");
  cabtest::DecodeResult r = cabtest::DecodeBytes(cab);
  EXPECT_EQ(r.error, cab::CabError::kNone);
  EXPECT_EQ(r.members, 3);
  EXPECT_EQ(r.bytes, 303u);
  EXPECT_EQ(r.md5, "860a2b0c36625cabd79df2f2efb3b83c");
}

// Entering a set in the middle: members begun earlier are partial and left
// out, nothing is invented.
TEST(ReferenceCabinets, SetEnteredInTheMiddleSkipsPartialMembers) {
  Bytes pt5 = cabtest::ReadReference("cabd_multi_basic_pt5.cab");
  cabtest::DecodeResult r = cabtest::DecodeBytes(pt5);
  EXPECT_EQ(r.error, cab::CabError::kNone);
  EXPECT_EQ(r.members, 0);
}

TEST(ReferenceCabinets, MissingNextCabinetIsNotFound) {
  Bytes pt1 = cabtest::ReadReference("cabd_multi_basic_pt1.cab");
  EXPECT_EQ(cabtest::DecodeBytes(pt1).error, cab::CabError::kCabinetNotFound);
}

}  // namespace
