#include "frame/RegKey.h"

namespace frame {

bool IsPredefinedKey(HKEY key) {
  // The predefined roots are the handle values 0x80000000 to 0x80000006, as
  // signed 32-bit numbers: in a 64-bit build they are sign-extended.
  const auto value = reinterpret_cast<LONG_PTR>(key);
  return value >= reinterpret_cast<LONG_PTR>(HKEY_CLASSES_ROOT) &&
         value <= reinterpret_cast<LONG_PTR>(HKEY_DYN_DATA);
}

RegKey& RegKey::operator=(RegKey&& other) noexcept {
  if (this != &other) {
    Close();
    key_ = other.Detach();
  }
  return *this;
}

LONG RegKey::Open(HKEY parent, const std::string& path, REGSAM access) {
  HKEY key = nullptr;
  LONG rc = ::RegOpenKeyExA(parent, path.c_str(), 0, access, &key);
  if (rc == ERROR_SUCCESS) {
    Close();
    key_ = key;
  }
  return rc;
}

LONG RegKey::Create(HKEY parent, const std::string& path, REGSAM access) {
  HKEY key = nullptr;
  DWORD disposition = 0;
  LONG rc = ::RegCreateKeyExA(parent, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                              access, nullptr, &key, &disposition);
  if (rc == ERROR_SUCCESS) {
    Close();
    key_ = key;
  }
  return rc;
}

void RegKey::Close() {
  if (key_ && !IsPredefinedKey(key_)) ::RegCloseKey(key_);
  key_ = nullptr;
}

HKEY RegKey::Detach() {
  HKEY key = key_;
  key_ = nullptr;
  return key;
}

LONG RegKey::QueryString(const std::string& name, std::string& value, DWORD maxChars) const {
  if (!key_) return ERROR_INVALID_HANDLE;
  std::string buffer(maxChars + 1, '\0');
  DWORD type = 0;
  DWORD bytes = maxChars;
  LONG rc = ::RegQueryValueExA(key_, name.c_str(), nullptr, &type,
                               reinterpret_cast<BYTE*>(&buffer[0]), &bytes);
  if (rc != ERROR_SUCCESS) return rc;
  if (type != REG_SZ && type != REG_EXPAND_SZ) return ERROR_INVALID_DATA;
  // The stored data need not be terminated; stop at the first NUL if it is.
  buffer.resize(bytes);
  const auto nul = buffer.find('\0');
  if (nul != std::string::npos) buffer.resize(nul);
  value = buffer;
  return ERROR_SUCCESS;
}

LONG RegKey::QueryDword(const std::string& name, DWORD& value) const {
  if (!key_) return ERROR_INVALID_HANDLE;
  DWORD type = 0;
  DWORD data = 0;
  DWORD bytes = sizeof(data);
  LONG rc = ::RegQueryValueExA(key_, name.c_str(), nullptr, &type,
                               reinterpret_cast<BYTE*>(&data), &bytes);
  if (rc != ERROR_SUCCESS) return rc;
  if (type != REG_DWORD || bytes != sizeof(data)) return ERROR_INVALID_DATA;
  value = data;
  return ERROR_SUCCESS;
}

LONG RegKey::SetString(const std::string& name, const std::string& value) {
  if (!key_) return ERROR_INVALID_HANDLE;
  return ::RegSetValueExA(key_, name.c_str(), 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>(value.size() + 1));
}

LONG RegKey::SetDword(const std::string& name, DWORD value) {
  if (!key_) return ERROR_INVALID_HANDLE;
  return ::RegSetValueExA(key_, name.c_str(), 0, REG_DWORD,
                          reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

LONG RegKey::SetBinary(const std::string& name, const std::vector<uint8_t>& bytes) {
  if (!key_) return ERROR_INVALID_HANDLE;
  return ::RegSetValueExA(key_, name.c_str(), 0, REG_BINARY,
                          bytes.empty() ? nullptr : bytes.data(),
                          static_cast<DWORD>(bytes.size()));
}

LONG RegKey::DeleteValue(const std::string& name) {
  if (!key_) return ERROR_INVALID_HANDLE;
  return ::RegDeleteValueA(key_, name.c_str());
}

LONG RegKey::DeleteSubKeyTree(const std::string& subkey) {
  if (!key_) return ERROR_INVALID_HANDLE;
  // Depth first: RegDeleteKey only removes keys without subkeys.
  {
    RegKey child;
    LONG rc = child.Open(key_, subkey, KEY_READ | KEY_WRITE);
    if (rc != ERROR_SUCCESS) return rc;
    char name[256];
    for (;;) {
      DWORD length = sizeof(name);
      rc = ::RegEnumKeyExA(child.get(), 0, name, &length, nullptr, nullptr, nullptr, nullptr);
      if (rc == ERROR_NO_MORE_ITEMS) break;
      if (rc != ERROR_SUCCESS) return rc;
      rc = child.DeleteSubKeyTree(name);
      if (rc != ERROR_SUCCESS) return rc;
    }
  }
  return ::RegDeleteKeyA(key_, subkey.c_str());
}

}  // namespace frame
