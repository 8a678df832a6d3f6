#include "install/ExtractCabinet.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cstdlib>
#include <mutex>
#include <new>
#include <vector>

#include "core/Log.h"
#include "core/Resources.h"
#include "core/TextFormat.h"
#include "core/SystemLibraries.h"
#include "frame/Handle.h"
#include "install/Fdi.h"
#include "install/TempFileList.h"
#include "install/cab/CabError.h"
#include "install/cab/MemberName.h"
#include "resources/StringIds.h"

namespace {


// The values one extraction shares with its callbacks.
std::string g_destination;
HWND g_statusWindow = nullptr;
const MemberFilter* g_wanted = nullptr;  // null: every member

// What the first cabinet-information notice of one copy call said about the
// cabinet the call was given: where the set goes on.
struct CabinetInSet {
  bool seen = false;
  std::string next;
  USHORT setId = 0;
  USHORT index = 0;
};
CabinetInSet g_copied;
// The cabinet before the one being copied, when the copy goes on in a set:
// the copied one must be its successor, or none of its members is written.
CabinetInSet g_expected;
bool g_wrongCabinet = false;

// The member being written, from its open until its close.
struct OpenMember {
  std::string target;
  int hf = -1;
};
OpenMember g_member;

const char* ErrorText(int code) {
  return cab::CabErrorText(static_cast<cab::CabError>(code));
}

std::string Format(UINT id, const std::string& a) {
  return FormatText(LoadResString(id).c_str(), a.c_str());
}

std::string Format(UINT id, const std::string& a, unsigned long b) {
  return FormatText(LoadResString(id).c_str(), a.c_str(), b);
}

// The decoder's memory and file callbacks: the program's heap, and the
// runtime's low-level handles in binary mode.
FNALLOC(HeapAllocate) { return std::malloc(cb); }
FNFREE(HeapRelease) { std::free(pv); }
FNOPEN(FileOpen) { return _open(pszFile, oflag | _O_BINARY, pmode); }
FNREAD(FileRead) { return static_cast<UINT>(_read(static_cast<int>(hf), pv, cb)); }
FNWRITE(FileWrite) { return static_cast<UINT>(_write(static_cast<int>(hf), pv, cb)); }
FNCLOSE(FileClose) { return _close(static_cast<int>(hf)); }
FNSEEK(FileSeek) { return _lseek(static_cast<int>(hf), dist, seektype); }

void ShowTarget(const std::string& target) {
  if (!g_statusWindow) return;
  if (PathSetDlgItemPathFn setPath = PathSetDlgItemPath()) {
    setPath(::GetParent(g_statusWindow), ::GetDlgCtrlID(g_statusWindow), target.c_str());
  } else {
    ::SetWindowTextA(g_statusWindow, target.c_str());
  }
}

// Gives the written member its stored date and time (local time), through
// the handle it was written with: opening it again costs a round of system
// calls per member, which a catalogue of many small members feels.
void DateMember(int hf, USHORT date, USHORT time) {
  const HANDLE file = reinterpret_cast<HANDLE>(_get_osfhandle(hf));
  FILETIME local, utc;
  if (file != INVALID_HANDLE_VALUE && ::DosDateTimeToFileTime(date, time, &local) &&
      ::LocalFileTimeToFileTime(&local, &utc))
    ::SetFileTime(file, &utc, nullptr, &utc);
}

// The next cabinet's name comes from the download: it must lie in this
// cabinet's folder. Logs a refusal.
bool NextCabinetIsSafe(const std::string& next) {
  if (cab::IsSafeMemberName(next)) return true;
  LogFormat("Refusing the next cabinet '%s': the name leaves the cabinet's folder.",
            next.c_str());
  return false;
}

FNFDINOTIFY(Notify) {
  switch (fdint) {
    case fdintCOPY_FILE: {
      const std::string name = pfdin->psz1 ? pfdin->psz1 : "";
      // Names come from the download: never write outside the destination.
      if (!cab::IsSafeMemberName(name)) {
        LogFormat("Refusing to extract '%s': the name leaves the destination folder.",
                  name.c_str());
        return -1;
      }
      if (g_wanted && *g_wanted && !(*g_wanted)(name)) return 0;  // skipped
      const std::string target = g_destination + name;
      ShowTarget(target);
      const int hf = _open(target.c_str(), _O_BINARY | _O_CREAT | _O_TRUNC | _O_WRONLY,
                           _S_IREAD | _S_IWRITE);
      if (hf != -1) g_member = OpenMember{target, hf};
      return hf;  // -1 ends the copy
    }
    case fdintCLOSE_FILE_INFO: {
      const std::string target = g_destination + (pfdin->psz1 ? pfdin->psz1 : "");
      DateMember(static_cast<int>(pfdin->hf), pfdin->date, pfdin->time);
      _close(static_cast<int>(pfdin->hf));
      g_member = OpenMember();
      // No attributes: a read-only member must stay replaceable.
      ::SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_NORMAL);
      TheTempFileList().Add(target);
      return TRUE;
    }
    case fdintCABINET_INFO:
      if (!g_copied.seen) {
        g_copied.seen = true;
        g_copied.next = pfdin->psz1 ? pfdin->psz1 : "";
        g_copied.setId = pfdin->setID;
        g_copied.index = pfdin->iCabinet;
        if (g_expected.seen && (g_copied.setId != g_expected.setId ||
                                g_copied.index != g_expected.index + 1)) {
          g_wrongCabinet = true;
          return -1;
        }
      }
      return 0;
    case fdintNEXT_CABINET: {
      return NextCabinetIsSafe(pfdin->psz1 ? pfdin->psz1 : "") ? 0 : -1;
    }
    default:
      // Partial files, enumeration: go on.
      return 0;
  }
}

