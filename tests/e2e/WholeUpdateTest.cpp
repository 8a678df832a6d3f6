// An update is whole or not at all: the real Upgrade.exe, a served catalogue
// and cabinets, runs that fail half-way, downloads cut in the middle, and work
// an earlier run left for the next start of Windows.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "frame/Handle.h"
#include "tests/e2e/ServedRunTest.h"
#include "tests/fixtures/holder/HeldFile.h"
#include "tests/support/CatalogueCabinet.h"
#include "tests/support/HttpServer.h"
#include "tests/support/Scratch.h"

namespace e2e {
namespace {

using namespace testing_support;

constexpr int kFailed = -1;
constexpr char kHooksKey[] = "Software\\Pellory\\Upgrade\\Hooks";

class WholeUpdateE2E : public ServedRunTest {
 protected:
  void ServeInf(const std::vector<std::string>& lines) {
    server_.Serve(kCataloguePath, CabinetBytes({{"PM Install1.INF", InfText(lines)}}));
  }
};

// A run that fails in either phase records no version of a component whose
// files never arrived, nor of a hook of that run: the next check offers them
// again.
TEST_F(WholeUpdateE2E, AVersionIsRecordedOnlyForWhatIsReallyInstalled) {
  // The second component's cabinet is missing: the download phase fails
  // after the first component was fetched.
  server_.Serve(kCataloguePath, CatalogueCabinet({ComponentWith("First", {{"First.txt", "first.cab"}}),
                                                  ComponentWith("Second", {{"Second.txt", "second.cab"}})}));
  server_.Serve("/PM50/Quoma/first.cab", CabinetBytes({{"First.txt", "first"}}));
  EXPECT_EQ(Run("/Setup /q"), kFailed);
  EXPECT_FALSE(FileExists(install_.Dir() + "First.txt"));
  EXPECT_EQ(Recorded("First"), "<none>") << Log();

  // A hook that cannot start fails the installation phase after the files
  // were put in place.
  ServeInf({"[Components]", "Player=2,0,0,0", "[Player]", "SourceDisksFiles=Player Files",
            "Hook1=Broken.exe", "[Player Files]", "1=Player.txt", "[Player.txt]",
            "File=player.cab", "FileVersion=2,0,0,0", "[Broken.exe]", "File=player.cab",
            "FileVersion=1,0,0,0"});
  server_.Serve("/PM50/Quoma/player.cab",
                CabinetBytes({{"Player.txt", "player"}, {"Broken.exe", "not a program"}}));
  EXPECT_EQ(Run("/Setup /q"), kFailed);
  const std::string log = Log();
  EXPECT_EQ(Recorded("Player"), "<none>") << log;
  std::string hook;
  EXPECT_FALSE(RegReadString(HKEY_LOCAL_MACHINE, kHooksKey, "Broken.exe", hook)) << hook;
}

// The catalogue of an update that touches every kind of thing a restore puts
// back: a file replaced, one added, one deleted, one locked (replaced at the
// restart), a registry value written and a key deleted, a version record;
// its hook "Last.exe" comes last and is run with `hookArguments`.
std::vector<std::string> EverythingCatalogue(const std::string& hookArguments) {
  return {"[Components]", "Player=2,0,0,0", "[Player]", "SourceDisksFiles=Player Files",
          "DeleteFiles=Player Doomed", "Add Registry=Player Reg",
          "Delete Registry=Player Unreg", "Hook1=Last.exe",
          "[Player Files]", "1=Old.txt", "2=New.txt", "3=Locked.txt",
          "[Old.txt]", "File=player.cab", "FileVersion=2,0,0,0",
          "[New.txt]", "File=player.cab", "FileVersion=2,0,0,0",
          "[Locked.txt]", "File=player.cab", "FileVersion=2,0,0,0",
          "[Player Doomed]", "1=Doomed.txt",
          "[Player Reg]", "1=HKLM,Software\\Pellory Test,Setting,FLG_ADDREG_TYPE_SZ,after",
          "[Player Unreg]", "1=HKLM,Software\\Pellory Test,Branch",
          "[Last.exe]", "File=player.cab", "FileVersion=1,0,0,0", "Run=" + hookArguments};
}

class RestoreE2E : public WholeUpdateE2E {
 protected:
  void SetUp() override {
    WholeUpdateE2E::SetUp();
    RegDeleteTree(HKEY_LOCAL_MACHINE, kTestKey);
    ASSERT_TRUE(WriteFileBytes(install_.Dir() + "Old.txt", "old"));
    ASSERT_TRUE(WriteFileBytes(install_.Dir() + "Doomed.txt", "doomed"));
    ASSERT_TRUE(WriteFileBytes(install_.Dir() + "Locked.txt", "locked"));
    ASSERT_TRUE(RegWriteString(HKEY_LOCAL_MACHINE, kTestKey, "Setting", "before"));
    ASSERT_TRUE(RegWriteString(HKEY_LOCAL_MACHINE, std::string(kTestKey) + "\\Branch\\Leaf",
                               "Value", "kept"));
    RegWriteString(HKEY_LOCAL_MACHINE, kComponentsKey, "Player", "1, 0, 0, 0");
  }
  void TearDown() override {
    RegDeleteTree(HKEY_LOCAL_MACHINE, kTestKey);
    WholeUpdateE2E::TearDown();
  }
  // Everything as SetUp left it, after the restart too, and nothing of the
  // run behind: no side copy, no waiting copy, no journal.
  void ExpectAsBefore() {
    const std::string dir = install_.Dir(), log = Log();
    EXPECT_EQ(FileContent(dir + "Old.txt"), "old") << log;
    EXPECT_EQ(FileContent(dir + "Doomed.txt"), "doomed") << log;
    EXPECT_FALSE(FileExists(dir + "New.txt"));
    std::string value;
    EXPECT_TRUE(RegReadString(HKEY_LOCAL_MACHINE, kTestKey, "Setting", value));
    EXPECT_EQ(value, "before");
    value.clear();
    EXPECT_TRUE(RegReadString(HKEY_LOCAL_MACHINE, std::string(kTestKey) + "\\Branch\\Leaf",
                              "Value", value));
    EXPECT_EQ(value, "kept");
    EXPECT_EQ(Recorded("Player"), "1, 0, 0, 0");
    EXPECT_FALSE(RegReadString(HKEY_LOCAL_MACHINE, kHooksKey, "Last.exe", value));
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, "Software\\Pellory\\Upgrade\\Run Journal"));
    ASSERT_TRUE(RunRestartProcessing());
    EXPECT_EQ(FileContent(dir + "Locked.txt"), "locked") << "the withdrawn replacement ran";
    // The hook the run added: gone, at the latest with the restart when the
    // system still held the killed hook's image.
    EXPECT_FALSE(FileExists(dir + "Last.exe")) << log;
    for (const std::string& name : FolderNames(dir))
      EXPECT_TRUE(name.rfind("~up", 0) != 0 && name != "Locked.txt.1") << name;
  }
  void ServeEverything(const std::string& hookArguments, const std::string& hook) {
    ServeInf(EverythingCatalogue(hookArguments));
    server_.Serve("/PM50/Quoma/player.cab",
                  CabinetBytes({{"Old.txt", "new old"}, {"New.txt", "new"},
                                {"Locked.txt", "new locked"}, {"Last.exe", hook}}));
  }
  static constexpr char kTestKey[] = "Software\\Pellory Test";
};

