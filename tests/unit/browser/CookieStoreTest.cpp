// The cookie stores on real files of the test's prefix: Firefox databases in
// the layouts Firefox 3 and a current Firefox make, "cookies.txt", Internet
// Explorer's cookie folder, and WinInet's own store under Windows XP.
#include <windows.h>
#include <shlobj.h>
#include <wininet.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "browser/CookieFormats.h"
#include "browser/CookieStores.h"
#include "browser/WinInetCookies.h"
#include "core/Platform.h"
#include "frame/Handle.h"
#include "tests/unit/browser/FirefoxCookies.h"
#include "tests/support/Scratch.h"
#include "tests/support/TestProcess.h"

namespace {

using testing_support::ChildProcess;
using testing_support::DirExists;
using testing_support::FileContent;
using testing_support::FolderNames;
using testing_support::RegDeleteTree;
using testing_support::RegWriteString;
using testing_support::RemoveTree;
using testing_support::WriteFileBytes;
using firefox_test::Insert;
using firefox_test::Rows;
using firefox_test::TestDatabase;

const char kMozillaKey[] = "SOFTWARE\\mozilla.org\\Mozilla";
const char kSite[] = "http://www.pellory.test";
const char kHost[] = "www.pellory.test";

std::string AppData() {
  char path[MAX_PATH] = "";
  ::SHGetSpecialFolderPathA(nullptr, path, CSIDL_APPDATA, TRUE);
  return path;
}

// A Firefox of the given version with one profile, in the prefix's real
// places; removed again at the end.
class FirefoxProfile {
 public:
  explicit FirefoxProfile(const char* version) {
    RegDeleteTree(HKEY_LOCAL_MACHINE, kMozillaKey);
    if (version) RegWriteString(HKEY_LOCAL_MACHINE, kMozillaKey, "CurrentVersion", version);
    RemoveTree(Mozilla());
    const std::string profiles = Mozilla() + "Firefox\\Profiles\\";
    ::SHCreateDirectoryExA(nullptr, (profiles + "q7x2ab9c.default").c_str(), nullptr);
    folder_ = profiles + "q7x2ab9c.default\\";
  }
  ~FirefoxProfile() {
    RemoveTree(Mozilla());
    RegDeleteTree(HKEY_LOCAL_MACHINE, kMozillaKey);
  }
  static std::string Mozilla() { return AppData() + "\\Mozilla\\"; }
  const std::string& Folder() const { return folder_; }

 private:
  std::string folder_;
};

struct Layout {
  const char* name;
  const char* schema;
  bool current;
};
const Layout kLayouts[] = {{"Firefox 3", firefox_test::kFirefox3Layout, false},
                           {"current Firefox", firefox_test::kCurrentLayout, true}};

// Emptying "PM" for `host`: exactly one row for the host and name, with path
// "/", not secure, the fixed expiry and no value; every other row unchanged.
void ExpectCookieEmptied(const Layout& layout, const std::string& host) {
  SCOPED_TRACE(std::string(layout.name) + ", host " + host);
  FirefoxProfile firefox("1.9.0.1");
  const std::string db = firefox.Folder() + "cookies.sqlite";
  Rows before;
  {
    TestDatabase make(db);
    // A current Firefox keeps its store in write-ahead-log mode.
    if (layout.current) {
      ASSERT_TRUE(make.Exec("PRAGMA journal_mode=WAL;"));
    }
    ASSERT_TRUE(make.Exec(layout.schema));
    ASSERT_TRUE(make.Exec(Insert(layout.current, "", host, "/", 1, "PM", "linked-4711")));
    ASSERT_TRUE(make.Exec(Insert(layout.current, "", host, "/account", 0, "PM", "second")));
    if (layout.current) {
      ASSERT_TRUE(make.Exec(Insert(true, "^userContextId=2", host, "/", 0, "PM", "container")));
    }
    ASSERT_TRUE(make.Exec(Insert(layout.current, "", host, "/", 0, "PDM", "kept%20as+is")));
    ASSERT_TRUE(make.Exec(Insert(layout.current, "", "other.test", "/", 0, "PM", "other's")));
    ASSERT_TRUE(make.Exec(Insert(layout.current, "", "." + host, "/", 0, "PM", "domain")));
    before = make.Cookies();
  }
  // The header's read and write versions are 2 in write-ahead-log mode.
  if (layout.current) {
    ASSERT_EQ(FileContent(db).substr(18, 2), std::string("\x02\x02"));
  }
  const Rows names = FolderNames(firefox.Folder());
  ASSERT_TRUE(SetFirefoxCookie("http://" + host, "PM", ""));
  // No journal, log or other file is left beside the store.
  EXPECT_EQ(FolderNames(firefox.Folder()), names);

  Rows expected;
  for (const std::string& row : before) {
    if (row.rfind(host + "|", 0) != 0 || row.find("|PM|") == std::string::npos)
      expected.push_back(row);
  }
  expected.push_back(host + "|/|0|1577858461|PM|");
  std::sort(expected.begin(), expected.end());
  TestDatabase check(db);
  EXPECT_EQ(check.Cookies(), expected);
}

}  // namespace

