// cabtool: the native front of the cabinet decoder.
//   cabtool test [--no-md5] FILE.cab   decode every member, print one line
//   cabtool extract FILE.cab DIR       write the members below DIR
//   cabtool list FILE.cab              members with sizes, dates and codecs
// A cabinet set is followed from the given cabinet; the next cabinets are
// looked for in the same folder under the names their headers give.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "install/cab/CabDecoder.h"
#include "install/cab/CabError.h"
#include "install/cab/Cabinet.h"
#include "install/cab/Md5.h"
#include "tools/cabtool/CabFiles.h"

namespace {

using cab::CabError;
using cabtool::DirOf;
using cabtool::OpenInput;
using cabtool::ToolCallbacks;

std::string BaseName(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

class TestCallbacks : public ToolCallbacks {
 public:
  TestCallbacks(std::string folder, bool md5) : ToolCallbacks(std::move(folder)), useMd5_(md5) {}
  cab::MemberAction OpenMember(const cab::CabFile&, uint16_t) override {
    ++members_;
    return cab::MemberAction::kWrite;
  }
  bool WriteMember(const uint8_t* data, size_t size) override {
    bytes_ += size;
    if (useMd5_) md5_.Update(data, size);
    return true;
  }
  bool CloseMember(const cab::CabFile&) override { return true; }

  unsigned long members_ = 0;
  unsigned long long bytes_ = 0;
  bool useMd5_;
  cab::Md5 md5_;
};

int Test(const std::string& path, bool md5) {
  TestCallbacks cb(DirOf(path), md5);
  auto input = OpenInput(path);
  CabError err = input ? cab::DecodeCabinetSet(std::move(input), cb) : CabError::kCabinetNotFound;
  if (err != CabError::kNone) {
    std::printf("%s fail %d\n", BaseName(path).c_str(), cab::CabErrorCode(err));
    return 1;
  }
  std::printf("%s ok %lu %llu %s\n", BaseName(path).c_str(), cb.members_, cb.bytes_,
              md5 ? cb.md5_.HexDigest().c_str() : "-");
  return 0;
}

int Extract(const std::string& path, const std::string& dest) {
  CabError err = cabtool::ExtractCabinet(path, dest, stdout, stderr);
  return err == CabError::kNone ? 0 : 1;
}

int List(const std::string& path) {
  auto input = OpenInput(path);
  cab::CabinetInfo info;
  CabError err = input ? cab::ReadCabinet(*input, &info) : CabError::kCabinetNotFound;
  if (err != CabError::kNone) {
    std::fprintf(stderr, "cabtool: %s: error %d (%s)\n", path.c_str(), cab::CabErrorCode(err),
                 cab::CabErrorText(err));
    return 1;
  }
  for (const cab::CabFile& f : info.files) {
    std::string type = "-";
    if (f.folderIndex < info.folders.size())
      type = cab::CompressionName(info.folders[f.folderIndex].compression);
    else if (f.folderIndex == cab::kFolderContinuedToNext)
      type = cab::CompressionName(info.folders.back().compression);
    else if (f.folderIndex == cab::kFolderContinuedFromPrev ||
             f.folderIndex == cab::kFolderContinuedPrevAndNext)
      type = cab::CompressionName(info.folders.front().compression);
    // DOS date: year-1980 / month / day; DOS time: hours / minutes / seconds/2.
    std::printf("%10u  %04d-%02d-%02d %02d:%02d:%02d  %-8s  %s\n", f.size,
                1980 + (f.date >> 9), (f.date >> 5) & 15, f.date & 31, f.time >> 11,
                (f.time >> 5) & 63, (f.time & 31) * 2, type.c_str(), f.name.c_str());
  }
  return 0;
}

int Usage() {
  std::fprintf(stderr,
               "usage: cabtool test [--no-md5] FILE.cab\n"
               "       cabtool extract FILE.cab DIR\n"
               "       cabtool list FILE.cab\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return Usage();
  std::string cmd = argv[1];
  if (cmd == "test") {
    bool md5 = true;
    int i = 2;
    if (std::strcmp(argv[i], "--no-md5") == 0) {
      md5 = false;
      ++i;
    }
    if (i + 1 != argc) return Usage();
    return Test(argv[i], md5);
  }
  if (cmd == "extract" && argc == 4) return Extract(argv[2], argv[3]);
  if (cmd == "list" && argc == 3) return List(argv[2]);
  return Usage();
}
