// The program's one way to load its own resources. On the NT family every
// lookup prefers the user's default language, then the same primary language
// with the default sublanguage, then the neutral language (which holds the
// US English originals); on the older family the system's own lookup is used.
#pragma once

#include <windows.h>

#include <string>

// The string in the user's language, cut at 779 characters; "" when missing.
std::string LoadResString(UINT id);

// Finds a resource of the program in the user's language; nullptr when missing.
HRSRC FindLocalizedResource(LPCSTR type, LPCSTR name);
// The resource's bytes (they live as long as the module); nullptr when missing.
const void* LoadLocalizedResource(LPCSTR type, LPCSTR name, DWORD* size = nullptr);

// A dialog template in the user's language, for frame::Dialog.
const DLGTEMPLATE* FindDialogTemplate(UINT id);

// Test seam: the language the lookups prefer (0 = the user's default).
void SetPreferredResourceLanguage(LANGID language);
