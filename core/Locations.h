// Where things are: the installation's folders from the registry, the user's
// data and log folders, the program's own folder, temporary names, and the
// program's own registry branch under HKLM\Software\Pellory\Upgrade.
// Folder results end with a backslash; every lookup gives "" on failure.
// The installation folders are full paths below a drive or share root, never
// a root or a relative path: anything else counts as no folder at all.
#pragma once

#include <windows.h>

#include <string>

extern const char kPelloryKey[];         // "SOFTWARE\\Pellory"
extern const char kUpgradeKeyPrefix[];   // "Software\\Pellory\\Upgrade\\"
extern const char kUninstallKey[];       // the entry in the installed-programs list

std::string GetAppDir();        // "PelloryAppDir"
std::string GetProgramsDir();   // "PelloryProgramsDir"
std::string GetUserDataDir();   // Documents\Pellory\ (created when missing)
std::string GetLogsDir();       // Documents\Pellory\, else GetAppDir(), + "Logs\"; creates nothing
std::string GetModuleDir();     // the running executable's folder
std::string GetTempDir();       // the temporary folder, with its backslash
std::string MakeTempFileName(); // a new empty file "PGF....tmp" in the temporary folder

// The folder a Windows query of that kind names (GetSystemDirectoryA,
// GetWindowsDirectoryA, ...), as the query gives it: without a trailing
// backslash, unlike the lookups above; "" when the query fails.
std::string SystemFolder(UINT(WINAPI* query)(LPSTR, UINT));

// Creates every folder of the path that is followed by a backslash.
bool CreateDirectoryPath(const std::string& path);

std::string ReadUpgradeValue(const std::string& subkey, const std::string& name,
                             const std::string& defaultValue);
LONG WriteUpgradeValue(const std::string& subkey, const std::string& name,
                       const std::string& value);

// Shell folder number for a "CSIDL_..." name (any case); unknown names give 0.
int ShellFolderId(const std::string& name);

// Puts the installation's "Bin\" in front of the process's PATH.
bool PrependBinToPath();

// Appends a backslash when the text does not end with one.
std::string WithBackslash(std::string folder);

// The full, long form of a folder, with its backslash, for comparing folders
// however they were spelled (".", "..", short names); "" when it cannot be had.
std::string FullLongFolderPath(const std::string& folder);

// True when `path` lies inside `folder` (or is it), both taken in their full,
// long forms.
bool IsPathInsideFolder(const std::string& path, const std::string& folder);

// True for a full folder path below a drive or share root, ending with a
// backslash: "C:\Pellory\" or "\\server\share\Pellory\"; false for a root
// ("C:\", "\\server\share\"), a relative path or an empty text.
bool IsFolderBelowRoot(const std::string& folder);
