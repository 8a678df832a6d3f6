// What earlier runs left on the machine: the registry records of installed
// components and of hooks that ran, and the version resources of installed
// files. The status rules, the update decisions and the sizes build on these.
#pragma once

#include <string>

#include "catalog/Component.h"

// HKLM keys of the records; the hooks key is the Upgrade key's "Hooks" subkey.
extern const char kComponentsKey[];  // "Software\\Pellory\\Upgrade\\Components"
extern const char kHooksSubkey[];    // "Hooks", under kUpgradeKeyPrefix

// True when x is greater than y: parts a, b, c, d in order, as signed numbers.
bool IsNewerVersion(const VersionQuad& x, const VersionQuad& y);

#ifdef _WIN32
constexpr long kReadVersionFailed = static_cast<long>(0x80004005);  // E_FAIL

// A file's fixed file version as a quad: 0 on success, kReadVersionFailed when
// the file is missing or has no version resource.
long ReadFileVersion(const std::string& path, VersionQuad& version);

// The recorded version of a hook ("%d, %d, %d, %d", read back as
// "%d,%d,%d,%d", missing parts 0). False when the hook never ran (no value,
// or an empty one).
bool ReadHookVersion(const std::string& hookName, VersionQuad& version);
// True when the hook never ran, or its recorded version is older than its own.
bool HookNeedsRun(const ComponentHook& hook);
// Records a hook as run at a version; failures are logged by the writer.
long RecordHookVersion(const std::string& hookName, const VersionQuad& version);
#endif
