// URL and path text rules of the transfer layer, kept apart from WinInet so
// that they are plain functions: which names are relative, how they join
// their base, and where a file URL's path points on disk.
#pragma once

#include <string>

// A URL is relative unless "tp://" or "file://" occurs in it anywhere. So
// "https://..." counts as relative (it has neither).
bool IsRelativeUrl(const std::string& url);

// A relative URL goes after the base up to and including the base's last "/";
// any other URL is returned as it is.
std::string ResolveUrl(const std::string& url, const std::string& base);

// The scheme of a URL in lower case ("http" for "HTTP://h/x"); "" when the
// text does not begin with one.
std::string UrlScheme(const std::string& url);

// Whether the catalogue read from `catalogueUrl` may send the program to
// `source` (as the catalogue names it, resolved against the catalogue URL).
// A catalogue read over the network names HTTP or HTTPS sources only: a
// "file://" source would make the system open a share on whatever host it
// names and offer the user's network credentials there. A catalogue read
// from a file URL (a local copy the user pointed the program at) may name
// any source. A refusal is logged.
bool IsSourceAllowed(const std::string& source, const std::string& catalogueUrl);

// Drive and folder of a path ("C:\a\b.cab" -> "C:\a\"); "" when it has none.
std::string FolderPart(const std::string& path);

// True for "C:..." and for paths that begin with "\" or "/".
bool IsAbsoluteLocalPath(const std::string& path);

// The disk path for a file URL's path: an absolute path stands; a relative
// one is taken in `baseFolder` (the catalogue's folder).
std::string LocalPathForUrlPath(const std::string& urlPath, const std::string& baseFolder);
