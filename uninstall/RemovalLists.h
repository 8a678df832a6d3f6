// The uninstaller's removal passes over the components catalogue: its hooks,
// the files of every component, the files, folders, shortcuts and registry
// entries of section "Uninstall", and the lists that keep one path from
// being handled twice and put plain deletions off to one final pass.
// Progress goes to the uninstall progress window (status line 210, detail
// line 211) when one is given; nothing here stops the uninstall.
#pragma once

#include <windows.h>

#include <string>
#include <unordered_set>
#include <vector>

#include "catalog/Component.h"
#include "catalog/IniFile.h"

#include "removal/RemovalActions.h"
#include "uninstall/RemovalProgress.h"

// Full paths in the order they were added. Paths are found without regard to
// case, as the file system and the SharedDlls value names find them: one file
// listed in two spellings is handled, and its count lowered, once.
class RemovalPathList {
 public:
  bool Contains(const std::string& path) const;
  // False when the path was there already.
  bool Append(const std::string& path);
  const std::vector<std::string>& Paths() const { return paths_; }

 private:
  std::vector<std::string> paths_;
  std::unordered_set<std::string> index_;
};

// Every file a pass has handled: the later passes skip it.
using ProcessedList = RemovalPathList;
// Files free to delete, deleted together by DeleteMarkedFiles.
using MarkedForDeletingList = RemovalPathList;

// Runs the programs of section "Uninstall Hooks" (Hook1, Hook2, ... up to the
// first gap) and waits for each; an exit code of 36 sets rebootNeeded.
void RunUninstallHooks(const IniFile& catalogue, RemovalProgress* progress, bool& rebootNeeded);

// Every file of every component: a shared system file (LDID_SYS, LDID_WIN)
// stays and its SharedDlls count goes down by one, never below 0; others are
// unregistered when self-registered, their read-only, hidden and system marks
// cleared, then deferred to the next start when in use (rebootNeeded) or
// marked for deleting. A file found through its class's registered server is
// taken only inside `appDir`: any program of the user can register a class.
// A folder of that name is left alone.
void RemoveComponentFiles(const ComponentCatalog& catalogue, const std::string& appDir,
                          RemovalProgress* progress,
                          ProcessedList& processed, MarkedForDeletingList& marked,
                          bool& rebootNeeded);

// The "File%d" entries of section "Uninstall": files as above, folders
// removed only when they are empty.
void RemoveListedFiles(const IniFile& catalogue, RemovalProgress* progress,
                       ProcessedList& processed,
                       MarkedForDeletingList& marked, bool& rebootNeeded);

// Deletes the marked files in list order, logging each result.
void DeleteMarkedFiles(const MarkedForDeletingList& marked);

// The "Shortcut%d" entries: "CSIDL_NAME,path below that folder".
void RemoveListedShortcuts(const IniFile& catalogue, RemovalProgress* progress);

// The "Registry%d" entries, each a delete line; failures are not reported.
void RemoveListedRegistryEntries(const IniFile& catalogue);
