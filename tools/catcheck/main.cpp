// catcheck: checks a components catalogue the way the program will read it.
#include <iostream>
#include <string>
#include <vector>

#include "tools/catcheck/CatalogChecker.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return RunCatcheck(args, std::cout, std::cerr);
}
