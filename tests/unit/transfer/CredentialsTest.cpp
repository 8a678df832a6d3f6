// A 401 answer brings up the system's credential dialog: Cancel ends the
// open, typed credentials are sent; a 407 without a proxy asks nothing. (A
// real proxy's 407, Cancel there, and wrong credentials asked for a few times
// only are the proxy end-to-end tests'.)
#include <gtest/gtest.h>
#include <windows.h>
#include <wininet.h>

#include "tests/support/Scratch.h"
#include "tests/support/UiDriver.h"
#include "tests/unit/transfer/TransferTestSupport.h"
#include "transfer/InternetSession.h"
#include "transfer/TransferError.h"

namespace transfer_test {
namespace {

using testing_support::HttpRoute;

class Credentials : public HttpTransferTest {};

TEST_F(Credentials, CancelInTheDialogFailsTheOpenWithoutAnotherRequest) {
  server_.ServeStatus("/locked.cab", 401);
  HeldSession session("127.0.0.1", kServiceHttp, server_.Port());
  ASSERT_TRUE(session);
  DialogAnswerer answerer(IDCANCEL);
  SetLastTransferError(0);
  EXPECT_EQ(session->OpenFile(nullptr, server_.Url("/locked.cab")), nullptr);
  answerer.Join();
  EXPECT_TRUE(answerer.Answered()) << "no credential dialog appeared";
  EXPECT_EQ(GetLastTransferError(), static_cast<DWORD>(ERROR_CANCELLED));
  EXPECT_EQ(server_.RequestCount("/locked.cab"), 1u);
  EXPECT_TRUE(log_.Contains("Proxy authentication required, dwCode = 401. File Ftp, Line "))
      << log_.Text();
  EXPECT_TRUE(log_.Contains("InternetErrorDlg returned dwPrompt = ")) << log_.Text();
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
