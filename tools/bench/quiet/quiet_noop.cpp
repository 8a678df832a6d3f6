// The do-nothing reference of the quiet-check benchmark: a GUI program that
// returns at once, so that its run is the cost of starting a process.
// With "libraries" it first loads the two system libraries no check can do
// without (the window library, for its texts and boxes, and the internet
// library, for the fetch) and returns: the least any quiet check costs.
#include <windows.h>

#include <cstring>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
  if (commandLine && std::strstr(commandLine, "libraries")) {
    if (!::LoadLibraryA("user32.dll") || !::LoadLibraryA("wininet.dll")) return 1;
  }
  return 0;
}
