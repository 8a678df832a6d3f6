#include "core/UpdateLog.h"

#include <shlobj.h>

#include <cstdio>

#include "core/Locations.h"
#include "core/Log.h"

namespace {

constexpr DWORD kMaxLogBytes = 512000;  // a larger log is emptied at the next start
const char kHyphens[] = "-----------------------------------------------------------";  // 59
static_assert(sizeof(kHyphens) == 60, "the rule is 59 hyphens");

std::string Now() {
  SYSTEMTIME time;
  ::GetLocalTime(&time);
  return FormatLogTime(time);
}

}  // namespace

std::string FormatLogTime(const SYSTEMTIME& time) {
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  char text[64];
  std::snprintf(text, sizeof(text), "%s %s %2u %02u:%02u:%02u %04u",
                kDays[time.wDayOfWeek % 7], kMonths[(time.wMonth + 11) % 12],
                static_cast<unsigned>(time.wDay), static_cast<unsigned>(time.wHour),
                static_cast<unsigned>(time.wMinute), static_cast<unsigned>(time.wSecond),
                static_cast<unsigned>(time.wYear));
  return text;
}

std::string UpdateLogPath(bool uninstallMode) {
  if (!uninstallMode) {
    char documents[MAX_PATH] = "";
    if (SUCCEEDED(::SHGetFolderPathA(nullptr, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT,
                                     documents)) &&
        documents[0]) {
      std::string folder = std::string(documents) + "\\Pellory";
      ::CreateDirectoryA(folder.c_str(), nullptr);
      folder += "\\Logs";
      ::CreateDirectoryA(folder.c_str(), nullptr);
      return folder + "\\Update.log";
    }
  }
  return GetModuleDir() + "Update.log";
}

UpdateLog::~UpdateLog() { Finish(); }

bool UpdateLog::Open(bool uninstallMode) { return OpenAt(UpdateLogPath(uninstallMode)); }

bool UpdateLog::OpenAt(const std::string& path) {
  if (IsOpen()) return true;
  if (OpenFile(path)) return true;
  char temp[MAX_PATH] = "";
  DWORD length = ::GetTempPathA(MAX_PATH, temp);
  if (length == 0 || length >= MAX_PATH) {
    path_.clear();
    return false;
  }
  std::string fallback = temp;
  if (fallback.back() != '\\') fallback += '\\';
  if (OpenFile(fallback + "Update.log")) return true;
  path_.clear();
  return false;
}

bool UpdateLog::OpenFile(const std::string& path) {
  file_.reset(::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file_) return false;
  path_ = path;
  LARGE_INTEGER size = {};
  if (!::GetFileSizeEx(file_.get(), &size) || size.QuadPart == 0) return true;
  if (size.QuadPart > kMaxLogBytes) {
    // Emptied, not shortened to a tail: a new run starts a new file.
    ::SetFilePointer(file_.get(), 0, nullptr, FILE_BEGIN);
    ::SetEndOfFile(file_.get());
  }
  ::SetFilePointer(file_.get(), 0, nullptr, FILE_END);
  Write("\n\n");
  return true;
}

bool UpdateLog::WriteBytes(const char* data, size_t size) {
  DWORD written = 0;
  return ::WriteFile(file_.get(), data, static_cast<DWORD>(size), &written, nullptr) &&
         written == size;
}

bool UpdateLog::Write(const std::string& text) {
  if (!IsOpen()) return false;
  // Another thread may have written since: always append at the end.
  ::SetFilePointer(file_.get(), 0, nullptr, FILE_END);
  const bool textOk = WriteBytes(text.data(), text.size());
  const bool lineOk = WriteBytes("\r\n", 2);
  return textOk && lineOk;
}

bool UpdateLog::WriteStart() {
  if (!IsOpen()) return false;
  const bool a = Write("Update started at " + Now());
  const bool b = Write(kHyphens);
  return a && b;
}

bool UpdateLog::WriteEnd() {
  if (!IsOpen()) return false;
  bool ok = Write("");
  ok = Write("") && ok;
  ok = Write(kHyphens) && ok;
  ok = Write("Update Completed at " + Now()) && ok;
  return ok;
}

void UpdateLog::Close() {
  file_.reset();
  path_.clear();
}

void UpdateLog::Finish() {
  if (!IsOpen()) return;
  WriteEnd();
  Close();
}

UpdateLog& TheUpdateLog() {
  static UpdateLog log;
  return log;
}

void InstallUpdateLogSink() {
  SetLogSink([](const std::string& text) { TheUpdateLog().Write(text); });
}
