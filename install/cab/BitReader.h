// Bit readers over one data block's bytes. Both keep a 64-bit buffer and,
// past the end of the input, feed zero bytes while counting them: a codec may
// look ahead a little, but Overrun() tells when it consumed bits that were
// never there, and the pad is capped so damaged input cannot spin.
#pragma once

#include <cstddef>
#include <cstdint>

#include "install/cab/ByteOrder.h"
#include "install/cab/HuffmanTable.h"

namespace cab {

// Zero bytes a reader may invent past the end before it reports overrun.
constexpr size_t kMaxPadBytes = 16;

// The input side of the byte-wise readers: the block's bytes in order, then
// zeros, counted as padding.
struct PaddedBytes {
  const uint8_t* begin = nullptr;
  const uint8_t* p = nullptr;
  const uint8_t* end = nullptr;
  size_t pad = 0;

  void Start(const uint8_t* in, size_t size) {
    begin = p = in;
    end = in + size;
    pad = 0;
  }
  uint64_t Next() {
    if (p < end) return *p++;
    ++pad;
    return 0;
  }
};

// Deflate order: bytes in sequence, least significant bit first.
class LsbBitReader {
 public:
  void Init(const uint8_t* in, size_t size) {
    in_.Start(in, size);
    buf_ = 0;
    bits_ = 0;
  }

  // Makes at least 56 bits available.
  void Refill() {
    if (in_.end - in_.p >= 8) {
      buf_ |= LoadLe64(in_.p) << bits_;
      in_.p += (63 - bits_) >> 3;
      bits_ |= 56;
      return;
    }
    for (; bits_ <= 56; bits_ += 8) buf_ |= in_.Next() << bits_;
  }

  uint32_t Peek(int n) const { return static_cast<uint32_t>(buf_ & ((1ull << n) - 1)); }
  uint64_t Buffer() const { return buf_; }
  void Drop(int n) {
    buf_ >>= n;
    bits_ -= n;
  }
  uint32_t Take(int n) {
    uint32_t v = Peek(n);
    Drop(n);
    return v;
  }

  // True once bits past the real end of the input were consumed, or the pad
  // grew beyond its cap.
  bool Overrun() const {
    return in_.pad > kMaxPadBytes || static_cast<int>(in_.pad * 8) > bits_;
  }

  // Drops the bits up to the next byte boundary and returns the byte offset
  // of the next unread byte; the buffer is emptied so the caller can read raw
  // bytes from there and call Seek afterwards.
  size_t AlignToByte() {
    Drop(bits_ & 7);
    size_t pos = static_cast<size_t>(in_.p - in_.begin) + in_.pad - static_cast<size_t>(bits_ / 8);
    return pos;
  }
  void Seek(size_t pos) {
    size_t size = Size();
    in_.p = in_.begin + (pos < size ? pos : size);
    in_.pad = 0;
    buf_ = 0;
    bits_ = 0;
  }
  size_t Size() const { return static_cast<size_t>(in_.end - in_.begin); }

  // Decodes one symbol; -1 for a code the table does not hold. The caller
  // has refilled so that at least kMaxCodeBits bits are present.
  int Decode(const HuffmanTable& t) {
    uint32_t e = t.entries[Peek(t.rootBits)];
    if (HuffKind(e) == kHuffLink) {
      uint32_t sub = static_cast<uint32_t>(buf_ >> t.rootBits) & ((1u << HuffLength(e)) - 1);
      e = t.entries[HuffValue(e) + sub];
    }
    if (HuffKind(e) != kHuffSymbol) return -1;
    Drop(static_cast<int>(HuffLength(e)));
    return static_cast<int>(HuffValue(e));
  }

 private:
  PaddedBytes in_;
  uint64_t buf_ = 0;
  int bits_ = 0;
};

// LZX order: little-endian 16-bit words, most significant bit first.
class Msb16BitReader {
 public:
  void Init(const uint8_t* in, size_t size, size_t start = 0) {
    in_ = in;
    size_ = size;
    pos_ = start;
    pad_ = 0;
    buf_ = 0;
    bits_ = 0;
  }

