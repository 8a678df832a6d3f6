// The catalogue parse: components, files, hooks, registry lines, sizes, the
// platform bits and the destinations, from catalogue text.
#include "catalog/ComponentCatalog.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "catalog/TargetPath.h"
#include "tests/unit/catalog/CatalogTestUtil.h"

namespace {

// Catalogue text with CR LF line ends from lines joined by "\n".
std::string Inf(const std::string& lines) {
  std::string out;
  for (char c : lines) {
    if (c == '\n')
      out += "\r\n";
    else
      out.push_back(c);
  }
  return out;
}

ComponentCatalog ParseCatalog(const std::string& text, uint16_t langId = 0x0409) {
  IniFile ini(langId);
  ini.Parse(text.data(), text.size());
  ComponentCatalog catalog;
  LoadComponentsFrom(catalog, ini);
  return catalog;
}

const char kWorkedExample[] =
    "[Components]\n"
    "Player=3;2,1,0,7\n"
    "[Player]\n"
    "Description=Audio player\n"
    "Description LANGID 7=Audio-Player\n"
    "RequiresPMClosed=No\n"
    "SourceDisksFiles=PlayerFiles\n"
    "Hook1=PlayerSetup.exe\n"
    "[PlayerFiles]\n"
    "1=Player.dll\n"
    "2=Player.chm\n"
    "[Player.dll]\n"
    "File=Player.cab\n"
    "DestDir=LDID_SYS\n"
    "FileVersion=2,1,0,7\n"
    "Size=120KB\n"
    "OLESelfRegistered=Yes\n"
    "[Player.chm]\n"
    "File=Player.cab\n"
    "FileVersion=-1,-1,-1,-1\n"
    "[PlayerSetup.exe]\n"
    "File=Player.cab\n"
    "Run=/quiet\n"
    "FileVersion=1,0,0,0\n";

TEST(CatalogParse, WorkedExampleGivesExactlyItsComponent) {
  catalog_test::CapturedLog log;
  const ComponentCatalog catalog = ParseCatalog(Inf(kWorkedExample));
  // The component's own fields reach the log line.
  const std::vector<std::string> want = {
      "Parsing component Player\n",
      "Component Player: bForceInstall = 0, bInitiallySelected = 1, bRequiresPMClosed = 0, "
      "sDescription = Audio player, sMoreInfo = , sImageURL = , platform = 31\n",
      "Parsing of component Player succeeded\n"};
  EXPECT_EQ(log.lines, want);
  ASSERT_EQ(catalog.size(), 1u);
  const Component& c = catalog[0];
  EXPECT_EQ(c.sName, "Player");
  EXPECT_EQ(c.id, 3);
  EXPECT_EQ(c.version.CatalogText(), "2,1,0,7");
  EXPECT_EQ(c.sDescription, "Audio player");
  EXPECT_TRUE(c.addRegistry.empty() && c.deleteRegistry.empty() && c.deleteFiles.empty());
  ASSERT_EQ(c.files.size(), 2u);
  const ComponentFile& dll = c.files[0];
  EXPECT_EQ(dll.sName + "|" + dll.sFile + "|" + dll.sDestDir + "|" + dll.version.CatalogText(),
            "Player.dll|Player.cab|LDID_SYS|2,1,0,7");
  EXPECT_EQ(dll.size, 122880u);
  EXPECT_TRUE(dll.bOLESelfRegistered);
  EXPECT_TRUE(IsNullClassId(dll.clsid));
  EXPECT_EQ(dll.platform, 31u);
  const ComponentFile& chm = c.files[1];
  EXPECT_EQ(chm.sName + "|" + chm.sFile + "|" + chm.sDestDir, "Player.chm|Player.cab|");
  EXPECT_TRUE(chm.version.IsInstallIfMissing());
  EXPECT_EQ(chm.size, 0u);
  EXPECT_FALSE(chm.bOLESelfRegistered);
  ASSERT_EQ(c.hooks.size(), 1u);
  const ComponentHook& hook = c.hooks[0];
  EXPECT_EQ(hook.sHookName + "|" + hook.sName + "|" + hook.sFile + "|" + hook.sRun + "|" +
                hook.version.CatalogText() + "|" + hook.sDestDir,
            "PlayerSetup.exe|PlayerSetup.exe|Player.cab|/quiet|1,0,0,0|");
  EXPECT_FALSE(hook.bDeleteAfterExec);
  // A German user sees the German description.
  EXPECT_EQ(ParseCatalog(Inf(kWorkedExample), 0x0407)[0].sDescription, "Audio-Player");
}

TEST(CatalogParse, ComponentsValues) {
  struct Case {
    const char* value;
    int id;
    const char* version;
  } cases[] = {
      {"1,2,0,5", 0, "1,2,0,5"},   {"17;1,2,0,5", 17, "1,2,0,5"}, {"-1;3,0,0,0", -1, "3,0,0,0"},
      {"1,2", 0, "1,2,0,0"},       {"7;", 7, "0,0,0,0"},           {"x;1,2,3,4", 0, "0,0,0,0"},
      {"", 0, "0,0,0,0"},          {"1, 2,3,4", 0, "1,2,3,4"},     {"1 ,2,3,4", 0, "1,0,0,0"},
      {"5 ;1,1,1,1", 5, "0,0,0,0"}, {"99999999999,1,1,1", 0, "2147483647,1,1,1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    const ComponentCatalog catalog =
        ParseCatalog(Inf(std::string("[Components]\nP=") + c.value + "\n"));
    ASSERT_EQ(catalog.size(), 1u);
    EXPECT_EQ(catalog[0].id, c.id);
    EXPECT_EQ(catalog[0].version.CatalogText(), c.version);
  }
}

TEST(CatalogParse, SizesAndBooleans) {
  struct SizeCase {
    const char* text;
    uint32_t bytes;
  } sizes[] = {{"150KB", 153600},  {"2 mb", 2097152}, {"1.5MB", 1048576}, {"900", 900},
               {"", 0},            {"abc", 0},        {"12kB", 12288},    {"3 MBKB", 3145728},
               {"4096MB", 0},      {"-1", 0xFFFFFFFFu}};
  for (const SizeCase& c : sizes) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ParseSizeText(c.text), c.bytes);
  }
  struct BoolCase {
    const char* line;
    bool selected;
  } bools[] = {{"Initially Selected=yes", false}, {"Initially Selected=YES", false},
               {"Initially Selected=1", false},   {"Initially Selected=Yes", true},
               {"Initially Selected=", true},     {"Other=x", true},
               {"Initially Selected =No", true}};
  for (const BoolCase& c : bools) {
    SCOPED_TRACE(c.line);
    const ComponentCatalog catalog =
        ParseCatalog(Inf(std::string("[Components]\nP=1,0,0,0\n[P]\n") + c.line + "\n"));
    ASSERT_EQ(catalog.size(), 1u);
    EXPECT_EQ(catalog[0].bInitiallySelected, c.selected);
  }
}

