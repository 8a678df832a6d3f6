// The program's spine: start-up checks, the single-instance guard and the
// dispatch to a mode. Runs on the main thread from entry to exit.
#pragma once

#include <windows.h>

#include <string>

// Exit codes.
constexpr int kExitOk = 0;
constexpr int kExitRestartNeeded = 36;
constexpr int kExitFailed = -1;

// The run summary's name of the mode the switches ask for: "update", "setup",
// "component", "devices", "quiet", "uninstall" or "switchmode".
std::string RunModeName();

// Everything after the argument vector is set; returns the exit code.
int RunProgram(HINSTANCE instance);

// The branches (each in a file of its own).
int RunUninstallBranch();
int RunUpdateBranch();
int RunModeSwitch(int managerProcessId, const char* removeFile);
