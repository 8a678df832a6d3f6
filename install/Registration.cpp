#include "install/Registration.h"

#include <shellapi.h>

#include "core/Log.h"
#include "core/Resources.h"
#include "core/SystemLibraries.h"
#include "frame/Handle.h"
#include "install/FileReplace.h"
#include "install/RunJournal.h"
#include "install/Hooks.h"
#include "resources/StringIds.h"

namespace {

constexpr DWORD kElevationRequired = 740;  // ERROR_ELEVATION_REQUIRED
// The longest value name the older family takes.
constexpr size_t kLongestValueName = 255;

using SelfRegistration = HRESULT(STDAPICALLTYPE*)();

// The last path element: after the last backslash or slash.
std::string FileNamePart(const std::string& path) {
  const size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// What one in-process (un)registration says in the log.
struct InprocTexts {
  const char* exportName;
  const char* missingExport;
  const char* succeeded;
  const char* failed;
};

const InprocTexts kRegisterTexts = {
    "DllRegisterServer", "DllRegisterServer cannot be found in library '%s'...",
    "OLE in-proc server '%s' has been successfully registered.",
    "DllRegisterServer cannot be found in the file '%s'. The file cannot be registered"};

const InprocTexts kUnregisterTexts = {
    "DllUnregisterServer", "DllUnregisterServer cannot be found in library '%s'...",
    "OLE in-proc server '%s' has been successfully unregistered.",
    "DllUnregisterServer cannot be found in the file '%s'. The file cannot be registered"};

// Loads the module, calls its export and frees it again; each outcome logged.
void CallInprocServer(const std::string& path, const InprocTexts& texts) {
  frame::ScopedModule module(LoadModuleByPath(path));
  if (!module) {
    LogFormat("File '%s' is not a DLL or failed to be loaded.", path.c_str());
    return;
  }
  const FARPROC proc = ::GetProcAddress(module.get(), texts.exportName);
  if (!proc) {
    LogFormat(texts.missingExport, path.c_str());
    return;
  }
  const auto entry = reinterpret_cast<SelfRegistration>(reinterpret_cast<void*>(proc));
  LogFormat(SUCCEEDED(entry()) ? texts.succeeded : texts.failed, path.c_str());
}

void RegisterOutOfProcessServer(const std::string& path, const InstallState& state,
                                CompletionTexts& texts) {
  const std::string command = QuotedProgramPath(path) + " /RegServer";
  texts.ShowStep(LoadResString(IDS_STATUS_REGISTERING), path, "");
  LogFormat("Registering module: '%s'...", command.c_str());
  if (state.rebootRequired) {
    if (state.journal) state.journal->RunOnceValue(RunOnceValueName(path));
    AddRunOnceEntry(RunOnceValueName(path), command);
    return;
  }
  const DWORD error = RunProcessAndWait(command, true, nullptr);
  if (error == 0) {
    LogFormat("OLE out-of-proc server '%s' has been successfully registered.", path.c_str());
    return;
  }
  LogFormat("Failed to launch self-registered OLE out-of-process server '%s'. Error %d",
            command.c_str(), static_cast<int>(error));
  if (error != kElevationRequired) return;
  // The shell asks for the elevation; that start is not waited for. The last
  // error is cleared first so that a stale one is never reported.
  ::SetLastError(0);
  const HINSTANCE result =
      ::ShellExecuteA(nullptr, "open", path.c_str(), "/RegServer", nullptr, SW_HIDE);
  if (reinterpret_cast<INT_PTR>(result) <= 32) {
    DWORD code = ::GetLastError();
    if (code == 0) code = static_cast<DWORD>(reinterpret_cast<INT_PTR>(result));
    LogFormat("ShellExecute failed to run server '%s' with command line '%s'. Error %d",
              path.c_str(), "/RegServer", static_cast<int>(code));
  }
}

void RegisterInprocServer(const std::string& path, const InstallState& state) {
  if (state.rebootRequired) {
    if (state.journal) state.journal->RunOnceValue(RunOnceValueName(path));
    AddRunOnceEntry(RunOnceValueName(path), "regsvr32 /s \"" + path + "\"");
    return;
  }
  CallInprocServer(path, kRegisterTexts);
}

}  // namespace

bool IsOutOfProcessServer(const std::string& path) {
  const std::string name = FileNamePart(path);
  const size_t dot = name.find_last_of('.');
  return dot != std::string::npos && ::lstrcmpiA(name.c_str() + dot, ".EXE") == 0;
}

std::string RunOnceValueName(const std::string& path) {
  // A path never starts with the '!' or '*' that give a RunOnce name a meaning.
  // Where one is too long, its end tells the modules apart.
  if (path.size() <= kLongestValueName) return path;
  return path.substr(path.size() - kLongestValueName);
}

DWORD RegisterModules(InstallState& state, CompletionTexts& texts) {
  for (const std::string& path : state.modulesToRegister) {
    if (IsOutOfProcessServer(path)) {
      RegisterOutOfProcessServer(path, state, texts);
    } else {
      RegisterInprocServer(path, state);
    }
  }
  return 0;
}

DWORD UnregisterModule(const std::string& path) {
  if (!IsOutOfProcessServer(path)) {
    CallInprocServer(path, kUnregisterTexts);
    return 0;
  }
  const std::string command = QuotedProgramPath(path) + " /UnregServer";
  const DWORD error = RunProcessAndWait(command, true, nullptr);
  if (error != 0) {
    LogFormat("Failed to launch self-registered OLE out-of-process server '%s'. Error 0x0%x",
              command.c_str(), static_cast<unsigned>(error));
    return 0;
  }
  LogFormat("OLE out-of-proc server '%s' has been successfully unregistered.", path.c_str());
  return 0;
}
