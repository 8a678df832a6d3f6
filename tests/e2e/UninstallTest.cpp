// The uninstaller as users meet it: the real Upgrade.exe started with
// "/Uninstall" from the installed "Bin\" (it moves out and runs from a copy)
// or from elsewhere, its questions answered through the UI driver, and then
// what is left on the disk, in the registry and in its log. The biggest case
// uninstalls what a served Setup run installed.
#include "tests/e2e/UninstallFixture.h"

namespace e2e {
namespace {

using namespace uninstall;

// A catalogue whose Setup run puts down files in Bin, Codecs, Hooks and the
// system folder and registry values of its own; its uninstall sections list
// hooks (Hook3 after a gap), files, a folder, shortcuts and a registry line.
Lines ServedCatalogue() {
  return {"[Components]", "Player=1,0,0,0", "Codecs=1,0,0,0",
          "[Player]", "RequiresPMClosed=No", "SourceDisksFiles=Player Files",
          "Add Registry0=HKLM," + std::string(kCodecsKey) + ",Formats,FLG_ADDREG_TYPE_SZ,AAC MP3",
          "Add Registry1=HKLM," + std::string(kCodecsKey) + ",Kept,FLG_ADDREG_TYPE_SZ,stays",
          "[Player Files]", "1=Player.ini", "2=Shared.dat", "3=PelloryE2ESys.dll",
          "4=PelloryE2EZero.dll", "5=UnHook1.exe", "6=UnHook3.exe",
          "[Codecs]", "RequiresPMClosed=No", "SourceDisksFiles=Codecs Files",
          "[Codecs Files]", "1=Shared.dat", "2=AAC.codec",
          "[Player.ini]", "File=player.cab", "FileVersion=1,0,0,0", "DestDir=Bin",
          "[Shared.dat]", "File=player.cab", "FileVersion=1,0,0,0", "DestDir=Bin",
          "[PelloryE2ESys.dll]", "File=player.cab", "FileVersion=1,0,0,0", "DestDir=LDID_SYS",
          "[PelloryE2EZero.dll]", "File=player.cab", "FileVersion=1,0,0,0", "DestDir=LDID_SYS",
          "[UnHook1.exe]", "File=player.cab", "FileVersion=1,0,0,0", "DestDir=Hooks",
          "CmdLine=/uninstall",
          "[UnHook3.exe]", "File=player.cab", "FileVersion=1,0,0,0", "DestDir=Hooks",
          "CmdLine=/third",
          "[AAC.codec]", "File=codecs.cab", "FileVersion=1,0,0,0", "DestDir=Codecs",
          "[Uninstall Hooks]", "Hook1=UnHook1.exe", "Hook3=UnHook3.exe",
          "[Uninstall]", "File1=Shared.dat", "File2=Excluded.txt", "File3=Notes",
          "File4=Manager.exe", "File5=PM Install1.INF",
          "Shortcut1=CSIDL_PROGRAMS,PelloryE2E", "Shortcut2=CSIDL_DESKTOPDIRECTORY,PelloryE2E.lnk",
          "Registry1=HKLM," + std::string(kCodecsKey) + ",Formats",
          "[Excluded.txt]", "DestDir=Bin", "Platform=15",
          "[Notes]", "DestDir=Data",
          "[Manager.exe]", "DestDir=Bin", "[PM Install1.INF]", "DestDir=Bin"};
}

// The whole road: installed by a served Setup run, the manager it started and
// the download manager running, uninstalled from "Bin\" with Yes to the audio
// question while "Bin\Content.plr" is in use, and "PelloryProgramsDir" set to
// the root of the drive.
TEST_F(UninstallE2E, FromBinRemovesWhatTheInstallPutDownAndNothingOfTheUsers) {
  std::string hook;
  ASSERT_TRUE(ReadFileBytes(FixturePath("Hook.exe"), hook));
  server_.Serve(kCataloguePath, CabinetBytes({{"PM Install1.INF", Inf(ServedCatalogue())}}));
  server_.Serve("/PM50/Quoma/player.cab",
                CabinetBytes({{"Player.ini", "[Player]\r\n"}, {"Shared.dat", "shared"},
                              {"PelloryE2ESys.dll", "system"}, {"PelloryE2EZero.dll", "zero"},
                              {"UnHook1.exe", hook}, {"UnHook3.exe", hook}}));
  server_.Serve("/PM50/Quoma/codecs.cab", CabinetBytes({{"AAC.codec", "aac"}}));
  ASSERT_EQ(AsInt(RunUpgrade(install_.InstalledUpgrade(), "/Setup /q " + UrlSwitch(), 90000)), 0);
  const std::string dir = install_.Dir(), bin = install_.Bin();
  for (const std::string& file : {bin + "Player.ini", bin + "Shared.dat", dir + "Codecs\\AAC.codec",
                                  dir + "Hooks\\UnHook1.exe", SystemFile("PelloryE2ESys.dll")})
    ASSERT_TRUE(FileExists(file)) << file << " was not installed";
  std::string value;
  ASSERT_TRUE(RegReadString(HKEY_LOCAL_MACHINE, kCodecsKey, "Formats", value));

  // What the user, other installers and the manager's own runs added.
  frame::RegKey shared;
  ASSERT_EQ(shared.Create(HKEY_LOCAL_MACHINE, kSharedDlls,
                          KEY_READ | KEY_WRITE | ProgramRegistryView()),
            ERROR_SUCCESS);
  ASSERT_EQ(shared.SetDword(SystemFileName("PelloryE2ESys.dll"), 3), ERROR_SUCCESS);
  ASSERT_EQ(shared.SetDword(SystemFileName("PelloryE2EZero.dll"), 0), ERROR_SUCCESS);
  shared.Close();
  ASSERT_NO_FATAL_FAILURE(MakeFiles(
      dir, {"Bin\\Content.plr", "Bin\\Excluded.txt", "Bin\\Plugins\\", "Bin\\Plugins\\Reader.dll",
            "Admin\\", "Admin\\state.dat", "Admin\\Old\\", "Admin\\Old\\x.log", "Audio\\",
            "Audio\\book.plw", "Audio\\Part 2\\", "Audio\\Part 2\\book.plx", "Data\\",
            "Data\\Notes\\", "Data\\Notes\\mine.txt", "Data\\manager.log", "Music\\",
            "Music\\mine.mp3"}));
  ASSERT_NO_FATAL_FAILURE(MakeFiles(kUserFolder, {"Linked\\", "Linked\\song.plw",
                                                  "Linked\\letter.txt", "song.plw", "talk.plx"}));
  ASSERT_TRUE(MakeFolderLink(dir + "Admin\\Shelf", std::string(kUserFolder) + "Linked"));
  const std::string programs = ShellFolder(CSIDL_PROGRAMS);
  ASSERT_NO_FATAL_FAILURE(MakeFiles(programs + "\\", {"PelloryE2E\\", "PelloryE2E\\Manager.lnk"}));
  ASSERT_TRUE(WriteFileBytes(ShellFolder(CSIDL_DESKTOPDIRECTORY) + "\\PelloryE2E.lnk", "link"));
  ASSERT_TRUE(RegWriteString(HKEY_LOCAL_MACHINE, kPelloryKey, "PelloryProgramsDir", "C:\\"));
  for (const char* subkey : {"\\GIDMAP", "\\Player\\Deep"})
    ASSERT_TRUE(RegWriteString(HKEY_LOCAL_MACHINE, kPelloryKey + std::string(subkey), "v", "x"));
  // The player plug-in, which goes after the settings and before the
  // program's keys: its unregistration runs the snapshot program.
  ScratchDir plugIn("plugin");
  const std::string snapshot = plugIn.Path() + "PlayerPlugIn.exe";
  ASSERT_TRUE(::CopyFileA(FixturePath("RegistrySnapshot.exe").c_str(), snapshot.c_str(), FALSE));
  ASSERT_TRUE(RegWriteString(HKEY_CLASSES_ROOT,
                             std::string(kPlayerPluginClass) + "\\InprocServer32", "", snapshot));
  ASSERT_TRUE(RegWriteString(HKEY_CURRENT_USER, kPelloryKey, "Volume", "7"));
  ASSERT_TRUE(RegKeyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
  HeldFile player;  // the manager's player holds its content file
  ASSERT_TRUE(player.Hold(bin + "Content.plr"));
  ui::WindowQuery managerWindow;
  managerWindow.className = "PelloryWndClass";
  ASSERT_NE(ui::WaitForWindow(managerWindow), nullptr) << "the Setup run did not start the manager";
  ScratchDir downloads("dm");
  RunningFixture downloadManager;
  ASSERT_TRUE(
      downloadManager.Start("DownloadManager.exe", downloads.Path(), "DownloadManager.exe"));

  ASSERT_NO_FATAL_FAILURE(StartFromBin());
  Answer(processId_, kConfirm, IDYES);
  ASSERT_NE(WaitBox(processId_).window, nullptr);
  EXPECT_TRUE(ProgressHidden(processId_)) << "the progress window stays up over the close prompt";
  Answer(processId_, kManagerRunning, IDOK);
  EXPECT_TRUE(AnswerAudioQuestion(processId_, IDYES, kCaptionUninstall))
      << "the progress window did not come back after the question";
  Answer(processId_, kRestartQuestion, IDNO);
  EXPECT_EQ(UninstallerExit(), 0);
  EXPECT_TRUE(WaitNoProcessNamed("Manager.exe", 10000)) << "the manager was not closed";
  EXPECT_TRUE(downloadManager.Ended()) << "the download manager was not closed";
  const std::string log = UninstallLog();

  // Hooks: Hook1 ran with its command line, Hook3 behind the gap never did.
  EXPECT_EQ(FileContent(dir + "Hooks\\UnHook1.exe.runs"),
            "\"" + dir + "Hooks\\UnHook1.exe\" /uninstall\r\n");
  EXPECT_FALSE(FileExists(dir + "Hooks\\UnHook3.exe.runs"));
  // The file of two components and of the list went once.
  EXPECT_FALSE(FileExists(bin + "Shared.dat"));
  EXPECT_EQ(Count(log, "Successfully deleted file '" + bin + "Shared.dat' marked for deleting."),
            1u) << log;
  for (const std::string& gone :
       {bin + "Player.ini", bin + "Manager.exe", bin + "PM Install1.INF", bin + "Upgrade.exe",
        bin + "Update.log", dir + "Codecs\\AAC.codec", dir + "Hooks\\UnHook1.exe",
        dir + "Audio\\book.plw", dir + "Audio\\Part 2\\book.plx", dir + "Data\\manager.log",
        dir + "Admin\\state.dat", dir + "Admin\\Old\\x.log"})
    EXPECT_FALSE(FileExists(gone)) << gone;
  EXPECT_FALSE(DirExists(bin + "Plugins"));
  EXPECT_FALSE(FileExists(UserLogPath())) << "the logs folder keeps a log";
  // Shared system files stay; a count goes down by one, a count at 0 stays 0.
  for (const auto& count :
       {std::make_pair("PelloryE2ESys.dll", 2u), std::make_pair("PelloryE2EZero.dll", 0u)}) {
    EXPECT_TRUE(FileExists(SystemFile(count.first))) << count.first;
    EXPECT_EQ(SharedCount(SystemFileName(count.first)), std::to_string(count.second))
        << count.first;
  }
  // Left alone: a file the platform excludes, a listed folder that holds a
  // file, the user's own folders, and everything behind the link in "Admin".
  EXPECT_TRUE(FileExists(bin + "Excluded.txt"));
  EXPECT_TRUE(FileExists(dir + "Data\\Notes\\mine.txt"));
  EXPECT_NE(log.find("Deleteting recursively directory '" + dir + "Data\\Notes'"),
            std::string::npos);
  EXPECT_TRUE(FileExists(dir + "Music\\mine.mp3"));
  EXPECT_EQ(TreeOf(kUserFolder), (Lines{"Linked\\", "Linked\\letter.txt", "Linked\\song.plw",
                                        "song.plw", "talk.plx"}))
      << "the user's files outside the installation";
  EXPECT_NE(log.find("The registry entry 'PelloryProgramsDir' does not name a folder below a "
                     "drive: 'C:\\'\r\n"), std::string::npos) << log;
  // Windows removes the link itself; Wine cannot: either way the log tells
  // what happened to it.
  const std::string link = dir + "Admin\\Shelf";
  if (DirExists(link))
    EXPECT_NE(log.find("Cannot remove link " + link + ". Error "), std::string::npos) << log;
  else
    EXPECT_NE(log.find("Link " + link + " has been removed; its target is left alone"),
              std::string::npos) << log;
  // The content file waits for the restart.
  EXPECT_TRUE(FileExists(bin + "Content.plr"));
  // Shortcuts, registry lines, the program's keys and the uninstall entry.
  EXPECT_FALSE(DirExists(programs + "\\PelloryE2E"));
  EXPECT_TRUE(DirExists(programs));
  EXPECT_FALSE(FileExists(ShellFolder(CSIDL_DESKTOPDIRECTORY) + "\\PelloryE2E.lnk"));
  EXPECT_FALSE(RegReadString(HKEY_LOCAL_MACHINE, kCodecsKey, "Formats", value));
  EXPECT_TRUE(RegReadString(HKEY_LOCAL_MACHINE, kCodecsKey, "Kept", value));
  EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, kPelloryKey)) << "GIDMAP or another key stayed";
  EXPECT_FALSE(RegKeyExists(HKEY_CURRENT_USER, kPelloryKey));
  EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
  for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY})
    for (const char* key : {kPelloryKey, kUninstallKey}) {
      frame::RegKey left;
      EXPECT_NE(left.Open(HKEY_LOCAL_MACHINE, key, KEY_READ | view), ERROR_SUCCESS)
          << key << " stayed in registry view " << std::hex << view;
    }
  // Between emptying the product key and deleting it, only the group maps were there.
  EXPECT_EQ(FileContent(snapshot + ".keys"), "keys: GIDMAP\r\nvalues:\r\n");
  EXPECT_FALSE(FileExists(snapshot)) << "the plug-in stayed";

  ASSERT_TRUE(player.Release());
  ASSERT_TRUE(RunRestartProcessing());
  EXPECT_FALSE(FileExists(bin + "Content.plr"));
  EXPECT_FALSE(FileExists(copy_)) << "the copy did not go at the restart";
}

