#include "uninstall/DirectoryRemoval.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <vector>

#include "frame/Handle.h"
#include "tests/support/CapturedLog.h"
#include "tests/unit/uninstall/RecordedProgress.h"
#include "tests/support/Scratch.h"
#include "tests/support/UnixLinks.h"

namespace {

std::string CharLowerString(std::string text) {
  ::CharLowerBuffA(&text[0], static_cast<DWORD>(text.size()));
  return text;
}

using namespace testing_support;

void MakeTree(const std::string& root, const std::vector<std::string>& entries) {
  for (const std::string& entry : entries) {
    if (entry.back() == '\\') {
      ASSERT_TRUE(::CreateDirectoryA((root + entry).c_str(), nullptr)) << entry;
    } else {
      ASSERT_TRUE(WriteFileBytes(root + entry, "data " + entry)) << entry;
    }
  }
}

std::string Cannot(const std::string& folder, DWORD error) {
  return "Cannot delete directory " + folder + ". Error " + std::to_string(error) + ".";
}

TEST(DirectoryRemoval, RefusesRootsAndRelativePaths) {
  const char* refused[] = {
      "", "Pellory", "Pellory\\Bin", "\\Program Files", "C:", "C:Pellory", "C:\\", "c:/",
      "C:\\\\", "C:\\.", "C:\\.\\", "C:\\..", "C:\\Pellory\\..", "C:\\Pellory\\..\\.",
      "C:\\...", "C:\\ .", "\\\\?\\C:\\", "\\\\?\\C:", "\\\\?\\C:\\.", "\\\\.\\C:\\",
      "\\\\?\\C:\\\\", "\\\\server\\share", "\\\\server\\share\\", "\\\\server\\\\share\\\\",
      "\\\\server\\share\\.", "\\\\server\\share\\x\\..", "\\\\?\\UNC\\server\\share\\",
      "\\\\server", "\\\\"};
  for (const char* path : refused) {
    SCOPED_TRACE(path);
    EXPECT_FALSE(IsRemovableFolderPath(path));
  }
  const char* allowed[] = {"C:\\Program Files\\Pellory", "C:\\Program Files\\Pellory\\",
                           "C:\\\\Pellory", "\\\\?\\C:\\Pellory", "C:\\a\\..\\b",
                           "\\\\server\\share\\Pellory", "\\\\?\\UNC\\server\\share\\x"};
  for (const char* path : allowed) {
    SCOPED_TRACE(path);
    EXPECT_TRUE(IsRemovableFolderPath(path));
  }

  // End to end: a relative path names a real folder here, and every routine
  // leaves it alone and says why.
  ScratchDir scratch("rel");
  MakeTree(scratch.Path(), {"Keep\\", "Keep\\file.txt", "Empty\\", "Empty\\sub\\"});
  char previous[MAX_PATH];
  ::GetCurrentDirectoryA(MAX_PATH, previous);
  ASSERT_TRUE(::SetCurrentDirectoryA(scratch.Path().c_str()));
  CapturedLog log;
  EXPECT_NE(RemoveDirectoryTree("Keep", nullptr), 0u);
  EXPECT_FALSE(RemoveEmptyDirectories("Empty", nullptr));
  EXPECT_FALSE(RemoveDirectoryEntry("Empty\\sub"));
  ::SetCurrentDirectoryA(previous);
  EXPECT_TRUE(FileExists(scratch.Path() + "Keep\\file.txt"));
  EXPECT_TRUE(DirExists(scratch.Path() + "Empty\\sub"));
  EXPECT_TRUE(log.Has("Refusing to remove 'Keep': not a folder the uninstaller may remove."))
      << log.Text();
  EXPECT_TRUE(log.Has("Refusing to remove 'Empty\\sub': not a folder the uninstaller may remove."));
  EXPECT_FALSE(log.Contains("successfully removed")) << log.Text();
}

TEST(DirectoryRemoval, SystemFoldersAndTheirParentsAreNeverSwept) {
  char windows[MAX_PATH] = "", system[MAX_PATH] = "";
  ASSERT_TRUE(::GetWindowsDirectoryA(windows, MAX_PATH));
  ASSERT_TRUE(::GetSystemDirectoryA(system, MAX_PATH));
  std::string programFiles, profile;
  ASSERT_TRUE(SpecialFolderPath(CSIDL_PROGRAM_FILES, programFiles));
  ASSERT_TRUE(SpecialFolderPath(CSIDL_PROFILE, profile));
  const std::string profileParent = profile.substr(0, profile.find_last_of('\\'));
  const std::string lowerWindows = CharLowerString(windows);
  for (const std::string& folder :
       {std::string(windows), std::string(system), programFiles, profile, profileParent,
        lowerWindows + "\\", std::string(system) + "\\..", std::string("C:\\")}) {
    SCOPED_TRACE(folder);
    EXPECT_TRUE(IsSystemFolderOrAbove(folder));
  }
  // Folders below them are the product's to sweep.
  ScratchDir scratch("sweep");
  for (const std::string& folder :
       {scratch.Path(), programFiles + "\\Pellory", profile + "\\Documents\\Pellory"}) {
    SCOPED_TRACE(folder);
    EXPECT_FALSE(IsSystemFolderOrAbove(folder));
  }
}

TEST(DirectoryRemoval, DriveRootStaysWhole) {
  // A drive of this prefix whose root is a scratch folder: a removal that
  // took a root would empty it.
  ScratchDir scratch("drive");
  MakeTree(scratch.Path(), {"file.txt", "Empty\\", "Sub\\", "Sub\\a.log"});
  char letter = 'Q';
  while (letter < 'Z' && ::GetDriveTypeA((std::string(1, letter) + ":\\").c_str()) !=
                             DRIVE_NO_ROOT_DIR)
    ++letter;
  const std::string c = UnixPath("C:\\");
  const std::string::size_type drives = c.rfind("/c:");
  ASSERT_NE(drives, std::string::npos) << c;
  const std::string root = std::string(1, letter) + ":\\";
  const std::string drive = c.substr(0, drives + 1) + static_cast<char>(letter - 'A' + 'a') + ":";
  ASSERT_TRUE(RunUnixCommand(
      "Z:\\bin\\ln -s \"" + UnixPath(scratch.Path()) + "\" \"" + drive + "\"",
      [&] { return ::GetFileAttributesA((root + "file.txt").c_str()) != INVALID_FILE_ATTRIBUTES; }));

  CapturedLog log;
  for (const std::string& path : {root, root + ".", root + "\\", "\\\\?\\" + root,
                                  "\\\\?\\" + root + ".", root + "Sub\\.."}) {
    SCOPED_TRACE(path);
    EXPECT_NE(RemoveDirectoryTree(path, nullptr), 0u);
    EXPECT_NE(RemoveDirectoryTree(path, nullptr, ".log"), 0u);
    EXPECT_FALSE(RemoveEmptyDirectories(path, nullptr));
    EXPECT_FALSE(RemoveDirectoryEntry(path));
  }
  EXPECT_TRUE(FileExists(scratch.Path() + "file.txt"));
  EXPECT_TRUE(FileExists(scratch.Path() + "Sub\\a.log"));
  EXPECT_TRUE(DirExists(scratch.Path() + "Empty"));
  EXPECT_TRUE(log.Has("Refusing to remove '" + root + "': not a folder the uninstaller may remove."))
      << log.Text();
  EXPECT_FALSE(log.Contains("successfully removed")) << log.Text();
}

TEST(DirectoryRemoval, ExtensionFiltersKeepOtherFiles) {
  ScratchDir scratch("filter");
  const std::string logs = scratch.Path() + "Logs";
  const std::string plugins = scratch.Path() + "Plugins";
  const std::string kept = scratch.Path() + "Kept";
  MakeTree(scratch.Path(), {"Logs\\", "Logs\\a.log", "Logs\\README", "Logs\\sub\\",
                            "Logs\\sub\\b.LOG", "Logs\\sub\\c.txt", "Plugins\\",
                            "Plugins\\y.plw", "Plugins\\README", "Plugins\\p\\",
                            "Plugins\\p\\x.plx", "Plugins\\p\\x.plx.bak", "Kept\\",
                            "Kept\\a.log"});
  CapturedLog log;
  EXPECT_NE(RemoveDirectoryTree(logs, nullptr, ".log"), 0u);
  EXPECT_FALSE(FileExists(logs + "\\a.log"));
  EXPECT_FALSE(FileExists(logs + "\\sub\\b.LOG"));
  EXPECT_EQ(FileContent(logs + "\\sub\\c.txt"), "data Logs\\sub\\c.txt");
  EXPECT_EQ(FileContent(logs + "\\README"), "data Logs\\README");
  // A folder that still holds a file is not even tried.
  EXPECT_FALSE(log.Contains("Cannot delete directory")) << log.Text();

  EXPECT_NE(RemoveDirectoryTree(plugins, nullptr, ".plw", ".plx"), 0u);
  EXPECT_FALSE(FileExists(plugins + "\\y.plw"));
  EXPECT_FALSE(FileExists(plugins + "\\p\\x.plx"));
  EXPECT_TRUE(FileExists(plugins + "\\p\\x.plx.bak"));
  EXPECT_TRUE(FileExists(plugins + "\\README"));

  // The folder a sweep is given may be the user's own (the audio folder set
  // to "Music"): it stays, and so do the empty folders it held before; only
  // a folder the sweep emptied goes.
  const std::string music = scratch.Path() + "Music";
  MakeTree(scratch.Path(), {"Music\\", "Music\\a.plw", "Music\\Empty\\", "Music\\Book\\",
                            "Music\\Book\\b.plx", "Music\\Book\\Part\\", "Music\\Book\\Part\\c.plw"});
  EXPECT_NE(RemoveDirectoryTree(music, nullptr, ".plw", ".plx"), 0u);
  EXPECT_TRUE(DirExists(music + "\\Empty"));
  EXPECT_FALSE(DirExists(music + "\\Book"));
  EXPECT_TRUE(DirExists(music));
  EXPECT_TRUE(log.Has("Directory " + music + "\\Book\\Part has been successfully removed"));

  // An empty first extension keeps every file.
  EXPECT_NE(RemoveDirectoryTree(kept + "\\", nullptr, ""), 0u);
  EXPECT_TRUE(FileExists(kept + "\\a.log"));

  // Without a filter everything goes, read-only files too.
  ASSERT_TRUE(::SetFileAttributesA((plugins + "\\README").c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(RemoveDirectoryTree(plugins, nullptr), 0u);
  EXPECT_FALSE(DirExists(plugins));
  EXPECT_TRUE(log.Has("Directory " + plugins + " has been successfully removed")) << log.Text();

  // A missing folder: nothing found, and the removal's not-found code.
  const std::string missing = scratch.Path() + "Missing";
  const DWORD missingError = RemoveDirectoryTree(missing, nullptr);
  EXPECT_TRUE(missingError == ERROR_FILE_NOT_FOUND || missingError == ERROR_PATH_NOT_FOUND)
      << missingError;
  EXPECT_TRUE(log.Has(Cannot(missing, missingError))) << log.Text();
}

TEST(DirectoryRemoval, ProgressWindowShowsEachEntry) {
  ScratchDir scratch("progress");
  MakeTree(scratch.Path(), {"One\\", "One\\gone.log", "Two\\", "Two\\kept.txt"});
  RecordedProgress progress;
  RemoveDirectoryTree(scratch.Path() + "One", &progress, ".log");
  EXPECT_EQ(progress.status, "Deleting file:");
  EXPECT_EQ(progress.detail, scratch.Path() + "One\\gone.log");
  RemoveDirectoryTree(scratch.Path() + "Two", &progress, ".log");
  EXPECT_EQ(progress.status, "");
  EXPECT_EQ(progress.detail, scratch.Path() + "Two\\kept.txt");
}

// A folder the user moved elsewhere, a junction left in its place: neither a
// whole-tree removal of the junction nor a filtered sweep of it or of a
// folder that holds one reaches the user's files. An empty folder behind a
// link stays where an empty tree of the same shape goes (the end-to-end
// uninstall never meets one). (Wine shows no reparse point on a link to a
// file, so the sweep's handling of file links cannot be shown here.)
TEST(DirectoryRemoval, LinksAreNeverSweptThrough) {
  ScratchDir user("user");
  ScratchDir install("install");
  MakeTree(user.Path(),
           {"Moved\\", "Moved\\book.plw", "Moved\\notes.txt", "Bare\\", "Bare\\inner\\"});
  MakeTree(install.Path(), {"Audio\\", "Audio\\old.plw", "Bare\\", "Bare\\a\\", "Bare\\a\\b\\",
                            "Tidy\\", "Tidy\\x\\"});
  const std::string admin = install.Path() + "Admin";
  const std::string audio = install.Path() + "Audio";
  const std::string bare = install.Path() + "Bare";
  if (!MakeFolderLink(admin, user.Path() + "Moved") ||
      !MakeFolderLink(audio + "\\Shelf", user.Path() + "Moved") ||
      !MakeFolderLink(install.Path() + "Tidy\\x\\Bare", user.Path() + "Bare"))
    FAIL() << "could not make the links through the Unix side";

  // The filtered sweeps first: a whole-tree removal may take the link itself.
  CapturedLog log;
  RemoveDirectoryTree(admin + "\\", nullptr, ".plw", ".plx");
  RemoveDirectoryTree(audio, nullptr, ".plw", ".plx");
  RemoveDirectoryTree(admin, nullptr);
  EXPECT_EQ(FileContent(user.Path() + "Moved\\book.plw"), "data Moved\\book.plw");
  EXPECT_EQ(FileContent(user.Path() + "Moved\\notes.txt"), "data Moved\\notes.txt");
  EXPECT_FALSE(FileExists(audio + "\\old.plw"));
  EXPECT_TRUE(log.Has("Directory " + admin + " is a link; it and its target are left alone"))
      << log.Text();

  EXPECT_TRUE(RemoveEmptyDirectories(bare + "\\", nullptr));
  EXPECT_FALSE(DirectoryExists(bare));
  EXPECT_TRUE(log.Has("Empty directory " + bare + "\\a has been successfully removed"))
      << log.Text();
  EXPECT_FALSE(RemoveEmptyDirectories(install.Path() + "Tidy", nullptr));
  EXPECT_TRUE(DirExists(user.Path() + "Bare\\inner"));
  for (const std::string& link : {admin, audio + "\\Shelf"}) RemoveFolderLink(link);
}

// A program of the user that swaps a folder for a link after the removal
// listed it, and before it goes in: the link is seen for what it is, and the
// files behind it stay, for the whole-tree removal and for the removal of
// empty folders alike.
TEST(DirectoryRemoval, ALinkSwappedInWhileItRunsIsNeverFollowed) {
  ScratchDir user("user");
  ScratchDir install("install");
  MakeTree(user.Path(), {"Mine\\", "Mine\\letter.txt", "Mine\\Empty\\"});
  MakeTree(install.Path(), {"Admin\\", "Admin\\Swapped\\", "Admin\\Swapped\\old.dat",
                            "Tidy\\", "Tidy\\Swapped\\"});
  static std::string target;
  static std::string moved;
  static int swaps = 0;
  target = user.Path() + "Mine";
  moved = install.Path() + "Moved";
  RemovalEntryHook() = [](const std::string& path) {
    if (path.size() < 8 || path.compare(path.size() - 8, 8, "\\Swapped") != 0) return;
    ::MoveFileA(path.c_str(), (moved + std::to_string(::GetTickCount())).c_str());
    if (MakeFolderLink(path, target)) ++swaps;
  };
  struct Unhook {
    ~Unhook() { RemovalEntryHook() = [](const std::string&) {}; }
  } unhook;

  CapturedLog log;
  RemoveDirectoryTree(install.Path() + "Admin", nullptr);
  RemoveEmptyDirectories(install.Path() + "Tidy", nullptr);
  EXPECT_EQ(swaps, 2) << "the links were not swapped in";
  EXPECT_EQ(FileContent(user.Path() + "Mine\\letter.txt"), "data Mine\\letter.txt");
  EXPECT_TRUE(DirExists(user.Path() + "Mine\\Empty"));
  for (const char* link : {"Admin\\Swapped", "Tidy\\Swapped"})
    RemoveFolderLink(install.Path() + link);
}

}  // namespace
