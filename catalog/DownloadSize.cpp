#include "catalog/DownloadSize.h"

#include <cstdio>

#ifdef _WIN32
#include <set>

#include "catalog/ComponentCatalog.h"
#include "catalog/ComponentStatus.h"
#include "catalog/InstalledState.h"
#endif

std::string FormatDownloadSize(uint32_t bytes) {
  if (bytes == 0) return "0KB";
  if (bytes < 1024) return "<1KB";
  const uint32_t k = bytes / 1024;
  char text[32];
  if (k < 1024)
    std::snprintf(text, sizeof(text), "%uKB", static_cast<unsigned>(k));
  else
    std::snprintf(text, sizeof(text), "%u,%03uKB", static_cast<unsigned>(k / 1000),
                  static_cast<unsigned>(k % 1000));
  return text;
}

#ifdef _WIN32
namespace {

using DownloadNames = std::set<std::string>;

// The files of one component against the downloads already counted. A file
// without a destination is never installed and adds nothing; NeedsUpdate
// already says so, so the destination is asked for once either way.
uint32_t AddFiles(const Component& component, bool all, DownloadNames& counted) {
  uint32_t total = 0;
  for (const ComponentFile& file : component.files) {
    if (counted.count(file.sFile)) continue;
    if (all ? !HasTargetPath(file) : !NeedsUpdate(file)) continue;
    total += file.size;
    counted.insert(file.sFile);
  }
  return total;
}

}  // namespace

uint32_t ComponentDownloadSize(const Component& component, bool all) {
  DownloadNames counted;
  uint32_t total = AddFiles(component, all, counted);
  // Beside one component every hook counts, also one whose download a file
  // already brought in.
  for (const ComponentHook& hook : component.hooks) {
    if (!all && !HookNeedsRun(hook)) continue;
    if (HasTargetPath(hook)) total += hook.size;
  }
  return total;
}

uint32_t SelectionDownloadSize(const std::vector<Component>& components, bool all) {
  DownloadNames counted;
  uint32_t total = 0;
  for (const Component& component : components) {
    if (!PlatformMatches(component.platform)) continue;
    total += AddFiles(component, all, counted);
    for (const ComponentHook& hook : component.hooks) {
      if (!PlatformMatches(hook.platform) || counted.count(hook.sFile)) continue;
      if (!HookNeedsRun(hook) || !HasTargetPath(hook)) continue;
      total += hook.size;
      counted.insert(hook.sFile);
    }
  }
  return total;
}
#endif
