// The reference cabinets in tests/data/cabinets, read for a test. A file that
// is missing fails the test with its name instead of handing on no bytes.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "tests/unit/cab/CabTestSupport.h"

namespace cabtest {

inline Bytes ReadReference(const std::string& name) {
  Bytes bytes = ReadFileBytes(TestDataPath(name));
  if (bytes.empty()) ADD_FAILURE() << "missing or empty test data file: " << TestDataPath(name);
  return bytes;
}

}  // namespace cabtest
