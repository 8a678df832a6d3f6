// Owners for COM interface pointers and BSTRs, so that every object the
// scheduled launch takes is released on every way out.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>

namespace tasks {

template <class Interface>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ~ComPtr() { reset(); }

  Interface* get() const { return object_; }
  Interface* operator->() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }
  void reset() {
    if (object_) object_->Release();
    object_ = nullptr;
  }
  // For out-parameters: releases what is held and hands out the slot.
  Interface** put() {
    reset();
    return &object_;
  }
  void** put_void() { return reinterpret_cast<void**>(put()); }

 private:
  Interface* object_ = nullptr;
};

// A new BSTR holding an ANSI text (system code page); null when out of memory.
BSTR AllocBstr(const std::string& text);

// A BSTR made from an ANSI text, freed on destruction.
class Bstr {
 public:
  explicit Bstr(const std::string& text);
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  ~Bstr() { ::SysFreeString(value_); }
  BSTR get() const { return value_; }

 private:
  BSTR value_ = nullptr;
};

// A VARIANT holding a BSTR copy of an ANSI text, cleared on destruction.
class BstrVariant {
 public:
  explicit BstrVariant(const std::string& text);
  BstrVariant(const BstrVariant&) = delete;
  BstrVariant& operator=(const BstrVariant&) = delete;
  ~BstrVariant() { ::VariantClear(&value_); }
  const VARIANT& get() const { return value_; }

 private:
  VARIANT value_;
};

}  // namespace tasks
