// What kind of Windows this is, and the user's interface language.
// GetLanguageTag is plain formatting and also builds natively.
#pragma once

#include <cstdint>
#include <string>

// What the system reports of itself (Windows builds only).
struct OsVersion {
  uint32_t platformId = 0;  // 1: the older family, 2: NT
  uint32_t major = 0;
  uint32_t minor = 0;
};
bool GetOsVersion(OsVersion& version);

bool IsNT();            // the NT platform family
bool IsVistaOrLater();  // NT family, major version 6 or higher

// True when this 32-bit program runs on 64-bit Windows, where the system
// shows it a registry view, a system folder and a Program Files of its own.
bool IsWow64();
// The access bit that opens a key in the system's own (64-bit) view under
// WoW64; 0 elsewhere, where the bit means nothing or is refused.
uint32_t NativeRegistryView();

// The name the system itself uses for `path` when it works outside this
// program: under WoW64 a path in the system folder is redirected for this
// program to the 32-bit one (SysWOW64), but a rename or deletion left for the
// next start of Windows is carried out by the system, which would take the
// same name as the 64-bit system folder's file. So such a path is given as
// the folder it really names; the few subfolders that are not redirected
// (drivers\etc, spool, catroot, catroot2, logfiles, driverstore) and every
// path outside the system folder come back as they are, and so does every
// path when the program is not under WoW64.
std::string NativePathForSystem(const std::string& path);

// On the NT family the user's default language; on the older family the
// user's default UI language when the kernel has it, else the default language.
uint16_t GetUILanguageId();

// "LANGID <primary>" or "LANGID <primary> SUBLANGID <sub>", the suffixes that
// pick language-specific keys in the catalogue.
std::string GetLanguageTag(uint16_t langId, bool withSublanguage);
