#include "core/SystemLibraries.h"

#include <string>

#include "frame/Binding.h"

namespace {

using frame::FunctionSlot;
using frame::Slot;

ComCtlApi g_comctl;
ShellApi g_shell;
AdvapiApi g_advapi;
VersionApi g_version;
PathSetDlgItemPathFn g_pathSetDlgItemPath = nullptr;

frame::LibraryBinding g_comctlBinding;
frame::LibraryBinding g_shellBinding;
frame::LibraryBinding g_advapiBinding;
frame::LibraryBinding g_shlwapiBinding;
frame::LibraryBinding g_versionBinding;
bool g_searchRestricted = false;
bool g_libraryFolders = false;

template <size_t N>
bool BindAll(frame::LibraryBinding& binding, const char* library, const FunctionSlot (&slots)[N]) {
  return binding.Bind(library, slots, N);
}

}  // namespace

bool BindComCtl() {
  static bool initialised = false;
  const FunctionSlot slots[] = {
      {"InitCommonControlsEx", Slot(g_comctl.InitCommonControlsEx)},
      {"ImageList_LoadImageA", Slot(g_comctl.ImageList_LoadImageA)},
      {"ImageList_Draw", Slot(g_comctl.ImageList_Draw)},
      {"ImageList_Destroy", Slot(g_comctl.ImageList_Destroy)},
      {"ImageList_AddMasked", Slot(g_comctl.ImageList_AddMasked)},
  };
  if (!BindAll(g_comctlBinding, "ComCtl32.dll", slots)) return false;
  if (!initialised) {
    INITCOMMONCONTROLSEX init = {sizeof(init), ICC_TAB_CLASSES | ICC_ANIMATE_CLASS};
    initialised = g_comctl.InitCommonControlsEx(&init) != FALSE;
  }
  return initialised;
}

bool BindShell() {
  const FunctionSlot slots[] = {
      {"SHGetSpecialFolderLocation", Slot(g_shell.SHGetSpecialFolderLocation)},
      {"SHGetPathFromIDListA", Slot(g_shell.SHGetPathFromIDListA)},
      {"SHGetMalloc", Slot(g_shell.SHGetMalloc)},
  };
  return BindAll(g_shellBinding, "Shell32.dll", slots);
}

bool BindAdvapi() {
  const FunctionSlot slots[] = {
      {"OpenThreadToken", Slot(g_advapi.OpenThreadToken)},
      {"OpenProcessToken", Slot(g_advapi.OpenProcessToken)},
      {"GetTokenInformation", Slot(g_advapi.GetTokenInformation)},
      {"AllocateAndInitializeSid", Slot(g_advapi.AllocateAndInitializeSid)},
      {"EqualSid", Slot(g_advapi.EqualSid)},
      {"FreeSid", Slot(g_advapi.FreeSid)},
      {"LookupPrivilegeValueA", Slot(g_advapi.LookupPrivilegeValueA)},
      {"AdjustTokenPrivileges", Slot(g_advapi.AdjustTokenPrivileges)},
  };
  return BindAll(g_advapiBinding, "Advapi32.dll", slots);
}

bool BindShlwapi() {
  const FunctionSlot slots[] = {{"PathSetDlgItemPathA", Slot(g_pathSetDlgItemPath)}};
  return BindAll(g_shlwapiBinding, "shlwapi.dll", slots);
}

bool BindVersion() {
  const FunctionSlot slots[] = {
      {"GetFileVersionInfoA", Slot(g_version.GetFileVersionInfoA)},
      {"VerQueryValueA", Slot(g_version.VerQueryValueA)},
  };
  return BindAll(g_versionBinding, "version.dll", slots);
}

void RestrictDllSearch() {
  HMODULE kernel = ::GetModuleHandleA("kernel32.dll");
  if (!kernel) return;
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  using SetDllDirectoryFn = BOOL(WINAPI*)(LPCSTR);
  const auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(
      reinterpret_cast<void*>(::GetProcAddress(kernel, "SetDefaultDllDirectories")));
  if (setDefault && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
    g_searchRestricted = true;
    return;
  }
  const auto setDirectory = reinterpret_cast<SetDllDirectoryFn>(
      reinterpret_cast<void*>(::GetProcAddress(kernel, "SetDllDirectoryA")));
  if (setDirectory) setDirectory("");
}

void AddLibraryFolder(const std::string& folder) {
  if (!g_searchRestricted || folder.empty()) return;
  using AddDllDirectoryFn = void*(WINAPI*)(PCWSTR);
  HMODULE kernel = ::GetModuleHandleA("kernel32.dll");
  const auto add = kernel ? reinterpret_cast<AddDllDirectoryFn>(reinterpret_cast<void*>(
                                ::GetProcAddress(kernel, "AddDllDirectory")))
                          : nullptr;
  wchar_t wide[MAX_PATH] = L"";
  if (add && ::MultiByteToWideChar(CP_ACP, 0, folder.c_str(), -1, wide, MAX_PATH) && add(wide))
    g_libraryFolders = true;
}

HMODULE LoadModuleByPath(const std::string& path) {
  // The module's own folder for what it needs, the folders added above
  // (the installation's Bin), then the system folder.
  DWORD flags = LOAD_WITH_ALTERED_SEARCH_PATH;
  if (g_searchRestricted) {
    flags = LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32;
    if (g_libraryFolders) flags |= LOAD_LIBRARY_SEARCH_USER_DIRS;
  }
  return ::LoadLibraryExA(path.c_str(), nullptr, flags);
}

const ComCtlApi& ComCtl() { return g_comctl; }
const ShellApi& ShellFunctions() { return g_shell; }
const AdvapiApi& Advapi() { return g_advapi; }
const VersionApi& VersionFunctions() { return g_version; }
PathSetDlgItemPathFn PathSetDlgItemPath() { return g_pathSetDlgItemPath; }
