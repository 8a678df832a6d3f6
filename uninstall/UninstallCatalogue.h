// The installation's own catalogue copy, "Bin\PM Install1.INF", as the
// uninstaller uses it: read once, before anything is removed, and kept in
// memory for every later pass. The file is never read again, so nothing that
// changes it while the removal runs (a hook, any program of the user) can
// change what is removed.
#pragma once

#include <windows.h>

#include <string>

#include "catalog/Component.h"
#include "catalog/IniFile.h"

struct UninstallCatalogue {
  IniFile sections;             // the uninstall sections and hook sections
  ComponentCatalog components;  // every component, parsed
};

// Reads and checks the catalogue at `path`. 0 when it can be used, else the
// system's error for a file that cannot be read, or ERROR_INVALID_DATA for one
// that is empty, lists no component, or names a component that does not
// parse (a file cut short). Each failure is logged.
DWORD ReadUninstallCatalogue(const std::string& path, UninstallCatalogue& catalogue);