  // Makes at least 49 bits available.
  void Refill() {
    while (bits_ <= 48) {
      uint32_t w = 0;
      if (pos_ + 1 < size_) {
        w = static_cast<uint32_t>(in_[pos_] | (in_[pos_ + 1] << 8));
      } else {
        if (pos_ < size_) w = in_[pos_];
        pad_ += pos_ < size_ ? 1 : 2;
      }
      pos_ += 2;
      buf_ |= static_cast<uint64_t>(w) << (48 - bits_);
      bits_ += 16;
    }
  }

  // n in 1..32.
  uint32_t Peek(int n) const { return static_cast<uint32_t>(buf_ >> (64 - n)); }
  void Drop(int n) {
    buf_ <<= n;
    bits_ -= n;
  }
  uint32_t Read(int n) {
    if (n == 0) return 0;
    if (bits_ < n) Refill();
    uint32_t v = Peek(n);
    Drop(n);
    return v;
  }

  bool Overrun() const {
    return pad_ > kMaxPadBytes || static_cast<int>(pad_ * 8) > bits_;
  }

  // Skips the 1..16 padding bits before an uncompressed block (a whole word
  // when already on a word boundary) and returns the byte offset that
  // follows; the buffer is emptied.
  size_t AlignForRaw() {
    if (bits_ == 0) Refill();
    int partial = bits_ & 15;
    Drop(partial ? partial : 16);
    size_t pos = pos_ - static_cast<size_t>(bits_ / 8);
    buf_ = 0;
    bits_ = 0;
    pad_ = 0;
    pos_ = pos;
    return pos;
  }

  int Decode(const HuffmanTable& t) {
    if (bits_ < kMaxCodeBits) Refill();
    uint32_t e = t.entries[Peek(t.rootBits)];
    if (HuffKind(e) == kHuffLink) {
      uint32_t w = HuffLength(e);
      uint32_t sub = Peek(t.rootBits + static_cast<int>(w)) & ((1u << w) - 1);
      e = t.entries[HuffValue(e) + sub];
    }
    if (HuffKind(e) != kHuffSymbol) return -1;
    Drop(static_cast<int>(HuffLength(e)));
    return static_cast<int>(HuffValue(e));
  }

 private:
  const uint8_t* in_ = nullptr;
  size_t size_ = 0;
  size_t pos_ = 0;  // next byte to load; runs past size_ while padding
  size_t pad_ = 0;
  uint64_t buf_ = 0;
  int bits_ = 0;
};

// Quantum order: bytes in sequence, most significant bit first. Reads one bit
// at a time for the arithmetic coder and short runs for the extra bits.
class MsbBitReader {
 public:
  void Init(const uint8_t* in, size_t size) {
    in_.Start(in, size);
    buf_ = 0;
    bits_ = 0;
  }

  // Makes at least 57 bits available.
  void Refill() {
    for (; bits_ <= 56; bits_ += 8) buf_ |= in_.Next() << (56 - bits_);
  }

  uint32_t Bit() {
    if (bits_ == 0) Refill();
    uint32_t v = static_cast<uint32_t>(buf_ >> 63);
    buf_ <<= 1;
    --bits_;
    return v;
  }

  // n in 0..32.
  uint32_t Read(int n) {
    if (n == 0) return 0;
    if (bits_ < n) Refill();
    uint32_t v = static_cast<uint32_t>(buf_ >> (64 - n));
    buf_ <<= n;
    bits_ -= n;
    return v;
  }

  // Bits consumed past the real end of the input.
  size_t OverreadBits() const {
    size_t padBits = in_.pad * 8;
    return padBits > static_cast<size_t>(bits_) ? padBits - static_cast<size_t>(bits_) : 0;
  }

 private:
  PaddedBytes in_;
  uint64_t buf_ = 0;
  int bits_ = 0;
};

}  // namespace cab
