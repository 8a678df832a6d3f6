// Putting files in place when they may be in use: a locked file is replaced
// or deleted at the next restart of Windows (on the NT family through the
// session manager's pending renames, on the older family through the
// "rename" section of WININIT.INI), RunOnce commands, and the restart itself.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "install/InstallState.h"

// The file exists and cannot be opened for reading and writing without sharing.
bool IsFileLocked(const std::string& path);

// 0 or a system error code.
DWORD DeleteFileDelayReboot(const std::string& path);
DWORD ReplaceFileDelayReboot(const std::string& newFile, const std::string& destination);

// A command run once at the next logon (HKLM RunOnce; the key is not created).
LONG AddRunOnceEntry(const std::string& name, const std::string& commandLine);

// Starts the restart of the computer; non-zero when it was started.
BOOL RebootComputer();
// Tests replace the final restart call (ExitWindowsEx) with one that records
// it; an empty function puts the real one back. Returns the previous one.
using ExitWindowsCall = std::function<BOOL(UINT flags, DWORD reason)>;
ExitWindowsCall SetExitWindowsCallForTests(ExitWindowsCall call);

// Tests replace the copy of a new file into its destination's folder
// (CopyFileA, an existing target refused), to make it fail part-way; an empty
// function puts the real one back. Returns the previous one.
using FileCopyCall = std::function<BOOL(const std::string& from, const std::string& to)>;
FileCopyCall SetFileCopyCallForTests(FileCopyCall call);

// Tests replace the older family's plain renames (MoveFileA) that put a new
// file in place of an old one, to make one of them fail; an empty function
// puts the real one back. Returns the previous one.
using FileMoveCall = std::function<BOOL(const std::string& from, const std::string& to)>;
FileMoveCall SetFileMoveCallForTests(FileMoveCall call);

// Tests replace the move of an extracted file to a fresh name beside its
// destination (MoveFileExA, a rename on the same volume only), to make it
// fail as across volumes; an empty function puts the real one back. Returns
// the previous one.
FileMoveCall SetSideMoveCallForTests(FileMoveCall call);

// What the run still wants of an extracted file once it is in place.
enum class ExtractedFileUse {
  kDone,        // nothing: moved into place where a rename can, else copied; gone afterwards
  kNeededAgain  // another destination takes it too: copied, and kept
};

// Puts the extracted file in place of the destination (both full paths), or
// defers that to the restart when the destination is locked. 0 or an error
// code; may raise state.rebootRequired, extend state.errorText and take the
// destination out of state.pendingInstalls. On a failure the extracted file
// is where it was and the destination as it was.
DWORD ReplaceInstalledFile(const std::string& destination, const std::string& extracted,
                           InstallState& state, ExtractedFileUse use = ExtractedFileUse::kDone);
