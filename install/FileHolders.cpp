#include "install/FileHolders.h"

#include <windows.h>
#include <restartmanager.h>

#include "core/Log.h"
#include "core/TextConvert.h"
#include "frame/Binding.h"

namespace {

struct RestartManagerApi {
  DWORD(WINAPI* RmStartSession)(DWORD*, DWORD, WCHAR*) = nullptr;
  DWORD(WINAPI* RmRegisterResources)(DWORD, UINT, LPCWSTR*, UINT, RM_UNIQUE_PROCESS*, UINT,
                                     LPCWSTR*) = nullptr;
  DWORD(WINAPI* RmGetList)(DWORD, UINT*, UINT*, RM_PROCESS_INFO*, DWORD*) = nullptr;
  DWORD(WINAPI* RmEndSession)(DWORD) = nullptr;
};

RestartManagerApi g_api;
frame::LibraryBinding g_binding;

bool BindRestartManager() {
  const frame::FunctionSlot slots[] = {
      {"RmStartSession", frame::Slot(g_api.RmStartSession)},
      {"RmRegisterResources", frame::Slot(g_api.RmRegisterResources)},
      {"RmGetList", frame::Slot(g_api.RmGetList)},
      {"RmEndSession", frame::Slot(g_api.RmEndSession)},
  };
  return g_binding.Bind("rstrtmgr.dll", slots, sizeof(slots) / sizeof(slots[0]));
}

// A session of the restart manager, ended on every way out. It only asks:
// nothing is shut down or restarted through it.
class Session {
 public:
  Session() {
    WCHAR key[CCH_RM_SESSION_KEY + 1] = L"";
    open_ = g_api.RmStartSession(&handle_, 0, key) == ERROR_SUCCESS;
  }
  ~Session() {
    if (open_) g_api.RmEndSession(handle_);
  }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;
  bool Open() const { return open_; }
  DWORD Handle() const { return handle_; }

 private:
  DWORD handle_ = 0;
  bool open_ = false;
};

}  // namespace

std::vector<std::string> ProgramsHoldingFile(const std::string& path) {
  std::vector<std::string> names;
  if (!BindRestartManager()) return names;
  Session session;
  if (!session.Open()) return names;
  const std::wstring wide = AnsiToWide(path);
  LPCWSTR files[] = {wide.c_str()};
  if (g_api.RmRegisterResources(session.Handle(), 1, files, 0, nullptr, 0, nullptr) !=
      ERROR_SUCCESS)
    return names;
  // The list may grow between the two calls: a few tries, then what is known.
  std::vector<RM_PROCESS_INFO> processes(4);
  for (int attempt = 0; attempt < 3; ++attempt) {
    UINT needed = 0;
    UINT count = static_cast<UINT>(processes.size());
    DWORD reasons = 0;
    const DWORD rc =
        g_api.RmGetList(session.Handle(), &needed, &count, processes.data(), &reasons);
    if (rc == ERROR_MORE_DATA) {
      processes.resize(needed + 2);
      continue;
    }
    if (rc != ERROR_SUCCESS) {
      LogFormat("The programs holding '%s' cannot be told. Error 0x0%x.", path.c_str(),
                static_cast<unsigned>(rc));
      return names;
    }
    for (UINT i = 0; i < count && i < processes.size(); ++i) {
      std::string name =
          WideToAnsi(processes[i].strAppName, ::lstrlenW(processes[i].strAppName));
      if (name.empty()) name = "process " + std::to_string(processes[i].Process.dwProcessId);
      names.push_back(name);
    }
    return names;
  }
  return names;
}
