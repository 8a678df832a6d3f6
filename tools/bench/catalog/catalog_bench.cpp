// Catalogue load-and-parse benchmark (not a test). Writes a generated
// catalogue of N components to a temporary file, then times a plain read of
// the file and LoadComponents on it, each the median of several runs, and
// prints the ratio. Run it for N and 10*N to see that the cost grows in
// proportion to the input.
//
//   catalog_bench [components ...]     (default: 2000 20000)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "catalog/ComponentCatalog.h"
#include "core/Log.h"

namespace {

std::string MakeCatalogue(int components) {
  std::string inf = "[Components]\r\n";
  for (int i = 0; i < components; ++i)
    inf += "Comp" + std::to_string(i) + "=" + std::to_string(i + 1) + ";1,2,0," +
           std::to_string(i) + "\r\n";
  for (int i = 0; i < components; ++i) {
    const std::string n = std::to_string(i);
    inf += "[Comp" + n + "]\r\nDescription=Component number " + n +
           " of the generated catalogue\r\nDescription LANGID 7=Komponente " + n +
           "\r\nRequiresPMClosed=No\r\nSourceDisksFiles=Files" + n + "\r\nHook1=Setup" + n +
           ".exe\r\nAdd Registry0=HKLM,Software\\Pellory\\Bench,C" + n +
           ",FLG_ADDREG_TYPE_DWORD,1\r\n[Files" + n + "]\r\n1=Lib" + n + ".dll\r\n2=Help" + n +
           ".chm\r\n[Lib" + n + ".dll]\r\nFile=Pack" + n +
           ".cab\r\nDestDir=Bin\r\nFileVersion=1,2,0," + n + "\r\nSize=120KB\r\n[Help" + n +
           ".chm]\r\nFile=Pack" + n + ".cab\r\nFileVersion=-1,-1,-1,-1\r\n[Setup" + n +
           ".exe]\r\nFile=Pack" + n + ".cab\r\nRun=/quiet\r\nFileVersion=1,0,0,0\r\n";
  }
  return inf;
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

template <class F>
double Median(int runs, F&& f) {
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    const auto start = std::chrono::steady_clock::now();
    f();
    times.push_back(Seconds(start));
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<int> sizes;
  for (int i = 1; i < argc; ++i) sizes.push_back(std::atoi(argv[i]));
  if (sizes.empty()) sizes = {2000, 20000};
  SetLogSink(nullptr);  // the parse logs three lines per component
  const char* tmp = std::getenv("TMPDIR");
  const std::string path = std::string(tmp && *tmp ? tmp : "/tmp") + "/catalog-bench.inf";
  double firstParse = 0;
  size_t firstBytes = 0;
  std::printf("%10s %10s %12s %12s %8s %10s\n", "components", "bytes", "read ms", "load ms",
              "ratio", "ms per MB");
  for (int n : sizes) {
    const std::string inf = MakeCatalogue(n);
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f || std::fwrite(inf.data(), 1, inf.size(), f) != inf.size()) return 2;
    std::fclose(f);
    const int runs = n > 10000 ? 5 : 15;
    size_t sink = 0;
    const double read = Median(runs, [&] {
      std::FILE* in = std::fopen(path.c_str(), "rb");
      std::vector<char> buffer(inf.size());
      sink += std::fread(buffer.data(), 1, buffer.size(), in);
      std::fclose(in);
    });
    size_t parsed = 0;
    const double load = Median(runs, [&] {
      ComponentCatalog catalog;
      LoadComponents(catalog, path.c_str());
      parsed = catalog.size();
    });
    if (parsed != static_cast<size_t>(n) || sink == 0) {
      std::fprintf(stderr, "parsed %zu of %d components\n", parsed, n);
      return 1;
    }
    std::printf("%10d %10zu %12.3f %12.3f %8.1f %10.1f\n", n, inf.size(), read * 1e3,
                load * 1e3, load / read, load * 1e3 / (inf.size() / 1048576.0));
    if (firstParse == 0) {
      firstParse = load;
      firstBytes = inf.size();
    } else {
      std::printf("  %.1fx the input took %.1fx the time\n",
                  static_cast<double>(inf.size()) / firstBytes, load / firstParse);
    }
  }
  std::remove(path.c_str());
  return 0;
}
