// An installation run: the chosen components handed to the worker on a
// thread of its own while this thread keeps its windows alive, and the
// sequence that ends every run that got through its installation phase.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "catalog/Component.h"

class CompletionDialog;

// Result of a run: 0 done, 36 the computer must restart, -1 cancelled. Throws
// CError when the worker cannot start or ended with an error (its error text
// and code).
constexpr int kRunDone = 0;
constexpr int kRunRebootRequired = 36;
constexpr int kRunCancelled = -1;
int SpawnDownloadThread(const std::vector<Component>& components);

// The worker's last step: the restart question when files wait for the
// restart (its No clears rebootRequired), else the restart of the manager
// (outside Setup mode only after the question, and only when the run closed
// the manager). Ends the status window. Always 0.
DWORD RunCompletionSequence(CompletionDialog& status, uint32_t& rebootRequired,
                            bool restartHost);
