// What the demo's parts share: the names and controls it meets, its time
// limits and its options.
#pragma once

#include <windows.h>

#include <string>

namespace demo {

const char kPelloryKey[] = "SOFTWARE\\Pellory";
const char kUninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\PelloryManager";
const char kUpgradeKey[] = "Software\\Pellory\\Upgrade";
const char kCatalogueFolder[] = "/PM50/Quoma/";
const char kCatalogueCabinet[] = "PM_InstallQuoma.cab";
const char kManagerClass[] = "PelloryWndClass";
const char kInternetSettings[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
const char kDesktop[] = "demo";
const char kOnDesktopVariable[] = "UPGRADE_DEMO_DESKTOP";
constexpr UINT kManagerCloseCommand = 57665;
constexpr DWORD kRunLimitMs = 120000;  // one run of the program, at most
constexpr DWORD kStepLimitMs = 30000;  // one dialog to appear, at most

// Dialog controls that tell the windows apart in any language.
constexpr int kBoxText = 0xFFFF;         // every message box
constexpr int kConnectGroup = 219;       // connect dialog
constexpr int kSelectionList = 201;      // selection dialog
constexpr int kProgressBar = 1003;       // progress dialog
constexpr int kCompletionHeadline = 210; // completion window

struct Options {
  std::string serveDir;  // Windows path; empty: no server
  bool interactive = false;
  bool uninstall = false;
  std::string shotsDir;  // Windows path; empty: no pictures
  std::string tag = "en";
  std::string proxyPort;      // empty: no proxy
  std::string proxyName;      // what the played user types into the
  std::string proxyPassword;  // credential dialog
  std::string upgrade;
  std::string manager;
  std::string switches;
};

// The manager the demo started, or the one the program started again.
HWND ManagerWindow();
// Whether the manager's window is up within the time.
bool WaitForManager(DWORD timeoutMs);

}  // namespace demo
