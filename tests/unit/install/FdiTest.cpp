// The program's FDI front: every reference cabinet gives the members, sizes
// and bytes the reference decoder gives, and damaged ones are refused; and,
// against the system's cabinet library loaded at run time, cabinets made by
// the system's FCI (MSZIP and stored) from seeded pseudo-random data are
// decoded through the same callbacks by both FDIs.
#include "install/Fdi.h"

#include <fci.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>

#include "install/cab/Md5.h"
#include "tests/support/Scratch.h"
#include "tests/unit/cab/CabTestSupport.h"

namespace {

using namespace testing_support;

// The runtime's low-level files in binary mode, counted: a decoder that
// leaves one open shows here.
int g_openFiles = 0;

INT_PTR OpenFile(const char* path, int oflag, int pmode) {
  const int hf = _open(path, oflag | _O_BINARY, pmode);
  g_openFiles += hf != -1;
  return hf;
}

int CloseFile(INT_PTR hf) {
  const int result = _close(static_cast<int>(hf));
  g_openFiles -= result == 0;
  return result;
}

// One FDI implementation: the program's or the system's.
struct FdiApi {
  const char* label;
  decltype(&::FDICreate) create;
  decltype(&::FDICopy) copy;
  decltype(&::FDIDestroy) destroy;
};

struct DecodeRun {
  bool ok = true;
  ERF erf = {};                             // of the call that failed
  std::vector<std::string> cabinetsCopied;  // one per FDICopy call
  // Every notice in order: "cabinet index:next/disk/setID", "partial name",
  // "next name", "copy name folder cb date time attribs", "closed cb".
  std::vector<std::string> notices;
  std::vector<std::string> members;  // the bytes of each member closed
  std::string pendingNext, memberFile;
  bool sawCabinet = false;
  INT_PTR openMember = -1;
};

FNALLOC(Alloc) { return std::malloc(cb); }
FNFREE(Free) { std::free(pv); }
FNOPEN(Open) { return OpenFile(pszFile, oflag, pmode); }
FNREAD(Read) { return static_cast<UINT>(_read(static_cast<int>(hf), pv, cb)); }
FNWRITE(Write) { return static_cast<UINT>(_write(static_cast<int>(hf), pv, cb)); }
FNCLOSE(Close) { return CloseFile(hf); }
FNSEEK(Seek) { return _lseek(static_cast<int>(hf), dist, seektype); }

std::string Text(const char* s) { return s ? s : ""; }

FNFDINOTIFY(Notify) {
  auto* run = static_cast<DecodeRun*>(pfdin->pv);
  switch (fdint) {
    case fdintCABINET_INFO:
      // The first notice of a call is the cabinet it was given; later ones
      // are cabinets opened for members that continue into them.
      if (!run->sawCabinet) run->pendingNext = Text(pfdin->psz1);
      run->sawCabinet = true;
      run->notices.push_back("cabinet " + std::to_string(pfdin->iCabinet) + ":" +
                             Text(pfdin->psz1) + "/" + Text(pfdin->psz2) + "/" +
                             std::to_string(pfdin->setID));
      return 0;
    case fdintPARTIAL_FILE:
      run->notices.push_back("partial " + Text(pfdin->psz1));
      return 0;
    case fdintNEXT_CABINET:
      run->notices.push_back("next " + Text(pfdin->psz1));
      return 0;
    case fdintCOPY_FILE:
      run->notices.push_back("copy " + Text(pfdin->psz1));
      for (long n : {long(pfdin->iFolder), pfdin->cb, long(pfdin->date), long(pfdin->time),
                     long(pfdin->attribs)})
        run->notices.back() += " " + std::to_string(n);
      return run->openMember = OpenFile(run->memberFile.c_str(), _O_CREAT | _O_TRUNC | _O_WRONLY,
                                        _S_IREAD | _S_IWRITE);
    case fdintCLOSE_FILE_INFO:
      if (pfdin->hf != run->openMember) return FALSE;
      CloseFile(pfdin->hf);
      run->openMember = -1;
      run->members.emplace_back();
      ReadFileBytes(run->memberFile, run->members.back());
      run->notices.push_back("closed " + std::to_string(pfdin->cb));
      return TRUE;
    default:
      return 0;
  }
}

// Copies `first` from `folder` (with a trailing backslash) and then each next
// cabinet, as FDI users follow a set: the name comes from the first cabinet
// notice of a call, and members continued from an earlier cabinet
// (partial-file notices) are skipped. Stops at the first failure.
void DecodeWith(const FdiApi& api, const std::string& folder, const std::string& first,
                DecodeRun& run) {
  ScratchDir out("fdi");
  run.memberFile = out.Path() + "member.out";
  HFDI fdi = api.create(Alloc, Free, Open, Read, Write, Close, Seek, cpu80386, &run.erf);
  ASSERT_NE(fdi, nullptr) << api.label << " FDICreate";
  std::string name = first, path = folder;
  // A bound keeps a looping set from hanging the test.
  for (int guard = 0; run.ok && !name.empty() && guard < 64; ++guard) {
    run.pendingNext.clear();
    run.sawCabinet = false;
    run.cabinetsCopied.push_back(name);
    run.ok = api.copy(fdi, &name[0], &path[0], 0, Notify, nullptr, &run) != FALSE;
    name = run.pendingNext;
  }
  if (run.openMember != -1) CloseFile(run.openMember);
  EXPECT_TRUE(api.destroy(fdi)) << api.label;
}

const FdiApi kProgramFdi = {"program", &::FDICreate, &::FDICopy, &::FDIDestroy};

TEST(Fdi, EveryReferenceCabinetGivesItsExpectedResult) {
  const auto expected = cabtest::ReadExpected();
  ASSERT_GT(expected.size(), 40u);
  for (const auto& e : expected) {
    SCOPED_TRACE(e.name);
    DecodeRun run;
    DecodeWith(kProgramFdi, WinePath(TESTDATA_UNIX) + "\\cabinets\\", e.name, run);
    EXPECT_EQ(g_openFiles, 0) << "a cabinet was left open";
    if (e.ok) {
      EXPECT_TRUE(run.ok) << "error " << run.erf.erfOper;
      uint64_t bytes = 0;
      cab::Md5 md5;
      for (const auto& member : run.members)
        bytes += member.size(), md5.Update(member.data(), member.size());
      EXPECT_EQ(run.members.size(), static_cast<size_t>(e.members));
      EXPECT_EQ(bytes, e.bytes);
      EXPECT_EQ(md5.HexDigest(), e.md5);
    } else {
      EXPECT_FALSE(run.ok);
      EXPECT_TRUE(run.erf.fError);
      EXPECT_GE(run.erf.erfOper, FDIERROR_CABINET_NOT_FOUND);
      EXPECT_LE(run.erf.erfOper, FDIERROR_USER_ABORT);
    }
  }
}

// The system library's entry points, by name: the program's own FDI functions
// of the same names are linked into this test.
#define SYSTEM_PROC(f)                                                                             \
  decltype(&::f) f = module ? reinterpret_cast<decltype(&::f)>(                                    \
                                  reinterpret_cast<void*>(::GetProcAddress(module, #f)))           \
                            : nullptr
struct SystemCabinet {
  HMODULE module = ::LoadLibraryA("cabinet.dll");
  SYSTEM_PROC(FCICreate);
  SYSTEM_PROC(FCIAddFile);
  SYSTEM_PROC(FCIFlushFolder);
  SYSTEM_PROC(FCIFlushCabinet);
  SYSTEM_PROC(FCIDestroy);
  SYSTEM_PROC(FDICreate);
  SYSTEM_PROC(FDICopy);
  SYSTEM_PROC(FDIDestroy);
  FdiApi fdi = {"system", FDICreate, FDICopy, FDIDestroy};
  bool Complete() const {
    return FCICreate && FCIAddFile && FCIFlushFolder && FCIFlushCabinet && FCIDestroy &&
           FDICreate && FDICopy && FDIDestroy;
  }
};
#undef SYSTEM_PROC

const SystemCabinet& System() {
  static const SystemCabinet api;
  return api;
}

// Deterministic member contents: runs of noise, repeated bytes, text from a
// small vocabulary and copies of earlier bytes at distances up to the MSZIP
// window, so that compressed folders get stored, fixed and dynamic blocks.
std::string MakeData(size_t size, uint32_t seed) {
  static const char* const kWords[] = {"cabinet ", "folder ", "member ", "block ", "window ",
                                       "\r\n",      "0x7FFF ", "setup ",  "a",      "zz "};
  std::mt19937 rng(seed);
  std::string out;
  while (out.size() < size) {
    const size_t left = size - out.size();
    const uint32_t kind = rng() % 5;
    size_t run = std::min<size_t>(left, 1 + rng() % 3000);
    if (kind == 0) {  // incompressible
      while (run--) out.push_back(static_cast<char>(rng()));
    } else if (kind == 1) {  // one repeated byte
      out.append(run, static_cast<char>(rng()));
    } else if (kind == 2) {  // text
      for (size_t n; run > 0; run -= n) {
        const std::string w = kWords[rng() % 10];
        out.append(w, 0, n = std::min(run, w.size()));
      }
    } else if (out.empty()) {
      out.push_back(static_cast<char>(rng()));
    } else {  // a copy of earlier bytes, near and far
      const size_t distance = 1 + rng() % std::min<size_t>(out.size(), 32768);
      for (size_t i = std::min<size_t>(left, 3 + rng() % 258); i > 0; --i)
        out.push_back(out[out.size() - distance]);
    }
  }
  return out;
}

// ---------------------------------------------------------------------------
// Making cabinets with the system's FCI.

struct Member {
  std::string source, name;  // the file that goes in, the name stored in the cabinet
  bool execute = false;
  USHORT date = 0, time = 0, attribs = 0;
};

struct Builder {
  std::string folder;  // of the sources, the cabinets and FCI's temporary files
  int tempCount = 0;
  std::vector<std::string> cabinets;  // names handed out, in order
  int continued = 0;                  // members placed as continuations
  std::map<std::string, const Member*> bySource;
};

FNFCIALLOC(FciAlloc) { return std::malloc(cb); }
FNFCIFREE(FciFree) { std::free(memory); }
FNFCIOPEN(FciOpen) {
  const INT_PTR hf = OpenFile(pszFile, oflag, pmode);
  if (hf == -1) *err = errno;
  return (void)pv, hf;
}
FNFCIREAD(FciRead) { return (void)err, (void)pv, static_cast<UINT>(_read(int(hf), memory, cb)); }
FNFCIWRITE(FciWrite) { return (void)err, (void)pv, static_cast<UINT>(_write(int(hf), memory, cb)); }
FNFCICLOSE(FciClose) { return (void)err, (void)pv, CloseFile(hf); }
FNFCISEEK(FciSeek) { return (void)err, (void)pv, _lseek(int(hf), dist, seektype); }
FNFCIDELETE(FciDelete) { return (void)err, (void)pv, std::remove(pszFile); }
FNFCIGETTEMPFILE(FciTempFile) {
  auto* b = static_cast<Builder*>(pv);
  std::snprintf(pszTempName, cbTempName, "%sfci%04d.tmp", b->folder.c_str(), ++b->tempCount);
  return TRUE;
}
FNFCIFILEPLACED(FciPlaced) {
  (void)pccab, (void)pszFile, (void)cbFile;
  static_cast<Builder*>(pv)->continued += fContinuation ? 1 : 0;
  return 0;
}
FNFCIGETNEXTCABINET(FciNextCabinet) {
  (void)cbPrevCab;
  std::snprintf(pccab->szCab, sizeof(pccab->szCab), "set%d.cab", pccab->iCab);
  static_cast<Builder*>(pv)->cabinets.push_back(pccab->szCab);
  return TRUE;
}
FNFCISTATUS(FciStatus) {
  (void)cb1, (void)pv;
  return typeStatus == statusCabinet ? static_cast<LONG>(cb2) : 0;
}
FNFCIGETOPENINFO(FciOpenInfo) {
  auto* b = static_cast<Builder*>(pv);
  auto it = b->bySource.find(pszName);
  if (it == b->bySource.end()) return *err = ENOENT, -1;
  *pdate = it->second->date;
  *ptime = it->second->time;
  *pattribs = it->second->attribs;
  return FciOpen(pszName, _O_RDONLY | _O_BINARY, 0, err, pv);
}

// Builds "set1.cab" (and, with a small cabinet size, set2.cab, ...) from the
// folders of members; FCIFlushFolder between folders.
void BuildCabinets(const std::vector<std::vector<Member>>& folders, TCOMP compression,
                   ULONG cabinetSize, Builder& b) {
  const SystemCabinet& sys = System();
  for (const auto& folder : folders)
    for (const auto& m : folder) b.bySource[m.source] = &m;
  CCAB ccab = {};
  ccab.cb = cabinetSize;
  ccab.cbFolderThresh = 0x7FFFFFFF;
  ccab.iCab = ccab.iDisk = 1;
  ccab.setID = 0x1234;
  std::snprintf(ccab.szCab, sizeof(ccab.szCab), "set1.cab");
  std::snprintf(ccab.szCabPath, sizeof(ccab.szCabPath), "%s", b.folder.c_str());
  b.cabinets.push_back(ccab.szCab);
  ERF erf = {};
  HFCI fci = sys.FCICreate(&erf, FciPlaced, FciAlloc, FciFree, FciOpen, FciRead, FciWrite,
                           FciClose, FciSeek, FciDelete, FciTempFile, &ccab, &b);
  ASSERT_NE(fci, nullptr) << "FCICreate error " << erf.erfOper;
  for (size_t f = 0; f < folders.size(); ++f) {
    for (const auto& m : folders[f]) {
      std::string source = m.source, name = m.name;
      ASSERT_TRUE(sys.FCIAddFile(fci, &source[0], &name[0], m.execute, FciNextCabinet, FciStatus,
                                 FciOpenInfo, compression))
          << m.name << ": FCIAddFile error " << erf.erfOper;
    }
    ASSERT_TRUE(f + 1 == folders.size() || sys.FCIFlushFolder(fci, FciNextCabinet, FciStatus))
        << "FCIFlushFolder error " << erf.erfOper;
  }
  ASSERT_TRUE(sys.FCIFlushCabinet(fci, FALSE, FciNextCabinet, FciStatus)) << "error " << erf.erfOper;
  ASSERT_TRUE(sys.FCIDestroy(fci));
  // A name handed out for a cabinet that was never started is not one.
  while (!b.cabinets.empty() && !FileExists(b.folder + b.cabinets.back())) b.cabinets.pop_back();
}

TEST(FciCrossCheck, BothDecodersGiveWhatWentIn) {
  const SystemCabinet& sys = System();
  ASSERT_TRUE(sys.Complete()) << "cabinet.dll did not load or lacks an FCI/FDI export";
  // Two decoders, or the cross-check proves nothing.
  ASSERT_NE(reinterpret_cast<void*>(sys.FDICopy), reinterpret_cast<void*>(&::FDICopy));
  const struct {
    const char* label;
    std::vector<std::vector<size_t>> folders;  // member sizes per folder
    ULONG cabinetSize;                          // CCAB.cb; large: one cabinet
    int minCabinets;
  } layouts[] = {
      // Folders ending around a data block's size, a member of over a
      // megabyte, and empty members first and last (the system's FCI cannot
      // make a folder of empty members only).
      {"folders",
       {{0, 1}, {1, 0}, {32767}, {32768}, {32769}, {100, 40000, 0, 70000}, {65536, 1234567},
        {3000, 0, 17, 2500, 900}},
       0x7FFFFFFF, 1},
      // 3 folders over 4 (MSZIP) or 9 (stored) cabinets, members crossing
      // cabinet boundaries; the system's FCI fails on this input with MSZIP
      // and cabinet sizes of 100000 and 110000.
      {"set", {{20000, 90000, 1, 45000, 7}, {120000, 33000, 7000}, {64000, 64000, 2, 150000}},
       70000, 3},
  };
  for (const auto& p : layouts)
    for (const TCOMP compression : {TCOMP(tcompTYPE_MSZIP), TCOMP(tcompTYPE_NONE)}) {
      SCOPED_TRACE(std::string(p.label) + (compression ? " mszip" : " stored"));
      // Names with folders, read-only and executable members, distinct dates.
      ScratchDir dir("fci");
      Builder builder;
      builder.folder = dir.Path();
      std::vector<std::vector<Member>> folders;
      std::vector<const Member*> in;
      uint32_t i = 0;
      for (const auto& sizes : p.folders) {
        folders.emplace_back();
        for (size_t size : sizes) {
          Member m;
          const std::string n = std::to_string(i);
          m.source = dir.Path() + "m" + n + ".bin";
          m.name = (i % 3 ? "" : "dir" + std::to_string(i % 4) + "\\") + "file" + n + ".dat";
          m.execute = i % 7 == 3;
          m.date = static_cast<USHORT>((20 + i % 20) << 9 | (1 + i % 12) << 5 | (1 + i % 28));
          m.time = static_cast<USHORT>(((i % 24) << 11) | ((i % 60) << 5) | (i % 30));
          m.attribs = static_cast<USHORT>(i % 5 == 1 ? _A_RDONLY | _A_ARCH : _A_ARCH);
          ASSERT_TRUE(WriteFileBytes(m.source, MakeData(size, 1000 + i++)));
          folders.back().push_back(m);
        }
      }
      for (const auto& f : folders)
        for (const auto& m : f) in.push_back(&m);
      BuildCabinets(folders, compression, p.cabinetSize, builder);
      if (HasFatalFailure()) return;
      ASSERT_GE(static_cast<int>(builder.cabinets.size()), p.minCabinets);
      // The set is only a set test if members really cross cabinets.
      EXPECT_TRUE(p.minCabinets == 1 || builder.continued >= 2) << "too few members continue";
      DecodeRun system, program;
      DecodeWith(sys.fdi, dir.Path(), "set1.cab", system);
      DecodeWith(kProgramFdi, dir.Path(), "set1.cab", program);
      EXPECT_EQ(g_openFiles, 0) << "a decoder or FCI left a file open";

      // Names, sizes, dates, attributes ("run after extraction" is the execute
      // attribute and the close notice's cb), folder numbers, partial members
      // and cabinet notices as the system's FDI gives them; on a mismatch the
      // whole list shows how the two runs went apart.
      EXPECT_EQ(program.notices, system.notices);
      // The program's FDI follows the whole set, succeeds on every cabinet and
      // gives every member that went in once, whole, in order.
      EXPECT_EQ(program.cabinetsCopied, builder.cabinets);
      EXPECT_TRUE(program.ok) << program.cabinetsCopied.back() << ": " << program.erf.erfOper;
      ASSERT_EQ(program.members.size(), in.size());
      for (size_t k = 0; k < in.size(); ++k) {
        std::string original;
        EXPECT_TRUE(ReadFileBytes(in[k]->source, original) && program.members[k] == original)
            << in[k]->name;
      }
    }
}

}  // namespace
