// The program's FDI front over every reference cabinet: the same members,
// sizes and bytes as the reference decoder, and clean refusals of damaged ones.
#include "install/Fdi.h"

#include <gtest/gtest.h>

#include "tests/unit/cab/CabTestSupport.h"
#include "tests/unit/install/CabinetFixtures.h"

namespace {

using cabtest::kMemFolder;

// Every reference cabinet (sets need their later parts) in the file system.
class Fdi : public ::testing::Test {
 protected:
  void SetUp() override {
    WIN32_FIND_DATAA found;
    HANDLE find = ::FindFirstFileA((cabtest::CabinetsDir() + "*.cab").c_str(), &found);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    do fs_.Put(kMemFolder + std::string(found.cFileName), cabtest::ReadCabinet(found.cFileName));
    while (::FindNextFileA(find, &found));
    ::FindClose(find);
  }
  cabtest::MemFs fs_;
};

TEST_F(Fdi, EveryReferenceCabinetGivesItsExpectedResult) {
  const auto expected = cabtest::ReadExpected();
  ASSERT_GT(expected.size(), 40u);
  for (const auto& e : expected) {
    SCOPED_TRACE(e.name);
    cabtest::DecodeRun run;
    DecodeWith(cabtest::ProgramFdi(), fs_, e.name, run);
    EXPECT_EQ(fs_.OpenHandles(), 0) << "a cabinet was left open";
    if (e.ok) {
      EXPECT_TRUE(run.ok) << "error " << run.erf.erfOper;
      uint64_t bytes = 0;
      for (const auto& d : run.members) bytes += d.bytes->size();
      EXPECT_EQ(run.members.size(), static_cast<size_t>(e.members));
      EXPECT_EQ(bytes, e.bytes);
      EXPECT_EQ(Md5OfMembers(run), e.md5);
    } else {
      EXPECT_FALSE(run.ok);
      EXPECT_TRUE(run.erf.fError);
      EXPECT_GE(run.erf.erfOper, FDIERROR_CABINET_NOT_FOUND);
      EXPECT_LE(run.erf.erfOper, FDIERROR_USER_ABORT);
    }
  }
  EXPECT_TRUE(fs_.missing.empty()) << fs_.missing[0];
}

// The results the extraction tells apart: a missing cabinet, an abort from
// the copy notice, and skipping members, which is no failure.
TEST_F(Fdi, CopyErrorsAndSkipping) {
  ERF erf = {};
  HFDI fdi = cabtest::CreateFdi(cabtest::ProgramFdi(), fs_, erf);
  ASSERT_NE(fdi, nullptr);
  std::string folder = kMemFolder;
  char missing[] = "no-such.cab", simple[] = "simple.cab";
  auto skipAll = [](FDINOTIFICATIONTYPE, PFDINOTIFICATION) -> INT_PTR { return 0; };
  auto abortAtCopy = [](FDINOTIFICATIONTYPE type, PFDINOTIFICATION) -> INT_PTR {
    return type == fdintCOPY_FILE ? -1 : 0;
  };
  EXPECT_FALSE(FDICopy(fdi, missing, &folder[0], 0, skipAll, nullptr, nullptr));
  EXPECT_EQ(erf.erfOper, FDIERROR_CABINET_NOT_FOUND);
  EXPECT_FALSE(FDICopy(fdi, simple, &folder[0], 0, abortAtCopy, nullptr, nullptr));
  EXPECT_EQ(erf.erfOper, FDIERROR_USER_ABORT);
  EXPECT_TRUE(FDICopy(fdi, simple, &folder[0], 0, skipAll, nullptr, nullptr));
  EXPECT_TRUE(FDIDestroy(fdi));
  EXPECT_EQ(fs_.OpenHandles(), 0);
}

}  // namespace
