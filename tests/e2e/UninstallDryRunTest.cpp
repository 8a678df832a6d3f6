// "/Uninstall /DryRun" as an administrator uses it before the real thing: it
// changes nothing, says in Update.json what the uninstall would remove, leave
// for the next start of Windows, refuse and keep, and the real uninstall then
// does just that.
#include <set>

#include "tests/e2e/UninstallFixture.h"
#include "tests/support/JsonValue.h"

namespace e2e {
namespace {

using namespace uninstall;
using ::testing::PrintToString;

// Every key and value below root\path, one line each ("" when it is missing).
void RegistryLines(HKEY root, const std::string& path, Lines& lines) {
  frame::RegKey key;
  if (key.Open(root, path, KEY_READ | ProgramRegistryView()) != ERROR_SUCCESS) return;
  lines.push_back(path + "\\");
  for (DWORD index = 0;; ++index) {
    char name[16384];
    DWORD nameLength = sizeof(name);
    BYTE data[4096];
    DWORD size = sizeof(data), type = 0;
    if (::RegEnumValueA(key.get(), index, name, &nameLength, nullptr, &type, data, &size) !=
        ERROR_SUCCESS)
      break;
    lines.push_back(path + "\\" + name + "=" + std::to_string(type) + ":" +
                    std::string(reinterpret_cast<char*>(data), size));
  }
  for (DWORD index = 0;; ++index) {
    char name[256];
    DWORD nameLength = sizeof(name);
    if (::RegEnumKeyExA(key.get(), index, name, &nameLength, nullptr, nullptr, nullptr,
                        nullptr) != ERROR_SUCCESS)
      break;
    RegistryLines(root, path + "\\" + name, lines);
  }
}

// What a full path lists in the summary, as the tree shows it: no final
// backslash.
std::string Entry(const std::string& path) {
  return !path.empty() && path.back() == '\\' ? path.substr(0, path.size() - 1) : path;
}

class UninstallDryRunE2E : public UninstallE2E {
 protected:
  // The files (with their marks), folders and registry the uninstall works
  // on, the deletions waiting for the next start and the uninstaller's
  // copies; the run's own log and summary in Bin\ left out.
  Lines Machine() {
    Lines state;
    for (const std::string& root : {install_.Dir(), DocumentsDir() + "\\Pellory\\"})
      for (const std::string& entry : TreeOf(root)) {
        if (entry == "Bin\\Update.log" || entry == "Bin\\Update.json") continue;
        const DWORD attributes = ::GetFileAttributesA((root + entry).c_str());
        const size_t size = entry.back() == '\\' ? 0 : FileContent(root + entry).size();
        state.push_back(root + entry + " " + std::to_string(attributes) + " " +
                        std::to_string(size));
      }
    RegistryLines(HKEY_LOCAL_MACHINE, kPelloryKey, state);
    RegistryLines(HKEY_CURRENT_USER, kPelloryKey, state);
    RegistryLines(HKEY_LOCAL_MACHINE, kUninstallKey, state);
    RegistryLines(HKEY_LOCAL_MACHINE, kCodecsKey, state);
    state.push_back("shared " + SharedCount(SystemFileName("PelloryE2ESys.dll")));
    state.push_back("pending " + std::to_string(PendingDeletionsOf(install_.Dir())) + " " +
                    std::to_string(PendingDeletionsOf("Upgrade.exe")));
    for (const std::string& copy : CopyFolders()) state.push_back("copy " + copy);
    return state;
  }

  // Every file and folder below the installation and Documents\Pellory, by
  // full path.
  std::set<std::string> OnDisk() {
    std::set<std::string> paths;
    for (const std::string& root : {install_.Dir(), DocumentsDir() + "\\Pellory\\"}) {
      if (DirExists(root)) paths.insert(Entry(root));
      for (const std::string& entry : TreeOf(root)) paths.insert(Entry(root + entry));
    }
    return paths;
  }

  static JsonValue Summary(const std::string& path) {
    JsonValue value;
    std::string error;
    const std::string text = FileContent(path);
    EXPECT_TRUE(ParseJson(text, value, &error)) << error << "\n" << text;
    return value;
  }

  // One of the uninstall's lists: "path" or "path: reason" per entry.
  static Lines List(const JsonValue& summary, const char* name) {
    Lines entries;
    for (const JsonValue& item : summary["uninstall"][name].items)
      entries.push_back(item["path"].text +
                        (item.Has("reason") ? ": " + item["reason"].text : std::string()));
    return entries;
  }

