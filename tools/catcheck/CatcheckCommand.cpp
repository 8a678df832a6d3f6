// catcheck's command line: the options, reading the catalogue and the
// cabinet folder, and the findings printed as "file:line: text".
#include <cstdio>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "tools/catcheck/CatalogChecker.h"

namespace {

bool ReadWholeFile(const std::string& path, std::string& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  char chunk[65536];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof(chunk), f)) > 0) bytes.append(chunk, n);
  const bool ok = !std::ferror(f);
  std::fclose(f);
  return ok;
}

bool IsFolder(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && (st.st_mode & S_IFMT) == S_IFDIR;
}

bool FileSize(const std::string& path, uint64_t& size) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || (st.st_mode & S_IFMT) != S_IFREG) return false;
  size = static_cast<uint64_t>(st.st_size);
  return true;
}

const char kUsage[] =
    "usage: catcheck [--langid HEX] CATALOG.INF [CABINET-FOLDER]\n"
    "  exit 0: clean, 1: findings, 2: the file cannot be read\n";

}  // namespace

int RunCatcheck(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  CatcheckOptions options;
  std::vector<std::string> positional;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--langid" && i + 1 < args.size()) {
      options.langId = static_cast<uint16_t>(std::stoul("0" + args[++i], nullptr, 16));
    } else if (args[i] == "--help" || args[i] == "-h") {
      out << kUsage;
      return 0;
    } else {
      positional.push_back(args[i]);
    }
  }
  if (positional.empty() || positional.size() > 2) {
    err << kUsage;
    return 2;
  }
  const std::string& path = positional[0];
  std::string bytes;
  if (!ReadWholeFile(path, bytes)) {
    err << path << ": cannot be read\n";
    return 2;
  }
  if (bytes.empty()) {
    err << path << ": the file is empty; the program cannot load it\n";
    return 2;
  }
  if (positional.size() == 2) {
    std::string folder = positional[1];
    if (!IsFolder(folder)) {
      err << folder << ": the cabinet folder cannot be read\n";
      return 2;
    }
    if (folder.back() != '/' && folder.back() != '\\') folder += '/';
    options.cabinetSize = [folder](const std::string& name, uint64_t& size) {
      return FileSize(folder + name, size);
    };
  }
  const std::vector<CatcheckFinding> findings = CheckCatalog(bytes, options);
  for (const CatcheckFinding& f : findings) {
    out << path << ":";
    if (f.line) out << f.line << ":";
    out << " " << f.text << "\n";
  }
  if (findings.empty()) return 0;
  out << findings.size() << (findings.size() == 1 ? " finding" : " findings") << "\n";
  return 1;
}
