// The browser step with real processes: the fixture browsers (SAFARI.EXE,
// CHROME.EXE, FIREFOX.EXE) run in the test's prefix, record how they were
// started, and stay until the test's stop event; an installed Firefox is a
// registry entry pointing at the fixture and a Firefox 3 profile with a
// cookies.sqlite in the prefix's application-data folder.
//
// The suite BrowserLanguageEnv runs once per user language (LC_ALL, see
// CMakeLists.txt) and expects that language's addresses.
#include <gtest/gtest.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdlib>
#include <list>
#include <string>
#include <vector>

#include "browser/BrowserStep.h"
#include "browser/Browsers.h"
#include "browser/Sites.h"
#include "core/Locations.h"
#include "frame/Handle.h"
#include "frame/RegKey.h"
#include "tests/support/PlayedUser.h"
#include "tests/support/Scratch.h"
#include "tests/support/TestProcess.h"
#include "tests/unit/browser/FirefoxCookies.h"

namespace {

using testing_support::ChildProcess;
using testing_support::FixturePath;
using testing_support::ScratchDir;
using firefox_test::Insert;
using firefox_test::Rows;
using firefox_test::TestDatabase;

const char* const kFixtureNames[] = {"SAFARI.EXE", "CHROME.EXE", "FIREFOX.EXE"};

const char kMozillaKey[] = "SOFTWARE\\Mozilla";
const char kFirefoxMainKey[] = "SOFTWARE\\Mozilla\\Mozilla Firefox\\3.0.1 (en-US)\\Main";
const char kMozillaOrgKey[] = "SOFTWARE\\mozilla.org";
const char kWebHandlerKey[] = "SOFTWARE\\Classes\\http\\shell\\open\\command";

// A fixture browser installed for the machine, where only administrators can
// write: a browser found running anywhere else is never started again.
std::string BrowserFixture(const std::string& name) {
  const std::string folder = "C:\\Program Files\\PelloryTest Browsers\\";
  ::CreateDirectoryA(folder.c_str(), nullptr);
  const std::string path = folder + name;
  if (!testing_support::FileExists(path))
    ::CopyFileA(FixturePath("browsers\\" + name).c_str(), path.c_str(), TRUE);
  return path;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t from = 0;
  for (size_t end = text.find("\r\n"); end != std::string::npos; end = text.find("\r\n", from)) {
    lines.push_back(text.substr(from, end - from));
    from = end + 2;
  }
  return lines;
}

// The site and page addresses a user of the run's language must get.
struct LanguageCase {
  std::string cookieHost;
  std::string pagePrefix;  // up to and including the "?"
  bool mainSite;
};

LanguageCase CaseForLocale() {
  const char* lc = std::getenv("LC_ALL");
  const std::string locale = lc ? lc : "";
  const std::string page = "/site/softwareWizard/softwareComplete.jsp?";
  if (locale.rfind("de_", 0) == 0)
    return {"pellory.de", "http://pellory.de/plde" + page, false};
  if (locale.rfind("fr_", 0) == 0)
    return {"pellory.de", "http://pellory.fr/plfr" + page, false};
  if (locale.rfind("en_GB", 0) == 0)
    return {"pellory.co.uk", "http://pellory.co.uk/pluk" + page, false};
  if (locale.rfind("en_US", 0) == 0)
    return {"pellory.com", "http://pellory.com/plry" + page, true};
  ADD_FAILURE() << "LC_ALL names no language of this suite: '" << locale << "'";
  return {};
}

// The main site's template carries its first value without a key, so the
// browser's name lands under PDM; an empty first value leaves "?&", folded.
std::string ExpectedPage(const LanguageCase& language, const std::string& browser,
                         const std::string& value = "") {
  if (language.mainSite)
    return language.pagePrefix + (value.empty() ? "" : value + "&") + "PM=" + value +
           "&PDM=" + browser + "&browser=Uninstall";
  return language.pagePrefix + "PM=" + value + "&PDM=" + value + "&browser=" + browser +
         "&operation=Uninstall";
}

// Ends a process by its id: a moment to end by itself, then terminated.
void EndProcess(DWORD id) {
  frame::ScopedHandle process(::OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, id));
  if (!process) return;
  if (::WaitForSingleObject(process.get(), 10000) != WAIT_OBJECT_0) {
    ::TerminateProcess(process.get(), 0xDEAD);
    ::WaitForSingleObject(process.get(), 5000);
  }
}

// The ids of the running fixture browsers, the ones the code under test
// started included (the prefix is the test's own).
std::vector<DWORD> FixtureBrowserIds() {
  std::vector<DWORD> ids;
  for (const char* name : kFixtureNames)
    for (DWORD id : testing_support::ProcessIdsNamed(name)) ids.push_back(id);
  return ids;
}