// A "'" in the host is data, not SQL.
TEST(FirefoxDatabase, EmptiesTheCookieInBothLayouts) {
  for (const Layout& layout : kLayouts)
    for (const char* host : {kHost, "o'neill.pellory.test"}) ExpectCookieEmptied(layout, host);
}

// A "cookies.sqlite" that is no database: false, the file as it was, and no
// journal or other file beside it.
TEST(FirefoxDatabase, AFileThatIsNoDatabaseIsNotChanged) {
  FirefoxProfile firefox("1.9.2.3");
  const std::string db = firefox.Folder() + "cookies.sqlite";
  std::string bytes = "www.pellory.test\tFALSE\t/\tFALSE\t1999999999\tPM\tlinked\n";
  while (bytes.size() < 8192) bytes += bytes;
  ASSERT_TRUE(WriteFileBytes(db, bytes));
  EXPECT_FALSE(SetFirefoxCookie(kSite, "PM", ""));
  EXPECT_EQ(FileContent(db), bytes);
  EXPECT_EQ(FolderNames(firefox.Folder()), Rows{"cookies.sqlite"});
}

// A layout where the new row cannot go in (a column without a default that
// the statement does not fill): false, and the old rows are all still there.
TEST(FirefoxDatabase, AFailedInsertKeepsTheOldRows) {
  FirefoxProfile firefox("1.9.0.1");
  const std::string db = firefox.Folder() + "cookies.sqlite";
  Rows before;
  {
    TestDatabase make(db);
    ASSERT_TRUE(make.Exec(
        "CREATE TABLE moz_cookies (id INTEGER PRIMARY KEY, name TEXT, value TEXT, host TEXT, "
        "path TEXT, expiry INTEGER, lastAccessed INTEGER NOT NULL, isSecure INTEGER, "
        "isHttpOnly INTEGER);"));
    ASSERT_TRUE(make.Exec(Insert(false, "", kHost, "/", 0, "PM", "linked-4711")));
    ASSERT_TRUE(make.Exec(Insert(false, "", kHost, "/", 0, "PDM", "kept")));
    before = make.Cookies();
  }
  EXPECT_FALSE(SetFirefoxCookie(kSite, "PM", ""));
  TestDatabase check(db);
  EXPECT_EQ(check.Cookies(), before);
}

// Firefox 3 without its database: nothing is made.
TEST(FirefoxDatabase, AMissingDatabaseIsNotCreated) {
  FirefoxProfile firefox("1.9.0.1");
  EXPECT_FALSE(SetFirefoxCookie(kSite, "PM", ""));
  EXPECT_EQ(FolderNames(firefox.Folder()), Rows{});
}

TEST(FirefoxVersion, ThreeAndLaterFromTheRegistry) {
  struct Case {
    const char* version;
    bool expected;
  };
  const Case cases[] = {{"1.9.0.1", true}, {"1.8.1.14", false}, {"1.8.9.9", false}, {"1.9", true},
                        {"115.0", true},   {"", false},         {nullptr, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.version ? c.version : "no value");
    FirefoxProfile firefox(c.version);
    EXPECT_EQ(IsFirefox3OrLater(), c.expected);
  }
}