// Cancelling the wait for the download helper: -1, and nothing removed.
TEST_F(UninstallE2E, CancelledWaitForTheDownloadHelperLeavesEveryFileInPlace) {
  ASSERT_NO_FATAL_FAILURE(LayOut());
  ScratchDir helpers("helper");
  const std::string helper = helpers.Path() + "PelloryDownloadHelper.exe";
  ASSERT_TRUE(::CopyFileA(FixturePath("Hook.exe").c_str(), helper.c_str(), FALSE));
  ChildProcess helperRun;
  ASSERT_TRUE(helperRun.Start(helper, "/sleep:240000"));
  RunningFixture downloadManager;
  ASSERT_TRUE(downloadManager.Start("DownloadManager.exe", helpers.Path(), "DownloadManager.exe"));

  ASSERT_NO_FATAL_FAILURE(StartFromBin());
  const Lines before = TreeOf(install_.Dir());
  Answer(processId_, kConfirm, IDYES);
  HWND request = WaitForDialogWith(processId_, kExitRequestText, 30000);
  ASSERT_NE(request, nullptr) << "no request to exit the download manager";
  EXPECT_TRUE(ProgressHidden(processId_)) << "the progress window stays up over the request";
  EXPECT_TRUE(downloadManager.Ended()) << "the download manager window was not closed first";
  ui::PressButton(request, IDCANCEL);
  Answer(processId_, kCancelQuestion, IDYES, kCaptionUpdate);
  EXPECT_EQ(UninstallerExit(), kFailed);
  EXPECT_TRUE(helperRun.Running());
  EXPECT_EQ(TreeOf(install_.Dir()), before);
  EXPECT_TRUE(RegKeyExists(HKEY_LOCAL_MACHINE, kPelloryKey));
  EXPECT_TRUE(FileExists(install_.Bin() + "Content.plr"));
  helperRun.Kill();
}

