#include "tests/unit/install/CabinetFixtures.h"

#include <gtest/gtest.h>

#include <cstring>

#include "tests/support/Scratch.h"

namespace cabtest {

std::string CabinetsDir() {
  return testing_support::WinePath(TESTDATA_UNIX) + "\\cabinets\\";
}

std::string ReadCabinet(const std::string& name) {
  std::string bytes;
  if (!testing_support::ReadFileBytes(CabinetsDir() + name, bytes) || bytes.empty())
    ADD_FAILURE() << "missing or empty test data file: " << CabinetsDir() << name;
  return bytes;
}

uint32_t FirstFileEntry(const std::string& cabinet) {
  uint32_t offset = 0;
  if (cabinet.size() >= 20) std::memcpy(&offset, cabinet.data() + 16, 4);  // coffFiles
  return offset;
}

}  // namespace cabtest