// A hook that cannot start fails the run after everything else was done: the
// run puts it all back, says so, and asks for no restart.
TEST_F(RestoreE2E, AFailedUpdatePutsTheInstallationBack) {
  ServeEverything("", "not a program");
  {
    HeldFile holder;
    ASSERT_TRUE(holder.Hold(install_.Dir() + "Locked.txt"));
    EXPECT_EQ(Run("/Setup /q"), kFailed);
    ASSERT_TRUE(holder.Release());
  }
  EXPECT_NE(Log().find("The installation is restored as it was before this run."),
            std::string::npos) << Log();
  EXPECT_EQ(Log().find("Files wait for the next start of Windows"), std::string::npos) << Log();
  ExpectAsBefore();
}

// A run killed while its hook runs leaves its journal; the next run puts the
// installation back before it looks at anything.
TEST_F(RestoreE2E, AKilledRunIsPutBackByTheNextOne) {
  std::string hook;
  ASSERT_TRUE(ReadFileBytes(FixturePath("Hook.exe"), hook));
  ServeEverything("/sleep:60000", hook);
  {
    HeldFile holder;
    ASSERT_TRUE(holder.Hold(install_.Dir() + "Locked.txt"));
    ChildProcess child;
    ASSERT_TRUE(Start(child, "/Setup /q"));
    // The hook runs once every file is in place; the run and its hook are
    // ended there, as by a power cut.
    for (int i = 0; i < 600 && Log().find("Executing hook 'Last.exe'") == std::string::npos; ++i)
      ::Sleep(100);
    ASSERT_NE(Log().find("Executing hook 'Last.exe'"), std::string::npos) << Log();
    for (int i = 0; i < 300 && ProcessIdsNamed("Last.exe").empty(); ++i) ::Sleep(100);
    ASSERT_FALSE(ProcessIdsNamed("Last.exe").empty()) << "the hook did not start";
    EXPECT_EQ(FileContent(install_.Dir() + "Old.txt"), "new old");
    child.Kill();
    for (const DWORD id : ProcessIdsNamed("Last.exe")) {
      frame::ScopedHandle process(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id));
      if (process) ::TerminateProcess(process.get(), 1);
    }
    ASSERT_TRUE(WaitNoProcessNamed("Last.exe"));
    ASSERT_TRUE(holder.Release());
  }
  // The next run, for another component, finishes the earlier one first.
  server_.Serve(kCataloguePath, CatalogueCabinet({ComponentWith("Other", {{"Other.txt", "other.cab"}})}));
  server_.Serve("/PM50/Quoma/other.cab", CabinetBytes({{"Other.txt", "other"}}));
  EXPECT_EQ(Run("/Setup /q"), 0);
  EXPECT_NE(Log().find("An earlier run did not end: what it changed is put back now."),
            std::string::npos) << Log();
  ExpectAsBefore();
}

