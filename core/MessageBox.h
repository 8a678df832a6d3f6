// Message boxes and the mode tests that decide their captions. Every box of
// the program goes through AppMessageBox: no owner, always topmost and brought
// to the foreground, caption by mode unless the caller names one.
#pragma once

#include <windows.h>

#include <string>

#include "resources/StringIds.h"

// Caption string ids.
constexpr UINT kCaptionWebInstall = IDS_CAPTION_WEBINSTALL;  // Setup mode
constexpr UINT kCaptionUninstall = IDS_CAPTION_UNINSTALL; // "Uninstall" switch
constexpr UINT kCaptionUpdate = IDS_CAPTION_UPDATE; // everything else
constexpr UINT kCaptionInstall = IDS_CAPTION_INSTALL; // errors (CError, internal error)

bool IsSetupMode();        // the "Setup" switch, or the latch once set
void SetSetupLatch();      // set when the selection dialog starts an installation
bool SetupLatch();
UINT MessageCaptionId();

// Returns the pressed button (IDOK, IDYES, ...); closing the box counts as IDCANCEL.
int AppMessageBox(const std::string& text, UINT style, UINT captionId = 0);
int AppMessageBox(UINT textId, UINT style, UINT captionId = 0);

// True with the "q" switch: no boxes, no confirmations.
bool IsQuiet();
// True with the "DryRun" switch: the run says what it would do and changes
// nothing on the machine.
bool IsDryRun();
