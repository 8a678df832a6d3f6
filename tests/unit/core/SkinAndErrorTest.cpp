#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/AdminCheck.h"
#include "core/Error.h"
#include "core/Platform.h"
#include "core/SystemLibraries.h"
#include "transfer/WinInetApi.h"
#include "ui/skin/SkinColours.h"

namespace {

// A country's variant of a language gets that language's column; a language
// without one of its own gets the English column. (The colours themselves are
// checked on screen by the skin and dialog tests.)
TEST(SkinColours, ColumnFollowsThePrimaryLanguage) {
  const auto column = [](uint16_t language) {
    InitSkinColours(language);
    std::string colours;
    for (int slot = 0; slot <= 7; ++slot) colours += std::to_string(SkinColour(slot)) + " ";
    return colours;
  };
  const std::string english = column(0x0409), german = column(0x0407), french = column(0x040C);
  EXPECT_NE(german, english);
  EXPECT_NE(french, english);
  EXPECT_NE(french, german);
  EXPECT_EQ(column(0x0C07), german);  // Austrian German
  EXPECT_EQ(column(0x080C), french);  // Belgian French
  EXPECT_EQ(column(0x0809), english);
  EXPECT_EQ(column(0x0411), english);  // Japanese
  InitSkinColours(0x0409);
}

TEST(CError, DescriptionAddsTheSystemTextOrTheTransferText) {
  SetLastResponseText("");
  EXPECT_EQ(CError(0, "Plain text.").Description(), "Plain text.");
  // A system code: its text follows after one blank, the line break removed.
  const std::string denied = CError(ERROR_ACCESS_DENIED, "Cannot write.").Description();
  EXPECT_EQ(denied.compare(0, 14, "Cannot write. "), 0) << denied;
  EXPECT_GT(denied.size(), 14u);
  EXPECT_EQ(denied.find("\r\n"), std::string::npos);

  // A WinInet code's text replacing the error's own is the end-to-end
  // update's (the server down); the server's last response text goes before it.
  ASSERT_TRUE(BindWinInet());
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

}  // namespace
