// The program's FDI against the system's cabinet library, loaded at run time:
// cabinets made by the system's FCI (MSZIP and stored) from seeded
// pseudo-random data are decoded through the same callbacks; the program's
// FDI must give the members that went in (names, sizes, bytes, dates,
// attributes), and where the input leaves it open (folder numbers, partial
// members, cabinet notices of a set followed cabinet by cabinet) what the
// system's FDI gives.
#include "install/Fdi.h"

#include <fci.h>
#include <fcntl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "install/cab/Md5.h"

namespace {

// ---------------------------------------------------------------------------
// An in-memory file system behind both the FCI and the FDI callbacks, so that
// the two decoders read the very same cabinet bytes and nothing touches disk.
// Handles start well above 0 so that neither 0 nor -1 is ever handed out.

constexpr INT_PTR kFirstHandle = 0x100;

class MemFs {
 public:
  using Bytes = std::shared_ptr<std::string>;

  // -1 when the file is missing and not to be created.
  INT_PTR Open(const std::string& name, int oflag) {
    auto it = files_.find(name);
    if (it == files_.end()) {
      if (!(oflag & _O_CREAT)) {
        missing_.push_back(name);
        return -1;
      }
      it = files_.emplace(name, std::make_shared<std::string>()).first;
    } else if ((oflag & _O_CREAT) && (oflag & _O_EXCL)) {
      return -1;
    }
    if (oflag & _O_TRUNC) it->second->clear();
    return OpenBytes(it->second);
  }
  // A handle on bytes that have no name (a decoded member).
  INT_PTR OpenBytes(const Bytes& bytes) {
    handles_.push_back(Handle{bytes, 0, true});
    return kFirstHandle + static_cast<INT_PTR>(handles_.size()) - 1;
  }
  UINT Read(INT_PTR hf, void* pv, UINT cb) {
    Handle* h = Find(hf);
    if (!h) return static_cast<UINT>(-1);
    const std::string& data = *h->bytes;
    const size_t avail = h->pos < data.size() ? data.size() - h->pos : 0;
    const size_t n = std::min<size_t>(avail, cb);
    if (n) std::memcpy(pv, data.data() + h->pos, n);
    h->pos += n;
    return static_cast<UINT>(n);
  }
  UINT Write(INT_PTR hf, const void* pv, UINT cb) {
    Handle* h = Find(hf);
    if (!h) return static_cast<UINT>(-1);
    std::string& data = *h->bytes;
    if (data.size() < h->pos + cb) data.resize(h->pos + cb);
    if (cb) std::memcpy(&data[h->pos], pv, cb);
    h->pos += cb;
    return cb;
  }
  int Close(INT_PTR hf) {
    Handle* h = Find(hf);
    if (!h) return -1;
    h->open = false;
    h->bytes.reset();
    return 0;
  }
  long Seek(INT_PTR hf, long dist, int type) {
    Handle* h = Find(hf);
    if (!h) return -1;
    long base = 0;
    if (type == SEEK_CUR) base = static_cast<long>(h->pos);
    if (type == SEEK_END) base = static_cast<long>(h->bytes->size());
    if (base + dist < 0) return -1;
    h->pos = static_cast<size_t>(base + dist);
    return static_cast<long>(h->pos);
  }
  bool Delete(const std::string& name) { return files_.erase(name) == 1; }

  void Put(const std::string& name, std::string bytes) {
    files_[name] = std::make_shared<std::string>(std::move(bytes));
  }
  const std::string* Get(const std::string& name) const {
    auto it = files_.find(name);
    return it == files_.end() ? nullptr : it->second.get();
  }
  int OpenHandles() const {
    int n = 0;
    for (const auto& h : handles_) n += h.open ? 1 : 0;
    return n;
  }
  const std::vector<std::string>& Missing() const { return missing_; }