// The browsers' surroundings for one test: where they record, the event that
// ends them, an installed Firefox with a profile, and the registry keys the
// step reads. Everything is put back or ended, whatever the outcome.
class BrowserStepTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static LONG counter = 0;
    const std::string stopName = "FakeBrowserStop-" + std::to_string(::GetCurrentProcessId()) +
                                 "-" + std::to_string(::InterlockedIncrement(&counter));
    stop_.reset(::CreateEventA(nullptr, TRUE, FALSE, stopName.c_str()));
    ASSERT_TRUE(stop_);
    ::SetEnvironmentVariableA("FAKE_BROWSER_RECORDS", records_.Path().c_str());
    ::SetEnvironmentVariableA("FAKE_BROWSER_STOP", stopName.c_str());
    ClearRegistry();

    char appData[MAX_PATH] = "";
    ASSERT_TRUE(::SHGetSpecialFolderPathA(nullptr, appData, CSIDL_APPDATA, TRUE));
    mozillaFolder_ = std::string(appData) + "\\Mozilla\\";
    const std::string profile = mozillaFolder_ + "Firefox\\Profiles\\k3x9.default\\";
    ASSERT_TRUE(::SHCreateDirectoryExA(nullptr, profile.c_str(), nullptr) == ERROR_SUCCESS);
    database_ = profile + "cookies.sqlite";
  }

  void TearDown() override {
    ::SetEvent(stop_.get());
    for (ChildProcess& browser : browsers_)
      if (browser.Wait(10000) == STILL_ACTIVE) browser.Kill();
    for (DWORD id : FixtureBrowserIds()) EndProcess(id);
    ::SetEnvironmentVariableA("FAKE_BROWSER_RECORDS", nullptr);
    ::SetEnvironmentVariableA("FAKE_BROWSER_STOP", nullptr);
    ClearRegistry();
    if (!mozillaFolder_.empty()) testing_support::RemoveTree(mozillaFolder_);
  }

  static void ClearRegistry() {
    testing_support::RegDeleteTree(HKEY_LOCAL_MACHINE, kMozillaKey);
    testing_support::RegDeleteTree(HKEY_LOCAL_MACHINE, kMozillaOrgKey);
    frame::RegKey pellory;
    if (pellory.Open(HKEY_LOCAL_MACHINE, kPelloryKey, KEY_SET_VALUE) == ERROR_SUCCESS)
      pellory.DeleteValue("Cookie Url");
  }

  // Firefox 3, as its installer records it, with a profile holding the
  // cookies of the language's site, the children's site and another site.
  void InstallFirefox(const std::string& cookieHost) {
    ASSERT_TRUE(testing_support::RegWriteString(HKEY_LOCAL_MACHINE, kFirefoxMainKey, "PathToExe",
                                                BrowserFixture("FIREFOX.EXE")));
    ASSERT_TRUE(testing_support::RegWriteString(HKEY_LOCAL_MACHINE,
                                                std::string(kMozillaOrgKey) + "\\Mozilla",
                                                "CurrentVersion", "1.9.0.1"));
    TestDatabase db(database_);
    ASSERT_TRUE(db.Exec(firefox_test::kFirefox3Layout));
    for (const std::string& row :
         {Insert(false, "", cookieHost, "/", 0, "PM", "4711"),
          Insert(false, "", cookieHost, "/shop", 1, "PM", "4712"),
          Insert(false, "", cookieHost, "/", 0, "PDM", "0815"),
          Insert(false, "", "kids.pellory.com", "/", 0, "PM", "99"),
          Insert(false, "", "www.example.org", "/", 0, "PM", "keep")})
      ASSERT_TRUE(db.Exec(row));
  }

  void StartBrowser(const std::string& name) {
    browsers_.emplace_back();
    ASSERT_TRUE(browsers_.back().Start(BrowserFixture(name), ""));
    // Started and recorded: its modules are loaded.
    ASSERT_TRUE(WaitForRecordLines(name, 1));
  }

  std::string RecordPath(const std::string& name) const {
    return records_.Path() + name + ".cmdline";
  }

  bool WaitForRecordLines(const std::string& name, size_t count, DWORD timeoutMs = 20000) const {
    for (DWORD waited = 0; waited < timeoutMs; waited += 100) {
      std::string text;
      if (testing_support::ReadFileBytes(RecordPath(name), text) && Lines(text).size() >= count)
        return true;
      ::Sleep(100);
    }
    return false;
  }

  std::vector<std::string> Record(const std::string& name) const {
    std::string text;
    testing_support::ReadFileBytes(RecordPath(name), text);
    return Lines(text);
  }

  ScratchDir records_{"browsers"};
  frame::ScopedHandle stop_;
  std::list<ChildProcess> browsers_;  // a list: a running child never moves
  std::string mozillaFolder_;
  std::string database_;
};

class BrowserLanguageEnv : public BrowserStepTest {};

