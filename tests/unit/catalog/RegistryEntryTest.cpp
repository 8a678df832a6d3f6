// Parsing of "Add Registry" and "Delete Registry" lines.
#include "catalog/RegistryEntry.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// root|subkey|name|type|text|number|size
std::string Fields(const RegistryEntry& e) {
  return std::string(RegistryRootName(e.root)) + "|" + e.subkey + "|" + e.name + "|" +
         std::to_string(e.type) + "|" + e.text + "|" + std::to_string(e.number) + "|" +
         std::to_string(e.dataSize) + (e.binary.empty() ? "" : "|binary");
}

TEST(RegistryLines, AddAndDeleteLines) {
  const struct {
    const char* line;
    const char* fields;
  } adds[] = {
      {"HKLM,Software\\Foo,Bar,FLG_ADDREG_TYPE_SZ,abc", "HKLM|Software\\Foo|Bar|1|abc|0|4"},
      {"HKLM , Software\\Foo,Bar,FLG_ADDREG_TYPE_DWORD, 12", "HKLM| Software\\Foo|Bar|4||12|4"},
      {"HKEY_USERS,S,N,FLG_ADDREG_TYPE_DWORD,-2", "HKU|S|N|4||4294967294|4"},
      {"HKEY_CURRENT_USER,S,,FLG_ADDREG_TYPE_SZ,a,b,c", "HKCU|S||1|a|0|2"},
      {"HKCR,S,N,FLG_ADDREG_TYPE_BINARY,00 01 02", "HKCR|S|N|3||0|0"},
      {"hklm,S,N,FLG_ADDREG_TYPE_SZ,a", "|S|N|1|a|0|2"},
      {"HKLM,S,N,FLG_ADDREG_TYPE_MULTI_SZ,a", "HKLM|S|N|0||0|0"},
      {"HKLM,S,N,flags FLG_ADDREG_TYPE_SZ", "HKLM|S|N|1||0|1"},
      {"", "|||0||0|0"},
  };
  for (const auto& c : adds) EXPECT_EQ(Fields(RegistryEntry::ParseAdd(c.line)), c.fields) << c.line;
  EXPECT_EQ(Fields(RegistryEntry::ParseDelete("HKCU,Software\\X,Name,extra")),
            "HKCU|Software\\X|Name|0||0|0");
  EXPECT_EQ(RegistryEntry::ParseDelete("HKLM,Software\\X").name, "");
  // The first root named in the order HKCR, HKCU, HKLM, HKU wins; case counts.
  const struct {
    const char* field;
    RegistryRoot root;
  } roots[] = {{"xHKCRx", RegistryRoot::kClassesRoot},
               {"HKEY_CLASSES_ROOT", RegistryRoot::kClassesRoot},
               {"HKEY_LOCAL_MACHINE", RegistryRoot::kLocalMachine},
               {"HKU", RegistryRoot::kUsers},
               {"HKCU HKLM", RegistryRoot::kCurrentUser},
               {"HKEY", RegistryRoot::kNone}};
  for (const auto& r : roots) EXPECT_EQ(ParseRegistryRoot(r.field), r.root) << r.field;
}

}  // namespace
