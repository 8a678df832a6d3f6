// An open registry key that closes itself (never closing the predefined
// roots), with the calls the program makes in batches; plus one-shot helpers.
// Every call returns the registry's own error code (ERROR_SUCCESS = 0).
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace frame {

class RegKey {
 public:
  RegKey() = default;
  RegKey(RegKey&& other) noexcept : key_(other.Detach()) {}
  RegKey& operator=(RegKey&& other) noexcept;
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;
  ~RegKey() { Close(); }

  LONG Open(HKEY parent, const std::string& path, REGSAM access = KEY_READ);
  // Creates the key when missing, opens it otherwise.
  LONG Create(HKEY parent, const std::string& path,
              REGSAM access = KEY_READ | KEY_WRITE);
  void Close();
  HKEY Detach();
  HKEY get() const { return key_; }
  bool IsOpen() const { return key_ != nullptr; }

  // A REG_SZ or REG_EXPAND_SZ value, read into at most maxChars characters
  // (the terminator included), as the fixed buffers of the program do.
  LONG QueryString(const std::string& name, std::string& value,
                   DWORD maxChars = MAX_PATH) const;
  LONG QueryDword(const std::string& name, DWORD& value) const;
  LONG SetString(const std::string& name, const std::string& value);
  LONG SetDword(const std::string& name, DWORD value);
  LONG SetBinary(const std::string& name, const std::vector<uint8_t>& bytes);
  LONG DeleteValue(const std::string& name);
  // Deletes a subkey with everything below it.
  LONG DeleteSubKeyTree(const std::string& subkey);

 private:
  HKEY key_ = nullptr;
};

// True for HKEY_LOCAL_MACHINE and the other predefined roots.
bool IsPredefinedKey(HKEY key);

}  // namespace frame
