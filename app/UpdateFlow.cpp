#include "app/UpdateFlow.h"

#include <windows.h>

#include <algorithm>
#include <memory>

#include "app/ConnectDialog.h"
#include "app/Program.h"
#include "core/TextFormat.h"
#include "catalog/ComponentCatalog.h"
#include "catalog/ComponentStatus.h"
#include "core/Locations.h"
#include "core/Log.h"
#include "core/MessageBox.h"
#include "core/Resources.h"
#include "core/RunSummary.h"
#include "core/Switches.h"
#include "frame/Module.h"
#include "host/CompletionDialog.h"
#include "host/HostControl.h"
#include "install/DamagedFiles.h"
#include "install/DryRun.h"
#include "install/InstallRun.h"
#include "install/RunJournal.h"
#include "selection/ComponentSelectionDialog.h"

namespace {

constexpr DWORD kStatusWindowWaitMs = 5000;

void TerminateModule() {
  frame::TheModule().Term();
  LogWrite("After CComModule::Term.");
}

// Damaged binaries are removed with the manager closed; the completion
// window says what goes on meanwhile.
void RemoveDamagedFilesFirst() {
  if (!HasDamagedFiles()) return;
  if (IsDryRun()) {
    LogWrite("Dry run: damaged files were found; the update would remove them first.");
    return;
  }
  AppMessageBox(IDS_DAMAGED_FILES_FOUND, MB_OK | MB_ICONINFORMATION);
  std::shared_ptr<CompletionDialog> status = StartCompletionDialog();
  CloseRunningManager(status->Window());
  RemoveDamagedFiles();
  status->Close(kStatusWindowWaitMs);
}

// Every component the run considers goes into the run summary with what the
// machine has of it; the installation says later what became of it.
void SummarizeCatalogue(const ComponentCatalog& catalog) {
  std::vector<SummaryComponent> components;
  for (const Component& component : catalog) {
    SummaryComponent entry;
    entry.name = component.sName;
    entry.installedVersion = ReadUpgradeValue("Components", component.sName, "");
    entry.offeredVersion = component.version.RegistryText();
    const ComponentStatus status = GetComponentStatus(component);
    entry.status = status == ComponentStatus::UpToDate          ? "upToDate"
                   : status == ComponentStatus::UpdateAvailable ? "updateAvailable"
                                                                : "notInstalled";
    if (status == ComponentStatus::UpToDate) entry.action = "upToDate";
    else if (!PlatformMatches(component.platform)) entry.action = "skippedByPlatform";
    components.push_back(std::move(entry));
  }
  TheRunSummary().SetComponents(std::move(components));
}

int ChooseAndInstall(ComponentCatalog& catalog, ConnectDialog& connect) {
  ComponentSelectionDialog selection(catalog, connect.ImageMap(),
                                     [&connect] { connect.UnpackPictures(); });
  const std::string component = GetSwitchValue("Component");
  if (!component.empty()) return InstallOneComponent(catalog, component);

  if (IsQuiet()) {
    if (!HasUpdatesToOffer(catalog)) return kExitOk;
    // The check's offer is what a dry run plans; the user would choose from it.
    if (IsDryRun()) {
      LogWrite("Dry run: the quiet check would offer new components.");
      return PlanInstallation(UpdatesToOffer(catalog));
    }
    if (AppMessageBox(IDS_NEW_COMPONENTS, MB_YESNO | MB_ICONQUESTION) != IDYES) {
      TheRunSummary().MarkCancelled();
      return kExitOk;
    }
  }
  // Its OK starts the installation and returns when the run is over; the
  // run's result is the program's, as for Setup and one component.
  const INT_PTR chosen = selection.DoModal(nullptr);
  if (chosen == -1) {
    LogFormat("Failed to show the selection dialog. Error 0x0%x",
              static_cast<unsigned>(::GetLastError()));
    return kExitFailed;
  }
  if (chosen == IDCANCEL) TheRunSummary().MarkCancelled();
  TerminateModule();
  return selection.RunResult();
}

}  // namespace

void KeepDeviceComponents(ComponentCatalog& catalog) {
  catalog.erase(std::remove_if(catalog.begin(), catalog.end(),
                               [](const Component& c) { return c.id == 0 || c.id == -1; }),
                catalog.end());
}

std::vector<Component> SetupComponents(const ComponentCatalog& catalog) {
  std::vector<Component> chosen;
  for (const Component& component : catalog)
    if (component.bForceInstall || component.bInitiallySelected) chosen.push_back(component);
  return chosen;
}

int InstallOneComponent(ComponentCatalog& catalog, const std::string& name) {
  Component component;
  if (!FindComponentToUpdate(catalog, name, component)) return kExitOk;
  if (!HasSwitch("NoMessages") && !IsDryRun())
    AppMessageBox(FormatText(LoadResString(IDS_COMPONENT_NEEDS_UPDATE).c_str(),
                             component.sName.c_str()),
                  MB_OK);
  const int result = InstallComponents({component});
  TerminateModule();
  return result;
}

int RunUpdateFlow(const std::string& appDir, ComponentCatalog& catalog) {
  // A run that was killed before it ended left its journal: it is finished
  // before anything else looks at the installation.
  if (!IsDryRun())
    RunJournal::FinishEarlierRun();
  else if (RunJournal::EarlierRunWaits())
    LogWrite("Dry run: an earlier run did not finish; the update would finish it first.");
  if (!IsSetupMode()) RemoveDamagedFilesFirst();

  // The user's No ends the run as cancelled, though without an error.
  if (!IsQuiet() && !IsSetupMode() &&
      AppMessageBox(IDS_CONFIRM_CONNECT, MB_YESNO | MB_ICONQUESTION) != IDYES) {
    TheRunSummary().MarkCancelled();
    return kExitOk;
  }

  PrependBinToPath();

  // Lives to the end of the run: its destructor removes the component
  // pictures after the selection dialog has shown them.
  ConnectDialog connect(catalog, appDir);
  if (IsQuiet()) {
    const DWORD result = CatalogueFetch(connect);
    if (result != 0) {
      LogFormat("Failed to download INF file. Error 0x0%x", static_cast<unsigned>(result));
      TheRunSummary().SetError(result, "The catalogue could not be fetched.");
      return kExitFailed;
    }
  } else {
    connect.Run(::GetActiveWindow());
  }
  if (connect.IsCancelled()) TheRunSummary().MarkCancelled();
  if (connect.CataloguePath().empty() || connect.IsCancelled()) return kExitFailed;

  if (HasSwitch("Devices")) KeepDeviceComponents(catalog);
  SummarizeCatalogue(catalog);

  if (IsSetupMode()) {
    const int result = InstallComponents(SetupComponents(catalog));
    if (!IsDryRun()) LogWrite("After CDownloadThread::SpawnDownloadThread.");
    TerminateModule();
    return result;
  }
  return ChooseAndInstall(catalog, connect);
}
