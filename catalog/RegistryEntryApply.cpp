// Applying registry lines to the real registry (Windows build only).
#include "catalog/RegistryEntry.h"

#include "core/Log.h"
#include "frame/RegKey.h"

namespace {

const REGSAM kAccess = KEY_READ | KEY_WRITE;

}  // namespace

HKEY RegistryRootKey(RegistryRoot root) {
  switch (root) {
    case RegistryRoot::kClassesRoot: return HKEY_CLASSES_ROOT;
    case RegistryRoot::kCurrentUser: return HKEY_CURRENT_USER;
    case RegistryRoot::kLocalMachine: return HKEY_LOCAL_MACHINE;
    case RegistryRoot::kUsers: return HKEY_USERS;
    case RegistryRoot::kNone: break;
  }
  return nullptr;
}

LONG RegistryEntry::ApplyAdd() const {
  if (type != kTypeSz && type != kTypeBinary && type != kTypeDword) return ERROR_SUCCESS;
  const HKEY rootKey = RegistryRootKey(root);
  if (!rootKey) return ERROR_INVALID_HANDLE;
  frame::RegKey key;
  LONG rc = key.Create(rootKey, subkey, kAccess);
  if (rc != ERROR_SUCCESS) return rc;
  const BYTE* data = nullptr;
  DWORD value = number;
  if (type == kTypeSz)
    data = reinterpret_cast<const BYTE*>(text.c_str());
  else if (type == kTypeDword)
    data = reinterpret_cast<const BYTE*>(&value);
  return ::RegSetValueExA(key.get(), name.c_str(), 0, type, data, dataSize);
}

LONG RegistryEntry::ApplyDelete() const {
  const HKEY rootKey = RegistryRootKey(root);
  if (!rootKey) return ERROR_SUCCESS;
  // Without a subkey the name would be a whole branch of the root: a line
  // such as "HKCU,,Software" must not take every program's settings.
  if (!NamesKey()) {
    LogFormat("The registry line to delete '%s' without a key is refused.", name.c_str());
    return ERROR_SUCCESS;
  }
  frame::RegKey key;
  if (key.Open(rootKey, subkey, kAccess) != ERROR_SUCCESS) return ERROR_SUCCESS;
  // An empty name would make the key itself the tree to delete: a line such
  // as "HKLM,Software," must not wipe a whole branch. Only the default value
  // goes then.
  if (!name.empty() && key.DeleteSubKeyTree(name) == ERROR_SUCCESS) return ERROR_SUCCESS;
  return ::RegDeleteValueA(key.get(), name.c_str());
}
