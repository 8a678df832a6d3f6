// The parsed components catalogue: components, their files, hooks and
// registry lines. Records are plain values; the update flow, the selection
// dialog and the worker copy components out of the catalogue by value.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "catalog/RegistryEntry.h"

#ifdef _WIN32
#include <windows.h>
using ClassId = GUID;
#else
// The same layout as the system's GUID, for the native build.
struct ClassId {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
};
#endif

bool IsNullClassId(const ClassId& id);
// The registry form "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"; false otherwise.
bool ParseClassIdText(const std::string& text, ClassId& id);

// Four signed numbers a.b.c.d; -1,-1,-1,-1 as a file version means "install
// only when missing".
struct VersionQuad {
  int32_t a = 0;
  int32_t b = 0;
  int32_t c = 0;
  int32_t d = 0;

  int32_t Part(int i) const { return i == 0 ? a : i == 1 ? b : i == 2 ? c : d; }
  // <0, 0, >0; the first differing part decides.
  int Compare(const VersionQuad& other) const;
  bool operator==(const VersionQuad& o) const { return Compare(o) == 0; }
  bool operator!=(const VersionQuad& o) const { return Compare(o) != 0; }
  bool operator<(const VersionQuad& o) const { return Compare(o) < 0; }
  bool IsInstallIfMissing() const { return a == -1 && b == -1 && c == -1 && d == -1; }

  std::string CatalogText() const;   // "%d,%d,%d,%d"
  std::string RegistryText() const;  // "%d, %d, %d, %d"
  std::string DottedText() const;    // "%d.%d.%d.%d", as file versions are shown
};

// Reads "%d,%d,%d,%d" as far as the text allows; parts it does not supply
// are 0. Returns how many parts were read.
int ParseVersionQuad(const std::string& text, VersionQuad& version);

// A "Components" value: "n;a,b,c,d" (when it holds a ";") or "a,b,c,d", id 0.
// Returns how many numbers were read (5 or 4 when complete).
int ParseComponentsEntry(const std::string& value, int32_t& id, VersionQuad& version);

struct ComponentFile {
  std::string sName;           // file name at the destination, and its section
  uint32_t size = 0;           // download size of sFile, bytes
  VersionQuad version;         // the version the installed file must have
  std::string sFile;           // the download (cabinet) holding the file
  std::string sDestDir;        // "LDID_SYS", "LDID_WIN", a subfolder, or ""
  bool bOLESelfRegistered = false;
  std::string sPackage;        // package to run after the download
  std::string sCmdLine;        // its arguments
  ClassId clsid = {};          // COM class the file serves; null when none
  uint32_t platform = 31;      // systems the file is meant for
};

struct ComponentHook : ComponentFile {
  std::string sHookName;       // the hook section's name (also sName)
  std::string sRun;            // argument text for the hook program
  bool bDeleteAfterExec = false;
};

struct Component {
  int32_t id = 0;
  std::string sName;
  VersionQuad version;
  std::vector<ComponentFile> files;
  std::vector<RegistryEntry> addRegistry;
  std::vector<RegistryEntry> deleteRegistry;
  bool bForceInstall = false;
  std::string sDescription;
  std::string sMoreInfo;
  std::vector<ComponentHook> hooks;
  std::string sImageURL;
  bool bInitiallySelected = true;
  bool bRequiresPMClosed = true;
  std::vector<ComponentFile> deleteFiles;
  uint32_t platform = 31;
};

// In the order of the "Components" section.
using ComponentCatalog = std::vector<Component>;