// Text of `size` bytes that differs along its length, named by `seed`.
std::string Filler(size_t size, char seed) {
  std::string text(size, ' ');
  for (size_t i = 0; i < size; ++i) text[i] = static_cast<char>('a' + (i * 7 + seed) % 26);
  return text;
}

// Three cabinets whose bodies stop at half, in one run: a server that answers
// ranges continues where the body stopped (one ranged request), one that
// ignores ranges sends the whole file again, and a file that changed between
// the requests comes whole in its new form. Every file arrives right.
TEST_F(WholeUpdateE2E, ADownloadCutAtHalfIsResumedOrFetchedWholeAgain) {
  const std::string resumed = Filler(96 * 1024, 1), ignored = Filler(80 * 1024, 2);
  const std::string before = Filler(64 * 1024, 3), after = Filler(70 * 1024, 4);
  server_.Serve(kCataloguePath,
                CatalogueCabinet({ComponentWith("Books", {{"Resumed.txt", "resumed.cab"},
                                                  {"Ignored.txt", "ignored.cab"},
                                                  {"Changed.txt", "changed.cab"}})}));
  auto cut = [](const std::string& body) {
    HttpRoute route;
    route.body = body;
    route.dropAfter = static_cast<long long>(body.size() / 2);
    route.faultTimes = 1;
    return route;
  };
  HttpRoute route = cut(CabinetBytes({{"Resumed.txt", resumed}}));
  route.etag = "\"r1\"";
  server_.SetRoute("/PM50/Quoma/resumed.cab", route);
  route = cut(CabinetBytes({{"Ignored.txt", ignored}}));
  route.extraHeaders = "ETag: \"i1\"\r\n";  // no ranges
  server_.SetRoute("/PM50/Quoma/ignored.cab", route);
  route = cut(CabinetBytes({{"Changed.txt", before}}));
  route.etag = "\"c1\"";
  route.changedBody = CabinetBytes({{"Changed.txt", after}});
  server_.SetRoute("/PM50/Quoma/changed.cab", route);

  EXPECT_EQ(Run("/Setup /q"), 0) << Log();
  EXPECT_EQ(FileContent(install_.Dir() + "Resumed.txt"), resumed);
  EXPECT_EQ(FileContent(install_.Dir() + "Ignored.txt"), ignored);
  EXPECT_EQ(FileContent(install_.Dir() + "Changed.txt"), after);
  EXPECT_EQ(Recorded("Books"), "1, 0, 0, 0");
  // What each server was asked: the second request of each asked for the
  // rest, with the first answer's tag.
  for (const char* name : {"resumed", "ignored", "changed"}) {
    const std::string path = std::string("/PM50/Quoma/") + name + ".cab";
    EXPECT_EQ(server_.RequestCount(path), 2u) << path;
    std::vector<std::string> ranges;
    for (const HttpRequest& request : server_.Requests())
      if (request.target == path) ranges.push_back(request.Header("Range") + "|" + request.Header("If-Range"));
    ASSERT_EQ(ranges.size(), 2u);
    EXPECT_EQ(ranges[0], "|");
    EXPECT_EQ(ranges[1].rfind("bytes=", 0), 0u) << ranges[1];
  }
  const std::string log = Log();
  EXPECT_NE(log.find("The server goes on with 'resumed.cab' at byte "), std::string::npos) << log;
  EXPECT_NE(log.find("The server sends 'ignored.cab' whole again."), std::string::npos) << log;
  EXPECT_NE(log.find("The server sends 'changed.cab' whole again."), std::string::npos) << log;
}

