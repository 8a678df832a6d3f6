// The browsers' cookie stores that the uninstaller empties (or, where it
// cannot write them, reads): Internet Explorer through WinInet and its cookie
// files, Firefox's "cookies.sqlite" and "cookies.txt". A site address is a
// root address such as "http://www.example.test" (no path, no trailing "/").
// Every failure is silent: false or an empty value, nothing logged.
#pragma once

#include <string>

// Sets a cookie through WinInet (systems before Windows Vista).
bool SetInternetExplorerCookie(const std::string& siteAddress, const std::string& name,
                               const std::string& value);
// The value of the first matching record in the user's cookie folder, or "".
std::string ReadInternetExplorerCookie(const std::string& siteAddress, const std::string& name);
// The first Firefox profile folder, with a trailing "\", or "".
std::string FindFirefoxProfileFolder();
bool IsFirefox3OrLater();
// Sets the cookie in the first profile's store; false when nothing was written.
bool SetFirefoxCookie(const std::string& siteAddress, const std::string& name,
                      const std::string& value);
