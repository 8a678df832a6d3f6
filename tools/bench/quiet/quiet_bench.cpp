// Quiet-check benchmark helper (Windows, run under Wine by quiet_bench.sh).
//
//   quiet_bench prepare CATALOGUE_DIR APP_DIR UPGRADE_EXE MANAGER_EXE
//     Writes a catalogue of 30 components ("PM Install1.INF" and a picture
//     per component) into CATALOGUE_DIR, ready to be packed into the
//     catalogue cabinet, and makes APP_DIR (ending with a backslash) an
//     installation that is up to date with it: Bin\Upgrade.exe,
//     Bin\Manager.exe, every component's files with the catalogue's
//     versions, their records under Components and "PelloryAppDir".
//     Prints the number of components and files.
//   quiet_bench idle STOP_FILE
//     Runs until STOP_FILE exists: a process that keeps the prefix's Wine
//     server up for the whole benchmark.
//   quiet_bench unpack CABINET PASSES
//     Times ExtractCabinetTo of CABINET (the catalogue cabinet) into a fresh
//     folder, PASSES times, as the check unpacks it (the catalogue member
//     only); prints each pass and the median.
//   quiet_bench status CATALOGUE PASSES
//     Parses CATALOGUE ("PM Install1.INF") and times, PASSES times each, the
//     check's decision in this process: HasUpdatesToOffer, and the version
//     reads it does (ReadFileVersionParts of every file's TargetPath), and
//     those reads done both ways (from the headers, and through the
//     system's version functions), which must agree. Prints
//     the seconds of every pass; fails when the check would offer anything.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "catalog/ComponentCatalog.h"
#include "catalog/ComponentStatus.h"
#include "catalog/TargetPath.h"
#include "core/FileVersion.h"
#include "install/ExtractCabinet.h"
#include "install/TempFileList.h"
#include "tests/support/CatalogueCabinet.h"
#include "tests/support/Scratch.h"

