#include "transfer/CrackUrl.h"

#include <wininet.h>

#include "core/Log.h"
#include "core/Resources.h"
#include "core/Switches.h"
#include "resources/StringIds.h"
#include "transfer/TransferError.h"
#include "transfer/TransferSession.h"
#include "transfer/UrlResolution.h"
#include "transfer/WinInetApi.h"

namespace {

// Component buffers: the longest host, user name, password and path taken.
constexpr DWORD kSchemeChars = INTERNET_MAX_SCHEME_LENGTH;
constexpr DWORD kHostChars = 256;
constexpr DWORD kUserChars = 128;
constexpr DWORD kPathChars = 2048;

}  // namespace

std::string CatalogueUrl() {
  std::string url = GetSwitchValue("URL");
  if (url.empty()) url = LoadResString(IDS_CATALOG_URL);
  return url;
}

bool CrackUrl(const std::string& url, std::string& host, std::string& path, std::string* scheme,
              WORD* port) {
  const std::string full = ResolveUrl(url, CatalogueUrl());
  char schemeText[kSchemeChars + 1] = "";
  char hostText[kHostChars + 1] = "";
  char userText[kUserChars + 1] = "";
  char passwordText[kUserChars + 1] = "";
  char pathText[kPathChars + 1] = "";
  URL_COMPONENTSA parts = {};
  parts.dwStructSize = sizeof(parts);
  parts.lpszScheme = schemeText;
  parts.dwSchemeLength = sizeof(schemeText);
  parts.lpszHostName = hostText;
  parts.dwHostNameLength = sizeof(hostText);
  parts.lpszUserName = userText;
  parts.dwUserNameLength = sizeof(userText);
  parts.lpszPassword = passwordText;
  parts.dwPasswordLength = sizeof(passwordText);
  parts.lpszUrlPath = pathText;
  parts.dwUrlPathLength = sizeof(pathText);

  bool cracked = false;
  if (IsWinInetBound()) {
    cracked = WinInet().InternetCrackUrlA(full.c_str(), 0, ICU_DECODE, &parts) != FALSE;
    if (!cracked) TakeSystemError();
  } else {
    SetLastTransferError(ERROR_PROC_NOT_FOUND);
  }
  if (!cracked) {
    LogFormat("Faled to crack URL '%s'. Error 0x0%x. File %s, Line %d", full.c_str(),
              static_cast<unsigned>(GetLastTransferError()), kTransferSource, __LINE__);
    return false;
  }
  host = hostText;
  path = pathText;
  if (scheme) *scheme = schemeText;
  if (port) *port = parts.nPort;
  return true;
}

DWORD ServiceForScheme(const std::string& scheme) {
  if (::lstrcmpiA(scheme.c_str(), "ftp") == 0) return kServiceFtp;
  if (::lstrcmpiA(scheme.c_str(), "file") == 0) return kServiceFile;
  return kServiceHttp;
}
