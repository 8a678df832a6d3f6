// MD5 (RFC 1321), for the tool's and the tests' digests of decoded members.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace cab {

class Md5 {
 public:
  Md5();
  void Update(const void* data, size_t size);
  // Lower-case hex digest; the object is spent afterwards.
  std::string HexDigest();

 private:
  void Transform(const uint8_t block[64]);
  uint32_t state_[4];
  uint64_t length_ = 0;
  uint8_t buffer_[64];
  size_t used_ = 0;
};

}  // namespace cab
