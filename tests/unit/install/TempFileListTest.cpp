#include "install/TempFileList.h"

#include <gtest/gtest.h>

#include "tests/support/Scratch.h"

namespace {

using testing_support::FileExists;
using testing_support::ScratchDir;
using testing_support::WriteFileBytes;

TEST(TempFileList, DeletesListedFilesAndKeepsRemovedOnes) {
  ScratchDir dir;
  const std::string a = dir.Path() + "a.cab";
  const std::string b = dir.Path() + "b.txt";
  const std::string kept = dir.Path() + "PM Install1.INF";
  for (const auto& p : {a, b, kept}) ASSERT_TRUE(WriteFileBytes(p, "x"));
  ::SetFileAttributesA(b.c_str(), FILE_ATTRIBUTE_READONLY);
  {
    TempFileList list;
    list.Add(a);
    list.Add(b);
    list.Add(kept);
    list.Add("");  // never listed
    list.Add(dir.Path() + "never-existed.tmp");
    EXPECT_EQ(list.Paths().size(), 4u);
    EXPECT_TRUE(list.Contains(dir.Path() + "pm install1.inf"));
    EXPECT_TRUE(list.Remove(dir.Path() + "PM INSTALL1.INF"));  // case does not matter
    EXPECT_FALSE(list.Remove(dir.Path() + "PM INSTALL1.INF"));
  }  // the end of the list deletes, as the end of the program does
  EXPECT_FALSE(FileExists(a));
  EXPECT_FALSE(FileExists(b)) << "read-only files are deleted too";
  EXPECT_TRUE(FileExists(kept));
}

}  // namespace
