#include "tasks/ScheduledLaunch.h"

#include <taskschd.h>

#include <cstdlib>
#include <ctime>
#include <vector>

#include "core/Log.h"
#include "core/Platform.h"
#include "tasks/ComObjects.h"

namespace tasks {

BSTR AllocBstr(const std::string& text) {
  const int size = static_cast<int>(text.size());
  const int length = size ? ::MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0) : 0;
  BSTR value = ::SysAllocStringLen(nullptr, static_cast<UINT>(length > 0 ? length : 0));
  if (value && length > 0) ::MultiByteToWideChar(CP_ACP, 0, text.data(), size, value, length);
  return value;
}

Bstr::Bstr(const std::string& text) : value_(AllocBstr(text)) {}

BstrVariant::BstrVariant(const std::string& text) {
  ::VariantInit(&value_);
  value_.vt = VT_BSTR;
  value_.bstrVal = AllocBstr(text);
}

}  // namespace tasks

namespace {

using tasks::Bstr;
using tasks::BstrVariant;
using tasks::ComPtr;

// MinGW's import libraries lack these; the values are the published ones.
const CLSID kTaskSchedulerClsid = {
    0x0F87369F, 0xA4E5, 0x4CFC, {0xBD, 0x3E, 0x73, 0xE6, 0x15, 0x45, 0x72, 0xDD}};
const IID kTaskServiceIid = {
    0x2FABA4C7, 0x4DA9, 0x4013, {0x96, 0x97, 0x20, 0xCC, 0x3F, 0xD4, 0x0F, 0x85}};
const IID kExecActionIid = {
    0x4C3D624D, 0xFD6B, 0x49A3, {0xB9, 0xB7, 0x09, 0xCB, 0x3C, 0xD3, 0xF0, 0x47}};

// The built-in Users group: the task runs with an ordinary user's rights.
const char kUsersSid[] = "S-1-5-32-545";
constexpr int kStateReads = 100;
constexpr DWORD kStateReadPauseMs = 100;

unsigned Hex(HRESULT result) { return static_cast<unsigned>(result); }

bool Failed(HRESULT result, const char* format) {
  if (SUCCEEDED(result)) return false;
  LogFormat(format, Hex(result));
  return true;
}

}  // namespace

