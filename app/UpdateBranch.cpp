// The update mode's first steps: the entry in the installed-programs list and
// the check that the installation exists.
#include <string>

#include "app/Program.h"
#include "app/UpdateFlow.h"
#include "core/FileVersion.h"
#include "core/Locations.h"
#include "core/Log.h"
#include "core/MessageBox.h"
#include "core/Resources.h"
#include "frame/RegKey.h"
#include "host/HostControl.h"

namespace {


std::string OwnFileName() {
  char path[MAX_PATH] = "";
  DWORD length = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string own(path, length < MAX_PATH ? length : 0);
  const auto slash = own.find_last_of('\\');
  return slash == std::string::npos ? own : own.substr(slash + 1);
}

bool FolderExists(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

int RunUpdateBranch() {
  const std::string appDir = GetAppDir();

  // A dry run leaves the entry in the installed-programs list as it is.
  frame::RegKey uninstallKey;
  if (!IsDryRun() &&
      uninstallKey.Create(HKEY_LOCAL_MACHINE, kUninstallKey, KEY_READ | KEY_WRITE) ==
          ERROR_SUCCESS) {
    uninstallKey.SetString("DisplayName", LoadResString(IDS_PRODUCT_NAME));
    // Quoted: an unquoted path with spaces would let Windows try to start
    // "C:\Program.exe" first.
    uninstallKey.SetString("UninstallString",
                           "\"" + appDir + "Bin\\" + OwnFileName() + "\" /Uninstall");
    uninstallKey.SetString("Publisher", "Pellory, Inc.");
  }

  if (appDir.empty() || !FolderExists(appDir)) {
    AppMessageBox(IDS_NO_INSTALL_FOLDER, MB_OK | MB_ICONSTOP);
    return kExitOk;
  }

  FileVersionParts version;
  if (ReadFileVersionParts(appDir + "Bin\\Manager.exe", version) && uninstallKey.IsOpen()) {
    char text[64];
    wsprintfA(text, "%d.%d.%d.%d", version.part[0], version.part[1], version.part[2],
              version.part[3]);
    uninstallKey.SetString("DisplayVersion", text);
  }

  ComponentCatalog catalog;
  return RunUpdateFlow(appDir, catalog);
}

int RunModeSwitch(int managerProcessId, const char* removeFile) {
  return SwitchMode(static_cast<DWORD>(managerProcessId), removeFile) ? kExitOk : kExitFailed;
}
