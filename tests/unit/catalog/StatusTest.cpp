// Installed status, update decisions and download sizes on the real registry
// and files of the test's prefix. The installation folder is a scratch folder
// named by HKLM\SOFTWARE\Pellory; files with chosen versions are stamped
// copies of the fake manager.
#include <windows.h>

#include <gtest/gtest.h>

#include "catalog/ComponentStatus.h"
#include "catalog/DownloadSize.h"
#include "catalog/InstalledState.h"
#include "core/Locations.h"
#include "core/Switches.h"
#include "tests/support/Scratch.h"
#include "tests/unit/catalog/CatalogTestUtil.h"

namespace {

using catalog_test::CapturedLog;
using testing_support::RegDeleteTree;
using testing_support::RegWriteString;
using testing_support::ScratchDir;

const char kHooksKey[] = "Software\\Pellory\\Upgrade\\Hooks";
const char kClsidText[] = "{7C3E91A2-5B4D-4F60-9A18-2D6E0B4C8F71}";
const char kClassKey[] = "CLSID\\{7C3E91A2-5B4D-4F60-9A18-2D6E0B4C8F71}";

VersionQuad Quad(int32_t a, int32_t b, int32_t c, int32_t d) {
  VersionQuad v;
  v.a = a;
  v.b = b;
  v.c = c;
  v.d = d;
  return v;
}

ComponentFile File(const std::string& name, const VersionQuad& version,
                   const std::string& download = "Player.cab", uint32_t size = 0) {
  ComponentFile file;
  file.sName = name;
  file.version = version;
  file.sFile = download;
  file.size = size;
  return file;
}

ComponentHook Hook(const std::string& name, const VersionQuad& version,
                   const std::string& download = "Hook.cab", uint32_t size = 0) {
  ComponentHook hook;
  hook.sName = name;
  hook.sHookName = name;
  hook.version = version;
  hook.sFile = download;
  hook.size = size;
  return hook;
}

// Setup mode ("-setup") for the length of a scope.
class SetupModeScope {
 public:
  SetupModeScope() : saved_(ProcessArguments()) { SetProcessArguments({"-setup"}); }
  ~SetupModeScope() { SetProcessArguments(saved_); }
  SetupModeScope(const SetupModeScope&) = delete;
  SetupModeScope& operator=(const SetupModeScope&) = delete;

 private:
  std::vector<std::string> saved_;
};

class StatusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegDeleteTree(HKEY_LOCAL_MACHINE, kPelloryKey);
    RegDeleteTree(HKEY_CLASSES_ROOT, kClassKey);
    ASSERT_TRUE(RegWriteString(HKEY_LOCAL_MACHINE, kPelloryKey, "PelloryAppDir", app_.Path()));
  }
  void TearDown() override {
    RegDeleteTree(HKEY_LOCAL_MACHINE, kPelloryKey);
    RegDeleteTree(HKEY_CLASSES_ROOT, kClassKey);
  }

  // A file in the installation folder whose version resource says a.b.c.d.
  void Stamp(const std::string& name, WORD a, WORD b, WORD c, WORD d) {
    const std::string manager = testing_support::WinePath(FIXTURES_DIR_UNIX) + "\\Manager.exe";
    ASSERT_TRUE(testing_support::CopyWithVersion(manager, app_.Path() + name, a, b, c, d));
  }
  void Record(const std::string& component) {
    ASSERT_TRUE(RegWriteString(HKEY_LOCAL_MACHINE, kComponentsKey, component, "1, 0, 0, 0"));
  }
  void RecordHook(const std::string& hook, const std::string& text) {
    ASSERT_TRUE(RegWriteString(HKEY_LOCAL_MACHINE, kHooksKey, hook, text));
  }
  std::string InApp(const std::string& name) const { return app_.Path() + name; }

  ScratchDir app_{"status"};
};

// --- Status ------------------------------------------------------------------

