// The uninstaller runs with administrator rights on the user's machine, where
// any program of the user can write the per-user registry, the temporary
// folder and folders of its own. These cases play such a program: what it
// registered, linked, planted or pointed elsewhere is never run, followed or
// removed, and an uninstaller that cannot work safely removes nothing.
#include "tests/e2e/UninstallFixture.h"

namespace e2e {
namespace {

using namespace uninstall;

constexpr char kVictimClass[] = "{6B0F3C21-7D44-4E5A-9C1B-2F8E7A6D5C40}";
constexpr char kCannotFind[] = "Cannot find uninstall file.";

std::string WithoutBackslash(std::string path) {
  if (!path.empty() && path.back() == '\\') path.pop_back();
  return path;
}

// Sets an environment variable for the programs the test starts, and puts
// the old value back at the end.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, const std::string& value) : name_(name) {
    char old[4096] = "";
    const DWORD length = ::GetEnvironmentVariableA(name, old, sizeof(old));
    had_ = length && length < sizeof(old);
    old_ = had_ ? old : "";
    ::SetEnvironmentVariableA(name, value.c_str());
  }
  ~ScopedEnvironment() { ::SetEnvironmentVariableA(name_, had_ ? old_.c_str() : nullptr); }

 private:
  const char* name_;
  std::string old_;
  bool had_ = false;
};

class UninstallTrustE2E : public UninstallE2E {
 protected:
  void TearDown() override {
    UninstallE2E::TearDown();
    RegDeleteTree(HKEY_CLASSES_ROOT, std::string("CLSID\\") + kVictimClass);
    RegDeleteTree(HKEY_LOCAL_MACHINE, std::string("Software\\Classes\\") + kPlayerPluginClass);
    ::DeleteFileA(SystemFile("PelloryE2EPlayer.dll").c_str());
    RemoveFolderLink(kLinkedBin);
    RemoveTree("C:\\Admin");
    RemoveTree("C:\\Bin");
  }

  static constexpr char kLinkedBin[] = "C:\\PelloryE2ELinkedBin";
};

