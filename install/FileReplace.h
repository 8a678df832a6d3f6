// Putting files in place when they may be in use: a free file is replaced by a
// complete side copy, a locked one at the next restart of Windows.
#pragma once

#include <windows.h>

#include <string>

#include "install/InstallState.h"
#include "install/RestartWork.h"
#include "install/SideCopy.h"

// The file exists and cannot be opened for reading and writing without sharing.
bool IsFileLocked(const std::string& path);

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
