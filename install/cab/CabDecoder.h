// Decodes the members of a cabinet, or of a cabinet set from the given
// cabinet on, in cabinet order. The decoder walks the file table, decodes
// each folder's data blocks (checksum verified, split blocks joined, sizes
// checked) through the codecs, and hands member bytes to the callbacks.
// It never touches a file system: cabinets come in through CabInput, the
// next cabinet of a set through OpenNextCabinet, members go out through
// OpenMember / WriteMember / CloseMember.
#pragma once

#include <cstdint>
#include <memory>

#include "install/cab/CabError.h"
#include "install/cab/CabInput.h"
#include "install/cab/Cabinet.h"

namespace cab {

enum class MemberAction {
  kWrite,  // decode the member and pass its bytes to WriteMember
  kSkip,   // leave it out
  kAbort,  // stop: kUserAbort
  kFail,   // stop: kTargetFile (a target that cannot be created)
};

class CabCallbacks {
 public:
  virtual ~CabCallbacks() = default;

  // Each cabinet as it is opened; false stops with kUserAbort.
  virtual bool OnCabinet(const CabinetInfo&) { return true; }
  // A member that began in a cabinet before the first one given (its bytes
  // are not available); false stops with kUserAbort.
  virtual bool OnPartialMember(const CabFile&) { return true; }

  virtual MemberAction OpenMember(const CabFile& file, uint16_t compression) = 0;
  // False stops with kTargetFile.
  virtual bool WriteMember(const uint8_t* data, size_t size) = 0;
  virtual bool CloseMember(const CabFile& file) = 0;

  // The next cabinet of the set, by the name (and disk) in `current`'s
  // header; nullptr when it cannot be found (kCabinetNotFound).
  virtual std::unique_ptr<CabInput> OpenNextCabinet(const CabHeader& /*current*/) {
    return nullptr;
  }
};

struct DecodeOptions {
  // Decode the members of every cabinet of the set from the first one on
  // (the native tool). Otherwise only the members that begin in the first
  // cabinet, as one FDI copy call does: next cabinets are opened only for
  // members and blocks that continue into them.
  bool followSet = true;
  // Bound on decoded bytes (members written or skipped over), for fuzzing.
  uint64_t maxDecodedBytes = ~0ull;
};

CabError DecodeCabinetSet(std::unique_ptr<CabInput> first, CabCallbacks& callbacks,
                          const DecodeOptions& options = DecodeOptions());

}  // namespace cab
