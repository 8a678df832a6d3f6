// The browser step of an uninstall: the maker's sites are told of the removal
// in every running browser, and the sites' cookies are emptied in the stores
// the program can write. Silent: nothing is logged, and nothing it meets
// changes the uninstall's result.
#pragma once

void RunBrowserStep();