// No profile: nothing is written and nothing is made. (A profile is found by
// every case that writes a store.)
TEST(FirefoxProfileFolder, NoProfileMeansNothing) {
  EXPECT_EQ(FindFirefoxProfileFolder(), "");
  RegWriteString(HKEY_LOCAL_MACHINE, kMozillaKey, "CurrentVersion", "1.8.1.14");
  EXPECT_FALSE(SetFirefoxCookie(kSite, "PM", ""));
  RegDeleteTree(HKEY_LOCAL_MACHINE, kMozillaKey);
  EXPECT_FALSE(DirExists(FirefoxProfile::Mozilla()));
}

namespace {

// 2020-01-01 01:01:01 local time in seconds since 1970, by Win32's road.
std::string LocalExpiry() {
  SYSTEMTIME local = {2020, 1, 0, 1, 1, 1, 1, 0};
  SYSTEMTIME utc = {};
  FILETIME time = {};
  if (!::TzSpecificLocalTimeToSystemTime(nullptr, &local, &utc) ||
      !::SystemTimeToFileTime(&utc, &time))
    return "<no conversion>";
  const unsigned long long ticks =
      (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
  return std::to_string(static_cast<long long>(ticks / 10000000ULL) - 11644473600LL);
}

}  // namespace

TEST(FirefoxTextFile, CreatedWhenMissingWithOneRecord) {
  FirefoxProfile firefox("1.8.1.14");
  ASSERT_TRUE(SetFirefoxCookie(kSite, "PM", ""));
  EXPECT_EQ(FileContent(firefox.Folder() + "cookies.txt"),
            std::string(kHost) + "\tFALSE\t/\tFALSE\t" + LocalExpiry() + "\tPM\t\n");
  EXPECT_EQ(FolderNames(firefox.Folder()), Rows{"cookies.txt"});
}

// Only the record being set changes: the header, other sites' values with
// their escapes, lines the parser does not take and later comments stay byte
// for byte; a second run finds the emptied record again.
TEST(FirefoxTextFile, EveryOtherLineIsKeptByteForByte) {
  FirefoxProfile firefox("1.8.1.14");
  const std::string path = firefox.Folder() + "cookies.txt";
  const std::string head =
      "# HTTP Cookie File\n"
      "\n"
      "other.test\tFALSE\t/\tFALSE\t1999999999\tPM\ta%20b+c%3D\n"
      ".pellory.test\tTRUE\t/\tMAYBE\t1999999999\tPM\tflag\n"
      "www.pellory.test\tFALSE\t/\tFALSE\t1999999999\tempty\t\n"
      "# a comment after the first record\r\n";
  const std::string tail = "\nstray text\n.www.pellory.test\tTRUE\t/\tFALSE\t1999999999\tPDM\t7+7";
  ASSERT_TRUE(WriteFileBytes(
      path, head + "WWW.Pellory.test\tTRUE\t/shop\tTRUE\t1999999999\tpm\tlinked%204711" + tail));
  ASSERT_TRUE(SetFirefoxCookie(kSite, "PM", ""));
  const std::string expected = head + "WWW.Pellory.test\tTRUE\t/shop\tTRUE\t1999999999\tpm\t" + tail;
  EXPECT_EQ(FileContent(path), expected);
  ASSERT_TRUE(SetFirefoxCookie(kSite, "PM", ""));
  EXPECT_EQ(FileContent(path), expected);

  // A cookie not there yet is appended after a last line without its end.
  ASSERT_TRUE(SetFirefoxCookie(kSite, "download_audio", ""));
  EXPECT_EQ(FileContent(path),
            expected + "\n" + kHost + "\tFALSE\t/\tFALSE\t" + LocalExpiry() + "\tdownload_audio\t\n");
  EXPECT_EQ(FolderNames(firefox.Folder()), Rows{"cookies.txt"});
}

// A file another program holds, without sharing (it cannot be read) or
// shared for reading only (it cannot be replaced): false, its bytes as they
// were, and no side file left.
TEST(FirefoxTextFile, AHeldFileIsLeftAsItWas) {
  FirefoxProfile firefox("1.8.1.14");
  const std::string path = firefox.Folder() + "cookies.txt";
  const std::string bytes =
      "# HTTP Cookie File\nwww.pellory.test\tFALSE\t/\tFALSE\t1999999999\tPM\tx\n";
  ASSERT_TRUE(WriteFileBytes(path, bytes));
  const std::pair<DWORD, DWORD> holds[] = {{GENERIC_READ | GENERIC_WRITE, 0},
                                           {GENERIC_READ, FILE_SHARE_READ}};
  for (const auto& hold : holds) {
    SCOPED_TRACE(hold.second ? "shared for reading" : "not shared");
    {
      frame::ScopedFile held(::CreateFileA(path.c_str(), hold.first, hold.second, nullptr,
                                           OPEN_EXISTING, 0, nullptr));
      ASSERT_TRUE(held.valid());
      EXPECT_FALSE(SetFirefoxCookie(kSite, "PM", ""));
    }
    EXPECT_EQ(FileContent(path), bytes);
    EXPECT_EQ(FolderNames(firefox.Folder()), Rows{"cookies.txt"});
  }
}

// Records of Internet Explorer's cookie files: escapes decoded, then "+".
TEST(InternetExplorerRecords, ParsedWithTheirEndMarkers) {
  const auto records = ParseInternetExplorerCookies(
      "PM\n12%2034+x\nwww.pellory.test/\n1024\n1\n2\n3\n4\n*\n"
      "PDM\n%2B\nwww.pellory.test/shop/\n0\n1\n2\n*\n"
      "cut\noff\nwww.pellory.test/\n");
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].name, "PM");
  EXPECT_EQ(records[0].value, "12 34 x");
  EXPECT_EQ(records[0].host, "www.pellory.test");
  EXPECT_EQ(records[1].value, " ");
  EXPECT_EQ(records[1].host, "www.pellory.test/shop");
}

