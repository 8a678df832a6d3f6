#include "core/Locations.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <vector>

#include "core/Log.h"
#include "frame/RegKey.h"
#include "tests/support/CapturedLog.h"
#include "tests/support/Scratch.h"

namespace {

using testing_support::DirExists;
using testing_support::RegDeleteTree;
using testing_support::RegWriteString;
using testing_support::ScratchDir;

using testing_support::CapturedLog;

class Locations : public ::testing::Test {
 protected:
  void SetUp() override { RegDeleteTree(HKEY_LOCAL_MACHINE, kPelloryKey); }
  void TearDown() override {
    RegDeleteTree(HKEY_LOCAL_MACHINE, kPelloryKey);
    RegDeleteTree(HKEY_LOCAL_MACHINE, "Software\\Pellory\\Upgrade");
  }
};

using Lines = std::vector<std::string>;

TEST_F(Locations, FoldersFromTheRegistryEndWithOneBackslash) {
  RegWriteString(HKEY_LOCAL_MACHINE, kPelloryKey, "PelloryAppDir", "C:\\Program Files\\App");
  RegWriteString(HKEY_LOCAL_MACHINE, kPelloryKey, "PelloryProgramsDir", "D:\\Audio\\");
  EXPECT_EQ(GetAppDir(), "C:\\Program Files\\App\\");
  EXPECT_EQ(GetProgramsDir(), "D:\\Audio\\");
  RegWriteString(HKEY_LOCAL_MACHINE, kPelloryKey, "PelloryAppDir", "\\\\server\\share\\Inst");
  EXPECT_EQ(GetAppDir(), "\\\\server\\share\\Inst\\");
}

// No folder, each with its one log line: a missing key or value, a value
// longer than the 260-character buffer, a folder that is empty, relative or a
// root.
TEST_F(Locations, NoUsableFolderIsLoggedAndEmpty) {
  {
    CapturedLog log;
    EXPECT_EQ(GetAppDir(), "");
    EXPECT_EQ(log.lines, Lines{"Failed to open the registry key 'SOFTWARE\\Pellory'. Error 0x02"});
  }
  RegWriteString(HKEY_LOCAL_MACHINE, kPelloryKey, "Other", "x");
  {
    CapturedLog log;
    EXPECT_EQ(GetProgramsDir(), "");
    EXPECT_EQ(log.lines,
              Lines{"Failed to query the registry entry 'PelloryProgramsDir'. Error 0x02"});
  }
  RegWriteString(HKEY_LOCAL_MACHINE, kPelloryKey, "PelloryAppDir", "C:\\" + std::string(300, 'a'));
  {
    CapturedLog log;
    EXPECT_EQ(GetAppDir(), "");
    EXPECT_EQ(log.lines, Lines{"Failed to query the registry entry 'PelloryAppDir'. Error 0x0ea"});
  }
  for (const char* value : {"", "\\", "C:", "C:\\", "C:\\\\", "Inst", "..\\Inst", "C:Inst",
                            "\\\\server", "\\\\server\\share", "\\\\server\\share\\"}) {
    SCOPED_TRACE(value);
    RegWriteString(HKEY_LOCAL_MACHINE, kPelloryKey, "PelloryAppDir", value);
    CapturedLog log;
    EXPECT_EQ(GetAppDir(), "");
    EXPECT_EQ(log.lines, Lines{std::string("The registry entry 'PelloryAppDir' does not name a "
                                           "folder below a drive: '") + value + "'"});
  }
}

TEST_F(Locations, TempFileNamesAreNewFilesWithThePrefix) {
  const std::string a = MakeTempFileName();
  const std::string b = MakeTempFileName();
  ASSERT_FALSE(a.empty());
  EXPECT_NE(a, b);
  EXPECT_TRUE(testing_support::FileExists(a));
  EXPECT_NE(a.find("\\PGF"), std::string::npos);
  ::DeleteFileA(a.c_str());
  ::DeleteFileA(b.c_str());
}

TEST_F(Locations, CreateDirectoryPathMakesOnlyFoldersFollowedByABackslash) {
  ScratchDir dir;
  const std::string base = dir.Path();
  ASSERT_TRUE(CreateDirectoryPath(base + "a\\b\\c"));
  EXPECT_TRUE(DirExists(base + "a"));
  EXPECT_TRUE(DirExists(base + "a\\b"));
  EXPECT_FALSE(DirExists(base + "a\\b\\c"));
  ASSERT_TRUE(CreateDirectoryPath(base + "a\\b\\c\\"));  // existing ones are fine
  EXPECT_TRUE(DirExists(base + "a\\b\\c"));
  // A file where a folder should be stops the walk with failure.
  ASSERT_TRUE(testing_support::WriteFileBytes(base + "file", "x"));
  EXPECT_FALSE(CreateDirectoryPath(base + "file\\sub\\"));
  // A UNC path: the "\\server\share\" part is skipped, the folders after it made.
  ASSERT_TRUE(CreateDirectoryPath("\\\\.\\" + base + "unc\\d\\"));
  EXPECT_TRUE(DirExists(base + "unc\\d"));
}

// Values written and read back, and the default for a missing one, are the
// end-to-end Setup and stalling-server runs' (recorded component versions).
TEST_F(Locations, UpgradeValueFailuresAreLogged) {
  CapturedLog log;
  // Key names longer than the registry allows cannot be created.
  EXPECT_NE(WriteUpgradeValue(std::string(300, 'k') + "\\" + std::string(300, 'k'), "v", "x"),
            ERROR_SUCCESS);
  ASSERT_EQ(log.lines.size(), 1u);
  EXPECT_EQ(log.lines[0].rfind("CRegKey::Create failed with er", 0), 0u);
}

// Known and unknown names in a shortcut line are the removal tests'.
TEST_F(Locations, ShellFolderNamesIgnoreCase) {
  EXPECT_EQ(ShellFolderId("csidl_personal"), CSIDL_PERSONAL);
  EXPECT_EQ(ShellFolderId(""), 0);
}

TEST_F(Locations, PrependBinToPath) {
  auto path = [] {
    std::vector<char> value(32767);
    ::GetEnvironmentVariableA("PATH", value.data(), static_cast<DWORD>(value.size()));
    return std::string(value.data());
  };
  const std::string before = path();
  EXPECT_FALSE(PrependBinToPath());  // no installation: PATH untouched
  RegWriteString(HKEY_LOCAL_MACHINE, kPelloryKey, "PelloryAppDir", "");
  EXPECT_FALSE(PrependBinToPath());  // not "\\Bin\\" of the current drive
  EXPECT_EQ(path(), before);
  RegWriteString(HKEY_LOCAL_MACHINE, kPelloryKey, "PelloryAppDir", "C:\\Inst");
  ASSERT_TRUE(PrependBinToPath());
  EXPECT_EQ(path(), "C:\\Inst\\Bin\\;" + before);
  ::SetEnvironmentVariableA("PATH", before.c_str());
}

}  // namespace

// RegKey never closes a predefined root, in either build (the 64-bit one
// sign-extends the root handles); a key it opened is an ordinary handle.
TEST(RegKeyRoots, PredefinedRootsAreRecognised) {
  for (HKEY root : {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS,
                    HKEY_PERFORMANCE_DATA, HKEY_CURRENT_CONFIG, HKEY_DYN_DATA})
    EXPECT_TRUE(frame::IsPredefinedKey(root)) << root;
  frame::RegKey software;
  ASSERT_EQ(software.Open(HKEY_LOCAL_MACHINE, "SOFTWARE", KEY_READ), ERROR_SUCCESS);
  EXPECT_FALSE(frame::IsPredefinedKey(software.get()));
  EXPECT_FALSE(frame::IsPredefinedKey(nullptr));
}
