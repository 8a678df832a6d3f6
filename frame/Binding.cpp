#include "frame/Binding.h"

namespace frame {

LibraryBinding::~LibraryBinding() {
  if (module_) ::FreeLibrary(module_);
}

bool LibraryBinding::Bind(const char* library, const FunctionSlot* slots, size_t count) {
  if (tried_) return bound_;
  tried_ = true;
  // A system library by its full path in the system folder, never by a name
  // that a folder searched before it could answer.
  char path[MAX_PATH] = "";
  const UINT length = ::GetSystemDirectoryA(path, MAX_PATH);
  if (length == 0 || length + 1 + ::lstrlenA(library) >= MAX_PATH) return false;
  ::lstrcatA(path, "\\");
  ::lstrcatA(path, library);
  HMODULE module = ::LoadLibraryA(path);
  if (reinterpret_cast<ULONG_PTR>(module) < 32) return false;
  module_ = module;
  bool all = true;
  for (size_t i = 0; i < count; ++i) {
    FARPROC address = ::GetProcAddress(module, slots[i].name);
    *slots[i].slot = reinterpret_cast<void*>(address);
    if (!address) all = false;
  }
  if (!all) {
    for (size_t i = 0; i < count; ++i) *slots[i].slot = nullptr;
  }
  bound_ = all;
  return bound_;
}

}  // namespace frame
