#include "transfer/UrlResolution.h"

#include <cctype>

#include "core/Log.h"

bool IsRelativeUrl(const std::string& url) {
  return url.find("tp://") == std::string::npos && url.find("file://") == std::string::npos;
}

std::string ResolveUrl(const std::string& url, const std::string& base) {
  if (!IsRelativeUrl(url)) return url;
  const size_t slash = base.rfind('/');
  if (slash == std::string::npos) return url;
  return base.substr(0, slash + 1) + url;
}

std::string UrlScheme(const std::string& url) {
  std::string scheme;
  for (const char c : url) {
    if (c == ':') return scheme;
    const bool first = scheme.empty();
    if (!std::isalpha(static_cast<unsigned char>(c)) &&
        (first || !(std::isdigit(static_cast<unsigned char>(c)) || c == '+' || c == '-' ||
                    c == '.')))
      return std::string();
    scheme.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
  }
  return std::string();
}

bool IsSourceAllowed(const std::string& source, const std::string& catalogueUrl) {
  if (UrlScheme(catalogueUrl) == "file") return true;
  const std::string resolved = ResolveUrl(source, catalogueUrl);
  const std::string scheme = UrlScheme(resolved);
  if (scheme == "http" || scheme == "https") return true;
  LogFormat("Refused to download '%s': a catalogue from '%s' may name HTTP sources only.",
            resolved.c_str(), catalogueUrl.c_str());
  return false;
}

std::string FolderPart(const std::string& path) {
  const size_t separator = path.find_last_of("\\/");
  if (separator != std::string::npos) return path.substr(0, separator + 1);
  // "C:name": the drive alone.
  if (path.size() >= 2 && path[1] == ':') return path.substr(0, 2);
  return std::string();
}

bool IsAbsoluteLocalPath(const std::string& path) {
  if (path.empty()) return false;
  if (path[0] == '\\' || path[0] == '/') return true;
  return path.size() >= 2 && path[1] == ':' &&
         std::isalpha(static_cast<unsigned char>(path[0]));
}

std::string LocalPathForUrlPath(const std::string& urlPath, const std::string& baseFolder) {
  if (IsAbsoluteLocalPath(urlPath)) return urlPath;
  return baseFolder + urlPath;
}
