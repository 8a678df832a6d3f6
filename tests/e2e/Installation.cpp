#include "tests/e2e/Installation.h"

#include <shlobj.h>

namespace e2e {

using namespace testing_support;

std::string BuiltUpgradeExe() {
  return WinePath(ShippedProgramUnderTest() ? SHIPPED_DIR_UNIX "/Upgrade.exe" : UPGRADE_EXE_UNIX);
}

std::string FixturePath(const std::string& name) {
  // A library the program loads must have its bitness; the shipped build
  // tree holds the 32-bit ones. Programs stay 64-bit.
  if (ShippedProgramUnderTest()) {
    const std::string shipped = WinePath(SHIPPED_DIR_UNIX "/fixtures") + "\\" + name;
    if (FileExists(shipped)) return shipped;
  }
  return WinePath(FIXTURES_DIR_UNIX) + "\\" + name;
}

std::string ProgramSystemFolder() {
  char folder[MAX_PATH] = "";
  if (ShippedProgramUnderTest())
    ::GetSystemWow64DirectoryA(folder, MAX_PATH);
  else
    ::GetSystemDirectoryA(folder, MAX_PATH);
  return std::string(folder) + "\\";
}

std::string SystemFolderName() {
  char folder[MAX_PATH] = "";
  ::GetSystemDirectoryA(folder, MAX_PATH);
  return std::string(folder) + "\\";
}

std::string DocumentsDir() {
  char path[MAX_PATH] = "";
  ::SHGetFolderPathA(nullptr, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT, path);
  return path;
}

std::string UserLogPath() { return DocumentsDir() + "\\Pellory\\Logs\\Update.log"; }

Installation::Installation(const std::string& name) : dir_("C:\\" + name + "\\") {
  RemoveTree(dir_);
  ::CreateDirectoryA(dir_.c_str(), nullptr);
  ::CreateDirectoryA(Bin().c_str(), nullptr);
  ::CopyFileA(BuiltUpgradeExe().c_str(), InstalledUpgrade().c_str(), FALSE);
}

Installation::~Installation() { RemoveTree(dir_); }

void Installation::SetManagerVersion(WORD a, WORD b, WORD c, WORD d) {
  CopyWithVersion(FixturePath("Manager.exe"), Bin() + "Manager.exe", a, b, c, d);
}

void Installation::WriteCatalogueCopy() {
  WriteFileBytes(Bin() + "PM Install1.INF", "[Components]\r\n");
}

void Installation::Register() const {
  RegWriteString(HKEY_LOCAL_MACHINE, kPelloryKey, "PelloryAppDir", dir_);
}

void ResetMachineState() {
  RegDeleteTree(HKEY_LOCAL_MACHINE, kPelloryKey);
  RegDeleteTree(HKEY_LOCAL_MACHINE, kUninstallKey);
  RemoveTree(DocumentsDir() + "\\Pellory");
  char temp[MAX_PATH] = "";
  ::GetTempPathA(MAX_PATH, temp);
  ::DeleteFileA((std::string(temp) + "Upgrade.exe").c_str());
  ::DeleteFileA((std::string(temp) + "Update.log").c_str());
}

DWORD RunUpgrade(const std::string& exe, const std::string& args, DWORD timeoutMs) {
  ChildProcess child;
  if (!child.Start(exe, args)) return STILL_ACTIVE;
  return child.Wait(timeoutMs);
}

static SeenBox Describe(HWND window) {
  SeenBox box;
  box.window = window;
  if (window) {
    ui::DialogTexts texts = ui::ReadDialogTexts(window);
    box.caption = texts.caption;
    box.text = texts.text;
  }
  return box;
}

SeenBox WaitForMessageBox(DWORD processId, DWORD timeoutMs) {
  ui::WindowQuery query;
  query.className = "#32770";
  query.processId = processId;
  return Describe(ui::WaitForWindow(query, timeoutMs));
}

SeenBox WaitForMessageBoxCaption(const std::string& caption, DWORD timeoutMs) {
  ui::WindowQuery query;
  query.className = "#32770";
  query.caption = caption;
  return Describe(ui::WaitForWindow(query, timeoutMs));
}

SeenBox WaitBox(DWORD processId, DWORD timeoutMs) {
  timeoutMs = Patience(timeoutMs);
  const DWORD start = ::GetTickCount();
  do {
    // A box still being made, or being taken down, has no text.
    for (HWND window : ui::FindWindows({"", "#32770", processId}))
      if (::GetDlgItem(window, 0xFFFF) && !ui::MessageBoxText(window).empty())
        return Describe(window);
    ::Sleep(50);
  } while (::GetTickCount() - start < timeoutMs);
  return SeenBox();
}

SeenBox Answer(ChildProcess& child, int button, DWORD timeoutMs) {
  const SeenBox box = WaitBox(child.Id(), timeoutMs);
  if (box.window) {
    ui::PressButton(box.window, button);
    ui::WaitForWindowGone(box.window);
  }
  return box;
}

HWND WaitForDialogWith(DWORD processId, int controlId, DWORD timeoutMs) {
  timeoutMs = Patience(timeoutMs);
  const DWORD start = ::GetTickCount();
  do {
    for (HWND window : ui::FindWindows({"", "#32770", processId}))
      if (::GetDlgItem(window, controlId)) return window;
    ::Sleep(50);
  } while (::GetTickCount() - start < timeoutMs);
  return nullptr;
}

std::string Recorded(const std::string& component) {
  std::string value;
  return RegReadString(HKEY_LOCAL_MACHINE, kComponentsKey, component, value) ? value : "<none>";
}

}  // namespace e2e
