// Removal of the plug-ins that the manager's installation put into other
// programs: the media player plug-in (a COM in-process server found through
// its class), the media filter in the system folder, and the two plug-in
// modules in a Netscape-family browser's plug-in folder. None of them is in
// the components catalogue, so the uninstaller removes them by name.
#pragma once

// The media player plug-in's class.
extern const char kMediaPlayerPluginClsid[];

// Unregisters and deletes each plug-in that is there; a file in use is
// deleted at the next restart of Windows instead, and then `rebootNeeded` is
// set (it is never cleared). Missing keys, values and files skip their part;
// failures are ignored. Always true. Every change goes through the removal
// actions (removal/RemovalActions.h), so a dry run only lists them.
bool RemovePlugins(bool& rebootNeeded);