TEST_F(StatusTest, NotInstalledWithoutARecordWhateverIsOnDisk) {
  Stamp("Player.dll", 2, 1, 0, 7);
  Component player;
  player.sName = "Player";
  player.files.push_back(File("Player.dll", Quad(2, 1, 0, 7)));
  {
    CapturedLog log;
    EXPECT_EQ(GetComponentStatus(player), ComponentStatus::NotInstalled);
    EXPECT_EQ(log.lines, std::vector<std::string>{
                             "Failed to open the registry key "
                             "'HKLM\\Software\\Pellory\\Upgrade\\Components. Error 0x02"});
  }
  Record("Other");
  {
    CapturedLog log;
    EXPECT_EQ(GetComponentStatus(player), ComponentStatus::NotInstalled);
    EXPECT_EQ(log.lines, std::vector<std::string>{
                             "Failed to query registry entry Player under the key "
                             "'HKLM\\Software\\Pellory\\Upgrade\\Components. Error 0x02"});
  }
  // A record that is not a string is damaged: not installed either.
  HKEY key = nullptr;
  ASSERT_EQ(::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kComponentsKey, 0, KEY_SET_VALUE, &key),
            ERROR_SUCCESS);
  const DWORD number = 1;
  ::RegSetValueExA(key, "Player", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                   sizeof(number));
  ::RegCloseKey(key);
  {
    CapturedLog log;
    EXPECT_EQ(GetComponentStatus(player), ComponentStatus::NotInstalled);
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_NE(log.lines[0].find("Player under the key"), std::string::npos);
    EXPECT_NE(log.lines[0].find("Error 0x0d"), std::string::npos);
  }
  // Its value's text is not looked at: presence means installed.
  ASSERT_TRUE(RegWriteString(HKEY_LOCAL_MACHINE, kComponentsKey, "Player", ""));
  EXPECT_EQ(GetComponentStatus(player), ComponentStatus::UpToDate);
}

TEST_F(StatusTest, FilesAgainstTheCatalogueVersions) {
  Record("Player");
  Stamp("Player.dll", 2, 1, 0, 7);
  Stamp("Codec.dll", 1, 10, 0, 0);
  Component player;
  player.sName = "Player";
  player.version = Quad(9, 9, 9, 9);  // the component's own version takes no part
  player.files.push_back(File("Player.dll", Quad(2, 1, 0, 7)));
  player.files.push_back(File("Codec.dll", Quad(1, 9, 0, 0)));  // 1.10 on disk is newer
  EXPECT_EQ(GetComponentStatus(player), ComponentStatus::UpToDate);

  Stamp("Player.dll", 2, 1, 0, 8);  // newer than the catalogue: still current
  EXPECT_EQ(GetComponentStatus(player), ComponentStatus::UpToDate);

  Stamp("Player.dll", 2, 0, 9, 7);  // an earlier part decides: 2.1.0.7 > 2.0.9.7
  EXPECT_EQ(GetComponentStatus(player), ComponentStatus::UpdateAvailable);
  Stamp("Player.dll", 2, 1, 0, 6);  // one build older
  EXPECT_EQ(GetComponentStatus(player), ComponentStatus::UpdateAvailable);

  Stamp("Player.dll", 2, 1, 0, 7);
  player.files[1].version = Quad(1, 11, 0, 0);
  EXPECT_EQ(GetComponentStatus(player), ComponentStatus::UpdateAvailable);
}

TEST_F(StatusTest, UnreadableFilesAreOutOfDate) {
  Record("Help");
  ASSERT_TRUE(testing_support::WriteFileBytes(InApp("Help.chm"), "ITSF data"));
  Component help;
  help.sName = "Help";
  help.files.push_back(File("Help.chm", Quad(1, 0, 0, 0)));
  EXPECT_EQ(GetComponentStatus(help), ComponentStatus::UpdateAvailable);
  // Also with the "install when missing" marker: the rule reads versions only.
  help.files[0].version = Quad(-1, -1, -1, -1);
  EXPECT_EQ(GetComponentStatus(help), ComponentStatus::UpdateAvailable);
  // A missing file.
  help.files[0] = File("Missing.dll", Quad(1, 0, 0, 0));
  EXPECT_EQ(GetComponentStatus(help), ComponentStatus::UpdateAvailable);
}

