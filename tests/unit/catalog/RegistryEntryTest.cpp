// Parsing of "Add Registry" and "Delete Registry" lines.
#include "catalog/RegistryEntry.h"

#include <gtest/gtest.h>

namespace {

TEST(RegistryLines, AddLines) {
  struct Case {
    const char* line;
    RegistryRoot root;
    const char* subkey;
    const char* name;
    uint32_t type;
    const char* text;
    uint32_t number;
    uint32_t size;
  } cases[] = {
      {"HKLM,Software\\Foo,Bar,FLG_ADDREG_TYPE_SZ,abc", RegistryRoot::kLocalMachine,
       "Software\\Foo", "Bar", 1, "abc", 0, 4},
      {"HKLM , Software\\Foo,Bar,FLG_ADDREG_TYPE_DWORD, 12", RegistryRoot::kLocalMachine,
       " Software\\Foo", "Bar", 4, "", 12, 4},
      {"HKEY_USERS,S,N,FLG_ADDREG_TYPE_DWORD,-2", RegistryRoot::kUsers, "S", "N", 4, "", 0xFFFFFFFEu,
       4},
      {"HKU,S,N,FLG_ADDREG_TYPE_DWORD,x", RegistryRoot::kUsers, "S", "N", 4, "", 0, 4},
      {"HKEY_CURRENT_USER,S,,FLG_ADDREG_TYPE_SZ,a,b,c", RegistryRoot::kCurrentUser, "S", "", 1, "a",
       0, 2},
      {"HKCR,S,N,FLG_ADDREG_TYPE_BINARY,00 01 02", RegistryRoot::kClassesRoot, "S", "N", 3, "", 0,
       0},
      {"hklm,S,N,FLG_ADDREG_TYPE_SZ,a", RegistryRoot::kNone, "S", "N", 1, "a", 0, 2},
      {"HKLM,S,N,FLG_ADDREG_TYPE_MULTI_SZ,a", RegistryRoot::kLocalMachine, "S", "N", 0, "", 0, 0},
      {"HKLM,S,N", RegistryRoot::kLocalMachine, "S", "N", 0, "", 0, 0},
      {"HKLM,S,N,flags FLG_ADDREG_TYPE_SZ", RegistryRoot::kLocalMachine, "S", "N", 1, "", 0, 1},
      {"", RegistryRoot::kNone, "", "", 0, "", 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const RegistryEntry e = RegistryEntry::ParseAdd(c.line);
    EXPECT_EQ(e.root, c.root);
    EXPECT_EQ(e.subkey, c.subkey);
    EXPECT_EQ(e.name, c.name);
    EXPECT_EQ(e.type, c.type);
    EXPECT_EQ(e.text, c.text);
    EXPECT_EQ(e.number, c.number);
    EXPECT_EQ(e.dataSize, c.size);
    EXPECT_TRUE(e.binary.empty());
  }
}

TEST(RegistryLines, DeleteLinesAndRoots) {
  const RegistryEntry e = RegistryEntry::ParseDelete("HKCU,Software\\X,Name,extra");
  EXPECT_EQ(e.root, RegistryRoot::kCurrentUser);
  EXPECT_EQ(e.subkey, "Software\\X");
  EXPECT_EQ(e.name, "Name");
  EXPECT_EQ(e.type, 0u);
  const RegistryEntry k = RegistryEntry::ParseDelete("HKLM,Software\\X");
  EXPECT_EQ(k.name, "");
  struct Root {
    const char* field;
    RegistryRoot root;
  } roots[] = {{"HKCR", RegistryRoot::kClassesRoot},     {"xHKCRx", RegistryRoot::kClassesRoot},
               {"HKEY_CLASSES_ROOT", RegistryRoot::kClassesRoot},
               {"HKEY_LOCAL_MACHINE", RegistryRoot::kLocalMachine},
               {"HKEY_USERS", RegistryRoot::kUsers}, {"HKU", RegistryRoot::kUsers},
               {"HKCU HKLM", RegistryRoot::kCurrentUser}, {"HKEY", RegistryRoot::kNone},
               {"", RegistryRoot::kNone}};
  for (const Root& r : roots) {
    SCOPED_TRACE(r.field);
    EXPECT_EQ(ParseRegistryRoot(r.field), r.root);
  }
}

}  // namespace
