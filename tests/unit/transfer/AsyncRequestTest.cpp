// The registry of asynchronous requests: what a pending WinInet call may still
// write stays until WinInet has let go of the request, and goes then.
#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "tests/unit/transfer/TransferTestSupport.h"
#include "transfer/AsyncRequest.h"
#include "transfer/CancelFlag.h"
#include "transfer/InternetHandle.h"
#include "transfer/TransferError.h"

namespace transfer_test {
namespace {

using testing_support::HttpRoute;

constexpr char kHost[] = "127.0.0.1";

class AsyncRequests : public HttpTransferTest {
 protected:
  void SetUp() override {
    HttpTransferTest::SetUp();
    // The requests of earlier tests go once WinInet has let go of them (their
    // servers have stopped): none may stay for good.
    ASSERT_TRUE(RegisteredBecomes(0, 10000)) << AsyncRequest::RegisteredCount();
  }
  void TearDown() override {
    SetTransferTimeoutForTests(0);
    HttpTransferTest::TearDown();
  }

  // Polls until the registry holds `count` requests; false after `ms`.
  static bool RegisteredBecomes(size_t count, DWORD ms) {
    const DWORD start = ::GetTickCount();
    while (AsyncRequest::RegisteredCount() != count) {
      if (::GetTickCount() - start >= ms) return false;
      ::Sleep(20);
    }
    return true;
  }
};

TEST_F(AsyncRequests, AFinishedDownloadLeavesNothingRegistered) {
  server_.Serve("/whole.cab", TestBytes(300 * 1024, 3));
  {
    HeldSession session(kHost, kServiceHttp, server_.Port());
    ASSERT_TRUE(session);
    std::unique_ptr<TransferFile> file = session->OpenFile(nullptr, server_.Url("/whole.cab"));
    ASSERT_NE(file, nullptr) << log_.Text();
    EXPECT_EQ(AsyncRequest::RegisteredCount(), 1u);
    std::string bytes(64 * 1024, '\0');
    DWORD got = 1;
    size_t total = 0;
    while (got != 0) {
      ASSERT_TRUE(file->Read(&bytes[0], static_cast<DWORD>(bytes.size()), &got)) << log_.Text();
      total += got;
    }
    EXPECT_EQ(total, 300u * 1024);
  }
  EXPECT_TRUE(RegisteredBecomes(0, 2000)) << AsyncRequest::RegisteredCount();
}

// A read cancelled while WinInet waits for the server: the file fails at
// once, but WinInet's task keeps the request until its own time-out, and
// may write what the read asked for until then.
TEST_F(AsyncRequests, ACancelledReadKeepsItsStateUntilWinInetLetsGo) {
  constexpr DWORD kLimitMs = 3000;
  SetTransferTimeoutForTests(kLimitMs);
  HttpRoute route;
  route.body = TestBytes(6000, 5);
  route.stallAfter = 3000;
  route.stallMs = 30000;
  server_.SetRoute("/stall.cab", route);

  HeldSession session(kHost, kServiceHttp, server_.Port());
  ASSERT_TRUE(session);
  CancelFlag cancel;
  std::unique_ptr<TransferFile> file =
      session->OpenFile(nullptr, server_.Url("/stall.cab"), &cancel);
  ASSERT_NE(file, nullptr) << log_.Text();
  std::thread user([&cancel] {
    ::Sleep(500);
    cancel.Set();
  });
  char buffer[8192];
  DWORD got = 0;
  size_t total = 0;
  const DWORD start = ::GetTickCount();
  bool failed = false;
  while (!failed) {
    failed = !file->Read(buffer, sizeof(buffer), &got);
    if (!failed && got == 0) break;
    total += got;
  }
  const DWORD elapsed = ::GetTickCount() - start;
  user.join();
  ASSERT_TRUE(failed);
  EXPECT_EQ(GetLastTransferError(), static_cast<DWORD>(ERROR_CANCELLED));
  EXPECT_EQ(total, 3000u);
  EXPECT_LT(elapsed, 1500u);

  file.reset();
  // WinInet still waits for the silent server: the state stays.
  EXPECT_EQ(AsyncRequest::RegisteredCount(), 1u);
  // Its own time-out ends the wait, and the request's closing takes the state.
  EXPECT_TRUE(RegisteredBecomes(0, kLimitMs + 3000)) << AsyncRequest::RegisteredCount();
}

}  // namespace
}  // namespace transfer_test
