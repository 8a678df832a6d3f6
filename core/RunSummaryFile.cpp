// Update.json on disk: beside Update.log, in a folder the user can write, so
// the file is made under a side name that must not exist yet (never through a
// link someone planted) and renamed over the old one, which replaces the
// name itself: a reader never sees half a file, and no other file is touched.
#include <windows.h>

#include <cstdio>
#include <string>

#include "core/FileVersion.h"
#include "core/Log.h"
#include "core/RunSummary.h"
#include "core/RunSummaryFile.h"
#include "core/TextConvert.h"
#include "frame/Handle.h"

namespace {


}  // namespace

std::string ProgramVersionText() {
  char path[MAX_PATH] = "";
  const DWORD length = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
  FileVersionParts version;
  if (length == 0 || length >= MAX_PATH || !ReadFileVersionParts(path, version))
    return std::string();
  char text[32] = "";
  std::snprintf(text, sizeof(text), "%u.%u.%u.%u", version.part[0], version.part[1],
                version.part[2], version.part[3]);
  return text;
}

std::string UtcTimeNow() {
  SYSTEMTIME now = {};
  ::GetSystemTime(&now);
  char text[32] = "";
  std::snprintf(text, sizeof(text), "%04u-%02u-%02uT%02u:%02u:%02uZ", now.wYear, now.wMonth,
                now.wDay, now.wHour, now.wMinute, now.wSecond);
  return text;
}

std::string RunSummaryPath(const std::string& logPath) {
  const size_t slash = logPath.find_last_of('\\');
  if (logPath.empty() || slash == std::string::npos) return std::string();
  return logPath.substr(0, slash + 1) + "Update.json";
}

bool WriteRunSummary(const std::string& path, int exitCode) {
  if (path.empty()) return false;
  const std::string text = AnsiToUtf8(TheRunSummary().Json(exitCode, UtcTimeNow()));
  const std::string side = path + ".new";
  ::DeleteFileA(side.c_str());  // a leftover, or a link someone put there: the name only
  bool ok = false;
  {
    frame::ScopedFile file(::CreateFileA(side.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    ok = file && ::WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written,
                             nullptr) &&
         written == text.size();
  }
  ok = ok && ::MoveFileExA(side.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
  if (!ok) {
    LogFormat("The run summary '%s' could not be written. Error 0x0%x.", path.c_str(),
              static_cast<unsigned>(::GetLastError()));
    ::DeleteFileA(side.c_str());
  }
  return ok;
}