TEST_F(StatusTest, HooksByTheirRecordedVersions) {
  Record("Player");
  Component player;
  player.sName = "Player";
  player.hooks.push_back(Hook("Setup1.exe", Quad(1, 0, 0, 0)));
  player.hooks.push_back(Hook("Setup2.exe", Quad(2, 0, 0, 0)));
  EXPECT_EQ(GetComponentStatus(player), ComponentStatus::UpdateAvailable);  // never ran

  RecordHook("Setup1.exe", "1, 0, 0, 0");
  EXPECT_EQ(GetComponentStatus(player), ComponentStatus::UpdateAvailable);  // Setup2 never ran
  RecordHook("Setup2.exe", "2");  // missing parts count 0
  EXPECT_EQ(GetComponentStatus(player), ComponentStatus::UpToDate);
  player.hooks[1].version = Quad(2, 0, 0, 1);
  EXPECT_EQ(GetComponentStatus(player), ComponentStatus::UpdateAvailable);
  RecordHook("Setup2.exe", "2,0,0,2");
  EXPECT_EQ(GetComponentStatus(player), ComponentStatus::UpToDate);
  RecordHook("Setup1.exe", "");  // an empty record is a hook that never ran
  EXPECT_EQ(GetComponentStatus(player), ComponentStatus::UpdateAvailable);
}

TEST(VersionOrder, PartsCompareAsSignedNumbers) {
  EXPECT_TRUE(IsNewerVersion(Quad(1, 10, 0, 0), Quad(1, 9, 0, 0)));
  EXPECT_FALSE(IsNewerVersion(Quad(1, 9, 0, 0), Quad(1, 10, 0, 0)));
  EXPECT_FALSE(IsNewerVersion(Quad(1, 2, 3, 4), Quad(1, 2, 3, 4)));
  EXPECT_TRUE(IsNewerVersion(Quad(0, 0, 0, 0), Quad(-1, -1, -1, -1)));
  EXPECT_FALSE(IsNewerVersion(Quad(1, 0, 0, -1), Quad(1, 0, 0, 0)));
  EXPECT_TRUE(IsNewerVersion(Quad(2, 0, 0, 0), Quad(1, 99, 99, 99)));
}

// Entries the reader refused (TargetPath "") are never installed: they make
// nothing out of date, need nothing and count nothing, and the refusal is
// logged once per call.
TEST_F(StatusTest, EntriesWithoutADestinationAreLeftOut) {
  Record("Player");
  Stamp("Player.dll", 1, 0, 0, 0);
  Component player;
  player.sName = "Player";
  player.files.push_back(File("Player.dll", Quad(1, 0, 0, 0), "Player.cab", 100));
  player.files.push_back(File("..\\..\\Evil.dll", Quad(1, 0, 0, 0), "Evil.cab", 5000));
  player.hooks.push_back(Hook("..\\Evil.exe", Quad(1, 0, 0, 0), "EvilHook.cab", 7000));
  {
    CapturedLog log;
    EXPECT_EQ(GetComponentStatus(player), ComponentStatus::UpToDate);
    EXPECT_EQ(log.lines.size(), 2u);  // one per refused entry
  }
  {
    CapturedLog log;
    EXPECT_FALSE(NeedsUpdate(player.files[1]));
    EXPECT_EQ(log.lines.size(), 1u);
  }
  {
    CapturedLog log;
    EXPECT_EQ(ComponentDownloadSize(player, true), 100u);
    EXPECT_EQ(log.lines.size(), 2u);
  }
  EXPECT_EQ(ComponentDownloadSize(player, false), 0u);
  EXPECT_EQ(SelectionDownloadSize({player}, true), 100u);
  EXPECT_EQ(SelectionDownloadSize({player}, false), 0u);

  SetupModeScope setup;
  EXPECT_FALSE(NeedsUpdate(player.files[1]));
}

// --- NeedsUpdate -------------------------------------------------------------

