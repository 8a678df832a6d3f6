// A child process started by a test: ended on destruction if still running,
// so a failed assertion never leaves a program behind.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace testing_support {

class ChildProcess {
 public:
  ChildProcess() = default;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess();

  // Starts `exe` with the command line "\"exe\" args"; false on failure.
  bool Start(const std::string& exe, const std::string& args,
             const std::string& currentDir = std::string());
  // Waits for the end; returns the exit code, or STILL_ACTIVE on time-out.
  DWORD Wait(DWORD timeoutMs = 60000);
  bool Running() const;
  void Kill();
  DWORD Id() const { return info_.dwProcessId; }
  HANDLE Handle() const { return info_.hProcess; }

 private:
  PROCESS_INFORMATION info_ = {};
};

// True inside Wine.
bool UnderWine();

// True when the tests run the shipped 32-bit program (UPGRADE_SHIPPED=1 in
// the environment) instead of the 64-bit twin: under WoW64, where each start
// of a 32-bit process here costs a minute and a half of emulation.
bool ShippedProgramUnderTest();
// The time to wait for something due from the program under test: `ms` as
// it is for the twin, and for short probes ("is it there now?", under 5 s);
// with the shipped program, `ms` and the time one start of it may take.
DWORD Patience(DWORD ms);

// Wine makes a desktop named in the start-up information a virtual one when
// the prefix gives it a size (so that Wine draws window frames): runs this
// program again, with its command line, on the desktop `name` of `size`
// ("1024x768"), with `marker` set in its environment so that the second run
// knows where it is. The child's exit code, or `failure` when it could not be
// started (told on stderr, prefixed by `who`).
int RunSelfOnVirtualDesktop(const char* name, const char* size, const char* marker,
                            const char* who, int failure);

// Exit code as the program's int (-1 comes back as 0xFFFFFFFF).
inline int AsInt(DWORD code) { return static_cast<int>(code); }

// Processes now running whose executable has this file name (case-insensitive).
// The ids of the running processes of that file name (any case), but `except`.
std::vector<DWORD> ProcessIdsNamed(const std::string& fileName, DWORD except = 0);
int CountProcessesNamed(const std::string& fileName);
// Waits until no process of that name runs; false on time-out.
bool WaitNoProcessNamed(const std::string& fileName, DWORD timeoutMs = 20000);

}  // namespace testing_support
