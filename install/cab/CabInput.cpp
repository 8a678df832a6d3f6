#include "install/cab/CabInput.h"

#include <cstring>

namespace cab {

size_t MemoryCabInput::Read(void* buffer, size_t size) {
  size_t left = size_ - pos_;
  if (size > left) size = left;
  if (size) std::memcpy(buffer, data_ + pos_, size);
  pos_ += size;
  return size;
}

bool MemoryCabInput::Seek(uint64_t position) {
  if (position > size_) return false;
  pos_ = static_cast<size_t>(position);
  return true;
}

}  // namespace cab
