// Fuzz target: the INF reader, every lookup the catalogue parse makes, the
// parse itself with its registry lines and destinations, and the checker.
#include <cstddef>
#include <cstdint>
#include <string>

#include "catalog/ComponentCatalog.h"
#include "catalog/TargetPath.h"
#include "core/Log.h"
#include "tools/catcheck/CatalogChecker.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool quiet = (SetLogSink(nullptr), true);
  (void)quiet;
  const char* bytes = reinterpret_cast<const char*>(data);
  IniFile ini(size > 0 && (data[0] & 1) ? 0x0407 : 0x0409);
  ini.Parse(bytes, size);

  ComponentCatalog catalog;
  LoadComponentsFrom(catalog, ini);
  const TargetFolders folders{"C:\\windows\\system32", "C:\\windows", "C:\\App\\"};
  for (const Component& c : catalog) {
    for (const ComponentFile& f : c.files) ComposeTargetPath(f.sName, f.sDestDir, folders);
    for (const ComponentFile& f : c.deleteFiles) ComposeTargetPath(f.sName, f.sDestDir, folders);
    for (const ComponentHook& h : c.hooks) ComposeTargetPath(h.sName, "", folders);
  }
  // The uninstall flow's lookup into a fixed buffer.
  for (const IniSection& s : ini.Sections()) {
    for (const IniEntry& e : s.entries) {
      char buffer[16];
      ini.GetStringToBuffer(s.name, e.key, "d", buffer, sizeof(buffer));
      ini.GetInt(s.name, e.key, 5);
      RegistryEntry::ParseAdd(e.value);
      RegistryEntry::ParseDelete(e.value);
    }
  }
  CatcheckOptions options;
  options.cabinetSize = [](const std::string& name, uint64_t& sz) {
    sz = name.size() * 1000;
    return !name.empty() && name[0] != 'x';
  };
  CheckCatalog(std::string(bytes, size), options);
  return 0;
}
