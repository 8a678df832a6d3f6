// Splitting URLs with WinInet's cracker, after resolving relative names
// against the catalogue URL.
#pragma once

#include <windows.h>

#include <string>

// The catalogue URL: the "URL" switch value, else the built-in one (string 1015).
std::string CatalogueUrl();

// Splits a URL (relative ones first joined to the catalogue URL's folder) into
// host and path, escape sequences decoded; scheme and port when asked for.
// False on failure, with the layer's last error set and a log line.
bool CrackUrl(const std::string& url, std::string& host, std::string& path,
              std::string* scheme = nullptr, WORD* port = nullptr);

// The service for a URL's scheme: "ftp" -> FTP, "file" -> local files,
// anything else -> HTTP (case ignored).
DWORD ServiceForScheme(const std::string& scheme);
