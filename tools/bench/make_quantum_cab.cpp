// Writes a one-folder Quantum cabinet of the given files, with the test
// encoder (a greedy parse, so the ratio is modest): input for the benchmark,
// since no other tool here makes Quantum cabinets.
// Usage: make_quantum_cab OUT.cab WINDOW_BITS FILE...
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "install/cab/Cabinet.h"
#include "tests/unit/cab/CabTestSupport.h"
#include "tests/unit/cab/QuantumEncoder.h"

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: make_quantum_cab OUT.cab WINDOW_BITS FILE...\n");
    return 2;
  }
  const int bits = std::atoi(argv[2]);
  if (bits < 10 || bits > 21) {
    std::fprintf(stderr, "window bits must be 10..21\n");
    return 2;
  }
  cabtest::BuildCabinet c;
  std::string all;
  for (int i = 3; i < argc; ++i) {
    std::ifstream in(argv[i], std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "cannot read %s\n", argv[i]);
      return 1;
    }
    std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string name = argv[i];
    size_t slash = name.find_last_of('/');
    if (slash != std::string::npos) name.erase(0, slash + 1);
    c.files.push_back({name, static_cast<uint32_t>(data.size()), static_cast<uint32_t>(all.size()), 0});
    all += data;
  }
  cabtest::BuildFolder folder;
  folder.compression = static_cast<uint16_t>(cab::kCompressionQuantum | (bits << 8));
  for (auto& block : cabtest::EncodeQuantumFolder(all, bits))
    folder.blocks.push_back({std::move(block.first), block.second});
  c.folders.push_back(std::move(folder));
  const cabtest::Bytes cab = cabtest::Build(c);
  std::ofstream out(argv[1], std::ios::binary);
  out.write(reinterpret_cast<const char*>(cab.data()), static_cast<std::streamsize>(cab.size()));
  return out ? 0 : 1;
}
