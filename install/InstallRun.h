// An installation run: the chosen components handed to the worker on a
// thread of its own while this thread keeps its windows alive, and the
// sequence that ends every run that got through its installation phase.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "catalog/Component.h"

class CompletionDialog;

// Result of a run: 0 done, 36 the computer must restart, -1 cancelled or
// failed (a component left out, or an error the worker has already reported
// and finished the run after). Throws CError when the worker cannot start or
// ended with any other error (its error text and code).
constexpr int kRunDone = 0;
constexpr int kRunRebootRequired = 36;
constexpr int kRunCancelled = -1;
constexpr int kRunFailed = -1;
int SpawnDownloadThread(const std::vector<Component>& components);

// How the installation phase left the manager.
struct ManagerState {
  bool closeNeeded = false;   // a component that needs it closed had work
  bool closed = false;        // this run closed the running manager
  bool stillRunning = false;  // it was asked to close and did not
};

// The worker's last step: the restart question when files wait for the
// restart (its No clears rebootRequired), else the restart of the manager
// (outside Setup mode only after the question, and only when the run closed
// the manager), never while it still runs. After a failed installation
// phase only the manager the run closed is started, without the question.
// Ends the status window. Always 0.
DWORD RunCompletionSequence(CompletionDialog& status, uint32_t& rebootRequired,
                            const ManagerState& manager, bool failed = false);