// No to the audio question: the audio files stay, program data, logs and
// plug-ins go. A running browser installed for the machine is sent the
// completion page, started for the user through the scheduler (which Wine
// cannot do, so directly after that), Firefox's cookies are emptied, and the
// media filter a player holds makes the run end with the restart question.
TEST_F(UninstallE2E, AudioNoKeepsAudioFilesAndALockedFilterAsksForARestart) {
  ASSERT_NO_FATAL_FAILURE(LayOut());
  ASSERT_TRUE(RegWriteString(HKEY_LOCAL_MACHINE, kPelloryKey, "Cookie Url",
                             "http://cookies.pellory.test"));
  const std::string cookies = InstallFirefoxWithCookies();
  ChildProcess chrome;
  const std::string browser = MachineBrowser("CHROME.EXE");
  ASSERT_NO_FATAL_FAILURE(StartBrowser(chrome, browser));
  const std::string filter = SystemFile("plrdscdc.ax");
  ASSERT_TRUE(::CopyFileA(FixturePath("ComServer.dll").c_str(), filter.c_str(), FALSE));
  HeldFile mediaPlayer;
  ASSERT_TRUE(mediaPlayer.Hold(filter, HeldFile::Sharing::Read));

  ASSERT_NO_FATAL_FAILURE(StartElsewhere("/Uninstall"));
  Answer(processId_, kConfirm, IDYES);
  EXPECT_TRUE(AnswerAudioQuestion(processId_, IDNO, kCaptionUninstall))
      << "the progress window did not come back after the question";
  Answer(processId_, kRestartQuestion, IDNO);
  EXPECT_EQ(UninstallerExit(), 0);

  const std::string dir = install_.Dir();
  for (const std::string& kept : {dir + "Audio\\book.plw", dir + "Audio\\Part 2\\book.plx",
                                  dir + "Bin\\Content.plr"})
    EXPECT_TRUE(FileExists(kept)) << kept;
  EXPECT_FALSE(DirExists(dir + "Admin"));
  EXPECT_FALSE(DirExists(dir + "Bin\\Plugins"));
  EXPECT_FALSE(FileExists(dir + "Data\\manager.log"));
  EXPECT_FALSE(FileExists(dir + "Bin\\Manager.exe"));
  EXPECT_FALSE(FileExists(dir + "Bin\\Upgrade.exe"));

  std::string record;
  for (int tries = 0; tries < 100 && Count(record, "\r\n") < 2; ++tries, ::Sleep(100))
    record = FileContent(records_.Path() + "CHROME.EXE.cmdline");
  const std::string started = "\"" + browser + "\" \"http://";
  EXPECT_NE(record.find("\r\n" + started), std::string::npos) << record;
  EXPECT_NE(record.find("Uninstall\"\r\n"), std::string::npos) << record;
  const std::string log = UninstallLog();
  // The shipped program's tests run without the scheduler (see wine-run):
  // there it starts the browser directly from the outset.
  EXPECT_TRUE(log.find("Cannot add registration trigger to the Task") != std::string::npos ||
              log.find("Success! Task successfully registered.") != std::string::npos ||
              (ShippedProgramUnderTest() &&
               log.find("Failed to CoCreate an instance of the TaskService class") !=
                   std::string::npos))
      << "the browser was not started through the scheduler\n" << log;
  const std::string jar = FileContent(cookies);
  EXPECT_NE(jar.find("cookies.pellory.test\tFALSE\t/\tFALSE\t1999999999\tPM\t\n"),
            std::string::npos) << jar;
  EXPECT_NE(jar.find("other.test\tFALSE\t/\tFALSE\t1999999999\tPM\tkeep\n"), std::string::npos)
      << jar;

  EXPECT_TRUE(FileExists(filter));
  ASSERT_TRUE(mediaPlayer.Release());
  ASSERT_TRUE(RunRestartProcessing());
  EXPECT_FALSE(FileExists(filter)) << "the filter was not left to the restart";
}

