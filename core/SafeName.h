// Whether a name taken from outside (a cabinet member's stored name, a file
// name the catalogue gives) may be written below a destination folder: the
// extraction and the catalogue's target paths refuse any name that could land
// outside it, or open a device instead of a file.
#pragma once

#include <string>

// A name Windows opens as a device, not a file, in any folder, with any
// extension and in any case: CON, NUL, AUX, PRN, COM1-9, LPT1-9, CONIN$, CONOUT$.
bool IsDeviceName(const std::string& part);

// True for a relative name whose parts ("\\" or "/" separated) are ordinary
// names: not empty, not absolute, no drive ("X:") or other colon, no UNC or
// leading separator, no "." or ".." part (nor one that Windows would trim to
// that, such as ". ." or "..."), no control characters, no device part
// ("CON", "nul.txt", "COM1", "LPT9", "CONIN$", ...).
bool IsSafeMemberName(const std::string& name);
