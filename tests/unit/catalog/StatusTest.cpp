// Installed status, update decisions, registered classes and download sizes on
// the prefix's registry and files: the installation folder is a scratch folder,
// files with chosen versions are stamped copies of the fake manager.
#include <windows.h>

#include <gtest/gtest.h>

#include "catalog/ComponentStatus.h"
#include "catalog/DownloadSize.h"
#include "catalog/InstalledState.h"
#include "catalog/TargetPath.h"
#include "core/Locations.h"
#include "core/Switches.h"
#include "frame/RegKey.h"
#include "tests/support/CapturedLog.h"
#include "tests/support/Scratch.h"

namespace {

using testing_support::CapturedLog;
using testing_support::RegWriteString;
using Lines = std::vector<std::string>;
using Status = ComponentStatus;

const char kHooksKey[] = "Software\\Pellory\\Upgrade\\Hooks";
const char kClsidText[] = "{7C3E91A2-5B4D-4F60-9A18-2D6E0B4C8F71}";
const std::string kClassKey = std::string("CLSID\\") + kClsidText;
const VersionQuad kWhenMissing{-1, -1, -1, -1};

ComponentFile File(const std::string& name, const VersionQuad& version,
                   const std::string& download = "Player.cab", uint32_t size = 0,
                   const std::string& destDir = "", uint32_t platform = 31) {
  ComponentFile file;
  file.sName = name;
  file.version = version;
  file.sFile = download;
  file.size = size;
  file.sDestDir = destDir;
  file.platform = platform;
  return file;
}

ComponentHook Hook(const std::string& name, const std::string& download = "", uint32_t size = 0) {
  ComponentHook hook;
  static_cast<ComponentFile&>(hook) = File(name, {1, 0, 0, 0}, download, size);
  hook.sHookName = name;
  return hook;
}

Component Named(const std::string& name) {
  Component component;
  component.sName = name;
  return component;
}

// Setup mode ("-setup") for the length of a scope.
struct SetupModeScope {
  SetupModeScope() { SetProcessArguments({"-setup"}); }
  ~SetupModeScope() { SetProcessArguments(saved); }
  std::vector<std::string> saved = ProcessArguments();
};

class StatusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TearDown();
    ASSERT_TRUE(RegWriteString(HKEY_LOCAL_MACHINE, kPelloryKey, "PelloryAppDir", app_.Path()));
  }
  void TearDown() override {
    testing_support::RegDeleteTree(HKEY_LOCAL_MACHINE, kPelloryKey);
    testing_support::RegDeleteTree(HKEY_CLASSES_ROOT, kClassKey);
  }
  void Stamp(const std::string& path, const VersionQuad& v) {
    const std::string manager = testing_support::WinePath(FIXTURES_DIR_UNIX) + "\\Manager.exe";
    ASSERT_TRUE(testing_support::CopyWithVersion(manager, path, WORD(v.a), WORD(v.b), WORD(v.c),
                                                 WORD(v.d)));
  }
  void Record(const std::string& name, const char* key = kComponentsKey,
              const std::string& text = "1, 0, 0, 0") {
    ASSERT_TRUE(RegWriteString(HKEY_LOCAL_MACHINE, key, name, text));
  }
  std::string InApp(const std::string& name) const { return app_.Path() + name; }

  testing_support::ScratchDir app_{"status"};
};

