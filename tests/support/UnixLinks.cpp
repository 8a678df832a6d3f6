#include "tests/support/UnixLinks.h"

#include <windows.h>

#include "frame/Handle.h"

namespace testing_support {

std::string UnixPath(const std::string& path) {
  using UnixName = char*(CDECL*)(LPCWSTR);
  const auto unixName = reinterpret_cast<UnixName>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
  if (!unixName) return "";
  wchar_t wide[MAX_PATH];
  ::MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH);
  char* name = unixName(wide);
  const std::string result = name ? name : "";
  ::HeapFree(::GetProcessHeap(), 0, name);
  return result;
}

bool RunUnixCommand(std::string commandLine, const std::function<bool()>& done) {
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!::CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
    return false;
  frame::ScopedHandle processHandle(process.hProcess), threadHandle(process.hThread);
  for (int tries = 0; tries < 200; ++tries, ::Sleep(50))
    if (done()) return true;
  return false;
}

bool MakeFolderLink(const std::string& link, const std::string& target) {
  const std::string unixLink = UnixPath(link), unixTarget = UnixPath(target);
  if (unixLink.empty() || unixTarget.empty()) return false;
  return RunUnixCommand("Z:\\bin\\ln -s \"" + unixTarget + "\" \"" + unixLink + "\"", [&] {
    const DWORD attributes = ::GetFileAttributesA(link.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  });
}

void RemoveFolderLink(const std::string& link) {
  if (::GetFileAttributesA(link.c_str()) == INVALID_FILE_ATTRIBUTES) return;
  const std::string unixLink = UnixPath(link);
  if (unixLink.empty()) return;
  RunUnixCommand("Z:\\bin\\rm -f \"" + unixLink + "\"",
                 [&] { return ::GetFileAttributesA(link.c_str()) == INVALID_FILE_ATTRIBUTES; });
}

}  // namespace testing_support
