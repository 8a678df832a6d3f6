// The real Upgrade.exe against servers that stall: Cancel ends the run at
// once whatever the server does, as a cancel (-1, no error box); a server
// silent for the limit (60 s) ends the run with a time-out. (A slow line that
// still delivers is the update flow's and the transfer tests'.) A catalogue
// given by a file URL that names the program's own "Bin\PM_Install.cab" is
// read, not deleted first.
#include <gtest/gtest.h>

#include <string>

#include "tests/e2e/ServedRunTest.h"
#include "tests/support/CatalogueCabinet.h"
#include "tests/support/HttpServer.h"

namespace e2e {
namespace {

using namespace testing_support;

constexpr int kFailed = -1;
constexpr char kCaptionInstall[] = "PelloryManager Install";
constexpr char kAbortQuestion[] = "Download is in progress. Are you sure you want to abort it now?";
constexpr int kGroupBox = 219;  // only the connect dialog has it
// Far longer than a run may take: only a cancel or the limit ends the wait.
constexpr DWORD kStallMs = 150000;
// Cancel must end the run about this soon after the user's Yes.
constexpr DWORD kPromptMs = 3000;

CatalogueComponent Named(const std::string& name, std::vector<CatalogueFile> files = {}) {
  CatalogueComponent component;
  component.name = name;
  component.files = std::move(files);
  return component;
}

bool WaitForRequest(const HttpServer& server, const std::string& path, DWORD timeoutMs = 30000) {
  const DWORD start = ::GetTickCount();
  while (server.RequestCount(path) == 0) {
    if (::GetTickCount() - start > timeoutMs) return false;
    ::Sleep(50);
  }
  return true;
}

class StallingServerE2E : public ServedRunTest {
 protected:
  // Answers the abort question Yes; the run must then end within kPromptMs,
  // as a cancel (-1) and without a box. False when it did not end.
  static bool AnswerAbortAndSeeTheRunEnd(ChildProcess& child) {
    EXPECT_EQ(Answer(child, IDYES).text, kAbortQuestion);
    const DWORD answered = ::GetTickCount();
    const DWORD code = child.Wait(kPromptMs);
    EXPECT_LT(::GetTickCount() - answered, kPromptMs);
    if (code == STILL_ACTIVE) {
      // A box would say why; a cancel shows none.
      EXPECT_EQ(Answer(child, IDOK, 1000).text, "") << "a box after the cancel";
      child.Kill();
      ADD_FAILURE() << "still running " << kPromptMs << " ms after the cancel";
      return false;
    }
    EXPECT_EQ(AsInt(code), kFailed);
    return true;
  }
};

TEST_F(StallingServerE2E, CancelInTheConnectDialogEndsAStalledFetchAtOnce) {
  struct Case {
    const char* where;
    HttpRoute route;
  } cases[2];
  cases[0].where = "no answer to the request";
  cases[0].route.answerDelayMs = kStallMs;
  cases[1].where = "the header, then nothing";
  cases[1].route.stallAfter = 0;
  cases[1].route.stallMs = kStallMs;
  const std::string kept = install_.Bin() + "PM Install1.INF";
  ASSERT_TRUE(WriteFileBytes(kept, "[Components]\r\nOld=1\r\n"));
  for (Case& c : cases) {
    SCOPED_TRACE(c.where);
    c.route.body = CatalogueCabinet({Named("Stalled")});
    server_.SetRoute(kCataloguePath, c.route);
    server_.ClearRequests();

    ChildProcess child;
    ASSERT_TRUE(Start(child, ""));
    Answer(child, IDYES);  // connect now
    HWND dialog = WaitForDialogWith(child.Id(), kGroupBox);
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(WaitForRequest(server_, kCataloguePath));
    ::Sleep(300);  // the fetch is waiting for the server now
    EXPECT_EQ(ui::ControlText(dialog, 206), "Connect to www.pellory.com");
    // Connected: the second step's marker shows, the later ones not yet.
    EXPECT_TRUE(::IsWindowVisible(::GetDlgItem(dialog, 205)));
    EXPECT_FALSE(::IsWindowVisible(::GetDlgItem(dialog, 208)));
    EXPECT_FALSE(::IsWindowVisible(::GetDlgItem(dialog, 210)));
    // Enter (OK, there being no default button) does not close it meanwhile.
    DWORD_PTR ignored = 0;
    ::SendMessageTimeoutA(dialog, WM_COMMAND, IDOK, 0, SMTO_BLOCK, 5000, &ignored);
    EXPECT_TRUE(::IsWindowVisible(dialog));
    ui::PressButton(dialog, IDCANCEL);
    if (!AnswerAbortAndSeeTheRunEnd(child)) continue;
    // The fetch took its download away and did nothing after it.
    EXPECT_EQ(Log().find("Failed to download"), std::string::npos) << Log();
    EXPECT_EQ(Log().find("Point 2: file"), std::string::npos) << Log();
    EXPECT_FALSE(FileExists(install_.Bin() + "PM_Install.cab"));
    EXPECT_EQ(FileContent(kept), "[Components]\r\nOld=1\r\n");
  }
}

TEST_F(StallingServerE2E, CancelInTheProgressDialogEndsAStalledDownloadAtOnce) {
  server_.Serve(kCataloguePath,
                CatalogueCabinet({Named("Stalled", {{"Stalled.txt", "stalled.cab"}})}));
  for (const long long stallAfter : {0LL, 5000LL}) {
    SCOPED_TRACE(stallAfter == 0 ? "the header, then nothing" : "part of the body, then nothing");
    HttpRoute stalled;
    stalled.body = CabinetBytes({{"Stalled.txt", std::string(20000, 's')}});
    stalled.stallAfter = stallAfter;
    stalled.stallMs = kStallMs;
    server_.SetRoute("/PM50/Quoma/stalled.cab", stalled);
    server_.ClearRequests();
    ::DeleteFileA(UserLogPath().c_str());

    // Setup without the quiet option: no questions, the dialogs shown.
    ChildProcess child;
    ASSERT_TRUE(Start(child, "/Setup"));
    HWND progress = ui::WaitForWindow({"PelloryManager Components Download", "", child.Id()});
    ASSERT_NE(progress, nullptr) << "no progress dialog";
    ASSERT_TRUE(WaitForRequest(server_, "/PM50/Quoma/stalled.cab"));
    ::Sleep(500);  // the worker is waiting for the server now
    ui::PressButton(progress, IDCANCEL);
    if (!AnswerAbortAndSeeTheRunEnd(child)) continue;
    const std::string log = Log();
    EXPECT_NE(log.find("Operation cancelled."), std::string::npos) << log;
    // The transfer was ended for the cancel; it did not fail on its own.
    EXPECT_NE(log.find(" cancelled. File Ftp, Line "), std::string::npos) << log;
    EXPECT_EQ(log.find("failed. Error"), std::string::npos) << log;
    EXPECT_FALSE(FileExists(install_.Dir() + "Stalled.txt"));
    EXPECT_EQ(Recorded("Stalled"), "<none>");
  }
}

// The shipped limit, once for the catalogue (a box ends the run) and once for
// a cabinet (quiet: only the log), whose download is asked for again after
// the silence and then arrives.
TEST_F(StallingServerE2E, SixtySecondsOfSilenceEndARequest) {
  HttpRoute silent;
  silent.body = CatalogueCabinet({Named("Silent")});
  silent.answerDelayMs = kStallMs;
  server_.SetRoute(kCataloguePath, silent);
  ChildProcess child;
  ASSERT_TRUE(Start(child, ""));
  Answer(child, IDYES);
  const DWORD start = ::GetTickCount();
  SeenBox error = Answer(child, IDOK, 90000);
  const DWORD seconds = (::GetTickCount() - start) / 1000;
  EXPECT_GE(seconds, 59u);
  EXPECT_LE(seconds, 75u);
  EXPECT_EQ(error.caption, kCaptionInstall);
  // WinInet's own text for its code, as for every failed fetch.
  EXPECT_EQ(error.text, "The request has timed out.");
  EXPECT_EQ(AsInt(child.Wait(10000)), kFailed);
  EXPECT_NE(Log().find(": no answer for 60 seconds."), std::string::npos) << Log();
  EXPECT_NE(Log().find("\r\nFailed to download components initialization file " +
                       server_.Url(kCataloguePath) +
                       ".\nError 0x02ee2. The request has timed out.\r\n"),
            std::string::npos)
      << Log();

  server_.Serve(kCataloguePath,
                CatalogueCabinet({Named("Stalled", {{"Stalled.txt", "stalled.cab"}})}));
  HttpRoute stalled;
  stalled.body = CabinetBytes({{"Stalled.txt", std::string(20000, 's')}});
  stalled.stallAfter = 5000;
  stalled.stallMs = kStallMs;
  stalled.faultTimes = 1;
  server_.SetRoute("/PM50/Quoma/stalled.cab", stalled);
  const DWORD quietStart = ::GetTickCount();
  EXPECT_EQ(AsInt(RunUpgrade(install_.InstalledUpgrade(), "/Setup /q " + UrlSwitch(), 90000)),
            0);
  const DWORD quietSeconds = (::GetTickCount() - quietStart) / 1000;
  EXPECT_GE(quietSeconds, 60u);
  EXPECT_LE(quietSeconds, 80u);
  EXPECT_NE(Log().find("timed out: nothing arrived for 60 seconds."), std::string::npos) << Log();
  EXPECT_EQ(server_.RequestCount("/PM50/Quoma/stalled.cab"), 2u);
  EXPECT_EQ(FileContent(install_.Dir() + "Stalled.txt"), std::string(20000, 's'));
  EXPECT_EQ(Recorded("Stalled"), "1, 0, 0, 0");
}

// "/URL:file://..." naming the cabinet the program keeps beside itself: the
// fetch reads it where it lies and leaves it there.
TEST_F(StallingServerE2E, AFileUrlNamingTheProgramsOwnCabinetIsRead) {
  const std::string own = install_.Bin() + "PM_Install.cab";
  const std::string cabinet = CatalogueCabinet({Named("Local")});
  ASSERT_TRUE(WriteFileBytes(own, cabinet));
  // Up to date: the quiet check ends without a question.
  ASSERT_TRUE(RegWriteString(HKEY_LOCAL_MACHINE, kComponentsKey, "Local", "1, 0, 0, 0"));
  std::string url = "file://";
  for (char c : own)  // "C:\Pellory Test\..." -> "C:/Pellory%20Test/..."
    url += c == '\\' ? std::string("/") : c == ' ' ? std::string("%20") : std::string(1, c);
  EXPECT_EQ(AsInt(RunUpgrade(install_.InstalledUpgrade(), "/q /URL:" + url, 60000)), 0) << Log();
  EXPECT_EQ(FileContent(install_.Bin() + "PM Install1.INF"), CatalogueText({Named("Local")}));
  EXPECT_TRUE(FileContent(own) == cabinet) << "the cabinet was not left as it was";
}

}  // namespace
}  // namespace e2e
