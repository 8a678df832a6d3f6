#include "host/Processes.h"

#include <functional>
#include <vector>

#include "core/Log.h"
#include "core/Platform.h"
#include "frame/Binding.h"
#include "frame/Handle.h"

namespace {

struct PsapiApi {
  BOOL(WINAPI* EnumProcesses)(DWORD*, DWORD, DWORD*) = nullptr;
  BOOL(WINAPI* EnumProcessModules)(HANDLE, HMODULE*, DWORD, DWORD*) = nullptr;
  DWORD(WINAPI* GetModuleFileNameExA)(HANDLE, HMODULE, LPSTR, DWORD) = nullptr;
};

// Bound once per process (thread-safe static), released at process end.
const PsapiApi* Psapi() {
  static frame::LibraryBinding binding;
  static PsapiApi api;
  static const bool bound = [] {
    const frame::FunctionSlot slots[] = {
        {"EnumProcesses", frame::Slot(api.EnumProcesses)},
        {"EnumProcessModules", frame::Slot(api.EnumProcessModules)},
        {"GetModuleFileNameExA", frame::Slot(api.GetModuleFileNameExA)},
    };
    return binding.Bind("psapi.dll", slots, sizeof(slots) / sizeof(slots[0]));
  }();
  return bound ? &api : nullptr;
}

using QueryImageNameFn = BOOL(WINAPI*)(HANDLE, DWORD, LPSTR, PDWORD);

// Vista and later: the path of a process's executable, also of a 64-bit
// process whose modules this 32-bit program cannot list.
QueryImageNameFn QueryImageName() {
  static const QueryImageNameFn fn = [] {
    HMODULE kernel = ::GetModuleHandleA("kernel32.dll");
    return kernel ? reinterpret_cast<QueryImageNameFn>(reinterpret_cast<void*>(
                        ::GetProcAddress(kernel, "QueryFullProcessImageNameA")))
                  : nullptr;
  }();
  return fn;
}

constexpr DWORD kMaxProcesses = 4096;  // a 16384-byte identifier list
constexpr DWORD kMaxModules = 1024;
constexpr DWORD kPollMs = 500;

std::string FileNamePart(const std::string& path) {
  const size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Calls `visit` with the full path of every module of every process that can
// be opened, until it returns false. Listing failures end the walk quietly.
// Of a process whose modules cannot be listed (on 64-bit Windows, a 64-bit
// process: a browser, say), its executable is visited.
void ForEachProcessModule(const std::function<bool(const std::string&)>& visit) {
  if (!IsNT()) return;
  const PsapiApi* psapi = Psapi();
  if (!psapi) return;
  std::vector<DWORD> ids(kMaxProcesses);
  DWORD bytes = 0;
  if (!psapi->EnumProcesses(ids.data(), kMaxProcesses * sizeof(DWORD), &bytes)) return;
  const DWORD processCount = bytes / sizeof(DWORD);
  std::vector<HMODULE> modules(kMaxModules);
  for (DWORD i = 0; i < processCount; ++i) {
    frame::ScopedHandle process(
        ::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, ids[i]));
    if (!process) continue;
    DWORD needed = 0;
    if (!psapi->EnumProcessModules(process.get(), modules.data(),
                                   kMaxModules * sizeof(HMODULE), &needed)) {
      char path[MAX_PATH] = "";
      DWORD length = MAX_PATH;
      if (QueryImageName() && QueryImageName()(process.get(), 0, path, &length) && length &&
          length < MAX_PATH && !visit(std::string(path, length)))
        return;
      continue;
    }
    DWORD moduleCount = needed / sizeof(HMODULE);
    if (moduleCount > kMaxModules) moduleCount = kMaxModules;
    for (DWORD m = 0; m < moduleCount; ++m) {
      char path[MAX_PATH] = "";
      const DWORD length =
          psapi->GetModuleFileNameExA(process.get(), modules[m], path, MAX_PATH);
      if (length == 0) continue;
      if (!visit(std::string(path, length < MAX_PATH ? length : MAX_PATH - 1))) return;
    }
  }
}

bool SameFileName(const std::string& path, const std::string& moduleName) {
  return ::lstrcmpiA(FileNamePart(path).c_str(), moduleName.c_str()) == 0;
}

int WaitForHandle(HANDLE handle, DWORD milliseconds) {
  const DWORD start = ::GetTickCount();
  for (;;) {
    const DWORD elapsed = ::GetTickCount() - start;
    if (elapsed >= milliseconds) return ::WaitForSingleObject(handle, 0) == WAIT_OBJECT_0;
    const DWORD left = milliseconds - elapsed;
    const DWORD result = ::WaitForSingleObject(handle, left < kPollMs ? left : kPollMs);
    if (result == WAIT_OBJECT_0) return 1;
    // A handle that cannot be waited on will never end within the time.
    if (result == WAIT_FAILED) return 0;
  }
}

}  // namespace

bool IsModuleRunning(const std::string& moduleName) {
  bool found = false;
  ForEachProcessModule([&](const std::string& path) {
    found = SameFileName(path, moduleName);
    return !found;
  });
  return found;
}

int FindRunningModules(RunningModule* modules, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    modules[i].bFound = 0;
    modules[i].sPath.clear();
  }
  ForEachProcessModule([&](const std::string& path) {
    for (size_t i = 0; i < count; ++i) {
      if (SameFileName(path, modules[i].sModuleName)) {
        modules[i].bFound = 1;
        modules[i].sPath = path;
      }
    }
    return true;
  });
  return 1;
}

bool RunProgram(const std::string& commandLine, bool wait) {
  std::vector<char> buffer(commandLine.begin(), commandLine.end());
  buffer.push_back('\0');
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  if (!::CreateProcessA(nullptr, buffer.data(), nullptr, nullptr, TRUE, NORMAL_PRIORITY_CLASS,
                        nullptr, nullptr, &startup, &info)) {
    LogFormat("Failed to start '%s'. Error %lu", commandLine.c_str(), ::GetLastError());
    return false;
  }
  frame::ScopedHandle process(info.hProcess);
  frame::ScopedHandle thread(info.hThread);
  if (wait) ::WaitForSingleObject(process.get(), INFINITE);
  return true;
}

int WaitForProcess(HANDLE process, DWORD milliseconds) {
  return WaitForHandle(process, milliseconds);
}
int WaitForThread(HANDLE thread, DWORD milliseconds) { return WaitForHandle(thread, milliseconds); }