// What a program of the user can arrange before the administrator
// uninstalls: a class of the catalogue registered to a file of its own (its
// per-user classes override the machine's; Wine shows only the machine's, so
// the registration is written there), the
// player plug-in's machine registration pointing into the system folder, the
// audio folder set to the user's own music, a program named like a browser
// running from a folder it can write. Besides: a read-only file and a folder
// named in the component list, and an uninstaller the user keeps elsewhere.
TEST_F(UninstallTrustE2E, AnOrdinaryUsersRegistrationsFoldersAndProgramsAreNeverFollowed) {
  ASSERT_NO_FATAL_FAILURE(LayOut());
  WriteCatalogue({"[Components]", "Player=1,0,0,0", "[Player]", "SourceDisksFiles=Player Files",
                  "[Player Files]", "1=Manager.exe", "2=Victim.dll", "3=ReadOnly.dat",
                  "4=Folder.dat", "5=Chapter.txt", "[Manager.exe]", "File=p.cab", "FileVersion=1,0,0,0",
                  "DestDir=Bin", "[Victim.dll]", "File=p.cab", "FileVersion=1,0,0,0",
                  std::string("CLSID=") + kVictimClass, "OLESelfRegistered=Yes",
                  "[ReadOnly.dat]", "File=p.cab", "FileVersion=1,0,0,0", "DestDir=Bin",
                  "[Folder.dat]", "File=p.cab", "FileVersion=1,0,0,0", "DestDir=Bin",
                  "[Chapter.txt]", "File=p.cab", "FileVersion=1,0,0,0",
                  "DestDir=Data\\Deep\\Deeper", "[Uninstall]", "File1=PM Install1.INF",
                  "[PM Install1.INF]", "DestDir=Bin"});
  const std::string victim = std::string(kUserFolder) + "Victim.dll";
  ASSERT_NO_FATAL_FAILURE(MakeFiles(kUserFolder, {"Music\\", "Music\\a.plw", "Music\\Empty\\",
                                                  "Music\\Book\\", "Music\\Book\\b.plx"}));
  ASSERT_TRUE(::CopyFileA(FixturePath("ComServer.dll").c_str(), victim.c_str(), FALSE));
  ASSERT_TRUE(RegWriteString(HKEY_CLASSES_ROOT,
                             std::string("CLSID\\") + kVictimClass + "\\InprocServer32", "",
                             victim));
  const std::string systemPlayer = SystemFile("PelloryE2EPlayer.dll");
  ASSERT_TRUE(::CopyFileA(FixturePath("ComServer.dll").c_str(), systemPlayer.c_str(), FALSE));
  ASSERT_TRUE(RegWriteString(HKEY_LOCAL_MACHINE,
                             std::string("Software\\Classes\\") + kPlayerPluginClass +
                                 "\\InprocServer32",
                             "", systemPlayer));
  ASSERT_TRUE(RegWriteString(HKEY_LOCAL_MACHINE, kPelloryKey, "PelloryProgramsDir",
                             std::string(kUserFolder) + "Music"));
  const std::string readOnly = install_.Bin() + "ReadOnly.dat";
  ASSERT_TRUE(WriteFileBytes(readOnly, "read only"));
  ASSERT_TRUE(::SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(::CreateDirectoryA((install_.Bin() + "Folder.dat").c_str(), nullptr));
  ChildProcess chrome;
  ASSERT_NO_FATAL_FAILURE(StartBrowser(chrome, FixturePath("browsers\\CHROME.EXE")));

  ASSERT_NO_FATAL_FAILURE(StartElsewhere("/Uninstall"));
  Answer(processId_, kConfirm, IDYES);
  AnswerAudioQuestion(processId_, IDYES, kCaptionUninstall);
  // Nothing was in use: no restart is asked for.
  Answer(processId_, kDone, IDOK);
  EXPECT_EQ(UninstallerExit(), 0);
  const std::string log = UninstallLog();

  EXPECT_TRUE(FileExists(victim)) << log;
  EXPECT_NE(log.find("The registered server '" + victim + "' of 'Victim.dll' lies outside the "
                     "installation; it is left alone."), std::string::npos) << log;
  EXPECT_EQ(log.find("OLE in-proc server '" + victim), std::string::npos) << "it was unregistered";
  EXPECT_TRUE(FileExists(systemPlayer));
  EXPECT_NE(log.find("The media player plug-in's module '" + systemPlayer +
                     "' lies in a system folder; it is left alone."), std::string::npos) << log;
  // The user's music folder keeps itself and its empty folder; only the
  // folder the sweep emptied goes.
  EXPECT_EQ(TreeOf(std::string(kUserFolder) + "Music\\"), (Lines{"Empty\\"}));
  EXPECT_FALSE(FileExists(readOnly));
  EXPECT_FALSE(DirExists(install_.Dir())) << ::testing::PrintToString(TreeOf(install_.Dir()));
  // The user's own copy of the uninstaller stays after the next start.
  EXPECT_EQ(PendingDeletionsOf(elsewhere_.Path() + "Upgrade.exe"), 0u);
  // A program that only bears a browser's name, in a folder the user can
  // write, is never started.
  ::Sleep(1000);
  EXPECT_EQ(Count(FileContent(records_.Path() + "CHROME.EXE.cmdline"), "\r\n"), 1u);
}

// The installed program reached through a link to "Bin\": it is the same
// file, so it still moves out. While its copy cannot be made (the temporary
// folder is missing), the run ends with the error box and removes nothing;
// once it can, the copy runs from a new folder of its own.
TEST_F(UninstallTrustE2E, ReachedByAnotherPathItMovesOutOrRemovesNothing) {
  ASSERT_NO_FATAL_FAILURE(LayOut());
  ASSERT_TRUE(MakeFolderLink(kLinkedBin, WithoutBackslash(install_.Bin())));
  const std::string linked = std::string(kLinkedBin) + "\\Upgrade.exe";
  // The installation but the first process's log and its run summary.
  const auto installation = [this] {
    Lines tree = TreeOf(install_.Dir());
    for (const char* written : {"Bin\\Update.log", "Bin\\Update.json"})
      tree.erase(std::remove(tree.begin(), tree.end(), written), tree.end());
    return tree;
  };
  const Lines before = installation();
  {
    ScopedEnvironment tmp("TMP", "C:\\PelloryE2EMissing\\Temp\\");
    ScopedEnvironment temp("TEMP", "C:\\PelloryE2EMissing\\Temp\\");
    ChildProcess first;
    ASSERT_TRUE(first.Start(linked, "/Uninstall"));
    SeenBox failed = WaitBox(first.Id());
    ASSERT_NE(failed.window, nullptr) << "no box";
    EXPECT_EQ(failed.caption, "PelloryManager Install");
    EXPECT_EQ(failed.text.rfind("Uninstall failed.", 0), 0u) << failed.text;
    ui::PressButton(failed.window, IDOK);
    EXPECT_EQ(AsInt(first.Wait()), kFailed);
  }
  EXPECT_EQ(installation(), before);
  EXPECT_NE(FileContent(install_.Bin() + "Update.log").find("Cannot make a folder for the "
                                                            "uninstaller's copy in "),
            std::string::npos);

  ASSERT_NO_FATAL_FAILURE(StartFromBin("", linked));
  Answer(processId_, kConfirm, IDNO);
  EXPECT_EQ(UninstallerExit(), 0);
  EXPECT_TRUE(FileExists(install_.Bin() + "Manager.exe"));
}

// Libraries planted beside the program under the names of system libraries
// it binds at run time before its first question, with Windows' search order for them (Wine's own
// libraries are otherwise preferred): none is ever loaded. (Wine's user32
// itself imports version.dll, so a planted one of that name would be loaded
// by Wine before the program runs; the build checks instead that the program
// imports nothing but libraries the system always takes from its own folder.)
TEST_F(UninstallTrustE2E, ALibraryPlantedBesideTheProgramIsNeverLoaded) {
  ASSERT_NO_FATAL_FAILURE(LayOut());
  // The ones bound before the confirmation.
  const char* const names[] = {"comctl32", "wininet"};
  const std::string overrides = "Software\\Wine\\AppDefaults\\Upgrade.exe\\DllOverrides";
  for (const char* name : names) {
    ASSERT_TRUE(::CopyFileA(FixturePath("Planted.dll").c_str(),
                            (elsewhere_.Path() + name + ".dll").c_str(), FALSE));
    ASSERT_TRUE(RegWriteString(HKEY_CURRENT_USER, overrides, name, "native,builtin"));
  }
  struct Restore {
    ~Restore() { RegDeleteTree(HKEY_CURRENT_USER, "Software\\Wine\\AppDefaults\\Upgrade.exe"); }
  } restore;
  ScopedEnvironment traces("PLANTED_LIBRARY_TRACES", WithoutBackslash(records_.Path()));
  // The planted library tells when it is loaded.
  const std::string probe = records_.Path() + "probe.dll";
  ASSERT_TRUE(::CopyFileA(FixturePath("Planted.dll").c_str(), probe.c_str(), FALSE));
  {
    frame::ScopedModule loaded(::LoadLibraryA(probe.c_str()));
    ASSERT_TRUE(loaded);
  }
  ASSERT_TRUE(FileExists(probe + ".loaded"));

  ASSERT_NO_FATAL_FAILURE(StartElsewhere("/Uninstall"));
  Answer(processId_, kConfirm, IDNO);
  EXPECT_EQ(UninstallerExit(), 0);
  for (const char* name : names)
    EXPECT_FALSE(FileExists(records_.Path() + name + ".dll.loaded")) << name << " was loaded";
}

// An installation folder written as "C:\x\..\" is the drive's root, which no
// installation is: the uninstaller finds no installation, says so, and
// leaves the root's folders alone. One that names the Program Files folder
// itself is uninstalled, but the program data it does not list ("Admin",
// the plug-ins, the program) is never taken from there.
TEST_F(UninstallTrustE2E, AnInstallationFolderThatIsARootOrASystemFolderIsNeverEmptied) {
  ASSERT_NO_FATAL_FAILURE(LayOut());
  std::string catalogue;
  ASSERT_TRUE(ReadFileBytes(install_.Bin() + "PM Install1.INF", catalogue));
  ASSERT_NO_FATAL_FAILURE(MakeFiles("C:\\", {"Admin\\", "Admin\\keep.txt", "Bin\\"}));
  ASSERT_TRUE(WriteFileBytes("C:\\Bin\\PM Install1.INF", catalogue));
  ASSERT_TRUE(RegWriteString(HKEY_LOCAL_MACHINE, kPelloryKey, "PelloryAppDir",
                             "C:\\PelloryE2EGone\\..\\"));

  ASSERT_NO_FATAL_FAILURE(StartElsewhere("/Uninstall"));
  Answer(processId_, kConfirm, IDYES);
  Answer(processId_, kCannotFind, IDOK);
  EXPECT_EQ(UninstallerExit(), kFailed);
  EXPECT_TRUE(FileExists("C:\\Admin\\keep.txt"));
  EXPECT_TRUE(FileExists("C:\\Bin\\PM Install1.INF"));

  const std::string programFiles = ShellFolder(CSIDL_PROGRAM_FILES) + "\\";
  ASSERT_NO_FATAL_FAILURE(MakeFiles(programFiles, {"Admin\\", "Admin\\keep.txt", "Bin\\",
                                                   "Bin\\Plugins\\", "Bin\\Plugins\\their.dll"}));
  ASSERT_TRUE(WriteFileBytes(programFiles + "Bin\\PM Install1.INF", catalogue));
  ASSERT_TRUE(RegWriteString(HKEY_LOCAL_MACHINE, kPelloryKey, "PelloryAppDir", programFiles));
  ASSERT_NO_FATAL_FAILURE(StartElsewhere("/Uninstall"));
  Answer(processId_, kConfirm, IDYES);
  AnswerAudioQuestion(processId_, IDNO, kCaptionUninstall);
  Answer(processId_, kDone, IDOK);
  EXPECT_EQ(UninstallerExit(), 0);
  const bool adminKept = FileExists(programFiles + "Admin\\keep.txt");
  const bool pluginKept = FileExists(programFiles + "Bin\\Plugins\\their.dll");
  RemoveTree(programFiles + "Admin");
  RemoveTree(programFiles + "Bin");
  EXPECT_TRUE(adminKept);
  EXPECT_TRUE(pluginKept);
  EXPECT_NE(UninstallLog().find("Refusing to remove program data below '" + programFiles +
                                "': it is a system folder or a drive root."),
            std::string::npos) << UninstallLog();
}

}  // namespace
}  // namespace e2e
