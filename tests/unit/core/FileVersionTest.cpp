#include "core/FileVersion.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frame/Handle.h"
#include "tests/support/Scratch.h"

namespace {

using testing_support::ReadFileBytes;
using testing_support::ScratchDir;
using testing_support::WriteFileBytes;

std::vector<std::string> SystemPrograms() {
  char folder[MAX_PATH];
  ::GetSystemDirectoryA(folder, MAX_PATH);
  std::vector<std::string> paths;
  for (const char* pattern : {"\\*.dll", "\\*.exe"}) {
    WIN32_FIND_DATAA entry;
    frame::ScopedFind find(::FindFirstFileA((std::string(folder) + pattern).c_str(), &entry));
    if (!find) continue;
    do {
      if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        paths.push_back(std::string(folder) + "\\" + entry.cFileName);
    } while (::FindNextFileA(find.get(), &entry));
  }
  return paths;
}

std::string Text(const FileVersionParts& v) {
  return std::to_string(v.part[0]) + "." + std::to_string(v.part[1]) + "." +
         std::to_string(v.part[2]) + "." + std::to_string(v.part[3]);
}

// The version the status compares must be the system's, whichever way it
// was read: for every program of the system folder, and for damaged copies.
TEST(FileVersion, AgreesWithTheSystemOnEveryProgramOfTheSystemFolder) {
  const std::vector<std::string> programs = SystemPrograms();
  ASSERT_GT(programs.size(), 100u);
  int versioned = 0, fromHeaders = 0;
  for (const std::string& path : programs) {
    FileVersionParts read, system, headers;
    const bool found = ReadFileVersionParts(path, read);
    ASSERT_EQ(found, ReadFileVersionPartsThroughSystem(path, system)) << path;
    if (ReadFileVersionPartsFromHeaders(path, headers)) {
      ++fromHeaders;
      ASSERT_TRUE(found) << path;
      EXPECT_EQ(Text(headers), Text(system)) << path;
    }
    if (!found) continue;
    ++versioned;
    EXPECT_EQ(Text(read), Text(system)) << path;
  }
  EXPECT_GT(versioned, 100);
  // The cheap way answers the common case.
  EXPECT_GT(fromHeaders, versioned * 9 / 10);
}

TEST(FileVersion, DamagedProgramsAreJudgedAsTheSystemJudgesThem) {
  char folder[MAX_PATH];
  ::GetSystemDirectoryA(folder, MAX_PATH);
  std::string bytes;
  ASSERT_TRUE(ReadFileBytes(std::string(folder) + "\\version.dll", bytes));
  ASSERT_GT(bytes.size(), 4096u);
  ScratchDir dir("ver");
  std::vector<std::string> damaged;
  // Cut short at several points, the section table's size claims broken,
  // and the header's offset pointing past the end.
  for (size_t length : {bytes.size() / 4, bytes.size() / 2, bytes.size() - 1})
    damaged.push_back(bytes.substr(0, length));
  std::string wrongOffset = bytes;
  wrongOffset[60] = '\xF0';
  wrongOffset[61] = '\xFF';
  damaged.push_back(wrongOffset);
  damaged.push_back(std::string("MZ") + std::string(200, '\xFF'));
  for (size_t i = 0; i < damaged.size(); ++i) {
    const std::string path = dir.Path() + "damaged" + std::to_string(i) + ".dll";
    ASSERT_TRUE(WriteFileBytes(path, damaged[i]));
    FileVersionParts read, system, headers;
    const bool found = ReadFileVersionParts(path, read);
    ASSERT_EQ(found, ReadFileVersionPartsThroughSystem(path, system)) << "copy " << i;
    if (found) {
      EXPECT_EQ(Text(read), Text(system)) << "copy " << i;
    }
    // Cut into its sections, a copy is never answered from its headers.
    if (i < 2) {
      EXPECT_FALSE(ReadFileVersionPartsFromHeaders(path, headers)) << "copy " << i;
    }
  }
}

}  // namespace
