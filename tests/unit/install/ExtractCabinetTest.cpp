// ExtractCabinet and CheckCabinet on real files in the test's prefix.
#include "install/ExtractCabinet.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "install/TempFileList.h"
#include "install/cab/Cabinet.h"
#include "tests/support/CapturedLog.h"
#include "tests/support/Scratch.h"
#include "tests/unit/cab/CabTestSupport.h"

namespace {

using namespace testing_support;

// A reference cabinet (tests/data/cabinets), and where its first CFFILE
// entry starts (no reserve areas).
std::string ReadCabinet(const std::string& name) {
  std::string bytes;
  EXPECT_TRUE(ReadFileBytes(WinePath(TESTDATA_UNIX) + "\\cabinets\\" + name, bytes)) << name;
  return bytes;
}
uint32_t FirstFileEntry(const std::string& cabinet) {
  uint32_t offset = 0;
  if (cabinet.size() >= 20) std::memcpy(&offset, cabinet.data() + 16, 4);  // coffFiles
  return offset;
}

// One stored member "<text>.txt" holding `text`, in a cabinet of a set.
std::string SetCabinet(const std::string& text, uint16_t flags, const std::string& other,
                       uint16_t setId, uint16_t index) {
  cabtest::BuildCabinet c;
  c.flags = flags;
  (flags == cab::kFlagNextCabinet ? c.next : c.prev) = other;
  c.setId = setId;
  c.index = index;
  c.folders.push_back({0, {{cabtest::Bytes(text.begin(), text.end()),
                            static_cast<uint16_t>(text.size())}}});
  c.files.push_back({text + ".txt", static_cast<uint32_t>(text.size()), 0, 0});
  const cabtest::Bytes bytes = cabtest::Build(c);
  return std::string(bytes.begin(), bytes.end());
}

class Extraction : public ::testing::Test {
 protected:
  std::string Place(const std::string& name, const std::string& bytes) {
    EXPECT_TRUE(WriteFileBytes(dir_.Path() + name, bytes));
    return dir_.Path() + name;
  }
  void TearDown() override { TheTempFileList().DeleteAll(); }

  ScratchDir dir_{"cab"};
};

// Members come out writable, dated as stored, listed for deletion; a second
// extraction overwrites them.
TEST_F(Extraction, MembersLandBesideTheCabinetAsNormalListedFiles) {
  std::string cab = ReadCabinet("simple.cab");
  cab[FirstFileEntry(cab) + 14] = 0x01;  // hello.c read-only: it must come out writable
  const std::string path = Place("simple.cab", cab), hello = dir_.Path() + "hello.c";
  ASSERT_EQ(ExtractCabinet(path, nullptr), 1);
  EXPECT_EQ(::GetFileAttributesA(hello.c_str()) & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN),
            0u);
  EXPECT_TRUE(TheTempFileList().Contains(hello));
  EXPECT_TRUE(TheTempFileList().Contains(dir_.Path() + "welcome.c"));
  // The stored DOS time is local time.
  WIN32_FILE_ATTRIBUTE_DATA data;
  FILETIME local;
  WORD date = 0, time = 0;
  ASSERT_TRUE(::GetFileAttributesExA(hello.c_str(), GetFileExInfoStandard, &data));
  ASSERT_TRUE(::FileTimeToLocalFileTime(&data.ftLastWriteTime, &local) &&
              ::FileTimeToDosDateTime(&local, &date, &time));
  EXPECT_EQ(date, (1997 - 1980) << 9 | 3 << 5 | 12);
  EXPECT_EQ(time, 11 << 11 | 13 << 5 | 52 / 2);
  ASSERT_TRUE(WriteFileBytes(hello, "changed since"));
  ASSERT_EQ(ExtractCabinet(path, nullptr), 1);
  EXPECT_EQ(FileContent(hello).size(), 77u);

}

