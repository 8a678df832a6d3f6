// The program's FDI against the system's cabinet library, loaded at run time:
// cabinets made by the system's FCI (MSZIP and stored) from seeded
// pseudo-random data are decoded through the same callbacks; the program's
// FDI must give the members that went in (names, sizes, bytes, dates,
// attributes), and where the input leaves it open (folder numbers, partial
// members, cabinet notices of a set followed cabinet by cabinet) what the
// system's FDI gives.
#include <windows.h>
#include <fci.h>
#include <fcntl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

#include "tests/unit/install/CabinetFixtures.h"

namespace {

using cabtest::DecodeRun;
using cabtest::kMemFolder;
using cabtest::MemFs;

// The system library's entry points, by name: the program's own FDI functions
// of the same names are linked into this test.
template <typename T>
T Proc(HMODULE module, const char* name) {
  return module ? reinterpret_cast<T>(reinterpret_cast<void*>(::GetProcAddress(module, name)))
                : nullptr;
}

struct SystemCabinet {
  HMODULE module = ::LoadLibraryA("cabinet.dll");
  decltype(&::FCICreate) fciCreate = Proc<decltype(&::FCICreate)>(module, "FCICreate");
  decltype(&::FCIAddFile) fciAddFile = Proc<decltype(&::FCIAddFile)>(module, "FCIAddFile");
  decltype(&::FCIFlushFolder) fciFlushFolder =
      Proc<decltype(&::FCIFlushFolder)>(module, "FCIFlushFolder");
  decltype(&::FCIFlushCabinet) fciFlushCabinet =
      Proc<decltype(&::FCIFlushCabinet)>(module, "FCIFlushCabinet");
  decltype(&::FCIDestroy) fciDestroy = Proc<decltype(&::FCIDestroy)>(module, "FCIDestroy");
  cabtest::FdiApi fdi = {"system", Proc<decltype(&::FDICreate)>(module, "FDICreate"),
                         Proc<decltype(&::FDICopy)>(module, "FDICopy"),
                         Proc<decltype(&::FDIDestroy)>(module, "FDIDestroy")};
  bool Complete() const {
    return fciCreate && fciAddFile && fciFlushFolder && fciFlushCabinet && fciDestroy &&
           fdi.create && fdi.copy && fdi.destroy;
  }
};

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
  std::string source;  // name in MemFs
  std::string name;    // name stored in the cabinet
  bool execute = false;
  USHORT date = 0, time = 0, attribs = 0;
};

struct Builder {
  MemFs* fs;
  int tempCount = 0;
  std::vector<std::string> cabinets;  // names handed out, in order
  int continued = 0;                  // members placed as continuations
  std::map<std::string, const Member*> bySource;
};

MemFs& Fs(void* pv) { return *static_cast<Builder*>(pv)->fs; }

