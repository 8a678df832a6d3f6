// The extraction's guard on members' names: a member whose stored name could
// land outside the destination folder (the rule is in core/SafeName.h) stops
// an extraction that writes members to disk.
#pragma once

#include <string>

#include "core/SafeName.h"

namespace cab {

using ::IsDeviceName;
using ::IsSafeMemberName;

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
