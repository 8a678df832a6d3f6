// The uninstaller's folder routines: a recursive removal that may keep all
// files but those of given extensions, a bottom-up removal of empty folders,
// the removal of one folder entry and two folder tests. Progress goes to the
// uninstall progress window (status line 210, detail line 211) when one is
// given; results go to the update log. Nothing here stops the uninstall.
// Every change goes through the removal actions (RemovalActions.h): in a dry
// run these routines decide as ever and only list what they would do.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "uninstall/RemovalProgress.h"

// False for a path no removal routine may take away: empty or relative, a
// drive root or a UNC share root, however spelled ("\\?\" prefix, doubled
// backslashes, trailing dots, "..").
bool IsRemovableFolderPath(const std::string& folder);

// Without a first extension: removes the tree below `folder` and then the
// folder itself; 0 when the folder was removed at the end, else that
// removal's system error code. With one, a sweep: an empty first extension
// keeps every file, otherwise only files whose extension (".log", case
// ignored) is one of the given ones go, and only the folders below `folder`
// that the sweep itself emptied are removed, never `folder` (the result is
// then never 0). A junction or link is removed itself; what it points at is
// never entered, even when it was swapped in while the removal ran.
DWORD RemoveDirectoryTree(const std::string& folder, RemovalProgress* progress,
                          const char* firstExtension = nullptr,
                          const char* secondExtension = nullptr,
                          const char* thirdExtension = nullptr);
// Removes every empty folder below `folder`, deepest first, then the folder
// itself when it is empty; false when a file or a link was met anywhere in it
// (the folder itself being a link included), which keeps the folders it lies
// in but not their other folders.
bool RemoveEmptyDirectories(const std::string& folder, RemovalProgress* progress);
// Calls found(path) for every file below `folder` whose extension is one of
// the given ones, as a sweep for them would meet it: links are not entered.
void FindFilesOfKinds(const std::string& folder,
                      const std::function<void(const std::string& path)>& found,
                      const char* firstExtension, const char* secondExtension = nullptr);
// Removes one (empty) folder, clearing its read-only, hidden and system bits.
bool RemoveDirectoryEntry(const std::string& folder);
// True when the path exists (a file too).
bool DirectoryExists(const std::string& path);
// True when the folder holds nothing, or cannot be searched.
bool IsDirectoryEmpty(const std::string& folder);

// The folder on disk of a shell folder (CSIDL_...); false for one that is
// missing or has no place on disk.
bool SpecialFolderPath(int csidl, std::string& path);
// True for a folder that a sweep through a whole tree must never take: one
// IsRemovableFolderPath refuses, the Windows or system folder, Program Files,
// the profile root, or any folder that holds one of them.
bool IsSystemFolderOrAbove(const std::string& folder);

// Called with each folder's path just before it is checked and held; tests
// swap a link in there.
using RemovalEntryHookFn = void (*)(const std::string& path);
RemovalEntryHookFn& RemovalEntryHook();