TEST_F(StatusTest, NeedsUpdateByVersionMarkerAndPlatform) {
  Stamp("Player.dll", 2, 1, 0, 7);
  ComponentFile file = File("Player.dll", Quad(2, 1, 0, 7));
  EXPECT_FALSE(NeedsUpdate(file));
  file.version = Quad(2, 1, 0, 8);
  EXPECT_TRUE(NeedsUpdate(file));
  file.version = Quad(2, 1, 0, 6);
  EXPECT_FALSE(NeedsUpdate(file));

  // Missing, or without a version resource: needed.
  ComponentFile missing = File("Missing.dll", Quad(1, 0, 0, 0));
  EXPECT_TRUE(NeedsUpdate(missing));
  ASSERT_TRUE(testing_support::WriteFileBytes(InApp("Help.chm"), "ITSF data"));
  ComponentFile data = File("Help.chm", Quad(1, 0, 0, 0));
  EXPECT_TRUE(NeedsUpdate(data));

  // Installed only when missing, whatever the platform says.
  data.version = Quad(-1, -1, -1, -1);
  missing.version = Quad(-1, -1, -1, -1);
  EXPECT_FALSE(NeedsUpdate(data));
  EXPECT_TRUE(NeedsUpdate(missing));
  missing.platform = 8;
  EXPECT_TRUE(NeedsUpdate(missing));

  // Another platform (NT 4 only; the prefix is Windows 7): not needed.
  ComponentFile nt4 = File("Missing.dll", Quad(1, 0, 0, 0));
  nt4.platform = 8;
  EXPECT_FALSE(NeedsUpdate(nt4));
  file.version = Quad(3, 0, 0, 0);
  file.platform = 8;
  EXPECT_FALSE(NeedsUpdate(file));
}

TEST_F(StatusTest, NeedsUpdateForRegisteredClasses) {
  ScratchDir servers("srv");
  const std::string server = servers.Path() + "Server.dll";
  const std::string manager = testing_support::WinePath(FIXTURES_DIR_UNIX) + "\\Manager.exe";
  ASSERT_TRUE(testing_support::CopyWithVersion(manager, server, 3, 0, 0, 0));
  // The file in the installation folder is current, but no class is registered.
  Stamp("Server.dll", 3, 0, 0, 0);
  ComponentFile file = File("Server.dll", Quad(3, 0, 0, 0));
  ASSERT_TRUE(ParseClassIdText(kClsidText, file.clsid));
  EXPECT_TRUE(NeedsUpdate(file));

  // Registered: the registered server's version decides.
  ASSERT_TRUE(RegWriteString(HKEY_CLASSES_ROOT, std::string(kClassKey) + "\\InprocServer32", "",
                             server));
  {
    CapturedLog log;
    EXPECT_FALSE(NeedsUpdate(file));
    EXPECT_EQ(log.lines, std::vector<std::string>{std::string("COM server with CLSID ") +
                                                  kClsidText + " is already installed in " +
                                                  server + "."});
  }
  // Also with a DestDir: what is registered counts, not the missing Bin copy.
  ComponentFile inBin = file;
  inBin.sDestDir = "Bin";
  EXPECT_FALSE(NeedsUpdate(inBin));
  ASSERT_TRUE(testing_support::CopyWithVersion(manager, server, 2, 9, 0, 0));
  EXPECT_TRUE(NeedsUpdate(file));
  // With the marker: the registered server exists, so nothing to do.
  file.version = Quad(-1, -1, -1, -1);
  EXPECT_FALSE(NeedsUpdate(file));

  // A registration whose file is gone counts as none.
  file.version = Quad(3, 0, 0, 0);
  ASSERT_TRUE(::DeleteFileA(server.c_str()));
  EXPECT_TRUE(NeedsUpdate(file));
}

