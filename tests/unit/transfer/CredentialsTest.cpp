// 401 and 407 answers bring up the system's credential dialog; Cancel ends the
// open, typed credentials are sent, wrong ones are asked for a few times only.
#include <gtest/gtest.h>
#include <windows.h>
#include <wininet.h>

#include "frame/RegKey.h"
#include "tests/support/Scratch.h"
#include "tests/support/UiDriver.h"
#include "tests/unit/transfer/TransferTestSupport.h"
#include "transfer/InternetSession.h"
#include "transfer/TransferError.h"

namespace transfer_test {
namespace {

using testing_support::HttpRoute;

constexpr char kInternetSettings[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

// Makes the test server the system's proxy while it lives: a 407 comes from
// a proxy, and WinInet's proxy dialog needs one configured. Sessions opened
// meanwhile (InternetOpen with the preconfigured settings) go through it.
class ScopedProxy {
 public:
  explicit ScopedProxy(WORD port) {
    ok_ = key_.Create(HKEY_CURRENT_USER, kInternetSettings) == ERROR_SUCCESS &&
          key_.SetDword("ProxyEnable", 1) == ERROR_SUCCESS &&
          key_.SetString("ProxyServer", "127.0.0.1:" + std::to_string(port)) == ERROR_SUCCESS;
  }
  ~ScopedProxy() {
    key_.SetDword("ProxyEnable", 0);
    key_.DeleteValue("ProxyServer");
  }
  bool ok() const { return ok_; }

 private:
  frame::RegKey key_;
  bool ok_ = false;
};

class Credentials : public HttpTransferTest {};

// A user who types the same wrong credentials into every credential dialog,
// up to `times` dialogs; any further one is cancelled, so that an open that
// never stops asking still ends. The destructor joins.
class StubbornUser {
 public:
  explicit StubbornUser(int times) {
    thread_ = std::thread([this, times] {
      ui::WindowQuery query;
      query.className = "#32770";
      query.processId = ::GetCurrentProcessId();
      while (!done_) {
        HWND dialog = ui::WaitForWindow(query, 200);
        if (!dialog) continue;
        std::vector<HWND> edits;
        for (HWND child = ::GetWindow(dialog, GW_CHILD); child;
             child = ::GetWindow(child, GW_HWNDNEXT))
          if (ui::ClassName(child) == "Edit") edits.push_back(child);
        const bool typing = dialogs_ < times && edits.size() >= 2;
        if (typing) {
          ::SendMessageA(edits[0], WM_SETTEXT, 0, reinterpret_cast<LPARAM>("user"));
          ::SendMessageA(edits[1], WM_SETTEXT, 0, reinterpret_cast<LPARAM>("wrong"));
        }
        if (ui::PressButton(dialog, typing ? IDOK : IDCANCEL)) ++dialogs_;
        ui::WaitForWindowGone(dialog, 5000);
      }
    });
  }
  ~StubbornUser() {
    done_ = true;
    thread_.join();
  }
  int Dialogs() const { return dialogs_; }

 private:
  std::thread thread_;
  std::atomic<bool> done_{false};
  std::atomic<int> dialogs_{0};
};

TEST_F(Credentials, CancelInTheDialogFailsTheOpenWithoutAnotherRequest) {
  struct Case {
    int status;
    const char* host;  // 407: a name only the proxy knows
  } cases[] = {{401, "127.0.0.1"}, {407, "download.pellory.test"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.status);
    std::unique_ptr<ScopedProxy> proxy;
    if (c.status == 407) {
      proxy = std::make_unique<ScopedProxy>(server_.Port());
      ASSERT_TRUE(proxy->ok());
    }
    server_.ServeStatus("/locked.cab", c.status);
    server_.ClearRequests();
    HeldSession session(c.host, kServiceHttp, c.status == 407 ? 80 : server_.Port());
    ASSERT_TRUE(session);
    DialogAnswerer answerer(IDCANCEL);
    SetLastTransferError(0);
    const std::string url = std::string("http://") + c.host + "/locked.cab";
    EXPECT_EQ(session->OpenFile(nullptr, url), nullptr);
    answerer.Join();
    EXPECT_TRUE(answerer.Answered()) << "no credential dialog appeared";
    EXPECT_EQ(GetLastTransferError(), static_cast<DWORD>(ERROR_CANCELLED));
    EXPECT_EQ(server_.RequestCount("/locked.cab"), 1u);
    EXPECT_TRUE(log_.Contains("Proxy authentication required, dwCode = " +
                              std::to_string(c.status) + ". File Ftp, Line "))
        << log_.Text();
    EXPECT_TRUE(log_.Contains("InternetErrorDlg returned dwPrompt = ")) << log_.Text();
  }
}

TEST_F(Credentials, WrongCredentialsAreAskedForAFewTimesThenTheOpenFails) {
  HttpRoute route;
  route.status = 401;
  route.body = "members only";
  route.acceptedCredentials = "Basic dXNlcjpyaWdodA==";  // user:right, never typed
  server_.SetRoute("/members.cab", route);
  HeldSession session("127.0.0.1", kServiceHttp, server_.Port());
  ASSERT_TRUE(session);
  const std::string url = server_.Url("/members.cab");
  {
    StubbornUser user(10);
    EXPECT_EQ(session->OpenFile(nullptr, url), nullptr);
    // Every request but the last was answered by a dialog; none was cancelled.
    EXPECT_EQ(user.Dialogs(), InternetSession::kMostRequests - 1);
  }
  // WinInet may send the typed credentials once more by itself on each send.
  EXPECT_GE(server_.RequestCount("/members.cab"),
            static_cast<size_t>(InternetSession::kMostRequests));
  EXPECT_LE(server_.RequestCount("/members.cab"),
            static_cast<size_t>(2 * InternetSession::kMostRequests));
  EXPECT_EQ(GetLastTransferError(), static_cast<DWORD>(ERROR_INTERNET_INCORRECT_PASSWORD));
  EXPECT_TRUE(log_.Contains("HTTP status 401 for URL '" + url + "' after " +
                            std::to_string(InternetSession::kMostRequests) + " requests."))
      << log_.Text();
}

// A proxy chosen per URL by an automatic configuration script (or found by
// detection) leaves the session's own setting at "direct": a 407 still gets
// the dialog. Wine's WinInet neither runs such scripts nor shows its proxy
// dialog without a proxy in the settings, so the choice is checked here.
TEST(ProxyChoice, A407GetsTheDialogWheneverTheSystemMayHaveChosenAProxy) {
  EXPECT_TRUE(ProxyMayBeInUse(INTERNET_OPEN_TYPE_PROXY, PROXY_TYPE_DIRECT));
  EXPECT_TRUE(ProxyMayBeInUse(INTERNET_OPEN_TYPE_DIRECT, PROXY_TYPE_DIRECT | PROXY_TYPE_AUTO_PROXY_URL));
  EXPECT_TRUE(ProxyMayBeInUse(INTERNET_OPEN_TYPE_DIRECT, PROXY_TYPE_DIRECT | PROXY_TYPE_AUTO_DETECT));
  EXPECT_FALSE(ProxyMayBeInUse(INTERNET_OPEN_TYPE_DIRECT, PROXY_TYPE_DIRECT));
}

TEST_F(Credentials, A407WithoutAProxyFailsWithoutADialog) {
  server_.ServeStatus("/odd.cab", 407);
  HeldSession session("127.0.0.1", kServiceHttp, server_.Port());
  ASSERT_TRUE(session);
  EXPECT_EQ(session->OpenFile(nullptr, server_.Url("/odd.cab")), nullptr);
  EXPECT_EQ(GetLastTransferError(), static_cast<DWORD>(ERROR_INTERNET_INCORRECT_PASSWORD));
  EXPECT_EQ(server_.RequestCount("/odd.cab"), 1u);
  EXPECT_TRUE(log_.Contains("Proxy authentication asked for without a proxy, URL '" +
                            server_.Url("/odd.cab") + "'"))
      << log_.Text();
}

TEST_F(Credentials, TypedCredentialsAreSentAndTheFileArrives) {
  HttpRoute route;
  route.status = 401;
  route.body = TestBytes(5000, 11);
  route.acceptedCredentials = "Basic dXNlcjpwdw==";  // user:pw
  server_.SetRoute("/members.cab", route);
  HeldSession session("127.0.0.1", kServiceHttp, server_.Port());
  ASSERT_TRUE(session);
  testing_support::ScratchDir dir("cred");
  DialogAnswerer answerer(IDOK, "user", "pw");
  EXPECT_EQ(session->DownloadToFile(nullptr, server_.Url("/members.cab"), dir.Path() + "m.cab",
                                    false),
            0u)
      << log_.Text();
  answerer.Join();
  EXPECT_TRUE(answerer.Answered());
  EXPECT_TRUE(testing_support::FileContent(dir.Path() + "m.cab") == route.body);
}

}  // namespace
}  // namespace transfer_test
