// A quiet Setup run as an installer starts it, checked where its readers
// look: the manager and the Control Panel in the program's registry view, the
// system's loader in the program's system folder, COM clients of the
// program's bitness, Windows' restart processing. Run with the twin and, in
// the "shipped" label, with the 32-bit program under WoW64, where those
// places are Wow6432Node and SysWOW64.
#include <windows.h>

#include "frame/RegKey.h"
#include "tests/e2e/ServedRunTest.h"
#include "tests/fixtures/holder/HeldFile.h"
#include "tests/support/CatalogueCabinet.h"

namespace e2e {
namespace {

using namespace testing_support;

constexpr char kServerClass[] = "{6B0F2C1E-93A4-4D57-8E21-5C7A0B3D9F46}";
constexpr char kSystemFileName[] = "PelloryE2ESetup.dll";
constexpr char kHeldSystemFileName[] = "PelloryE2EHeld.ax";

// The other registry view than the program's: where nothing of it belongs.
REGSAM OtherRegistryView() {
  return ProgramRegistryView() == KEY_WOW64_32KEY ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
}

bool KeyInOtherView(HKEY root, const std::string& path) {
  frame::RegKey key;
  return key.Open(root, path, KEY_READ | OtherRegistryView()) == ERROR_SUCCESS;
}

class SetupRunE2E : public ServedRunTest {
 protected:
  void SetUp() override {
    Clean();
    ServedRunTest::SetUp();
  }
  void TearDown() override {
    ServedRunTest::TearDown();
    Clean();
  }
  static void Clean() {
    RegDeleteTree(HKEY_CLASSES_ROOT, std::string("CLSID\\") + kServerClass);
    for (const char* name : {kSystemFileName, kHeldSystemFileName}) {
      ::DeleteFileA((ProgramSystemFolder() + name).c_str());
      ::DeleteFileA((SystemFolderName() + name).c_str());
    }
    ::SetEnvironmentVariableA("COMSERVER_CLSID", nullptr);
  }
};

// A component with a file in Bin, one for the system folder, an in-process
// COM server and a hook; then one whose file the manager's player holds.
TEST_F(SetupRunE2E, AQuietSetupPutsEveryPieceWhereItsReadersLook) {
  std::string hook, server;
  ASSERT_TRUE(ReadFileBytes(FixturePath("Hook.exe"), hook));
  ASSERT_TRUE(ReadFileBytes(FixturePath("ComServer.dll"), server));
  const std::vector<std::string> catalogue = {
      "[Components]", "Player=2,1,0,7",
      "[Player]", "RequiresPMClosed=No", "SourceDisksFiles=Player Files",
      "Hook1=PlayerSetup.exe",
      "[Player Files]", "1=Player.ini", "2=" + std::string(kSystemFileName), "3=PlayerCom.dll",
      "[Player.ini]", "File=player.cab", "FileVersion=2,1,0,7", "DestDir=Bin",
      "[" + std::string(kSystemFileName) + "]", "File=player.cab", "FileVersion=2,1,0,7",
      "DestDir=LDID_SYS",
      "[PlayerCom.dll]", "File=player.cab", "FileVersion=2,1,0,7", "DestDir=Bin",
      "OLESelfRegistered=Yes",
      "[PlayerSetup.exe]", "File=player.cab", "Run=/welcome", "FileVersion=1,0,0,0"};
  server_.Serve(kCataloguePath, CabinetBytes({{"PM Install1.INF", InfText(catalogue)}}));
  server_.Serve("/PM50/Quoma/player.cab",
                CabinetBytes({{"Player.ini", "[Player]\r\n"}, {kSystemFileName, "system"},
                              {"PlayerCom.dll", server}, {"PlayerSetup.exe", hook}}));
  // The server registers itself as this class too, as real servers do.
  ::SetEnvironmentVariableA("COMSERVER_CLSID", kServerClass);

  EXPECT_EQ(Run("/Setup /q"), 0);
  const std::string bin = install_.Bin();
  std::string log = Log();
  EXPECT_EQ(FileContent(bin + "Player.ini"), "[Player]\r\n");
  EXPECT_EQ(FileContent(ProgramSystemFolder() + kSystemFileName), "system") << log;
  if (ShippedProgramUnderTest()) {
    EXPECT_FALSE(FileExists(SystemFolderName() + kSystemFileName))
        << "a 32-bit library in the 64-bit system folder";
  }
  // The hook ran once, with its argument, and is recorded.
  EXPECT_EQ(FileContent(install_.Dir() + "PlayerSetup.exe.runs"),
            "\"" + install_.Dir() + "PlayerSetup.exe\" \"/welcome\"\r\n");
  std::string value;
  EXPECT_TRUE(RegReadString(HKEY_LOCAL_MACHINE, "Software\\Pellory\\Upgrade\\Hooks",
                            "PlayerSetup.exe", value));
  EXPECT_EQ(value, "1, 0, 0, 0");
  // The server was loaded and registered for clients of its own bitness.
  const std::string serverKey = std::string("CLSID\\") + kServerClass + "\\InprocServer32";
  value.clear();
  EXPECT_TRUE(RegReadString(HKEY_CLASSES_ROOT, serverKey, "", value)) << log;
  EXPECT_EQ(::lstrcmpiA(value.c_str(), (bin + "PlayerCom.dll").c_str()), 0) << value;
  EXPECT_NE(log.find("OLE in-proc server '" + bin + "PlayerCom.dll' has been successfully registered."),
            std::string::npos) << log;
  EXPECT_FALSE(KeyInOtherView(HKEY_CLASSES_ROOT, serverKey));
  // Versions and the uninstall entry, where the manager and the Control Panel read them.
  EXPECT_EQ(Recorded("Player"), "2, 1, 0, 7");
  EXPECT_TRUE(RegKeyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
  for (const char* key : {kUninstallKey, kComponentsKey, kPelloryKey})
    EXPECT_FALSE(KeyInOtherView(HKEY_LOCAL_MACHINE, key)) << key << " in the other registry view";

  CloseManager();  // the one Setup starts at its end

  // Files in use wait for the next start of Windows, and are replaced then;
  // no question comes, and the manager is not started while a restart is due.
  // The one in the system folder is replaced where the program put it: under
  // WoW64 the system's restart work must not take the 64-bit folder's file.
  const std::string held = std::string(kHeldSystemFileName);
  server_.Serve(kCataloguePath,
                CabinetBytes({{"PM Install1.INF",
                               InfText({"[Components]", "Chapters=1,0,0,0", "[Chapters]",
                                        "RequiresPMClosed=No", "SourceDisksFiles=Chapters Files",
                                        "[Chapters Files]", "1=Chapters.dat", "2=" + held,
                                        "[Chapters.dat]", "File=chapters.cab",
                                        "FileVersion=1,0,0,0", "DestDir=Bin", "[" + held + "]",
                                        "File=chapters.cab", "FileVersion=1,0,0,0",
                                        "DestDir=LDID_SYS"})}}));
  server_.Serve("/PM50/Quoma/chapters.cab",
                CabinetBytes({{"Chapters.dat", "new chapters"}, {held, "new filter"}}));
  ASSERT_TRUE(WriteFileBytes(bin + "Chapters.dat", "old chapters"));
  ASSERT_TRUE(WriteFileBytes(ProgramSystemFolder() + held, "old filter"));
  HeldFile player, filter;
  ASSERT_TRUE(player.Hold(bin + "Chapters.dat"));
  ASSERT_TRUE(filter.Hold(ProgramSystemFolder() + held));
  EXPECT_EQ(Run("/Setup /q"), 36);
  ASSERT_TRUE(player.Release());
  ASSERT_TRUE(filter.Release());
  EXPECT_FALSE(CloseManager()) << "the manager was started while a restart of Windows is due";
  EXPECT_EQ(FileContent(bin + "Chapters.dat"), "old chapters");
  EXPECT_EQ(FileContent(ProgramSystemFolder() + held), "old filter");
  EXPECT_EQ(Recorded("Chapters"), "1, 0, 0, 0");
  ASSERT_TRUE(RunRestartProcessing());
  log = Log();
  EXPECT_EQ(FileContent(bin + "Chapters.dat"), "new chapters") << log;
  EXPECT_EQ(FileContent(ProgramSystemFolder() + held), "new filter") << log;
  if (ShippedProgramUnderTest()) {
    EXPECT_FALSE(FileExists(SystemFolderName() + held))
        << "the restart put the 32-bit file into the 64-bit system folder";
  }
}

}  // namespace
}  // namespace e2e