TEST_F(StatusTest, NeedsUpdateInSetupMode) {
  char sys[MAX_PATH] = {};
  ASSERT_GT(::GetSystemDirectoryA(sys, MAX_PATH), 0u);
  const std::string sysFile = std::string(sys) + "\\StatusTestSys.dll";
  const std::string manager = testing_support::WinePath(FIXTURES_DIR_UNIX) + "\\Manager.exe";
  ASSERT_TRUE(testing_support::CopyWithVersion(manager, sysFile, 2, 0, 0, 0));
  ScratchDir servers("srv");
  const std::string server = servers.Path() + "Server.dll";
  ASSERT_TRUE(testing_support::CopyWithVersion(manager, server, 3, 0, 0, 0));
  ASSERT_TRUE(RegWriteString(HKEY_CLASSES_ROOT, std::string(kClassKey) + "\\InprocServer32", "",
                             server));
  Stamp("Player.dll", 2, 1, 0, 7);

  ComponentFile current = File("Player.dll", Quad(2, 1, 0, 7));
  ComponentFile inSystem = File("StatusTestSys.dll", Quad(2, 0, 0, 0));
  inSystem.sDestDir = "LDID_SYS";
  ComponentFile inSystemLower = inSystem;
  inSystemLower.sDestDir = "ldid_sys";  // only the exact name is exempt
  ComponentFile serverFile = File("Server.dll", Quad(3, 0, 0, 0));
  ASSERT_TRUE(ParseClassIdText(kClsidText, serverFile.clsid));
  ComponentFile otherPlatform = File("Player.dll", Quad(2, 1, 0, 7));
  otherPlatform.platform = 8;

  EXPECT_FALSE(NeedsUpdate(current));
  EXPECT_FALSE(NeedsUpdate(inSystem));
  EXPECT_FALSE(NeedsUpdate(inSystemLower));
  EXPECT_FALSE(NeedsUpdate(serverFile));
  EXPECT_FALSE(NeedsUpdate(otherPlatform));

  {
    SetupModeScope setup;
    EXPECT_TRUE(NeedsUpdate(current));
    EXPECT_TRUE(NeedsUpdate(otherPlatform));
    EXPECT_TRUE(NeedsUpdate(inSystemLower));
    EXPECT_FALSE(NeedsUpdate(inSystem));  // these go by their versions
    EXPECT_FALSE(NeedsUpdate(serverFile));
    inSystem.version = Quad(2, 0, 0, 1);
    EXPECT_TRUE(NeedsUpdate(inSystem));
  }
  EXPECT_FALSE(NeedsUpdate(current));  // the switch is gone again
  ::DeleteFileA(sysFile.c_str());
}

// --- Sizes -------------------------------------------------------------------

TEST_F(StatusTest, ComponentSizeCountsEachDownloadOnce) {
  Stamp("Player.dll", 2, 1, 0, 7);
  Stamp("Codec.dll", 1, 0, 0, 0);
  Component player;
  player.sName = "Player";
  player.files.push_back(File("Player.dll", Quad(2, 1, 0, 7), "Player.cab", 500 * 1024));
  player.files.push_back(File("Player.chm", Quad(-1, -1, -1, -1), "Player.cab", 500 * 1024));
  player.files.push_back(File("Codec.dll", Quad(1, 0, 0, 0), "Codec.cab", 300));
  EXPECT_EQ(ComponentDownloadSize(player, true), 500u * 1024 + 300);
  EXPECT_EQ(FormatDownloadSize(ComponentDownloadSize(player, true) - 300), "500KB");

  // Only what needs installing: the missing help file brings Player.cab in.
  EXPECT_EQ(ComponentDownloadSize(player, false), 500u * 1024);
  ASSERT_TRUE(testing_support::WriteFileBytes(InApp("Player.chm"), "ITSF"));
  EXPECT_EQ(ComponentDownloadSize(player, false), 0u);
  player.files[2].version = Quad(1, 0, 0, 1);
  EXPECT_EQ(ComponentDownloadSize(player, false), 300u);
  // The first entry naming a download gives its size.
  player.files[1].version = Quad(1, 0, 0, 0);  // no version resource: needed
  player.files[1].size = 7;
  EXPECT_EQ(ComponentDownloadSize(player, false), 7u + 300);
  player.files[0].version = Quad(2, 1, 0, 8);
  EXPECT_EQ(ComponentDownloadSize(player, false), 500u * 1024 + 300);
}

