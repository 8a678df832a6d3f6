// Registration of the installed COM servers: in-process servers (DLLs) through
// their DllRegisterServer and DllUnregisterServer exports, out-of-process
// servers (".EXE") through their "/RegServer" and "/UnregServer" switches.
// While a restart is pending, registration waits for the next logon (RunOnce).
#pragma once

#include <windows.h>

#include <string>

#include "install/CompletionTexts.h"
#include "install/InstallState.h"

// The kind follows the extension alone: ".EXE" in any case is an
// out-of-process server, anything else (or no extension) an in-process one.
bool IsOutOfProcessServer(const std::string& path);
// The module's RunOnce value name: its path, which tells Foo.dll from Foo.exe
// and names the same module the same way on every run.
std::string RunOnceValueName(const std::string& path);

// Registers every path of state.modulesToRegister, in list order. A module
// that cannot be registered is logged and skipped; always 0.
DWORD RegisterModules(InstallState& state, CompletionTexts& texts);

// Unregisters one module; failures are logged and the caller goes on. Always 0.
DWORD UnregisterModule(const std::string& path);