TEST(CatalogParse, HookListsEndAtTheFirstGapOrHookWithoutFile) {
  const std::string base =
      "[Components]\nP=1,0,0,0\n[P]\nHook1=A\nHook2=B\nHook4=D\n"
      "[B]\nFile=b.cab\nSize=2KB\nDeleteAfterExec=Yes\nPlatform=16\n[D]\nFile=d.cab\n";
  ComponentCatalog catalog = ParseCatalog(Inf(base + "[A]\nFile=a.cab\n"));
  ASSERT_EQ(catalog.size(), 1u);
  ASSERT_EQ(catalog[0].hooks.size(), 2u);
  EXPECT_EQ(catalog[0].hooks[0].sHookName, "A");
  EXPECT_EQ(catalog[0].hooks[0].version.CatalogText(), "0,0,0,0");
  EXPECT_EQ(catalog[0].hooks[1].sHookName, "B");
  EXPECT_EQ(catalog[0].hooks[1].size, 2048u);
  EXPECT_TRUE(catalog[0].hooks[1].bDeleteAfterExec);
  EXPECT_EQ(catalog[0].hooks[1].platform, 16u);
  // A hook without "File" ends the list; the component itself stays.
  catalog = ParseCatalog(Inf(base + "[A]\nRun=x\n"));
  ASSERT_EQ(catalog.size(), 1u);
  EXPECT_TRUE(catalog[0].hooks.empty());
}

