// Every change the uninstall makes to the machine goes through here: files,
// links and folders deleted now or at the next start of Windows, servers
// unregistered, registry keys and values deleted, SharedDlls counts lowered,
// hooks run. The removal routines decide; this carries their decisions out
// and records them in the run summary's lists: "removed" (taken now),
// "deferred" (left for the next start of Windows), "refused" and "kept" (each
// with its reason).
//
// A dry run records the same lists and changes nothing: it logs what the
// uninstall would do, and remembers what would be gone, so that the tests
// the removal makes later (does the file exist, is the folder empty) answer
// as they would after the real steps.
#pragma once

#include <windows.h>

#include <string>
#include <unordered_set>

struct RegistryEntry;

class RemovalActions {
 public:
  // Starts a run; a dry run forgets what an earlier one took.
  void SetDryRun(bool dryRun);
  bool DryRun() const { return dryRun_; }

  // For a step with nothing to record (closing a program, the browser
  // step): true in a real run, where the caller goes on; in a dry run logs
  // "Would <what>." and answers false.
  bool Allows(const std::string& what);
  // A line about a step just taken ("... has been deleted", "Cannot ..."):
  // a real run's account only, since a dry run has said what it would do.
  void Report(const char* format, ...)
#if defined(__GNUC__)
      __attribute__((format(printf, 2, 3)))
#endif
      ;

  // The disk as the removal sees it: in a dry run, what would be gone is not
  // there (INVALID_FILE_ATTRIBUTES), and neither is anything below it.
  DWORD Attributes(const std::string& path) const;
  bool IsGone(const std::string& path) const;
  // The file is open elsewhere (IsFileLocked). A dry run probes a file whose
  // marks it would have cleared as it would be then, and takes the run's own
  // program and log for free: the real uninstall runs from its copy.
  bool IsInUse(const std::string& path) const;

  // Clears the read-only, hidden and system marks; false when that failed.
  bool ClearAttributes(const std::string& path);
  // A file, its marks cleared first. False with the system's error (then
  // kept, with it as the reason; a missing file is not listed).
  bool DeleteFile(const std::string& path);
  // An empty folder, its marks cleared first; false with the error.
  bool RemoveFolder(const std::string& folder);
  // A junction or link itself, never its target; its marks are left alone,
  // since setting them would reach the target.
  bool RemoveLink(const std::string& path, bool isFolder);
  // Left for the next start of Windows (DeleteFileDelayReboot); 0 or the error.
  DWORD DeleteAtRestart(const std::string& path);

  void Unregister(const std::string& path);
  // An uninstall hook's command line; an exit code of 36 sets rebootNeeded.
  void RunHook(const std::string& commandLine, bool& rebootNeeded);
  // A shared system file stays: its SharedDlls count goes down by one, never
  // below 0. Kept, with the count as the reason.
  void ReleaseSharedFile(const std::string& path);

  // A registry key with everything below it; 0, ERROR_FILE_NOT_FOUND or the
  // error. Listed as "HKLM\parent\name".
  LONG DeleteRegistryKey(HKEY root, const std::string& parent, const std::string& name);
  // A catalogue's delete line: the subkey it names, else the value.
  void DeleteRegistryEntry(const RegistryEntry& entry);

  void Refuse(const std::string& path, const std::string& reason);
  void Keep(const std::string& path, const std::string& reason);

 private:
  bool Probe(const std::string& path, bool cleared) const;
  void MarkGone(const std::string& path);
  void Defer(const std::string& path);

  bool dryRun_ = false;
  std::unordered_set<std::string> gone_;     // case-folded, without a final backslash
  std::unordered_set<std::string> cleared_;  // files whose marks a dry run cleared
  std::unordered_set<std::string> own_;      // the dry run's program and log
};

RemovalActions& TheRemovalActions();

// The SharedDlls count of a shared file, lowered by one and kept at 0; a
// missing or non-DWORD value is left alone. `sharedDlls` is the open key.
void ReleaseSharedDllCount(HKEY sharedDlls, const std::string& path);
