// The program's FDI front over every reference cabinet: the same members,
// sizes and bytes as the reference decoder, and clean refusals of damaged ones.
#include "install/Fdi.h"

#include <fcntl.h>
#include <io.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "install/cab/Md5.h"
#include "tests/unit/cab/CabTestSupport.h"
#include "tests/unit/install/CabinetFixtures.h"

namespace {

// Member output goes to a digest, never to disk: handles above this value
// are member sinks, below it the runtime's file handles of the cabinets.
constexpr INT_PTR kSinkHandle = 0x40000000;

struct Digest {
  cab::Md5 md5;
  int members = 0;
  uint64_t bytes = 0;
  std::string nextCabinet;
  int partials = 0;
};
Digest* g_digest = nullptr;

FNALLOC(Alloc) { return std::malloc(cb); }
FNFREE(Free) { std::free(pv); }
FNOPEN(Open) { return _open(pszFile, oflag, pmode); }
FNREAD(Read) { return static_cast<UINT>(_read(static_cast<int>(hf), pv, cb)); }
FNWRITE(Write) {
  if (hf != kSinkHandle) return static_cast<UINT>(-1);
  g_digest->md5.Update(pv, cb);
  g_digest->bytes += cb;
  return cb;
}
FNCLOSE(Close) { return hf == kSinkHandle ? 0 : _close(static_cast<int>(hf)); }
FNSEEK(Seek) { return _lseek(static_cast<int>(hf), dist, seektype); }

FNFDINOTIFY(Notify) {
  switch (fdint) {
    case fdintCABINET_INFO:
      g_digest->nextCabinet = pfdin->psz1;
      return 0;
    case fdintPARTIAL_FILE:
      ++g_digest->partials;
      return 0;
    case fdintCOPY_FILE:
      ++g_digest->members;
      return kSinkHandle;
    case fdintCLOSE_FILE_INFO:
      return TRUE;
    default:
      return 0;
  }
}

struct Result {
  bool ok = false;
  ERF erf = {};
  Digest digest;
};

// Decodes a cabinet, and for a set every next cabinet too, as FDI users do:
// FDICopy again on the name the cabinet-information notice gave.
void DecodeSet(const std::string& first, Result& result) {
  g_digest = &result.digest;
  HFDI fdi = FDICreate(Alloc, Free, Open, Read, Write, Close, Seek, cpu80386, &result.erf);
  ASSERT_NE(fdi, nullptr);
  std::string name = first;
  std::string folder = cabtest::CabinetsDir();
  result.ok = true;
  for (int guard = 0; !name.empty() && guard < 16 && result.ok; ++guard) {
    result.digest.nextCabinet.clear();
    result.ok = FDICopy(fdi, &name[0], &folder[0], 0, Notify, nullptr, nullptr) != FALSE;
    name = result.digest.nextCabinet;
  }
  EXPECT_TRUE(FDIDestroy(fdi));
  g_digest = nullptr;
}

TEST(Fdi, EveryReferenceCabinetGivesItsExpectedResult) {
  const auto expected = cabtest::ReadExpected();
  ASSERT_GT(expected.size(), 40u);
  for (const auto& e : expected) {
    SCOPED_TRACE(e.name);
    Result result;
    DecodeSet(e.name, result);
    if (e.ok) {
      EXPECT_TRUE(result.ok) << "error " << result.erf.erfOper;
      EXPECT_EQ(result.digest.members, e.members);
      EXPECT_EQ(result.digest.bytes, e.bytes);
      EXPECT_EQ(result.digest.md5.HexDigest(), e.md5);
    } else {
      EXPECT_FALSE(result.ok);
      EXPECT_TRUE(result.erf.fError);
      EXPECT_GE(result.erf.erfOper, FDIERROR_CABINET_NOT_FOUND);
      EXPECT_LE(result.erf.erfOper, FDIERROR_USER_ABORT);
    }
  }
}

TEST(Fdi, IsCabinetDescribesTheHeader) {
  ERF erf = {};
  HFDI fdi = FDICreate(Alloc, Free, Open, Read, Write, Close, Seek, cpu80386, &erf);
  ASSERT_NE(fdi, nullptr);
  struct Case {
    const char* name;
    BOOL cabinet;
    LONG size;
    USHORT folders, files, setId, index;
    BOOL hasprev, hasnext, reserve;
  } cases[] = {
      {"simple.cab", TRUE, 253, 1, 2, 0x0622, 0, FALSE, FALSE, FALSE},
      {"cabd_multi_basic_pt2.cab", TRUE, 274, 1, 3, 0x3039, 1, TRUE, TRUE, FALSE},
      {"reserve_HFD.cab", TRUE, 226, 1, 2, 0x0001, 0, FALSE, FALSE, TRUE},
      {"bad_signature.cab", FALSE, 0, 0, 0, 0, 0, FALSE, FALSE, FALSE},
      {"search.cab", FALSE, 0, 0, 0, 0, 0, FALSE, FALSE, FALSE},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = cabtest::CabinetsDir() + c.name;
    const int hf = _open(path.c_str(), _O_BINARY | _O_RDONLY);
    ASSERT_NE(hf, -1);
    FDICABINETINFO info;
    std::memset(&info, 0xCC, sizeof(info));  // proves what the call wrote
    const BOOL is = FDIIsCabinet(fdi, hf, &info);
    _close(hf);
    EXPECT_EQ(is, c.cabinet);
    if (!is) continue;
    EXPECT_EQ(info.cbCabinet, c.size);
    EXPECT_EQ(info.cFolders, c.folders);
    EXPECT_EQ(info.cFiles, c.files);
    EXPECT_EQ(info.setID, c.setId);
    EXPECT_EQ(info.iCabinet, c.index);
    EXPECT_EQ(info.hasprev, c.hasprev);
    EXPECT_EQ(info.hasnext, c.hasnext);
    EXPECT_EQ(info.fReserve, c.reserve);
  }
  EXPECT_TRUE(FDIDestroy(fdi));
}

TEST(Fdi, MissingCabinetAndUserAbortAreReported) {
  Result result;
  g_digest = &result.digest;
  HFDI fdi = FDICreate(Alloc, Free, Open, Read, Write, Close, Seek, cpu80386, &result.erf);
  ASSERT_NE(fdi, nullptr);
  std::string folder = cabtest::CabinetsDir();
  char missing[] = "no-such.cab";
  EXPECT_FALSE(FDICopy(fdi, missing, &folder[0], 0, Notify, nullptr, nullptr));
  EXPECT_EQ(result.erf.erfOper, FDIERROR_CABINET_NOT_FOUND);

  auto abortAtCopy = [](FDINOTIFICATIONTYPE type, PFDINOTIFICATION) -> INT_PTR {
    return type == fdintCOPY_FILE ? -1 : 0;
  };
  char simple[] = "simple.cab";
  EXPECT_FALSE(FDICopy(fdi, simple, &folder[0], 0, abortAtCopy, nullptr, nullptr));
  EXPECT_EQ(result.erf.erfOper, FDIERROR_USER_ABORT);

  // Skipping every member (0 from the copy notice) is a success.
  auto skipAll = [](FDINOTIFICATIONTYPE, PFDINOTIFICATION) -> INT_PTR { return 0; };
  EXPECT_TRUE(FDICopy(fdi, simple, &folder[0], 0, skipAll, nullptr, nullptr));
  EXPECT_TRUE(FDIDestroy(fdi));
  g_digest = nullptr;
}

}  // namespace
