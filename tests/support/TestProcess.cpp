#include "tests/support/TestProcess.h"

#include <tlhelp32.h>

#include <cstdio>
#include <vector>

#include "frame/Handle.h"
#include "frame/RegKey.h"

namespace testing_support {

ChildProcess::~ChildProcess() {
  if (Running()) Kill();
  if (info_.hProcess) ::CloseHandle(info_.hProcess);
  if (info_.hThread) ::CloseHandle(info_.hThread);
}

bool ChildProcess::Start(const std::string& exe, const std::string& args,
                         const std::string& currentDir) {
  std::string commandLine = "\"" + exe + "\"";
  if (!args.empty()) commandLine += " " + args;
  std::vector<char> buffer(commandLine.begin(), commandLine.end());
  buffer.push_back('\0');
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  return ::CreateProcessA(exe.c_str(), buffer.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          currentDir.empty() ? nullptr : currentDir.c_str(), &startup,
                          &info_) != FALSE;
}

DWORD ChildProcess::Wait(DWORD timeoutMs) {
  if (!info_.hProcess) return STILL_ACTIVE;
  if (::WaitForSingleObject(info_.hProcess, Patience(timeoutMs)) != WAIT_OBJECT_0)
    return STILL_ACTIVE;
  DWORD code = STILL_ACTIVE;
  ::GetExitCodeProcess(info_.hProcess, &code);
  return code;
}

bool ShippedProgramUnderTest() {
  static const bool shipped = [] {
    char value[8] = "";
    const DWORD length = ::GetEnvironmentVariableA("UPGRADE_SHIPPED", value, sizeof(value));
    return length == 1 && value[0] == '1';
  }();
  return shipped;
}

DWORD Patience(DWORD ms) {
  // Seen here: 70 to 100 s from CreateProcess to the first window, more while
  // the other core is busy; after that the program runs at emulated speed.
  constexpr DWORD kProbe = 5000, kShippedStart = 240000;
  if (!ShippedProgramUnderTest() || ms < kProbe) return ms;
  return ms + kShippedStart;
}

bool ChildProcess::Running() const {
  return info_.hProcess && ::WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT;
}

void ChildProcess::Kill() {
  if (!info_.hProcess) return;
  ::TerminateProcess(info_.hProcess, 0xDEAD);
  ::WaitForSingleObject(info_.hProcess, 5000);
}

std::vector<DWORD> ProcessIdsNamed(const std::string& fileName, DWORD except) {
  std::vector<DWORD> ids;
  frame::ScopedFile snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return ids;
  PROCESSENTRY32 entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL more = ::Process32First(snapshot.get(), &entry); more;
       more = ::Process32Next(snapshot.get(), &entry))
    if (::lstrcmpiA(entry.szExeFile, fileName.c_str()) == 0 && entry.th32ProcessID != except)
      ids.push_back(entry.th32ProcessID);
  return ids;
}

int CountProcessesNamed(const std::string& fileName) {
  return static_cast<int>(ProcessIdsNamed(fileName).size());
}

bool WaitNoProcessNamed(const std::string& fileName, DWORD timeoutMs) {
  const DWORD start = ::GetTickCount();
  while (CountProcessesNamed(fileName) > 0) {
    if (::GetTickCount() - start >= timeoutMs) return false;
    ::Sleep(100);
  }
  return true;
}

bool UnderWine() {
  HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
  return ntdll && ::GetProcAddress(ntdll, "wine_get_version");
}

int RunSelfOnVirtualDesktop(const char* name, const char* size, const char* marker,
                            const char* who, int failure) {
  frame::RegKey desktops;
  if (desktops.Create(HKEY_CURRENT_USER, "Software\\Wine\\Explorer\\Desktops") != ERROR_SUCCESS ||
      desktops.SetString(name, size) != ERROR_SUCCESS) {
    std::fprintf(stderr, "%s: cannot configure the virtual desktop\n", who);
    return failure;
  }
  ::SetEnvironmentVariableA(marker, "1");
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  startup.lpDesktop = const_cast<char*>(name);
  PROCESS_INFORMATION process{};
  std::string commandLine = ::GetCommandLineA();
  if (!::CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &process)) {
    std::fprintf(stderr, "%s: cannot start on the virtual desktop (%lu)\n", who,
                 ::GetLastError());
    return failure;
  }
  frame::ScopedHandle thread(process.hThread);
  frame::ScopedHandle child(process.hProcess);
  ::WaitForSingleObject(child.get(), INFINITE);
  DWORD code = static_cast<DWORD>(failure);
  ::GetExitCodeProcess(child.get(), &code);
  return static_cast<int>(code);
}

}  // namespace testing_support
