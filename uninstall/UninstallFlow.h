// The removal of the manager from the machine: what runs is closed, the
// uninstall hooks run, the user chooses whether the audio files go, every
// file, shortcut and registry entry the installation put down is removed,
// then the program's keys and folders, the plug-ins and the sites' cookies;
// the user is told the result or asked to restart. One ordered procedure on
// the calling thread, with a progress window on a thread of its own.
#pragma once

#include <string>

constexpr int kUninstallRestartNeeded = 36;

// `installDir` is the installation folder with its backslash; its
// "Bin\PM Install1.INF" is known to exist. 0 when the removal ran to its end
// (whatever the user answered at the end), kUninstallRestartNeeded when it
// did so but left something for the next start of Windows; -1 when shell
// functions are missing or the user gave up closing a program (nothing
// removed then). With the "DryRun" switch it changes nothing and asks
// nothing, and answers what the uninstall would.
// Throws CError ("Uninstall failed.") when the catalogue cannot be read or is
// not whole, before anything is removed.
int UninstallFlow(const std::string& installDir);
