#include "catalog/ComponentCatalog.h"

#include <cstdio>

#include "core/Log.h"
#include "core/Platform.h"

#ifdef _WIN32
#include <windows.h>
#include <objbase.h>
#endif

namespace {

const uint32_t kInvalidData = 13;  // ERROR_INVALID_DATA

std::string Numbered(const char* key, int n) {
  char text[64];
  std::snprintf(text, sizeof(text), "%s%d", key, n);
  return text;
}

bool ReadBool(const IniFile& ini, const std::string& section, const char* key,
              const char* defaultText) {
  return IsCatalogYes(ini.GetString(section, key, defaultText));
}

// The number to report when a required key is missing: never 0, which would
// read as success and keep a half-read component.
uint32_t MissingKeyError() {
#ifdef _WIN32
  const DWORD code = ::GetLastError();
  return code != 0 ? code : kInvalidData;
#else
  return kInvalidData;
#endif
}

void ParseClassId(const std::string& text, ClassId& id) {
  id = ClassId();
#ifdef _WIN32
  // The system parser; a text it rejects leaves the null class, unreported.
  const int units = ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
  if (units <= 0) return;
  std::wstring wide(static_cast<size_t>(units), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &wide[0], units);
  CLSID parsed = {};
  if (SUCCEEDED(::CLSIDFromString(wide.c_str(), &parsed))) id = parsed;
#else
  ParseClassIdText(text, id);
#endif
}

}  // namespace

bool IsCatalogYes(const std::string& text) { return text == "Yes"; }

uint32_t ParseSizeText(const std::string& text) {
  if (text.empty()) return 0;
  const uint32_t n = static_cast<uint32_t>(IniToInt(text));
  std::string upper = text;
  for (char& c : upper)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  if (upper.find("MB") != std::string::npos) return n << 20;
  if (upper.find("KB") != std::string::npos) return n << 10;
  return n;
}

uint32_t ParseSize(const IniFile& ini, const std::string& section) {
  return ParseSizeText(ini.GetString(section, "Size", ""));
}

std::string ParseDestDir(const IniFile& ini, const std::string& section) {
  return ini.GetString(section, "DestDir", "");
}

