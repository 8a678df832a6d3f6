// The uninstaller's copy of itself. Started from the installation's "Bin",
// the program copies itself out and the copy does the removal, so that every
// file of the installation can go. The copy runs with administrator rights,
// so it lives in a folder of its own, made new for each run with a name no
// one can know before, that only administrators and the system may write:
// nothing an ordinary program put in the temporary folder is ever beside it.
#pragma once

#include <windows.h>

#include <string>

// Makes the copy's folder below the temporary folder; 0 and `folder` (with its
// backslash) on success, else the system's error. An existing folder of the
// chosen name is never used.
DWORD MakeUninstallCopyFolder(std::string& folder);

// True when the program at `programPath` is such a copy: its folder lies
// directly in the temporary folder and carries the copies' name.
bool IsUninstallCopy(const std::string& programPath);

// True when both paths name the same file on the same volume, however they
// are spelled (short names, case, links on the way).
bool IsSameFile(const std::string& first, const std::string& second);
