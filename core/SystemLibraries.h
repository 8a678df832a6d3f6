// System libraries the program binds at run time, so that it can start (and
// say what is missing) on systems where they are absent or old.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

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

using PathSetDlgItemPathFn = void(WINAPI*)(HWND, int, LPCSTR);

// Each binds once and returns whether every function was found.
bool BindComCtl();     // "ComCtl32.dll", then initialises the tab and animation classes
bool BindShell();      // "Shell32.dll"
bool BindAdvapi();     // "Advapi32.dll"
bool BindShlwapi();    // "shlwapi.dll": PathSetDlgItemPathA, optional everywhere

const ComCtlApi& ComCtl();
const ShellApi& ShellFunctions();
const AdvapiApi& Advapi();
PathSetDlgItemPathFn PathSetDlgItemPath();  // null when shlwapi lacks it