uint32_t InitComponent(const IniFile& ini, const std::string& name,
                       const std::string& componentsValue, Component& component) {
  ParseComponentsEntry(componentsValue, component.id, component.version);
  component.sName = name;

  component.bInitiallySelected = ReadBool(ini, name, "Initially Selected", "Yes");
  component.bForceInstall = ReadBool(ini, name, "ForceInstall", "No");
  component.bRequiresPMClosed = ReadBool(ini, name, "RequiresPMClosed", "Yes");
  component.sDescription = ini.GetString(name, "Description", "");
  component.sMoreInfo = ini.GetString(name, "More Info", "");
  component.sImageURL = ini.GetString(name, "Image", "");
  component.platform = static_cast<uint32_t>(ini.GetInt(name, "Platform", 31));
  LogFormat("Component %s: bForceInstall = %d, bInitiallySelected = %d, bRequiresPMClosed = "
            "%d, sDescription = %s, sMoreInfo = %s, sImageURL = %s, platform = %d\n",
            name.c_str(), component.bForceInstall ? 1 : 0, component.bInitiallySelected ? 1 : 0,
            component.bRequiresPMClosed ? 1 : 0, component.sDescription.c_str(),
            component.sMoreInfo.c_str(), component.sImageURL.c_str(),
            static_cast<int>(component.platform));

  const std::string fileList = ini.GetValue(name, "SourceDisksFiles");
  if (!fileList.empty()) {
    std::vector<IniEntry> entries;
    ini.GetSectionEntries(fileList, entries);
    for (const IniEntry& entry : entries) {
      ComponentFile file;
      file.sName = entry.value;
      const std::string& s = file.sName;
      file.sFile = ini.GetString(s, "File", "");
      if (file.sFile.empty()) return MissingKeyError();
      file.sPackage = ini.GetString(s, "Package", "");
      file.sCmdLine = ini.GetString(s, "CmdLine", "");
      file.sDestDir = ParseDestDir(ini, s);
      file.size = ParseSize(ini, s);
      const std::string clsid = ini.GetString(s, "CLSID", "");
      if (!clsid.empty()) ParseClassId(clsid, file.clsid);
      const std::string version = ini.GetString(s, "FileVersion", "");
      if (version.empty()) return MissingKeyError();
      file.platform = static_cast<uint32_t>(ini.GetInt(s, "Platform", 31));
      ParseVersionQuad(version, file.version);
      file.bOLESelfRegistered = ReadBool(ini, s, "OLESelfRegistered", "No");
      component.files.push_back(std::move(file));
    }
  }

  const std::string deleteList = ini.GetValue(name, "DeleteFiles");
  if (!deleteList.empty()) {
    std::vector<IniEntry> entries;
    ini.GetSectionEntries(deleteList, entries);
    for (const IniEntry& entry : entries) {
      ComponentFile file;
      file.sName = entry.value;
      file.sDestDir = ParseDestDir(ini, entry.value);
      component.deleteFiles.push_back(std::move(file));
    }
  }

  const std::string addList = ini.GetValue(name, "Add Registry");
  if (!addList.empty()) {
    std::vector<IniEntry> entries;
    ini.GetSectionEntries(addList, entries);
    for (const IniEntry& entry : entries)
      component.addRegistry.push_back(RegistryEntry::ParseAdd(entry.value));
  }
  const std::string deleteRegList = ini.GetValue(name, "Delete Registry");
  if (!deleteRegList.empty()) {
    std::vector<IniEntry> entries;
    ini.GetSectionEntries(deleteRegList, entries);
    for (const IniEntry& entry : entries)
      component.deleteRegistry.push_back(RegistryEntry::ParseDelete(entry.value));
  }

  for (int n = 1;; ++n) {
    const std::string hookName = ini.GetString(name, Numbered("Hook", n), "");
    if (hookName.empty()) break;
    ComponentHook hook;
    hook.sFile = ini.GetString(hookName, "File", "");
    if (hook.sFile.empty()) break;
    hook.sRun = ini.GetString(hookName, "Run", "");
    hook.size = ParseSize(ini, hookName);
    hook.sHookName = hookName;
    hook.sName = hookName;
    const std::string version = ini.GetString(hookName, "FileVersion", "");
    if (!version.empty()) ParseVersionQuad(version, hook.version);
    hook.bDeleteAfterExec = ReadBool(ini, hookName, "DeleteAfterExec", "No");
    hook.bOLESelfRegistered = ReadBool(ini, hookName, "OLESelfRegistered", "No");
    hook.platform = static_cast<uint32_t>(ini.GetInt(hookName, "Platform", 31));
    component.hooks.push_back(std::move(hook));
  }

  for (int n = 0;; ++n) {
    const std::string line = ini.GetString(name, Numbered("Add Registry", n), "");
    if (line.empty()) break;
    component.addRegistry.push_back(RegistryEntry::ParseAdd(line));
  }
  for (int n = 0;; ++n) {
    const std::string line = ini.GetString(name, Numbered("Delete Registry", n), "");
    if (line.empty()) break;
    component.deleteRegistry.push_back(RegistryEntry::ParseDelete(line));
  }
  return 0;
}

void LoadComponentsFrom(ComponentCatalog& catalog, const IniFile& ini) {
  catalog.clear();
  std::vector<IniEntry> entries;
  if (!ini.GetSectionEntries("Components", entries)) return;
  for (const IniEntry& entry : entries) {
    LogFormat("Parsing component %s\n", entry.key.c_str());
    Component component;
    const uint32_t error = InitComponent(ini, entry.key, entry.value, component);
    if (error != 0) {
      LogFormat("InitComponent failed with error %d for the component %s\n",
                static_cast<int>(error), entry.key.c_str());
      continue;
    }
    LogFormat("Parsing of component %s succeeded\n", entry.key.c_str());
    catalog.push_back(std::move(component));
  }
}

int LoadComponents(ComponentCatalog& catalog, const char* path) {
  if (!path) return 0;
  catalog.clear();
  IniFile ini;
  if (!ini.Load(path)) return 1;
  LoadComponentsFrom(catalog, ini);
  return 0;
}

bool PlatformMatchesSystem(uint32_t mask, uint32_t platformId, uint32_t major, uint32_t minor) {
  const uint32_t kWindows9x = 1;  // VER_PLATFORM_WIN32_WINDOWS
  const uint32_t kNt = 2;         // VER_PLATFORM_WIN32_NT
  mask &= 0xFF;
  // Tested in the order 0, 2, 1, 3, 4; the first match wins.
  if ((mask & 1) && platformId == kWindows9x && minor == 0) return true;
  if ((mask & 4) && platformId == kWindows9x && minor == 90) return true;
  if ((mask & 2) && platformId == kWindows9x && minor != 0) return true;
  if ((mask & 8) && platformId == kNt && major == 4) return true;
  if ((mask & 16) && platformId == kNt && major >= 5) return true;
  return false;
}

#ifdef _WIN32
bool PlatformMatches(uint32_t mask) {
  OsVersion version;
  if (!GetOsVersion(version)) return false;
  return PlatformMatchesSystem(mask, version.platformId, version.major, version.minor);
}
#endif
