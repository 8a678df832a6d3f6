// The quiet check's reference: a GUI program that returns at once but
// imports exactly the system functions Upgrade.exe imports (the table is
// generated from the program's import table when the program is built, and
// the build checks that both import the same libraries), so that its run is
// the cost of starting a process with the program's libraries.
#include <windows.h>

extern "C" void* const* const quiet_twin_imports[];

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  return quiet_twin_imports[0] != nullptr ? 0 : 1;
}