FNFCIALLOC(FciAlloc) { return std::malloc(cb); }
FNFCIFREE(FciFree) { std::free(memory); }
FNFCIOPEN(FciOpen) {
  const INT_PTR hf = Fs(pv).Open(pszFile, oflag);
  if (hf == -1) *err = ENOENT;
  return hf;
}
FNFCIREAD(FciRead) { return (void)err, Fs(pv).Read(hf, memory, cb); }
FNFCIWRITE(FciWrite) { return (void)err, Fs(pv).Write(hf, memory, cb); }
FNFCICLOSE(FciClose) { return (void)err, Fs(pv).Close(hf); }
FNFCISEEK(FciSeek) { return (void)err, Fs(pv).Seek(hf, dist, seektype); }
FNFCIDELETE(FciDelete) { return (void)err, Fs(pv).Delete(pszFile) ? 0 : -1; }
FNFCIGETTEMPFILE(FciTempFile) {
  const int n = ++static_cast<Builder*>(pv)->tempCount;
  std::snprintf(pszTempName, cbTempName, "C:\\tmp\\fci%04d.tmp", n);
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
void BuildCabinets(MemFs& fs, const std::vector<std::vector<Member>>& folders, TCOMP compression,
                   ULONG cabinetSize, Builder& b) {
  const SystemCabinet& sys = System();
  b.fs = &fs;
  for (const auto& folder : folders)
    for (const auto& m : folder) b.bySource[m.source] = &m;
  CCAB ccab = {};
  ccab.cb = cabinetSize;
  ccab.cbFolderThresh = 0x7FFFFFFF;
  ccab.iCab = ccab.iDisk = 1;
  ccab.setID = 0x1234;
  std::snprintf(ccab.szCab, sizeof(ccab.szCab), "set1.cab");
  std::snprintf(ccab.szCabPath, sizeof(ccab.szCabPath), "%s", kMemFolder);
  b.cabinets.push_back(ccab.szCab);
  ERF erf = {};
  HFCI fci = sys.fciCreate(&erf, FciPlaced, FciAlloc, FciFree, FciOpen, FciRead, FciWrite,
                           FciClose, FciSeek, FciDelete, FciTempFile, &ccab, &b);
  ASSERT_NE(fci, nullptr) << "FCICreate error " << erf.erfOper;
  for (size_t f = 0; f < folders.size(); ++f) {
    for (const auto& m : folders[f]) {
      std::string source = m.source, name = m.name;
      ASSERT_TRUE(sys.fciAddFile(fci, &source[0], &name[0], m.execute, FciNextCabinet, FciStatus,
                                 FciOpenInfo, compression))
          << m.name << ": FCIAddFile error " << erf.erfOper;
    }
    ASSERT_TRUE(f + 1 == folders.size() || sys.fciFlushFolder(fci, FciNextCabinet, FciStatus))
        << "FCIFlushFolder error " << erf.erfOper;
  }
  ASSERT_TRUE(sys.fciFlushCabinet(fci, FALSE, FciNextCabinet, FciStatus)) << "error " << erf.erfOper;
  ASSERT_TRUE(sys.fciDestroy(fci));
  // A name handed out for a cabinet that was never started is not one.
  while (!b.cabinets.empty() && !fs.Get(kMemFolder + b.cabinets.back())) b.cabinets.pop_back();
}

// ---------------------------------------------------------------------------
// The cases.

struct Param {
  std::string label;
  std::vector<std::vector<size_t>> folders;  // member sizes per folder
  ULONG cabinetSize;                          // CCAB.cb; large: one cabinet
  int minCabinets;
  TCOMP compression;
};

void PrintTo(const Param& p, std::ostream* os) { *os << p.label; }

std::vector<Param> Params() {
  constexpr ULONG kOne = 0x7FFFFFFF;
  std::mt19937 rng(7);
  std::vector<size_t> small(300);
  for (auto& s : small) s = rng() % 2500;
  const std::vector<Param> layouts = {
      {"five_mb", {{5 * 1024 * 1024 + 4321}}, kOne, 1, 0},
      {"small_files", {small}, kOne, 1, 0},
      // Folders ending around a data block's size, and empty members first
      // and last (the system's FCI cannot make a folder of empty members only).
      {"folders",
       {{0, 1}, {1, 0}, {1}, {32767}, {32768}, {32769}, {100, 40000, 0, 70000}, {32768, 5},
        {65536, 65537, 123456}, {3000, 0, 17}},
       kOne, 1, 0},
      // 3 folders over 4 (MSZIP) or 9 (stored) cabinets, members crossing
      // cabinet boundaries; the system's FCI fails on this input with MSZIP
      // and cabinet sizes of 100000 and 110000.
      {"set", {{20000, 90000, 1, 45000, 7}, {120000, 33000, 7000}, {64000, 64000, 2, 150000}},
       70000, 3, 0},
  };
  std::vector<Param> out;
  for (const Param& l : layouts) {
    out.push_back(l);
    out.back().label += "_mszip";
    out.back().compression = tcompTYPE_MSZIP;
    out.push_back(l);
    out.back().label += "_stored";
    out.back().compression = tcompTYPE_NONE;
  }
  return out;
}

class FciCrossCheck : public ::testing::TestWithParam<Param> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(System().Complete()) << "cabinet.dll did not load or lacks an FCI/FDI export";
    // Two decoders, or the cross-check proves nothing.
    ASSERT_NE(reinterpret_cast<void*>(System().fdi.copy), reinterpret_cast<void*>(&::FDICopy));
  }

  // Members with their data in the file system; names with folders, a
  // read-only and an executable one, distinct dates and times.
  void MakeMembers(const Param& p) {
    uint32_t index = 0;
    for (const auto& sizes : p.folders) {
      folders_.emplace_back();
      for (size_t size : sizes) {
        Member m;
        char buffer[64];
        std::snprintf(buffer, sizeof(buffer), "C:\\src\\m%04u.bin", index);
        m.source = buffer;
        if (index % 3 == 0)
          std::snprintf(buffer, sizeof(buffer), "dir%u\\file%04u.dat", index % 4, index);
        else
          std::snprintf(buffer, sizeof(buffer), "file%04u.txt", index);
        m.name = buffer;
        m.execute = index % 7 == 3;
        m.date = static_cast<USHORT>(((20 + index % 20) << 9) | ((1 + index % 12) << 5) |
                                     (1 + index % 28));
        m.time = static_cast<USHORT>(((index % 24) << 11) | ((index % 60) << 5) | (index % 30));
        m.attribs = static_cast<USHORT>(index % 5 == 1 ? _A_RDONLY | _A_ARCH : _A_ARCH);
        fs_.Put(m.source, MakeData(size, 1000 + index));
        folders_.back().push_back(m);
        ++index;
      }
    }
  }

  MemFs fs_;
  std::vector<std::vector<Member>> folders_;
};

