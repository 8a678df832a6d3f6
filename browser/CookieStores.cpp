#include "browser/CookieStores.h"

#include <windows.h>
#include <shlobj.h>

#include <sqlite3.h>

#include <ctime>

#include "browser/CookieFormats.h"
#include "browser/WinInetCookies.h"
#include "core/Platform.h"
#include "core/TextConvert.h"
#include "frame/Handle.h"
#include "frame/RegKey.h"

namespace {

// A browser holding its store is waited for this long, then left alone.
const int kBusyWaitMs = 3000;
// Cookie folders are shallow; the bound keeps a looping link from recursing.
const int kMaxFolderDepth = 16;
// Cookie files are small; anything larger is not one.
const DWORD kMaxCookieFileBytes = 16 * 1024 * 1024;
// 2020-01-01 06:01:01 UTC, the expiry of the database rows.
const long long kDatabaseExpiry = 1577858461;

const char kInternetExplorerExpiry[] = "; expires = Sat, 07-Jan-2020 00:00:00 GMT";

bool IsMissingFileError(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

bool ReadWholeFile(const std::string& path, std::string& bytes) {
  frame::ScopedFile file(::CreateFileA(path.c_str(), GENERIC_READ,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  const DWORD size = ::GetFileSize(file.get(), nullptr);
  if (size == INVALID_FILE_SIZE || size > kMaxCookieFileBytes) return false;
  std::string buffer(size, '\0');
  DWORD read = 0;
  if (size > 0 && (!::ReadFile(file.get(), &buffer[0], size, &read, nullptr) || read != size))
    return false;
  bytes.swap(buffer);
  return true;
}

// Writes the new content beside the file and renames it over the file, so
// that a failure on the way leaves the old file whole.
bool ReplaceFileContent(const std::string& folder, const std::string& path,
                        const std::string& bytes) {
  char side[MAX_PATH] = "";
  if (!::GetTempFileNameA(folder.c_str(), "ck", 0, side)) return false;
  bool written = false;
  {
    frame::ScopedFile file(::CreateFileA(side, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD done = 0;
    written = file && (bytes.empty() ||
                       (::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()),
                                    &done, nullptr) &&
                        done == bytes.size())) &&
              ::FlushFileBuffers(file.get());
  }
  if (!written) {
    ::DeleteFileA(side);
    return false;
  }
  if (::MoveFileExA(side, path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return true;
  if (::GetLastError() != ERROR_CALL_NOT_IMPLEMENTED) {
    ::DeleteFileA(side);
    return false;
  }
  // The older family has no rename that replaces. The old file steps aside
  // instead of being deleted, so that a failed rename can put it back, and
  // it goes only once the new content has its name.
  char aside[MAX_PATH] = "";
  if (!::GetTempFileNameA(folder.c_str(), "ck", 0, aside) || !::DeleteFileA(aside)) {
    ::DeleteFileA(side);
    return false;
  }
  const bool hadOld = ::MoveFileA(path.c_str(), aside) != FALSE;
  if (!hadOld && !IsMissingFileError(::GetLastError())) {
    ::DeleteFileA(side);
    return false;
  }
  if (!::MoveFileA(side, path.c_str())) {
    if (hadOld) ::MoveFileA(aside, path.c_str());
    ::DeleteFileA(side);
    return false;
  }
  if (hadOld) ::DeleteFileA(aside);
  return true;
}

// An open database connection that closes itself.
class Database {
 public:
  Database() = default;
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;
  ~Database() {
    if (db_) sqlite3_close(db_);
  }

  // Opens an existing database for writing: never creates one, and a store
  // held by a running browser is waited for only a bounded time.
  bool Open(const std::string& path) {
    if (sqlite3_open_v2(AnsiToUtf8(path).c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr) !=
        SQLITE_OK)
      return false;
    sqlite3_busy_timeout(db_, kBusyWaitMs);
    return true;
  }

  // Runs one statement made by sqlite3_mprintf (null when out of memory).
  bool Exec(char* statement) {
    if (!statement) return false;
    char* error = nullptr;
    const int rc = sqlite3_exec(db_, statement, IgnoreRows, nullptr, &error);
    sqlite3_free(error);
    sqlite3_free(statement);
    return rc == SQLITE_OK;
  }

 private:
  static int IgnoreRows(void*, int, char**, char**) { return 0; }

  sqlite3* db_ = nullptr;
};

bool SetDatabaseCookie(const std::string& path, const std::string& host, const std::string& name,
                       const std::string& value) {
  Database db;
  if (!db.Open(path)) return false;
  // The write lock is taken first, so a busy store fails before any change;
  // the old rows stay unless the new one is in.
  if (!db.Exec(sqlite3_mprintf("BEGIN IMMEDIATE;"))) return false;
  const bool done =
      db.Exec(sqlite3_mprintf("DELETE FROM moz_cookies WHERE host = '%q' AND name = '%q';",
                              host.c_str(), name.c_str())) &&
      db.Exec(sqlite3_mprintf("INSERT INTO moz_cookies (host, path, isSecure, expiry, name, "
                              "value) VALUES ('%q', '/', 0, %lld, '%q', '%q');",
                              host.c_str(), kDatabaseExpiry, name.c_str(), value.c_str())) &&
      db.Exec(sqlite3_mprintf("COMMIT;"));
  if (!done) db.Exec(sqlite3_mprintf("ROLLBACK;"));
  return done;
}

// 2020-01-01 01:01:01 in the machine's local time, as seconds since 1970 UTC
// (the C library's conversion: it is there on every Windows).
long long TextFileExpiry() {
  std::tm local = {};
  local.tm_year = 2020 - 1900;
  local.tm_mday = 1;
  local.tm_hour = 1;
  local.tm_min = 1;
  local.tm_sec = 1;
  local.tm_isdst = -1;
  const std::time_t seconds = std::mktime(&local);
  return seconds == static_cast<std::time_t>(-1) ? 1577840461LL  // the same moment in UTC
                                                 : static_cast<long long>(seconds);
}

bool SetTextFileCookie(const std::string& folder, const std::string& siteAddress,
                       const std::string& name, const std::string& value) {
  const std::string path = folder + "cookies.txt";
  std::string text;
  // Only a file that is not there is made anew; one whose attributes or
  // bytes cannot be read is left as it is.
  if (::GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
    if (!IsMissingFileError(::GetLastError())) return false;
  } else if (!ReadWholeFile(path, text)) {
    return false;
  }
  return ReplaceFileContent(folder, path,
                            SetCookiesTxtCookie(text, siteAddress, name, value, TextFileExpiry()));
}

// The first value of the cookie in the files of `folder` and its subfolders.
std::string FindCookieInFolder(const std::string& folder, const std::string& label,
                               const std::string& siteAddress, const std::string& host,
                               const std::string& name, int depth) {
  if (depth > kMaxFolderDepth) return std::string();
  WIN32_FIND_DATAA entry = {};
  frame::ScopedFind find(::FindFirstFileA((folder + "\\*.*").c_str(), &entry));
  if (!find) return std::string();
  do {
    const std::string entryName = entry.cFileName;
    if (entryName == "." || entryName == "..") continue;
    const std::string path = folder + "\\" + entryName;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      const std::string value =
          FindCookieInFolder(path, label, siteAddress, host, name, depth + 1);
      if (!value.empty()) return value;
      continue;
    }
    if (entryName.find(label) == std::string::npos) continue;
    std::string text;
    if (!ReadWholeFile(path, text)) continue;
    for (const InternetExplorerCookie& record : ParseInternetExplorerCookies(text)) {
      if ((::lstrcmpiA(record.host.c_str(), siteAddress.c_str()) == 0 ||
           ::lstrcmpiA(record.host.c_str(), host.c_str()) == 0) &&
          ::lstrcmpiA(record.name.c_str(), name.c_str()) == 0)
        return record.value;
    }
  } while (::FindNextFileA(find.get(), &entry));
  return std::string();
}

// The numbers of a dotted version text; a part without digits counts as 0.
long long VersionNumber(const std::string& text) {
  long long parts[4] = {0, 0, 0, 0};
  size_t at = 0;
  for (int i = 0; i < 4 && at <= text.size(); ++i) {
    size_t end = text.find('.', at);
    if (end == std::string::npos) end = text.size();
    for (size_t c = at; c < end && text[c] >= '0' && text[c] <= '9'; ++c) {
      if (parts[i] < 100000000) parts[i] = parts[i] * 10 + (text[c] - '0');
    }
    at = end + 1;
  }
  return ((parts[0] * 10 + parts[1]) * 10 + parts[2]) * 10 + parts[3];
}

}  // namespace

bool SetInternetExplorerCookie(const std::string& siteAddress, const std::string& name,
                               const std::string& value) {
  if (!BindWinInetCookies()) return false;
  const std::string data = name + "=" + value + kInternetExplorerExpiry;
  return WinInetCookies().InternetSetCookieA(siteAddress.c_str(), nullptr, data.c_str()) != FALSE;
}

std::string ReadInternetExplorerCookie(const std::string& siteAddress, const std::string& name) {
  char folder[MAX_PATH] = "";
  if (!::SHGetSpecialFolderPathA(nullptr, folder, CSIDL_COOKIES, FALSE)) return std::string();
  const std::string host = CookieHostOf(siteAddress);
  const std::string label = host.substr(0, host.find('.'));
  return FindCookieInFolder(folder, label, siteAddress, host, name, 0);
}

std::string FindFirefoxProfileFolder() {
  char appData[MAX_PATH] = "";
  if (!::SHGetSpecialFolderPathA(nullptr, appData, CSIDL_APPDATA, TRUE)) return std::string();
  const std::string profiles = std::string(appData) + "\\Mozilla\\Firefox\\Profiles\\";
  WIN32_FIND_DATAA entry = {};
  frame::ScopedFind find(::FindFirstFileA((profiles + "*").c_str(), &entry));
  if (!find) return std::string();
  do {
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && entry.cFileName[0] != '.')
      return profiles + entry.cFileName + "\\";
  } while (::FindNextFileA(find.get(), &entry));
  return std::string();
}

bool IsFirefox3OrLater() {
  // Firefox's own view first (a 64-bit one's), then this program's.
  const char kKey[] = "SOFTWARE\\mozilla.org\\Mozilla";
  frame::RegKey key;
  if (key.Open(HKEY_LOCAL_MACHINE, kKey, KEY_READ | NativeRegistryView()) != ERROR_SUCCESS &&
      key.Open(HKEY_LOCAL_MACHINE, kKey, KEY_READ) != ERROR_SUCCESS)
    return false;
  std::string version;
  if (key.QueryString("CurrentVersion", version, MAX_PATH) != ERROR_SUCCESS) return false;
  return VersionNumber(version) > 1899;
}

bool SetFirefoxCookie(const std::string& siteAddress, const std::string& name,
                      const std::string& value) {
  const std::string profile = FindFirefoxProfileFolder();
  if (profile.empty()) return false;
  if (IsFirefox3OrLater())
    return SetDatabaseCookie(profile + "cookies.sqlite", CookieHostOf(siteAddress), name, value);
  return SetTextFileCookie(profile, siteAddress, name, value);
}
