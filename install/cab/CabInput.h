// The decoder reads cabinets through this small interface, so that the Windows
// front (runtime file handles), the native tool (stdio) and tests (memory)
// plug in alike. Nothing in the decoder core touches a file system.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace cab {

class CabInput {
 public:
  virtual ~CabInput() = default;
  // Reads up to `size` bytes at the current position; returns the count read
  // (short at end of file or on an error).
  virtual size_t Read(void* buffer, size_t size) = 0;
  // Moves to an absolute position; false when that fails.
  virtual bool Seek(uint64_t position) = 0;
  // Total size in bytes, or -1 when unknown.
  virtual int64_t Size() = 0;
};

// A cabinet held in memory (tests, fuzzing). Does not own the bytes.
class MemoryCabInput : public CabInput {
 public:
  MemoryCabInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  explicit MemoryCabInput(const std::vector<uint8_t>& bytes)
      : data_(bytes.data()), size_(bytes.size()) {}

  size_t Read(void* buffer, size_t size) override;
  bool Seek(uint64_t position) override;
  int64_t Size() override { return static_cast<int64_t>(size_); }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

}  // namespace cab
