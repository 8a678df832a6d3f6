#include "ui/skin/SkinColours.h"

namespace {

constexpr COLORREF kGerman[6] = {0x49B56C, 0x000000, 0x49B56C, 0x49B56C, 0x66CC99, 0x336633};
constexpr COLORREF kFrench[6] = {0xAAFFDF, 0x000000, 0xAAFFDF, 0xAAFFDF, 0x66FFCC, 0x990099};
constexpr COLORREF kOther[6] = {0x83E8D2, 0x000000, 0x51A293, 0x95DACD, 0x65CAB5, 0x357853};

const COLORREF* g_table = nullptr;

}  // namespace

void InitSkinColours(uint16_t uiLanguageId) {
  switch (PRIMARYLANGID(uiLanguageId)) {
    case LANG_GERMAN: g_table = kGerman; break;
    case LANG_FRENCH: g_table = kFrench; break;
    default: g_table = kOther; break;
  }
}

COLORREF SkinColour(int slot) {
  // Start-up fills the table from the interface language; anything drawn
  // before that takes the user's default language, which is the same on NT.
  if (!g_table) InitSkinColours(::GetUserDefaultLangID());
  if (slot < 1 || slot > 6) return 0;
  return g_table[slot - 1];
}
