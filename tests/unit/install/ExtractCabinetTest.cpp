// ExtractCabinet and CheckCabinet on real files in the test's prefix.
#include "install/ExtractCabinet.h"

#include <gtest/gtest.h>

#include <cstdio>
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
  void TearDown() override { TheTempFileList().DeleteAll(); }

  ScratchDir dir_{"cab"};
};

// Members come out writable, dated as stored, listed for deletion, shown in
// the status window; a second extraction overwrites them.
TEST_F(Extraction, MembersLandBesideTheCabinetAsNormalListedFiles) {
  std::string cab = cabtest::ReadCabinet("simple.cab");
  cab[cabtest::FirstFileEntry(cab) + 14] = 0x01;  // a read-only member must come out writable
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
    // No attribute kept (Wine shows plain files as "archive").
    const DWORD attributes = ::GetFileAttributesA(target.c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
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
  SYSTEMTIME when = {};
  ASSERT_TRUE(::GetFileTime(file, &created, nullptr, &written));
  ::CloseHandle(file);
  ASSERT_TRUE(::FileTimeToLocalFileTime(&written, &local) && ::FileTimeToSystemTime(&local, &when));
  char stamp[32];
  std::snprintf(stamp, sizeof(stamp), "%04u-%02u-%02u %02u:%02u", when.wYear, when.wMonth, when.wDay,
                when.wHour, when.wMinute);
  EXPECT_STREQ(stamp, "1997-03-12 11:13");
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
    EXPECT_TRUE(log.Contains("FDICopy() failed: code 11")) << log.Text();
  }
  for (const char* folder : {"1", "1\\2", "1\\2\\3"})
    ASSERT_TRUE(::CreateDirectoryA((dir_.Path() + folder).c_str(), nullptr));
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
    // simple.cab with its first member's name (7 bytes, "hello.c") replaced.
    std::string cab = cabtest::ReadCabinet("simple.cab");
    const uint32_t entry = cabtest::FirstFileEntry(cab);
    ASSERT_EQ(cab.compare(entry + 16, 7, "hello.c"), 0);
    cab.replace(entry + 16, 7, name);
    const std::string path = inner.Path() + "simple.cab";
    ASSERT_TRUE(WriteFileBytes(path, cab));
    CapturedLog log;
    EXPECT_EQ(ExtractCabinet(path, nullptr), 0);
    EXPECT_TRUE(log.Contains("Refusing to extract")) << log.Text();
    EXPECT_FALSE(FileExists(inner.Path() + "..\\xy.c"));
    EXPECT_FALSE(FileExists("C:\\ab.c"));
    EXPECT_FALSE(FileExists(inner.Path() + "welcome.c")) << "the extraction stops there";
  }
}

TEST_F(Extraction, DamagedDataFailsAndKeepsWhatWasWritten) {
  // normal_2files_2folders.cab: flip a byte in the last data block.
  std::string cab = cabtest::ReadCabinet("normal_2files_2folders.cab");
  cab[cab.size() - 3] ^= 0x55;
  const std::string path = Place("damaged.cab", cab);
  CapturedLog log;
  EXPECT_EQ(ExtractCabinet(path, nullptr), 0);
  EXPECT_TRUE(log.Contains("FDICopy() failed: code "));
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
  EXPECT_TRUE(log.Has("Removed '" + half + "': it was not extracted completely.")) << log.Text();
  EXPECT_FALSE(FileExists(dir_.Path() + "lzx2.txt"));
}