// Stored names in the order a run was told about them; on a mismatch the
// whole list shows how the two runs went apart.
std::vector<std::string> NamesOf(const DecodeRun& run) {
  std::vector<std::string> names;
  for (const auto& d : run.members) names.push_back(d.name);
  return names;
}

TEST_P(FciCrossCheck, BothDecodersGiveWhatWentIn) {
  const Param& p = GetParam();
  MakeMembers(p);
  Builder builder;
  BuildCabinets(fs_, folders_, p.compression, p.cabinetSize, builder);
  if (HasFatalFailure()) return;
  ASSERT_GE(static_cast<int>(builder.cabinets.size()), p.minCabinets);
  // The set is only a set test if members really cross cabinets.
  if (p.minCabinets > 1) {
    EXPECT_GE(builder.continued, 2) << "too few members continue";
  }
  DecodeRun system, program;
  DecodeWith(System().fdi, fs_, "set1.cab", system);
  DecodeWith(cabtest::ProgramFdi(), fs_, "set1.cab", program);
  EXPECT_TRUE(fs_.missing.empty()) << "a decoder opened a missing file: " << fs_.missing[0];

  // The program's FDI follows the whole set, succeeds on every cabinet and
  // gives every member that went in once, whole, in order.
  EXPECT_EQ(program.cabinetsCopied, builder.cabinets);
  EXPECT_TRUE(program.ok) << program.cabinetsCopied.back() << " error " << program.erf.erfOper;
  std::vector<const Member*> in;
  std::vector<std::string> names;
  for (const auto& f : folders_)
    for (const auto& m : f) in.push_back(&m), names.push_back(m.name);
  EXPECT_EQ(NamesOf(program), names);
  for (size_t i = 0; i < std::min(in.size(), program.members.size()); ++i) {
    const Member& m = *in[i];
    const cabtest::Decoded& d = program.members[i];
    if (d.name != m.name) break;  // reported above
    SCOPED_TRACE(m.name);
    const std::string& original = *fs_.Get(m.source);
    EXPECT_EQ(d.cb, static_cast<LONG>(original.size()));
    EXPECT_EQ(d.bytes->size(), original.size());
    EXPECT_TRUE(*d.bytes == original);
    EXPECT_EQ(d.date, m.date);
    EXPECT_EQ(d.time, m.time);
    // "Run after extraction" travels as the execute attribute; the close
    // notice came (runAfter stays -1 without it).
    EXPECT_EQ(d.attribs, m.attribs | (m.execute ? _A_EXEC : 0));
    EXPECT_EQ(d.runAfter, m.execute ? 1 : 0);
  }
  // What the inputs leave open, as the system's FDI gives it.
  EXPECT_EQ(NamesOf(program), NamesOf(system));
  for (size_t i = 0; i < std::min(program.members.size(), system.members.size()); ++i) {
    if (program.members[i].name != system.members[i].name) break;  // reported above
    EXPECT_EQ(program.members[i].folder, system.members[i].folder) << system.members[i].name;
  }
  EXPECT_EQ(program.partials, system.partials);
  EXPECT_EQ(program.nextCabinetNotices, system.nextCabinetNotices);
  EXPECT_EQ(program.notices, system.notices);
  EXPECT_EQ(fs_.OpenHandles(), 0) << "a decoder left a file open";
}

INSTANTIATE_TEST_SUITE_P(Layouts, FciCrossCheck, ::testing::ValuesIn(Params()),
                         [](const ::testing::TestParamInfo<Param>& i) { return i.param.label; });

}  // namespace
