// Programs the installation runs: packages (an installer delivered inside a
// cabinet, run as soon as it is downloaded) and hooks (run once per hook
// version, after the files are in place). Every start is waited for, so they
// never run side by side; the waits pump no messages.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

#include "install/CompletionTexts.h"
#include "install/InstallState.h"

// Exit code of a hook that asks for a restart of the computer.
constexpr DWORD kHookExitRebootRequired = 36;

// Starts a command line (no application name, inherited handles, the
// caller's environment and folder; hidden when asked) and waits for its end,
// looking every 500 ms. 0 or the start's system error code (never 0 for a
// failed start); the exit code goes to *exitCode when given.
// A visible program is waited for as long as it runs: the user sees it and
// may answer it (an installer package can take its time). A hidden one (a
// server's self-registration) has nobody to answer it: after two minutes it
// is ended, logged, and WAIT_TIMEOUT returned.
DWORD RunProcessAndWait(const std::string& commandLine, bool hidden, DWORD* exitCode);

// Test seam: the bound on a hidden program's run; 0 puts the real one back.
void SetHiddenProgramLimitForTests(DWORD limitMs);

// Test seam: called before each start with its command line; a non-zero
// result makes the start fail with that code (as the system's would, 740 for
// an elevation the system asks for). An empty function puts the real start back.
using ProcessStartFailure = std::function<DWORD(const std::string& commandLine)>;
void SetProcessStartFailureForTests(ProcessStartFailure failure);

// The program path as the first word of a command line: in double quotes when
// it holds a blank. Unquoted, "C:\Program Files\My Setup.exe" would start
// C:\Program.exe when such a file exists, and the first word of the name
// wherever one lies beside it.
std::string QuotedProgramPath(const std::string& path);

// "path" or "path commandLine", the path quoted when it holds a blank. 0 or the
// start's error.
DWORD LaunchPackage(const std::string& path, const std::string& commandLine);

// Runs a hook's command line; exit code 36 sets rebootRequired to 1.
// 0 or the start's error.
DWORD LaunchHook(const std::string& commandLine, uint32_t& rebootRequired);

// The hooks of the chosen components, each at most once per pass and once per
// hook version (every time in setup mode); records each version after its
// hook ended. 0, or the error of the first hook that could not start, which
// ends the pass.
DWORD ExecuteHooks(InstallState& state, CompletionTexts& texts);
