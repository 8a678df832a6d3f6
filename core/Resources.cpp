#include "core/Resources.h"

#include <vector>

#include "core/Platform.h"
#include "core/TextConvert.h"
#include "frame/Module.h"

namespace {

LANGID g_preferred = 0;

bool UseRedirection() { return IsNT(); }

LANGID PreferredLanguage() {
  return g_preferred ? g_preferred : ::GetUserDefaultLangID();
}

// Copies the narrow text of one string-table entry, cut to `capacity`-1.
std::string StringFromBlock(const WCHAR* block, DWORD blockBytes, UINT entry) {
  const WCHAR* p = block;
  const WCHAR* end = block + blockBytes / sizeof(WCHAR);
  for (UINT i = 0; i < entry && p < end; ++i) p += 1 + *p;
  if (p >= end) return std::string();
  const int length = static_cast<int>(*p);
  if (length == 0 || p + 1 + length > end) return std::string();
  return WideToAnsi(p + 1, static_cast<size_t>(length));
}

}  // namespace

void SetPreferredResourceLanguage(LANGID language) { g_preferred = language; }

HRSRC FindLocalizedResource(LPCSTR type, LPCSTR name) {
  HMODULE module = frame::TheModule().Instance();
  if (!UseRedirection()) return ::FindResourceA(module, name, type);
  const LANGID user = PreferredLanguage();
  const LANGID order[] = {user, MAKELANGID(PRIMARYLANGID(user), SUBLANG_DEFAULT),
                          MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL)};
  for (LANGID language : order) {
    if (HRSRC found = ::FindResourceExA(module, type, name, language)) return found;
  }
  return nullptr;
}

const void* LoadLocalizedResource(LPCSTR type, LPCSTR name, DWORD* size) {
  HMODULE module = frame::TheModule().Instance();
  HRSRC found = FindLocalizedResource(type, name);
  if (!found) return nullptr;
  HGLOBAL loaded = ::LoadResource(module, found);
  if (!loaded) return nullptr;
  if (size) *size = ::SizeofResource(module, found);
  return ::LockResource(loaded);
}

std::string LoadResString(UINT id) {
  constexpr size_t kLongest = 779;  // the longer of the two buffers, less its terminator
  std::string text;
  if (UseRedirection()) {
    DWORD size = 0;
    auto block = static_cast<const WCHAR*>(
        LoadLocalizedResource(RT_STRING, MAKEINTRESOURCEA((id >> 4) + 1), &size));
    if (!block) return std::string();
    text = StringFromBlock(block, size, id & 15);
  } else {
    std::vector<char> buffer(kLongest + 1, '\0');
    int length = ::LoadStringA(frame::TheModule().Instance(), id, buffer.data(),
                               static_cast<int>(buffer.size()));
    text.assign(buffer.data(), length > 0 ? static_cast<size_t>(length) : 0);
  }
  if (text.size() > kLongest) text.resize(kLongest);
  return text;
}

const DLGTEMPLATE* FindDialogTemplate(UINT id) {
  return static_cast<const DLGTEMPLATE*>(LoadLocalizedResource(RT_DIALOG, MAKEINTRESOURCEA(id)));
}
