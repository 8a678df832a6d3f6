#include "catalog/RegistryEntry.h"

#include "catalog/IniFile.h"

namespace {

bool Contains(const std::string& field, const char* text) {
  return field.find(text) != std::string::npos;
}

}  // namespace

std::string TakeRegistryField(std::string& rest) {
  const size_t comma = rest.find(',');
  std::string field;
  if (comma == std::string::npos) {
    field.swap(rest);
  } else {
    field = rest.substr(0, comma);
    rest.erase(0, comma + 1);
  }
  return field;
}

RegistryRoot ParseRegistryRoot(const std::string& field) {
  // The order matters only for fields naming two roots; case is significant.
  if (Contains(field, "HKCR") || Contains(field, "HKEY_CLASSES_ROOT"))
    return RegistryRoot::kClassesRoot;
  if (Contains(field, "HKCU") || Contains(field, "HKEY_CURRENT_USER"))
    return RegistryRoot::kCurrentUser;
  if (Contains(field, "HKLM") || Contains(field, "HKEY_LOCAL_MACHINE"))
    return RegistryRoot::kLocalMachine;
  if (Contains(field, "HKU") || Contains(field, "HKEY_USERS")) return RegistryRoot::kUsers;
  return RegistryRoot::kNone;
}

const char* RegistryRootName(RegistryRoot root) {
  switch (root) {
    case RegistryRoot::kClassesRoot: return "HKCR";
    case RegistryRoot::kCurrentUser: return "HKCU";
    case RegistryRoot::kLocalMachine: return "HKLM";
    case RegistryRoot::kUsers: return "HKU";
    case RegistryRoot::kNone: break;
  }
  return "";
}

RegistryEntry RegistryEntry::ParseAdd(const std::string& line) {
  RegistryEntry entry;
  std::string rest = line;
  entry.root = ParseRegistryRoot(TakeRegistryField(rest));
  entry.subkey = TakeRegistryField(rest);
  entry.name = TakeRegistryField(rest);
  const std::string flag = TakeRegistryField(rest);
  // Whatever follows a fifth comma is not part of the data.
  const std::string data = TakeRegistryField(rest);
  if (Contains(flag, "FLG_ADDREG_TYPE_SZ")) {
    entry.type = kTypeSz;
    entry.text = data;
    entry.dataSize = static_cast<uint32_t>(data.size() + 1);
  } else if (Contains(flag, "FLG_ADDREG_TYPE_DWORD")) {
    entry.type = kTypeDword;
    entry.number = static_cast<uint32_t>(IniToInt(data));
    entry.dataSize = 4;
  } else if (Contains(flag, "FLG_ADDREG_TYPE_BINARY")) {
    entry.type = kTypeBinary;
    entry.dataSize = 0;
  }
  return entry;
}

RegistryEntry RegistryEntry::ParseDelete(const std::string& line) {
  RegistryEntry entry;
  std::string rest = line;
  entry.root = ParseRegistryRoot(TakeRegistryField(rest));
  entry.subkey = TakeRegistryField(rest);
  entry.name = TakeRegistryField(rest);
  return entry;
}
