#include "install/TempFileList.h"

#include <gtest/gtest.h>

#include "tests/support/Scratch.h"

namespace {

using namespace testing_support;

TEST(TempFileList, DeletesListedFilesAndKeepsRemovedOnes) {
  ScratchDir dir;
  const std::string a = dir.Path() + "a.cab", b = dir.Path() + "b.txt";
  const std::string kept = dir.Path() + "PM Install1.INF";
  for (const auto& p : {a, b, kept}) ASSERT_TRUE(WriteFileBytes(p, "x"));
  ::SetFileAttributesA(b.c_str(), FILE_ATTRIBUTE_READONLY);
  {
    TempFileList list;
    for (const auto& p : {a, b, kept, std::string(), dir.Path() + "never-existed.tmp"}) list.Add(p);
    EXPECT_EQ(list.Paths().size(), 4u) << "an empty path is never listed";
    EXPECT_TRUE(list.Remove(dir.Path() + "PM INSTALL1.INF"));  // case does not matter
    EXPECT_FALSE(list.Contains(kept));
  }  // the end of the list deletes, as the end of the program does
  EXPECT_FALSE(FileExists(a));
  EXPECT_FALSE(FileExists(b)) << "read-only files are deleted too";
  EXPECT_TRUE(FileExists(kept));
}

}  // namespace