// A name that climbs out stops the extraction unwritten (which names are
// unsafe is the member-name table of the cabinet tests); so does damaged
// data, and the member it hit is removed, not left half written.
TEST_F(Extraction, UnsafeNamesAndDamagedDataStopTheExtraction) {
  std::string cab = ReadCabinet("simple.cab");
  const uint32_t entry = FirstFileEntry(cab);
  ASSERT_EQ(cab.compare(entry + 16, 7, "hello.c"), 0);
  cab.replace(entry + 16, 7, "..\\xy.c");
  ScratchDir inner("inner");
  ASSERT_TRUE(WriteFileBytes(inner.Path() + "simple.cab", cab));
  {
    CapturedLog log;
    EXPECT_EQ(ExtractCabinet(inner.Path() + "simple.cab", nullptr), 0);
    EXPECT_TRUE(log.Contains("Refusing to extract")) << log.Text();
  }
  EXPECT_FALSE(FileExists(inner.Path() + "..\\xy.c"));
  EXPECT_FALSE(FileExists(inner.Path() + "welcome.c")) << "the extraction stops there";

  // normal_2files_2folders.cab: a byte flipped in the last data block.
  cab = ReadCabinet("normal_2files_2folders.cab");
  cab[cab.size() - 3] ^= 0x55;
  CapturedLog log;
  EXPECT_EQ(ExtractCabinet(Place("damaged.cab", cab), nullptr), 0);
  EXPECT_TRUE(log.Contains("FDICopy() failed: code "));
  for (const char* done : {"mszip1.txt", "mszip2.txt"})
    EXPECT_TRUE(TheTempFileList().Contains(dir_.Path() + done)) << done;
  // Closed (an open handle would keep it), removed and logged; the member
  // after it never began.
  const std::string half = dir_.Path() + "lzx1.txt";
  EXPECT_FALSE(FileExists(half));
  EXPECT_FALSE(TheTempFileList().Contains(half));
  EXPECT_TRUE(log.Has("Removed '" + half + "': it was not extracted completely.")) << log.Text();
  EXPECT_FALSE(FileExists(dir_.Path() + "lzx2.txt"));
}

// What the log and the user learn about a download that is no cabinet: its
// size and its first 64 KiB at most as text (an error page shows itself),
// or that it is missing.
TEST_F(Extraction, FilesThatAreNoCabinetAreDiagnosed) {
  const std::string big = Place("big.cab", std::string(100 * 1024, 'A'));
  const std::string missing = dir_.Path() + "missing.cab";
  for (const std::string& path : {big, missing}) {
    CapturedLog log;
    EXPECT_EQ(ExtractCabinet(path, nullptr), 0);
    ::SetLastError(ERROR_FILE_NOT_FOUND);  // as a failed extraction of a missing file leaves it
    const std::string message = CheckCabinet(path);
    if (path == big) {
      EXPECT_EQ(message, "The cabinet file " + big + " contained corrupted data.");
      EXPECT_TRUE(log.Contains("Corrupted data\n\n" + std::string(64 * 1024, 'A') + "\n\n."));
    } else {
      EXPECT_EQ(message, "The cabinet file '" + missing + "' cannot be found.");
      EXPECT_TRUE(log.Has("Failed to extract files from cabinet file '" + missing + "'. Error 2."));
    }
  }
}

// A set is followed to its next cabinet only when that one is the next of
// the same set and lies beside the first; a stranger is refused before any
// of its members is written.
TEST_F(Extraction, CabinetSetsAreFollowedOnlyToTheirOwnNextCabinet) {
  const uint16_t ours = cabtest::BuildCabinet().setId;
  const struct {
    uint16_t setId, index;
    const char* next;  // the name in the first header, relative to the first
    const char* logged;
  } cases[] = {
      {ours, 1, "set2.cab", nullptr},
      {static_cast<uint16_t>(ours + 1), 1, "set2.cab", "FDICopy() failed: code 10 ["},
      {ours, 2, "set2.cab", "FDICopy() failed: code 10 ["},
      {ours, 1, "..\\set2.cab",
       "Refusing the next cabinet '..\\set2.cab': the name leaves the cabinet's folder."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.next + std::to_string(c.setId) + "/" + std::to_string(c.index));
    ScratchDir set("set");
    const std::string second = set.Path() + c.next;
    ASSERT_TRUE(WriteFileBytes(set.Path() + "set1.cab",
                               SetCabinet("first", cab::kFlagNextCabinet, c.next, ours, 0)));
    ASSERT_TRUE(WriteFileBytes(second, SetCabinet("second", cab::kFlagPrevCabinet, "set1.cab",
                                                  c.setId, c.index)));
    CapturedLog log;
    EXPECT_EQ(ExtractCabinet(set.Path() + "set1.cab", nullptr), c.logged ? 0 : 1);
    ::DeleteFileA(second.c_str());
    EXPECT_TRUE(!c.logged || log.Contains(c.logged)) << log.Text();
    EXPECT_EQ(FileContent(set.Path() + "first.txt"), "first");
    EXPECT_EQ(FileContent(set.Path() + "second.txt"), c.logged ? "<missing>" : "second");
    EXPECT_EQ(TheTempFileList().Contains(set.Path() + "second.txt"), !c.logged);
    TheTempFileList().DeleteAll();
  }
}

}  // namespace
