#include "install/Fdi.h"

#include <fcntl.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <string>

#include "install/cab/CabDecoder.h"
#include "install/cab/Cabinet.h"
#include "install/cab/MemberName.h"

namespace {

// What FDICreate hands out: the caller's callbacks and error record.
struct FdiContext {
  PFNALLOC alloc;
  PFNFREE free;
  PFNOPEN open;
  PFNREAD read;
  PFNWRITE write;
  PFNCLOSE close;
  PFNSEEK seek;
  PERF erf;
};

void SetError(FdiContext* fdi, cab::CabError error) {
  if (!fdi || !fdi->erf) return;
  fdi->erf->erfOper = cab::CabErrorCode(error);
  fdi->erf->erfType = 0;
  fdi->erf->fError = error != cab::CabError::kNone;
}

// A cabinet read through the caller's file callbacks.
class CallbackInput : public cab::CabInput {
 public:
  CallbackInput(FdiContext* fdi, INT_PTR hf, bool owned) : fdi_(fdi), hf_(hf), owned_(owned) {}
  ~CallbackInput() override {
    if (owned_) fdi_->close(hf_);
  }
  size_t Read(void* buffer, size_t size) override {
    size_t total = 0;
    auto* out = static_cast<char*>(buffer);
    while (total < size) {
      const UINT chunk = static_cast<UINT>(std::min<size_t>(size - total, 1u << 30));
      const UINT got = fdi_->read(hf_, out + total, chunk);
      if (got == static_cast<UINT>(-1) || got == 0) break;
      total += got;
    }
    return total;
  }
  bool Seek(uint64_t position) override {
    if (position > 0x7FFFFFFF) return false;
    return fdi_->seek(hf_, static_cast<long>(position), SEEK_SET) == static_cast<long>(position);
  }
  int64_t Size() override {
    const long here = fdi_->seek(hf_, 0, SEEK_CUR);
    const long end = fdi_->seek(hf_, 0, SEEK_END);
    if (here < 0 || end < 0) return -1;
    fdi_->seek(hf_, here, SEEK_SET);
    return end;
  }

 private:
  FdiContext* fdi_;
  INT_PTR hf_;
  bool owned_;
};

// Turns the decoder's callbacks into FDI notifications.
class NotifyBridge : public cab::CabCallbacks {
 public:
  NotifyBridge(FdiContext* fdi, PFNFDINOTIFY notify, void* user, std::string cabPath)
      : fdi_(fdi), notify_(notify), user_(user), cabPath_(std::move(cabPath)) {}

  bool OnCabinet(const cab::CabinetInfo& info) override {
    std::string next = info.header.nextCabinet;
    std::string disk = info.header.nextDisk;
    std::string path = cabPath_;
    FDINOTIFICATION n = Blank();
    n.psz1 = &next[0];
    n.psz2 = &disk[0];
    n.psz3 = &path[0];
    n.setID = info.header.setId;
    n.iCabinet = info.header.cabinetIndex;
    return Call(fdintCABINET_INFO, n) != -1;
  }

  bool OnPartialMember(const cab::CabFile& file) override {
    std::string name = file.name;
    std::string first;  // the first cabinet's name is not known from here
    FDINOTIFICATION n = Blank();
    n.psz1 = &name[0];
    n.psz2 = &first[0];
    n.psz3 = &first[0];
    return Call(fdintPARTIAL_FILE, n) != -1;
  }

  cab::MemberAction OpenMember(const cab::CabFile& file, uint16_t) override {
    std::string name = file.name;
    FDINOTIFICATION n = Blank();
    n.psz1 = &name[0];
    n.cb = static_cast<LONG>(file.size);
    n.date = file.date;
    n.time = file.time;
    n.attribs = file.attributes;
    n.iFolder = file.folderIndex;
    const INT_PTR hf = Call(fdintCOPY_FILE, n);
    if (hf == -1) return cab::MemberAction::kAbort;
    if (hf == 0) return cab::MemberAction::kSkip;
    hf_ = hf;
    return cab::MemberAction::kWrite;
  }

  bool WriteMember(const uint8_t* data, size_t size) override {
    while (size > 0) {
      const UINT chunk = static_cast<UINT>(std::min<size_t>(size, 1u << 30));
      if (fdi_->write(hf_, const_cast<uint8_t*>(data), chunk) != chunk) return false;
      data += chunk;
      size -= chunk;
    }
    return true;
  }

  bool CloseMember(const cab::CabFile& file) override {
    std::string name = file.name;
    FDINOTIFICATION n = Blank();
    n.psz1 = &name[0];
    n.hf = hf_;
    n.date = file.date;
    n.time = file.time;
    n.attribs = file.attributes;
    n.cb = (file.attributes & 0x40) ? 1 : 0;  // "run after extraction"
    hf_ = 0;
    return Call(fdintCLOSE_FILE_INFO, n) == TRUE;
  }

  std::unique_ptr<cab::CabInput> OpenNextCabinet(const cab::CabHeader& current) override {
    char name[CB_MAX_CABINET_NAME] = "";
    char disk[CB_MAX_DISK_NAME] = "";
    char path[CB_MAX_CAB_PATH] = "";
    lstrcpynA(name, current.nextCabinet.c_str(), sizeof(name));
    lstrcpynA(disk, current.nextDisk.c_str(), sizeof(disk));
    lstrcpynA(path, cabPath_.c_str(), sizeof(path));
    FDINOTIFICATION n = Blank();
    n.psz1 = name;
    n.psz2 = disk;
    n.psz3 = path;  // the callback may point elsewhere
    n.fdie = FDIERROR_NONE;
    if (Call(fdintNEXT_CABINET, n) == -1) {
      aborted_ = true;
      return nullptr;
    }
    // The name comes from the cabinet: never a cabinet outside the folder.
    if (!cab::IsSafeMemberName(name)) return nullptr;
    std::string full = std::string(path) + name;
    const INT_PTR hf = fdi_->open(&full[0], _O_BINARY | _O_RDONLY | _O_SEQUENTIAL, 0);
    if (hf == -1 || hf == 0) return nullptr;
    return std::make_unique<CallbackInput>(fdi_, hf, true);
  }