// Under Windows 7 the cookies are read from the user's real cookie folder:
// only files named with the host's first label, the host with or without its
// "/", names in any case, subfolders too.
TEST(InternetExplorerFolder, TheMatchingRecordsValue) {
  ASSERT_TRUE(IsVistaOrLater());
  char cookies[MAX_PATH] = "";
  ASSERT_TRUE(::SHGetSpecialFolderPathA(nullptr, cookies, CSIDL_COOKIES, TRUE));
  const std::string folder = std::string(cookies) + "\\";
  const std::string sub = folder + "Low\\";
  ::CreateDirectoryA(sub.c_str(), nullptr);
  const std::string record = "\n1024\n3567587328\n30789007\n3567587328\n30000000\n*\n";
  ASSERT_TRUE(WriteFileBytes(folder + "root@shop.pellory[1].txt",
                             "PM\nelsewhere\nother.test/\n" + record +
                                 "PM\nshop%20one+4711\nshop.pellory.test/" + record +
                                 "Pdm\nno-slash\nshop.pellory.test" + record));
  ASSERT_TRUE(WriteFileBytes(sub + "root@shop.pellory[2].txt",
                             "download_audio\nmp3\nhttp://shop.pellory.test/" + record));
  // The first label is not in its name: never read.
  ASSERT_TRUE(WriteFileBytes(folder + "root@pellory[1].txt",
                             "TTL\n9\nshop.pellory.test/" + record));

  EXPECT_EQ(ReadInternetExplorerCookie("http://shop.pellory.test", "pm"), "shop one 4711");
  EXPECT_EQ(ReadInternetExplorerCookie("http://shop.pellory.test", "PDM"), "no-slash");
  EXPECT_EQ(ReadInternetExplorerCookie("http://shop.pellory.test", "download_audio"), "mp3");
  EXPECT_EQ(ReadInternetExplorerCookie("http://shop.pellory.test", "TTL"), "");
  EXPECT_EQ(ReadInternetExplorerCookie("http://www.pellory.test", "PM"), "");
  ::DeleteFileA((folder + "root@shop.pellory[1].txt").c_str());
  ::DeleteFileA((folder + "root@pellory[1].txt").c_str());
  RemoveTree(sub);
}