// What the log and the user learn about a download that is no cabinet: its
// size, its first 64 KiB at most as text (an error page shows itself).
TEST_F(Extraction, FilesThatAreNoCabinetAreDiagnosed) {
  const std::string page = "<html><body>404 Not Found</body></html>";
  const std::string html = Place("PM_Install.cab", page), empty = Place("empty.cab", "");
  const std::string big = Place("big.cab", std::string(100 * 1024, 'A'));
  const std::string missing = dir_.Path() + "missing.cab", huge = dir_.Path() + "huge.cab";
  {
    // A sparse file of 4 GiB less one byte: the size's low word is 0xFFFFFFFF.
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
  const auto corrupted = [](const std::string& p) {
    return "The cabinet file " + p + " contained corrupted data.";
  };
  const auto dump = [](const std::string& t) { return "Corrupted data\n\n" + t + "\n\n.\r\n"; };
  struct Case {
    std::string path, message;
    std::vector<std::string> logged;
    std::string notLogged;  // "": nothing to rule out
  } cases[] = {
      {html, corrupted(html),
       {"FDIIsCabinet() failed: '" + html + "' is not a cabinet\n\r\n",
        "The cabinet file '" + html + "' size 39 bytes.", dump(page)}, ""},
      {empty, "The cabinet file " + empty + " is corrupted.", {"size 0 bytes."}, "Corrupted data"},
      {big, corrupted(big), {dump(std::string(64 * 1024, 'A'))}, std::string(64 * 1024 + 1, 'A')},
      {huge, corrupted(huge), {dump("<html>")}, ""},
      {missing, "The cabinet file '" + missing + "' cannot be found.",
       {"Unable to open '" + missing + "' for input\n",
        "Failed to extract files from cabinet file '" + missing + "'. Error 2."}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    CapturedLog log;
    EXPECT_EQ(ExtractCabinet(c.path, nullptr), 0);
    ::SetLastError(ERROR_FILE_NOT_FOUND);  // as a failed extraction of a missing file leaves it
    EXPECT_EQ(CheckCabinet(c.path), c.message);
    const std::string text = log.Text();
    for (const auto& l : c.logged) EXPECT_NE(text.find(l), std::string::npos) << l;
    EXPECT_TRUE(c.notLogged.empty() || text.find(c.notLogged) == std::string::npos);
    EXPECT_LT(text.size(), 70u * 1024);
  }
  ::DeleteFileA(huge.c_str());
}

// A set is followed to its next cabinet only when that one is there, beside
// the first, and belongs to the set; a stranger is refused before any of its
// members is written.
TEST_F(Extraction, CabinetSetsAreFollowedOnlyToTheirOwnNextCabinet) {
  const uint16_t ours = cabtest::BuildCabinet().setId;
  const char* const kOut =
      "Refusing the next cabinet '..\\set2.cab': the name leaves the cabinet's folder.";
  struct Case {
    const char* what;
    uint16_t setId, index;
    const char* next;   // the name in the first header
    const char* where;  // where set2.cab lies, relative to the first; null: nowhere
    const char* logged;
  } cases[] = {
      {"the set", ours, 1, "set2.cab", "", nullptr},
      {"another set id", static_cast<uint16_t>(ours + 1), 1, "set2.cab", "",
       "FDICopy() failed: code 10 ["},
      {"index out of order", ours, 3, "set2.cab", "", "FDICopy() failed: code 10 ["},
      {"next cabinet missing", ours, 1, "set2.cab", nullptr, "FDICopy() failed: code 1 ["},
      {"name leaving the folder", ours, 1, "..\\set2.cab", "..\\", kOut},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir set("set");
    const auto cabinets = TwoCabinetSet(c.setId, c.index, c.next);
    ASSERT_TRUE(WriteFileBytes(set.Path() + "set1.cab", cabinets.first));
    const std::string second = c.where ? set.Path() + c.where + "set2.cab" : "";
    ASSERT_TRUE(!c.where || WriteFileBytes(second, cabinets.second));
    CapturedLog log;
    EXPECT_EQ(ExtractCabinet(set.Path() + "set1.cab", nullptr), c.logged ? 0 : 1);
    if (c.where) ::DeleteFileA(second.c_str());
    EXPECT_TRUE(!c.logged || log.Contains(c.logged)) << log.Text();
    std::string first, other;
    EXPECT_TRUE(ReadFileBytes(set.Path() + "first.txt", first) && first == "in the first cabinet");
    EXPECT_EQ(ReadFileBytes(set.Path() + "second.txt", other) && other == "in the second cabinet",
              !c.logged);
    EXPECT_EQ(TheTempFileList().Contains(set.Path() + "second.txt"), !c.logged);
    TheTempFileList().DeleteAll();
  }
}

}  // namespace
