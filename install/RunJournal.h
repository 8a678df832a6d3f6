// The journal of what one installation run changed, so that a run that fails
// (or is cancelled, or killed) leaves the installation as it found it: the
// files it replaced or deleted (kept beside them under side names until the
// run has ended well), the files it added, the work it queued for the next
// start of Windows, the RunOnce values it added, and the registry values it
// changed (the registry lines and the version records), each with what was
// there before.
//
// The journal is kept in the program's branch of HKLM, one value per entry,
// each written as the change is made: only an administrator can write there,
// so a journal that the next run acts on with raised rights says only what an
// administrator's run wrote. A process killed in the middle leaves it behind;
// the next run finishes it before it changes anything (FinishEarlierRun).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

class RunJournal {
 public:
  RunJournal() = default;
  RunJournal(const RunJournal&) = delete;
  RunJournal& operator=(const RunJournal&) = delete;

  // Starts an empty journal; false (logged) when it cannot be kept, and then
  // the run goes on without one, as before.
  bool Begin();
  bool Active() const { return active_; }

  // Before a change: what the run is about to alter, and how it was.
  // An existing file that this run replaces or deletes stays whole under a
  // side name in its folder: it is renamed there now, and `kept` names it.
  // 0 or the rename's error (then nothing changed).
  DWORD KeepFile(const std::string& path, std::string& kept);
  void AddedFile(const std::string& path);
  // A pair added to the session manager's pending renames (target "" for a
  // delete), and a line added to WININIT.INI's "rename" section.
  void PendingRename(const std::string& source, const std::string& target);
  void WininitLine(const std::string& line);
  void RunOnceValue(const std::string& name);
  // Something the run changes that a restore cannot put back as it was.
  void NotRestorable(const std::string& what);
  // A registry value as it is now, before the run writes or deletes it.
  void RegistryValue(HKEY root, const std::string& subkey, const std::string& name);
  // A key and everything below it, before the run deletes it.
  void RegistryTree(HKEY root, const std::string& subkey);

  // The run ended well: the kept copies go, and the journal with them.
  void Commit();
  // Puts back everything the journal holds, the last change first, and
  // empties it. Returns what could not be put back (one text per item,
  // logged); empty when all of it was.
  std::vector<std::string> Restore();

  // At the start of a run: a journal left by an earlier run that did not end
  // (killed, or the machine went down) is finished: a run that had ended
  // well loses its kept copies, any other is put back. Logged.
  static void FinishEarlierRun();
  // Whether an earlier run left its journal (FinishEarlierRun would act).
  static bool EarlierRunWaits();

 private:
  void Add(const std::string& entry);

  bool active_ = false;
  unsigned count_ = 0;
};
