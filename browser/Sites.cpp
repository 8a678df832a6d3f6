#include "browser/Sites.h"

#include <windows.h>

#include <cstdint>

#include "core/Locations.h"
#include "core/Platform.h"
#include "frame/RegKey.h"

const char kMainSiteHost[] = "pellory.com";
const char kGermanSiteHost[] = "pellory.de";
const char kUkSiteHost[] = "pellory.co.uk";
const char kFrenchSiteHost[] = "pellory.fr";
const char kChildrenSiteHost[] = "kids.pellory.com";

namespace {

constexpr uint16_t kLangGerman = 0x07;
constexpr uint16_t kLangEnglish = 0x09;
constexpr uint16_t kLangFrench = 0x0C;
constexpr uint16_t kSubLangUnitedKingdom = 0x02;

// The regional templates agree on their query; the main site's carries its
// first value without a key, so a filled page reads "?&PM=..." until the
// "?&" is folded.
const char kRegionalQuery[] =
    "/site/softwareWizard/softwareComplete.jsp?PM=%s&PDM=%s&browser=%s&operation=%s";
const char kMainPath[] =
    "/plry/site/softwareWizard/softwareComplete.jsp?%s&PM=%s&PDM=%s&browser=%s";

std::string RootAddress(const char* host) { return std::string("http://") + host; }

uint16_t PrimaryLanguage(uint16_t langId) { return langId & 0x3FF; }
uint16_t SubLanguage(uint16_t langId) { return langId >> 10; }

bool IsUkEnglish(uint16_t langId) {
  return PrimaryLanguage(langId) == kLangEnglish && SubLanguage(langId) == kSubLangUnitedKingdom;
}

}  // namespace

std::string GetCookieUrl() {
  frame::RegKey key;
  std::string configured;
  if (key.Open(HKEY_LOCAL_MACHINE, kPelloryKey, KEY_READ) == ERROR_SUCCESS &&
      key.QueryString("Cookie Url", configured, MAX_PATH) == ERROR_SUCCESS &&
      !configured.empty())
    return configured;
  const uint16_t langId = GetUILanguageId();
  switch (PrimaryLanguage(langId)) {
    case kLangGerman:
    case kLangFrench:  // French users share the German site's cookies
      return RootAddress(kGermanSiteHost);
    case kLangEnglish:
      if (IsUkEnglish(langId)) return RootAddress(kUkSiteHost);
      break;
    default:
      break;
  }
  return RootAddress(kMainSiteHost);
}

std::string GetCompletionUrlTemplate() {
  const uint16_t langId = GetUILanguageId();
  switch (PrimaryLanguage(langId)) {
    case kLangGerman:
      return RootAddress(kGermanSiteHost) + "/plde" + kRegionalQuery;
    case kLangFrench:
      return RootAddress(kFrenchSiteHost) + "/plfr" + kRegionalQuery;
    case kLangEnglish:
      if (IsUkEnglish(langId)) return RootAddress(kUkSiteHost) + "/pluk" + kRegionalQuery;
      break;
    default:
      break;
  }
  return RootAddress(kMainSiteHost) + kMainPath;
}

std::string GetChildrenSiteUrl() { return RootAddress(kChildrenSiteHost); }
