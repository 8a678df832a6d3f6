#include "browser/BrowserStep.h"

#include <windows.h>

#include <string>
#include <utility>

#include "browser/Browsers.h"
#include "browser/CookieStores.h"
#include "browser/Sites.h"
#include "core/Platform.h"
#include "host/Processes.h"
#include "tasks/ScheduledLaunch.h"

namespace {

const char kOperation[] = "Uninstall";

// The cookies that link a browser to the user's manager, on both sites; the
// download setting is kept on the cookie site only.
const char* const kLinkCookies[] = {"PM", "PDM"};
const char kDownloadCookie[] = "download_audio";

void OpenPageIfRunning(const BrowserTable& table, BrowserRow row) {
  if (table[row].bFound && IsInMachineProgramFolders(table[row].sPath))
    OpenCompletionPage(table[row].sPath, "", "", BrowserPageName(row), kOperation);
}

// Every cookie goes to the same store, so the first one that cannot be set
// ends the work: a busy store is then waited for once, not once per cookie.
void EmptyFirefoxCookies(const std::string& cookieUrl) {
  const std::string childrenUrl = GetChildrenSiteUrl();
  const std::pair<const std::string*, const char*> cookies[] = {
      {&cookieUrl, kLinkCookies[0]},  {&cookieUrl, kLinkCookies[1]},
      {&cookieUrl, kDownloadCookie},  {&childrenUrl, kLinkCookies[0]},
      {&childrenUrl, kLinkCookies[1]},
  };
  for (const auto& cookie : cookies)
    if (!SetFirefoxCookie(*cookie.first, cookie.second, "")) return;
}

// Before Vista WinInet writes Internet Explorer's store; later systems keep it
// where the program cannot write, so the page is opened instead when the
// site's cookies are there and Internet Explorer opens web pages.
void HandleInternetExplorer(const std::string& cookieUrl) {
  if (!IsVistaOrLater()) {
    for (const std::string& site : {cookieUrl, GetChildrenSiteUrl()})
      for (const char* name : kLinkCookies) SetInternetExplorerCookie(site, name, "");
    return;
  }
  const bool linked = !ReadInternetExplorerCookie(cookieUrl, "PM").empty() ||
                      !ReadInternetExplorerCookie(cookieUrl, "PDM").empty();
  if (!linked || !IsInternetExplorerDefault()) return;
  const std::string address = BuildCompletionAddress(
      GetCompletionUrlTemplate(), "0", "0", BrowserPageName(kRowInternetExplorer), kOperation);
  // The system's own opener of addresses, started with the user's rights:
  // the page opens as the user's own click on it would.
  char system[MAX_PATH] = "";
  const UINT length = ::GetSystemDirectoryA(system, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  StartWithUserRights(std::string(system) + "\\rundll32.exe",
                      "url.dll,FileProtocolHandler " + address, system);
}

}  // namespace

void RunBrowserStep(const std::string& cookieUrl) {
  const bool firefoxInstalled = !FindFirefoxPath().empty();
  BrowserTable table = MakeBrowserTable();
  FindRunningModules(table.data(), table.size());

  OpenPageIfRunning(table, kRowSafari);
  OpenPageIfRunning(table, kRowChrome);
  // A running Firefox holds its store and would write it back over any
  // change: it gets the page instead.
  if (firefoxInstalled) {
    if (IsModuleRunning(table[kRowFirefox].sModuleName))
      OpenPageIfRunning(table, kRowFirefox);
    else
      EmptyFirefoxCookies(cookieUrl);
  }
  HandleInternetExplorer(cookieUrl);
}
