#include "uninstall/UninstallCatalogue.h"

#include <vector>

#include "catalog/ComponentCatalog.h"
#include "core/Log.h"
#include "frame/Handle.h"

namespace {

// Far above any real catalogue; a larger file is not one.
constexpr LONGLONG kLargestCatalogue = 16 * 1024 * 1024;

DWORD Refuse(const std::string& path, const char* why, DWORD error) {
  LogFormat("The uninstall catalogue '%s' cannot be used: %s. Error %lu.", path.c_str(), why,
            static_cast<unsigned long>(error));
  return error;
}

}  // namespace

DWORD ReadUninstallCatalogue(const std::string& path, UninstallCatalogue& catalogue) {
  // No other writer while it is read: the bytes are one version of the file.
  frame::ScopedFile file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    const DWORD error = ::GetLastError();
    return Refuse(path, "it cannot be opened", error ? error : ERROR_OPEN_FAILED);
  }
  LARGE_INTEGER size = {};
  if (!::GetFileSizeEx(file.get(), &size)) {
    const DWORD error = ::GetLastError();
    return Refuse(path, "its size cannot be read", error ? error : ERROR_READ_FAULT);
  }
  if (size.QuadPart <= 0 || size.QuadPart > kLargestCatalogue)
    return Refuse(path, "it is empty or too large", ERROR_INVALID_DATA);
  std::vector<char> bytes(static_cast<size_t>(size.QuadPart));
  DWORD read = 0;
  if (!::ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr)) {
    const DWORD error = ::GetLastError();
    return Refuse(path, "it cannot be read", error ? error : ERROR_READ_FAULT);
  }
  if (read != bytes.size()) return Refuse(path, "it was read short", ERROR_READ_FAULT);

  catalogue.sections.Parse(bytes.data(), bytes.size());
  std::vector<IniEntry> listed;
  if (!catalogue.sections.GetSectionEntries("Components", listed) || listed.empty())
    return Refuse(path, "it lists no component", ERROR_INVALID_DATA);
  LoadComponentsFrom(catalogue.components, catalogue.sections);
  // A component that does not parse means the file is not whole: what it
  // would have listed cannot be told from what is missing.
  if (catalogue.components.size() != listed.size())
    return Refuse(path, "a component it lists cannot be read", ERROR_INVALID_DATA);
  return 0;
}