// Started by a shortcut whose working folder is "Bin\" (as the start menu's
// uninstall entry has it): the copy in the temporary folder must not keep
// that folder in use, so an installation with nothing of the user's still
// goes completely.
TEST_F(UninstallE2E, StartedInBinItStillRemovesTheWholeFolder) {
  ASSERT_NO_FATAL_FAILURE(LayOut());

  ASSERT_NO_FATAL_FAILURE(StartFromBin(install_.Bin()));
  Answer(processId_, kConfirm, IDYES);
  AnswerAudioQuestion(processId_, IDYES, kCaptionUninstall);
  Answer(processId_, kDone, IDOK);
  EXPECT_EQ(UninstallerExit(), 0);
  EXPECT_FALSE(DirExists(install_.Dir()))
      << "left: " << ::testing::PrintToString(TreeOf(install_.Dir())) << "\n" << UninstallLog();
}

// Yes to the audio files while "PelloryProgramsDir" names the user's profile:
// a system folder is never searched, so the audio files below it stay; the
// installation's own go.
TEST_F(UninstallE2E, AudioFilesAreNeverSoughtInASystemFolder) {
  ASSERT_NO_FATAL_FAILURE(LayOut());
  const std::string profile = ShellFolder(CSIDL_PROFILE);
  ASSERT_FALSE(profile.empty());
  ASSERT_TRUE(RegWriteString(HKEY_LOCAL_MACHINE, kPelloryKey, "PelloryProgramsDir", profile));
  const std::string audio = DocumentsDir() + "\\PelloryE2E Audio\\";
  ASSERT_EQ(::SHCreateDirectoryExA(nullptr, audio.c_str(), nullptr), ERROR_SUCCESS);
  ASSERT_NO_FATAL_FAILURE(MakeFiles(audio, {"book.plw", "Part 2\\", "Part 2\\book.plx"}));
  ASSERT_NO_FATAL_FAILURE(MakeFiles(install_.Dir(), {"My Notes\\", "My Notes\\todo.txt"}));
  // The shell extension, loaded by the shell: it waits for the restart
  // without asking for one.
  const std::string extension = install_.Bin() + "PelloryExt.dll";
  ASSERT_TRUE(::CopyFileA(FixturePath("ComServer.dll").c_str(), extension.c_str(), FALSE));
  HeldFile shell;
  ASSERT_TRUE(shell.Hold(extension, HeldFile::Sharing::Read));

  ASSERT_NO_FATAL_FAILURE(StartElsewhere("/Uninstall"));
  Answer(processId_, kConfirm, IDYES);
  AnswerAudioQuestion(processId_, IDYES, kCaptionUninstall);
  Answer(processId_, kDone, IDOK);
  EXPECT_EQ(UninstallerExit(), 0);

  EXPECT_EQ(TreeOf(audio), (Lines{"Part 2\\", "Part 2\\book.plx", "book.plw"}));
  EXPECT_FALSE(DirExists(install_.Dir() + "Audio"));
  // The user's own file keeps its folder and the installation folder.
  EXPECT_TRUE(FileExists(install_.Dir() + "My Notes\\todo.txt"));
  EXPECT_TRUE(FileExists(extension));
  EXPECT_EQ(PendingDeletionsOf("\\Bin\\PelloryExt.dll"), 1u);
  const std::string log = UninstallLog();
  EXPECT_NE(log.find("Refusing to search '" + profile), std::string::npos) << log;
}

