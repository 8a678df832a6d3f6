// Work left for the next start of Windows: a file replaced or deleted then
// (on the NT family through the session manager's pending renames, on the
// older family through the "rename" section of WININIT.INI), a command run
// once at the next logon, and the restart itself.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

// The copy that waits next to its destination for the restart: named after
// the whole file name, so that Foo.dll and Foo.exe in one folder never share
// one, and a later run before the restart replaces its own copy.
std::string PendingCopyName(const std::string& destination);

class RunJournal;

// 0 or a system error code. With a journal, what is queued is recorded in it
// first, so that a failed run can withdraw it.
DWORD DeleteFileDelayReboot(const std::string& path, RunJournal* journal = nullptr);
DWORD ReplaceFileDelayReboot(const std::string& newFile, const std::string& destination);

// Copies the new file beside the destination as its ".1" copy and has that
// renamed onto the destination at the restart; on the older family after a
// "NUL" line for the destination when `deleteFirst`. Whatever can fail is
// tried before anything changes: a failure leaves no line, no new waiting
// copy (an earlier run's one keeps its bytes) and the new file where it is.
// Once all is done the new file goes, unless `keepNewFile`.
DWORD DeferReplacement(const std::string& newFile, const std::string& destination,
                       bool deleteFirst, bool keepNewFile, RunJournal* journal = nullptr);

// Takes every delete of `path` that an earlier run queued for the next start
// out of the waiting work (the pending renames, or WININIT.INI's "NUL" lines
// on the older family), before this run installs the file; how many went.
int WithdrawPendingDeletes(const std::string& path);
// The older family's part of it.
int WithdrawWininitDeletes(const std::string& path);

// Withdraws one pending rename (target "" for a delete) this run queued, or
// one line it wrote into WININIT.INI's "rename" section; false (logged) when
// it is not there or cannot be taken out.
bool WithdrawPendingRename(const std::string& source, const std::string& target);
bool WithdrawWininitLine(const std::string& line);

// The RunOnce key, below HKLM.
extern const char kRunOnceKey[];
// A command run once at the next logon (HKLM RunOnce; the key is not created).
LONG AddRunOnceEntry(const std::string& name, const std::string& commandLine);

// Starts the restart of the computer; non-zero when it was started.
BOOL RebootComputer();
// Tests replace the final restart call (ExitWindowsEx) with one that records
// it; an empty function puts the real one back. Returns the previous one.
using ExitWindowsCall = std::function<BOOL(UINT flags, DWORD reason)>;
ExitWindowsCall SetExitWindowsCallForTests(ExitWindowsCall call);
