// Faults on purpose: a write through a null pointer. The bench's own test runs
// it under wine-run to show that a crashing test program ends at once with
// the fault's address, instead of waiting in a debugger for the time limit.
#include <cstdio>

int main() {
  std::printf("fault probe: writing through a null pointer\n");
  std::fflush(stdout);
  volatile int* volatile target = nullptr;
  *target = 1;
  return 0;
}
