// Whether the user may change the installation. Every failure on the way
// (no advapi32 functions, no token, a failed query) counts as administrator,
// so that a damaged system does not lock the user out of updates.
#pragma once

#include <windows.h>

bool IsUserAdministrator();
// The decision on a given token, and on its group list (a failed query of
// the token counts as administrator, as above).
bool TokenHasAdministrators(HANDLE token);
bool GroupsIncludeAdministrators(const TOKEN_GROUPS& groups);
