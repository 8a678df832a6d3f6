// The maker's web sites: their host names (the only place that names them),
// the site address the cookies belong to, the completion page's address
// template and the children's site. A site address is a root address such as
// "http://pellory.com", without path or trailing "/".
#pragma once

#include <string>

extern const char kMainSiteHost[];      // "pellory.com"
extern const char kGermanSiteHost[];    // "pellory.de"
extern const char kUkSiteHost[];        // "pellory.co.uk"
extern const char kFrenchSiteHost[];    // "pellory.fr"
extern const char kChildrenSiteHost[];  // "kids.pellory.com"

// The "Cookie Url" value under HKLM\Software\Pellory when it is set, else the
// site of the user's language (German and French users: the German site).
std::string GetCookieUrl();
// The completion page of the user's language, with four "%s" places.
std::string GetCompletionUrlTemplate();
// The root address of the children's site.
std::string GetChildrenSiteUrl();
