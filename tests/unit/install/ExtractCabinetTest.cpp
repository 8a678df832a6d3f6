// ExtractCabinet and CheckCabinet on real files in the test's prefix.
#include "install/ExtractCabinet.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "core/Log.h"
#include "install/TempFileList.h"
#include "install/cab/Cabinet.h"
#include "tests/support/CapturedLog.h"
#include "tests/support/Scratch.h"
#include "tests/unit/cab/CabTestSupport.h"
#include "tests/unit/install/CabinetFixtures.h"

namespace {

using testing_support::FileExists;
using testing_support::ReadFileBytes;
using testing_support::ScratchDir;
using testing_support::WriteFileBytes;

using testing_support::CapturedLog;

// A set of two cabinets whose members do not cross the cut: each copy call
// gives only its own cabinet's members, so the set needs one call per
// cabinet. `secondSetId` and `secondIndex` make the second one a stranger.
std::pair<std::string, std::string> TwoCabinetSet(uint16_t secondSetId, uint16_t secondIndex,
                                                  const char* nextName = "set2.cab") {
  auto cabinet = [](const char* member, const std::string& data) {
    cabtest::BuildCabinet c;
    c.folders.push_back({0, {{cabtest::Bytes(data.begin(), data.end()),
                              static_cast<uint16_t>(data.size())}}});
    c.files.push_back({member, static_cast<uint32_t>(data.size()), 0, 0});
    return c;
  };
  cabtest::BuildCabinet first = cabinet("first.txt", "in the first cabinet");
  first.flags = cab::kFlagNextCabinet;
  first.next = nextName;
  first.nextDisk = "disk 2";
  cabtest::BuildCabinet second = cabinet("second.txt", "in the second cabinet");
  second.flags = cab::kFlagPrevCabinet;
  second.prev = "set1.cab";
  second.prevDisk = "disk 1";
  second.setId = secondSetId;
  second.index = secondIndex;
  const cabtest::Bytes a = cabtest::Build(first), b = cabtest::Build(second);
  return {std::string(a.begin(), a.end()), std::string(b.begin(), b.end())};
}

class Extraction : public ::testing::Test {
 protected:
  // Puts a reference cabinet (optionally changed) into the scratch folder.
  std::string Place(const std::string& name, const std::string& bytes) {
    const std::string path = dir_.Path() + name;
    EXPECT_TRUE(WriteFileBytes(path, bytes));
    return path;
  }
  // simple.cab with its first member's name (7 bytes, "hello.c") replaced.
  std::string SimpleWithFirstName(const std::string& name) {
    std::string cab = cabtest::ReadCabinet("simple.cab");
    const uint32_t entry = cabtest::FirstFileEntry(cab);
    EXPECT_EQ(cab.compare(entry + 16, 7, "hello.c"), 0);
    EXPECT_EQ(name.size(), 7u);
    cab.replace(entry + 16, 7, name);
    return cab;
  }
  void TearDown() override { TheTempFileList().DeleteAll(); }

  ScratchDir dir_{"cab"};
};

// Members come out writable, dated as stored, listed for deletion, shown in
// the status window; a second extraction overwrites them.
TEST_F(Extraction, MembersLandBesideTheCabinetAsNormalListedFiles) {
  std::string cab = cabtest::ReadCabinet("simple.cab");
  // Mark the first member read-only: it must come out writable.
  const uint32_t entry = cabtest::FirstFileEntry(cab);
  cab[entry + 14] = 0x01;
  const std::string path = Place("simple.cab", cab);
  HWND window = ::CreateWindowA("STATIC", "", WS_POPUP, 0, 0, 400, 20, nullptr, nullptr, nullptr,
                                nullptr);
  ASSERT_NE(window, nullptr);
  ASSERT_EQ(ExtractCabinet(path, window), 1);
  char text[MAX_PATH] = "";
  ::GetWindowTextA(window, text, sizeof(text));
  ::DestroyWindow(window);
  EXPECT_EQ(std::string(text), dir_.Path() + "welcome.c");  // the last member shown

  for (const char* member : {"hello.c", "welcome.c"}) {
    SCOPED_TRACE(member);
    const std::string target = dir_.Path() + member;
    ASSERT_TRUE(FileExists(target));
    // No attribute kept (Wine shows plain files as "archive").
    const DWORD attributes = ::GetFileAttributesA(target.c_str());
    EXPECT_EQ(attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM),
              0u);
    EXPECT_TRUE(TheTempFileList().Contains(target));
  }
  std::string hello;
  ASSERT_TRUE(ReadFileBytes(dir_.Path() + "hello.c", hello));
  EXPECT_EQ(hello.size(), 77u);
  EXPECT_NE(hello.find("main"), std::string::npos);

