#include "install/cab/CabError.h"

namespace cab {

const char* CabErrorText(CabError error) {
  switch (error) {
    case CabError::kNone: return "no error";
    case CabError::kCabinetNotFound: return "cabinet not found";
    case CabError::kNotACabinet: return "not a cabinet";
    case CabError::kUnknownVersion: return "unknown cabinet version";
    case CabError::kCorruptCabinet: return "corrupt cabinet";
    case CabError::kAllocFail: return "out of memory";
    case CabError::kBadCompressionType: return "unknown compression type";
    case CabError::kDecompressorFailure: return "decompression failed";
    case CabError::kTargetFile: return "cannot write target file";
    case CabError::kReserveMismatch: return "reserve sizes differ";
    case CabError::kWrongCabinet: return "wrong cabinet";
    case CabError::kUserAbort: return "aborted";
  }
  return "unknown error";
}

}  // namespace cab
