// Every reference cabinet gives the result listed in EXPECTED.txt: members,
// bytes and MD5 for a good one, a refusal for a damaged one.
#include <gtest/gtest.h>

#include "tests/unit/cab/CabTestSupport.h"
#include "tests/unit/cab/ReferenceData.h"

namespace {

using cab::CabError;
using cabtest::Bytes;

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
  const std::vector<cabtest::Expected> all = cabtest::ReadExpected();
  ASSERT_GE(all.size(), 40u) << "EXPECTED.txt not found or short: " << TESTDATA_DIR;
  for (const cabtest::Expected& e : all) {
    SCOPED_TRACE(e.name);
    Bytes cab = cabtest::ReadReference(e.name);
    ASSERT_FALSE(cab.empty());
    cabtest::DecodeResult r = cabtest::DecodeBytes(cab, SetOf(e.name));
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
}

// Entering a set in the middle: members begun earlier are partial and left
// out, nothing is invented. A set whose next cabinet is missing fails.
TEST(ReferenceCabinets, PartsOfASet) {
  const cabtest::DecodeResult middle =
      cabtest::DecodeBytes(cabtest::ReadReference("cabd_multi_basic_pt5.cab"));
  EXPECT_EQ(middle.error, CabError::kNone);
  EXPECT_EQ(middle.members, 0);
  EXPECT_EQ(cabtest::DecodeBytes(cabtest::ReadReference("cabd_multi_basic_pt1.cab")).error,
            CabError::kCabinetNotFound);
}

}  // namespace