// Not installed without a string record; then the files' versions and the
// hooks' records decide, and the files' versions what the worker installs.
TEST_F(StatusTest, RecordFilesAndHooks) {
  Stamp(InApp("Player.dll"), {2, 1, 0, 7});
  Stamp(InApp("Codec.dll"), {1, 10, 0, 0});
  ASSERT_TRUE(testing_support::WriteFileBytes(InApp("Help.chm"), "ITSF data"));
  Component player = Named("Player");
  player.version = {9, 9, 9, 9};  // the component's own version takes no part
  player.files = {File("Player.dll", {2, 1, 0, 7})};
  const std::string tail = "'HKLM\\Software\\Pellory\\Upgrade\\Components. Error 0x0";
  const auto expectNotInstalled = [&](const std::string& line) {
    CapturedLog log;
    EXPECT_EQ(GetComponentStatus(player), Status::NotInstalled);
    EXPECT_EQ(log.lines, Lines{line});
  };
  expectNotInstalled("Failed to open the registry key " + tail + "2");
  Record("Other");
  expectNotInstalled("Failed to query registry entry Player under the key " + tail + "2");
  frame::RegKey key;  // a record that is not a string is damaged
  ASSERT_EQ(key.Open(HKEY_LOCAL_MACHINE, kComponentsKey, KEY_SET_VALUE), ERROR_SUCCESS);
  ASSERT_EQ(key.SetDword("Player", 1), ERROR_SUCCESS);
  expectNotInstalled("Failed to query registry entry Player under the key " + tail + "d");
  Record("Player", kComponentsKey, "");  // presence alone counts

  // Status beside a current Codec.dll (1.10 on disk is newer than 1.9), and
  // whether the worker installs the file, in a plain run and in Setup mode.
  const struct {
    ComponentFile file;
    Status status;
    bool needed, neededInSetup;
  } kCases[] = {
      {File("Player.dll", {2, 1, 0, 7}), Status::UpToDate, false, true},
      {File("Player.dll", {2, 1, 0, 6}), Status::UpToDate, false, true},  // the file is newer
      {File("Player.dll", {2, 1, 0, 8}), Status::UpdateAvailable, true, true},
      {File("Player.dll", {2, 1, 1, 0}), Status::UpdateAvailable, true, true},  // earlier part
      {File("Player.dll", {2, 1, 0, -1}), Status::UpToDate, false, true},  // signed: -1 < 7
      {File("Help.chm", {1, 0, 0, 0}), Status::UpdateAvailable, true, true},  // no resource
      {File("Help.chm", kWhenMissing), Status::UpdateAvailable, false, true},
      // Platform 8 is NT 4 (the prefix is Windows 7); status and the marker do not ask.
      {File("Player.dll", {3, 0, 0, 0}, "", 0, "", 8), Status::UpdateAvailable, false, true},
      {File("Missing.dll", kWhenMissing, "", 0, "", 8), Status::UpdateAvailable, true, true},
      // In Setup mode the exact LDID_SYS and LDID_WIN go by their versions.
      {File("kernel32.dll", kWhenMissing, "", 0, "LDID_SYS"), Status::UpToDate, false, false},
      {File("kernel32.dll", kWhenMissing, "", 0, "ldid_sys"), Status::UpToDate, false, true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.file.sDestDir + c.file.sName + " " + c.file.version.CatalogText());
    player.files = {File("Codec.dll", {1, 9, 0, 0}), c.file};
    EXPECT_EQ(GetComponentStatus(player), c.status);
    EXPECT_EQ(NeedsUpdate(c.file), c.needed);
    SetupModeScope setup;
    EXPECT_EQ(NeedsUpdate(c.file), c.neededInSetup);
  }
  player.files.pop_back();

  // Hooks (their version order is the hook pass's tests): one that never ran
  // (an empty record) makes the component out of date.
  player.hooks = {Hook("Setup1.exe"), Hook("Setup2.exe")};
  player.hooks[1].version = {};  // no FileVersion: 0,0,0,0, still never ran
  Record("Setup1.exe", kHooksKey, "1");  // missing parts count 0
  Record("Setup2.exe", kHooksKey, "");
  EXPECT_EQ(GetComponentStatus(player), Status::UpdateAvailable);
  Record("Setup2.exe", kHooksKey);
  EXPECT_EQ(GetComponentStatus(player), Status::UpToDate);
}

// An entry the reader refused (TargetPath "") can never be installed: it makes
// nothing out of date, needs nothing and counts nothing; one line per look.
TEST_F(StatusTest, EntriesWithoutADestinationAreLeftOut) {
  Record("Player");
  Component player = Named("Player");
  player.files = {File("..\\..\\Evil.dll", {1, 0, 0, 0}, "Evil.cab", 5000)};
  player.hooks = {Hook("..\\Evil.exe", "EvilHook.cab", 7000)};
  CapturedLog log;
  EXPECT_EQ(GetComponentStatus(player), Status::UpToDate);
  EXPECT_EQ(ComponentDownloadSize(player, true) + ComponentDownloadSize(player, false) +
                SelectionDownloadSize({player}, true), 0u);
  SetupModeScope setup;
  EXPECT_FALSE(NeedsUpdate(player.files[0]));
  EXPECT_EQ(log.lines.size(), 4u * 2 + 1);  // one line per entry and look
}

