// 401 and 407 answers bring up the system's credential dialog; Cancel ends the
// open, typed credentials are sent.
#include <gtest/gtest.h>
#include <windows.h>
#include <wininet.h>

#include "frame/RegKey.h"
#include "tests/support/Scratch.h"
#include "tests/unit/transfer/TransferTestSupport.h"
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
  EXPECT_TRUE(ReadWholeFile(dir.Path() + "m.cab") == route.body);
}

}  // namespace
}  // namespace transfer_test
