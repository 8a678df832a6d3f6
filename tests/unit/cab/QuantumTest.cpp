// Quantum codec on streams made by the test encoder (QuantumEncoder.h). The
// one real Quantum folder among the reference cabinets pins the format down;
// these streams reach what that short text cannot: every match kind and slot,
// offsets to the oldest byte the window holds, frames carried over, damaged
// streams. Long streams for every window size (model rescaling and
// reordering, the window wrap) in cabinets of several folders are
// QuantumCrossCheckTest's, read back by cabextract as well.
#include <gtest/gtest.h>

#include <string>

#include "install/cab/Decompressor.h"
#include "tests/unit/cab/CabTestSupport.h"
#include "tests/unit/cab/QuantumEncoder.h"

namespace {

using cabtest::Bytes;

using Token = cabtest::QuantumToken;
using Tokens = cabtest::QuantumTokens;
using Encoder = cabtest::QuantumEncoder;
constexpr auto Literal = cabtest::QLiteral;
constexpr auto Match = cabtest::QMatch;

void Expand(const Tokens& tokens, std::string& history) {
  cabtest::ExpandQuantumTokens(tokens, history);
}

struct RoundTrip {
  std::string expected, decoded;
  cab::CodecStatus status = cab::CodecStatus::kOk;
};

RoundTrip EncodeAndDecode(int windowBits, const std::vector<Tokens>& frames) {
  Encoder enc(windowBits);
  auto dec = cab::MakeQuantumDecompressor(windowBits);
  RoundTrip r;
  if (!dec) {
    ADD_FAILURE() << "window 2^" << windowBits << " refused";
    r.status = cab::CodecStatus::kCorrupt;
    return r;
  }
  for (const Tokens& f : frames) {
    const size_t start = r.expected.size();
    Expand(f, r.expected);
    const size_t size = r.expected.size() - start;
    Bytes in = enc.Frame(f);
    std::string out(size, '\0');
    r.status = dec->DecodeBlock(in.data(), in.size(), reinterpret_cast<uint8_t*>(&out[0]), size);
    r.decoded += out;
    if (r.status != cab::CodecStatus::kOk) break;
  }
  return r;
}

// Each match kind at the edges of its slots and lengths, literals of every
// byte value (all four literal models), the longest match, offsets reaching
// the oldest byte the window holds.
TEST(Quantum, EveryMatchKindAtItsLimits) {
  const int bits = 16;
  Tokens f;
  for (int b = 0; b < 256; ++b) f.push_back(Literal(static_cast<uint8_t>(b)));
  for (int b = 255; b >= 0; --b) f.push_back(Literal(static_cast<uint8_t>(b)));
  f.push_back(Match(1, 3));
  f.push_back(Match(512, 4));
  f.push_back(Match(515, 259));
  f.push_back(Match(2, 5));
  f.push_back(Match(300, 6));
  f.push_back(Match(4096 - 4000, 3));
  // Fill on to past the window, then reach back exactly one window.
  while (true) {
    std::string sofar;
    Expand(f, sofar);
    if (sofar.size() >= (1u << bits) + 10) break;
    f.push_back(Match(static_cast<uint32_t>(std::min<size_t>(sofar.size(), 700)), 259));
  }
  f.push_back(Match(1u << bits, 200));
  f.push_back(Match((1u << bits) - 1, 4));

  Encoder probe(bits);
  for (const Token& t : f) ASSERT_TRUE(probe.CanCode(t)) << t.offset << "/" << t.length;
  // Cut into frames of at most 32 KiB on token boundaries.
  std::vector<Tokens> frames(1);
  uint32_t inFrame = 0;
  for (const Token& t : f) {
    if (inFrame + t.length > cab::kMaxBlockBytes) {
      frames.emplace_back();
      inFrame = 0;
    }
    frames.back().push_back(t);
    inFrame += t.length;
  }
  RoundTrip r = EncodeAndDecode(bits, frames);
  EXPECT_EQ(r.status, cab::CodecStatus::kOk);
  EXPECT_TRUE(r.decoded == r.expected);
}

TEST(Quantum, DamagedStreamsFailInsteadOfMisbehaving) {
  const int bits = 12;
  struct Case {
    const char* what;
    Tokens frame;
    size_t outSize;  // 0: the tokens' own size
    size_t cut;      // bytes dropped from the end of the block
  };
  Tokens good;
  for (int i = 0; i < 40; ++i) good.push_back(Literal(static_cast<uint8_t>('A' + i % 7)));
  good.push_back(Match(7, 100));
  // Text whose last bytes' codes are lost: the decoder runs into the zeros
  // it makes up past the end.
  Tokens text;
  for (int i = 0; i < 3000; ++i) text.push_back(Literal(static_cast<uint8_t>(' ' + i * 7 % 90)));
  const Case cases[] = {
      {"match before the first byte", {Literal('x'), Match(2, 3)}, 0, 0},
      {"match as the very first token", {Match(1, 4)}, 0, 0},
      {"match running past the end of the frame", good, 60, 0},
      {"block cut to half", good, 0, 20},
      {"block missing its last bytes", text, 0, 12},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Encoder enc(bits);
    Bytes in = enc.Frame(c.frame);
    ASSERT_GT(in.size(), c.cut);
    in.resize(in.size() - c.cut);
    size_t size = c.outSize;
    for (const Token& t : c.frame) size += c.outSize ? 0 : t.length;
    auto dec = cab::MakeQuantumDecompressor(bits);
    std::vector<uint8_t> out(size);
    EXPECT_EQ(dec->DecodeBlock(in.data(), in.size(), out.data(), out.size()),
              cab::CodecStatus::kCorrupt);
  }
  // More than one frame's worth of output is never asked of a block.
  auto dec = cab::MakeQuantumDecompressor(bits);
  std::vector<uint8_t> in(100, 0x55), out(cab::kMaxBlockBytes + 1);
  EXPECT_EQ(dec->DecodeBlock(in.data(), in.size(), out.data(), out.size()),
            cab::CodecStatus::kCorrupt);
}

}  // namespace
