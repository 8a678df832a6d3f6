#include "catalog/InstalledState.h"

#ifdef _WIN32
#include "core/FileVersion.h"
#include "core/Locations.h"
#endif

const char kComponentsKey[] = "Software\\Pellory\\Upgrade\\Components";
const char kHooksSubkey[] = "Hooks";

bool IsNewerVersion(const VersionQuad& x, const VersionQuad& y) { return x.Compare(y) > 0; }

#ifdef _WIN32
long ReadFileVersion(const std::string& path, VersionQuad& version) {
  FileVersionParts parts;
  if (!ReadFileVersionParts(path, parts)) return kReadVersionFailed;
  version.a = parts.part[0];
  version.b = parts.part[1];
  version.c = parts.part[2];
  version.d = parts.part[3];
  return 0;
}

bool ReadHookVersion(const std::string& hookName, VersionQuad& version) {
  const std::string recorded = ReadUpgradeValue(kHooksSubkey, hookName, "");
  version = VersionQuad();
  if (recorded.empty()) return false;
  ParseVersionQuad(recorded, version);
  return true;
}

bool HookNeedsRun(const ComponentHook& hook) {
  VersionQuad recorded;
  if (!ReadHookVersion(hook.sHookName, recorded)) return true;
  return IsNewerVersion(hook.version, recorded);
}

long RecordHookVersion(const std::string& hookName, const VersionQuad& version) {
  return WriteUpgradeValue(kHooksSubkey, hookName, version.RegistryText());
}
#endif
