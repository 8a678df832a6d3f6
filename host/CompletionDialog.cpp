#include "host/CompletionDialog.h"

#include "resources/HostIds.h"

CompletionDialog::CompletionDialog()
    : StatusWindow(IDD_COMPLETION, {IDC_COMPLETION_FIRST_PATH, IDC_COMPLETION_SECOND_PATH}) {}

void CompletionDialog::ShowStep(const std::string& headline, const std::string& firstPath,
                                const std::string& secondPath) {
  SetItemText(IDC_COMPLETION_HEADLINE, headline);
  SetItemText(IDC_COMPLETION_FIRST_PATH, firstPath);
  SetItemText(IDC_COMPLETION_SECOND_PATH, secondPath);
}

std::shared_ptr<CompletionDialog> StartCompletionDialog() {
  return StartStatusWindow<CompletionDialog>();
}
