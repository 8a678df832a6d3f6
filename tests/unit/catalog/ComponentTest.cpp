// The catalogue parse: components, files, hooks, registry lines, sizes, the
// platform bits, the destinations and the size text.
#include "catalog/ComponentCatalog.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "catalog/DownloadSize.h"
#include "catalog/RegistryEntry.h"
#include "catalog/TargetPath.h"
#include "tests/support/CapturedLog.h"

namespace {

using testing_support::CapturedLog;

// The catalogue in lines joined by "\n", read with CR LF line ends.
ComponentCatalog ParseCatalog(const std::string& lines, uint16_t langId = 0x0409) {
  std::string text;
  for (char c : lines) text += c == '\n' ? std::string("\r\n") : std::string(1, c);
  IniFile ini(langId);
  ini.Parse(text.data(), text.size());
  ComponentCatalog catalog;
  LoadComponentsFrom(catalog, ini);
  return catalog;
}

// root|subkey|name|type|text|number|size
std::string Fields(const RegistryEntry& e) {
  return std::string(RegistryRootName(e.root)) + "|" + e.subkey + "|" + e.name + "|" +
         std::to_string(e.type) + "|" + e.text + "|" + std::to_string(e.number) + "|" +
         std::to_string(e.dataSize) + (e.binary.empty() ? "" : "|binary");
}

const char kWorkedExample[] =
    "[Components]\nPlayer=3;2,1,0,7\n"
    "[Player]\nDescription=Audio player\nDescription LANGID 7=Audio-Player\n"
    "RequiresPMClosed=No\nSourceDisksFiles=PlayerFiles\nHook1=PlayerSetup.exe\n"
    "[PlayerFiles]\n1=Player.dll\n2=Player.chm\n"
    "[Player.dll]\nFile=Player.cab\nDestDir=LDID_SYS\nFileVersion=2,1,0,7\nSize=120KB\n"
    "OLESelfRegistered=Yes\n"
    "[Player.chm]\nFile=Player.cab\nFileVersion=-1,-1,-1,-1\n"
    "[PlayerSetup.exe]\nFile=Player.cab\nRun=/quiet\nFileVersion=1,0,0,0\n";

TEST(CatalogParse, WorkedExample) {
  CapturedLog log;
  const ComponentCatalog catalog = ParseCatalog(kWorkedExample);
  EXPECT_EQ(log.lines, (std::vector<std::string>{
      "Parsing component Player\n",
      "Component Player: bForceInstall = 0, bInitiallySelected = 1, bRequiresPMClosed = 0, "
      "sDescription = Audio player, sMoreInfo = , sImageURL = , platform = 31\n",
      "Parsing of component Player succeeded\n"}));
  ASSERT_EQ(catalog.size(), 1u);
  const Component& c = catalog[0];
  EXPECT_EQ(c.sName + "|" + std::to_string(c.id) + "|" + c.version.CatalogText(),
            "Player|3|2,1,0,7");
  ASSERT_EQ(c.files.size(), 2u);
  const ComponentFile& dll = c.files[0];
  EXPECT_EQ(dll.sName + "|" + dll.sFile + "|" + dll.sDestDir + "|" + dll.version.CatalogText() +
                "|" + std::to_string(dll.size) + "|" + std::to_string(dll.bOLESelfRegistered),
            "Player.dll|Player.cab|LDID_SYS|2,1,0,7|122880|1");
  EXPECT_TRUE(IsNullClassId(dll.clsid));
  EXPECT_EQ(c.files[1].sName + "|" + c.files[1].sDestDir + "|" +
                std::to_string(c.files[1].version.IsInstallIfMissing()),
            "Player.chm||1");
  ASSERT_EQ(c.hooks.size(), 1u);
  const ComponentHook& hook = c.hooks[0];
  EXPECT_EQ(hook.sHookName + "|" + hook.sName + "|" + hook.sFile + "|" + hook.sRun + "|" +
                hook.version.RegistryText(),
            "PlayerSetup.exe|PlayerSetup.exe|Player.cab|/quiet|1, 0, 0, 0");
  // A German user sees the German description.
  EXPECT_EQ(ParseCatalog(kWorkedExample, 0x0407)[0].sDescription, "Audio-Player");
}

// A missing file fails with the reader's line, an empty one without a line;
// either leaves an empty catalogue.
TEST(CatalogParse, FilesThatGiveNoCatalogue) {
  const std::string empty = "catalog-test-empty.inf", missing = "catalog-test-missing.inf";
  std::ofstream(empty, std::ios::binary).flush();  // in the test's working folder
  ComponentCatalog catalog(1);
  CapturedLog log;
  EXPECT_EQ(LoadComponents(catalog, empty.c_str()), 1);
  EXPECT_TRUE(catalog.empty() && log.lines.empty());
  catalog.resize(1);
  EXPECT_EQ(LoadComponents(catalog, missing.c_str()), 1);
  EXPECT_TRUE(catalog.empty());
  ASSERT_EQ(log.lines.size(), 1u);
  EXPECT_EQ(log.lines[0].rfind("Failed to open INI file '" + missing + "'. Error ", 0), 0u);
  std::remove(empty.c_str());
}

// "[id;]a,b,c,d" read as by "%d": missing parts 0, a bad id gives no version.
TEST(CatalogParse, ComponentsValuesAndSizes) {
  std::string values;
  for (const Component& c : ParseCatalog("[Components]\nA=1,2,0,5\nB=17;1,2\nC=x;1,2,3,4\n"
                                         "D=1 ,2,3,4\nE=99999999999,1,1,1\n"))
    values += std::to_string(c.id) + ";" + c.version.CatalogText() + " ";
  EXPECT_EQ(values, "0;1,2,0,5 17;1,2,0,0 0;0,0,0,0 0;1,0,0,0 0;2147483647,1,1,1 ");
  std::string sizes;
  for (const char* text : {"150KB", "2 mb", "1.5MB", "900", "abc", "4096MB", "-1"})
    sizes += std::to_string(ParseSizeText(text)) + " ";
  EXPECT_EQ(sizes, "153600 2097152 1048576 900 0 0 4294967295 ");
}

// Hooks end at the first gap or hook without "File" (C); registry lines come from
// the named section first, then numbered from 0 without gaps; a missing file
// "File" or "FileVersion" drops the component, with the error logged.
TEST(CatalogParse, ListsEndAndBrokenComponentsGo) {
  ComponentCatalog catalog = ParseCatalog(
      "[Components]\nP=1,0,0,0\nQ=1,0,0,0\n"
      "[P]\nHook1=A\nHook2=B\nHook3=C\nHook4=D\nAdd Registry=PAdd\nDelete Registry=PDel\n"
      "Add Registry0=HKCU,Soft\\N,Zero,FLG_ADDREG_TYPE_SZ,z\n"
      "Add Registry1=HKCU,Soft\\N,One,FLG_ADDREG_TYPE_DWORD,1\n"
      "Add Registry3=HKCU,Soft\\N,Three,FLG_ADDREG_TYPE_SZ,3\n"
      "Delete Registry0=HKLM,Soft\\D,Gone\n"
      "[PAdd]\nx=HKLM,Soft\\A,Name,FLG_ADDREG_TYPE_SZ,abc\n[PDel]\nx=HKCR,Soft\\B,Old\n"
      "[Q]\nHook1=A\nHook3=D\nAdd Registry1=HKCU,Soft\\N,One,FLG_ADDREG_TYPE_SZ,1\n"
      "[A]\nFile=a.cab\n[B]\nFile=b.cab\nSize=2KB\nDeleteAfterExec=Yes\nPlatform=16\n"
      "[C]\nRun=x\n[D]\nFile=d.cab\n");
  ASSERT_EQ(catalog.size(), 2u);
  const Component& p = catalog[0];
  std::string lists;  // hook name, version, size, platform, deleted after; registry lines
  for (const ComponentHook& h : p.hooks)
    lists += h.sHookName + " " + h.version.CatalogText() + " " + std::to_string(h.size) + " " +
             std::to_string(h.platform) + " " + std::to_string(h.bDeleteAfterExec) + "\n";
  for (const RegistryEntry& e : p.addRegistry) lists += e.name + " ";
  for (const RegistryEntry& e : p.deleteRegistry) lists += Fields(e) + " ";
  EXPECT_EQ(lists, "A 0,0,0,0 0 31 0\nB 0,0,0,0 2048 16 1\nName Zero One "
                   "HKCR|Soft\\B|Old|0||0|0 HKLM|Soft\\D|Gone|0||0|0 ");
  EXPECT_TRUE(catalog[1].addRegistry.empty());
  ASSERT_EQ(catalog[1].hooks.size(), 1u);  // Hook2 missing: Hook3 is not read

  CapturedLog log;
#ifdef _WIN32
  ::SetLastError(0);  // the code the parser reports when the system has none
#endif
  catalog = ParseCatalog(
      "[Components]\nNoFile=1,0,0,0\nGood=2,0,0,0\nNoVersion=1,0,0,0\n"
      "[NoFile]\nSourceDisksFiles=L1\n[NoVersion]\nSourceDisksFiles=L2\n"
      "[L1]\n1=Ok\n2=F1\n[L2]\n1=Ok\n2=F2\n[Ok]\nFile=o.cab\nFileVersion=1,0,0,0\n"
      "[F1]\nFileVersion=1,0,0,0\n[F2]\nFile=f.cab\n");
  ASSERT_EQ(catalog.size(), 1u);
  EXPECT_EQ(catalog[0].sName, "Good");
  for (const char* bad : {"NoFile", "NoVersion"}) {
    EXPECT_TRUE(log.Has("InitComponent failed with error 13 for the component " +
                        std::string(bad) + "\n"));
    EXPECT_FALSE(log.Has("Parsing of component " + std::string(bad) + " succeeded\n"));
  }
}

// Only the exact "Yes" is true; a key with a blank before '=' is another key.
TEST(CatalogParse, FieldsAndDefaults) {
  const ComponentCatalog catalog = ParseCatalog(
      "[Components]\nGhost=4;1,0,0,0\nA=1,0,0,0\nB=1,0,0,0\n"
      "[A]\nSourceDisksFiles=AF\nDeleteFiles=AD\nPlatform=8\nInitially Selected =No\n"
      "[B]\nSourceDisksFiles=BF\nDeleteFiles=NoDel\nInitially Selected=yes\nRequiresPMClosed=\n"
      "[AF]\nx=srv.dll\n[BF]\ny=other.txt\n"
      "[srv.dll]\nFile=shared.cab\nPackage=setup.exe\nCmdLine=/s\nCLSID="
      "{12345678-9ABC-DEF0-1122-334455667788}\nFileVersion=1,2,3,4\nPlatform=24\n"
      "[other.txt]\nFile=shared.cab\nFileVersion=1\n"
      "[AD]\n1=old.dll\n2=gone.txt\n[old.dll]\nDestDir=Bin\n");
  ASSERT_EQ(catalog.size(), 3u);
  // Each: id, then selected, forced, needs the manager closed; platform; files.
  // Ghost has no section of its own: every default.
  std::string flags;
  for (const Component& c : catalog)
    flags += std::to_string(c.id) + ":" + std::to_string(c.bInitiallySelected) +
             std::to_string(c.bForceInstall) + std::to_string(c.bRequiresPMClosed) + " " +
             std::to_string(c.platform) + " " + std::to_string(c.files.size()) + ", ";
  EXPECT_EQ(flags, "4:101 31 0, 0:101 8 1, 0:001 31 1, ");
  const ComponentFile& f = catalog[1].files.at(0);
  EXPECT_EQ(f.sPackage + "|" + f.sCmdLine + "|" + std::to_string(f.platform), "setup.exe|/s|24");
  EXPECT_EQ(f.clsid.Data1, 0x12345678u);
  EXPECT_EQ(f.clsid.Data4[7], 0x88u);
  const Component& a = catalog[1];
  std::string deletes;
  for (const ComponentFile& d : a.deleteFiles) deletes += d.sName + "|" + d.sDestDir + " ";
  EXPECT_EQ(deletes, "old.dll|Bin gone.txt| ");
  const Component& b = catalog[2];
  EXPECT_EQ(b.files.at(0).sFile + "|" + b.files.at(0).version.CatalogText(), "shared.cab|1,0,0,0");
  EXPECT_TRUE(b.deleteFiles.empty());
  // No "Components" section at all: an empty catalogue.
  EXPECT_TRUE(ParseCatalog("[Other]\nx=1\n").empty());
}

// The single bits that match each system; bits above the low byte are not read.
TEST(Platform, BitsAgainstSystems) {
  const struct {
    uint32_t id, major, minor, matching;
  } systems[] = {{1, 4, 0, 1},  {1, 4, 10, 2}, {1, 4, 90, 2 | 4},  // 95, 98, Me
                 {2, 4, 0, 8},  {2, 5, 1, 16}, {2, 3, 51, 0}};     // NT 4, XP, NT 3.51
  for (const auto& s : systems) {
    uint32_t matching = 0;
    for (uint32_t bit = 0; bit < 8; ++bit)
      if (PlatformMatchesSystem((1u << bit) | 256, s.id, s.major, s.minor)) matching |= 1u << bit;
    EXPECT_EQ(matching, s.matching) << s.id << " " << s.major << "." << s.minor;
  }
  EXPECT_FALSE(PlatformMatchesSystem(256, 2, 5, 1));
}

TEST(TargetPaths, FoldersAndRefusedNames) {
  TargetFolders folders{"C:\\windows\\system32", "C:\\windows", "C:\\App\\"};
  const struct {
    const char* name;
    const char* destDir;
    const char* target;
  } cases[] = {
      {"Player.dll", "ldid_sys", "C:\\windows\\system32\\Player.dll"},
      {"x.ini", "LDID_WIN", "C:\\windows\\x.ini"},
      {"a.txt", "Bin\\Sub", "C:\\App\\Bin\\Sub\\a.txt"},
      {"..x.dll", "", "C:\\App\\..x.dll"},  // a name, not a climb
      {"Console.dll", "Com10", "C:\\App\\Com10\\Console.dll"},  // not a device
      // Refused: climbing, rooted or UNC, drives and streams, devices, no name.
      {"..\\evil.dll", "", ""},  {"x.dll", "Bin/../..", ""},  {"x.dll", "Bin\\.. \\x", ""},
      {"\\\\server\\share\\x.dll", "", ""},  {"x.dll:stream", "", ""},  {"x.dll", "Bin\\Com1", ""},
      {"", "Bin", ""},  {"..\\x.dll", "LDID_SYS", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " | " + c.destDir);
    CapturedLog log;
    EXPECT_EQ(ComposeTargetPath(c.name, c.destDir, folders), c.target);
    EXPECT_EQ(log.lines.size(), std::string(c.target).empty() ? 1u : 0u);
  }
  // Without a known installation folder nothing lands in the current folder.
  TargetFolders noApp{"C:\\windows\\system32", "C:\\windows", ""};
  EXPECT_EQ(ComposeTargetPath("x.dll", "", noApp), "");
  EXPECT_EQ(ComposeTargetPath("x.dll", "LDID_WIN", noApp), "C:\\windows\\x.dll");
}

// Fields split at commas, untrimmed; root and flag fields match by containment.
TEST(RegistryLines, AddAndDeleteLines) {
  std::string adds;
  for (const char* line : {"HKLM , Software\\Foo,Bar,FLG_ADDREG_TYPE_DWORD, 12",
                           "HKEY_USERS,S,N,FLG_ADDREG_TYPE_DWORD,-2",
                           "HKEY_CURRENT_USER,S,,flags FLG_ADDREG_TYPE_SZ,a,b",
                           "HKCR,S,N,FLG_ADDREG_TYPE_BINARY,00 01 02"})
    adds += Fields(RegistryEntry::ParseAdd(line)) + "\n";
  EXPECT_EQ(adds, "HKLM| Software\\Foo|Bar|4||12|4\nHKU|S|N|4||4294967294|4\nHKCU|S||1|a|0|2\n"
                  "HKCR|S|N|3||0|0\n");
  EXPECT_EQ(Fields(RegistryEntry::ParseDelete("HKCU,Software\\X,Name,extra")) + "/" +
                Fields(RegistryEntry::ParseDelete("HKLM,Software\\X")),
            "HKCU|Software\\X|Name|0||0|0/HKLM|Software\\X||0||0|0");
  // The first root named in the order HKCR, HKCU, HKLM, HKU wins; case counts.
  std::string roots;
  for (const char* field : {"xHKCRx", "HKEY_CLASSES_ROOT", "HKEY_LOCAL_MACHINE", "HKU",
                            "HKCU HKLM", "HKEY", "hklm"})
    roots += RegistryRootName(ParseRegistryRoot(field)) + std::string(",");
  EXPECT_EQ(roots, "HKCR,HKCR,HKLM,HKU,HKCU,,,");
}

TEST(DownloadSizeText, KilobytesWithAThousandsComma) {
  std::string texts;
  for (uint32_t bytes : {0u, 1u, 1023u, 1024u, 1048575u, 1048576u, 2053120u})
    texts += FormatDownloadSize(bytes) + " ";
  EXPECT_EQ(texts, "0KB <1KB <1KB 1KB 1023KB 1,024KB 2,005KB ");
}

}  // namespace