// A member the copy stopped in the middle of: closed and removed, so that
// no half-written file stays behind unlisted.
void AbandonMember() {
  if (g_member.hf == -1) return;
  _close(g_member.hf);
  ::SetFileAttributesA(g_member.target.c_str(), FILE_ATTRIBUTE_NORMAL);
  ::DeleteFileA(g_member.target.c_str());
  LogFormat("Removed '%s': it was not extracted completely.", g_member.target.c_str());
  g_member = OpenMember();
}

// Clears the shared values on every way out of ExtractCabinet.
struct ExtractionScope {
  ExtractionScope(std::string destination, HWND window, const MemberFilter* wanted) {
    g_destination = std::move(destination);
    g_statusWindow = window;
    g_wanted = wanted;
  }
  ~ExtractionScope() {
    AbandonMember();
    g_expected = CabinetInSet();
    g_wrongCabinet = false;
    g_destination.clear();
    g_statusWindow = nullptr;
    g_wanted = nullptr;
  }
};

}  // namespace

int ExtractCabinet(const std::string& cabinetPath, HWND statusWindow) {
  char drive[_MAX_DRIVE], dir[_MAX_DIR], name[_MAX_FNAME], ext[_MAX_EXT];
  _splitpath(cabinetPath.c_str(), drive, dir, name, ext);
  return ExtractCabinetTo(cabinetPath, std::string(drive) + dir, statusWindow);
}

int ExtractCabinetTo(const std::string& cabinetPath, const std::string& folder,
                     HWND statusWindow) {
  return ExtractCabinetTo(cabinetPath, folder, statusWindow, MemberFilter());
}

