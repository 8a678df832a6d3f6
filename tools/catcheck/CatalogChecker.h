// catcheck: finds the places where the program would read a catalogue
// differently from what its publisher meant. It runs the program's own INF
// reader over the file and walks the catalogue the way the parser does,
// reporting every line that is dropped or altered, every component that would
// be dropped and why, list gaps, loose booleans, missing sections, unsafe or
// unknown destinations, unusable registry lines, and, given the folder of the
// cabinets, missing cabinets and "Size" values that do not fit them.
#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

struct CatcheckFinding {
  size_t line = 0;  // 1-based, counting CR, LF and CR LF as line ends; 0: the file
  std::string text;
};

struct CatcheckOptions {
  uint16_t langId = 0x0409;  // the user language the language-aware lookups assume
  // Set when a cabinet folder was given: the size of a cabinet, false when missing.
  std::function<bool(const std::string& name, uint64_t& size)> cabinetSize;
};

// All findings for the file's bytes, ordered by line.
std::vector<CatcheckFinding> CheckCatalog(const std::string& bytes, const CatcheckOptions& options);

// The command line: catcheck [--langid HEX] CATALOG [CABINET-FOLDER].
// 0 clean, 1 findings, 2 the catalogue (or the folder) cannot be read or a usage error.
int RunCatcheck(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