bool RunAsScheduledTask(const std::string& taskName, const std::string& programPath,
                        const std::string& arguments) {
  ComPtr<ITaskService> service;
  if (Failed(::CoCreateInstance(kTaskSchedulerClsid, nullptr, CLSCTX_INPROC_SERVER,
                                kTaskServiceIid, service.put_void()),
             "Failed to CoCreate an instance of the TaskService class: 0x%08x"))
    return false;

  VARIANT none;
  ::VariantInit(&none);
  if (Failed(service->Connect(none, none, none, none), "ITaskService::Connect failed: 0x%08x"))
    return false;

  ComPtr<ITaskFolder> root;
  if (Failed(service->GetFolder(Bstr("\\").get(), root.put()),
             "Cannot get Root Folder pointer: 0x%08x"))
    return false;

  const Bstr name(taskName);
  // A task of an earlier run under the same name would block the registration.
  root->DeleteTask(name.get(), 0);

  ComPtr<ITaskDefinition> definition;
  const HRESULT created = service->NewTask(0, definition.put());
  service.reset();
  if (Failed(created, "ITaskService::NewTask failed: 0x%08x")) return false;

  {
    ComPtr<IPrincipal> principal;
    if (Failed(definition->get_Principal(principal.put()), "\nCannot get principal: 0x%08x"))
      return false;
    principal->put_RunLevel(TASK_RUNLEVEL_LUA);
  }
  {
    ComPtr<ITriggerCollection> triggers;
    if (Failed(definition->get_Triggers(triggers.put()),
               "Cannot get trigger collection: 0x%08x"))
      return false;
    ComPtr<ITrigger> trigger;
    if (Failed(triggers->Create(TASK_TRIGGER_REGISTRATION, trigger.put()),
               "Cannot add registration trigger to the Task 0x%08x"))
      return false;
  }
  {
    ComPtr<IActionCollection> actions;
    if (Failed(definition->get_Actions(actions.put()),
               "Cannot get Task collection pointer: 0x%08x"))
      return false;
    ComPtr<IAction> action;
    if (Failed(actions->Create(TASK_ACTION_EXEC, action.put()),
               "pActionCollection->Create failed: 0x%08x"))
      return false;
    ComPtr<IExecAction> exec;
    if (Failed(action->QueryInterface(kExecActionIid, exec.put_void()),
               "pAction->QueryInterface failed: 0x%08x"))
      return false;
    if (Failed(exec->put_Path(Bstr(programPath).get()), "Cannot set path of executable: 0x%08x"))
      return false;
    if (Failed(exec->put_Arguments(Bstr(arguments).get()),
               "Cannot set arguments of executable: 0x%08x"))
      return false;
  }
  {
    // A new task's defaults would keep it from starting on battery, stop it
    // when the machine goes on battery and end it after three days; the
    // manager it starts is meant to stay.
    ComPtr<ITaskSettings> settings;
    if (Failed(definition->get_Settings(settings.put()), "Cannot get Task settings: 0x%08x"))
      return false;
    if (Failed(settings->put_DisallowStartIfOnBatteries(VARIANT_FALSE),
               "Cannot allow the Task to start on batteries: 0x%08x"))
      return false;
    if (Failed(settings->put_StopIfGoingOnBatteries(VARIANT_FALSE),
               "Cannot keep the Task running on batteries: 0x%08x"))
      return false;
    if (Failed(settings->put_ExecutionTimeLimit(Bstr("PT0S").get()),
               "Cannot remove the execution time limit of the Task: 0x%08x"))
      return false;
  }

  ComPtr<IRegisteredTask> registered;
  {
    const BstrVariant user(kUsersSid);
    const BstrVariant securityDescriptor("");
    VARIANT noPassword;
    ::VariantInit(&noPassword);
    if (Failed(root->RegisterTaskDefinition(name.get(), definition.get(), TASK_CREATE, user.get(),
                                            noPassword, TASK_LOGON_GROUP,
                                            securityDescriptor.get(), registered.put()),
               "Error saving the Task : 0x%08x"))
      return false;
  }
  LogWrite("Success! Task successfully registered.");

  bool running = false;
  for (int read = 0; read < kStateReads && !running; ++read) {
    TASK_STATE state = TASK_STATE_UNKNOWN;
    if (SUCCEEDED(registered->get_State(&state)) && state == TASK_STATE_RUNNING) {
      running = true;
    } else {
      ::Sleep(kStateReadPauseMs);
    }
  }
  // A program that hands its work on and ends at once (a browser passing the
  // address to its running window) may be over between two reads: a task
  // with a time of its last run has run, and must not be started again.
  DATE lastRun = 0;
  if (!running && registered->get_LastRunTime(&lastRun) == S_OK && lastRun > 0) running = true;
  LogWrite(running ? "Task is running" : "Task didn't start");
  // The caller starts the program itself when the task did not run; an
  // instance that would come up late must not make it two.
  if (!running) registered->Stop(0);

  // A task that ran has started the program, whether or not it can be
  // deleted: the caller must not start it a second time.
  if (Failed(root->DeleteTask(name.get(), 0), "Error deleting the Task : 0x%08x")) return running;
  LogWrite("Success! Task successfully deleted.");
  return running;
}

bool LaunchThroughScheduler(const std::string& programPath, const char* arguments) {
  std::srand(static_cast<unsigned>(std::time(nullptr)));
  const int number = std::rand() % 32768;
  char taskName[32];
  wsprintfA(taskName, "Launch %d", number);
  return RunAsScheduledTask(taskName, programPath, arguments ? arguments : "");
}

bool StartWithUserRights(const std::string& programPath, const std::string& arguments,
                         const std::string& folder) {
  if (IsVistaOrLater() && LaunchThroughScheduler(programPath, arguments.c_str())) return true;
  std::string commandLine = "\"" + programPath + "\"";
  if (!arguments.empty()) commandLine += " " + arguments;
  std::vector<char> buffer(commandLine.begin(), commandLine.end());
  buffer.push_back('\0');
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  if (!::CreateProcessA(nullptr, buffer.data(), nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS,
                        nullptr, folder.empty() ? nullptr : folder.c_str(), &startup, &info))
    return false;
  ::CloseHandle(info.hThread);
  ::CloseHandle(info.hProcess);
  return true;
}
