// A program that writes down what HKLM\SOFTWARE\Pellory holds at the moment
// it runs: its subkeys and its values, by name, into "<exe>.keys" beside the
// executable. Registered as a plug-in server that the uninstaller unregisters
// by running it, it shows the key as the uninstaller left it at that point.
// Arguments are ignored.
#include <windows.h>

#include <string>

#include "frame/Handle.h"

namespace {

struct KeyTraits {
  using Type = HKEY;
  static Type Invalid() { return nullptr; }
  static void Close(Type key) { ::RegCloseKey(key); }
};
using ScopedKey = frame::UniqueHandle<KeyTraits>;

// The view the program under test writes: the 32-bit one for the shipped
// program (UPGRADE_SHIPPED=1, which this plug-in inherits from the test).
REGSAM ProgramView() {
  char value[8] = "";
  const DWORD length = ::GetEnvironmentVariableA("UPGRADE_SHIPPED", value, sizeof(value));
  return length == 1 && value[0] == '1' ? KEY_WOW64_32KEY : 0;
}

std::string Snapshot() {
  ScopedKey key;
  if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Pellory", 0, KEY_READ | ProgramView(),
                      key.put()) != ERROR_SUCCESS)
    return "no key\r\n";
  std::string keys = "keys:", values = "values:";
  char name[16384];
  for (DWORD index = 0;; ++index) {
    DWORD length = sizeof(name);
    if (::RegEnumKeyExA(key.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      break;
    keys += " " + std::string(name, length);
  }
  for (DWORD index = 0;; ++index) {
    DWORD length = sizeof(name);
    if (::RegEnumValueA(key.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      break;
    values += " " + std::string(name, length);
  }
  return keys + "\r\n" + values + "\r\n";
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  char path[MAX_PATH] = "";
  const DWORD length = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return 1;
  const std::string record = std::string(path, length) + ".keys";
  frame::ScopedFile file(::CreateFileA(record.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return 1;
  const std::string text = Snapshot();
  DWORD written = 0;
  return ::WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written,
                     nullptr) && written == text.size()
             ? 0
             : 1;
}
