#include "install/DryRun.h"

#include <map>
#include <string>

#include "catalog/InstalledState.h"
#include "catalog/RegistryEntry.h"
#include "catalog/TargetPath.h"
#include "core/Locations.h"
#include "core/Log.h"
#include "core/MessageBox.h"
#include "core/Resources.h"
#include "core/RunSummary.h"
#include "core/Switches.h"
#include "core/TextFormat.h"
#include "core/UpdateLog.h"
#include "host/HostControl.h"
#include "install/FileHolders.h"
#include "install/FileReplace.h"
#include "install/InstallRun.h"
#include "install/WorkerCommon.h"
#include "resources/StringIds.h"
#include "transfer/CrackUrl.h"
#include "transfer/UrlResolution.h"

using namespace worker;

namespace {

// The box lists this many files in use at most; the log has them all.
constexpr size_t kMostFilesShown = 10;

std::string RegistryLineText(const char* verb, const RegistryEntry& entry) {
  return std::string(verb) + " " + RegistryRootName(entry.root) + "\\" + entry.subkey + "\\" +
         entry.name;
}

// One destination the run would put a file into.
struct PlannedInstall {
  ComponentFile file;
  std::string component;
};

// What the run of the chosen components would do, in the worker's order.
struct Plan {
  std::vector<std::string> marked;                   // files marked for deleting
  std::map<std::string, PlannedInstall> installs;    // destination -> its file
  std::vector<std::string> registrations;
  bool closesManager = false;
  // A cabinet the run may not fetch ends it before anything is installed.
  std::string refusedSource;
};

// The download phase's decisions without the downloads: the same work list,
// destinations and sharing of cabinets and packages between components.
void PlanComponent(const Component& component, Plan& plan, std::vector<std::string>& handled,
                   std::vector<std::string>& cabinets, SummaryComponent& entry) {
  for (const ComponentFile& doomed : component.deleteFiles) {
    const std::string path = TargetPath(doomed);
    if (!path.empty() && !Contains(plan.marked, path)) plan.marked.push_back(path);
  }
  const std::vector<ComponentFile> work = WorkList(component);
  if (!work.empty() && component.bRequiresPMClosed) plan.closesManager = true;
  for (const ComponentFile& file : work) {
    if (Contains(handled, file.sName)) continue;
    const std::string destination = TargetPath(file);
    if (destination.empty()) continue;
    const bool fetched = Contains(cabinets, file.sFile);
    if (!fetched) {
      std::string host, path;
      if (!IsSourceAllowed(file.sFile, CatalogueUrl()) || !CrackUrl(file.sFile, host, path)) {
        if (plan.refusedSource.empty()) plan.refusedSource = file.sFile;
        return;
      }
      cabinets.push_back(file.sFile);
    }
    if (!file.sPackage.empty()) {
      // A package runs once per cabinet, and its file is not put in place.
      if (!fetched) entry.packages.push_back(file.sPackage + " (" + file.sFile + ")");
    } else {
      plan.installs[destination] = {file, component.sName};
    }
    handled.push_back(file.sName);
    if (file.bOLESelfRegistered) plan.registrations.push_back(destination);
  }
  for (const RegistryEntry& line : component.addRegistry)
    if (RegistryRootKey(line.root)) entry.registry.push_back(RegistryLineText("add", line));
  for (const RegistryEntry& line : component.deleteRegistry)
    if (RegistryRootKey(line.root)) entry.registry.push_back(RegistryLineText("delete", line));
  for (const ComponentHook& hook : component.hooks) {
    if (!IsSetupMode() && !HookNeedsRun(hook)) continue;
    const std::string path = TargetPath(hook);
    if (!path.empty() && !Contains(entry.hooks, path)) entry.hooks.push_back(path);
  }
}

// A file as the dry run finds it now; the log says what would become of it.
SummaryFile LookAtFile(const std::string& path, const ComponentFile* offered) {
  SummaryFile file;
  file.path = path;
  file.planned = true;
  file.exists = ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
  VersionQuad installed;
  if (file.exists && ReadFileVersion(path, installed) == 0)
    file.installedVersion = installed.DottedText();
  if (offered && !offered->version.IsInstallIfMissing())
    file.offeredVersion = offered->version.DottedText();
  file.inUse = file.exists && IsFileLocked(path);
  if (file.inUse) file.heldBy = ProgramsHoldingFile(path);
  return file;
}

std::string HoldersText(const SummaryFile& file) {
  std::string text;
  for (const std::string& name : file.heldBy) text += (text.empty() ? "" : ", ") + name;
  return text.empty() ? "a program the system cannot name" : text;
}

void LogFile(const SummaryFile& file, bool deleting) {
  const char* what = deleting ? "deleted" : file.exists ? "replaced" : "added";
  LogFormat("Dry run: file '%s' would be %s%s (installed version '%s', offered '%s').",
            file.path.c_str(), what, file.inUse ? " at the next start of Windows" : "",
            file.installedVersion.empty() ? "none" : file.installedVersion.c_str(),
            file.offeredVersion.empty() ? "any" : file.offeredVersion.c_str());
  if (file.inUse)
    LogFormat("Dry run: file '%s' is in use now, held by %s.", file.path.c_str(),
              HoldersText(file).c_str());
}

// The box of an interactive dry run: the components, the files that would
// wait for the restart, and where the details are.
void ShowPlan(const std::vector<Component>& components, const std::vector<SummaryFile>& waiting) {
  if (IsQuiet() || HasSwitch("NoMessages")) return;
  std::string body;
  for (const Component& component : components)
    body += FormatText(LoadResString(IDS_DRY_RUN_COMPONENT).c_str(), component.sName.c_str()) +
            "\n";
  if (components.empty()) body += LoadResString(IDS_DRY_RUN_NOTHING) + "\n";
  if (!waiting.empty()) {
    std::string files;
    for (size_t i = 0; i < waiting.size() && i < kMostFilesShown; ++i)
      files += "\n" + waiting[i].path;
    if (waiting.size() > kMostFilesShown) files += "\n...";
    body += "\n" + FormatText(LoadResString(IDS_DRY_RUN_RESTART).c_str(), files.c_str()) + "\n";
  }
  body += "\n" + FormatText(LoadResString(IDS_DRY_RUN_DETAILS).c_str(),
                            TheUpdateLog().Path().c_str());
  AppMessageBox(FormatText(LoadResString(IDS_DRY_RUN_REPORT).c_str(), body.c_str()),
                MB_OK | MB_ICONINFORMATION);
}

}  // namespace

