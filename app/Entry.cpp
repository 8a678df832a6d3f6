// The Windows GUI entry. Everything runs inside one guard: a CError is shown
// (unless quiet), anything else is an internal error; both end with -1.
#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "app/Program.h"
#include "core/Error.h"
#include "core/MessageBox.h"
#include "core/RunSummary.h"
#include "core/RunSummaryFile.h"
#include "core/Switches.h"
#include "core/SystemLibraries.h"
#include "core/UpdateLog.h"

namespace {


std::vector<std::string> RuntimeArguments() {
  std::vector<std::string> args;
  for (int i = 1; i < __argc; ++i) args.emplace_back(__argv[i] ? __argv[i] : "");
  return args;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  // Before anything is loaded by name.
  RestrictDllSearch();
  int result = kExitFailed;
  RunSummary& summary = TheRunSummary();
  summary.SetStarted(UtcTimeNow());
  summary.SetProgram(ProgramVersionText());
  try {
    SetProcessArguments(RuntimeArguments());
    summary.SetSwitches(RuntimeArguments());
    summary.SetDryRun(IsDryRun());
    result = RunProgram(instance);
  } catch (const CError& error) {
    summary.SetError(error.Code(), error.Description());
    if (!IsQuiet()) error.Show();
    result = kExitFailed;
  } catch (...) {
    summary.SetError(ERROR_GEN_FAILURE, "Internal error");
    if (!IsQuiet()) AppMessageBox(IDS_INTERNAL_ERROR, MB_OK | MB_ICONSTOP, kCaptionInstall);
    result = kExitFailed;
  }
  // The summary beside the log (none when no log was opened: another
  // instance runs), then the log's closing lines, once, on every way out.
  WriteRunSummary(RunSummaryPath(TheUpdateLog().Path()), result);
  TheUpdateLog().Finish();
  return result;
}
