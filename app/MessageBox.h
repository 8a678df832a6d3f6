// Message boxes and the mode tests that decide their captions. Every box of
// the program goes through AppMessageBox: no owner, always topmost and brought
// to the foreground, caption by mode unless the caller names one.
#pragma once

#include <windows.h>

#include <string>

// Caption string ids.
constexpr UINT kCaptionWebInstall = 65535;  // Setup mode
constexpr UINT kCaptionUninstall = 99;      // "Uninstall" switch
constexpr UINT kCaptionUpdate = 102;        // everything else
constexpr UINT kCaptionInstall = 124;       // errors (CError, internal error)

bool IsSetupMode();        // the "Setup" switch, or the latch once set
void SetSetupLatch();      // set when the selection dialog starts an installation
bool SetupLatch();
UINT MessageCaptionId();

// Returns the pressed button (IDOK, IDYES, ...); closing the box counts as IDCANCEL.
int AppMessageBox(const std::string& text, UINT style, UINT captionId = 0);
int AppMessageBox(UINT textId, UINT style, UINT captionId = 0);

// True with the "q" switch: no boxes, no confirmations.
bool IsQuiet();