 private:
  struct Handle {
    Bytes bytes;
    size_t pos;
    bool open;
  };
  Handle* Find(INT_PTR hf) {
    const INT_PTR i = hf - kFirstHandle;
    if (i < 0 || i >= static_cast<INT_PTR>(handles_.size()) || !handles_[i].open) return nullptr;
    return &handles_[i];
  }
  std::map<std::string, Bytes> files_;
  std::vector<Handle> handles_;
  std::vector<std::string> missing_;
};

// The FDI file callbacks carry no context pointer.
MemFs* g_fs = nullptr;

FNALLOC(FdiAlloc) { return std::malloc(cb); }
FNFREE(FdiFree) { std::free(pv); }
FNOPEN(FdiOpen) { return g_fs->Open(pszFile, oflag); }
FNREAD(FdiRead) { return g_fs->Read(hf, pv, cb); }
FNWRITE(FdiWrite) { return g_fs->Write(hf, pv, cb); }
FNCLOSE(FdiClose) { return g_fs->Close(hf); }
FNSEEK(FdiSeek) { return g_fs->Seek(hf, dist, seektype); }

// ---------------------------------------------------------------------------
// The system library's entry points, by name: the program's own FDI functions
// of the same names are linked into this test.

struct SystemCabinet {
  HMODULE module = nullptr;
  decltype(&::FCICreate) fciCreate = nullptr;
  decltype(&::FCIAddFile) fciAddFile = nullptr;
  decltype(&::FCIFlushFolder) fciFlushFolder = nullptr;
  decltype(&::FCIFlushCabinet) fciFlushCabinet = nullptr;
  decltype(&::FCIDestroy) fciDestroy = nullptr;
  decltype(&::FDICreate) fdiCreate = nullptr;
  decltype(&::FDICopy) fdiCopy = nullptr;
  decltype(&::FDIDestroy) fdiDestroy = nullptr;

