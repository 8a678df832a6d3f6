// Run-time binding of system libraries: load a library once and take a set of
// functions from it; the binding fails unless every function is present.
#pragma once

#include <windows.h>

#include <cstddef>

namespace frame {

struct FunctionSlot {
  const char* name;
  void** slot;  // receives the address; cleared on failure
};

class LibraryBinding {
 public:
  LibraryBinding() = default;
  LibraryBinding(const LibraryBinding&) = delete;
  LibraryBinding& operator=(const LibraryBinding&) = delete;
  ~LibraryBinding();

  // Loads `library` (a handle below 32 counts as a failed load) and fills the
  // slots. Done once: later calls return the first result.
  bool Bind(const char* library, const FunctionSlot* slots, size_t count);
  bool IsBound() const { return bound_; }
  HMODULE Module() const { return module_; }

 private:
  HMODULE module_ = nullptr;
  bool tried_ = false;
  bool bound_ = false;
};

template <class Fn>
void** Slot(Fn*& fn) {
  return reinterpret_cast<void**>(&fn);
}

}  // namespace frame