TEST(CatalogParse, RegistryLinesSectionFirstThenNumberedWithoutGaps) {
  const ComponentCatalog catalog = ParseCatalog(Inf(
      "[Components]\nP=1,0,0,0\nQ=1,0,0,0\n"
      "[P]\nAdd Registry=PAdd\nDelete Registry=PDel\n"
      "Add Registry0=HKCU,Soft\\N,Zero,FLG_ADDREG_TYPE_SZ,z\n"
      "Add Registry1=HKCU,Soft\\N,One,FLG_ADDREG_TYPE_DWORD,1\n"
      "Add Registry3=HKCU,Soft\\N,Three,FLG_ADDREG_TYPE_SZ,3\n"
      "Delete Registry0=HKLM,Soft\\D,Gone\n"
      "[PAdd]\nx=HKLM,Soft\\A,Name,FLG_ADDREG_TYPE_SZ,abc\n"
      "[PDel]\nx=HKCR,Soft\\B,Old\n"
      "[Q]\nAdd Registry1=HKCU,Soft\\N,One,FLG_ADDREG_TYPE_SZ,1\n"));
  ASSERT_EQ(catalog.size(), 2u);
  const Component& p = catalog[0];
  ASSERT_EQ(p.addRegistry.size(), 3u);
  EXPECT_EQ(p.addRegistry[0].name, "Name");
  EXPECT_EQ(p.addRegistry[1].name, "Zero");
  EXPECT_EQ(p.addRegistry[2].name, "One");
  ASSERT_EQ(p.deleteRegistry.size(), 2u);
  EXPECT_EQ(p.deleteRegistry[0].root, RegistryRoot::kClassesRoot);
  EXPECT_EQ(p.deleteRegistry[1].name, "Gone");
  // Without "Add Registry0" no numbered line is read.
  EXPECT_TRUE(catalog[1].addRegistry.empty());
}

TEST(CatalogParse, MissingFileOrVersionDropsTheComponent) {
  for (const char* missing : {"File", "FileVersion"}) {
    SCOPED_TRACE(missing);
    std::string section = "[F]\n";
    if (std::string(missing) != "File") section += "File=f.cab\n";
    if (std::string(missing) != "FileVersion") section += "FileVersion=1,0,0,0\n";
    catalog_test::CapturedLog log;
#ifdef _WIN32
    ::SetLastError(0);  // the code the parser reports when the system has none
#endif
    const ComponentCatalog catalog = ParseCatalog(
        Inf("[Components]\nBad=1,0,0,0\nGood=2,0,0,0\n[Bad]\nSourceDisksFiles=L\n"
            "[L]\n1=Ok\n2=F\n[Ok]\nFile=o.cab\nFileVersion=1,0,0,0\n" + section));
    ASSERT_EQ(catalog.size(), 1u);
    EXPECT_EQ(catalog[0].sName, "Good");
    EXPECT_TRUE(log.Has("InitComponent failed with error 13 for the component Bad\n"));
    EXPECT_FALSE(log.Has("Parsing of component Bad succeeded\n"));
  }
}

TEST(CatalogParse, MissingSectionsGiveDefaults) {
  // A component without a section, and one naming lists that do not exist.
  const ComponentCatalog catalog = ParseCatalog(Inf(
      "[Components]\nGhost=4;1,0,0,0\nLists=1,0,0,0\n"
      "[Lists]\nSourceDisksFiles=NoFiles\nDeleteFiles=NoDel\nAdd Registry=NoAdd\n"
      "Platform=8\nForceInstall=Yes\nImage=pics\\p.bmp\n"
      "[Other]\nx=1\n"));
  ASSERT_EQ(catalog.size(), 2u);
  EXPECT_EQ(catalog[0].id, 4);
  EXPECT_TRUE(catalog[0].files.empty());
  EXPECT_TRUE(catalog[0].bInitiallySelected);
  EXPECT_TRUE(catalog[0].bRequiresPMClosed);
  EXPECT_EQ(catalog[0].platform, 31u);
  EXPECT_TRUE(catalog[1].files.empty());
  EXPECT_TRUE(catalog[1].deleteFiles.empty());
  EXPECT_EQ(catalog[1].platform, 8u);
  EXPECT_TRUE(catalog[1].bForceInstall);
  EXPECT_EQ(catalog[1].sImageURL, "pics\\p.bmp");
  // No "Components" section at all, or an empty one: an empty catalogue.
  EXPECT_TRUE(ParseCatalog(Inf("[Other]\nx=1\n")).empty());
  EXPECT_TRUE(ParseCatalog(Inf("[Components]\n[Other]\nx=1\n")).empty());
}

