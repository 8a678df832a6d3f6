#include "tests/unit/install/CabinetFixtures.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

#include "tests/support/Scratch.h"

namespace cabtest {

std::string CabinetsDir() {
  return testing_support::WinePath(TESTDATA_UNIX) + "\\cabinets\\";
}

std::vector<Expected> ReadExpected() {
  std::string text;
  if (!testing_support::ReadFileBytes(CabinetsDir() + "EXPECTED.txt", text))
    ADD_FAILURE() << "missing test data file: " << CabinetsDir() << "EXPECTED.txt";
  std::vector<Expected> all;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    Expected e;
    std::string result;
    fields >> e.name >> result;
    e.ok = result == "ok";
    if (e.ok) fields >> e.members >> e.bytes >> e.md5;
    all.push_back(e);
  }
  return all;
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
