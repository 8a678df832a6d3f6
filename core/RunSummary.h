// What one run did, for administrators' scripts and deployment tools: filled
// in while the run goes (from any thread), written when it ends as one JSON
// object, Update.json beside Update.log. The texts given are the program's
// own (the system's code page); the writer makes them UTF-8. Nothing secret
// goes in: the switches lose the manager's "Pass" value and any name or
// password a URL carries, and no cookie or proxy credential is ever given.
#pragma once

#include <mutex>
#include <string>
#include <utility>
#include <vector>

struct SummaryComponent {
  std::string name;
  std::string installedVersion;  // as recorded before the run; "" when none
  std::string offeredVersion;
  std::string status;  // "notInstalled", "upToDate", "updateAvailable"
  std::string action = "notSelected";  // "installed", "upToDate", "failed", ...
  std::string reason;                  // why it failed
  // What a dry run found the component would do; empty in a real run.
  std::vector<std::string> registry;  // "add HKLM\\key\\name", "delete ..."
  std::vector<std::string> hooks;     // the hook programs that would run
  std::vector<std::string> packages;  // the packages that would run
};

struct SummaryFile {
  std::string path;
  std::string action;  // "installed", "deferred"; a dry run's "wouldInstall", "wouldDefer"
  // What a dry run found of the file: its installed version ("" when it has
  // none, or is missing), the catalogue's, whether it is there to be
  // replaced, and the programs that hold it now.
  bool planned = false;
  std::string installedVersion, offeredVersion;
  bool exists = false, inUse = false;
  std::vector<std::string> heldBy;
};

// One entry of an uninstall's lists: a path, and why for what is refused or
// kept.
struct SummaryRemoval {
  std::string path;
  std::string reason;
};

class RunSummary {
 public:
  void SetProgram(const std::string& version);
  void SetMode(const std::string& mode);
  // The command line's arguments; what may be secret is left out here.
  void SetSwitches(const std::vector<std::string>& arguments);
  void SetStarted(const std::string& utcTime);
  // The first error of the run is the one kept.
  void SetError(unsigned long code, const std::string& text);
  void MarkCancelled();
  void AddRestartReason(const std::string& reason);
  void SetComponents(std::vector<SummaryComponent> components);
  // The action of a component the summary holds (others are ignored).
  void SetAction(const std::string& component, const std::string& action,
                 const std::string& reason = std::string());
  // What a dry run found a component would do.
  void SetPlan(const std::string& component, const std::string& action,
               const std::vector<std::string>& registry, const std::vector<std::string>& hooks,
               const std::vector<std::string>& packages);
  void AddFile(const std::string& path, const std::string& action);
  void AddFile(SummaryFile file);
  void AddBytes(unsigned long long bytes);
  void SetDryRun(bool dryRun);
  // The uninstall's lists, "removed", "deferred", "refused" and "kept" (in a
  // dry run, what the uninstall would do); written for the uninstall mode.
  void AddRemoval(const std::string& list, const std::string& path,
                  const std::string& reason = std::string());

  // The JSON text, in the system's code page (the writer converts it).
  std::string Json(int exitCode, const std::string& endedUtc) const;

 private:
  mutable std::mutex lock_;
  std::string program_, mode_ = "update", started_;
  std::vector<std::string> switches_;
  bool hasError_ = false, cancelled_ = false;
  unsigned long errorCode_ = 0;
  std::string errorText_;
  std::vector<std::string> restartReasons_;
  std::vector<SummaryComponent> components_;
  std::vector<SummaryFile> files_;
  unsigned long long bytes_ = 0;
  bool dryRun_ = false;
  std::vector<std::pair<std::string, std::vector<SummaryRemoval>>> removals_;
};

RunSummary& TheRunSummary();

// An argument as the summary shows it: "/Pass:..." without its value, a URL
// without the name and password before its host.
std::string PublicSwitch(const std::string& argument);
