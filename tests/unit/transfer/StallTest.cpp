// Servers that stall or trickle: a network silent for the limit ends the
// transfer with a time-out, wherever it falls silent; a line that still
// delivers bytes is never cut off; the user's Cancel ends a blocked transfer
// at once, without waiting for the server or the limit.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

#include "tests/support/Scratch.h"
#include "tests/unit/transfer/TransferTestSupport.h"
#include "transfer/CallThread.h"
#include "transfer/CancelFlag.h"
#include "transfer/InternetHandle.h"
#include "transfer/TransferError.h"

namespace transfer_test {
namespace {

using testing_support::FileExists;
using testing_support::HttpRoute;
using testing_support::ScratchDir;

constexpr char kHost[] = "127.0.0.1";
// Far longer than any limit or wait here: only a time-out or a cancel ends it.
constexpr DWORD kStallMs = 30000;

struct Stall {
  const char* where;
  HttpRoute route;
};

std::vector<Stall> Stalls() {
  std::vector<Stall> stalls(3);
  for (Stall& stall : stalls) stall.route.body = TestBytes(6000, 21);
  stalls[0].where = "no answer to the request";
  stalls[0].route.answerDelayMs = kStallMs;
  stalls[1].where = "the header, then nothing";
  stalls[1].route.stallAfter = 0;
  stalls[1].route.stallMs = kStallMs;
  stalls[2].where = "half the body, then nothing";
  stalls[2].route.stallAfter = 3000;
  stalls[2].route.stallMs = kStallMs;
  return stalls;
}

// The user's Cancel, pressed on a thread of its own some time after the start.
class CancelAfter {
 public:
  explicit CancelAfter(DWORD ms) : user_([this, ms] {
    ::Sleep(ms);
    flag.Set();
  }) {}
  ~CancelAfter() { user_.join(); }
  CancelFlag flag;

 private:
  std::thread user_;
};

class Stalling : public HttpTransferTest {
 protected:
  void TearDown() override {
    SetTransferTimeoutForTests(0);
    HttpTransferTest::TearDown();
  }

  // As the catalogue fetch downloads; the time it took comes back too.
  DWORD Download(const std::string& path, DWORD* elapsedMs, const CancelFlag* cancel = nullptr) {
    HeldSession session(kHost, kServiceHttp, server_.Port());
    if (!session) return GetLastTransferError();
    const DWORD start = ::GetTickCount();
    const DWORD result =
        session->DownloadToFile(nullptr, server_.Url(path), dir_.Path() + "x.cab", false, cancel);
    *elapsedMs = ::GetTickCount() - start;
    return result;
  }

  // As the worker reads: what has arrived, until a read gives 0 bytes. 0, or
  // the error of the open or of the read that failed.
  DWORD ReadAll(const std::string& path, std::string& bytes, DWORD* elapsedMs,
                const CancelFlag* cancel = nullptr) {
    HeldSession session(kHost, kServiceHttp, server_.Port());
    if (!session) return GetLastTransferError();
    const DWORD start = ::GetTickCount();
    DWORD result = 0;
    std::unique_ptr<TransferFile> file = session->OpenFile(nullptr, server_.Url(path), cancel);
    if (!file) result = GetLastTransferError();
    char buffer[4096];
    while (file) {
      DWORD available = file->Available();
      DWORD got = 0;
      if (!file->Read(buffer, available ? std::min<DWORD>(available, sizeof(buffer)) : 1, &got)) {
        result = GetLastTransferError();
        // A failed file stays failed, at once.
        const DWORD again = ::GetTickCount();
        EXPECT_FALSE(file->Read(buffer, 1, &got));
        EXPECT_EQ(GetLastTransferError(), result);
        EXPECT_LT(::GetTickCount() - again, 500u);
        break;
      }
      if (got == 0) break;
      bytes.append(buffer, got);
    }
    *elapsedMs = ::GetTickCount() - start;
    return result;
  }