namespace {

using namespace testing_support;

constexpr char kComponentsKey[] = "Software\\Pellory\\Upgrade\\Components";
constexpr int kComponents = 30;

const char* const kNames[kComponents] = {
    "Player",        "Library",        "AudibleFormat",  "MP3Codec",      "WMACodec",
    "AACCodec",      "OggCodec",       "FlacCodec",      "CDBurner",      "CDRipper",
    "Bookmarks",     "Chapters",       "SleepTimer",     "Equalizer",     "Skins",
    "PortableSync",  "DeviceReaderA",  "DeviceReaderB",  "DeviceClipX",   "DevicePocket",
    "DeviceSport",   "DeviceNano",     "DeviceCar",      "NotifyTray",    "Scheduler",
    "WebStore",      "Manual",         "HelpFiles",      "LanguagePacks", "Diagnostics"};

// A 32 x 32 24-bit bitmap with some texture, so that it packs like a real
// picture rather than to nothing.
std::string Picture(unsigned seed) {
  const int side = 32, row = side * 3;
  const DWORD pixels = row * side;
  BITMAPFILEHEADER file = {};
  BITMAPINFOHEADER info = {};
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof(file) + sizeof(info);
  file.bfSize = file.bfOffBits + pixels;
  info.biSize = sizeof(info);
  info.biWidth = side;
  info.biHeight = side;
  info.biPlanes = 1;
  info.biBitCount = 24;
  info.biSizeImage = pixels;
  std::string bytes(reinterpret_cast<const char*>(&file), sizeof(file));
  bytes.append(reinterpret_cast<const char*>(&info), sizeof(info));
  unsigned state = seed * 2654435761u + 1;
  for (DWORD i = 0; i < pixels; ++i) {
    state = state * 1103515245u + 12345u;
    bytes += static_cast<char>(((i % row) * 7 + (i / row) * 5 + seed * 40) + ((state >> 30) & 1));
  }
  return bytes;
}

std::vector<CatalogueComponent> Catalogue() {
  std::vector<CatalogueComponent> components;
  for (int i = 0; i < kComponents; ++i) {
    CatalogueComponent c;
    c.name = kNames[i];
    c.id = i >= 16 && i <= 22 ? i : 0;  // the device plug-ins carry numbers
    c.version = "5,1," + std::to_string(i) + ",0";
    c.initiallySelected = i % 5 != 4;
    c.forceInstall = i < 2;
    c.image = "Images\\" + c.name + ".bmp";
    const int files = 1 + i % 4;
    for (int f = 0; f < files; ++f) {
      CatalogueFile file;
      file.name = c.name + (f ? std::to_string(f) : "") + (f % 2 ? ".exe" : ".dll");
      file.cabinet = c.name + ".cab";
      file.version = "5,1," + std::to_string(i) + "," + std::to_string(f + 1);
      c.files.push_back(file);
    }
    components.push_back(c);
  }
  return components;
}

// The catalogue as published: descriptions in English and German besides
// the records the parser needs.
std::string CatalogueWithTexts(const std::vector<CatalogueComponent>& components) {
  std::string text = CatalogueText(components);
  for (const CatalogueComponent& c : components) {
    const std::string section = "\r\n[" + c.name + "]\r\n";
    const size_t at = text.find(section);
    if (at == std::string::npos) continue;
    text.insert(at + section.size(),
                "Description=" + c.name + " for PelloryManager: plays, sorts and keeps your "
                "audiobooks in step with your devices\r\n"
                "Description LANGID 7=" + c.name + " f\xFCr PelloryManager: spielt, ordnet "
                "und gleicht Ihre H\xF6rb\xFC" "cher mit Ihren Ger\xE4ten ab\r\n"
                "More Info=Version 5.1 of " + c.name + "; see the release notes\r\n");
  }
  return text;
}

WORD Part(const std::string& version, int index) {
  int parts[4] = {};
  std::sscanf(version.c_str(), "%d,%d,%d,%d", &parts[0], &parts[1], &parts[2], &parts[3]);
  return static_cast<WORD>(parts[index]);
}

int Prepare(const std::string& catalogueDir, const std::string& appDir,
            const std::string& upgradeExe, const std::string& managerExe) {
  const std::vector<CatalogueComponent> components = Catalogue();
  if (!WriteFileBytes(catalogueDir + "\\PM Install1.INF", CatalogueWithTexts(components)))
    return 1;
  for (int i = 0; i < kComponents; ++i)
    if (!WriteFileBytes(catalogueDir + "\\" + components[i].name + ".bmp", Picture(i))) return 1;

  RemoveTree(appDir);
  ::CreateDirectoryA(appDir.c_str(), nullptr);
  const std::string bin = appDir + "Bin\\";
  ::CreateDirectoryA(bin.c_str(), nullptr);
  if (!::CopyFileA(upgradeExe.c_str(), (bin + "Upgrade.exe").c_str(), FALSE)) return 1;
  if (!CopyWithVersion(managerExe, bin + "Manager.exe", 5, 1, 0, 0)) return 1;
  if (!RegWriteString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Pellory", "PelloryAppDir", appDir)) return 1;
  RegDeleteTree(HKEY_LOCAL_MACHINE, kComponentsKey);

  int files = 0;
  for (const CatalogueComponent& c : components) {
    for (const CatalogueFile& file : c.files) {
      const std::string& v = file.version;
      if (!CopyWithVersion(managerExe, appDir + file.name, Part(v, 0), Part(v, 1), Part(v, 2),
                           Part(v, 3)))
        return 1;
      ++files;
    }
    const std::string& v = c.version;
    char recorded[64];
    std::snprintf(recorded, sizeof(recorded), "%d, %d, %d, %d", Part(v, 0), Part(v, 1),
                  Part(v, 2), Part(v, 3));
    if (!RegWriteString(HKEY_LOCAL_MACHINE, kComponentsKey, c.name, recorded)) return 1;
  }
  std::printf("components %d files %d\n", kComponents, files);
  return 0;
}

// Keeps a process in the prefix until STOP_FILE exists, so that the Wine
// server and the prefix's system processes stay up between the timed runs,
// as on a user's machine where the manager runs.
int Idle(const char* stopFile) {
  while (::GetFileAttributesA(stopFile) == INVALID_FILE_ATTRIBUTES) ::Sleep(100);
  return 0;
}

double Seconds(const LARGE_INTEGER& from) {
  LARGE_INTEGER frequency, now;
  ::QueryPerformanceFrequency(&frequency);
  ::QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart - from.QuadPart) / frequency.QuadPart;
}

int Unpack(const std::string& cabinet, int passes) {
  std::vector<double> times;
  for (int i = 0; i < passes; ++i) {
    ScratchDir folder("unpack");
    LARGE_INTEGER start;
    ::QueryPerformanceCounter(&start);
    // The check unpacks the catalogue member only; the pictures wait until
    // the selection dialog shows them.
    const auto isCatalogue = [](const std::string& name) {
      return _stricmp(name.c_str(), "PM Install1.INF") == 0;
    };
    const int unpacked = ExtractCabinetTo(cabinet, folder.Path(), nullptr, isCatalogue);
    const double seconds = Seconds(start);
    TheTempFileList().DeleteAll();
    if (!unpacked) {
      std::printf("the cabinet did not unpack\n");
      return 1;
    }
    times.push_back(seconds);
    std::printf("unpack %.4f\n", seconds);
  }
  std::sort(times.begin(), times.end());
  if (!times.empty()) std::printf("median unpack %.4f\n", times[times.size() / 2]);
  return 0;
}

int Status(const std::string& path, int passes) {
  ComponentCatalog catalog;
  if (LoadComponents(catalog, path.c_str()) != 0 || catalog.empty()) return 1;
  std::vector<std::string> targets;
  for (const Component& component : catalog)
    for (const ComponentFile& file : component.files) targets.push_back(TargetPath(file));
  for (int i = 0; i < passes; ++i) {
    LARGE_INTEGER start;
    ::QueryPerformanceCounter(&start);
    if (HasUpdatesToOffer(catalog)) {
      std::printf("the catalogue offers updates\n");
      return 1;
    }
    const double status = Seconds(start);
    ::QueryPerformanceCounter(&start);
    for (const std::string& target : targets) {
      FileVersionParts version;
      if (!ReadFileVersionParts(target, version)) {
        std::printf("no version: %s\n", target.c_str());
        return 1;
      }
    }
    const double reads = Seconds(start);
    // The same reads through the system's version functions alone, which
    // load each file; both must agree.
    ::QueryPerformanceCounter(&start);
    for (const std::string& target : targets) {
      FileVersionParts version, system;
      ReadFileVersionParts(target, version);
      if (!ReadFileVersionPartsThroughSystem(target, system)) return 1;
      for (int part = 0; part < 4; ++part)
        if (version.part[part] != system.part[part]) {
          std::printf("versions differ: %s\n", target.c_str());
          return 1;
        }
    }
    const double both = Seconds(start);
    std::printf("components %u files %u HasUpdatesToOffer %.4f version_reads %.4f "
                "both_ways %.4f\n",
                static_cast<unsigned>(catalog.size()), static_cast<unsigned>(targets.size()),
                status, reads, both);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "prepare" && argc == 6) return Prepare(argv[2], argv[3], argv[4], argv[5]);
  if (mode == "idle" && argc == 3) return Idle(argv[2]);
  if (mode == "status" && argc == 4) return Status(argv[2], std::atoi(argv[3]));
  if (mode == "unpack" && argc == 4) return Unpack(argv[2], std::atoi(argv[3]));
  std::fprintf(stderr,
               "usage: quiet_bench prepare CATALOGUE_DIR APP_DIR UPGRADE_EXE MANAGER_EXE\n"
               "       quiet_bench idle STOP_FILE\n"
               "       quiet_bench status CATALOGUE PASSES\n"
               "       quiet_bench unpack CABINET PASSES\n");
  return 2;
}
