#include "install/SideCopy.h"

#include <aclapi.h>

#include "core/Error.h"
#include "core/Log.h"
#include "core/Platform.h"
#include "frame/Binding.h"
#include "install/TempFileList.h"

namespace {

FileCopyCall g_fileCopyForTests;
FileMoveCall g_fileMoveForTests;
FileMoveCall g_sideMoveForTests;

// Copies a new file to a fresh name beside its destination.
BOOL CopyFileCall(const std::string& from, const std::string& to) {
  return g_fileCopyForTests ? g_fileCopyForTests(from, to)
                            : ::CopyFileA(from.c_str(), to.c_str(), TRUE);
}

// A plain rename (the older family's only kind).
BOOL MoveFileCall(const std::string& from, const std::string& to) {
  return g_fileMoveForTests ? g_fileMoveForTests(from, to)
                            : ::MoveFileA(from.c_str(), to.c_str());
}

// Moves an extracted file beside its destination: a rename only, never a
// copy in disguise (the copy has its own road).
BOOL SideMoveCall(const std::string& from, const std::string& to) {
  return g_sideMoveForTests ? g_sideMoveForTests(from, to)
                            : ::MoveFileExA(from.c_str(), to.c_str(), 0);
}

// Bound at run time, as the program's other security calls.
using SetNamedSecurityInfoFn = DWORD(WINAPI*)(LPSTR, SE_OBJECT_TYPE, SECURITY_INFORMATION, PSID,
                                              PSID, PACL, PACL);

// A renamed file keeps the permissions it had where it was made (the temporary
// folder: its user, the administrators and the system only), where a copy
// takes its folder's. The moved file gets its new folder's inherited
// permissions instead, as a copy would. The NT family only; 0 or the error.
DWORD InheritFolderPermissions(const std::string& path) {
  if (!IsNT()) return 0;
  static frame::LibraryBinding binding;
  static SetNamedSecurityInfoFn setNamedSecurityInfo = nullptr;
  const frame::FunctionSlot slots[] = {
      {"SetNamedSecurityInfoA", frame::Slot(setNamedSecurityInfo)}};
  if (!binding.Bind("Advapi32.dll", slots, 1)) return ERROR_PROC_NOT_FOUND;
  // No entries of its own, and open to the folder's inheritable ones.
  ACL empty = {};
  empty.AclRevision = ACL_REVISION;
  empty.AclSize = sizeof(ACL);
  std::string name = path;
  return setNamedSecurityInfo(&name[0], SE_FILE_OBJECT,
                              DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION,
                              nullptr, nullptr, &empty, nullptr);
}

// A complete copy of a file in its destination's folder, under a name of its
// own: on the same volume, so one rename puts it in place, and with the
// folder's own permissions. Unless it was put in place, it is removed again,
// or, when it was moved there, moved back.
class SideCopy {
 public:
  SideCopy() = default;
  SideCopy(const SideCopy&) = delete;
  SideCopy& operator=(const SideCopy&) = delete;
  ~SideCopy() { Discard(); }

  // Renames `source` beside `destination` (same volume); 0 or the system
  // error code, and then `source` is where it was.
  DWORD Move(const std::string& source, const std::string& destination) {
    const std::string folder = SplitFolder(destination).first;
    for (unsigned attempt = 0; attempt < kSideNameAttempts; ++attempt) {
      const std::string name = SideName(folder, attempt);
      if (::GetFileAttributesA(name.c_str()) != INVALID_FILE_ATTRIBUTES) continue;
      if (!SideMoveCall(source, name)) {
        const DWORD error = LastErrorCode();
        if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;  // not ours
        return error;
      }
      path_ = name;
      movedFrom_ = source;
      if (const DWORD error = InheritFolderPermissions(name)) {
        Discard();
        return error;
      }
      return 0;
    }
    return ERROR_FILE_EXISTS;
  }

  // Copies `source` beside `destination`; 0 or the copy's system error code.
  DWORD Make(const std::string& source, const std::string& destination) {
    const std::string folder = SplitFolder(destination).first;
    for (unsigned attempt = 0; attempt < kSideNameAttempts; ++attempt) {
      const std::string name = SideName(folder, attempt);
      if (::GetFileAttributesA(name.c_str()) != INVALID_FILE_ATTRIBUTES) continue;
      if (CopyFileCall(source, name)) {
        path_ = name;
        return 0;
      }
      const DWORD error = LastErrorCode();
      if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;  // not ours
      path_ = name;  // a copy that failed part-way may have left bytes behind
      return error;
    }
    return ERROR_FILE_EXISTS;
  }