  bool Complete() const {
    return fciCreate && fciAddFile && fciFlushFolder && fciFlushCabinet && fciDestroy &&
           fdiCreate && fdiCopy && fdiDestroy;
  }
};

template <typename T>
void Resolve(HMODULE module, const char* name, T& fn) {
  fn = reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

const SystemCabinet& System() {
  static const SystemCabinet api = [] {
    SystemCabinet s;
    s.module = LoadLibraryA("cabinet.dll");
    if (!s.module) return s;
    Resolve(s.module, "FCICreate", s.fciCreate);
    Resolve(s.module, "FCIAddFile", s.fciAddFile);
    Resolve(s.module, "FCIFlushFolder", s.fciFlushFolder);
    Resolve(s.module, "FCIFlushCabinet", s.fciFlushCabinet);
    Resolve(s.module, "FCIDestroy", s.fciDestroy);
    Resolve(s.module, "FDICreate", s.fdiCreate);
    Resolve(s.module, "FDICopy", s.fdiCopy);
    Resolve(s.module, "FDIDestroy", s.fdiDestroy);
    return s;
  }();
  return api;
}

// One FDI implementation: the system's or the program's.
struct FdiApi {
  const char* label;
  decltype(&::FDICreate) create;
  decltype(&::FDICopy) copy;
  decltype(&::FDIDestroy) destroy;
};

FdiApi SystemFdi() {
  const SystemCabinet& s = System();
  return {"system", s.fdiCreate, s.fdiCopy, s.fdiDestroy};
}
FdiApi ProgramFdi() { return {"program", &::FDICreate, &::FDICopy, &::FDIDestroy}; }

// ---------------------------------------------------------------------------
// Deterministic member contents: runs of noise, repeated bytes, text from a
// small vocabulary and copies of earlier bytes at distances up to the MSZIP
// window, so that compressed folders get stored, fixed and dynamic blocks.

std::string MakeData(size_t size, uint32_t seed) {
  std::mt19937 rng(seed);
  std::string out;
  out.reserve(size);
  static const char* const kWords[] = {"cabinet ", "folder ", "member ", "block ", "window ",
                                       "\r\n",      "0x7FFF ", "setup ",  "a",      "zz "};
  while (out.size() < size) {
    const size_t left = size - out.size();
    const uint32_t kind = rng() % 5;
    size_t run = 1 + rng() % 3000;
    if (run > left) run = left;
    switch (kind) {
      case 0:  // incompressible
        for (size_t i = 0; i < run; ++i) out.push_back(static_cast<char>(rng()));
        break;
      case 1:  // one repeated byte
        out.append(run, static_cast<char>(rng()));
        break;
      case 2:  // text
        while (run > 0) {
          const std::string w = kWords[rng() % 10];
          const size_t n = std::min(run, w.size());
          out.append(w, 0, n);
          run -= n;
        }
        break;
      default: {  // a copy of earlier bytes, near and far
        if (out.empty()) {
          out.push_back(static_cast<char>(rng()));
          break;
        }
        const size_t distance = 1 + rng() % std::min<size_t>(out.size(), 32768);
        const size_t length = std::min<size_t>(left, 3 + rng() % 258);
        for (size_t i = 0; i < length; ++i) out.push_back(out[out.size() - distance]);
        break;
      }
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

struct Placement {
  std::string cabinet;
  std::string file;
  bool continuation;
};

struct Builder {
  MemFs* fs;
  int tempCount = 0;
  std::vector<std::string> cabinets;  // names handed out, in order
  std::vector<Placement> placed;
  std::map<std::string, const Member*> bySource;
};

constexpr char kCabPath[] = "C:\\mem\\";

FNFCIALLOC(FciAlloc) { return std::malloc(cb); }
FNFCIFREE(FciFree) { std::free(memory); }
FNFCIOPEN(FciOpen) {
  const INT_PTR hf = static_cast<Builder*>(pv)->fs->Open(pszFile, oflag);
  if (hf == -1) *err = ENOENT;
  return hf;
}
FNFCIREAD(FciRead) {
  (void)err;
  return static_cast<Builder*>(pv)->fs->Read(hf, memory, cb);
}
FNFCIWRITE(FciWrite) {
  (void)err;
  return static_cast<Builder*>(pv)->fs->Write(hf, memory, cb);
}
FNFCICLOSE(FciClose) {
  (void)err;
  return static_cast<Builder*>(pv)->fs->Close(hf);
}
FNFCISEEK(FciSeek) {
  (void)err;
  return static_cast<Builder*>(pv)->fs->Seek(hf, dist, seektype);
}
FNFCIDELETE(FciDelete) {
  (void)err;
  return static_cast<Builder*>(pv)->fs->Delete(pszFile) ? 0 : -1;
}
FNFCIGETTEMPFILE(FciTempFile) {
  auto* b = static_cast<Builder*>(pv);
  std::snprintf(pszTempName, cbTempName, "C:\\tmp\\fci%04d.tmp", ++b->tempCount);
  return TRUE;
}
FNFCIFILEPLACED(FciPlaced) {
  static_cast<Builder*>(pv)->placed.push_back({pccab->szCab, pszFile, fContinuation != FALSE});
  (void)cbFile;
  return 0;
}
FNFCIGETNEXTCABINET(FciNextCabinet) {
  (void)cbPrevCab;
  std::snprintf(pccab->szCab, sizeof(pccab->szCab), "set%d.cab", pccab->iCab);
  static_cast<Builder*>(pv)->cabinets.push_back(pccab->szCab);
  return TRUE;
}
FNFCISTATUS(FciStatus) {
  (void)cb1;
  (void)pv;
  return typeStatus == statusCabinet ? static_cast<LONG>(cb2) : 0;
}
FNFCIGETOPENINFO(FciOpenInfo) {
  auto* b = static_cast<Builder*>(pv);
  auto it = b->bySource.find(pszName);
  if (it == b->bySource.end()) {
    *err = ENOENT;
    return -1;
  }
  *pdate = it->second->date;
  *ptime = it->second->time;
  *pattribs = it->second->attribs;
  const INT_PTR hf = b->fs->Open(pszName, _O_RDONLY | _O_BINARY);
  if (hf == -1) *err = ENOENT;
  return hf;
}

// Builds "set1.cab" (and, with a small cabinet size, set2.cab, ...) from the
// folders of members; FCIFlushFolder between folders.
void BuildCabinets(MemFs& fs, const std::vector<std::vector<Member>>& folders, TCOMP compression,
                   ULONG cabinetSize, Builder& b) {
  const SystemCabinet& sys = System();
  b.fs = &fs;
  for (const auto& folder : folders)
    for (const auto& m : folder) b.bySource[m.source] = &m;
  CCAB ccab;
  std::memset(&ccab, 0, sizeof(ccab));
  ccab.cb = cabinetSize;
  ccab.cbFolderThresh = 0x7FFFFFFF;
  ccab.iCab = 1;
  ccab.iDisk = 1;
  ccab.setID = 0x1234;
  std::snprintf(ccab.szCab, sizeof(ccab.szCab), "set1.cab");
  std::snprintf(ccab.szCabPath, sizeof(ccab.szCabPath), "%s", kCabPath);
  b.cabinets.push_back(ccab.szCab);
  ERF erf;
  std::memset(&erf, 0, sizeof(erf));
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
    if (f + 1 < folders.size()) {
      ASSERT_TRUE(sys.fciFlushFolder(fci, FciNextCabinet, FciStatus))
          << "FCIFlushFolder error " << erf.erfOper;
    }
  }
  ASSERT_TRUE(sys.fciFlushCabinet(fci, FALSE, FciNextCabinet, FciStatus))
      << "FCIFlushCabinet error " << erf.erfOper;
  ASSERT_TRUE(sys.fciDestroy(fci));
  // A name handed out for a cabinet that was never started is not one.
  while (!b.cabinets.empty() && !fs.Get(kCabPath + b.cabinets.back())) b.cabinets.pop_back();
}

// ---------------------------------------------------------------------------
// Decoding with one FDI, the way FDI users follow a set.

struct Decoded {
  std::string name;
  LONG cb = 0;  // size announced by the copy notice
  USHORT date = 0, time = 0, attribs = 0, folder = 0;
  INT_PTR runAfter = -1;  // cb of the close notice
  std::shared_ptr<std::string> bytes = std::make_shared<std::string>();
  bool closed = false;
};

struct CabinetNotice {
  std::string next, disk, path;
  USHORT setId, index;
};

struct DecodeRun {
  std::vector<BOOL> copyResults;  // one per FDICopy call
  std::vector<int> errors;        // erfOper after each call
  std::vector<std::string> cabinetsCopied;
  std::vector<CabinetNotice> cabinetNotices;
  std::vector<std::string> partials;
  std::vector<std::string> nextCabinetNotices;
  std::vector<Decoded> members;
  std::string pendingNext;
  bool sawCabinet = false;
  INT_PTR openMember = 0;
};

FNFDINOTIFY(Notify) {
  auto* run = static_cast<DecodeRun*>(pfdin->pv);
  switch (fdint) {
    case fdintCABINET_INFO:
      // The first notice of a call is the cabinet it was given; later ones
      // are cabinets opened for members that continue into them.
      if (!run->sawCabinet) run->pendingNext = pfdin->psz1 ? pfdin->psz1 : "";
      run->sawCabinet = true;
      run->cabinetNotices.push_back({pfdin->psz1 ? pfdin->psz1 : "", pfdin->psz2 ? pfdin->psz2 : "",
                                     pfdin->psz3 ? pfdin->psz3 : "", pfdin->setID,
                                     pfdin->iCabinet});
      return 0;
    case fdintPARTIAL_FILE:
      run->partials.push_back(pfdin->psz1 ? pfdin->psz1 : "");
      return 0;
    case fdintNEXT_CABINET:
      run->nextCabinetNotices.push_back(pfdin->psz1 ? pfdin->psz1 : "");
      return 0;
    case fdintCOPY_FILE: {
      Decoded d;
      d.name = pfdin->psz1 ? pfdin->psz1 : "";
      d.cb = pfdin->cb;
      d.date = pfdin->date;
      d.time = pfdin->time;
      d.attribs = pfdin->attribs;
      d.folder = pfdin->iFolder;
      run->openMember = g_fs->OpenBytes(d.bytes);
      run->members.push_back(d);
      return run->openMember;
    }
    case fdintCLOSE_FILE_INFO:
      if (run->members.empty() || pfdin->hf != run->openMember) return FALSE;
      g_fs->Close(pfdin->hf);
      run->members.back().runAfter = pfdin->cb;
      run->members.back().closed = true;
      run->openMember = 0;
      return TRUE;
    default:
      return 0;
  }
}

void DecodeWith(const FdiApi& api, const std::string& first, DecodeRun& run) {
  ERF erf;
  std::memset(&erf, 0, sizeof(erf));
  HFDI fdi = api.create(FdiAlloc, FdiFree, FdiOpen, FdiRead, FdiWrite, FdiClose, FdiSeek, cpu80386,
                        &erf);
  ASSERT_NE(fdi, nullptr) << api.label << " FDICreate";
  std::string name = first;
  std::string path = kCabPath;
  // The cabinet-information notice of the cabinet just copied names the
  // next one; an empty name ends the set. Members continued from an earlier
  // cabinet come as partial-file notices and are skipped. A bound keeps a
  // looping set from hanging the test.
  for (int guard = 0; !name.empty() && guard < 64; ++guard) {
    run.pendingNext.clear();
    run.sawCabinet = false;
    run.cabinetsCopied.push_back(name);
    const BOOL ok = api.copy(fdi, &name[0], &path[0], 0, Notify, nullptr, &run);
    run.copyResults.push_back(ok);
    run.errors.push_back(ok ? 0 : erf.erfOper);
    if (!ok) break;
    name = run.pendingNext;
  }
  EXPECT_TRUE(api.destroy(fdi)) << api.label;
}

std::string Md5Of(const std::string& bytes) {
  cab::Md5 md5;
  md5.Update(bytes.data(), bytes.size());
  return md5.HexDigest();
}

// ---------------------------------------------------------------------------
// The cases.

struct Layout {
  const char* label;
  std::vector<std::vector<size_t>> folders;  // member sizes per folder
  ULONG cabinetSize;                          // CCAB.cb; large: one cabinet
  int minCabinets;
};

std::vector<size_t> SmallSizes(int count, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<size_t> sizes;
  for (int i = 0; i < count; ++i) sizes.push_back(rng() % 2500);
  return sizes;
}

std::vector<Layout> Layouts() {
  constexpr ULONG kOne = 0x7FFFFFFF;
  return {
      {"five_mb", {{5 * 1024 * 1024 + 4321}}, kOne, 1},
      {"small_files", {SmallSizes(300, 7)}, kOne, 1},
      // Folders ending around a data block's size, and empty members first
      // and last (the system's FCI cannot make a folder of empty members only).
      {"folders",
       {{0, 1}, {1, 0}, {1}, {32767}, {32768}, {32769}, {100, 40000, 0, 70000}, {32768, 5},
        {65536, 65537, 123456}, {3000, 0, 17}},
       kOne,
       1},
      // 3 folders over 4 (MSZIP) or 9 (stored) cabinets, members crossing
      // cabinet boundaries; the system's FCI fails on this input with MSZIP
      // and cabinet sizes of 100000 and 110000.
      {"set",
       {{20000, 90000, 1, 45000, 7}, {120000, 33000, 7000}, {64000, 64000, 2, 150000}},
       70000,
       3},
  };
}

struct Param {
  Layout layout;
  TCOMP compression;
};

void PrintTo(const Param& p, std::ostream* os) {
  *os << p.layout.label << (p.compression == tcompTYPE_MSZIP ? " MSZIP" : " stored");
}

std::string ParamName(const ::testing::TestParamInfo<Param>& info) {
  return std::string(info.param.layout.label) +
         (info.param.compression == tcompTYPE_MSZIP ? "_mszip" : "_stored");
}

std::vector<Param> Params() {
  std::vector<Param> out;
  for (const auto& l : Layouts()) {
    out.push_back({l, tcompTYPE_MSZIP});
    out.push_back({l, tcompTYPE_NONE});
  }
  return out;
}

class FciCrossCheck : public ::testing::TestWithParam<Param> {
 protected:
  void SetUp() override {
    ASSERT_NE(System().module, nullptr) << "cabinet.dll did not load";
    ASSERT_TRUE(System().Complete()) << "cabinet.dll lacks an FCI/FDI export";
    // Two decoders, or the cross-check proves nothing.
    ASSERT_NE(reinterpret_cast<void*>(System().fdiCopy), reinterpret_cast<void*>(&::FDICopy));
    g_fs = &fs_;
  }
  void TearDown() override { g_fs = nullptr; }

  // Members with their data in the file system; names with folders, a
  // read-only and an executable one, distinct dates and times.
  void MakeMembers(const Layout& layout) {
    uint32_t index = 0;
    for (const auto& sizes : layout.folders) {
      std::vector<Member> folder;
      for (size_t size : sizes) {
        Member m;
        char buffer[64];
        std::snprintf(buffer, sizeof(buffer), "C:\\src\\m%04u.bin", index);
        m.source = buffer;
        if (index % 3 == 0) {
          std::snprintf(buffer, sizeof(buffer), "dir%u\\file%04u.dat", index % 4, index);
        } else {
          std::snprintf(buffer, sizeof(buffer), "file%04u.txt", index);
        }
        m.name = buffer;
        m.execute = index % 7 == 3;
        m.date = static_cast<USHORT>(((2000 - 1980 + index % 20) << 9) | ((1 + index % 12) << 5) |
                                     (1 + index % 28));
        m.time = static_cast<USHORT>(((index % 24) << 11) | ((index % 60) << 5) | (index % 30));
        m.attribs = static_cast<USHORT>(index % 5 == 1 ? _A_RDONLY | _A_ARCH : _A_ARCH);
        fs_.Put(m.source, MakeData(size, 1000 + index));
        folder.push_back(m);
        ++index;
      }
      folders_.push_back(folder);
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

// One line per cabinet notice: "index:next".
std::vector<std::string> NoticesOf(const DecodeRun& run) {
  std::vector<std::string> lines;
  for (const auto& n : run.cabinetNotices) {
    lines.push_back(std::to_string(n.index) + ":" + n.next + "/" + n.disk + "/" +
                    std::to_string(n.setId));
  }
  return lines;
}

// Every member that went in comes out of `run` once, whole, in order.
void ExpectMembersOf(const std::vector<std::vector<Member>>& folders, const MemFs& fs,
                     const DecodeRun& run) {
  std::vector<const Member*> in;
  std::vector<std::string> names;
  for (const auto& f : folders) {
    for (const auto& m : f) {
      in.push_back(&m);
      names.push_back(m.name);
    }
  }
  EXPECT_EQ(NamesOf(run), names);
  for (size_t i = 0; i < std::min(in.size(), run.members.size()); ++i) {
    const Member& m = *in[i];
    const Decoded& d = run.members[i];
    if (d.name != m.name) break;  // reported above
    SCOPED_TRACE(m.name);
    const std::string& original = *fs.Get(m.source);
    EXPECT_EQ(d.cb, static_cast<LONG>(original.size()));
    EXPECT_TRUE(d.closed);
    EXPECT_EQ(d.bytes->size(), original.size());
    EXPECT_TRUE(*d.bytes == original) << "md5 " << Md5Of(*d.bytes) << " expected " << Md5Of(original);
    EXPECT_EQ(d.date, m.date);
    EXPECT_EQ(d.time, m.time);
    // "Run after extraction" travels as the execute attribute.
    EXPECT_EQ(d.attribs, m.attribs | (m.execute ? _A_EXEC : 0));
    EXPECT_EQ(d.runAfter, m.execute ? 1 : 0);
  }
}

TEST_P(FciCrossCheck, BothDecodersGiveWhatWentIn) {
  const Param& p = GetParam();
  MakeMembers(p.layout);
  Builder builder;
  BuildCabinets(fs_, folders_, p.compression, p.layout.cabinetSize, builder);
  if (HasFatalFailure()) return;
  ASSERT_GE(static_cast<int>(builder.cabinets.size()), p.layout.minCabinets);
  if (p.layout.minCabinets > 1) {
    // The set is only a set test if members really cross cabinets.
    int crossing = 0;
    for (const auto& pl : builder.placed) crossing += pl.continuation ? 1 : 0;
    EXPECT_GE(crossing, 2) << "too few members continue into a next cabinet";
  }
  DecodeRun system, program;
  DecodeWith(SystemFdi(), "set1.cab", system);
  DecodeWith(ProgramFdi(), "set1.cab", program);
  EXPECT_TRUE(fs_.Missing().empty()) << "a decoder opened a missing file: " << fs_.Missing()[0];

  // The program's FDI follows the whole set, succeeds on every cabinet and
  // gives what went in.
  EXPECT_EQ(program.cabinetsCopied, builder.cabinets);
  for (size_t i = 0; i < program.copyResults.size(); ++i) {
    EXPECT_TRUE(program.copyResults[i]) << program.cabinetsCopied[i] << " error " << program.errors[i];
  }
  ExpectMembersOf(folders_, fs_, program);
  // What the inputs leave open, as the system's FDI gives it.
  EXPECT_EQ(NamesOf(program), NamesOf(system));
  for (size_t i = 0; i < std::min(program.members.size(), system.members.size()); ++i) {
    if (program.members[i].name != system.members[i].name) break;  // reported above
    EXPECT_EQ(program.members[i].folder, system.members[i].folder) << system.members[i].name;
  }
  EXPECT_EQ(program.partials, system.partials);
  EXPECT_EQ(program.nextCabinetNotices, system.nextCabinetNotices);
  EXPECT_EQ(NoticesOf(program), NoticesOf(system));
  // Nothing left open by either decoder.
  EXPECT_EQ(fs_.OpenHandles(), 0);
}

INSTANTIATE_TEST_SUITE_P(Layouts, FciCrossCheck, ::testing::ValuesIn(Params()), ParamName);

}  // namespace