  bool Aborted() const { return aborted_; }

 private:
  FDINOTIFICATION Blank() const {
    FDINOTIFICATION n;
    std::memset(&n, 0, sizeof(n));
    n.pv = user_;
    return n;
  }
  INT_PTR Call(FDINOTIFICATIONTYPE type, FDINOTIFICATION& n) { return notify_(type, &n); }

  FdiContext* fdi_;
  PFNFDINOTIFY notify_;
  void* user_;
  std::string cabPath_;
  INT_PTR hf_ = 0;
  bool aborted_ = false;
};

}  // namespace

extern "C" {

HFDI DIAMONDAPI FDICreate(PFNALLOC pfnalloc, PFNFREE pfnfree, PFNOPEN pfnopen, PFNREAD pfnread,
                          PFNWRITE pfnwrite, PFNCLOSE pfnclose, PFNSEEK pfnseek, int,
                          PERF perf) {
  if (perf) std::memset(perf, 0, sizeof(*perf));
  if (!pfnalloc || !pfnfree || !pfnopen || !pfnread || !pfnwrite || !pfnclose || !pfnseek) {
    if (perf) {
      perf->erfOper = FDIERROR_ALLOC_FAIL;
      perf->fError = TRUE;
    }
    return nullptr;
  }
  auto* fdi = static_cast<FdiContext*>(pfnalloc(sizeof(FdiContext)));
  if (!fdi) {
    if (perf) {
      perf->erfOper = FDIERROR_ALLOC_FAIL;
      perf->fError = TRUE;
    }
    return nullptr;
  }
  *fdi = FdiContext{pfnalloc, pfnfree, pfnopen, pfnread, pfnwrite, pfnclose, pfnseek, perf};
  return fdi;
}

WINBOOL DIAMONDAPI FDIIsCabinet(HFDI hfdi, INT_PTR hf, PFDICABINETINFO pfdici) {
  auto* fdi = static_cast<FdiContext*>(hfdi);
  if (!fdi) return FALSE;
  try {
    CallbackInput input(fdi, hf, false);
    if (!input.Seek(0)) {
      SetError(fdi, cab::CabError::kNotACabinet);
      return FALSE;
    }
    cab::CabHeader header;
    const cab::CabError error = cab::ReadCabinetHeader(input, &header);
    if (error != cab::CabError::kNone) {
      SetError(fdi, error);
      return FALSE;
    }
    if (pfdici) {
      pfdici->cbCabinet = static_cast<LONG>(header.cabinetSize);
      pfdici->cFolders = header.folderCount;
      pfdici->cFiles = header.fileCount;
      pfdici->setID = header.setId;
      pfdici->iCabinet = header.cabinetIndex;
      pfdici->fReserve = (header.flags & cab::kFlagReservePresent) != 0;
      pfdici->hasprev = (header.flags & cab::kFlagPrevCabinet) != 0;
      pfdici->hasnext = (header.flags & cab::kFlagNextCabinet) != 0;
    }
    return TRUE;
  } catch (const std::bad_alloc&) {
    SetError(fdi, cab::CabError::kAllocFail);
  } catch (...) {
    SetError(fdi, cab::CabError::kCorruptCabinet);
  }
  return FALSE;
}

WINBOOL DIAMONDAPI FDICopy(HFDI hfdi, char* pszCabinet, char* pszCabPath, int, PFNFDINOTIFY pfnfdin,
                           PFNFDIDECRYPT, void* pvUser) {
  auto* fdi = static_cast<FdiContext*>(hfdi);
  if (!fdi || !pszCabinet || !pfnfdin) return FALSE;
  try {
    const std::string folder = pszCabPath ? pszCabPath : "";
    std::string path = folder + pszCabinet;
    const INT_PTR hf = fdi->open(&path[0], _O_BINARY | _O_RDONLY | _O_SEQUENTIAL, 0);
    if (hf == -1 || hf == 0) {
      SetError(fdi, cab::CabError::kCabinetNotFound);
      return FALSE;
    }
    NotifyBridge bridge(fdi, pfnfdin, pvUser, folder);
    cab::DecodeOptions options;
    options.followSet = false;  // as FDI: next cabinets only when a member needs them
    cab::CabError error =
        cab::DecodeCabinetSet(std::make_unique<CallbackInput>(fdi, hf, true), bridge, options);
    if (bridge.Aborted()) error = cab::CabError::kUserAbort;
    SetError(fdi, error);
    return error == cab::CabError::kNone;
  } catch (const std::bad_alloc&) {
    SetError(fdi, cab::CabError::kAllocFail);
  } catch (...) {
    SetError(fdi, cab::CabError::kDecompressorFailure);
  }
  return FALSE;
}

WINBOOL DIAMONDAPI FDIDestroy(HFDI hfdi) {
  auto* fdi = static_cast<FdiContext*>(hfdi);
  if (!fdi) return FALSE;
  PFNFREE release = fdi->free;
  release(fdi);
  return TRUE;
}

}  // extern "C"
