// Whether a member's stored name may be written below a destination folder.
// Names come from the cabinet and are untrusted: the extraction refuses any
// name that could land outside the destination.
#pragma once

#include <string>

namespace cab {

// True for a relative name whose parts ("\\" or "/" separated) are ordinary
// names: not empty, not absolute, no drive ("X:") or other colon, no UNC or
// leading separator, no "." or ".." part (nor one that Windows would trim to
// that, such as ". ." or "..."), no control characters.
bool IsSafeMemberName(const std::string& name);

}  // namespace cab
