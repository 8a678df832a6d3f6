// Decoder error codes. The numbers are the published FDI error values, so the
// Windows front can hand them on unchanged in its error record.
#pragma once

namespace cab {

enum class CabError : int {
  kNone = 0,
  kCabinetNotFound = 1,
  kNotACabinet = 2,
  kUnknownVersion = 3,
  kCorruptCabinet = 4,  // also a checksum mismatch or a short read
  kAllocFail = 5,
  kBadCompressionType = 6,
  kDecompressorFailure = 7,
  kTargetFile = 8,
  kReserveMismatch = 9,
  kWrongCabinet = 10,
  kUserAbort = 11,
};

// A short English text for a code, for log lines ("corrupt cabinet", ...).
const char* CabErrorText(CabError error);

inline int CabErrorCode(CabError error) { return static_cast<int>(error); }

}  // namespace cab