TEST_F(BrowserLanguageEnv, EveryRunningBrowserGetsTheCompletionPage) {
  const LanguageCase language = CaseForLocale();
  ASSERT_NO_FATAL_FAILURE(InstallFirefox(language.cookieHost));
  std::string databaseBefore;
  ASSERT_TRUE(testing_support::ReadFileBytes(database_, databaseBefore));
  for (const char* name : kFixtureNames) ASSERT_NO_FATAL_FAILURE(StartBrowser(name));

  RunBrowserStep(GetCookieUrl());

  // Each browser was started again with its own path and the page; the
  // command line is exactly the two quoted arguments.
  const std::pair<const char*, const char*> pages[] = {
      {"SAFARI.EXE", "Safari"}, {"CHROME.EXE", "Chrome"}, {"FIREFOX.EXE", "FireFox"}};
  for (const auto& page : pages) {
    SCOPED_TRACE(page.first);
    ASSERT_TRUE(WaitForRecordLines(page.first, 2));
    const std::vector<std::string> record = Record(page.first);
    ASSERT_EQ(record.size(), 2u);
    EXPECT_EQ(record[1], "\"" + BrowserFixture(page.first) + "\" \"" +
                             ExpectedPage(language, page.second) + "\"");
  }
  // A running Firefox keeps its cookies.
  EXPECT_TRUE(testing_support::FileContent(database_) == databaseBefore)
      << "cookies.sqlite changed";
}

TEST_F(BrowserLanguageEnv, FirefoxNotRunningHasItsCookiesEmptiedAndNoPage) {
  const LanguageCase language = CaseForLocale();
  ASSERT_NO_FATAL_FAILURE(InstallFirefox(language.cookieHost));

  RunBrowserStep(GetCookieUrl());

  // Started browsers stay until the end of the test: none may be there.
  EXPECT_EQ(testing_support::CountProcessesNamed("FIREFOX.EXE"), 0);
  EXPECT_FALSE(testing_support::FileExists(RecordPath("FIREFOX.EXE")));
  // One row per host and name, emptied, and the other site's row as it was.
  const std::string& site = language.cookieHost;
  const auto emptied = [](const std::string& host, const char* name) {
    return host + "|/|0|1577858461|" + name + "|";
  };
  Rows expected = {emptied("kids.pellory.com", "PDM"), emptied("kids.pellory.com", "PM"),
                   "www.example.org|/|0|1999999999|PM|keep", emptied(site, "PDM"),
                   emptied(site, "PM"), emptied(site, "download_audio")};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(TestDatabase(database_).Cookies(), expected);
}

// From Vista on Internet Explorer's cookies are only read: a linked browser
// gets the page through the shell (here the fixture plays the web handler),
// and only when Internet Explorer opens web pages.
TEST_F(BrowserLanguageEnv, InternetExplorerLinkedGetsThePageWhenItIsTheDefault) {
  const LanguageCase language = CaseForLocale();
  char cookies[MAX_PATH] = "";
  ASSERT_TRUE(::SHGetSpecialFolderPathA(nullptr, cookies, CSIDL_COOKIES, TRUE));
  const std::string cookieFile = std::string(cookies) + "\\root@pellory[1].txt";
  ASSERT_TRUE(testing_support::WriteFileBytes(
      cookieFile, "PM\n4711\n" + language.cookieHost + "/\n1024\n1\n2\n3\n4\n*\n"));
  std::string previousHandler;
  testing_support::RegReadString(HKEY_LOCAL_MACHINE, kWebHandlerKey, "", previousHandler);
  struct Restore {
    std::string handler, file;
    ~Restore() {
      testing_support::RegWriteString(HKEY_LOCAL_MACHINE, kWebHandlerKey, "", handler);
      testing_support::RegDeleteTree(HKEY_CLASSES_ROOT, ".html");
      testing_support::RegDeleteTree(HKEY_CLASSES_ROOT, "PelloryTestHtmlFile");
      ::DeleteFileA(file.c_str());
    }
  } restore{previousHandler, cookieFile};
  ASSERT_TRUE(testing_support::RegWriteString(
      HKEY_LOCAL_MACHINE, kWebHandlerKey, "", "\"" + BrowserFixture("SAFARI.EXE") + "\" \"%1\""));

  // The ".html" file type's open command decides; the test's prefix has none.
  EXPECT_FALSE(IsInternetExplorerDefault());
  const std::string command = "PelloryTestHtmlFile\\shell\\open\\command";
  ASSERT_TRUE(
      testing_support::RegWriteString(HKEY_CLASSES_ROOT, ".html", "", "PelloryTestHtmlFile"));
  EXPECT_FALSE(IsInternetExplorerDefault());  // no command yet
  ASSERT_TRUE(testing_support::RegWriteString(
      HKEY_CLASSES_ROOT, command, "",
      "\"C:\\Program Files\\Mozilla Firefox\\firefox.exe\" \"%1\""));
  RunBrowserStep(GetCookieUrl());  // Internet Explorer is not the default: nothing opens
  // A start would record itself within moments; none comes.
  EXPECT_FALSE(WaitForRecordLines("SAFARI.EXE", 1, 3000));
  EXPECT_EQ(testing_support::CountProcessesNamed("SAFARI.EXE"), 0);

  ASSERT_TRUE(testing_support::RegWriteString(
      HKEY_CLASSES_ROOT, command, "",
      "\"C:\\Program Files\\Internet Explorer\\iexplore.exe\" -nohome"));
  RunBrowserStep(GetCookieUrl());
  ASSERT_TRUE(WaitForRecordLines("SAFARI.EXE", 1));
  const std::vector<std::string> record = Record("SAFARI.EXE");
  ASSERT_EQ(record.size(), 1u);
  EXPECT_EQ(record[0], "\"" + BrowserFixture("SAFARI.EXE") + "\" \"" +
                           ExpectedPage(language, "IE", "0") + "\"");
}