  // Renames the copy onto `target`, replacing what is there.
  DWORD PutInPlace(const std::string& target) {
    if (IsNT()) {
      if (!::MoveFileExA(path_.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING))
        return LastErrorCode();
      path_.clear();
      return 0;
    }
    // The older family has no rename that replaces. The old file steps aside
    // instead of being deleted, so that a failed rename can put it back, and
    // it goes only once the copy has its place.
    const DWORD attributes = ::GetFileAttributesA(target.c_str());
    std::string aside;
    if (attributes != INVALID_FILE_ATTRIBUTES) {
      // What the NT family's rename refuses, and a delete would.
      if (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY))
        return ERROR_ACCESS_DENIED;
      const std::string folder = SplitFolder(target).first;
      for (unsigned attempt = 0; attempt < kSideNameAttempts && aside.empty(); ++attempt) {
        const std::string name = SideName(folder, attempt);
        if (::GetFileAttributesA(name.c_str()) == INVALID_FILE_ATTRIBUTES) aside = name;
      }
      if (aside.empty()) return ERROR_FILE_EXISTS;
      if (!MoveFileCall(target, aside)) return LastErrorCode();
    }
    if (!MoveFileCall(path_, target)) {
      const DWORD error = LastErrorCode();
      // The user must be able to find the file under its other name.
      if (!aside.empty() && !MoveFileCall(aside, target))
        LogFormat("The old file '%s' could not be put back and is kept as '%s'. Error 0x0%x.",
                  target.c_str(), aside.c_str(), static_cast<unsigned>(LastErrorCode()));
      return error;
    }
    path_.clear();
    if (!aside.empty() && !::DeleteFileA(aside.c_str())) {
      // Something opened it since the rename a moment ago; it is free again
      // by the time the program ends, and WININIT.INI may be held open by
      // the caller now, so no line for the restart is written from here.
      LogFormat("DeleteFile failed for the file '%s', the old '%s'. Error 0x0%x. It is "
                "deleted when the program ends.",
                aside.c_str(), target.c_str(), static_cast<unsigned>(LastErrorCode()));
      TheTempFileList().Add(aside);
    }
    return 0;
  }

 private:
  void Discard() {
    if (path_.empty()) return;
    if (!movedFrom_.empty()) {
      // The run may want the extracted file again, a later try or a copy.
      if (::MoveFileExA(path_.c_str(), movedFrom_.c_str(), 0)) {
        path_.clear();
        return;
      }
      LogFormat("MoveFileEx failed to move the file '%s' back to '%s'. Error 0x0%x.",
                path_.c_str(), movedFrom_.c_str(), static_cast<unsigned>(LastErrorCode()));
    }
    ::SetFileAttributesA(path_.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileA(path_.c_str());
    path_.clear();
  }

  std::string path_;
  std::string movedFrom_;  // where a moved file came from
};

}  // namespace

std::pair<std::string, std::string> SplitFolder(const std::string& path) {
  const size_t slash = path.find_last_of('\\');
  if (slash == std::string::npos) return {std::string(), path};
  return {path.substr(0, slash + 1), path.substr(slash + 1)};
}

// A fresh name in `folder` for a copy on its way to its place: short (an
// 8.3 name, so the older family's tools take it as it is) and unlikely to be
// in use; callers still try the next one when it is.
std::string SideName(const std::string& folder, unsigned attempt) {
  static LONG counter = 0;
  const unsigned seed = static_cast<unsigned>(::InterlockedIncrement(&counter)) * 7919u +
                        ::GetCurrentProcessId() * 31u + ::GetTickCount() + attempt;
  char name[16] = "";
  wsprintfA(name, "~up%05X.tmp", seed & 0xFFFFFu);
  return folder + name;
}


// Puts a copy of `source` in the place of `target`: the old file stays whole
// until the complete copy replaces it. 0 or the system error code.
DWORD ReplaceByCopy(const std::string& source, const std::string& target) {
  SideCopy copy;
  if (const DWORD error = copy.Make(source, target)) return error;
  return copy.PutInPlace(target);
}

// The same for a `source` nothing needs afterwards: renamed beside `target`
// where the volume allows it, which spares writing every byte again, else
// copied. `moved` says which; on a failure `source` is where it was.
DWORD ReplaceByMove(const std::string& source, const std::string& target, bool& moved) {
  SideCopy side;
  const DWORD moveError = side.Move(source, target);
  moved = moveError == 0;
  if (!moved) {
    LogFormat("MoveFileEx could not move the file '%s' beside '%s'. Error 0x0%x. It is copied.",
              source.c_str(), target.c_str(), static_cast<unsigned>(moveError));
    if (const DWORD error = side.Make(source, target)) return error;
  }
  return side.PutInPlace(target);
}

FileCopyCall SetFileCopyCallForTests(FileCopyCall call) {
  return std::exchange(g_fileCopyForTests, std::move(call));
}

FileMoveCall SetFileMoveCallForTests(FileMoveCall call) {
  return std::exchange(g_fileMoveForTests, std::move(call));
}

FileMoveCall SetSideMoveCallForTests(FileMoveCall call) {
  return std::exchange(g_sideMoveForTests, std::move(call));
}