int ExtractCabinetTo(const std::string& cabinetPath, const std::string& folder,
                     HWND statusWindow, const MemberFilter& wanted) {
  // The callbacks share the values above: one extraction at a time.
  static std::mutex extraction;
  std::lock_guard<std::mutex> hold(extraction);
  ExtractionScope scope(folder, statusWindow, &wanted);

  ERF erf = {};
  HFDI fdi = FDICreate(HeapAllocate, HeapRelease, FileOpen, FileRead, FileWrite, FileClose,
                       FileSeek, cpu80386, &erf);
  if (!fdi) {
    LogFormat("FDICreate() failed: code %d [%s]\n", erf.erfOper, ErrorText(erf.erfOper));
    return 0;
  }
  const int hf = _open(cabinetPath.c_str(), _O_BINARY | _O_RDONLY | _O_SEQUENTIAL, 0);
  if (hf == -1) {
    FDIDestroy(fdi);
    LogFormat("Unable to open '%s' for input\n", cabinetPath.c_str());
    return 0;
  }
  FDICABINETINFO info = {};
  const BOOL isCabinet = FDIIsCabinet(fdi, hf, &info);
  _close(hf);
  if (!isCabinet) {
    LogFormat("FDIIsCabinet() failed: '%s' is not a cabinet\n", cabinetPath.c_str());
    FDIDestroy(fdi);
    return 0;
  }

  std::string cabName = cabinetPath;
  std::string cabFolder;
  const auto slash = cabinetPath.find_last_of('\\');
  if (slash != std::string::npos) {
    cabName = cabinetPath.substr(slash + 1);
    cabFolder = cabinetPath.substr(0, slash + 1);
  }
  // One copy call unpacks the members that begin in the cabinet it is given;
  // a cabinet set is unpacked by going on, call by call, to the next cabinet
  // each one names, as long as it is the next one of the same set.
  CabinetInSet previous;
  for (;;) {
    g_copied = CabinetInSet();
    g_expected = previous;
    g_wrongCabinet = false;
    int failure = 0;
    if (!FDICopy(fdi, &cabName[0], &cabFolder[0], 0, Notify, nullptr, nullptr))
      failure = g_wrongCabinet ? FDIERROR_WRONG_CABINET : erf.erfOper;
    AbandonMember();
    if (failure) {
      LogFormat("FDICopy() failed: code %d [%s]\n", failure, ErrorText(failure));
      FDIDestroy(fdi);
      return 0;
    }
    if (g_copied.next.empty()) break;
    if (!NextCabinetIsSafe(g_copied.next)) {
      FDIDestroy(fdi);
      return 0;
    }
    previous = g_copied;
    cabName = previous.next;
  }
  if (!FDIDestroy(fdi)) {
    LogFormat("FDIDestroy() failed: code %d [%s]\n", erf.erfOper, ErrorText(erf.erfOper));
    return 0;
  }
  return 1;
}

std::string CheckCabinet(const std::string& cabinetPath) try {
  const DWORD lastError = ::GetLastError();
  LogWrite(Format(IDS_CABINET_EXTRACT_FAILED, cabinetPath, lastError));
  if (::GetFileAttributesA(cabinetPath.c_str()) == INVALID_FILE_ATTRIBUTES) {
    const std::string missing = Format(IDS_CABINET_NOT_FOUND, cabinetPath);
    LogWrite(missing);
    return missing;
  }
  WIN32_FIND_DATAA data;
  frame::ScopedFind find(::FindFirstFileA(cabinetPath.c_str(), &data));
  if (!find) {
    LogFormat("FindFirstFile failed for the file %s.", cabinetPath.c_str());
    return std::string();
  }
  std::string result = Format(IDS_CABINET_CORRUPTED, cabinetPath);
  LogFormat("The cabinet file '%s' size %d bytes.", cabinetPath.c_str(),
            static_cast<int>(data.nFileSizeLow));
  if (data.nFileSizeLow != 0 || data.nFileSizeHigh != 0) {
    frame::ScopedFile file(::CreateFileA(cabinetPath.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
      LogWrite(Format(IDS_CABINET_OPEN_FAILED, cabinetPath, ::GetLastError()));
    } else {
      // The file's start, zero-terminated: an error page saved in place of
      // the cabinet shows up in the log as text. At most the first 64 KiB,
      // whatever size a damaged or hostile download claims.
      const DWORD kMaxDump = 64 * 1024;
      const DWORD wanted =
          data.nFileSizeHigh != 0 || data.nFileSizeLow > kMaxDump ? kMaxDump : data.nFileSizeLow;
      std::vector<char> bytes(static_cast<size_t>(wanted) + 1, '\0');
      DWORD read = 0;
      if (!::ReadFile(file.get(), bytes.data(), wanted, &read, nullptr)) {
        LogFormat("ReadFile failed to read from file %s. Error %d.", cabinetPath.c_str(),
                  static_cast<int>(::GetLastError()));
      } else {
        result = "The cabinet file " + cabinetPath + " contained corrupted data.";
        LogWrite(result);
        LogWrite(std::string("Corrupted data") + "\n\n" + bytes.data() + "\n\n" + ".");
      }
    }
  }
  return result;
} catch (const std::bad_alloc&) {
  // Out of memory while diagnosing: no diagnosis, but no escape either.
  return std::string();
}
