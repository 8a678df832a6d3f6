// Registry lines on the real registry of the test's prefix (scratch keys below
// HKCU\Software\UpgradeTests), and the reader in the user's language.
#include <windows.h>

#include <gtest/gtest.h>

#include "catalog/ComponentCatalog.h"
#include "catalog/RegistryEntry.h"
#include "tests/support/Scratch.h"

namespace {

using testing_support::RegDeleteTree;
using testing_support::RegKeyExists;
using testing_support::RegReadString;
using testing_support::RegWriteString;

const char kScratch[] = "Software\\UpgradeTests\\RegistryLines";

// Type and raw bytes of one value; false when it does not exist.
bool ReadRaw(const std::string& key, const std::string& name, DWORD& type, std::string& data) {
  HKEY h = nullptr;
  if (::RegOpenKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS)
    return false;
  char buffer[512];
  DWORD size = sizeof(buffer);
  const LONG rc = ::RegQueryValueExA(h, name.c_str(), nullptr, &type,
                                     reinterpret_cast<BYTE*>(buffer), &size);
  ::RegCloseKey(h);
  data.assign(buffer, rc == ERROR_SUCCESS ? size : 0);
  return rc == ERROR_SUCCESS;
}

class RegistryApply : public ::testing::Test {
 protected:
  void SetUp() override { RegDeleteTree(HKEY_CURRENT_USER, kScratch); }
  void TearDown() override { RegDeleteTree(HKEY_CURRENT_USER, kScratch); }
  static std::string Key(const std::string& sub) { return std::string(kScratch) + "\\" + sub; }
};

// Each type as written (the binary type with no data); types the program
// does not write, and lines without data, make nothing; without a root the
// write fails.
TEST_F(RegistryApply, AddLines) {
  const std::string k = Key("K");
  const struct {
    const char* line;
    const char* name;
    DWORD type;
    std::string data;
  } values[] = {{",Str,FLG_ADDREG_TYPE_SZ,hello,ignored", "Str", REG_SZ, {"hello\0", 6}},
                {",Num,FLG_ADDREG_TYPE_DWORD, 12", "Num", REG_DWORD, {"\x0C\0\0\0", 4}},
                {",Bin,FLG_ADDREG_TYPE_BINARY,01 02", "Bin", REG_BINARY, ""},
                {",,FLG_ADDREG_TYPE_SZ,default", "", REG_SZ, {"default\0", 8}}};
  for (const auto& v : values) {
    SCOPED_TRACE(v.line);
    EXPECT_EQ(RegistryEntry::ParseAdd("HKCU," + k + v.line).ApplyAdd(), ERROR_SUCCESS);
    DWORD type = 0;
    std::string data;
    ASSERT_TRUE(ReadRaw(k, v.name, type, data));
    EXPECT_EQ(type, v.type);
    EXPECT_EQ(data, v.data);
  }
  const std::string none = Key("None");
  EXPECT_EQ(RegistryEntry::ParseAdd("HKCU," + none + ",V,FLG_ADDREG_TYPE_MULTI_SZ,a").ApplyAdd(),
            ERROR_SUCCESS);
  EXPECT_EQ(RegistryEntry::ParseAdd("HKCU," + none + ",V").ApplyAdd(), ERROR_SUCCESS);
  EXPECT_NE(RegistryEntry::ParseAdd("hkcu," + none + ",V,FLG_ADDREG_TYPE_SZ,a").ApplyAdd(),
            ERROR_SUCCESS);
  EXPECT_FALSE(RegKeyExists(HKEY_CURRENT_USER, none));
}

// A name that is a subkey takes the subkey's tree first, the value on the
// next run; an empty name never deletes the key itself, nor an empty key a
// branch of the root; a missing key or root gives 0.
TEST_F(RegistryApply, DeleteLines) {
  const std::string k = Key("D");
  std::string value;
  const auto has = [&](const std::string& name) {
    return RegReadString(HKEY_CURRENT_USER, k, name, value);
  };
  ASSERT_TRUE(RegWriteString(HKEY_CURRENT_USER, k, "Both", "value"));
  ASSERT_TRUE(RegWriteString(HKEY_CURRENT_USER, k + "\\Both\\Deep\\Deeper", "x", "1"));
  ASSERT_TRUE(RegWriteString(HKEY_CURRENT_USER, k + "\\Both\\Second", "y", "2"));
  const RegistryEntry line = RegistryEntry::ParseDelete("HKCU," + k + ",Both");
  EXPECT_EQ(line.ApplyDelete(), ERROR_SUCCESS);
  EXPECT_TRUE(!RegKeyExists(HKEY_CURRENT_USER, k + "\\Both") && has("Both"));
  EXPECT_EQ(line.ApplyDelete(), ERROR_SUCCESS);
  EXPECT_FALSE(has("Both"));
  EXPECT_EQ(line.ApplyDelete(), ERROR_FILE_NOT_FOUND);  // nothing of that name left

  ASSERT_TRUE(RegWriteString(HKEY_CURRENT_USER, k + "\\Child", "x", "1"));
  ASSERT_TRUE(RegWriteString(HKEY_CURRENT_USER, k, "", "default"));
  EXPECT_EQ(RegistryEntry::ParseDelete("HKCU," + k + ",").ApplyDelete(), ERROR_SUCCESS);
  EXPECT_TRUE(RegKeyExists(HKEY_CURRENT_USER, k + "\\Child") && !has(""));
  EXPECT_EQ(RegistryEntry::ParseDelete("HKCU," + Key("None") + ",V").ApplyDelete(), ERROR_SUCCESS);
  EXPECT_EQ(RegistryEntry::ParseDelete("nowhere," + k + ",V").ApplyDelete(), ERROR_SUCCESS);

  const std::string branch = "PelloryRegistryApplyBranch";
  ASSERT_TRUE(RegWriteString(HKEY_CURRENT_USER, branch + "\\Inner", "x", "1"));
  EXPECT_EQ(RegistryEntry::ParseDelete("HKCU,," + branch).ApplyDelete(), ERROR_SUCCESS);
  EXPECT_EQ(RegistryEntry::ParseDelete("HKCU,\\," + branch).ApplyDelete(), ERROR_SUCCESS);
  EXPECT_TRUE(RegKeyExists(HKEY_CURRENT_USER, branch + "\\Inner"));
  RegDeleteTree(HKEY_CURRENT_USER, branch);
}

// Run for a British user (CTest sets LC_ALL): the reader picks the user's
// variant by itself, language and sublanguage.
TEST(CatalogLanguageEnv, ReaderUsesTheUsersLanguage) {
  const std::string text = "[C]\rDescription=plain\rDescription LANGID 9 SUBLANGID 2=british\r"
                           "Description LANGID 9 SUBLANGID 1=american\r";
  IniFile ini;
  ini.Parse(text.data(), text.size());
  EXPECT_EQ(ini.GetString("C", "Description", ""), "british");
}

}  // namespace
