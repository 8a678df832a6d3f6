#include "core/AdminCheck.h"

#include <vector>

#include "core/SystemLibraries.h"
#include "frame/Handle.h"

bool GroupsIncludeAdministrators(const TOKEN_GROUPS& groups) {
  const AdvapiApi& api = Advapi();
  SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
  PSID administrators = nullptr;
  if (!api.AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                    DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &administrators))
    return true;
  bool found = false;
  for (DWORD i = 0; i < groups.GroupCount && !found; ++i) {
    found = api.EqualSid(groups.Groups[i].Sid, administrators) != FALSE;
  }
  api.FreeSid(administrators);
  return found;
}

bool TokenHasAdministrators(HANDLE token) {
  const AdvapiApi& api = Advapi();
  std::vector<BYTE> buffer(4096);  // the group list of any ordinary token fits
  DWORD needed = 0;
  if (!api.GetTokenInformation(token, TokenGroups, buffer.data(),
                               static_cast<DWORD>(buffer.size()), &needed))
    return true;
  return GroupsIncludeAdministrators(*reinterpret_cast<const TOKEN_GROUPS*>(buffer.data()));
}

bool IsUserAdministrator() {
  if (!BindAdvapi()) return true;
  const AdvapiApi& api = Advapi();
  frame::ScopedHandle token;
  if (!api.OpenThreadToken(::GetCurrentThread(), TOKEN_QUERY, TRUE, token.put()) &&
      !api.OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put()))
    return true;
  return TokenHasAdministrators(token.get());
}