int PlanInstallation(const std::vector<Component>& components) {
  LogFormat("Dry run: %u components would be installed; nothing is changed.",
            static_cast<unsigned>(components.size()));
  Plan plan;
  std::vector<std::string> handled, cabinets;
  RunSummary& summary = TheRunSummary();
  for (const Component& component : components) {
    SummaryComponent entry;
    PlanComponent(component, plan, handled, cabinets, entry);
    if (!plan.refusedSource.empty()) {
      // The real run ends at this download, having changed nothing yet but
      // what packages did; it puts back what it changed.
      LogFormat("Dry run: the update would fail: the cabinet '%s' of component '%s' cannot be "
                "fetched from there.",
                plan.refusedSource.c_str(), component.sName.c_str());
      summary.SetPlan(component.sName, "failed", {}, {}, {});
      summary.SetError(ERROR_ACCESS_DENIED,
                       "The cabinet '" + plan.refusedSource + "' cannot be fetched from there.");
      LogWrite("Dry run: nothing was changed. The update would most likely end with -1.");
      return kRunFailed;
    }
    LogFormat("Dry run: component '%s' would be installed.", component.sName.c_str());
    for (const std::string& line : entry.registry)
      LogFormat("Dry run: registry line '%s' would be applied.", line.c_str());
    for (const std::string& package : entry.packages)
      LogFormat("Dry run: package '%s' would run.", package.c_str());
    for (const std::string& hook : entry.hooks)
      LogFormat("Dry run: hook '%s' would run.", hook.c_str());
    summary.SetPlan(component.sName, "wouldInstall", entry.registry, entry.hooks, entry.packages);
  }
  if (plan.closesManager && ::FindWindowA(kManagerWindowClass, nullptr))
    LogWrite("Dry run: PelloryManager runs now and would be closed first; files it holds "
             "would then be free.");

  std::vector<SummaryFile> waiting;
  for (const std::string& path : plan.marked) {
    if (::GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) continue;
    SummaryFile file = LookAtFile(path, nullptr);
    // A file the run also installs is never deleted at the restart.
    if (file.inUse && plan.installs.count(path)) continue;
    file.action = file.inUse ? "wouldDeleteAtRestart" : "wouldDelete";
    LogFile(file, true);
    if (file.inUse) waiting.push_back(file);
    summary.AddFile(file);
  }
  for (const auto& install : plan.installs) {
    SummaryFile file = LookAtFile(install.first, &install.second.file);
    file.action = file.inUse ? "wouldDefer" : "wouldInstall";
    LogFile(file, false);
    if (file.inUse) waiting.push_back(file);
    summary.AddFile(file);
  }
  for (const std::string& path : plan.registrations)
    LogFormat("Dry run: server '%s' would be registered.", path.c_str());
  for (const SummaryFile& file : waiting) summary.AddRestartReason(file.path);

  const int result = waiting.empty() ? kRunDone : kRunRebootRequired;
  LogFormat("Dry run: nothing was changed. The update would most likely end with %d.", result);
  ShowPlan(components, waiting);
  return result;
}

int InstallComponents(const std::vector<Component>& components) {
  return IsDryRun() ? PlanInstallation(components) : SpawnDownloadThread(components);
}
