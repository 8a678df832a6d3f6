// Downloads from the test's own HTTP server: whole files of sizes around the
// chunk sizes, slow servers, and the failures a user meets. (Relative names
// fetched anew each run, and a server that is not there, are the update
// flow's end-to-end cases.)
#include <gtest/gtest.h>

#include "tests/support/Scratch.h"
#include "tests/unit/transfer/TransferTestSupport.h"
#include "transfer/InternetSession.h"
#include "transfer/TransferError.h"

namespace transfer_test {
namespace {

using testing_support::HttpRoute;
using testing_support::ScratchDir;

constexpr char kHost[] = "127.0.0.1";

class HttpDownload : public HttpTransferTest {
 protected:
  // Through a session of its own for the server's host, as the catalogue fetch does.
  DWORD Download(const std::string& url, const std::string& target) {
    HeldSession session(kHost, kServiceHttp, server_.Port());
    if (!session) return GetLastTransferError();
    return session->DownloadToFile(nullptr, url, target, false);
  }

  // As the worker reads: 2000 bytes at a time until a read gives 0. False
  // when a read fails; `reads` counts the calls.
  bool ReadInChunks(const std::string& url, std::string& bytes, int* reads = nullptr) {
    HeldSession session(kHost, kServiceHttp, server_.Port());
    if (!session) return false;
    std::unique_ptr<TransferFile> file = session->OpenFile(nullptr, url);
    if (!file) return false;
    char buffer[2000];
    for (int calls = 1;; ++calls) {
      DWORD got = 12345;
      if (!file->Read(buffer, sizeof(buffer), &got)) {
        EXPECT_EQ(got, 0u) << "a failed read counts nothing";
        return false;
      }
      if (reads) *reads = calls;
      if (got == 0) return true;
      bytes.append(buffer, got);
    }
  }

  ScratchDir dir_{"http"};
};

// Sizes around the read sizes, and a slow server sending small pieces.
TEST_F(HttpDownload, WholeFilesOfEverySize) {
  const size_t chunk = InternetSession::kDownloadChunk;  // DownloadToFile's reads
  const struct {
    size_t size, pieceSize;
  } cases[] = {{0, 0},     {1, 0},         {1999, 0},          {2000, 0},  {2001, 0},
               {4000, 0},  {chunk, 0},     {chunk + 1, 0},     {5 * chunk + 7, 0},
               {30000, 333}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.size) + " bytes in pieces of " + std::to_string(c.pieceSize));
    HttpRoute route;
    route.body = TestBytes(c.size, static_cast<unsigned>(c.size));
    route.pieceSize = c.pieceSize;
    route.pieceDelayMs = c.pieceSize ? 2 : 0;
    const std::string path = "/files/f" + std::to_string(c.size) + ".cab";
    server_.SetRoute(path, route);
    const std::string target = dir_.Path() + "f.cab";
    ASSERT_EQ(Download(server_.Url(path), target), 0u) << log_.Text();
    EXPECT_TRUE(testing_support::FileContent(target) == route.body);

    std::string read;
    int reads = 0;
    ASSERT_TRUE(ReadInChunks(server_.Url(path), read, &reads)) << log_.Text();
    EXPECT_TRUE(read == route.body);
    // A read gives what has arrived, at most a chunk, so at least this many;
    // the read of 0 bytes at the end comes once (also after exactly 2000 or
    // 4000).
    EXPECT_GE(reads, static_cast<int>((c.size + 1999) / 2000) + 1);
  }
}

TEST_F(HttpDownload, AFileCutShortFailsAndLeavesNoFile) {
  struct Case {
    const char* name;
    size_t size;
    long long dropAfter;      // connection reset after this many bytes
    long long contentLength;  // or: the server announces more than it sends
    size_t pieceSize;
  } cases[] = {
      {"reset mid-body", 10000, 3000, -1, 0},
      {"reset mid-body, slowly", 10000, 6000, -1, 1000},
      {"short body", 5000, -1, 9000, 0},
      {"short body ending on a chunk boundary", 4000, -1, 6000, 0},
      {"short body ending on the download chunk", InternetSession::kDownloadChunk, -1,
       InternetSession::kDownloadChunk + 5000, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    HttpRoute route;
    route.body = TestBytes(c.size, 3);
    route.dropAfter = c.dropAfter;
    route.contentLength = c.contentLength;
    route.pieceSize = c.pieceSize;
    route.pieceDelayMs = c.pieceSize ? 3 : 0;
    server_.SetRoute("/cut.cab", route);
    const std::string target = dir_.Path() + "cut.cab";
    ASSERT_TRUE(testing_support::WriteFileBytes(target, "old"));
    EXPECT_NE(Download(server_.Url("/cut.cab"), target), 0u);
    EXPECT_FALSE(testing_support::FileExists(target));
    std::string read;
    EXPECT_FALSE(ReadInChunks(server_.Url("/cut.cab"), read));
  }
  EXPECT_TRUE(log_.Contains("InternetReadFile ended after 5000 of 9000 bytes.")) << log_.Text();
}

TEST_F(HttpDownload, RefusingStatusesAreAskedForThreeTimesThenFail) {
  struct Case {
    int status;
    DWORD error;
  } cases[] = {{404, ERROR_FILE_NOT_FOUND}, {500, ERROR_INTERNET_EXTENDED_ERROR}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.status);
    const std::string path = "/status" + std::to_string(c.status) + ".cab";
    server_.ServeStatus(path, c.status);
    const std::string target = dir_.Path() + "status.cab";
    EXPECT_EQ(Download(server_.Url(path), target), c.error);
    EXPECT_EQ(GetLastTransferError(), c.error);
    EXPECT_EQ(server_.RequestCount(path), 3u);
    EXPECT_EQ(GetLastResponseText().compare(0, 4, std::to_string(c.status) + " "), 0)
        << GetLastResponseText();
    EXPECT_TRUE(log_.Contains("HTTP status " + std::to_string(c.status) + " for URL '" +
                              server_.Url(path) + "'"))
        << log_.Text();
    EXPECT_FALSE(testing_support::FileExists(target));
  }
}

}  // namespace
}  // namespace transfer_test
