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

// Drive and folder of a path ("C:\a\b.cab" -> "C:\a\"); "" when it has none.
std::string FolderPart(const std::string& path);

// True for "C:..." and for paths that begin with "\" or "/".
bool IsAbsoluteLocalPath(const std::string& path);

// The disk path for a file URL's path: an absolute path stands; a relative
// one is taken in `baseFolder` (the catalogue's folder).
std::string LocalPathForUrlPath(const std::string& urlPath, const std::string& baseFolder);
