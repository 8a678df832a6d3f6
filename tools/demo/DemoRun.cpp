// The built-in demo: prepares an installation in the current Wine prefix (a
// folder with Bin\Manager.exe and Bin\Upgrade.exe, "PelloryAppDir" pointing at
// it, the manager running), serves a catalogue folder on 127.0.0.1, runs the
// program's main job against it and prints what it did: the exit code, the
// installed files and versions, the registry records, the log's tail.
//
//   DemoRun [--serve DIR] [--interactive] [--uninstall] [--shots DIR] [--tag TAG]
//           [--proxy PORT --proxy-login NAME:PASSWORD] UPGRADE.EXE MANAGER.EXE [switches...]
//
// --interactive plays the user through every dialog (on a Wine virtual
// desktop, so that the skin's caption is on screen); with --shots each dialog
// is photographed: the demo writes NAME-TAG.req (the display and the window's
// rectangle) into DIR and waits for the script that started it to turn it
// into NAME-TAG.png. (A copy of the screen from inside Wine comes out black
// on a virtual desktop, so the picture is taken from the X side.)
//
// --uninstall runs the installation quietly as above, then removes it again
// the way a user does: "Bin\Upgrade.exe /Uninstall", the played user
// answering the questions of the copy that runs from the temporary folder,
// with a fixture browser running; then it prints what is left.
//
// --proxy sets the proxy 127.0.0.1:PORT in the current user's Internet
// Settings, as a user's machine has it, before the program starts; the
// played user types NAME and PASSWORD into the system's credential dialog
// whenever it comes up (the script that started the demo runs the proxy).
#include <windows.h>
#include <shlobj.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "frame/Handle.h"
#include "frame/RegKey.h"
#include "tests/support/HttpServer.h"
#include "tests/support/PlayedUser.h"
#include "tests/support/Scratch.h"
#include "tests/support/TestProcess.h"
#include "tests/support/UiDriver.h"
#include "tools/demo/DemoOptions.h"
#include "tools/demo/DemoReport.h"
#include "tools/demo/DemoUninstall.h"
#include "tools/demo/DemoUser.h"

using namespace testing_support;
using namespace demo;

namespace {

bool ParseOptions(int argc, char** argv, Options& options) {
  int i = 1;
  for (; i < argc && std::string(argv[i]).rfind("--", 0) == 0; ++i) {
    const std::string name = argv[i];
    if (name == "--interactive") {
      options.interactive = true;
    } else if (name == "--uninstall") {
      options.uninstall = true;
    } else if (i + 1 < argc && name == "--serve") {
      options.serveDir = argv[++i];
    } else if (i + 1 < argc && name == "--shots") {
      options.shotsDir = argv[++i];
    } else if (i + 1 < argc && name == "--tag") {
      options.tag = argv[++i];
    } else if (i + 1 < argc && name == "--proxy") {
      options.proxyPort = argv[++i];
    } else if (i + 1 < argc && name == "--proxy-login") {
      const std::string login = argv[++i];
      const size_t colon = login.find(':');
      if (colon == std::string::npos) return false;
      options.proxyName = login.substr(0, colon);
      options.proxyPassword = login.substr(colon + 1);
    } else {
      return false;
    }
  }
  if (argc - i < 2) return false;
  if (!options.proxyPort.empty() && options.proxyName.empty()) return false;
  options.upgrade = argv[i++];
  options.manager = argv[i++];
  for (; i < argc; ++i) options.switches += (options.switches.empty() ? "" : " ") + std::string(argv[i]);
  return true;
}

// Files of a folder (not below it), by name.
std::vector<std::string> FolderFiles(const std::string& dir) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA found{};
  frame::ScopedFind find(::FindFirstFileA((dir + "\\*").c_str(), &found));
  if (!find) return names;
  do {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(found.cFileName);
  } while (::FindNextFileA(find.get(), &found));
  return names;
}

