// Where a catalogue file goes on this machine. The catalogue arrives over
// plain HTTP and its names become paths that are written and deleted, also
// with administrator rights: a name or "DestDir" that is absolute, carries a
// drive or UNC prefix or a ":", or climbs out with "..", gives an empty target
// (with one log line), and every caller skips an entry whose target is empty.
#pragma once

#include <string>

#include "catalog/Component.h"

struct TargetFolders {
  std::string systemDir;   // no trailing backslash
  std::string windowsDir;  // no trailing backslash
  std::string appDir;      // the installation folder, with its backslash
};

// True for a text that stays below whatever folder it is joined to.
bool IsContainedRelativePath(const std::string& text);
// True for a contained text that names an entry below the folder, not the
// folder itself ("", ".", ".\" and " " name the folder).
bool NamesEntryBelow(const std::string& text);

// The destination from the folders given; "" (logged) for an unsafe name or
// DestDir, or when the installation folder is needed but unknown.
std::string ComposeTargetPath(const std::string& name, const std::string& destDir,
                              const TargetFolders& folders);

#ifdef _WIN32
// The server file registered for a class (InprocServer32, else LocalServer),
// when it exists on disk; else "".
std::string InstalledServerPath(const ClassId& clsid);

// The full path of a file: the registered server's path for a CLSID without
// DestDir, else ComposeTargetPath with the system, Windows and installation
// folders. The second form takes the installation folder as given.
std::string TargetPath(const ComponentFile& file);
std::string TargetPath(const ComponentFile& file, const std::string& appDir);
#endif
