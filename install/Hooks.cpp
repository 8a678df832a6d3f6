#include "install/Hooks.h"

#include <utility>
#include <vector>

#include "catalog/InstalledState.h"
#include "catalog/TargetPath.h"
#include "core/Log.h"
#include "core/MessageBox.h"  // IsSetupMode
#include "core/Resources.h"
#include "core/Locations.h"
#include "frame/Handle.h"
#include "install/RunJournal.h"
#include "resources/StringIds.h"

namespace {

ProcessStartFailure g_startFailure;

constexpr DWORD kExitPollMs = 500;
constexpr DWORD kHiddenProgramLimitMs = 2 * 60 * 1000;
DWORD g_hiddenProgramLimitMs = 0;  // 0: kHiddenProgramLimitMs

// A failed call whose last error reads 0 must still report a failure.
DWORD LastErrorOrFailure() {
  const DWORD error = ::GetLastError();
  return error != 0 ? error : ERROR_GEN_FAILURE;
}

// Two entries are the same hook when the names match and both or neither
// carry arguments.
bool SameHook(const ComponentHook& a, const ComponentHook& b) {
  return a.sHookName == b.sHookName && a.sRun.empty() == b.sRun.empty();
}

// `text` as one argument in double quotes, as the start-up code of a program
// splits its command line: a quote inside is written \", and backslashes are
// doubled where a quote follows them (an inner one, or the closing one).
std::string QuotedArgument(const std::string& text) {
  std::string quoted = "\"";
  size_t backslashes = 0;
  for (const char c : text) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') backslashes = backslashes * 2 + 1;
    quoted.append(backslashes, '\\');
    backslashes = 0;
    quoted.push_back(c);
  }
  quoted.append(backslashes * 2, '\\');
  return quoted + "\"";
}

// No file name holds a double quote; in a program path one would end the
// program's name early and turn the rest into arguments.
bool RefuseQuotedProgram(const std::string& path, const char* what) {
  if (path.find('"') == std::string::npos) return false;
  LogFormat("Refused to start %s '%s': a double quote in a program name.", what, path.c_str());
  return true;
}

}  // namespace

void SetProcessStartFailureForTests(ProcessStartFailure failure) {
  g_startFailure = std::move(failure);
}

void SetHiddenProgramLimitForTests(DWORD limitMs) { g_hiddenProgramLimitMs = limitMs; }

DWORD RunProcessAndWait(const std::string& commandLine, bool hidden, DWORD* exitCode) {
  if (g_startFailure) {
    if (const DWORD error = g_startFailure(commandLine)) return error;
  }
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  if (hidden) {
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
  }
  PROCESS_INFORMATION info = {};
  // CreateProcessA may write into the command line.
  std::vector<char> buffer(commandLine.begin(), commandLine.end());
  buffer.push_back('\0');
  if (!::CreateProcessA(nullptr, buffer.data(), nullptr, nullptr, TRUE, NORMAL_PRIORITY_CLASS,
                        nullptr, nullptr, &startup, &info))
    return LastErrorOrFailure();
  frame::ScopedHandle process(info.hProcess);
  frame::ScopedHandle thread(info.hThread);
  // Waiting on the handle rather than on the exit code alone: a program that
  // ends with 259 (STILL_ACTIVE) must not be taken for one still running.
  const DWORD limit = g_hiddenProgramLimitMs ? g_hiddenProgramLimitMs : kHiddenProgramLimitMs;
  const DWORD start = ::GetTickCount();
  while (::WaitForSingleObject(process.get(), kExitPollMs) == WAIT_TIMEOUT) {
    if (!hidden || ::GetTickCount() - start < limit) continue;
    // Nobody can answer a hidden program that waits for something; it is
    // ended, so that its file is free for whatever comes next.
    LogFormat("'%s' did not end within %u seconds and was ended.", commandLine.c_str(),
              static_cast<unsigned>(limit / 1000));
    ::TerminateProcess(process.get(), WAIT_TIMEOUT);
    ::WaitForSingleObject(process.get(), 5000);
    return WAIT_TIMEOUT;
  }
  DWORD code = 0;
  ::GetExitCodeProcess(process.get(), &code);
  if (exitCode) *exitCode = code;
  return 0;
}

