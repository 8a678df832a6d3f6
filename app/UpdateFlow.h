// The update and Setup modes after the start-up checks: the damaged-file
// step, the confirmation, the catalogue fetch, the choice of components (by
// the mode or in the selection dialog) and the installation run. Main thread.
#pragma once

#include <string>
#include <vector>

#include "catalog/Component.h"

// `appDir` is the installation folder (with its backslash); the fetch fills
// `catalog`. Returns the exit code: 0, 36 (restart needed) or -1.
int RunUpdateFlow(const std::string& appDir, ComponentCatalog& catalog);

// Installs the component named by `name` ("ID:<number>" or its name, any
// case) when it is not up to date; 0 without a word when there is none.
int InstallOneComponent(ComponentCatalog& catalog, const std::string& name);

// The "Devices" filter: components whose id is neither 0 nor -1, in order.
void KeepDeviceComponents(ComponentCatalog& catalog);
// What Setup mode installs: the forced and the initially selected, in order.
std::vector<Component> SetupComponents(const ComponentCatalog& catalog);