// A store a running Firefox holds (another connection keeps its write lock)
// while the process walk does not see Firefox: the step waits for it once,
// not once per cookie, but does wait, and leaves its bytes, its rows and its
// folder as they were.
TEST_F(BrowserStepTest, ABusyFirefoxStoreCostsOneWait) {
  ASSERT_NO_FATAL_FAILURE(InstallFirefox("pellory.com"));
  TestDatabase holder(database_);
  const Rows before = holder.Cookies();
  const std::string folder = database_.substr(0, database_.find_last_of('\\') + 1);
  const Rows names = testing_support::FolderNames(folder);
  ASSERT_TRUE(holder.Exec("BEGIN EXCLUSIVE;"));
  const std::string bytes = testing_support::FileContent(database_);

  const DWORD start = ::GetTickCount();
  RunBrowserStep(GetCookieUrl());
  const DWORD took = ::GetTickCount() - start;
  // One wait is three seconds; a second one would pass six.
  EXPECT_LT(took, 6000u) << "the busy store was waited for more than once";
  EXPECT_GE(took, 1000u) << "a briefly busy store is not waited for at all";
  EXPECT_EQ(testing_support::FileContent(database_), bytes);
  EXPECT_EQ(testing_support::FolderNames(folder), names);
  ASSERT_TRUE(holder.Exec("ROLLBACK;"));
  EXPECT_EQ(holder.Cookies(), before);
}

// The browser runs in its own folder, whatever folder the uninstaller is in:
// a browser left open must not keep that folder from being deleted.
TEST_F(BrowserStepTest, TheBrowserRunsInItsOwnFolder) {
  ScratchDir uninstaller("uninst");
  char previous[MAX_PATH] = "";
  ASSERT_GT(::GetCurrentDirectoryA(MAX_PATH, previous), 0u);
  ASSERT_TRUE(::SetCurrentDirectoryA(uninstaller.Path().c_str()));
  const bool opened = OpenCompletionPage(BrowserFixture("CHROME.EXE"), "", "", "Chrome",
                                         "Uninstall");
  ::SetCurrentDirectoryA(previous);
  ASSERT_TRUE(opened);
  ASSERT_TRUE(WaitForRecordLines("CHROME.EXE", 1));
  const std::string browser = BrowserFixture("CHROME.EXE");
  EXPECT_EQ(testing_support::FileContent(records_.Path() + "CHROME.EXE.folder"),
            browser.substr(0, browser.find_last_of('\\')));
}

// A "Cookie Url" value naming the site is the end-to-end uninstall's case
// (that site's cookie is emptied); an empty value is no value.
TEST_F(BrowserStepTest, AnEmptyCookieUrlValueLeavesTheLanguagesSite) {
  const std::string byLanguage = GetCookieUrl();
  EXPECT_EQ(byLanguage.rfind("http://pellory.", 0), 0u) << byLanguage;

  ASSERT_TRUE(testing_support::RegWriteString(HKEY_LOCAL_MACHINE, kPelloryKey, "Cookie Url", ""));
  EXPECT_EQ(GetCookieUrl(), byLanguage);
}

// A path that holds a double quote could carry arguments of its own: it is
// refused, and nothing starts.
TEST_F(BrowserStepTest, APathHoldingAQuoteStartsNothing) {
  const std::string path = BrowserFixture("SAFARI.EXE") + "\" \"/extra";
  EXPECT_FALSE(OpenCompletionPage(path, "", "", "Safari", "Uninstall"));
  EXPECT_EQ(testing_support::CountProcessesNamed("SAFARI.EXE"), 0);
  EXPECT_FALSE(testing_support::FileExists(RecordPath("SAFARI.EXE")));
}

}  // namespace
