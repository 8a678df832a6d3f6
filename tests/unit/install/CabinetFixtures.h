// Reference cabinets for the Windows-side decoder tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace cabtest {

// Folder of the reference cabinets (tests/data/cabinets), with a trailing backslash.
std::string CabinetsDir();

struct Expected {
  std::string name;
  bool ok = false;
  int members = 0;
  uint64_t bytes = 0;
  std::string md5;
};
// The lines of EXPECTED.txt.
std::vector<Expected> ReadExpected();

// The bytes of a reference cabinet.
std::string ReadCabinet(const std::string& name);

// Offset of the first CFFILE entry of a cabinet without reserve areas.
uint32_t FirstFileEntry(const std::string& cabinet);

}  // namespace cabtest
