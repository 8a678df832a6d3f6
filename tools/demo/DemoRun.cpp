// The built-in demo: prepares an installation in the current Wine prefix (a
// folder with Bin\Manager.exe and Bin\Upgrade.exe, "PelloryAppDir" pointing at
// it), runs the program's main job on it silently, and prints what it did:
// the exit code, the uninstall entry and the update log.
#include <windows.h>

#include <cstdio>
#include <string>

#include "tests/support/Scratch.h"
#include "tests/support/TestProcess.h"

using namespace testing_support;

namespace {

const char kPelloryKey[] = "SOFTWARE\\Pellory";
const char kUninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\PelloryManager";

void PrintValue(const char* name) {
  std::string value;
  if (RegReadString(HKEY_LOCAL_MACHINE, kUninstallKey, name, value))
    std::printf("  %-16s %s\n", name, value.c_str());
  else
    std::printf("  %-16s (not set)\n", name);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: DemoRun UPGRADE.EXE MANAGER.EXE [switches...]\n");
    return 2;
  }
  const std::string installDir = "C:\\Program Files\\Pellory\\";
  const std::string bin = installDir + "Bin\\";
  CreateDirectoryA("C:\\Program Files", nullptr);
  CreateDirectoryA(installDir.c_str(), nullptr);
  CreateDirectoryA(bin.c_str(), nullptr);
  if (!CopyFileA(argv[1], (bin + "Upgrade.exe").c_str(), FALSE) ||
      !CopyWithVersion(argv[2], bin + "Manager.exe", 4, 2, 0, 17)) {
    std::fprintf(stderr, "demo: cannot prepare %s\n", bin.c_str());
    return 2;
  }
  RegWriteString(HKEY_LOCAL_MACHINE, kPelloryKey, "PelloryAppDir", installDir);
  std::printf("Installation: %s (Manager.exe 4.2.0.17)\n", installDir.c_str());

  std::string switches;
  for (int i = 3; i < argc; ++i) switches += std::string(i > 3 ? " " : "") + argv[i];
  std::printf("Running: \"%sUpgrade.exe\" %s\n", bin.c_str(), switches.c_str());
  ChildProcess upgrade;
  if (!upgrade.Start(bin + "Upgrade.exe", switches)) {
    std::fprintf(stderr, "demo: cannot start Upgrade.exe\n");
    return 2;
  }
  const DWORD code = upgrade.Wait(120000);
  std::printf("Exit code: %d\n\n", static_cast<int>(code));

  std::printf("Uninstall entry HKLM\\%s:\n", kUninstallKey);
  for (const char* name : {"DisplayName", "DisplayVersion", "Publisher", "UninstallString"})
    PrintValue(name);

  char documents[MAX_PATH] = "";
  GetEnvironmentVariableA("USERPROFILE", documents, MAX_PATH);
  const std::string logPath = std::string(documents) + "\\Documents\\Pellory\\Logs\\Update.log";
  std::string log;
  if (ReadFileBytes(logPath, log)) {
    std::printf("\n%s:\n%s\n", logPath.c_str(), log.c_str());
  } else {
    std::printf("\n(no log at %s)\n", logPath.c_str());
  }
  return 0;
}
