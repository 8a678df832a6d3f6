#include "tests/unit/cab/CabTestSupport.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "install/cab/ByteOrder.h"
#include "install/cab/CabInput.h"
#include "install/cab/Cabinet.h"
#include "install/cab/Checksum.h"
#include "install/cab/Decompressor.h"
#include "install/cab/Md5.h"
#include "install/cab/MemberName.h"

namespace cabtest {
namespace {

// A cabinet in memory that owns its bytes (a set's cabinets are handed out
// one by one and outlive the map lookups).
class OwnedInput : public cab::CabInput {
 public:
  explicit OwnedInput(Bytes bytes) : bytes_(std::move(bytes)), view_(bytes_) {}
  size_t Read(void* buffer, size_t size) override { return view_.Read(buffer, size); }
  bool Seek(uint64_t position) override { return view_.Seek(position); }
  int64_t Size() override { return view_.Size(); }

 private:
  Bytes bytes_;
  cab::MemoryCabInput view_;
};

class Collector : public cab::CabCallbacks {
 public:
  Collector(const std::map<std::string, Bytes>& set, DecodeResult* r) : set_(set), r_(r) {}
  cab::MemberAction OpenMember(const cab::CabFile& file, uint16_t) override {
    ++r_->members;
    r_->names.push_back(file.name);
    return cab::MemberAction::kWrite;
  }
  bool WriteMember(const uint8_t* data, size_t size) override {
    r_->bytes += size;
    md5_.Update(data, size);
    if (r_->data.size() + size <= (1u << 20)) r_->data.append(reinterpret_cast<const char*>(data), size);
    return true;
  }
  bool CloseMember(const cab::CabFile&) override { return true; }
  std::unique_ptr<cab::CabInput> OpenNextCabinet(const cab::CabHeader& current) override {
    auto it = set_.find(current.nextCabinet);
    if (it == set_.end()) return nullptr;
    return std::make_unique<OwnedInput>(it->second);
  }
  cab::Md5 md5_;

