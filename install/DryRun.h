// The dry run of an installation: what the run of the chosen components would
// do, decided by the rules the worker follows, and told in the log, the run
// summary and (unless the run is quiet) one box. Nothing on the machine
// changes: no file, no registry value, no program closed, nothing fetched.
#pragma once

#include <vector>

#include "catalog/Component.h"

// The exit code the real run would most likely end with: 0, or 36 when files
// in use would have to wait for the next start of Windows.
int PlanInstallation(const std::vector<Component>& components);

// The installation of the chosen components: the run itself, or its plan in a
// dry run. The result is the run's exit code.
int InstallComponents(const std::vector<Component>& components);
