// The cookie file formats, as plain text logic: Internet Explorer's cookie
// file records (read only) and the lines of Firefox's "cookies.txt". Nothing
// here touches the disk.
#pragma once

#include <string>
#include <vector>

// "%XY" becomes the byte XY, then every "+" becomes a space.
std::string DecodeCookieValue(const std::string& text);

// The host of a site address: everything after the first "://" (the whole
// text when it has none).
std::string CookieHostOf(const std::string& siteAddress);

struct InternetExplorerCookie {
  std::string name;
  std::string value;  // decoded
  std::string host;   // host and path, one trailing "/" dropped
};

// The records of one cookie file: name, value and host lines, then lines up
// to the end marker "*". A record cut off before its marker is not taken.
std::vector<InternetExplorerCookie> ParseInternetExplorerCookies(const std::string& text);

// "cookies.txt" with the cookie `name` of the site set to `value`: the first
// record of that site (its domain the site address or its host) and name
// gets the new value and keeps its other fields; without one, a record for
// the host, path "/", neither domain-wide nor secure, expiring at `expiry`, is
// appended. Every other byte of the text stays as it was.
std::string SetCookiesTxtCookie(const std::string& text, const std::string& siteAddress,
                                const std::string& name, const std::string& value,
                                long long expiry);
