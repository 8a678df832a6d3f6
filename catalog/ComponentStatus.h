// What the machine has of each component, and the catalogue queries the
// update flow asks before it offers or installs anything. Status and update
// decisions read the registry records and the installed files' versions.
#pragma once

#include <string>
#include <vector>

#include "catalog/Component.h"

enum class ComponentStatus {
  NotInstalled = 0,     // list text IDS_STATUS_NOT_INSTALLED
  UpToDate = 1,         // IDS_STATUS_UP_TO_DATE
  UpdateAvailable = 2,  // IDS_STATUS_UPDATE_AVAILABLE
};

#ifdef _WIN32
// NotInstalled without a record under HKLM kComponentsKey (logged); else
// UpdateAvailable when a file is missing, has no version resource or is older
// than the catalogue's, or a hook never ran or ran at an older version.
// Entries without a usable destination (TargetPath "") are left out: they are
// never installed, so they cannot keep a component out of date.
ComponentStatus GetComponentStatus(const Component& component);

// Whether the worker installs this file in this run: Setup mode, registered
// classes, the "install when missing" marker, the platform and the installed
// version decide. Never true for a file without a destination.
bool NeedsUpdate(const ComponentFile& file);

// True when the file has a destination on this machine (TargetPath logs the
// refusal otherwise).
bool HasTargetPath(const ComponentFile& file);

// Some initially selected component is not up to date (catalogue order, the
// first one ends the search; platforms are not consulted).
bool HasUpdatesToOffer(const ComponentCatalog& catalog);
// Every component that offer is made of: initially selected, not up to date.
std::vector<Component> UpdatesToOffer(const ComponentCatalog& catalog);

// The component named by `text` ("ID:<number>" or its name, any case). False
// when none matches or the match is up to date; else marks the catalogue's
// component forced and selected and copies it into `component`.
bool FindComponentToUpdate(ComponentCatalog& catalog, const std::string& text,
                           Component& component);
#endif