TEST(CatalogParse, FileFieldsDeleteEntriesAndSharedDownloads) {
  const ComponentCatalog catalog = ParseCatalog(Inf(
      "[Components]\nA=1,0,0,0\nB=1,0,0,0\n"
      "[A]\nSourceDisksFiles=AF\nDeleteFiles=AD\n[B]\nSourceDisksFiles=BF\n"
      "[AF]\nx=srv.dll\n[BF]\ny=other.txt\n"
      "[srv.dll]\nFile=shared.cab\nPackage=setup.exe\nCmdLine=/s\nCLSID="
      "{12345678-9ABC-DEF0-1122-334455667788}\nFileVersion=1,2,3,4\nPlatform=24\n"
      "[other.txt]\nFile=shared.cab\nFileVersion=1\n"
      "[AD]\n1=old.dll\n2=gone.txt\n[old.dll]\nDestDir=Bin\n"));
  ASSERT_EQ(catalog.size(), 2u);
  const ComponentFile& f = catalog[0].files.at(0);
  EXPECT_EQ(f.sPackage, "setup.exe");
  EXPECT_EQ(f.sCmdLine, "/s");
  EXPECT_EQ(f.platform, 24u);
  EXPECT_EQ(f.clsid.Data1, 0x12345678u);
  EXPECT_EQ(f.clsid.Data2, 0x9ABCu);
  EXPECT_EQ(f.clsid.Data4[0], 0x11u);
  EXPECT_EQ(f.clsid.Data4[7], 0x88u);
  EXPECT_EQ(catalog[1].files.at(0).sFile, "shared.cab");
  EXPECT_EQ(catalog[1].files.at(0).version.CatalogText(), "1,0,0,0");
  ASSERT_EQ(catalog[0].deleteFiles.size(), 2u);
  EXPECT_EQ(catalog[0].deleteFiles[0].sName, "old.dll");
  EXPECT_EQ(catalog[0].deleteFiles[0].sDestDir, "Bin");
  EXPECT_EQ(catalog[0].deleteFiles[1].sDestDir, "");
}

// A missing file fails with the reader's line, an empty one without a line;
// either leaves an empty catalogue.
TEST(CatalogParse, LoadComponentsFromAFile) {
  ComponentCatalog catalog(1);
  EXPECT_EQ(LoadComponents(catalog, nullptr), 0);
  EXPECT_EQ(catalog.size(), 1u);  // untouched without a path
  catalog_test::CapturedLog log;
  const std::string missing = catalog_test::TempPath("missing.inf");
  EXPECT_EQ(LoadComponents(catalog, missing.c_str()), 1);
  EXPECT_TRUE(catalog.empty());
  ASSERT_EQ(log.lines.size(), 1u);
  EXPECT_EQ(log.lines[0].rfind("Failed to open INI file '" + missing + "'. Error ", 0), 0u);
  EXPECT_EQ(log.lines[0].back(), '\n');
  const std::string empty = catalog_test::TempPath("empty.inf");
  const std::string path = catalog_test::TempPath("worked.inf");
  ASSERT_TRUE(catalog_test::WriteFile(empty, "") &&
              catalog_test::WriteFile(path, Inf(kWorkedExample)));
  EXPECT_EQ(LoadComponents(catalog, path.c_str()), 0);
  EXPECT_EQ(catalog.size(), 1u);
  EXPECT_EQ(LoadComponents(catalog, empty.c_str()), 1);
  EXPECT_TRUE(catalog.empty());
  EXPECT_EQ(log.lines.size(), 1u + 3);  // the worked example's three lines only
  std::remove(empty.c_str());
  std::remove(path.c_str());
}

TEST(CatalogParse, VersionQuadOrderAndTexts) {
  VersionQuad a, b, minus;
  ParseVersionQuad("1,2,3,4", a);
  ParseVersionQuad("1,2,4,0", b);
  ParseVersionQuad("-1,-1,-1,-1", minus);
  EXPECT_TRUE(a.Compare(b) < 0 && b.Compare(a) > 0 && minus.Compare(a) < 0);  // signed parts
  EXPECT_EQ(a.RegistryText(), "1, 2, 3, 4");
  EXPECT_EQ(ParseVersionQuad("3,x", b), 1);
  EXPECT_EQ(b.CatalogText(), "3,0,0,0");
}