  // The stored DOS time 1997-03-12 11:13:52 is local time.
  HANDLE file = ::CreateFileA((dir_.Path() + "hello.c").c_str(), GENERIC_READ, FILE_SHARE_READ,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  FILETIME created, written, local;
  ASSERT_TRUE(::GetFileTime(file, &created, nullptr, &written));
  ::CloseHandle(file);
  ASSERT_TRUE(::FileTimeToLocalFileTime(&written, &local));
  SYSTEMTIME when;
  ASSERT_TRUE(::FileTimeToSystemTime(&local, &when));
  EXPECT_EQ(when.wYear, 1997);
  EXPECT_EQ(when.wMonth, 3);
  EXPECT_EQ(when.wDay, 12);
  EXPECT_EQ(when.wHour, 11);
  EXPECT_EQ(when.wMinute, 13);
  EXPECT_EQ(::CompareFileTime(&created, &written), 0);

  ASSERT_TRUE(WriteFileBytes(dir_.Path() + "hello.c", "changed since"));
  ASSERT_EQ(ExtractCabinet(path, nullptr), 1);
  ASSERT_TRUE(ReadFileBytes(dir_.Path() + "hello.c", hello));
  EXPECT_EQ(hello.size(), 77u);
}

TEST_F(Extraction, MemberFoldersMustAlreadyExist) {
  const std::string path = Place("dir.cab", cabtest::ReadCabinet("dir.cab"));
  {
    CapturedLog log;
    EXPECT_EQ(ExtractCabinet(path, nullptr), 0);
    EXPECT_NE(log.Text().find("FDICopy() failed: code 11"), std::string::npos) << log.Text();
  }
  ASSERT_TRUE(::CreateDirectoryA((dir_.Path() + "1").c_str(), nullptr));
  ASSERT_TRUE(::CreateDirectoryA((dir_.Path() + "1\\2").c_str(), nullptr));
  ASSERT_TRUE(::CreateDirectoryA((dir_.Path() + "1\\2\\3").c_str(), nullptr));
  EXPECT_EQ(ExtractCabinet(path, nullptr), 1);
  EXPECT_TRUE(FileExists(dir_.Path() + "1\\2\\3\\4.c"));
  EXPECT_TRUE(FileExists(dir_.Path() + "plain.c"));
}

// Which names are unsafe is the member-name table of the cabinet tests; here
// a climbing and an absolute name must stop the extraction unwritten.
TEST_F(Extraction, UnsafeMemberNamesAreNeverWritten) {
  for (const char* name : {"..\\xy.c", "C:\\ab.c"}) {
    SCOPED_TRACE(name);
    ScratchDir inner("inner");
    const std::string path = inner.Path() + "simple.cab";
    ASSERT_TRUE(WriteFileBytes(path, SimpleWithFirstName(name)));
    CapturedLog log;
    EXPECT_EQ(ExtractCabinet(path, nullptr), 0);
    EXPECT_NE(log.Text().find("Refusing to extract"), std::string::npos) << log.Text();
    EXPECT_FALSE(FileExists(inner.Path() + "..\\xy.c"));
    EXPECT_FALSE(FileExists("C:\\ab.c"));
    EXPECT_FALSE(FileExists(inner.Path() + "welcome.c")) << "the extraction stops there";
  }
}

TEST_F(Extraction, NotACabinetIsDiagnosedWithItsContentInTheLog) {
  const std::string page = "<html><body>404 Not Found</body></html>";
  const std::string path = Place("PM_Install.cab", page);
  CapturedLog log;
  EXPECT_EQ(ExtractCabinet(path, nullptr), 0);
  EXPECT_NE(log.Text().find("FDIIsCabinet() failed: '" + path + "' is not a cabinet\n\r\n"),
            std::string::npos)
      << log.Text();
  const std::string message = CheckCabinet(path);
  EXPECT_EQ(message, "The cabinet file " + path + " contained corrupted data.");
  EXPECT_NE(log.Text().find("The cabinet file '" + path + "' size 39 bytes."), std::string::npos);
  EXPECT_NE(log.Text().find("Corrupted data\n\n" + page + "\n\n.\r\n"), std::string::npos)
      << log.Text();
}

TEST_F(Extraction, EmptyAndMissingCabinets) {
  const std::string empty = Place("empty.cab", "");
  CapturedLog log;
  EXPECT_EQ(ExtractCabinet(empty, nullptr), 0);
  EXPECT_EQ(CheckCabinet(empty), "The cabinet file " + empty + " is corrupted.");
  EXPECT_NE(log.Text().find("size 0 bytes."), std::string::npos);
  EXPECT_EQ(log.Text().find("Corrupted data"), std::string::npos) << "nothing to dump";

  const std::string missing = dir_.Path() + "missing.cab";
  EXPECT_EQ(ExtractCabinet(missing, nullptr), 0);
  EXPECT_NE(log.Text().find("Unable to open '" + missing + "' for input\n"), std::string::npos);
  ::SetLastError(ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(CheckCabinet(missing), "The cabinet file '" + missing + "' cannot be found.");
  EXPECT_NE(log.Text().find("Failed to extract files from cabinet file '" + missing +
                          "'. Error 2."),
            std::string::npos);
}

TEST_F(Extraction, DamagedDataFailsAndKeepsWhatWasWritten) {
  // normal_2files_2folders.cab: flip a byte in the last data block.
  std::string cab = cabtest::ReadCabinet("normal_2files_2folders.cab");
  cab[cab.size() - 3] ^= 0x55;
  const std::string path = Place("damaged.cab", cab);
  CapturedLog log;
  EXPECT_EQ(ExtractCabinet(path, nullptr), 0);
  EXPECT_NE(log.Text().find("FDICopy() failed: code "), std::string::npos);
  for (const char* done : {"mszip1.txt", "mszip2.txt"}) {
    SCOPED_TRACE(done);
    EXPECT_TRUE(FileExists(dir_.Path() + done)) << "members before the damage stay";
    EXPECT_TRUE(TheTempFileList().Contains(dir_.Path() + done));
  }
  // The member the damage hit was opened but never finished: closed, removed
  // (an open handle would keep it) and logged; the one after it never began.
  const std::string half = dir_.Path() + "lzx1.txt";
  EXPECT_FALSE(FileExists(half));
  EXPECT_FALSE(TheTempFileList().Contains(half));
  EXPECT_NE(log.Text().find("Removed '" + half + "': it was not extracted completely."),
            std::string::npos)
      << log.Text();
  EXPECT_FALSE(FileExists(dir_.Path() + "lzx2.txt"));
}

TEST_F(Extraction, CheckCabinetDumpsAtMostTheFirst64KiB) {
  CapturedLog log;
  const std::string path = Place("big.cab", std::string(100 * 1024, 'A'));
  EXPECT_EQ(CheckCabinet(path), "The cabinet file " + path + " contained corrupted data.");
  EXPECT_NE(log.Text().find("Corrupted data\n\n" + std::string(64 * 1024, 'A') + "\n\n.\r\n"),
            std::string::npos);
  EXPECT_EQ(log.Text().find(std::string(64 * 1024 + 1, 'A')), std::string::npos);

  // A (sparse) file of 4 GiB less one byte: the size's low word is 0xFFFFFFFF.
  const std::string huge = dir_.Path() + "huge.cab";
  {
    HANDLE file = ::CreateFileA(huge.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    ::WriteFile(file, "<html>", 6, &written, nullptr);
    LONG high = 0;
    ::SetFilePointer(file, static_cast<LONG>(0xFFFFFFFFu), &high, FILE_BEGIN);
    const BOOL sized = ::SetEndOfFile(file);
    ::CloseHandle(file);
    ASSERT_TRUE(sized);
  }
  log.Text().clear();
  EXPECT_EQ(CheckCabinet(huge), "The cabinet file " + huge + " contained corrupted data.");
  EXPECT_NE(log.Text().find("Corrupted data\n\n<html>\n\n.\r\n"), std::string::npos);
  EXPECT_LT(log.Text().size(), 70u * 1024);
  ::DeleteFileA(huge.c_str());
}

TEST_F(Extraction, CabinetSetIsUnpackedCabinetByCabinet) {
  const auto set = TwoCabinetSet(cabtest::BuildCabinet().setId, 1);
  const std::string path = Place("set1.cab", set.first);
  Place("set2.cab", set.second);
  ASSERT_EQ(ExtractCabinet(path, nullptr), 1);
  std::string first, second;
  ASSERT_TRUE(ReadFileBytes(dir_.Path() + "first.txt", first));
  ASSERT_TRUE(ReadFileBytes(dir_.Path() + "second.txt", second));
  EXPECT_EQ(first, "in the first cabinet");
  EXPECT_EQ(second, "in the second cabinet");
  EXPECT_TRUE(TheTempFileList().Contains(dir_.Path() + "second.txt"));
}

TEST_F(Extraction, NextCabinetOfAnotherSetOrPlaceFails) {
  struct Case {
    const char* what;
    uint16_t setId, index;
  };
  const uint16_t ours = cabtest::BuildCabinet().setId;
  for (const Case& c : {Case{"another set id", static_cast<uint16_t>(ours + 1), 1},
                        Case{"index out of order", ours, 3}}) {
    SCOPED_TRACE(c.what);
    const auto set = TwoCabinetSet(c.setId, c.index);
    const std::string path = Place("set1.cab", set.first);
    Place("set2.cab", set.second);
    CapturedLog log;
    EXPECT_EQ(ExtractCabinet(path, nullptr), 0);
    EXPECT_NE(log.Text().find("FDICopy() failed: code 10 ["), std::string::npos) << log.Text();
    // Refused before any member of the stranger was written.
    EXPECT_FALSE(FileExists(dir_.Path() + "second.txt"));
    EXPECT_FALSE(TheTempFileList().Contains(dir_.Path() + "second.txt"));
    TheTempFileList().DeleteAll();
  }
  // Without its next cabinet the set is not complete either.
  const auto set = TwoCabinetSet(ours, 1);
  const std::string path = Place("set1.cab", set.first);
  ::DeleteFileA((dir_.Path() + "set2.cab").c_str());
  CapturedLog log;
  EXPECT_EQ(ExtractCabinet(path, nullptr), 0);
  EXPECT_NE(log.Text().find("FDICopy() failed: code 1 ["), std::string::npos) << log.Text();
}

TEST_F(Extraction, NextCabinetNameMustStayInTheFolder) {
  // The next cabinet waits one folder up, where the header's name points.
  std::string parent = dir_.Path();
  parent.erase(parent.find_last_of('\\', parent.size() - 2) + 1);
  const auto set = TwoCabinetSet(cabtest::BuildCabinet().setId, 1, "..\\set2.cab");
  const std::string path = Place("set1.cab", set.first);
  const std::string outside = parent + "set2.cab";
  ASSERT_TRUE(WriteFileBytes(outside, set.second));
  CapturedLog log;
  EXPECT_EQ(ExtractCabinet(path, nullptr), 0);
  ::DeleteFileA(outside.c_str());
  EXPECT_NE(log.Text().find("Refusing the next cabinet '..\\set2.cab': the name leaves the "
                          "cabinet's folder."),
            std::string::npos)
      << log.Text();
  EXPECT_TRUE(FileExists(dir_.Path() + "first.txt"));
  EXPECT_FALSE(FileExists(dir_.Path() + "second.txt"));
}

}  // namespace