// A catalogue copy that cannot be read (held by another program), is empty,
// or was cut short: the error box, -1, and nothing removed, the uninstall
// entry still there to try again.
TEST_F(UninstallE2E, ACatalogueThatCannotBeReadOrIsNotWholeRemovesNothing) {
  ASSERT_NO_FATAL_FAILURE(LayOut());
  const std::string catalogue = install_.Bin() + "PM Install1.INF";
  std::string whole;
  ASSERT_TRUE(ReadFileBytes(catalogue, whole));
  const size_t cut = whole.find("FileVersion", whole.find("[Chapter.txt]"));
  ASSERT_NE(cut, std::string::npos);
  ASSERT_TRUE(RegWriteString(HKEY_LOCAL_MACHINE, kUninstallKey, "DisplayName", "PelloryManager"));
  struct Case {
    const char* what;
    std::string content;
    bool held;
  };
  const Case cases[] = {{"held", whole, true}, {"empty", "", false},
                        {"cut short", whole.substr(0, cut + 4), false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(WriteFileBytes(catalogue, c.content));
    HeldFile holder;
    if (c.held) {
      ASSERT_TRUE(holder.Hold(catalogue));
    }
    const Lines before = TreeOf(install_.Dir());

    ASSERT_NO_FATAL_FAILURE(StartElsewhere("/Uninstall"));
    Answer(processId_, kConfirm, IDYES);
    SeenBox failed = WaitBox(processId_);
    ASSERT_NE(failed.window, nullptr);
    EXPECT_EQ(failed.caption, "PelloryManager Install");
    EXPECT_EQ(failed.text.rfind("Uninstall failed.", 0), 0u) << failed.text;
    ui::PressButton(failed.window, IDOK);
    EXPECT_EQ(UninstallerExit(), kFailed);
    EXPECT_EQ(TreeOf(install_.Dir()), before);
    EXPECT_TRUE(RegKeyExists(HKEY_LOCAL_MACHINE, kPelloryKey));
    EXPECT_TRUE(RegKeyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
    EXPECT_NE(UninstallLog().find("The uninstall catalogue '" + catalogue + "' cannot be used: "),
              std::string::npos) << UninstallLog();
    ::DeleteFileA(logPath_.c_str());
  }
}

// Setup mode and quiet, started directly: the questions still come (with the
// Setup caption), the progress window stays hidden after the audio question,
// an empty "PelloryProgramsDir" is no folder (not the current one), and an
// installation with nothing of the user's goes completely, its empty
// folders deepest first.
TEST_F(UninstallE2E, QuietSetupKeepsTheWindowHiddenAndRemovesTheWholeFolder) {
  ASSERT_NO_FATAL_FAILURE(LayOut());
  ASSERT_TRUE(RegWriteString(HKEY_LOCAL_MACHINE, kPelloryKey, "PelloryProgramsDir", ""));
  ScratchDir current("cwd");
  ASSERT_NO_FATAL_FAILURE(MakeFiles(current.Path(), {"song.plw", "talk.plx"}));

  ASSERT_NO_FATAL_FAILURE(StartElsewhere("/Uninstall /Setup /q", current.Path()));
  Answer(processId_, kConfirm, IDYES, kCaptionWebInstall);
  EXPECT_FALSE(AnswerAudioQuestion(processId_, IDYES, kCaptionWebInstall))
      << "the progress window came back in a quiet Setup run";
  Answer(processId_, kDone, IDOK, kCaptionWebInstall);
  EXPECT_EQ(UninstallerExit(), 0);

  EXPECT_FALSE(DirExists(install_.Dir()))
      << "left: " << ::testing::PrintToString(TreeOf(install_.Dir())) << "\n" << UninstallLog();
  EXPECT_EQ(TreeOf(current.Path()), (Lines{"song.plw", "talk.plx"}));
  EXPECT_FALSE(DirExists(DocumentsDir() + "\\Pellory")) << "the uninstall made the user folder";
  const std::string log = UninstallLog();
  const std::string data = install_.Dir() + "Data";
  const auto removed = [&log](const std::string& folder) {
    return log.find("Empty directory " + folder + " has been successfully removed");
  };
  const size_t deeper = removed(data + "\\Deep\\Deeper"), deep = removed(data + "\\Deep");
  const size_t top = removed(data);
  EXPECT_NE(top, std::string::npos) << log;
  EXPECT_NE(log.find("Empty directory " + install_.Dir() + " has been successfully removed"),
            std::string::npos) << log;
  EXPECT_LT(deeper, deep) << log;
  EXPECT_LT(deep, top) << log;
}

// Run with LC_ALL=de_DE.UTF-8 (CMakeLists.txt): the questions, the progress
// window and its lines in German (texts in code page 1252).
class UninstallLanguageEnv : public UninstallE2E {};

TEST_F(UninstallLanguageEnv, GermanQuestionsAndProgressWindow) {
  ASSERT_NO_FATAL_FAILURE(LayOut());
  const char kCaption[] = "PelloryManager-Deinstallation";

  ASSERT_NO_FATAL_FAILURE(StartElsewhere("/Uninstall"));
  Answer(processId_, "M\xF6" "chten Sie PelloryManager wirklich deinstallieren?", IDYES, kCaption);
  SeenBox audio = WaitBox(processId_);
  EXPECT_EQ(audio.text, "M\xF6" "chten Sie alle Ihre Pellory-Audiodateien entfernen?");
  EXPECT_EQ(audio.caption, kCaption);
  const std::vector<HWND> windows =
      ui::FindWindows({"PelloryManager wird deinstalliert", "#32770", processId_, false});
  ASSERT_EQ(windows.size(), 1u) << "no progress window with the German title";
  EXPECT_EQ(ui::ControlText(windows[0], 210), "Datei wird gel\xF6scht:");
  if (audio.window) ui::PressButton(audio.window, IDNO);
  ui::WaitForWindowGone(audio.window);
  Answer(processId_, "PelloryManager wurde erfolgreich deinstalliert.", IDOK, kCaption);
  EXPECT_EQ(UninstallerExit(), 0);
}

}  // namespace
}  // namespace e2e
