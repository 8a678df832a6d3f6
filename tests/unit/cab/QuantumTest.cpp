// Quantum codec on streams made by the test encoder (QuantumEncoder.h). The
// one real Quantum folder among the reference cabinets pins the format down;
// hand-picked tokens reach what that short text cannot: every match kind at
// its limits, offsets to the oldest byte the window holds, damaged streams.
// Long streams in cabinets (every model halved and reordered many times,
// several windows and folders) are read back by cabextract too, which knows
// nothing of the encoder: agreement checks the models and coder the
// program's decoder shares with it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>

#include "install/cab/Cabinet.h"
#include "install/cab/Decompressor.h"
#include "tests/unit/cab/CabTestSupport.h"
#include "tests/unit/cab/QuantumEncoder.h"

namespace {

using cabtest::Bytes;
using Tokens = cabtest::QuantumTokens;
constexpr auto Literal = cabtest::QLiteral;
constexpr auto Match = cabtest::QMatch;

// Literals of every byte value (all four literal models), each match kind at
// the edges of its slots and lengths, the longest match, offsets reaching
// the oldest byte the window holds; in frames of at most 32 KiB.
TEST(Quantum, EveryMatchKindAtItsLimits) {
  const int bits = 16;
  Tokens f;
  for (int b = 0; b < 512; ++b) f.push_back(Literal(static_cast<uint8_t>(b < 256 ? b : 511 - b)));
  f.insert(f.end(), {Match(1, 3), Match(512, 4), Match(515, 259), Match(2, 5), Match(300, 6), Match(96, 3)});
  std::string expected;
  cabtest::ExpandQuantumTokens(f, expected);
  while (expected.size() < (1u << bits) + 10) {
    f.push_back(Match(static_cast<uint32_t>(std::min<size_t>(expected.size(), 700)), 259));
    cabtest::ExpandQuantumTokens({f.back()}, expected);
  }
  const Tokens last = {Match(1u << bits, 200), Match((1u << bits) - 1, 4)};
  f.insert(f.end(), last.begin(), last.end());
  cabtest::ExpandQuantumTokens(last, expected);

  cabtest::QuantumEncoder enc(bits);
  auto dec = cab::MakeQuantumDecompressor(bits);
  std::string decoded;
  for (size_t i = 0; i < f.size();) {
    Tokens frame;
    uint32_t size = 0;
    for (; i < f.size() && size + f[i].length <= cab::kMaxBlockBytes; ++i) {
      ASSERT_TRUE(enc.CanCode(f[i])) << f[i].offset << "/" << f[i].length;
      frame.push_back(f[i]);
      size += f[i].length;
    }
    const Bytes in = enc.Frame(frame);
    std::string out(size, '\0');
    ASSERT_EQ(dec->DecodeBlock(in.data(), in.size(), reinterpret_cast<uint8_t*>(&out[0]), size),
              cab::CodecStatus::kOk);
    decoded += out;
  }
  EXPECT_TRUE(decoded == expected);
}

TEST(Quantum, DamagedStreamsFailInsteadOfMisbehaving) {
  const int bits = 12;
  Tokens good;
  for (int i = 0; i < 40; ++i) good.push_back(Literal(static_cast<uint8_t>('A' + i % 7)));
  good.push_back(Match(7, 100));
  // Text whose last bytes' codes are lost: the decoder runs into the zeros
  // it makes up past the end.
  Tokens text;
  for (int i = 0; i < 3000; ++i) text.push_back(Literal(static_cast<uint8_t>(' ' + i * 7 % 90)));
  const struct {
    const char* what;
    Tokens frame;
    size_t outSize, cut;  // bytes asked for, bytes dropped from the block's end
  } cases[] = {
      {"match before the first byte", {Literal('x'), Match(2, 3)}, 4, 0},
      {"match running past the end of the frame", good, 60, 0},
      {"block missing its last bytes", text, 3000, 12},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes in = cabtest::QuantumEncoder(bits).Frame(c.frame);
    in.resize(in.size() - c.cut);
    std::vector<uint8_t> out(c.outSize);
    EXPECT_EQ(cab::MakeQuantumDecompressor(bits)->DecodeBlock(in.data(), in.size(), out.data(),
                                                               out.size()),
              cab::CodecStatus::kCorrupt);
  }
  // More than one frame's worth of output is never asked of a block.
  std::vector<uint8_t> in(100, 0x55), out(cab::kMaxBlockBytes + 1);
  EXPECT_EQ(cab::MakeQuantumDecompressor(bits)->DecodeBlock(in.data(), in.size(), out.data(),
                                                             out.size()),
            cab::CodecStatus::kCorrupt);
}

#ifndef _WIN32
// Text from a small vocabulary, or (binary) random runs, repeats from far
// back and runs of a few byte values.
std::string Data(size_t size, uint32_t seed, bool binary) {
  std::mt19937 rng(seed);
  std::vector<std::string> words(800);
  for (std::string& w : words)
    for (int n = 2 + rng() % 8; n > 0; --n) w.push_back("etaoinshrdlucmfw"[rng() % 16]);
  std::string s;
  while (s.size() < size) {
    const size_t n = 64 + rng() % 4000, kind = rng() % 3;
    if (!binary) s += words[rng() % words.size()] + (rng() % 9 ? " " : ".\n");
    else if (kind == 1 && s.size() > 5000) s += s.substr(rng() % (s.size() - 4000), std::min<size_t>(n, 4000));
    else
      for (size_t i = 0; i < n; ++i) s.push_back(kind == 0 ? static_cast<char>(rng()) : "\0\1\2\xff"[rng() % 4]);
  }
  s.resize(size);
  return s;
}

TEST(Quantum, CabextractAndTheProgramReadTheEncodersCabinets) {
  ASSERT_EQ(std::system("cabextract --version >/dev/null 2>&1"), 0)
      << "cabextract is missing (scripts/bootstrap installs it)";
  struct Folder {
    int windowBits;
    std::vector<std::string> members;
  };
  const struct {
    const char* what;
    std::vector<Folder> folders;
  } cases[] = {
      {"one byte", {{15, {"x"}}}},
      {"text, largest window", {{21, {Data(300000, 1, false)}}}},
      {"text, smallest window", {{10, {Data(150000, 2, false)}}}},
      {"binary, two members", {{16, {Data(200000, 3, true), Data(70000, 4, true)}}}},
      // The third folder has the second one's window, so the decoder reuses
      // the codec: Reset must forget window and models.
      {"three folders, windows 12, 18 and 18",
       {{12, {Data(90000, 5, false)}}, {18, {Data(120000, 6, true), ""}}, {18, {Data(70000, 7, false)}}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    cabtest::BuildCabinet cab;
    std::string expected;
    for (const Folder& f : c.folders) {
      const size_t start = expected.size();
      for (const std::string& m : f.members) {
        cab.files.push_back({"m" + std::to_string(cab.files.size()), static_cast<uint32_t>(m.size()),
                             static_cast<uint32_t>(expected.size() - start),
                             static_cast<uint16_t>(cab.folders.size())});
        expected += m;
      }
      cabtest::BuildFolder folder;
      folder.compression = static_cast<uint16_t>(cab::kCompressionQuantum | (f.windowBits << 8));
      for (auto& block : cabtest::EncodeQuantumFolder(expected.substr(start), f.windowBits))
        folder.blocks.push_back({std::move(block.first), block.second});
      cab.folders.push_back(std::move(folder));
    }
    const Bytes cabinet = cabtest::Build(cab);

    std::string theirs;
    EXPECT_TRUE(cabtest::CabextractMembers(cabinet, theirs));
    EXPECT_TRUE(theirs == expected) << "cabextract disagrees with the test encoder";
    const cabtest::DecodeResult ours = cabtest::DecodeBytes(cabinet);
    EXPECT_EQ(ours.error, cab::CabError::kNone);
    EXPECT_EQ(ours.bytes, expected.size());
    EXPECT_TRUE(ours.data == expected) << "the program's decoder disagrees";
  }
}
#endif

}  // namespace