TEST(Platform, BitsAgainstSystems) {
  struct System {
    const char* name;
    uint32_t id, major, minor;
    uint32_t matching;  // the single bits that match
  } systems[] = {
      {"Windows 95", 1, 4, 0, 1},       {"Windows 98", 1, 4, 10, 2},
      {"Windows Me", 1, 4, 90, 2 | 4}, {"NT 4.0", 2, 4, 0, 8},
      {"Windows XP", 2, 5, 1, 16},      {"Windows 7", 2, 6, 1, 16},
      {"NT 3.51", 2, 3, 51, 0},         {"Win32s", 0, 3, 10, 0},
  };
  for (const System& s : systems) {
    SCOPED_TRACE(s.name);
    for (uint32_t bit = 0; bit < 8; ++bit)
      EXPECT_EQ(PlatformMatchesSystem(1u << bit, s.id, s.major, s.minor),
                ((s.matching >> bit) & 1) != 0)
          << "bit " << bit;
    EXPECT_EQ(PlatformMatchesSystem(31, s.id, s.major, s.minor), s.matching != 0);
    EXPECT_FALSE(PlatformMatchesSystem(0, s.id, s.major, s.minor));
    EXPECT_FALSE(PlatformMatchesSystem(256, s.id, s.major, s.minor));
    EXPECT_EQ(PlatformMatchesSystem(256 | 16, s.id, s.major, s.minor), (s.matching & 16) != 0);
  }
}

TEST(TargetPaths, FoldersAndRefusedNames) {
  TargetFolders folders{"C:\\windows\\system32", "C:\\windows", "C:\\App\\"};
  struct Case {
    const char* name;
    const char* destDir;
    const char* target;
  } cases[] = {
      {"Player.dll", "LDID_SYS", "C:\\windows\\system32\\Player.dll"},
      {"Player.dll", "ldid_sys", "C:\\windows\\system32\\Player.dll"},
      {"x.ini", "LDID_WIN", "C:\\windows\\x.ini"},
      {"Player.dll", "Bin", "C:\\App\\Bin\\Player.dll"},
      {"a.txt", "Bin\\Sub", "C:\\App\\Bin\\Sub\\a.txt"},
      {"Player.dll", "", "C:\\App\\Player.dll"},
      {"Sub\\x.dll", "", "C:\\App\\Sub\\x.dll"},
      {"..x.dll", "", "C:\\App\\..x.dll"},  // a name, not a climb
      {"x.dll", "LDID_APP", "C:\\App\\LDID_APP\\x.dll"},
      // Refused: rooted, drive, UNC, streams, climbing, empty names.
      {"..\\evil.dll", "", ""},
      {"x.dll", "..", ""},
      {"x.dll", "Bin\\..\\..", ""},
      {"x.dll", "Bin/../..", ""},
      {"x.dll", "...", ""},
      {"x.dll", "Bin\\.. \\x", ""},
      {"x.dll", "C:\\Windows", ""},
      {"x.dll", "C:", ""},
      {"C:evil.dll", "", ""},
      {"\\\\server\\share\\x.dll", "", ""},
      {"x.dll", "\\Windows", ""},
      {"x.dll", "/etc", ""},
      {"x.dll:stream", "", ""},
      {"", "Bin", ""},
      {"..\\x.dll", "LDID_SYS", ""},
      // Device names (the cabinet member-name table has every kind) as a
      // folder part of the name or of DestDir; look-alikes are names.
      {"Aux\\x.dll", "", ""},
      {"x.dll", "Bin\\Com1", ""},
      {"Console.dll", "Com10", "C:\\App\\Com10\\Console.dll"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " | " + c.destDir);
    catalog_test::CapturedLog log;
    EXPECT_EQ(ComposeTargetPath(c.name, c.destDir, folders), c.target);
    EXPECT_EQ(log.lines.size(), std::string(c.target).empty() ? 1u : 0u);
  }
  // Without a known installation folder nothing lands in the current folder.
  TargetFolders noApp{"C:\\windows\\system32", "C:\\windows", ""};
  EXPECT_EQ(ComposeTargetPath("x.dll", "", noApp), "");
  EXPECT_EQ(ComposeTargetPath("x.dll", "LDID_WIN", noApp), "C:\\windows\\x.dll");
}

}  // namespace
