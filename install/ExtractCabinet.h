// Unpacking a downloaded cabinet into its own folder, and the diagnosis of a
// cabinet that would not unpack. Extractions called from several threads
// take turns.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

// Every member goes into the cabinet's folder (under the member's relative
// folder part, which must exist) and onto the temporary file list. Returns 1
// on success, 0 on failure with the reason in the log. `statusWindow` (may be
// null) shows each target path.
int ExtractCabinet(const std::string& cabinetPath, HWND statusWindow);
// The same, into a folder of the caller's (ending with a backslash; it must
// exist). Next cabinets of a set are still looked for beside the cabinet.
int ExtractCabinetTo(const std::string& cabinetPath, const std::string& folder, HWND statusWindow);

// Whether a member, named as in the cabinet, is to be unpacked.
using MemberFilter = std::function<bool(const std::string& name)>;
// The same, unpacking only the members `wanted` accepts; the others are
// neither decoded nor written. Every member's name is still checked, so a
// cabinet naming one outside the folder fails whichever members are wanted.
int ExtractCabinetTo(const std::string& cabinetPath, const std::string& folder, HWND statusWindow,
                     const MemberFilter& wanted);

// Called right after a failed extraction: logs what is known about the file
// and returns the message for the user ("" when there is nothing to say).
std::string CheckCabinet(const std::string& cabinetPath);
