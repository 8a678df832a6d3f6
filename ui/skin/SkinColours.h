// The six colour slots of the dialog skin, chosen once from the primary
// language of the user-interface language (German, French, any other).
#pragma once

#include <windows.h>

#include <cstdint>

// Slot 1..6 as a COLORREF (0x00BBGGRR).
COLORREF SkinColour(int slot);
// Fills the table for a language; called once at start-up (and by tests).
void InitSkinColours(uint16_t uiLanguageId);
