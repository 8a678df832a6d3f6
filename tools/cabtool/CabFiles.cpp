#include "tools/cabtool/CabFiles.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>

#include "install/cab/MemberName.h"

namespace cabtool {
namespace {

class StdioInput : public cab::CabInput {
 public:
  explicit StdioInput(std::FILE* f) : f_(f) {}
  ~StdioInput() override { std::fclose(f_); }
  size_t Read(void* buffer, size_t size) override {
    // Reads that follow each other need no seek; stdio keeps a buffer.
    size_t got = std::fread(buffer, 1, size, f_);
    pos_ += got;
    return got;
  }
  bool Seek(uint64_t position) override {
    if (position == pos_) return true;
    if (fseeko(f_, static_cast<off_t>(position), SEEK_SET) != 0) return false;
    pos_ = position;
    return true;
  }
  int64_t Size() override {
    if (size_ < 0) {
      off_t here = ftello(f_);
      if (fseeko(f_, 0, SEEK_END) == 0) size_ = ftello(f_);
      fseeko(f_, here, SEEK_SET);
    }
    return size_;
  }

 private:
  std::FILE* f_;
  uint64_t pos_ = 0;
  int64_t size_ = -1;
};

class ExtractCallbacks : public ToolCallbacks {
 public:
  ExtractCallbacks(std::string folder, std::string dest, std::FILE* listing)
      : ToolCallbacks(std::move(folder)), dest_(std::move(dest)), listing_(listing) {}
  ~ExtractCallbacks() override { Abandon(); }

  cab::MemberAction OpenMember(const cab::CabFile& file, uint16_t) override {
    // Names were checked by SafeNameCallbacks.
    std::string rel = file.name;
    for (char& c : rel)
      if (c == '\\') c = '/';
    // fopen does not create folders, so a member under a folder part is
    // written only where that folder already exists.
    path_ = dest_ + "/" + rel;
    out_ = std::fopen(path_.c_str(), "wb");
    if (!out_) {
      failedOpen_ = path_;
      path_.clear();
      return cab::MemberAction::kFail;
    }
    return cab::MemberAction::kWrite;
  }
  bool WriteMember(const uint8_t* data, size_t size) override {
    return std::fwrite(data, 1, size, out_) == size;
  }
  bool CloseMember(const cab::CabFile&) override {
    bool ok = std::fclose(out_) == 0;
    out_ = nullptr;
    if (!ok) return false;  // path_ still set: Abandon removes the file
    if (listing_) std::fprintf(listing_, "%s\n", path_.c_str());
    path_.clear();
    return true;
  }

  // Closes and removes the member being written, if any; returns its path.
  std::string Abandon() {
    if (out_) std::fclose(out_);
    out_ = nullptr;
    std::string path;
    path.swap(path_);
    if (!path.empty()) std::remove(path.c_str());
    return path;
  }
  const std::string& failedOpen() const { return failedOpen_; }

 private:
  std::string dest_;
  std::FILE* listing_;
  std::FILE* out_ = nullptr;
  std::string path_;  // the member being written, until it is complete
  std::string failedOpen_;
};

// Creates `dir` and any missing parents, as "mkdir -p" does.
bool MakeFolders(const std::string& dir) {
  for (size_t at = 1; at <= dir.size(); ++at) {
    if (at < dir.size() && dir[at] != '/') continue;
    const std::string part = dir.substr(0, at);
    if (::mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) return false;
  }
  struct stat st;
  return ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

std::unique_ptr<cab::CabInput> OpenInput(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return nullptr;
  return std::make_unique<StdioInput>(f);
}

std::string DirOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::unique_ptr<cab::CabInput> ToolCallbacks::OpenNextCabinet(const cab::CabHeader& current) {
  if (!cab::IsSafeMemberName(current.nextCabinet)) return nullptr;
  return OpenInput(folder_ + current.nextCabinet);
}

cab::CabError ExtractCabinet(const std::string& path, const std::string& dest,
                             std::FILE* listing, std::FILE* errors) {
  ExtractCallbacks cb(DirOf(path), dest, listing);
  cab::SafeNameCallbacks safe(cb);
  auto input = OpenInput(path);
  if (input && !dest.empty() && !MakeFolders(dest)) {
    if (errors) std::fprintf(errors, "cabtool: cannot create '%s'\n", dest.c_str());
    return cab::CabError::kTargetFile;
  }
  cab::CabError err =
      input ? cab::DecodeCabinetSet(std::move(input), safe) : cab::CabError::kCabinetNotFound;
  // Every failure after OpenMember leaves the member half written.
  std::string removed = cb.Abandon();
  if (err == cab::CabError::kNone) return err;
  if (errors) {
    if (!cb.failedOpen().empty())
      std::fprintf(errors, "cabtool: cannot create '%s'\n", cb.failedOpen().c_str());
    if (!removed.empty())
      std::fprintf(errors, "cabtool: '%s' not extracted, removed\n", removed.c_str());
    std::fprintf(errors, "cabtool: %s: error %d (%s)\n", path.c_str(), cab::CabErrorCode(err),
                 cab::CabErrorText(err));
  }
  return err;
}

}  // namespace cabtool
