// The browsers the uninstaller tells about the removal: which of them run,
// where Firefox is installed, whether Internet Explorer is the default, and
// the start of a browser on the maker's completion page. Every failure is
// silent (false or "", nothing logged).
#pragma once

#include <array>
#include <cstddef>
#include <string>

#include "host/Processes.h"

// The rows of the browser table, in the table's order.
enum BrowserRow : size_t {
  kRowInternetExplorer,
  kRowFirefox,
  kRowSafari,
  kRowChrome,
  kBrowserCount
};

using BrowserTable = std::array<RunningModule, kBrowserCount>;

// The browsers' executable names, nothing found yet: for FindRunningModules.
BrowserTable MakeBrowserTable();
// The name the completion page is given for a row ("IE", "FireFox", ...).
const char* BrowserPageName(BrowserRow row);

// The first "PathToExe" text value below HKLM\SOFTWARE\Mozilla, or "".
std::string FindFirefoxPath();
// True when the command that opens ".html" files runs IEXPLORE.EXE.
bool IsInternetExplorerDefault();

// The template's four "%s" places filled in order, then every "?&" folded
// to "?". Values are put in as they are, never read as a format.
std::string BuildCompletionAddress(const std::string& urlTemplate, const std::string& pm,
                                   const std::string& pdm, const std::string& browserName,
                                   const std::string& operation);
// Starts the browser on the completion address with the user's own rights
// (StartWithUserRights); does not wait. Refuses a path or an address holding a
// double quote, which could not be quoted.
bool OpenCompletionPage(const std::string& browserPath, const std::string& pm,
                        const std::string& pdm, const std::string& browserName,
                        const std::string& operation);

// True for a path inside a Program Files folder, which only administrators
// can write: a browser found running elsewhere may be any program of the
// user's that took a browser's name.
bool IsInMachineProgramFolders(const std::string& path);
