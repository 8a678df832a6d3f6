// A 407 without a proxy asks nothing. (The credential dialog itself, for a
// proxy's 407 and a server's 401 alike, with Cancel, typed credentials and
// wrong ones, is the proxy end-to-end tests'.)
#include <gtest/gtest.h>
#include <windows.h>
#include <wininet.h>

#include "tests/unit/transfer/TransferTestSupport.h"
#include "transfer/InternetSession.h"
#include "transfer/TransferError.h"

namespace transfer_test {
namespace {

class Credentials : public HttpTransferTest {};

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

}  // namespace
}  // namespace transfer_test
