// Processes: starting programs, bounded waits, and finding running modules by
// file name through the process-status library (NT family only; it is bound
// at run time, and a system without it has no modules to find).
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

// One module looked for by FindRunningModules.
struct RunningModule {
  std::string sModuleName;  // name and extension, matched without regard to case
  uint32_t bFound = 0;
  std::string sPath;        // full path of the last matching module seen
};

// True when any process has a module of that name and extension loaded;
// always false outside the NT family or when the process list cannot be read.
bool IsModuleRunning(const std::string& moduleName);
// Clears every found flag, then sets it (and the path) for each module found.
int FindRunningModules(RunningModule* modules, size_t count);

// Starts a command line (normal priority, handles inherited) and, when asked,
// waits for its end without a limit.
bool RunProgram(const std::string& commandLine, bool wait);

// 1 when the process or thread ended within `milliseconds`, else 0. Both look
// every 500 ms.
int WaitForProcess(HANDLE process, DWORD milliseconds);
int WaitForThread(HANDLE thread, DWORD milliseconds);
