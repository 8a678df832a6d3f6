// The uninstall demo: a lived-in installation, the uninstall as a user
// starts it ("Bin\Upgrade.exe /Uninstall"), the played user answering the
// questions of its copy in the temporary folder with a browser running, and
// what is left afterwards.
#pragma once

#include <string>

#include "tools/demo/DemoOptions.h"

namespace demo {

// True when the uninstall ran to its end.
bool RunUninstall(const Options& options, const std::string& installDir);

}  // namespace demo
