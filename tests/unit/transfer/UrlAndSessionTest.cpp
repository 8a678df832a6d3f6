// URL cracking with relative names, and the connection manager's sharing.
#include <gtest/gtest.h>

#include "tests/unit/transfer/TransferTestSupport.h"
#include "transfer/CrackUrl.h"
#include "transfer/TransferError.h"
#include "transfer/WinInetApi.h"

namespace transfer_test {
namespace {

struct Cracked {
  bool ok = false;
  std::string host, path, scheme;
  WORD port = 0;
};

Cracked Crack(const std::string& url) {
  Cracked c;
  c.ok = CrackUrl(url, c.host, c.path, &c.scheme, &c.port);
  return c;
}

TEST(CrackUrl, RelativeNamesJoinTheCatalogueFolder) {
  ASSERT_TRUE(BindWinInet());
  ScopedArguments args({"/URL:http://cat.example:8080/PM50/Quoma/PM_InstallQuoma.cab"});
  struct Case {
    const char* url;
    const char* host;
    const char* path;
    const char* scheme;
    WORD port;
  } cases[] = {
      {"x.cab", "cat.example", "/PM50/Quoma/x.cab", "http", 8080},
      {"Sub/a%20b.cab", "cat.example", "/PM50/Quoma/Sub/a b.cab", "http", 8080},
      // No "tp://" in it: relative, however it looks.
      {"https://other.example/x.cab", "cat.example", "/PM50/Quoma/https://other.example/x.cab",
       "http", 8080},
      {"http://other.example/y.cab", "other.example", "/y.cab", "http", 80},
      {"ftp://files.example/z.cab", "files.example", "/z.cab", "ftp", 21},
      {"file://C:/Cabs/w.cab", "", "C:\\Cabs\\w.cab", "file", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.url);
    const Cracked got = Crack(c.url);
    ASSERT_TRUE(got.ok);
    EXPECT_EQ(got.host, c.host);
    EXPECT_EQ(got.path, c.path);
    EXPECT_EQ(got.scheme, c.scheme);
    EXPECT_EQ(got.port, c.port);
  }
}

TEST(CrackUrl, WithoutTheSwitchTheBuiltInCatalogueUrlIsTheBase) {
  ASSERT_TRUE(BindWinInet());
  ScopedArguments args({"/q"});
  const Cracked got = Crack("Devices/d.cab");
  ASSERT_TRUE(got.ok);
  EXPECT_EQ(got.host, "download.pellory.com");
  EXPECT_EQ(got.path, "/PM50/Quoma/Devices/d.cab");
  EXPECT_EQ(ServiceForScheme(got.scheme), kServiceHttp);
  EXPECT_EQ(ServiceForScheme("FTP"), kServiceFtp);
  EXPECT_EQ(ServiceForScheme("file"), kServiceFile);
}

TEST(CrackUrl, AFailureIsLoggedAndKeptAsTheLastError) {
  ASSERT_TRUE(BindWinInet());
  LogCapture log;
  SetLastTransferError(0);
  const std::string tooLong = "http://" + std::string(300, 'h') + ".example/x.cab";
  EXPECT_FALSE(Crack(tooLong).ok);
  EXPECT_NE(GetLastTransferError(), 0u);
  EXPECT_TRUE(log.Contains("Faled to crack URL '" + tooLong + "'. Error 0x0")) << log.Text();
  EXPECT_TRUE(log.Contains("File Ftp, Line ")) << log.Text();
}

TEST(ConnectionManager, OneSessionPerHostSharedByCount) {
  ASSERT_TRUE(BindWinInet());
  TransferSession* first = ConnectionManager::Acquire("shared.example", kServiceHttp, 80);
  ASSERT_NE(first, nullptr);
  // The second call's service and port are not used: the host has its session.
  TransferSession* second = ConnectionManager::Acquire("shared.example", kServiceFile, 81);
  EXPECT_EQ(second, first);
  EXPECT_EQ(ConnectionManager::Release("shared.example"), 1);
  EXPECT_EQ(ConnectionManager::Release("shared.example"), 0);
  EXPECT_EQ(ConnectionManager::Release("shared.example"), -1);
  // Host names are exact text.
  TransferSession* upper = ConnectionManager::Acquire("SHARED.example", kServiceHttp, 80);
  ASSERT_NE(upper, nullptr);
  EXPECT_EQ(ConnectionManager::Release("shared.example"), -1);
  EXPECT_EQ(ConnectionManager::Release("SHARED.example"), 0);
}

TEST(ConnectionManager, FtpGetsNoSession) {
  ASSERT_TRUE(BindWinInet());
  LogCapture log;
  SetLastTransferError(0);
  EXPECT_EQ(ConnectionManager::Acquire("files.example", kServiceFtp, 21), nullptr);
  EXPECT_EQ(GetLastTransferError(), static_cast<DWORD>(ERROR_INTERNET_UNRECOGNIZED_SCHEME));
  EXPECT_TRUE(log.Contains("FTP is not supported: no session for the server 'files.example'"))
      << log.Text();
  EXPECT_EQ(ConnectionManager::Release("files.example"), -1);
}

}  // namespace
}  // namespace transfer_test
