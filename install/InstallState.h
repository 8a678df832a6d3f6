// What one installation run carries from step to step. The worker owns one;
// the file replacement, registration and hook steps read and change it.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "catalog/Component.h"

class RunJournal;

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
  // Files replaced or deleted only at the next start of Windows, in order.
  std::vector<std::string> waitingForRestart;
  // Components left unrecorded because their package failed; the run goes
  // on with the others and ends as failed.
  std::vector<std::string> failedComponents;
  // The worker told the user of its error itself (or logged it in a quiet
  // run) and finished the run: the caller reports nothing more.
  uint32_t failureReported = 0;  // 0 or 1
  // What the run changes is recorded here first, so that a failure can put
  // it back; null (or not active) when no journal could be kept.
  RunJournal* journal = nullptr;
  // A hook asked for the restart (exit code 36): a restore does not undo that.
  uint32_t hookAskedRestart = 0;  // 0 or 1
  std::vector<std::string> restartHooks;  // the hooks that asked, by name
  // Packages and hooks that ran: a restore cannot undo what they did.
  std::vector<std::string> programsRun;
};
