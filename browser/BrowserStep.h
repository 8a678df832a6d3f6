// The browser step of an uninstall: the maker's sites are told of the removal
// in every running browser, and the sites' cookies are emptied in the stores
// the program can write. Silent: nothing is logged, and nothing it meets
// changes the uninstall's result.
#pragma once

#include <string>

// `cookieUrl` is the site address the cookies belong to (GetCookieUrl), taken
// before the uninstall removed the settings that may name it.
void RunBrowserStep(const std::string& cookieUrl);