  static bool Has(const Lines& list, const std::string& entry) {
    return std::find(list.begin(), list.end(), entry) != list.end();
  }
};

// An installation with audio files, a shared system file, a hook, a file the
// player holds, a read-only file, program data, a registry line, a refused
// shortcut entry and an update's log and summary, while a manager runs: the
// dry run from Bin\ runs in place, asks nothing, closes nothing and changes
// none of it; the real uninstall then removes exactly what the dry run
// listed, and says so in the same lists.
TEST_F(UninstallDryRunE2E, ChangesNothingAndListsWhatTheUninstallThenDoes) {
  ASSERT_NO_FATAL_FAILURE(LayOut());
  const std::string dir = install_.Dir(), bin = install_.Bin();
  WriteCatalogue({"[Components]", "Player=1,0,0,0", "[Player]", "SourceDisksFiles=Player Files",
                  "[Player Files]", "1=Manager.exe", "2=Chapter.txt", "3=Player.ini",
                  "4=PelloryE2ESys.dll", "5=UnHook1.exe",
                  "[Manager.exe]", "File=p.cab", "FileVersion=1,0,0,0", "DestDir=Bin",
                  "[Chapter.txt]", "File=p.cab", "FileVersion=1,0,0,0",
                  "DestDir=Data\\Deep\\Deeper",
                  "[Player.ini]", "File=p.cab", "FileVersion=1,0,0,0", "DestDir=Bin",
                  "[PelloryE2ESys.dll]", "File=p.cab", "FileVersion=1,0,0,0", "DestDir=LDID_SYS",
                  "[UnHook1.exe]", "File=p.cab", "FileVersion=1,0,0,0", "DestDir=Bin",
                  "CmdLine=/uninstall", "[Uninstall Hooks]", "Hook1=UnHook1.exe",
                  "[Uninstall]", "File1=PM Install1.INF", "Shortcut1=CSIDL_DESKTOPDIRECTORY,.",
                  "Registry1=HKLM," + std::string(kCodecsKey) + ",Formats",
                  "[PM Install1.INF]", "DestDir=Bin"});
  ASSERT_TRUE(::CopyFileA(FixturePath("Hook.exe").c_str(), (bin + "UnHook1.exe").c_str(), FALSE));
  ASSERT_TRUE(WriteFileBytes(bin + "Player.ini", "[Player]\r\n"));
  const std::string chapter = dir + "Data\\Deep\\Deeper\\Chapter.txt";
  ASSERT_TRUE(::SetFileAttributesA(chapter.c_str(), FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(WriteFileBytes(SystemFile("PelloryE2ESys.dll"), "system"));
  frame::RegKey shared;
  ASSERT_EQ(shared.Create(HKEY_LOCAL_MACHINE, kSharedDlls,
                          KEY_READ | KEY_WRITE | ProgramRegistryView()),
            ERROR_SUCCESS);
  ASSERT_EQ(shared.SetDword(SystemFileName("PelloryE2ESys.dll"), 3), ERROR_SUCCESS);
  shared.Close();
  ASSERT_TRUE(RegWriteString(HKEY_LOCAL_MACHINE, kCodecsKey, "Formats", "AAC MP3"));
  ASSERT_TRUE(RegWriteString(HKEY_LOCAL_MACHINE, kPelloryKey + std::string("\\GIDMAP"), "v", "x"));
  ASSERT_TRUE(RegWriteString(HKEY_CURRENT_USER, kPelloryKey, "Volume", "7"));
  ASSERT_TRUE(RegWriteString(HKEY_LOCAL_MACHINE, kUninstallKey, "DisplayName", "PelloryManager"));
  const std::string logs = DocumentsDir() + "\\Pellory\\Logs\\";
  ASSERT_NO_FATAL_FAILURE(
      MakeFiles(DocumentsDir() + "\\", {"Pellory\\", "Pellory\\Logs\\", "Pellory\\Logs\\Update.log",
                                        "Pellory\\Logs\\Update.json"}));
  HeldFile player;
  ASSERT_TRUE(player.Hold(bin + "Player.ini"));
  // A manager runs (from elsewhere, so that it holds none of the files).
  ChildProcess manager;
  const std::string managerCopy = elsewhere_.Path() + "Manager.exe";
  ASSERT_TRUE(::CopyFileA(FixturePath("Manager.exe").c_str(), managerCopy.c_str(), FALSE));
  ASSERT_TRUE(manager.Start(managerCopy, ""));
  ui::WindowQuery managerWindow;
  managerWindow.className = "PelloryWndClass";
  ASSERT_NE(ui::WaitForWindow(managerWindow), nullptr);

  // The dry run, from Bin\ as the uninstall entry would start it: no box,
  // no copy of itself, the manager left running, and 36 for the file that
  // would wait.
  const Lines before = Machine();
  ChildProcess dryRun;
  ASSERT_TRUE(dryRun.Start(install_.InstalledUpgrade(), "/Uninstall /DryRun"));
  const DWORD dryExit = dryRun.Wait(Patience(30000));
  if (dryExit == STILL_ACTIVE) {
    ADD_FAILURE() << "the dry run waits; on screen: '" << WaitBox(dryRun.Id(), 1000).text << "'";
    dryRun.Kill();
  }
  EXPECT_EQ(AsInt(dryExit), 36);
  EXPECT_EQ(Machine(), before);
  ASSERT_NE(dryExit, STILL_ACTIVE);
  EXPECT_TRUE(manager.Running()) << "the dry run closed the manager";
  const std::string dryLog = FileContent(bin + "Update.log");
  EXPECT_NE(dryLog.find("Would delete file '" + bin + "Manager.exe'."), std::string::npos)
      << dryLog;
  EXPECT_NE(dryLog.find("Dry run: nothing on this machine has been changed."), std::string::npos);

  const JsonValue dry = Summary(bin + "Update.json");
  EXPECT_EQ(dry["mode"].text, "uninstall");
  EXPECT_TRUE(dry["dryRun"].boolean);
  EXPECT_EQ(dry["exitCode"].number, 36);
  const Lines removed = List(dry, "removed"), deferred = List(dry, "deferred");
  const Lines kept = List(dry, "kept"), refused = List(dry, "refused");
  // What goes only once earlier steps have emptied it: the plug-ins' folder,
  // the folders above the listed file, the logs folder and the one above it.
  for (const std::string& entry :
       {bin + "Manager.exe", bin + "Upgrade.exe", bin + "UnHook1.exe", chapter,
        bin + "Plugins\\Reader.dll", bin + "Plugins", dir + "Admin", dir + "Data\\Deep\\Deeper",
        dir + "Data", logs + "Update.json", DocumentsDir() + "\\Pellory",
        std::string("HKLM\\") + kCodecsKey + "\\Formats", std::string("HKLM\\") + kPelloryKey,
        std::string("HKCU\\") + kPelloryKey, std::string("HKLM\\") + kUninstallKey})
    EXPECT_TRUE(Has(removed, entry)) << entry << " is not in " << PrintToString(removed);
  EXPECT_EQ(deferred, (Lines{bin + "Player.ini"}));
  const std::string audio = ": an audio file, kept by the answer No to the audio question";
  for (const std::string& entry :
       {dir + "Audio\\book.plw" + audio, dir + "Audio\\Part 2\\book.plx" + audio,
        bin + "Content.plr" + audio,
        SystemFileName("PelloryE2ESys.dll") +
            ": a shared system file; its use count goes from 3 to 2",
        Entry(dir) + ": the installation folder still holds files"})
    EXPECT_TRUE(Has(kept, entry)) << entry << " is not in " << PrintToString(kept);
  EXPECT_TRUE(Has(refused, "CSIDL_DESKTOPDIRECTORY,.: a shortcut entry that names no place below "
                           "a shell folder")) << PrintToString(refused);

  // The real uninstall, the audio files kept as the dry run assumed.
  const std::set<std::string> beforeReal = OnDisk();
  ASSERT_NO_FATAL_FAILURE(StartFromBin());
  Answer(processId_, kConfirm, IDYES);
  Answer(processId_, kManagerRunning, IDOK);
  AnswerAudioQuestion(processId_, IDNO, kCaptionUninstall);
  Answer(processId_, kRestartQuestion, IDNO);
  EXPECT_EQ(UninstallerExit(), 0);
  EXPECT_EQ(FileContent(bin + "UnHook1.exe.runs"), "\"" + bin + "UnHook1.exe\" /uninstall\r\n");
  const JsonValue real = Summary(copy_.substr(0, copy_.find_last_of('\\') + 1) + "Update.json");
  EXPECT_FALSE(real["dryRun"].boolean);
  // The dry run's own summary, written after it had looked, goes too.
  Lines realRemoved = List(real, "removed");
  const auto own = std::find(realRemoved.begin(), realRemoved.end(), bin + "Update.json");
  ASSERT_NE(own, realRemoved.end()) << PrintToString(realRemoved);
  realRemoved.erase(own);
  EXPECT_EQ(realRemoved, removed);
  EXPECT_EQ(List(real, "deferred"), deferred);
  EXPECT_EQ(List(real, "kept"), kept);
  EXPECT_EQ(List(real, "refused"), refused);

  // What went from the disk is what the dry run listed there, and what it
  // left for the restart waits for it.
  std::set<std::string> gone;
  const std::set<std::string> afterReal = OnDisk();
  for (const std::string& path : beforeReal)
    if (!afterReal.count(path) && path != bin + "Update.json") gone.insert(path);
  std::set<std::string> listed;
  for (const std::string& path : removed)
    if (path.rfind(Entry(dir), 0) == 0 || path.rfind(DocumentsDir() + "\\Pellory", 0) == 0)
      listed.insert(path);
  EXPECT_EQ(gone, listed);
  EXPECT_EQ(PendingDeletionsOf(bin + "Player.ini"), 1u);
  EXPECT_EQ(SharedCount(SystemFileName("PelloryE2ESys.dll")), "2");
  EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, kPelloryKey));
  EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
}

}  // namespace
}  // namespace e2e
