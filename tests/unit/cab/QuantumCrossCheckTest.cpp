// Quantum cabinets written with the test encoder are read back by two
// decoders: cabextract (installed by the bootstrap) and the program's own.
// cabextract knows nothing of this code, so agreement with it checks the
// encoder's reading of the format, and with it the models and coder that
// the program's decoder shares: long streams, so every model is halved and
// reordered many times, several window sizes, folders and frames.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>

#include "install/cab/Cabinet.h"
#include "tests/unit/cab/CabTestSupport.h"
#include "tests/unit/cab/QuantumEncoder.h"

namespace {

std::string Text(size_t size, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<std::string> words;
  for (int i = 0; i < 800; ++i) {
    std::string w;
    for (int n = 2 + rng() % 8; n > 0; --n) w.push_back(static_cast<char>("etaoinshrdlucmfw"[rng() % 16]));
    words.push_back(w);
  }
  std::string s;
  while (s.size() < size) s += words[rng() % words.size()] + (rng() % 9 ? " " : ".\n");
  s.resize(size);
  return s;
}

// Random runs, repeats from far back, and runs of a few byte values.
std::string Mixed(size_t size, uint32_t seed) {
  std::mt19937 rng(seed);
  std::string s;
  while (s.size() < size) {
    const size_t n = 64 + rng() % 4000;
    switch (rng() % 3) {
      case 0:
        for (size_t i = 0; i < n; ++i) s.push_back(static_cast<char>(rng()));
        break;
      case 1:
        if (s.size() > 5000) {
          const size_t from = rng() % (s.size() - 4000);
          s += s.substr(from, n < 4000 ? n : 4000);
          break;
        }
        [[fallthrough]];
      default:
        for (size_t i = 0; i < n; ++i) s.push_back("\0\1\2\xff"[rng() % 4]);
    }
  }
  s.resize(size);
  return s;
}

struct Member {
  std::string name, data;
};
struct FolderSpec {
  int windowBits;
  std::vector<Member> members;
};

cabtest::Bytes QuantumCabinet(const std::vector<FolderSpec>& folders) {
  cabtest::BuildCabinet c;
  for (size_t fi = 0; fi < folders.size(); ++fi) {
    std::string all;
    cabtest::BuildFolder bf;
    bf.compression =
        static_cast<uint16_t>(cab::kCompressionQuantum | (folders[fi].windowBits << 8));
    for (const Member& m : folders[fi].members) {
      c.files.push_back({m.name, static_cast<uint32_t>(m.data.size()),
                         static_cast<uint32_t>(all.size()), static_cast<uint16_t>(fi)});
      all += m.data;
    }
    for (auto& block : cabtest::EncodeQuantumFolder(all, folders[fi].windowBits))
      bf.blocks.push_back({std::move(block.first), block.second});
    c.folders.push_back(std::move(bf));
  }
  return cabtest::Build(c);
}

TEST(QuantumCrossCheck, CabextractAndTheProgramReadTheEncodersCabinets) {
  ASSERT_EQ(std::system("cabextract --version >/dev/null 2>&1"), 0)
      << "cabextract is missing (scripts/bootstrap installs it)";
  struct Case {
    const char* what;
    std::vector<FolderSpec> folders;
  };
  const Case cases[] = {
      {"one byte", {{15, {{"one.txt", "x"}}}}},
      {"text, largest window", {{21, {{"a.txt", Text(300000, 1)}}}}},
      {"text, smallest window", {{10, {{"a.txt", Text(150000, 2)}}}}},
      {"mixed binary, two members", {{16, {{"m1.bin", Mixed(200000, 3)}, {"m2.bin", Mixed(70000, 4)}}}}},
      // The third folder has the second one's window, so the decoder reuses
      // the codec: Reset must forget window and models.
      {"three folders, windows 12, 18 and 18",
       {{12, {{"t.txt", Text(90000, 5)}}},
        {18, {{"m.bin", Mixed(120000, 6)}, {"e.txt", ""}}},
        {18, {{"u.txt", Text(70000, 7)}}}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string expected;
    for (const FolderSpec& f : c.folders)
      for (const Member& m : f.members) expected += m.data;
    const cabtest::Bytes cabinet = QuantumCabinet(c.folders);

    std::string theirs;
    EXPECT_TRUE(cabtest::CabextractMembers(cabinet, theirs));
    EXPECT_EQ(theirs.size(), expected.size());
    EXPECT_TRUE(theirs == expected) << "cabextract disagrees with the test encoder";

    cabtest::DecodeResult ours = cabtest::DecodeBytes(cabinet);
    EXPECT_EQ(ours.error, cab::CabError::kNone);
    EXPECT_EQ(ours.bytes, expected.size());
    EXPECT_TRUE(ours.data == expected) << "the program's decoder disagrees";
  }
}

}  // namespace
