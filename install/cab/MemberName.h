// Whether a member's stored name may be written below a destination folder.
// Names come from the cabinet and are untrusted: the extraction refuses any
// name that could land outside the destination.
#pragma once

#include <string>

namespace cab {

// True for a relative name whose parts ("\\" or "/" separated) are ordinary
// names: not empty, not absolute, no drive ("X:") or other colon, no UNC or
// leading separator, no "." or ".." part (nor one that Windows would trim to
// that, such as ". ." or "..."), no control characters, no device part
// ("CON", "nul.txt", "COM1", "LPT9", "CONIN$", ...).
// A name Windows opens as a device, not a file, in any folder, with any
// extension and in any case: CON, NUL, AUX, PRN, COM1-9, LPT1-9, CONIN$, CONOUT$.
bool IsDeviceName(const std::string& part);

bool IsSafeMemberName(const std::string& name);

}  // namespace cab

#include "install/cab/CabDecoder.h"

namespace cab {

// Wraps the callbacks of an extraction that writes members to disk: a member
// whose name is not safe stops the extraction with kTargetFile before the
// inner callbacks see it.
class SafeNameCallbacks : public CabCallbacks {
 public:
  explicit SafeNameCallbacks(CabCallbacks& inner) : inner_(inner) {}
  bool OnCabinet(const CabinetInfo& info) override { return inner_.OnCabinet(info); }
  bool OnPartialMember(const CabFile& file) override { return inner_.OnPartialMember(file); }
  MemberAction OpenMember(const CabFile& file, uint16_t compression) override {
    if (!IsSafeMemberName(file.name)) return MemberAction::kFail;
    return inner_.OpenMember(file, compression);
  }
  bool WriteMember(const uint8_t* data, size_t size) override {
    return inner_.WriteMember(data, size);
  }
  bool CloseMember(const CabFile& file) override { return inner_.CloseMember(file); }
  std::unique_ptr<CabInput> OpenNextCabinet(const CabHeader& current) override {
    return inner_.OpenNextCabinet(current);
  }

 private:
  CabCallbacks& inner_;
};

}  // namespace cab
