// RegistryEntry: one "Add Registry" or "Delete Registry" line of the catalogue,
// parsed into the value to write or the key/value to remove. Parsing is plain
// text work and builds everywhere; applying touches the registry (Windows).
//
// Add line:    root,subkey,name,flag,data   (fields cut at commas, untrimmed)
// Delete line: root,subkey,name
// Root and flag fields match by containment ("HKLM " is HKLM).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

enum class RegistryRoot { kNone, kClassesRoot, kCurrentUser, kLocalMachine, kUsers };

struct RegistryEntry {
  static constexpr uint32_t kTypeNone = 0;
  static constexpr uint32_t kTypeSz = 1;      // REG_SZ
  static constexpr uint32_t kTypeBinary = 3;  // REG_BINARY
  static constexpr uint32_t kTypeDword = 4;   // REG_DWORD

  uint32_t type = kTypeNone;
  uint32_t number = 0;         // REG_DWORD data
  std::string text;            // REG_SZ data
  std::vector<uint8_t> binary; // REG_BINARY data; lines never fill it
  RegistryRoot root = RegistryRoot::kNone;
  std::string subkey;
  std::string name;            // value name; for delete lines also a subkey name
  uint32_t dataSize = 0;       // bytes given to the write

  // Both always succeed; an unusable line gives an entry that does nothing.
  static RegistryEntry ParseAdd(const std::string& line);
  static RegistryEntry ParseDelete(const std::string& line);

  // False for a line whose key is empty, or only blanks and backslashes: its name would
  // then be a whole branch of the root.
  bool NamesKey() const { return subkey.find_first_not_of(" \\") != std::string::npos; }

#ifdef _WIN32
  // 0 or the registry's error code of the failing call.
  LONG ApplyAdd() const;
  // Removes the subkey `name` with everything below it, else the value `name`.
  // 0 when root\subkey does not exist.
  LONG ApplyDelete() const;
#endif
};

// The root a field names, by containment; kNone when it names none.
RegistryRoot ParseRegistryRoot(const std::string& field);

// "HKCR", "HKCU", "HKLM", "HKU" or "" for kNone.
const char* RegistryRootName(RegistryRoot root);

// Cuts `rest` at its first comma: the field before it is returned, `rest`
// keeps what follows (empty when there is no comma).
std::string TakeRegistryField(std::string& rest);

#ifdef _WIN32
HKEY RegistryRootKey(RegistryRoot root);  // nullptr for kNone
#endif