// A registered in-process server counts only when its file exists, the local
// server only without an in-process key. A file of that class goes where the
// class lives unless it has a DestDir, and is current by the registered
// server's version, also in Setup mode and with a DestDir.
TEST_F(StatusTest, RegisteredClasses) {
  testing_support::ScratchDir servers("srv");
  const std::string dll = servers.Path() + "Server.dll", exe = servers.Path() + "Server.exe";
  Stamp(InApp("Server.dll"), {3, 0, 0, 0});
  ComponentFile file = File("Server.dll", {3, 0, 0, 0});
  ASSERT_TRUE(ParseClassIdText(kClsidText, file.clsid));
  EXPECT_EQ(InstalledServerPath(file.clsid), "");
  EXPECT_TRUE(NeedsUpdate(file));  // current in the folder, but no class registered
  ASSERT_TRUE(testing_support::WriteFileBytes(exe, "MZ"));
  ASSERT_TRUE(RegWriteString(HKEY_CLASSES_ROOT, kClassKey + "\\LocalServer", "", exe));
  EXPECT_EQ(InstalledServerPath(file.clsid), exe);
  ASSERT_TRUE(RegWriteString(HKEY_CLASSES_ROOT, kClassKey + "\\InprocServer32", "", dll));
  EXPECT_EQ(InstalledServerPath(file.clsid), "");  // registered, but no file
  EXPECT_EQ(TargetPath(file, "C:\\App\\"), "C:\\App\\Server.dll");
  Stamp(dll, {3, 0, 0, 0});
  EXPECT_EQ(TargetPath(file, "C:\\App\\"), dll);
  {
    SetupModeScope setup;
    CapturedLog log;
    EXPECT_FALSE(NeedsUpdate(file));
    EXPECT_EQ(log.lines, Lines{std::string("COM server with CLSID ") + kClsidText +
                               " is already installed in " + dll + "."});
  }
  ComponentFile other = file;
  other.sDestDir = "Bin";  // the missing Bin copy does not count
  EXPECT_EQ(TargetPath(other, "C:\\App\\"), "C:\\App\\Bin\\Server.dll");
  EXPECT_FALSE(NeedsUpdate(other));
  Stamp(dll, {2, 9, 0, 0});
  EXPECT_TRUE(NeedsUpdate(file));
}

// Shared downloads across components are the selection dialog's tests.
TEST_F(StatusTest, ComponentAndSelectionSizes) {
  Stamp(InApp("Player.dll"), {1, 0, 0, 0});
  Record("Ran.exe", kHooksKey);
  Component player = Named("Player"), nt4 = Named("Nt4");
  player.files = {File("Player.dll", {1, 0, 0, 0}, "Shared.cab", 500 * 1024),
                  File("Player.chm", kWhenMissing, "Shared.cab", 500 * 1024)};
  player.hooks = {Hook("Ran.exe", "Ran.cab", 20), Hook("New.exe", "New.cab", 300),
                  Hook("Again.exe", "Shared.cab", 4000)};
  nt4.platform = 8;
  nt4.files = {File("Nt4.dll", {1, 0, 0, 0}, "Nt4.cab", 600000)};
  // Beside one component: a shared download once, every hook, any platform.
  EXPECT_EQ(ComponentDownloadSize(player, true), 500u * 1024 + 20 + 300 + 4000);
  EXPECT_EQ(ComponentDownloadSize(player, false), 500u * 1024 + 300 + 4000);  // the missing chm
  EXPECT_EQ(ComponentDownloadSize(nt4, true), 600000u);
  // A selection: hooks that ran and other platforms left out, also with `all`.
  for (bool all : {true, false})
    EXPECT_EQ(SelectionDownloadSize({player, nt4}, all), 500u * 1024 + 300) << all;
  player.hooks[1].platform = 8;
  EXPECT_EQ(SelectionDownloadSize({player}, true), 500u * 1024);
}

// "ID:" takes a whole number, else the text is a name, never a prefix; the
// match alone is marked forced and selected. Offered: an initially selected
// component not up to date, of any platform.
TEST_F(StatusTest, FindingAndOffering) {
  ComponentCatalog catalog = {Named("Zero"), Named("Player"), Named("ID:x")};
  catalog[0].bInitiallySelected = false;
  catalog[1].id = 17;  // "ID:x" must not read as "ID:0", Zero's id
  std::string results;  // found, then +each marked one
  for (const char* text : {"ID:x", "ID:0", "ID:17x", "id:17", "Play"}) {
    ComponentCatalog copy = catalog;
    Component found;
    const bool any = FindComponentToUpdate(copy, text, found);
    results += any && found.bForceInstall && found.bInitiallySelected ? found.sName : "-";
    for (const Component& m : copy) results += m.bForceInstall ? "+" + m.sName : "";
    results += " ";
  }
  EXPECT_EQ(results, "ID:x+ID:x Zero+Zero - - - ");
  // Offered: New (not installed, of no platform); not once it is installed
  // and current (one not preselected is the quiet check's end-to-end case).
  Record("Current");
  catalog = {Named("Current"), Named("New")};
  catalog[1].platform = 0;
  std::string offered;
  offered += HasUpdatesToOffer(catalog) ? "yes " : "no ";
  Record("New");
  offered += HasUpdatesToOffer(catalog) ? "yes " : "no ";
  // A stale file makes it new again.
  catalog[1].files = {File("Absent.dll", {1, 0, 0, 0})};
  offered += HasUpdatesToOffer(catalog) ? "yes" : "no";
  EXPECT_EQ(offered, "yes no yes");
}

}  // namespace
