// Checks the resources linked into this test program exactly as into
// Upgrade.exe: every identifier of StringIds.h in each of the four string
// tables, the printf placeholders of every translation against US English,
// a few original texts, the icon and the version block.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <iterator>
#include <map>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "resources/StringIds.h"

namespace {

struct StringId {
  UINT id;
  const char* name;
};

// Generated at build time from the IDS_ lines of StringIds.h.
const StringId kStringIds[] = {
#include "StringIdTable.inc"
};

struct Language {
  LANGID id;
  const char* name;
};

// Names the language in failure messages of the parameterised tests.
void PrintTo(const Language& language, std::ostream* os) { *os << language.name; }

const LANGID kNeutral = MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL);
const Language kLanguages[] = {
    {kNeutral, "UsEnglishNeutral"},
    {MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_UK), "BritishEnglish"},
    {MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN), "German"},
    {MAKELANGID(LANG_FRENCH, SUBLANG_FRENCH), "French"},
};

// LoadResString cuts longer texts (its larger buffer less the terminator).
constexpr size_t kLongestLoadable = 779;

// Strings live in blocks of 16: block (id >> 4) + 1, entry id & 15.
UINT BlockOf(UINT id) { return (id >> 4) + 1; }

struct BlockData {
  const void* address = nullptr;
  std::vector<std::wstring> entries;  // 16 texts, empty where there is none
};

// Reads one language's block; false when it is missing or malformed. Each
// entry is a 16-bit length followed by that many UTF-16 units.
bool LoadBlock(UINT block, LANGID language, BlockData* out) {
  HMODULE module = ::GetModuleHandleA(nullptr);
  HRSRC found = ::FindResourceExA(module, RT_STRING, MAKEINTRESOURCEA(block), language);
  if (!found) return false;
  HGLOBAL loaded = ::LoadResource(module, found);
  if (!loaded) return false;
  const auto* p = static_cast<const WCHAR*>(::LockResource(loaded));
  const DWORD bytes = ::SizeofResource(module, found);
  if (!p) return false;
  const WCHAR* end = p + bytes / sizeof(WCHAR);
  out->address = p;
  out->entries.assign(16, std::wstring());
  for (auto& entry : out->entries) {
    if (p >= end) return false;
    const size_t length = *p++;
    if (length > static_cast<size_t>(end - p)) return false;
    entry.assign(p, length);
    p += length;
  }
  return true;
}

// The text of one string in one language; empty when missing.
std::wstring LoadText(UINT id, LANGID language) {
  BlockData block;
  if (!LoadBlock(BlockOf(id), language, &block)) return std::wstring();
  return block.entries[id & 15];
}

BOOL CALLBACK CollectLanguage(HMODULE, LPCSTR, LPCSTR, WORD language, LONG_PTR param) {
  reinterpret_cast<std::set<LANGID>*>(param)->insert(language);
  return TRUE;
}

// Languages in which a resource exists, without any lookup fallback.
std::set<LANGID> LanguagesOf(LPCSTR type, LPCSTR name) {
  std::set<LANGID> languages;
  ::EnumResourceLanguagesA(::GetModuleHandleA(nullptr), type, name, CollectLanguage,
                           reinterpret_cast<LONG_PTR>(&languages));
  return languages;
}

// The conversions of a printf format in order, each as what decides the type
// of its argument: "*" for a star width or precision, then the length
// modifier and the conversion letter ("d", "s", "I64u", "3.1f" gives "f").
// "%%" takes no argument. A malformed conversion gives "?" and the rest.
std::vector<std::wstring> Placeholders(const std::wstring& text) {
  std::vector<std::wstring> found;
  for (size_t i = text.find(L'%'); i != std::wstring::npos; i = text.find(L'%', i)) {
    if (++i < text.size() && text[i] == L'%') {
      ++i;
      continue;
    }
    for (; i < text.size() && wcschr(L"-+ #0123456789.*", text[i]); ++i)
      if (text[i] == L'*') found.push_back(L"*");
    const size_t start = i;
    while (i < text.size() && wcschr(L"hlLIjztw3264", text[i])) ++i;
    if (i >= text.size() || !wcschr(L"diouxXeEfgGaAcspn", text[i])) {
      found.push_back(L"?" + text.substr(start));
      break;
    }
    ++i;
    found.push_back(text.substr(start, i - start));
  }
  return found;
}

std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) {
    if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      char hex[12];
      snprintf(hex, sizeof hex, "\\u%04X", static_cast<unsigned>(c));
      out += hex;
    }
  }
  return out;
}

std::string JoinPlaceholders(const std::wstring& text) {
  std::string out;
  for (const auto& p : Placeholders(text)) out += "%" + Narrow(p) + " ";
  return out;
}