TEST_F(StatusTest, ComponentAndSelectionSizesDiffer) {
  RecordHook("Ran.exe", "1, 0, 0, 0");
  Component player;
  player.sName = "Player";
  player.files.push_back(File("Player.dll", Quad(1, 0, 0, 0), "Shared.cab", 1000));
  player.hooks.push_back(Hook("Ran.exe", Quad(1, 0, 0, 0), "Ran.cab", 20));
  player.hooks.push_back(Hook("New.exe", Quad(1, 0, 0, 0), "New.cab", 300));
  player.hooks.push_back(Hook("Again.exe", Quad(1, 0, 0, 0), "Shared.cab", 4000));
  Component codecs;
  codecs.sName = "Codecs";
  codecs.files.push_back(File("Codec.dll", Quad(1, 0, 0, 0), "Shared.cab", 1000));
  codecs.files.push_back(File("Codec2.dll", Quad(1, 0, 0, 0), "Codec.cab", 50000));
  Component nt4;
  nt4.sName = "Nt4";
  nt4.platform = 8;
  nt4.files.push_back(File("Nt4.dll", Quad(1, 0, 0, 0), "Nt4.cab", 600000));

  // Beside one component: every hook, and hooks are not matched to files.
  EXPECT_EQ(ComponentDownloadSize(player, true), 1000u + 20 + 300 + 4000);
  EXPECT_EQ(ComponentDownloadSize(player, false), 1000u + 300 + 4000);
  EXPECT_EQ(ComponentDownloadSize(nt4, true), 600000u);  // platforms do not count here

  // A selection: shared downloads once, hooks that ran and other platforms left out.
  for (bool all : {true, false}) {
    SCOPED_TRACE(all);
    EXPECT_EQ(SelectionDownloadSize({player, codecs, nt4}, all), 1000u + 300 + 50000);
  }
  player.hooks[1].platform = 8;
  EXPECT_EQ(SelectionDownloadSize({player}, true), 1000u);
  EXPECT_EQ(ComponentDownloadSize(player, true), 1000u + 20 + 300 + 4000);
  EXPECT_EQ(SelectionDownloadSize({}, true), 0u);
}

// --- Finding and offering ------------------------------------------------------

TEST_F(StatusTest, FindComponentToUpdate) {
  Record("Current");
  ComponentCatalog catalog(4);
  catalog[0].sName = "Zero";  // id 0: "ID:x" must not read as "ID:0"
  catalog[1].sName = "Player";
  catalog[1].id = 17;
  catalog[1].bInitiallySelected = false;
  catalog[2].sName = "ID:x";
  catalog[2].id = 5;
  catalog[3].sName = "Current";
  catalog[3].id = 3;

  Component found;
  ASSERT_TRUE(FindComponentToUpdate(catalog, "player", found));
  EXPECT_EQ(found.sName, "Player");
  EXPECT_TRUE(found.bForceInstall);
  EXPECT_TRUE(found.bInitiallySelected);
  EXPECT_TRUE(catalog[1].bForceInstall);
  EXPECT_TRUE(catalog[1].bInitiallySelected);
  EXPECT_FALSE(catalog[0].bForceInstall);

  found = Component();
  ASSERT_TRUE(FindComponentToUpdate(catalog, "ID:17", found));
  EXPECT_EQ(found.id, 17);
  ASSERT_TRUE(FindComponentToUpdate(catalog, "ID:x", found));
  EXPECT_EQ(found.sName, "ID:x");
  EXPECT_FALSE(catalog[0].bForceInstall);
  ASSERT_TRUE(FindComponentToUpdate(catalog, "ID:0", found));
  EXPECT_EQ(found.sName, "Zero");

  found = Component();
  for (const char* text : {"ID:", "ID:17x", "id:17", "Play", "Nothing"}) {
    SCOPED_TRACE(text);
    EXPECT_FALSE(FindComponentToUpdate(catalog, text, found));
  }
  EXPECT_TRUE(found.sName.empty());
  // Up to date: nothing to do, and nothing marked.
  EXPECT_FALSE(FindComponentToUpdate(catalog, "ID:3", found));
  EXPECT_FALSE(FindComponentToUpdate(catalog, "current", found));
  EXPECT_FALSE(catalog[3].bForceInstall);
  EXPECT_TRUE(found.sName.empty());
}

TEST_F(StatusTest, HasUpdatesToOffer) {
  Record("Current");
  ComponentCatalog catalog(2);
  catalog[0].sName = "Current";
  catalog[1].sName = "New";
  catalog[1].bInitiallySelected = false;
  catalog[1].platform = 0;  // platforms are not consulted
  EXPECT_FALSE(HasUpdatesToOffer(catalog));
  catalog[1].bInitiallySelected = true;
  EXPECT_TRUE(HasUpdatesToOffer(catalog));
  Record("New");
  EXPECT_FALSE(HasUpdatesToOffer(catalog));
  catalog[1].hooks.push_back(Hook("Setup.exe", Quad(1, 0, 0, 0)));
  EXPECT_TRUE(HasUpdatesToOffer(catalog));
}

}  // namespace
