// The program's FDI front over every reference cabinet: the same members,
// sizes and bytes as the reference decoder, and clean refusals of damaged ones.
#include "install/Fdi.h"

#include <gtest/gtest.h>

#include "tests/unit/cab/CabTestSupport.h"
#include "tests/unit/install/CabinetFixtures.h"

namespace {

TEST(Fdi, EveryReferenceCabinetGivesItsExpectedResult) {
  const auto expected = cabtest::ReadExpected();
  ASSERT_GT(expected.size(), 40u);
  for (const auto& e : expected) {
    SCOPED_TRACE(e.name);
    cabtest::DecodeRun run;
    DecodeWith(cabtest::ProgramFdi(), cabtest::CabinetsDir(), e.name, run);
    EXPECT_EQ(cabtest::OpenFiles(), 0) << "a cabinet was left open";
    if (e.ok) {
      EXPECT_TRUE(run.ok) << "error " << run.erf.erfOper;
      uint64_t bytes = 0;
      for (const auto& member : run.members) bytes += member.size();
      EXPECT_EQ(run.members.size(), static_cast<size_t>(e.members)) << ::testing::PrintToString(run.notices);
      EXPECT_EQ(bytes, e.bytes);
      EXPECT_EQ(Md5OfMembers(run), e.md5);
    } else {
      EXPECT_FALSE(run.ok);
      EXPECT_TRUE(run.erf.fError);
      EXPECT_GE(run.erf.erfOper, FDIERROR_CABINET_NOT_FOUND);
      EXPECT_LE(run.erf.erfOper, FDIERROR_USER_ABORT);
    }
  }
}

}  // namespace
