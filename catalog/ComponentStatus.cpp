#include "catalog/ComponentStatus.h"

#include <windows.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>

#include "catalog/ComponentCatalog.h"
#include "catalog/IniFile.h"
#include "catalog/InstalledState.h"
#include "catalog/TargetPath.h"
#include "core/Log.h"
#include "core/MessageBox.h"
#include "frame/RegKey.h"

namespace {

// The installed record of a component: a string value of at most 260 bytes,
// terminator included. Only its presence counts; anything else is
// ERROR_INVALID_DATA, as a damaged record.
LONG QueryComponentRecord(const frame::RegKey& key, const std::string& name) {
  BYTE data[MAX_PATH] = {};
  DWORD type = 0;
  DWORD bytes = sizeof(data);
  const LONG rc = ::RegQueryValueExA(key.get(), name.c_str(), nullptr, &type, data, &bytes);
  if (rc != ERROR_SUCCESS) return rc;
  if ((type != REG_SZ && type != REG_EXPAND_SZ) || bytes == 0 || data[bytes - 1] != 0)
    return ERROR_INVALID_DATA;
  return ERROR_SUCCESS;
}

// "ID:" and a whole signed decimal number; "ID:x", "ID:" or "ID:17a" name no id.
bool ParseIdText(const std::string& text, int32_t& id) {
  if (text.compare(0, 3, "ID:") != 0 || text.size() == 3) return false;
  const char* digits = text.c_str() + 3;
  const char first = digits[0];
  if (!(first == '-' || first == '+' || (first >= '0' && first <= '9'))) return false;
  char* end = nullptr;
  errno = 0;
  const long long value = std::strtoll(digits, &end, 10);
  if (errno != 0 || end == digits || *end != '\0') return false;
  if (value < INT32_MIN || value > INT32_MAX) return false;
  id = static_cast<int32_t>(value);
  return true;
}

}  // namespace

bool HasTargetPath(const ComponentFile& file) { return !TargetPath(file).empty(); }

ComponentStatus GetComponentStatus(const Component& component) {
  frame::RegKey key;
  LONG rc = key.Open(HKEY_LOCAL_MACHINE, kComponentsKey, KEY_READ);
  if (rc != ERROR_SUCCESS) {
    LogFormat("Failed to open the registry key 'HKLM\\Software\\Pellory\\Upgrade\\Components. "
              "Error 0x0%x",
              static_cast<unsigned>(rc));
    return ComponentStatus::NotInstalled;
  }
  rc = QueryComponentRecord(key, component.sName);
  if (rc != ERROR_SUCCESS) {
    LogFormat("Failed to query registry entry %s under the key "
              "'HKLM\\Software\\Pellory\\Upgrade\\Components. Error 0x0%x",
              component.sName.c_str(), static_cast<unsigned>(rc));
    return ComponentStatus::NotInstalled;
  }

  ComponentStatus status = ComponentStatus::UpToDate;
  // Every file is looked at, also after the first outdated one.
  for (const ComponentFile& file : component.files) {
    const std::string path = TargetPath(file);
    if (path.empty()) continue;  // never installed; TargetPath said why
    VersionQuad installed;
    if (ReadFileVersion(path, installed) != 0 || IsNewerVersion(file.version, installed))
      status = ComponentStatus::UpdateAvailable;
  }
  for (const ComponentHook& hook : component.hooks) {
    if (!HasTargetPath(hook)) continue;
    if (HookNeedsRun(hook)) return ComponentStatus::UpdateAvailable;
  }
  return status;
}

bool NeedsUpdate(const ComponentFile& file) {
  const bool hasClass = !IsNullClassId(file.clsid);
  const std::string server = hasClass ? InstalledServerPath(file.clsid) : std::string();
  // The destination as TargetPath gives it, without asking for the server a
  // second time: a registered server without DestDir, else the composed path.
  std::string target = server;
  if (!file.sDestDir.empty() || server.empty()) {
    ComponentFile composed = file;
    composed.clsid = ClassId{};
    target = TargetPath(composed);
  }
  if (target.empty()) return false;

  if (IsSetupMode() && file.sDestDir != "LDID_SYS" && file.sDestDir != "LDID_WIN" && !hasClass)
    return true;
  if (hasClass && server.empty()) return true;
  const std::string& installedPath = hasClass ? server : target;
  if (file.version.IsInstallIfMissing())
    return ::GetFileAttributesA(installedPath.c_str()) == INVALID_FILE_ATTRIBUTES;
  if (!PlatformMatches(file.platform)) return false;
  VersionQuad installed;
  if (ReadFileVersion(installedPath, installed) != 0) return true;
  return IsNewerVersion(file.version, installed);
}

namespace {

// Status first: every component looked at leaves its status lines in the log.
bool IsOffered(const Component& component) {
  return GetComponentStatus(component) != ComponentStatus::UpToDate &&
         component.bInitiallySelected;
}

}  // namespace

bool HasUpdatesToOffer(const ComponentCatalog& catalog) {
  for (const Component& component : catalog)
    if (IsOffered(component)) return true;
  return false;
}

std::vector<Component> UpdatesToOffer(const ComponentCatalog& catalog) {
  std::vector<Component> offered;
  for (const Component& component : catalog)
    if (IsOffered(component)) offered.push_back(component);
  return offered;
}

bool FindComponentToUpdate(ComponentCatalog& catalog, const std::string& text,
                           Component& component) {
  int32_t id = 0;
  const bool byId = ParseIdText(text, id);
  for (Component& candidate : catalog) {
    if (!(byId && candidate.id == id) && !IniNameEquals(text, candidate.sName)) continue;
    if (GetComponentStatus(candidate) == ComponentStatus::UpToDate) return false;
    candidate.bForceInstall = true;
    candidate.bInitiallySelected = true;
    component = candidate;
    return true;
  }
  return false;
}