namespace {

// The cookies WinInet gives back for the site, "NAME=VALUE" each, sorted; a
// cookie with an empty value comes back as its bare name under Wine, and as
// "NAME=" elsewhere: both read as "NAME=" here.
Rows WinInetCookiesOf(const std::string& site) {
  char data[4096] = "";
  DWORD size = sizeof(data);
  if (!WinInetCookies().InternetGetCookieA(site.c_str(), nullptr, data, &size))
    return {"<none: error " + std::to_string(::GetLastError()) + ">"};
  Rows cookies;
  const std::string text = data;
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find("; ", at);
    if (end == std::string::npos) end = text.size();
    std::string cookie = text.substr(at, end - at);
    if (cookie.find('=') == std::string::npos) cookie += "=";
    cookies.push_back(cookie);
    at = end + 2;
  }
  std::sort(cookies.begin(), cookies.end());
  return cookies;
}

}  // namespace

// The WinInet store is written on systems before Vista. The emulated version
// is read when a process starts, so the work runs in a child of this program.
TEST(InternetExplorerWinInet, UnderWindowsXpTheCookieIsEmptied) {
  char self[MAX_PATH] = "";
  ASSERT_GT(::GetModuleFileNameA(nullptr, self, MAX_PATH), 0u);
  std::string exeName = self;
  exeName = exeName.substr(exeName.find_last_of('\\') + 1);
  const std::string appKey = "Software\\Wine\\AppDefaults\\" + exeName;
  ASSERT_TRUE(RegWriteString(HKEY_CURRENT_USER, appKey, "Version", "winxp64"));
  ChildProcess child;
  const bool started = child.Start(self, "--gtest_filter=InternetExplorerXpEnv.*");
  const DWORD code = started ? child.Wait(120000) : STILL_ACTIVE;
  RegDeleteTree(HKEY_CURRENT_USER, appKey);
  EXPECT_EQ(code, 0u) << "the work under Windows XP emulation failed";
  ASSERT_TRUE(BindWinInetCookies());
  // The old value does not come back in another process either.
  const Rows seen = WinInetCookiesOf(kSite);
  EXPECT_EQ(std::count(seen.begin(), seen.end(), "PM=linked-4711"), 0);
  EXPECT_EQ(std::count(seen.begin(), seen.end(), "PDM=kept"), 1);
}

TEST(InternetExplorerXpEnv, CookieReadsBackEmpty) {
  ASSERT_FALSE(IsVistaOrLater()) << "the emulated Windows version did not take effect";
  ASSERT_TRUE(BindWinInetCookies());
  ASSERT_TRUE(WinInetCookies().InternetSetCookieA(
      kSite, nullptr, "PM=linked-4711; expires=Fri, 31-Dec-2049 00:00:00 GMT"));
  ASSERT_TRUE(WinInetCookies().InternetSetCookieA(
      kSite, nullptr, "PDM=kept; expires=Fri, 31-Dec-2049 00:00:00 GMT"));
  ASSERT_EQ(WinInetCookiesOf(kSite), (Rows{"PDM=kept", "PM=linked-4711"}));
  EXPECT_TRUE(SetInternetExplorerCookie(kSite, "PM", ""));
  EXPECT_EQ(WinInetCookiesOf(kSite), (Rows{"PDM=kept", "PM="}));
}

// Lines ending in "\r\n" keep their ends; a record set in place keeps its own.
TEST(CookiesTxtText, LineEndsAreKept) {
  EXPECT_EQ(SetCookiesTxtCookie("# x\r\n\r\nwww.pellory.test\tFALSE\t/\tFALSE\t5\tPM\tv\r\nz\r\n",
                                kSite, "PM", "", 9),
            "# x\r\n\r\nwww.pellory.test\tFALSE\t/\tFALSE\t5\tPM\t\r\nz\r\n");
}
