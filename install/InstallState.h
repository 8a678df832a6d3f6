// What one installation run carries from step to step. The worker owns one;
// the file replacement, registration and hook steps read and change it.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "catalog/Component.h"

struct InstallState {
  // The chosen components, in catalogue order.
  std::vector<Component> components;
  // Destination path -> the temporary cabinet that holds its file; byte-wise
  // order of the destination. A destination leaves the map once it is in place
  // or deferred to the restart.
  std::map<std::string, std::string> pendingInstalls;
  // Destinations of files with "OLESelfRegister", in the order they were met.
  std::vector<std::string> modulesToRegister;
  uint32_t rebootRequired = 0;  // 0 or 1
  uint32_t cancelled = 0;       // 0 or 1
  std::string errorText;        // texts of failed steps, appended
};
