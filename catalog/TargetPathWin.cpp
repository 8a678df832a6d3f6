// The Windows side of TargetPath: system folders and registered COM servers.
#include "catalog/TargetPath.h"

#include <objbase.h>

#include "core/Locations.h"
#include "core/Log.h"
#include "frame/RegKey.h"

std::string InstalledServerPath(const ClassId& clsid) {
  LPOLESTR wide = nullptr;
  const HRESULT hr = ::StringFromCLSID(clsid, &wide);
  if (FAILED(hr) || !wide) {
    LogFormat("StringFromCLSID failed. Error 0x0%x.", static_cast<unsigned>(hr));
    return "";
  }
  char text[64] = {};
  ::WideCharToMultiByte(CP_ACP, 0, wide, -1, text, sizeof(text) - 1, nullptr, nullptr);
  ::CoTaskMemFree(wide);

  const std::string base = std::string("CLSID\\") + text;
  frame::RegKey key;
  LONG rc = key.Open(HKEY_CLASSES_ROOT, base + "\\InprocServer32", KEY_READ);
  if (rc == ERROR_FILE_NOT_FOUND) rc = key.Open(HKEY_CLASSES_ROOT, base + "\\LocalServer", KEY_READ);
  if (rc != ERROR_SUCCESS) return "";
  std::string path;
  if (key.QueryString("", path, 1040) != ERROR_SUCCESS || path.empty()) return "";
  if (::GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) return "";
  LogFormat("COM server with CLSID %s is already installed in %s.", text, path.c_str());
  return path;
}

std::string TargetPath(const ComponentFile& file, const std::string& appDir) {
  if (file.sDestDir.empty() && !IsNullClassId(file.clsid)) {
    const std::string server = InstalledServerPath(file.clsid);
    if (!server.empty()) return server;
  }
  TargetFolders folders;
  folders.systemDir = SystemFolder(&::GetSystemDirectoryA);
  folders.windowsDir = SystemFolder(&::GetWindowsDirectoryA);
  folders.appDir = appDir;
  return ComposeTargetPath(file.sName, file.sDestDir, folders);
}

std::string TargetPath(const ComponentFile& file) { return TargetPath(file, GetAppDir()); }
