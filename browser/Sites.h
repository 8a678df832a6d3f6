// The maker's web sites: their host names (named only in Sites.cpp), the
// site address the cookies belong to, the completion page's address template
// and the children's site. A site address is a root address such as
// "http://www.example.test", without path or trailing "/".
#pragma once

#include <string>

extern const char kMainSiteHost[];
extern const char kGermanSiteHost[];
extern const char kUkSiteHost[];
extern const char kFrenchSiteHost[];
extern const char kChildrenSiteHost[];

// The "Cookie Url" value under HKLM\Software\Pellory when it is set, else the
// site of the user's language (German and French users: the German site).
std::string GetCookieUrl();
// The completion page of the user's language, with four "%s" places.
std::string GetCompletionUrlTemplate();
// The root address of the children's site.
std::string GetChildrenSiteUrl();
