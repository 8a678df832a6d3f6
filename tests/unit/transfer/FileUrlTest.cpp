// file:// URLs: copies, reads, relative names beside a local catalogue, and a
// download onto its own source.
#include <gtest/gtest.h>

#include "tests/support/Scratch.h"
#include "tests/unit/transfer/TransferTestSupport.h"
#include "transfer/TransferError.h"
#include "transfer/WinInetApi.h"

namespace transfer_test {
namespace {

using testing_support::FileExists;
using testing_support::ScratchDir;
using testing_support::WriteFileBytes;

// "C:\a\b\" -> "file://C:/a/b/"
std::string FileUrl(const std::string& path) {
  std::string url = "file://" + path;
  for (auto& c : url) {
    if (c == '\\') c = '/';
  }
  return url;
}

class FileUrls : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(BindWinInet()); }

  ScratchDir dir_{"file"};
  LogCapture log_;
};

TEST_F(FileUrls, DownloadCopiesAndReplacesAReadOnlyTarget) {
  const std::string source = dir_.Path() + "source.cab";
  const std::string target = dir_.Path() + "target.cab";
  const std::string bytes = TestBytes(10000, 5);
  ASSERT_TRUE(WriteFileBytes(source, bytes));
  ASSERT_TRUE(WriteFileBytes(target, "old"));
  ASSERT_TRUE(::SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_READONLY));
  HeldSession session("", kServiceFile, 0);
  ASSERT_TRUE(session);
  EXPECT_EQ(session->DownloadToFile(nullptr, FileUrl(source), target, false), 0u) << log_.Text();
  EXPECT_TRUE(testing_support::FileContent(target) == bytes);
  EXPECT_EQ(::GetFileAttributesA(target.c_str()) & FILE_ATTRIBUTE_READONLY, 0u);

  // A missing source fails with the system's code and a log line.
  const std::string missing = dir_.Path() + "missing.cab";
  EXPECT_EQ(session->DownloadToFile(nullptr, FileUrl(missing), target, false),
            static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(GetLastTransferError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_TRUE(log_.Contains("CopyFile failed to copy file '" + missing + "' to file '" + target +
                            "'. Error 0x02. File Ftp, Line "))
      << log_.Text();
}

// The URL may spell the destination another way (here its short name, as a
// "URL" switch written by another program may): the file is still its own
// source, and is neither deleted nor copied.
TEST_F(FileUrls, DownloadOntoItselfUnderAnotherNameKeepsTheFile) {
  const std::string folder = dir_.Path() + "Program Folder Long Name\\";
  ASSERT_TRUE(::CreateDirectoryA(folder.c_str(), nullptr));
  const std::string cabinet = folder + "PM_Install.cab";
  const std::string bytes = TestBytes(5000, 11);
  ASSERT_TRUE(WriteFileBytes(cabinet, bytes));
  char shortName[MAX_PATH] = "";
  const DWORD length = ::GetShortPathNameA(cabinet.c_str(), shortName, MAX_PATH);
  ASSERT_TRUE(length > 0 && length < MAX_PATH);
  ASSERT_NE(::lstrcmpiA(shortName, cabinet.c_str()), 0) << shortName;

  HeldSession session("", kServiceFile, 0);
  ASSERT_TRUE(session);
  EXPECT_EQ(session->DownloadToFile(nullptr, FileUrl(shortName), cabinet, false), 0u)
      << log_.Text();
  EXPECT_TRUE(testing_support::FileContent(cabinet) == bytes);
  EXPECT_EQ(session->DownloadToFile(nullptr, FileUrl(cabinet), shortName, false), 0u)
      << log_.Text();
  EXPECT_TRUE(testing_support::FileContent(cabinet) == bytes);
  EXPECT_FALSE(log_.Contains("CopyFile failed")) << log_.Text();
}

TEST_F(FileUrls, RelativeNamesAreFilesBesideTheCatalogue) {
  ScopedArguments args({"/URL:" + FileUrl(dir_.Path() + "PM_InstallQuoma.cab")});
  const std::string bytes = TestBytes(4000, 9);
  ASSERT_TRUE(WriteFileBytes(dir_.Path() + "x.cab", bytes));
  HeldSession session("", kServiceFile, 0);
  ASSERT_TRUE(session);

  std::unique_ptr<TransferFile> file = session->OpenFile(nullptr, "x.cab");
  ASSERT_NE(file, nullptr) << log_.Text();
  EXPECT_EQ(file->Available(), 4000u);
  std::string read;
  char buffer[2000];
  DWORD got = 0;
  do {
    ASSERT_TRUE(file->Read(buffer, sizeof(buffer), &got));
    read.append(buffer, got);
  } while (got != 0);
  EXPECT_TRUE(read == bytes);
  EXPECT_TRUE(file->Close());

  const std::string copy = dir_.Path() + "copy.cab";
  EXPECT_EQ(session->DownloadToFile(nullptr, "x.cab", copy, false), 0u) << log_.Text();
  EXPECT_TRUE(testing_support::FileContent(copy) == bytes);

  EXPECT_EQ(session->OpenFile(nullptr, "absent.cab"), nullptr);
  EXPECT_TRUE(log_.Contains("Failed to open file '" + dir_.Path() + "absent.cab' for reading. "
                            "Error 0x02."))
      << log_.Text();
}

}  // namespace
}  // namespace transfer_test
