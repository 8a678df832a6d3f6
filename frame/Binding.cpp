#include "frame/Binding.h"

namespace frame {

LibraryBinding::~LibraryBinding() {
  if (module_) ::FreeLibrary(module_);
}

bool LibraryBinding::Bind(const char* library, const FunctionSlot* slots, size_t count) {
  if (tried_) return bound_;
  tried_ = true;
  HMODULE module = ::LoadLibraryA(library);
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