std::string QuotedProgramPath(const std::string& path) {
  const bool quoted = path.size() >= 2 && path.front() == '"' && path.back() == '"';
  if (quoted || path.find_first_of(" \t") == std::string::npos) return path;
  return "\"" + path + "\"";
}

DWORD LaunchPackage(const std::string& path, const std::string& commandLine) {
  if (RefuseQuotedProgram(path, "package")) return ERROR_INVALID_NAME;
  const std::string program = QuotedProgramPath(path);
  const std::string command = commandLine.empty() ? program : program + " " + commandLine;
  const DWORD error = RunProcessAndWait(command, false, nullptr);
  if (error != 0) {
    LogFormat("Failed to launch package process '%s'. Error 0x0%x", path.c_str(),
              static_cast<unsigned>(error));
    return error;
  }
  LogFormat("Successfully launched package process '%s'.", path.c_str());
  return 0;
}

DWORD LaunchHook(const std::string& commandLine, uint32_t& rebootRequired) {
  DWORD exitCode = 0;
  const DWORD error = RunProcessAndWait(commandLine, false, &exitCode);
  if (error != 0) {
    LogFormat("Failed to launch hook '%s'. Error 0x0%x", commandLine.c_str(),
              static_cast<unsigned>(error));
    return error;
  }
  if (exitCode == kHookExitRebootRequired) rebootRequired = 1;
  return 0;
}

DWORD ExecuteHooks(InstallState& state, CompletionTexts& texts) {
  std::vector<ComponentHook> ran;  // this pass only; the registry decides across runs
  for (const Component& component : state.components) {
    for (const ComponentHook& hook : component.hooks) {
      bool already = false;
      for (const ComponentHook& done : ran) already = already || SameHook(done, hook);
      if (already) {
        LogFormat("Hook '%s' already executed'.", hook.sHookName.c_str());
        continue;
      }
      VersionQuad recorded;
      if (ReadHookVersion(hook.sHookName, recorded) && !IsSetupMode() &&
          !IsNewerVersion(hook.version, recorded))
        continue;

      // An unsafe name gives no path (TargetPath has logged it): never run.
      const std::string path = TargetPath(hook);
      if (path.empty()) continue;
      if (RefuseQuotedProgram(path, "hook")) return ERROR_INVALID_NAME;
      const std::string program = QuotedProgramPath(path);
      const std::string command =
          hook.sRun.empty() ? program : program + " " + QuotedArgument(hook.sRun);
      const std::string versionText = hook.version.RegistryText();

      texts.ShowStep(LoadResString(IDS_STATUS_EXECUTING), path, "");
      LogFormat("Executing hook '%s' version '%s'. Hook command line '%s'.",
                hook.sHookName.c_str(), versionText.c_str(), command.c_str());
      uint32_t askedRestart = 0;
      if (const DWORD error = LaunchHook(command, askedRestart)) return error;
      state.programsRun.push_back(command);
      if (askedRestart) {
        state.rebootRequired = state.hookAskedRestart = 1;
        state.restartHooks.push_back(hook.sHookName);
      }

      if (hook.bDeleteAfterExec) {
        LogFormat("Deleting hook file '%s' after execution... ", path.c_str());
        if (::DeleteFileA(path.c_str())) {
          LogWrite("succeeded.");
        } else {
          LogFormat("Failed to delete hook file '%s'. Error 0x0%x", path.c_str(),
                    static_cast<unsigned>(LastErrorOrFailure()));
        }
      }
      // Recorded whatever the exit code: a hook that asked for a restart is
      // not run again after it. A failed write is logged by the writer.
      LogFormat("Setting hook '%s' version '%s'", hook.sHookName.c_str(), versionText.c_str());
      if (state.journal)
        state.journal->RegistryValue(HKEY_LOCAL_MACHINE, kUpgradeKeyPrefix + std::string("Hooks"),
                                     hook.sHookName);
      RecordHookVersion(hook.sHookName, hook.version);
      ran.push_back(hook);
    }
  }
  return 0;
}
