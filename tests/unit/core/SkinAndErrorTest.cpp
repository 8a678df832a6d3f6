#include <gtest/gtest.h>

#include <vector>

#include "core/AdminCheck.h"
#include "core/Error.h"
#include "core/Platform.h"
#include "core/SystemLibraries.h"
#include "transfer/WinInetApi.h"
#include "ui/skin/SkinColours.h"

namespace {

TEST(SkinColours, ColumnFollowsThePrimaryLanguage) {
  struct Case {
    uint16_t language;
    COLORREF slot1, slot5, slot6;
  } cases[] = {
      {0x0407, 0x49B56C, 0x66CC99, 0x336633},  // German
      {0x0C07, 0x49B56C, 0x66CC99, 0x336633},  // Austrian German: same primary language
      {0x040C, 0xAAFFDF, 0x66FFCC, 0x990099},  // French
      {0x080C, 0xAAFFDF, 0x66FFCC, 0x990099},  // Belgian French
      {0x0409, 0x83E8D2, 0x65CAB5, 0x357853},
      {0x0809, 0x83E8D2, 0x65CAB5, 0x357853},
      {0x0411, 0x83E8D2, 0x65CAB5, 0x357853},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.language);
    InitSkinColours(c.language);
    EXPECT_EQ(SkinColour(1), c.slot1);
    EXPECT_EQ(SkinColour(2), 0x000000u);
    EXPECT_EQ(SkinColour(5), c.slot5);
    EXPECT_EQ(SkinColour(6), c.slot6);
  }
  InitSkinColours(0x0409);
  EXPECT_EQ(SkinColour(3), 0x51A293u);
  EXPECT_EQ(SkinColour(4), 0x95DACDu);
  EXPECT_EQ(SkinColour(0), 0u);
  EXPECT_EQ(SkinColour(7), 0u);
}

TEST(LanguageTag, PrimaryAndSublanguage) {
  EXPECT_EQ(GetLanguageTag(0x0407, false), "LANGID 7");
  EXPECT_EQ(GetLanguageTag(0x0407, true), "LANGID 7 SUBLANGID 1");
  EXPECT_EQ(GetLanguageTag(0x0809, true), "LANGID 9 SUBLANGID 2");
  EXPECT_EQ(GetLanguageTag(0x0C07, true), "LANGID 7 SUBLANGID 3");
}

TEST(CError, DescriptionAddsTheSystemTextOrTheTransferText) {
  SetLastResponseText("");
  EXPECT_EQ(CError(0, "Plain text.").Description(), "Plain text.");
  // A system code: its text follows after one blank, the line break removed.
  const std::string denied = CError(ERROR_ACCESS_DENIED, "Cannot write.").Description();
  EXPECT_EQ(denied.compare(0, 14, "Cannot write. "), 0) << denied;
  EXPECT_GT(denied.size(), 14u);
  EXPECT_EQ(denied.find("\r\n"), std::string::npos);

  // A WinInet code: the system table has no text, WinInet's has.
  ASSERT_TRUE(BindWinInet());
  const std::string inet = CError(12007, "Lookup.").Description();  // name not resolved
  EXPECT_FALSE(inet.empty());
  EXPECT_EQ(inet.find("Lookup."), std::string::npos) << "the text is replaced, not extended";
  // The server's last response text goes before WinInet's.
  SetLastResponseText("550 No such file");
  EXPECT_EQ(CError(12003, "Server.").Description(), "550 No such file");
  SetLastResponseText("");
  // A code nobody knows keeps the error's own text rather than showing nothing.
  EXPECT_EQ(CError(0x7FFF1234, "Own text.").Description(), "Own text.");
}

TEST(AdminCheck, OnlyTheAdministratorsGroupCounts) {
  ASSERT_TRUE(BindAdvapi());
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID admins = nullptr, users = nullptr;
  ASSERT_TRUE(::AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                         DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &admins));
  ASSERT_TRUE(::AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                         DOMAIN_ALIAS_RID_USERS, 0, 0, 0, 0, 0, 0, &users));
  std::vector<BYTE> buffer(sizeof(TOKEN_GROUPS) + sizeof(SID_AND_ATTRIBUTES));
  auto* groups = reinterpret_cast<TOKEN_GROUPS*>(buffer.data());
  groups->Groups[0] = {users, SE_GROUP_ENABLED};
  groups->Groups[1] = {admins, SE_GROUP_ENABLED};
  groups->GroupCount = 1;
  EXPECT_FALSE(GroupsIncludeAdministrators(*groups));  // an ordinary user
  groups->GroupCount = 2;
  EXPECT_TRUE(GroupsIncludeAdministrators(*groups));
  ::FreeSid(admins);
  ::FreeSid(users);

  // Wine's user is in the group; a token whose group list cannot be read
  // counts as administrator.
  EXPECT_TRUE(IsUserAdministrator());
  HANDLE token = nullptr;
  ASSERT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY_SOURCE, &token));
  EXPECT_TRUE(TokenHasAdministrators(token));
  ::CloseHandle(token);
}

TEST(SystemLibraries, BindingsFindEveryFunctionOnce) {
  EXPECT_TRUE(BindComCtl());
  EXPECT_NE(ComCtl().ImageList_AddMasked, nullptr);
  EXPECT_TRUE(BindShell());
  EXPECT_NE(ShellFunctions().SHGetMalloc, nullptr);
  EXPECT_TRUE(BindShlwapi());
  EXPECT_NE(PathSetDlgItemPath(), nullptr);
  EXPECT_TRUE(BindWinInet());
  EXPECT_NE(WinInet().InternetErrorDlg, nullptr);
}

}  // namespace