// A delete that an earlier run left for the next start of Windows does not
// take a file this run installs: on the NT family (the pending renames) and
// on the older one (WININIT.INI, the program run as under Windows 98).
TEST_F(WholeUpdateE2E, AnEarlierRunsDeleteWaitingForTheRestartSparesTheNewFile) {
  server_.Serve(kCataloguePath, CatalogueCabinet({ComponentWith("Notes", {{"Notes.txt", "notes.cab"}})}));
  const std::string notes = install_.Dir() + "Notes.txt";
  for (const bool older : {false, true}) {
    SCOPED_TRACE(older ? "the older family" : "the NT family");
    server_.Serve("/PM50/Quoma/notes.cab",
                  CabinetBytes({{"Notes.txt", older ? "new notes 98" : "new notes"}}));
    ASSERT_TRUE(WriteFileBytes(notes, "old notes"));
    RegDeleteTree(HKEY_LOCAL_MACHINE, kComponentsKey);
    const std::string appDefaults = "Software\\Wine\\AppDefaults\\Upgrade.exe";
    if (older) {
      char shortNotes[MAX_PATH] = "";
      ASSERT_NE(::GetShortPathNameA(notes.c_str(), shortNotes, MAX_PATH), 0u);
      ASSERT_TRUE(WriteFileBytes(WindowsFile("WININIT.INI"),
                                 std::string("[rename]\r\nNUL=") + shortNotes + "\r\n"));
      ASSERT_TRUE(RegWriteString(HKEY_CURRENT_USER, appDefaults, "Version", "win98"));
    } else {
      ASSERT_TRUE(::MoveFileExA(notes.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
    }
    const int result = Run("/Setup /q");
    RegDeleteTree(HKEY_CURRENT_USER, appDefaults);
    CloseManager();
    EXPECT_EQ(result, 0) << Log();
    EXPECT_NE(Log().find("A delete of '" + notes + "' that waited for the next start of Windows "
                         "is withdrawn"),
              std::string::npos) << Log();
    ASSERT_TRUE(RunRestartProcessing());
    EXPECT_EQ(FileContent(notes), older ? "new notes 98" : "new notes");
  }
}

// The same against a real web server (with-web-server: nginx behind a relay
// that cuts the first answer for "books.cab" at half): its ETag and its
// partial answer are understood, and one ranged request brings the rest.
class WebServerEnv : public ServedRunTest {
 protected:
  void SetUp() override {
    if (const char* missing = std::getenv("UPGRADE_WEB_MISSING"))
      GTEST_SKIP() << "no web server to test against: " << missing;
    const char* url = std::getenv("UPGRADE_WEB_URL");
    const char* root = std::getenv("UPGRADE_WEB_ROOT");
    ASSERT_TRUE(url && root) << "run through tests/webserver/with-web-server";
    url_ = url;
    root_ = WinePath(root) + "\\";
    ServedRunTest::SetUp();
  }

  std::string url_, root_;
};

TEST_F(WebServerEnv, ACutDownloadIsResumedWithOneRangedRequest) {
  const std::string text = Filler(300 * 1024, 5);
  ASSERT_TRUE(WriteFileBytes(root_ + "PM_InstallQuoma.cab",
                             CatalogueCabinet({ComponentWith("Books", {{"Books.txt", "books.cab"}})})));
  ASSERT_TRUE(WriteFileBytes(root_ + "books.cab", CabinetBytes({{"Books.txt", text}})));

  EXPECT_EQ(AsInt(RunUpgrade(install_.InstalledUpgrade(),
                             "/Setup /q /URL:" + url_ + "/PM_InstallQuoma.cab", 90000)),
            0);
  const std::string log = FileContent(UserLogPath());
  EXPECT_EQ(FileContent(install_.Dir() + "Books.txt"), text) << log;
  EXPECT_NE(log.find("The server goes on with 'books.cab' at byte "), std::string::npos) << log;
  // nginx's account: the whole file once (cut on its way), then one partial answer.
  std::vector<std::string> answers;
  const std::string access = FileContent(WinePath(std::getenv("UPGRADE_WEB_LOG")));
  for (size_t at = 0; (at = access.find("\"GET /books.cab ", at)) != std::string::npos; ++at) {
    const size_t lineStart = access.rfind('\n', at) + 1;
    answers.push_back(access.substr(lineStart, at - lineStart));
  }
  ASSERT_EQ(answers.size(), 2u) << access;
  EXPECT_NE(answers[0].find(" 200 "), std::string::npos) << answers[0];
  EXPECT_NE(answers[1].find(" 206 "), std::string::npos) << answers[1];
}

}  // namespace
}  // namespace e2e