// Serves every file of the folder below the catalogue's folder. Interactive
// runs get them slowly, so that the connect and progress dialogs stay up
// long enough to be seen.
bool ServeFolder(HttpServer& server, const Options& options) {
  const std::vector<std::string> names = FolderFiles(options.serveDir);
  bool catalogue = false;
  for (const std::string& name : names) {
    HttpRoute route;
    if (!ReadFileBytes(options.serveDir + "\\" + name, route.body)) return false;
    if (options.interactive) {
      route.pieceSize = name == kCatalogueCabinet ? 64 : 2048;
      route.pieceDelayMs = 150;
    }
    catalogue = catalogue || name == kCatalogueCabinet;
    server.SetRoute(kCatalogueFolder + name, route);
  }
  return catalogue;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    std::fprintf(stderr,
                 "usage: DemoRun [--serve DIR] [--interactive] [--uninstall] [--shots DIR] [--tag TAG] "
                 "[--proxy PORT --proxy-login NAME:PASSWORD] UPGRADE.EXE MANAGER.EXE "
                 "[switches...]\n");
    return 2;
  }
  if ((options.interactive || options.uninstall) && UnderWine() &&
      !std::getenv(kOnDesktopVariable))
    return RunSelfOnVirtualDesktop(kDesktop, "1024x768", kOnDesktopVariable, "demo", 2);

  const std::string installDir = "C:\\Program Files\\Pellory\\";
  const std::string bin = installDir + "Bin\\";
  ::CreateDirectoryA("C:\\Program Files", nullptr);
  ::CreateDirectoryA(installDir.c_str(), nullptr);
  ::CreateDirectoryA(bin.c_str(), nullptr);
  if (!::CopyFileA(options.upgrade.c_str(), (bin + "Upgrade.exe").c_str(), FALSE) ||
      !CopyWithVersion(options.manager, bin + "Manager.exe", 4, 2, 0, 17)) {
    std::fprintf(stderr, "demo: cannot prepare %s\n", bin.c_str());
    return 2;
  }
  RegWriteString(HKEY_LOCAL_MACHINE, kPelloryKey, "PelloryAppDir", installDir);
  std::printf("Installation: %s (Manager.exe 4.2.0.17)\n", installDir.c_str());

  // The user has the manager open, as when it offers the update.
  ChildProcess manager;
  if (!manager.Start(bin + "Manager.exe", "") || !WaitForManager(20000)) {
    std::fprintf(stderr, "demo: the manager did not start\n");
    return 2;
  }
  std::printf("Manager.exe running\n");

  HttpServer server;
  std::string switches = options.switches;
  if (!options.serveDir.empty()) {
    if (!server.Start() || !ServeFolder(server, options)) {
      std::fprintf(stderr, "demo: cannot serve %s (it needs %s)\n", options.serveDir.c_str(),
                   kCatalogueCabinet);
      return 2;
    }
    const std::string url = server.Url(std::string(kCatalogueFolder) + kCatalogueCabinet);
    std::printf("Serving %s at %s\n", options.serveDir.c_str(), server.BaseUrl().c_str());
    switches += (switches.empty() ? "" : " ") + std::string("/URL:") + url;
  }

  if (!options.proxyPort.empty()) {
    // The proxy as the user's machine has it; the prefix is the demo's own.
    frame::RegKey settings;
    const std::string server = "127.0.0.1:" + options.proxyPort;
    if (settings.Create(HKEY_CURRENT_USER, kInternetSettings) != ERROR_SUCCESS ||
        settings.SetDword("ProxyEnable", 1) != ERROR_SUCCESS ||
        settings.SetString("ProxyServer", server) != ERROR_SUCCESS) {
      std::fprintf(stderr, "demo: cannot set the proxy in the Internet Settings\n");
      return 2;
    }
    std::printf("Proxy: HKCU\\%s: ProxyEnable = 1, ProxyServer = %s\n", kInternetSettings,
                server.c_str());
  }

  std::printf("Running: \"%sUpgrade.exe\" %s\n\n", bin.c_str(), switches.c_str());
  ChildProcess upgrade;
  if (!upgrade.Start(bin + "Upgrade.exe", switches)) {
    std::fprintf(stderr, "demo: cannot start Upgrade.exe\n");
    return 2;
  }
  Photographer camera(options);
  ProxyUser proxyUser(options);
  bool played = true;
  if (options.interactive) played = PlayUser(upgrade, camera, proxyUser);
  const DWORD code = options.interactive
                         ? upgrade.Wait(played ? kRunLimitMs : 5000)
                         : WaitAnsweringBoxes(upgrade, kRunLimitMs, camera, proxyUser);
  const bool ended = code != STILL_ACTIVE;
  if (!ended) upgrade.Kill();
  server.Stop();

  if (ended)
    std::printf("\nExit code: %d (%s)\n", AsInt(code), Meaning(AsInt(code)));
  else
    std::printf("\nUpgrade.exe did not end in time and was stopped\n");
  std::printf("Manager.exe running afterwards: %s\n\n", ManagerWindow() ? "yes" : "no");
  // Behind a proxy that asks, the dialog must have come, once: what was
  // typed at the catalogue fetch serves the whole run.
  const bool proxyMet = options.proxyPort.empty() || proxyUser.Met() == 1;
  if (!options.proxyPort.empty())
    std::printf("Credential dialogs answered: %d%s\n\n", proxyUser.Met(),
                proxyMet ? "" : " (one was expected)");
  if (!options.serveDir.empty())
    std::printf("Catalogue requests: %zu, requests in all: %zu\n\n",
                server.RequestCount(std::string(kCatalogueFolder) + kCatalogueCabinet),
                server.Requests().size());

  std::printf("Files in %s:\n", installDir.c_str());
  ListFiles(installDir, "");
  std::string hookRuns;
  if (ReadFileBytes(installDir + "PlayerSetup.exe.runs", hookRuns))
    std::printf("\nHook runs (PlayerSetup.exe.runs):\n%s", hookRuns.c_str());
  std::printf("\n");
  PrintKey(HKEY_LOCAL_MACHINE, "HKLM", std::string(kUpgradeKey) + "\\Components");
  PrintKey(HKEY_LOCAL_MACHINE, "HKLM", std::string(kUpgradeKey) + "\\Hooks");
  PrintKey(HKEY_LOCAL_MACHINE, "HKLM", "Software\\Pellory\\Codecs");
  PrintKey(HKEY_LOCAL_MACHINE, "HKLM", kUninstallKey);
  bool uninstalled = true;
  if (options.uninstall) {
    uninstalled = ended && RunUninstall(options, installDir);
  } else {
    PrintLogTail(30);
    // A dry run's answer is its summary.
    if (options.switches.find("/DryRun") != std::string::npos) PrintRunSummary();
  }

  // Leave nothing running in the prefix.
  if (HWND window = ManagerWindow()) ::PostMessageA(window, WM_COMMAND, kManagerCloseCommand, 0);
  WaitNoProcessNamed("Manager.exe", 10000);
  return ended && played && uninstalled && proxyMet ? 0 : 1;
}