TEST(PlaceholderParserTest, FindsKindsInOrder) {
  struct Case {
    const wchar_t* text;
    std::vector<std::wstring> expected;
  };
  const Case cases[] = {
      {L"no placeholder", {}},
      {L"100%% done", {}},
      {L"Error 0x0%x. %s", {L"x", L"s"}},
      {L"%3.1f MB/sec", {L"f"}},
      {L"%I64u of %-10lu", {L"I64u", L"lu"}},
      {L"%*d", {L"*", L"d"}},
      {L"broken %", {L"?"}},
      {L"broken %q", {L"?q"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(c.text));
    EXPECT_EQ(Placeholders(c.text), c.expected);
  }
}

TEST(StringIdsTest, EveryIdentifierHasItsOwnNumber) {
  ASSERT_GT(std::size(kStringIds), 0u);
  std::map<UINT, const char*> seen;
  for (const StringId& s : kStringIds) {
    auto inserted = seen.emplace(s.id, s.name);
    EXPECT_TRUE(inserted.second) << s.name << " reuses " << s.id << " of " << inserted.first->second;
  }
}

// Every block exists in exactly the four languages and holds no string that
// the header does not name.
TEST(StringTableTest, EveryBlockExistsInExactlyTheFourLanguages) {
  const std::set<LANGID> expected = {kLanguages[0].id, kLanguages[1].id, kLanguages[2].id,
                                     kLanguages[3].id};
  std::set<UINT> known, blocks;
  for (const StringId& s : kStringIds) {
    known.insert(s.id);
    blocks.insert(BlockOf(s.id));
  }
  for (UINT block : blocks) {
    SCOPED_TRACE("block " + std::to_string(block));
    EXPECT_EQ(LanguagesOf(RT_STRING, MAKEINTRESOURCEA(block)), expected);
    // The neutral lookup must give the neutral table, not a translation that
    // the system's own fallback picked for it.
    std::set<const void*> addresses;
    for (const Language& language : kLanguages) {
      BlockData data;
      ASSERT_TRUE(LoadBlock(block, language.id, &data)) << language.name;
      addresses.insert(data.address);
      for (UINT entry = 0; entry < 16; ++entry) {
        const UINT id = (block - 1) * 16 + entry;
        EXPECT_TRUE(data.entries[entry].empty() || known.count(id))
            << language.name << ": string " << id;
      }
    }
    EXPECT_EQ(addresses.size(), std::size(kLanguages));
  }
}

// The US English texts are the original program's, character for character:
// these are the ones whose oddities (a misspelling, doubled blanks) invite a
// "fix". (A quote and line break the resource compiler must keep, and the
// three blanks after a colon, show in the update-flow and progress tests.)
TEST(StringTableTest, UsEnglishTextsAreTheOriginals) {
  struct Case {
    UINT id;
    const wchar_t* text;
  };
  const Case cases[] = {
      {IDS_NOT_ADMINISTRATOR,
       L"You must have an administrative priviliges to update PelloryManager or add additional "
       L"components. Your current system account does not have administrative priviliges. To "
       L"upgrade Pellory software please log on using the same administrative account you "
       L"installed PelloryManager from."},
      {IDS_CONFIRM_REBOOT,
       L"In order to complete the installation of new components, you must reboot  your computer "
       L"before continuing to use Pellory software. \nDo you want to reboot your computer now?"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    EXPECT_EQ(Narrow(LoadText(c.id, kNeutral)), Narrow(c.text));
  }
}

TEST(StringTableTest, NamesAndAddressesAreTheSameInEveryLanguage) {
  // The product name is also the uninstall registry key's name.
  const UINT fixed[] = {IDS_PRODUCT_NAME, IDS_CATALOG_URL, IDS_SITE_DISPLAY_NAME};
  for (UINT id : fixed) {
    SCOPED_TRACE(id);
    const std::wstring us = LoadText(id, kNeutral);
    for (const Language& language : kLanguages) {
      EXPECT_EQ(Narrow(LoadText(id, language.id)), Narrow(us)) << language.name;
    }
  }
}

class StringTableLanguageTest : public ::testing::TestWithParam<Language> {};

TEST_P(StringTableLanguageTest, EveryStringExistsAndKeepsItsPlaceholders) {
  const LANGID language = GetParam().id;
  for (const StringId& s : kStringIds) {
    SCOPED_TRACE(s.name);
    const std::wstring us = LoadText(s.id, kNeutral);
    const std::wstring text = LoadText(s.id, language);
    ASSERT_FALSE(text.empty());
    // A dropped or retyped placeholder would make the formatting read the
    // wrong argument, which for a %s can crash the program.
    EXPECT_EQ(JoinPlaceholders(text), JoinPlaceholders(us)) << Narrow(text);
    for (const auto& p : Placeholders(text)) EXPECT_NE(p[0], L'?') << Narrow(text);
    EXPECT_EQ(std::count(text.begin(), text.end(), L'\n'), std::count(us.begin(), us.end(), L'\n'))
        << Narrow(text);
    EXPECT_LE(text.size(), kLongestLoadable);
    // C1 controls appear when Windows-1252 bytes were read as Latin-1. (A
    // table saved as UTF-8 shows in the end-to-end language test's texts.)
    const bool misread = std::any_of(text.begin(), text.end(), [](wchar_t c) {
      return (c >= 0x80 && c <= 0x9F) || c == 0xFFFD || (c < 0x20 && c != L'\n');
    });
    EXPECT_FALSE(misread) << Narrow(text);
  }
}

INSTANTIATE_TEST_SUITE_P(Languages, StringTableLanguageTest, ::testing::ValuesIn(kLanguages),
                         [](const ::testing::TestParamInfo<Language>& info) {
                           return std::string(info.param.name);
                         });

// Little-endian fields of an icon group directory: a 6-byte header whose
// count sits at offset 4, then 14-byte entries with the width at offset 0.
constexpr size_t kGroupCountOffset = 4;
constexpr size_t kGroupHeaderSize = 6;
constexpr size_t kGroupEntrySize = 14;

TEST(IconTest, AppIconHoldsBothSizesAndLoads) {
  HMODULE module = ::GetModuleHandleA(nullptr);
  EXPECT_EQ(LanguagesOf(RT_GROUP_ICON, MAKEINTRESOURCEA(IDI_APP)), std::set<LANGID>{kNeutral});
  HRSRC group = ::FindResourceExA(module, RT_GROUP_ICON, MAKEINTRESOURCEA(IDI_APP), kNeutral);
  ASSERT_NE(group, nullptr);
  const auto* bytes = static_cast<const uint8_t*>(::LockResource(::LoadResource(module, group)));
  const DWORD size = ::SizeofResource(module, group);
  ASSERT_NE(bytes, nullptr);
  ASSERT_GE(size, kGroupHeaderSize);
  const unsigned count = bytes[kGroupCountOffset] | (bytes[kGroupCountOffset + 1] << 8);
  ASSERT_GE(size, kGroupHeaderSize + count * kGroupEntrySize);
  std::set<unsigned> widths;
  for (unsigned i = 0; i < count; ++i) widths.insert(bytes[kGroupHeaderSize + i * kGroupEntrySize]);
  EXPECT_EQ(widths, (std::set<unsigned>{16, 32}));

  for (int side : {16, 32}) {
    HANDLE icon = ::LoadImageA(module, MAKEINTRESOURCEA(IDI_APP), IMAGE_ICON, side, side, 0);
    EXPECT_NE(icon, nullptr) << side;
    if (icon) ::DestroyIcon(static_cast<HICON>(icon));
  }
}

// What Explorer's properties page shows must agree with itself: the numbers
// in the fixed block and the texts beside them are kept in two places.
TEST(VersionTest, VersionTextsAgreeWithTheVersionNumbers) {
  char path[MAX_PATH] = {};
  ASSERT_GT(::GetModuleFileNameA(nullptr, path, MAX_PATH), 0u);
  DWORD handle = 0;
  std::vector<char> data(::GetFileVersionInfoSizeA(path, &handle));
  ASSERT_FALSE(data.empty());
  ASSERT_TRUE(::GetFileVersionInfoA(path, 0, static_cast<DWORD>(data.size()), data.data()));
  // The value under `key`; null when there is none.
  auto query = [&](const std::string& key, UINT* length) -> void* {
    void* value = nullptr;
    return ::VerQueryValueA(data.data(), key.c_str(), &value, length) ? value : nullptr;
  };
  UINT length = 0;
  const auto* fixed = static_cast<VS_FIXEDFILEINFO*>(query("\\", &length));
  ASSERT_TRUE(fixed && length >= sizeof(VS_FIXEDFILEINFO));
  const auto* translation = static_cast<WORD*>(query("\\VarFileInfo\\Translation", &length));
  ASSERT_TRUE(translation && length >= 4u);
  char block[64];
  wsprintfA(block, "\\StringFileInfo\\%04x%04x\\", translation[0], translation[1]);
  auto text = [&](const char* name) {
    const char* value = static_cast<const char*>(query(std::string(block) + name, &length));
    return value ? std::string(value) : std::string("<missing ") + name + ">";
  };
  auto dotted = [](DWORD ms, DWORD ls) {
    char out[48];
    wsprintfA(out, "%u.%u.%u.%u", HIWORD(ms), LOWORD(ms), HIWORD(ls), LOWORD(ls));
    return std::string(out);
  };
  EXPECT_EQ(text("FileVersion"), dotted(fixed->dwFileVersionMS, fixed->dwFileVersionLS));
  EXPECT_EQ(text("ProductVersion"), dotted(fixed->dwProductVersionMS, fixed->dwProductVersionLS));
  EXPECT_EQ(text("OriginalFilename"), "Upgrade.exe");
  EXPECT_NE(text("FileDescription"), "<missing FileDescription>");
  EXPECT_NE(text("FileDescription"), "");
}

}  // namespace
