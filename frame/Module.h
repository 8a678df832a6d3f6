// The module object: the program's instance handle, set once at start-up and
// read by everything that loads resources or creates windows.
#pragma once

#include <windows.h>

namespace frame {

class Module {
 public:
  void Init(HINSTANCE instance) { instance_ = instance; }
  void Term() { terminated_ = true; }
  HINSTANCE Instance() const { return instance_ ? instance_ : ::GetModuleHandleA(nullptr); }
  bool Terminated() const { return terminated_; }

 private:
  HINSTANCE instance_ = nullptr;
  bool terminated_ = false;
};

// The process's one module object.
Module& TheModule();

}  // namespace frame
