#include "uninstall/UninstallProgressWindow.h"

#include "core/Resources.h"
#include "resources/UninstallIds.h"

UninstallProgressWindow::UninstallProgressWindow()
    : StatusWindow(IDD_UNINSTALL_PROGRESS, {IDC_UNINSTALL_DETAIL}) {}

void UninstallProgressWindow::SetStatus(const std::string& text) {
  SetItemText(IDC_UNINSTALL_STATUS, text);
}

void UninstallProgressWindow::SetStatus(UINT textId) { SetStatus(LoadResString(textId)); }

void UninstallProgressWindow::SetDetail(const std::string& path) {
  SetItemText(IDC_UNINSTALL_DETAIL, path);
}

std::shared_ptr<UninstallProgressWindow> StartUninstallProgressWindow() {
  return StartStatusWindow<UninstallProgressWindow>();
}
