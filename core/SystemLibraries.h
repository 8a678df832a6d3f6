// System libraries the program binds at run time, so that it can start (and
// say what is missing) on systems where they are absent or old.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include <string>

struct ComCtlApi {
  BOOL(WINAPI* InitCommonControlsEx)(const INITCOMMONCONTROLSEX*) = nullptr;
  HIMAGELIST(WINAPI* ImageList_LoadImageA)(HINSTANCE, LPCSTR, int, int, COLORREF, UINT, UINT) = nullptr;
  BOOL(WINAPI* ImageList_Draw)(HIMAGELIST, int, HDC, int, int, UINT) = nullptr;
  BOOL(WINAPI* ImageList_Destroy)(HIMAGELIST) = nullptr;
  int(WINAPI* ImageList_AddMasked)(HIMAGELIST, HBITMAP, COLORREF) = nullptr;
};

struct ShellApi {
  HRESULT(WINAPI* SHGetSpecialFolderLocation)(HWND, int, LPITEMIDLIST*) = nullptr;
  BOOL(WINAPI* SHGetPathFromIDListA)(LPCITEMIDLIST, LPSTR) = nullptr;
  HRESULT(WINAPI* SHGetMalloc)(IMalloc**) = nullptr;
};

struct AdvapiApi {
  BOOL(WINAPI* OpenThreadToken)(HANDLE, DWORD, BOOL, PHANDLE) = nullptr;
  BOOL(WINAPI* OpenProcessToken)(HANDLE, DWORD, PHANDLE) = nullptr;
  BOOL(WINAPI* GetTokenInformation)(HANDLE, TOKEN_INFORMATION_CLASS, LPVOID, DWORD, PDWORD) = nullptr;
  BOOL(WINAPI* AllocateAndInitializeSid)(PSID_IDENTIFIER_AUTHORITY, BYTE, DWORD, DWORD, DWORD,
                                         DWORD, DWORD, DWORD, DWORD, DWORD, PSID*) = nullptr;
  BOOL(WINAPI* EqualSid)(PSID, PSID) = nullptr;
  PVOID(WINAPI* FreeSid)(PSID) = nullptr;
  BOOL(WINAPI* LookupPrivilegeValueA)(LPCSTR, LPCSTR, PLUID) = nullptr;
  BOOL(WINAPI* AdjustTokenPrivileges)(HANDLE, BOOL, PTOKEN_PRIVILEGES, DWORD, PTOKEN_PRIVILEGES,
                                      PDWORD) = nullptr;
};

struct VersionApi {
  BOOL(WINAPI* GetFileVersionInfoA)(LPCSTR, DWORD, DWORD, LPVOID) = nullptr;
  BOOL(WINAPI* VerQueryValueA)(LPCVOID, LPCSTR, LPVOID*, PUINT) = nullptr;
};

using PathSetDlgItemPathFn = void(WINAPI*)(HWND, int, LPCSTR);

// Each binds once and returns whether every function was found.
bool BindComCtl();     // "ComCtl32.dll", then initialises the tab and animation classes
bool BindShell();      // "Shell32.dll"
bool BindAdvapi();     // "Advapi32.dll"
bool BindShlwapi();    // "shlwapi.dll": PathSetDlgItemPathA, optional everywhere
bool BindVersion();    // "version.dll"

const ComCtlApi& ComCtl();
const ShellApi& ShellFunctions();
const AdvapiApi& Advapi();
const VersionApi& VersionFunctions();
PathSetDlgItemPathFn PathSetDlgItemPath();  // null when shlwapi lacks it

// Restricts where the process loads libraries by name to the system folder,
// first thing: the program may run from a folder others can write (the
// uninstaller's copy, a download), and a library planted beside it must never
// be taken. Every library it binds later is loaded by its full path in the
// system folder, and it imports at load time only libraries the system always
// takes from there. Where the system lacks the call, the current folder at
// least leaves the search.
void RestrictDllSearch();

// Adds a folder only administrators can write (the installation's Bin) to
// where LoadModuleByPath looks for what a module needs.
void AddLibraryFolder(const std::string& folder);
// Loads a module by its full path (a server being registered), what it needs
// from its own folder, the added folders and the system folder.
HMODULE LoadModuleByPath(const std::string& path);
