// A prepared installation for end-to-end runs of the real Upgrade.exe inside
// the test's Wine prefix: a folder with Bin\Upgrade.exe and Bin\Manager.exe,
// "PelloryAppDir" pointing at it, no log and no uninstall entry left over.
#pragma once

#include <windows.h>

#include <string>

#include "tests/support/Scratch.h"
#include "tests/support/TestProcess.h"
#include "tests/support/UiDriver.h"

namespace e2e {

constexpr char kPelloryKey[] = "SOFTWARE\\Pellory";
constexpr char kComponentsKey[] = "Software\\Pellory\\Upgrade\\Components";
constexpr char kUninstallKey[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\PelloryManager";

std::string BuiltUpgradeExe();  // the program under test, in the build tree
std::string FixturePath(const std::string& name);
// The program's system folder on the disk, with a backslash: for the shipped
// 32-bit program under WoW64 the 32-bit one (SysWOW64), which the program
// itself names by the system folder's own name (SystemFolderName).
std::string ProgramSystemFolder();
std::string SystemFolderName();
std::string DocumentsDir();     // the user's documents folder, no backslash
std::string UserLogPath();      // Documents\Pellory\Logs\Update.log

class Installation {
 public:
  // Makes "C:\<name>\" with Bin\; copies Upgrade.exe there.
  explicit Installation(const std::string& name = "Pellory Test");
  ~Installation();

  const std::string& Dir() const { return dir_; }   // with backslash
  std::string Bin() const { return dir_ + "Bin\\"; }
  std::string InstalledUpgrade() const { return Bin() + "Upgrade.exe"; }
  void SetManagerVersion(WORD a, WORD b, WORD c, WORD d);
  void WriteCatalogueCopy();  // Bin\PM Install1.INF
  void Register() const;      // PelloryAppDir = Dir()

 private:
  std::string dir_;
};

// Removes every trace earlier runs left in the prefix (log, keys, temp copies).
void ResetMachineState();

// Runs Upgrade.exe and waits for its end; STILL_ACTIVE on time-out (then killed).
DWORD RunUpgrade(const std::string& exe, const std::string& args, DWORD timeoutMs = 60000);

// The first message box of a process (class #32770), as a person sees it.
struct SeenBox {
  HWND window = nullptr;
  std::string caption;
  std::string text;
};
SeenBox WaitForMessageBox(DWORD processId, DWORD timeoutMs = 20000);
SeenBox WaitForMessageBoxCaption(const std::string& caption, DWORD timeoutMs = 20000);
// The process's message box now on screen (the dialogs are #32770 windows
// too: a box is the one with the text control 0xFFFF, and its text in place),
// or an empty SeenBox after the time.
SeenBox WaitBox(DWORD processId, DWORD timeoutMs = 30000);
// The process's next message box, answered with `button`; an empty SeenBox
// when none came in time.
SeenBox Answer(testing_support::ChildProcess& child, int button, DWORD timeoutMs = 30000);
// The dialog of the process that has the control, or null after the time.
HWND WaitForDialogWith(DWORD processId, int controlId, DWORD timeoutMs = 20000);
// A component's recorded version, or "<none>".
std::string Recorded(const std::string& component);

}  // namespace e2e