  ScratchDir dir_{"stall"};
};

TEST_F(Stalling, SilenceForTheLimitEndsTheTransferWithATimeOut) {
  constexpr DWORD kLimitMs = 1500;
  SetTransferTimeoutForTests(kLimitMs);
  for (const Stall& stall : Stalls()) {
    SCOPED_TRACE(stall.where);
    server_.SetRoute("/stall.cab", stall.route);
    DWORD elapsed = 0;
    EXPECT_EQ(Download("/stall.cab", &elapsed), static_cast<DWORD>(ERROR_INTERNET_TIMEOUT))
        << log_.Text();
    EXPECT_GE(elapsed + 100, kLimitMs);
    EXPECT_LT(elapsed, kLimitMs + 3000);
    EXPECT_FALSE(FileExists(dir_.Path() + "x.cab"));

    std::string bytes;
    EXPECT_EQ(ReadAll("/stall.cab", bytes, &elapsed), static_cast<DWORD>(ERROR_INTERNET_TIMEOUT));
    EXPECT_LT(elapsed, kLimitMs + 3000);
  }
  // A read asks only for what has arrived: the wait for more is the one
  // that meets the silence.
  EXPECT_TRUE(log_.Contains("no answer for 1 seconds")) << log_.Text();
  EXPECT_TRUE(log_.Contains("InternetQueryDataAvailable timed out: nothing arrived for 1 seconds"))
      << log_.Text();
}

TEST_F(Stalling, ALineThatStillDeliversIsNeverCutOff) {
  constexpr DWORD kLimitMs = 1000;
  SetTransferTimeoutForTests(kLimitMs);
  HttpRoute trickle;
  trickle.body = TestBytes(12, 4);
  trickle.pieceSize = 1;
  trickle.pieceDelayMs = 400;  // 4.4 s in all, never 1 s without a byte
  server_.SetRoute("/trickle.cab", trickle);

  DWORD elapsed = 0;
  ASSERT_EQ(Download("/trickle.cab", &elapsed), 0u) << log_.Text();
  EXPECT_GT(elapsed, 3 * kLimitMs);
  EXPECT_TRUE(testing_support::FileContent(dir_.Path() + "x.cab") == trickle.body);

  std::string bytes;
  ASSERT_EQ(ReadAll("/trickle.cab", bytes, &elapsed), 0u) << log_.Text();
  EXPECT_GT(elapsed, 3 * kLimitMs);
  EXPECT_TRUE(bytes == trickle.body);
}

// A read gives what has arrived instead of waiting for all it asked for: on
// a line that turned slow, a large read would otherwise wait for as long as
// the rest takes to come, with no progress meanwhile.
TEST_F(Stalling, AReadGivesWhatHasArrivedWithoutWaitingForTheRest) {
  HttpRoute trickle;
  trickle.body = TestBytes(12, 7);
  trickle.pieceSize = 1;
  trickle.pieceDelayMs = 500;  // 6 s for the whole body
  server_.SetRoute("/trickle.cab", trickle);
  HeldSession session(kHost, kServiceHttp, server_.Port());
  ASSERT_TRUE(session);
  std::unique_ptr<TransferFile> file = session->OpenFile(nullptr, server_.Url("/trickle.cab"));
  ASSERT_NE(file, nullptr) << log_.Text();
  std::string bytes;
  char buffer[64 * 1024];
  for (int read = 0; read < 3; ++read) {
    const DWORD start = ::GetTickCount();
    DWORD got = 0;
    ASSERT_TRUE(file->Read(buffer, sizeof(buffer), &got)) << log_.Text();
    EXPECT_LT(::GetTickCount() - start, 1500u) << "read " << read;
    EXPECT_GT(got, 0u);
    EXPECT_LT(got, trickle.body.size());
    bytes.append(buffer, got);
  }
  // The rest, read the same way, completes the body.
  for (DWORD got = 1; got != 0;) {
    ASSERT_TRUE(file->Read(buffer, sizeof(buffer), &got)) << log_.Text();
    bytes.append(buffer, got);
  }
  EXPECT_TRUE(bytes == trickle.body);
}

// A call that was given up before its thread took it up is never made: a
// WinInet call made then would use a handle its caller had let go of. What a
// call holds goes once it has returned or been skipped.
TEST(CallThreads, ACallGivenUpBeforeItStartedIsNeverMade) {
  constexpr int kTries = 20;
  auto made = std::make_shared<std::atomic<int>>(0);
  auto held = std::make_shared<int>(0);
  std::vector<std::unique_ptr<CallThread>> threads;
  int returned = 0;
  for (int i = 0; i < kTries; ++i) {
    threads.push_back(std::make_unique<CallThread>());
    // No time at all: given up at once, mostly before the new thread runs.
    if (threads.back()->Run([made, held] { ++*made; }, nullptr, 0) ==
        CallThread::Outcome::kReturned)
      ++returned;
  }
  // Every call that was taken up has ended by now (it only counts).
  ::Sleep(1000);
  EXPECT_GE(made->load(), returned);
  EXPECT_LT(made->load(), kTries);
  EXPECT_EQ(held.use_count(), 1);
  threads.clear();
}

TEST_F(Stalling, CancelEndsABlockedTransferAtOnce) {
  // The shipped limit: only the cancel can end these in time.
  constexpr DWORD kCancelAfterMs = 500;
  for (const Stall& stall : Stalls()) {
    SCOPED_TRACE(stall.where);
    server_.SetRoute("/stall.cab", stall.route);
    DWORD elapsed = 0;
    {
      CancelAfter user(kCancelAfterMs);
      EXPECT_EQ(Download("/stall.cab", &elapsed, &user.flag), static_cast<DWORD>(ERROR_CANCELLED));
    }
    EXPECT_LT(elapsed, kCancelAfterMs + 1500);
    EXPECT_FALSE(FileExists(dir_.Path() + "x.cab"));
    std::string bytes;
    {
      CancelAfter user(kCancelAfterMs);
      EXPECT_EQ(ReadAll("/stall.cab", bytes, &elapsed, &user.flag),
                static_cast<DWORD>(ERROR_CANCELLED));
    }
    EXPECT_LT(elapsed, kCancelAfterMs + 1500);
  }

  // A cancel that came first sends nothing at all.
  server_.ClearRequests();
  CancelFlag cancelled;
  cancelled.Set();
  DWORD elapsed = 0;
  EXPECT_EQ(Download("/stall.cab", &elapsed, &cancelled), static_cast<DWORD>(ERROR_CANCELLED));
  EXPECT_EQ(server_.RequestCount("/stall.cab"), 0u);
}

// Reads of what has arrived and the questions asked while some of it is
// unread are made on the reader's thread; once a long burst is all read, the
// wait for more is the call thread's again, which Cancel and the silence
// limit end.
TEST_F(Stalling, ALongBurstThenSilenceStillEndsByCancelOrTheLimit) {
  constexpr size_t kBurst = 300 * 1024;  // many times what WinINet reports at once
  HttpRoute route;
  route.body = TestBytes(2 * kBurst, 9);
  route.stallAfter = kBurst;
  route.stallMs = kStallMs;
  server_.SetRoute("/burst.cab", route);
  const std::string burst = route.body.substr(0, kBurst);

  constexpr DWORD kCancelAfterMs = 1500;
  for (int way = 0; way < 2; ++way) {
    SCOPED_TRACE(way == 0 ? "as the worker reads" : "as the catalogue fetch downloads");
    std::string bytes;
    DWORD elapsed = 0;
    DWORD result = 0;
    {
      CancelAfter user(kCancelAfterMs);
      result = way == 0 ? ReadAll("/burst.cab", bytes, &elapsed, &user.flag)
                        : Download("/burst.cab", &elapsed, &user.flag);
    }
    EXPECT_EQ(result, static_cast<DWORD>(ERROR_CANCELLED)) << log_.Text();
    EXPECT_LT(elapsed, kCancelAfterMs + 1500);
    if (way == 0) {
      EXPECT_TRUE(bytes == burst) << bytes.size() << " bytes";
    }
  }

  constexpr DWORD kLimitMs = 1500;
  SetTransferTimeoutForTests(kLimitMs);
  std::string bytes;
  DWORD elapsed = 0;
  EXPECT_EQ(ReadAll("/burst.cab", bytes, &elapsed), static_cast<DWORD>(ERROR_INTERNET_TIMEOUT));
  EXPECT_GE(elapsed + 100, kLimitMs);
  EXPECT_LT(elapsed, kLimitMs + 3000);
  EXPECT_TRUE(bytes == burst) << bytes.size() << " bytes";
}

}  // namespace
}  // namespace transfer_test