 private:
  const std::map<std::string, Bytes>& set_;
  DecodeResult* r_;
};

void Put16(Bytes* b, uint16_t v) {
  b->push_back(static_cast<uint8_t>(v));
  b->push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(Bytes* b, uint32_t v) {
  Put16(b, static_cast<uint16_t>(v));
  Put16(b, static_cast<uint16_t>(v >> 16));
}
void PutName(Bytes* b, const std::string& s) {
  b->insert(b->end(), s.begin(), s.end());
  b->push_back(0);
}
void Set32(Bytes* b, size_t at, uint32_t v) { cab::WriteLe32(b->data() + at, v); }

}  // namespace

Bytes ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string TestDataPath(const std::string& name) { return std::string(TESTDATA_DIR) + "/" + name; }

std::vector<Expected> ReadExpected() {
  std::vector<Expected> out;
  std::ifstream in(TestDataPath("EXPECTED.txt"));
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    Expected e;
    std::string result;
    fields >> e.name >> result;
    e.ok = result == "ok";
    if (e.ok) fields >> e.members >> e.bytes >> e.md5;
    out.push_back(e);
  }
  return out;
}

DecodeResult DecodeBytes(const Bytes& cabinet, const std::map<std::string, Bytes>& set,
                         bool safeNames) {
  DecodeResult r;
  Collector c(set, &r);
  cab::SafeNameCallbacks safe(c);
  cab::CabCallbacks& cb = safeNames ? static_cast<cab::CabCallbacks&>(safe) : c;
  r.error = cab::DecodeCabinetSet(std::make_unique<OwnedInput>(cabinet), cb);
  r.md5 = c.md5_.HexDigest();
  return r;
}

Bytes Build(const BuildCabinet& cab) {
  Bytes b = {'M', 'S', 'C', 'F'};
  b.resize(24);  // sizes and offsets patched below
  b.insert(b.end(), {3, 1});
  Put16(&b, static_cast<uint16_t>(cab.folders.size()));
  Put16(&b, static_cast<uint16_t>(cab.files.size()));
  uint16_t flags = cab.flags | (cab.reserve ? cab::kFlagReservePresent : 0);
  Put16(&b, flags);
  Put16(&b, cab.setId);
  Put16(&b, cab.index);
  if (cab.reserve) {
    Put16(&b, 0);
    b.insert(b.end(), {0, cab.dataReserve});
  }
  if (flags & cab::kFlagPrevCabinet) {
    PutName(&b, cab.prev);
    PutName(&b, cab.prevDisk);
  }
  if (flags & cab::kFlagNextCabinet) {
    PutName(&b, cab.next);
    PutName(&b, cab.nextDisk);
  }
  std::vector<size_t> folderAt;
  for (const BuildFolder& f : cab.folders) {
    folderAt.push_back(b.size());
    Put32(&b, 0);
    Put16(&b, static_cast<uint16_t>(f.blocks.size()));
    Put16(&b, f.compression);
  }
  Set32(&b, 16, static_cast<uint32_t>(b.size()));
  for (const BuildFile& f : cab.files) {
    Put32(&b, f.size);
    Put32(&b, f.offset);
    Put16(&b, f.folder);
    Put16(&b, 0x226c);  // 1997-03-12
    Put16(&b, 0x59ba);
    Put16(&b, 0x20);
    PutName(&b, f.name);
  }
  for (size_t i = 0; i < cab.folders.size(); ++i) {
    Set32(&b, folderAt[i], static_cast<uint32_t>(b.size()));
    for (const BuildBlock& blk : cab.folders[i].blocks) {
      size_t at = b.size();
      Put32(&b, 0);
      Put16(&b, static_cast<uint16_t>(blk.data.size()));
      Put16(&b, blk.uncompressed);
      b.insert(b.end(), cab.dataReserve, 0x3C);
      b.insert(b.end(), blk.data.begin(), blk.data.end());
      Set32(&b, at, cab::DataBlockChecksum(blk.data.data(), blk.data.size(), b.data() + at + 4));
    }
  }
  Set32(&b, 8, static_cast<uint32_t>(b.size()));
  return b;
}

Bytes StoredCabinet(const std::vector<std::pair<std::string, std::string>>& members) {
  BuildCabinet c;
  std::string all;
  for (const auto& m : members) {
    c.files.push_back({m.first, static_cast<uint32_t>(m.second.size()),
                       static_cast<uint32_t>(all.size()), 0});
    all += m.second;
  }
  BuildFolder f;
  for (size_t at = 0; at < all.size(); at += cab::kMaxBlockBytes) {
    std::string part = all.substr(at, cab::kMaxBlockBytes);
    f.blocks.push_back({Bytes(part.begin(), part.end()), static_cast<uint16_t>(part.size())});
  }
  c.folders.push_back(f);
  return Build(c);
}

std::string RunCodec(cab::Decompressor& codec, const Bytes& in, size_t outSize,
                     cab::CodecStatus* status) {
  std::string out(outSize, '\0');
  *status = codec.DecodeBlock(in.data(), in.size(), reinterpret_cast<uint8_t*>(&out[0]), outSize);
  return out;
}

std::vector<uint32_t> CanonicalCodes(const std::vector<uint8_t>& lengths) {
  uint32_t count[18] = {}, next[18] = {};
  for (uint8_t l : lengths) ++count[l];
  count[0] = 0;
  uint32_t code = 0;
  for (int l = 1; l <= 17; ++l) {
    code = (code + count[l - 1]) << 1;
    next[l] = code;
  }
  std::vector<uint32_t> codes(lengths.size(), 0);
  for (size_t s = 0; s < lengths.size(); ++s)
    if (lengths[s]) codes[s] = next[lengths[s]]++;
  return codes;
}

#ifndef _WIN32
bool CabextractMembers(const Bytes& cabinet, std::string& out) {
  char path[] = "/tmp/cabtest-XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) return false;
  const bool wrote =
      write(fd, cabinet.data(), cabinet.size()) == static_cast<ssize_t>(cabinet.size());
  close(fd);
  out.clear();
  int status = -1;
  if (wrote) {
    FILE* p = popen((std::string("cabextract -q -p ") + path + " 2>/dev/null").c_str(), "r");
    if (p) {
      char buf[65536];
      size_t n;
      while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
      status = pclose(p);
    }
  }
  unlink(path);
  return status == 0;
}
#endif

}  // namespace cabtest
