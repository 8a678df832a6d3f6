// Reference cabinets for the Windows-side decoder tests, by their Windows path.
// (EXPECTED.txt is read with cabtest::ReadExpected of CabTestSupport.h.)
#pragma once

#include <cstdint>
#include <string>

namespace cabtest {

// Folder of the reference cabinets (tests/data/cabinets), with a trailing backslash.
std::string CabinetsDir();

// The bytes of a reference cabinet.
std::string ReadCabinet(const std::string& name);

// Offset of the first CFFILE entry of a cabinet without reserve areas.
uint32_t FirstFileEntry(const std::string& cabinet);

}  // namespace cabtest
