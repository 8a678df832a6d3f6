// Binaries with mangled names ('~' in the name) that interrupted updates can
// leave in the manager's folder tree: finding them, and removing them (locked
// ones at the next restart of Windows).
#pragma once

#include <cstdint>
#include <string>

enum class SweepMode {
  Report,  // stop at the first damaged file
  Remove,  // delete every damaged file, defer the locked ones
};

// A file name with a '~' and the extension .dll, .ocx or .exe (any case).
bool IsDamagedFileName(const std::string& name);

// Sweeps `folder` (ending with '\') and every folder below it. Returns 1 when
// the report mode found a damaged file, else 0. The remove mode raises
// *rebootRequired when a damaged file is locked.
int SweepDamagedFiles(const std::string& folder, SweepMode mode,
                      uint32_t* rebootRequired = nullptr);

// The report-mode sweep of the application folder; false when there is no
// application folder.
bool HasDamagedFiles();

// The removing sweep of the application folder, then the restart question when
// a locked file is left for the restart. Returns 1.
int RemoveDamagedFiles();
