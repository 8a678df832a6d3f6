#include "core/MessageBox.h"

#include "core/Resources.h"
#include "core/Switches.h"
#include "ui/skin/SkinnedMessageBox.h"

namespace {

volatile LONG g_setupLatch = 0;  // read and written from several threads

}  // namespace

bool SetupLatch() { return ::InterlockedCompareExchange(&g_setupLatch, 0, 0) != 0; }
void SetSetupLatch() { ::InterlockedExchange(&g_setupLatch, 1); }
bool IsSetupMode() { return HasSwitch("Setup") || SetupLatch(); }
bool IsQuiet() { return HasSwitch("q"); }
bool IsDryRun() { return HasSwitch("DryRun"); }

UINT MessageCaptionId() {
  if (IsSetupMode()) return kCaptionWebInstall;
  if (HasSwitch("Uninstall")) return kCaptionUninstall;
  return kCaptionUpdate;
}

int AppMessageBox(const std::string& text, UINT style, UINT captionId) {
  const std::string caption = LoadResString(captionId ? captionId : MessageCaptionId());
  return ShowSkinnedMessageBox(text, caption, style | MB_TOPMOST | MB_SETFOREGROUND);
}

int AppMessageBox(UINT textId, UINT style, UINT captionId) {
  return AppMessageBox(LoadResString(textId), style, captionId);
}
