// Extraction into a scratch folder: complete members are written and named,
// a member whose folder cannot be decoded leaves no file behind.
#include "tools/cabtool/CabFiles.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "tests/unit/cab/CabTestSupport.h"

namespace {

using cabtest::Bytes;

bool Exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

std::string ReadAll(std::FILE* f) {
  std::string s;
  std::rewind(f);
  for (int c; (c = std::fgetc(f)) != EOF;) s += static_cast<char>(c);
  return s;
}

// An MSZIP block holding `text` as a stored deflate block.
Bytes MszipStored(const std::string& text) {
  uint16_t n = static_cast<uint16_t>(text.size());
  Bytes b = {'C', 'K', 0x01, static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8),
             static_cast<uint8_t>(~n), static_cast<uint8_t>(~n >> 8)};
  b.insert(b.end(), text.begin(), text.end());
  return b;
}

struct Case {
  const char* what;
  cabtest::BuildCabinet cab;
  cab::CabError error;
  std::string kept;     // member expected complete on disk ("" for none)
  std::string removed;  // member that must not be on disk
};

class ExtractTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/cabtool_test.XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override {
    for (const std::string& f : created_) std::remove(f.c_str());
    ::rmdir(dir_.c_str());
  }
  std::string Put(const std::string& name, const Bytes& bytes) {
    std::string path = dir_ + "/" + name;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    EXPECT_NE(f, nullptr);
    if (f) {
      std::fwrite(bytes.data(), 1, bytes.size(), f);
      std::fclose(f);
    }
    created_.push_back(path);
    return path;
  }
  std::string dir_;
  std::vector<std::string> created_;
};

TEST_F(ExtractTest, FailedMembersLeaveNoFile) {
  std::vector<Case> cases;
  {
    // Folder 0 stored and fine, folder 1 of an unknown compression type.
    Case c{"unknown compression type", {}, cab::CabError::kBadCompressionType, "good.txt",
           "refused.txt"};
    c.cab.folders = {{0, {{Bytes{'g', 'o', 'o', 'd'}, 4}}}, {4, {{Bytes{'x', 'x'}, 2}}}};
    c.cab.files = {{"good.txt", 4, 0, 0}, {"refused.txt", 2, 0, 1}};
    cases.push_back(c);
  }
  {
    // The first block decodes, the second is damaged: half a member.
    Case c{"damaged second block", {}, cab::CabError::kDecompressorFailure, "",
           "partial.txt"};
    Bytes bad = {'C', 'K', 0xFF, 0xFF, 0xFF, 0xFF};
    c.cab.folders = {{1, {{MszipStored("hello"), 5}, {bad, 5}}}};
    c.cab.files = {{"partial.txt", 10, 0, 0}};
    cases.push_back(c);
  }
  {
    // A member continued in a next cabinet that is not there.
    Case c{"next cabinet missing", {}, cab::CabError::kCabinetNotFound, "", "spans.txt"};
    c.cab.flags = cab::kFlagNextCabinet;
    c.cab.next = "absent.cab";
    c.cab.nextDisk = "disk 2";
    c.cab.folders = {{0, {{Bytes{'a', 'b', 'c'}, 3}}}};
    c.cab.files = {{"spans.txt", 6, 0, cab::kFolderContinuedToNext}};
    cases.push_back(c);
  }
  {
    Case c{"all fine", {}, cab::CabError::kNone, "whole.txt", ""};
    c.cab.folders = {{1, {{MszipStored("hello"), 5}, {MszipStored("world"), 5}}}};
    c.cab.files = {{"whole.txt", 10, 0, 0}};
    cases.push_back(c);
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string cabPath = Put("in.cab", cabtest::Build(c.cab));
    std::FILE* listing = std::tmpfile();
    std::FILE* errors = std::tmpfile();
    ASSERT_TRUE(listing && errors);
    cab::CabError err = cabtool::ExtractCabinet(cabPath, dir_, listing, errors);
    std::string listed = ReadAll(listing), errText = ReadAll(errors);
    std::fclose(listing);
    std::fclose(errors);
    EXPECT_EQ(err, c.error);
    if (!c.kept.empty()) {
      std::string kept = dir_ + "/" + c.kept;
      created_.push_back(kept);
      EXPECT_TRUE(Exists(kept));
      EXPECT_NE(listed.find(kept + "\n"), std::string::npos) << listed;
    }
    if (!c.removed.empty()) {
      std::string removed = dir_ + "/" + c.removed;
      created_.push_back(removed);
      EXPECT_FALSE(Exists(removed));
      EXPECT_EQ(listed.find(removed), std::string::npos) << listed;
      EXPECT_NE(errText.find("error " + std::to_string(cab::CabErrorCode(c.error))),
                std::string::npos)
          << errText;
    } else {
      EXPECT_EQ(errText, "");
    }
  }
  // The complete ones hold their bytes.
  EXPECT_EQ(cabtest::ReadFileBytes(dir_ + "/whole.txt"),
            (Bytes{'h', 'e', 'l', 'l', 'o', 'w', 'o', 'r', 'l', 'd'}));
  EXPECT_EQ(cabtest::ReadFileBytes(dir_ + "/good.txt"), (Bytes{'g', 'o', 'o', 'd'}));
}

TEST_F(ExtractTest, UncreatableTargetIsReported) {
  cabtest::BuildCabinet c;
  c.folders = {{0, {{Bytes{'a', 'b'}, 2}}}};
  c.files = {{"no\\such\\folder.txt", 2, 0, 0}};
  std::string cabPath = Put("in.cab", cabtest::Build(c));
  std::FILE* errors = std::tmpfile();
  ASSERT_NE(errors, nullptr);
  EXPECT_EQ(cabtool::ExtractCabinet(cabPath, dir_, nullptr, errors), cab::CabError::kTargetFile);
  std::string errText = ReadAll(errors);
  std::fclose(errors);
  EXPECT_NE(errText.find("cannot create '" + dir_ + "/no/such/folder.txt'"), std::string::npos)
      << errText;
}

}  // namespace

TEST_F(ExtractTest, MissingDestinationIsCreatedWithItsParents) {
  cabtest::BuildCabinet c;
  c.folders = {{0, {{Bytes{'a', 'b'}, 2}}}};
  c.files = {{"x.txt", 2, 0, 0}};
  std::string cabPath = Put("in.cab", cabtest::Build(c));
  const std::string outer = dir_ + "/new", inner = outer + "/deeper";
  EXPECT_EQ(cabtool::ExtractCabinet(cabPath, inner, nullptr, nullptr), cab::CabError::kNone);
  EXPECT_EQ(cabtest::ReadFileBytes(inner + "/x.txt"), (Bytes{'a', 'b'}));
  std::remove((inner + "/x.txt").c_str());
  ::rmdir(inner.c_str());
  ::rmdir(outer.c_str());
}
