// Placeholder until the Quantum codec lands: no Quantum folder can be decoded.
#include "install/cab/Decompressor.h"

namespace cab {

std::unique_ptr<Decompressor> MakeQuantumDecompressor(int) { return nullptr; }

}  // namespace cab
