// The do-nothing reference of the quiet-check benchmark: a GUI program that
// returns at once, so that its run is the cost of starting a process.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return 0; }
