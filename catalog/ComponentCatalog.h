// Parsing the catalogue into components, and the platform test its
// "Platform" keys feed. Every step is logged through LogFormat.
#pragma once

#include <cstdint>
#include <string>

#include "catalog/Component.h"
#include "catalog/IniFile.h"

// Clears the catalogue, loads the INF file and fills the catalogue. 1 when the
// file could not be loaded, else 0 (also when no component was parsed); 0
// without touching the catalogue when `path` is null.
int LoadComponents(ComponentCatalog& catalog, const char* path);
// The same on a reader that is already loaded (any language).
void LoadComponentsFrom(ComponentCatalog& catalog, const IniFile& ini);

// Fills `component` from its "Components" entry and its section; 0 on success.
// A file section without "File" or "FileVersion" gives a non-zero number: the
// system's last error, or ERROR_INVALID_DATA (13) when that reads 0.
uint32_t InitComponent(const IniFile& ini, const std::string& name,
                       const std::string& componentsValue, Component& component);

// "Size" of a section in bytes: the leading number, times 1 MB when the text
// holds "MB", else times 1 KB when it holds "KB" (any case).
uint32_t ParseSize(const IniFile& ini, const std::string& section);
uint32_t ParseSizeText(const std::string& text);

// "DestDir" of a section (language-aware string, default empty).
std::string ParseDestDir(const IniFile& ini, const std::string& section);

// True when a catalogue boolean text is exactly "Yes".
bool IsCatalogYes(const std::string& text);

// The platform bits against a given system (platform id 1 = the older
// Windows family, 2 = NT); only the low 8 bits of the mask count.
bool PlatformMatchesSystem(uint32_t mask, uint32_t platformId, uint32_t major, uint32_t minor);
#ifdef _WIN32
// The same against the running system (GetVersionExA).
bool PlatformMatches(uint32_t mask);
#endif
