// Reference cabinets by their Windows path, and an in-memory file system
// behind the FDI callbacks, so that the program's FDI and the system's read
// the very same bytes. (EXPECTED.txt is read with cabtest::ReadExpected of
// CabTestSupport.h.)
#pragma once

#include <windows.h>
#include <fcntl.h>
#include <fdi.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace cabtest {

// Folder of the reference cabinets (tests/data/cabinets), with a trailing backslash.
std::string CabinetsDir();
std::string ReadCabinet(const std::string& name);
// Offset of the first CFFILE entry of a cabinet without reserve areas.
uint32_t FirstFileEntry(const std::string& cabinet);

// Files by name and handles on them (FCI's and FDI's callbacks). Handles
// start well above 0, so that neither 0 nor -1 is ever handed out.
class MemFs {
 public:
  using Bytes = std::shared_ptr<std::string>;
  INT_PTR Open(const std::string& name, int oflag) {  // -1 when missing and not created
    auto it = files_.find(name);
    if (it == files_.end() && !(oflag & _O_CREAT)) return -1;
    if (it == files_.end()) it = files_.emplace(name, std::make_shared<std::string>()).first;
    if (oflag & _O_TRUNC) it->second->clear();
    return OpenBytes(it->second);
  }
  INT_PTR OpenBytes(const Bytes& bytes) {  // on bytes without a name
    handles_.push_back(Handle{bytes, 0});
    return 0x100 + static_cast<INT_PTR>(handles_.size()) - 1;
  }
  UINT Read(INT_PTR hf, void* pv, UINT cb) {
    Handle* h = Find(hf);
    if (!h) return static_cast<UINT>(-1);
    const size_t n = std::min<size_t>(h->pos < h->bytes->size() ? h->bytes->size() - h->pos : 0, cb);
    std::memcpy(pv, h->bytes->data() + h->pos, n);
    return h->pos += n, static_cast<UINT>(n);
  }
  UINT Write(INT_PTR hf, const void* pv, UINT cb) {
    Handle* h = Find(hf);
    if (!h) return static_cast<UINT>(-1);
    if (h->bytes->size() < h->pos + cb) h->bytes->resize(h->pos + cb);
    std::memcpy(&(*h->bytes)[0] + h->pos, pv, cb);
    return h->pos += cb, cb;
  }
  int Close(INT_PTR hf) {
    Handle* h = Find(hf);
    return h ? h->bytes.reset(), 0 : -1;
  }
  long Seek(INT_PTR hf, long dist, int type) {
    Handle* h = Find(hf);
    const size_t base = !h ? 0 : type == SEEK_CUR ? h->pos : type == SEEK_END ? h->bytes->size() : 0;
    if (!h || static_cast<long>(base) + dist < 0) return -1;
    return static_cast<long>(h->pos = base + dist);
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
    for (const auto& h : handles_) n += h.bytes ? 1 : 0;
    return n;
  }

 private:
  struct Handle {
    Bytes bytes;  // null once closed
    size_t pos;
  };
  Handle* Find(INT_PTR hf) {
    const size_t i = static_cast<size_t>(hf - 0x100);
    return hf >= 0x100 && i < handles_.size() && handles_[i].bytes ? &handles_[i] : nullptr;
  }
  std::map<std::string, Bytes> files_;
  std::vector<Handle> handles_;
};

constexpr char kMemFolder[] = "C:\\mem\\";

// One FDI implementation: the program's or the system's.
struct FdiApi {
  const char* label;
  decltype(&::FDICreate) create;
  decltype(&::FDICopy) copy;
  decltype(&::FDIDestroy) destroy;
};
FdiApi ProgramFdi();

struct Decoded {
  // "name cb date time attribs" from the copy notice, " closed cb" once
  // the close notice came.
  std::string notices;
  std::shared_ptr<std::string> bytes = std::make_shared<std::string>();
};

struct DecodeRun {
  bool ok = true;
  ERF erf = {};                             // of the call that failed
  std::vector<std::string> cabinetsCopied;  // one per FDICopy call
  // Every notice in order: "cabinet index:next/disk/setID", "partial name",
  // "next name", "copy name folder".
  std::vector<std::string> notices;
  std::vector<Decoded> members;
  std::string pendingNext;
  bool sawCabinet = false;
  INT_PTR openMember = 0;
};

// Copies `first` from kMemFolder and then each next cabinet, as FDI users
// follow a set: the name comes from the first cabinet notice of a call, and
// members continued from an earlier cabinet (partial-file notices) are
// skipped. Stops at the first failure, closing a member left open.
void DecodeWith(const FdiApi& api, MemFs& fs, const std::string& first, DecodeRun& run);

// The MD5 of all members' bytes in order, as EXPECTED.txt gives it.
std::string Md5OfMembers(const DecodeRun& run);

}  // namespace cabtest
