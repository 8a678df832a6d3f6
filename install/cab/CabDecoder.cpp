#include "install/cab/CabDecoder.h"

#include <new>
#include <vector>

#include "install/cab/ByteOrder.h"
#include "install/cab/Checksum.h"
#include "install/cab/Decompressor.h"

namespace cab {
namespace {

// CFDATA header fields.
constexpr size_t kDataChecksum = 0;
constexpr size_t kDataCompressed = 4;
constexpr size_t kDataUncompressed = 6;
constexpr size_t kDataHeaderSize = 8;

// A folder as a stream of output: the cabinet it starts in (by walk order)
// and its index there. A folder continued from the previous cabinet keeps
// the identity of the folder it continues.
struct FolderId {
  int cabinet = -1;
  int folder = -1;
  bool operator==(const FolderId& o) const { return cabinet == o.cabinet && folder == o.folder; }
};

struct OpenCabinet {
  std::unique_ptr<CabInput> input;
  CabinetInfo info;
  int seq = 0;
  bool continuesPrev = false;  // folder 0 goes on from the previous cabinet
  FolderId continued;          // ... and this is the folder it continues
  std::shared_ptr<OpenCabinet> next;

  int LastFolder() const { return static_cast<int>(info.folders.size()) - 1; }
  FolderId IdOf(int folder) const {
    if (folder == 0 && continuesPrev) return continued;
    return FolderId{seq, folder};
  }
};

class SetDecoder {
 public:
  SetDecoder(CabCallbacks& cb, const DecodeOptions& options)
      : cb_(cb), options_(options), raw_(2 * kMaxCompressedBlockBytes), block_(kMaxBlockBytes) {}

  CabError Run(std::unique_ptr<CabInput> first) {
    auto cur = std::make_shared<OpenCabinet>();
    cur->input = std::move(first);
    if (!cur->input) return CabError::kCabinetNotFound;
    CabError err = ReadCabinet(*cur->input, &cur->info);
    if (err != CabError::kNone) return err;
    if (!cb_.OnCabinet(cur->info)) return CabError::kUserAbort;

    for (;;) {
      for (const CabFile& file : cur->info.files) {
        err = DoMember(cur, file);
        if (err != CabError::kNone) return err;
      }
      // As FDI does, one call covers the members that begin in the first
      // cabinet; later cabinets were opened only to finish them.
      if (!options_.followSet) break;
      if (!cur->next) {
        if (!(cur->info.header.flags & kFlagNextCabinet)) break;
        err = OpenNext(cur, false);
        if (err != CabError::kNone) return err;
      }
      cur = cur->next;
    }
    return CabError::kNone;
  }

 private:
  CabError DoMember(const std::shared_ptr<OpenCabinet>& cab, const CabFile& file) {
    if (file.folderIndex == kFolderContinuedFromPrev ||
        file.folderIndex == kFolderContinuedPrevAndNext) {
      // Began in an earlier cabinet: already written when the walk came
      // from there, unavailable when the walk starts here.
      if (cab->seq == 0 && !cb_.OnPartialMember(file)) return CabError::kUserAbort;
      return CabError::kNone;
    }
    int folder = file.folderIndex == kFolderContinuedToNext ? cab->LastFolder()
                                                              : file.folderIndex;
    MemberAction action = cb_.OpenMember(file, cab->info.folders[folder].compression);
    if (action == MemberAction::kAbort) return CabError::kUserAbort;
    if (action == MemberAction::kFail) return CabError::kTargetFile;
    if (action == MemberAction::kSkip) return CabError::kNone;
    if (file.size > 0) {
      CabError err = Position(cab, folder, file.folderOffset);
      if (err == CabError::kNone) err = Copy(file.size, true);
      if (err != CabError::kNone) return err;
    }
    return cb_.CloseMember(file) ? CabError::kNone : CabError::kTargetFile;
  }

  // Brings the stream to `offset` of the given folder, starting or
  // restarting the folder when needed.
  CabError Position(const std::shared_ptr<OpenCabinet>& cab, int folder, uint32_t offset) {
    FolderId id = cab->IdOf(folder);
    bool usable = haveStream_ && streamId_ == id && streamPos_ <= offset;
    if (!usable) {
      // Only a folder that starts in this cabinet can be started from here.
      if (id.cabinet != cab->seq) return CabError::kCorruptCabinet;
      CabError err = StartFolder(cab, folder);
      if (err != CabError::kNone) return err;
    }
    return Copy(offset - streamPos_, false);
  }

  CabError StartFolder(const std::shared_ptr<OpenCabinet>& cab, int folder) {
    haveStream_ = false;
    uint16_t type = cab->info.folders[folder].compression;
    CabError err = SelectCodec(type);
    if (err != CabError::kNone) return err;
    codec_->Reset();
    streamCab_ = cab;
    streamFolder_ = folder;
    streamId_ = cab->IdOf(folder);
    nextBlock_ = 0;
    blockOffset_ = cab->info.folders[folder].dataOffset;
    blockLen_ = blockPos_ = 0;
    streamPos_ = 0;
    haveStream_ = true;
    return CabError::kNone;
  }

  // One codec object per compression type, reused from folder to folder.
  CabError SelectCodec(uint16_t type) {
    int kind = type & kCompressionMask;
    int window = (type >> 8) & 0x1F;
    if (kind > kCompressionLzx) return CabError::kBadCompressionType;
    if (!codecs_[kind] || codecWindow_[kind] != window) {
      codecs_[kind].reset();
      switch (kind) {
        case kCompressionNone: codecs_[kind] = MakeStoredDecompressor(); break;
        case kCompressionMszip: codecs_[kind] = MakeMszipDecompressor(); break;
        case kCompressionQuantum: codecs_[kind] = MakeQuantumDecompressor(window); break;
        default: codecs_[kind] = MakeLzxDecompressor(window); break;
      }
      if (!codecs_[kind]) return CabError::kBadCompressionType;
      codecWindow_[kind] = window;
    }
    codec_ = codecs_[kind].get();
    return CabError::kNone;
  }

  // Moves `size` bytes of folder output on, writing them when `write`.
  CabError Copy(uint64_t size, bool write) {
    while (size > 0) {
      if (blockPos_ == blockLen_) {
        CabError err = NextBlock();
        if (err != CabError::kNone) {
          haveStream_ = false;
          return err;
        }
      }
      size_t take = blockLen_ - blockPos_;
      if (take > size) take = static_cast<size_t>(size);
      if (write && !cb_.WriteMember(block_.data() + blockPos_, take)) return CabError::kTargetFile;
      blockPos_ += take;
      streamPos_ += take;
      size -= take;
    }
    return CabError::kNone;
  }

  // Opens the cabinet after `cab` (once) and checks it belongs to the set.
  CabError OpenNext(const std::shared_ptr<OpenCabinet>& cab, bool continuing) {
    if (cab->next) {
      if (continuing) cab->next->continuesPrev = true;
      return CabError::kNone;
    }
    const CabHeader& hd = cab->info.header;
    if (!(hd.flags & kFlagNextCabinet)) return CabError::kCorruptCabinet;
    auto next = std::make_shared<OpenCabinet>();
    next->input = cb_.OpenNextCabinet(hd);
    if (!next->input) return CabError::kCabinetNotFound;
    CabError err = ReadCabinet(*next->input, &next->info);
    if (err != CabError::kNone) return err;
    const CabHeader& nh = next->info.header;
    if (nh.setId != hd.setId || nh.cabinetIndex != hd.cabinetIndex + 1)
      return CabError::kWrongCabinet;
    if (nh.folderReserve != hd.folderReserve || nh.dataReserve != hd.dataReserve)
      return CabError::kReserveMismatch;
    next->seq = cab->seq + 1;
    // Folder 0 continues our last folder when a member says so on either side.
    bool spans = continuing;
    for (const CabFile& f : cab->info.files)
      spans = spans || f.folderIndex == kFolderContinuedToNext ||
              f.folderIndex == kFolderContinuedPrevAndNext;
    for (const CabFile& f : next->info.files)
      spans = spans || f.folderIndex == kFolderContinuedFromPrev ||
              f.folderIndex == kFolderContinuedPrevAndNext;
    next->continuesPrev = spans;
    next->continued = cab->IdOf(cab->LastFolder());
    if (!cb_.OnCabinet(next->info)) return CabError::kUserAbort;
    cab->next = std::move(next);
    return CabError::kNone;
  }

  // Moves the stream into folder 0 of the next cabinet.
  CabError CrossCabinet() {
    if (streamFolder_ != streamCab_->LastFolder()) return CabError::kCorruptCabinet;
    CabError err = OpenNext(streamCab_, true);
    if (err != CabError::kNone) return err;
    std::shared_ptr<OpenCabinet> next = streamCab_->next;
    if ((next->info.folders[0].compression & kCompressionMask) !=
        (streamCab_->info.folders[streamFolder_].compression & kCompressionMask))
      return CabError::kCorruptCabinet;
    streamCab_ = next;
    streamFolder_ = 0;
    nextBlock_ = 0;
    blockOffset_ = next->info.folders[0].dataOffset;
    return CabError::kNone;
  }

  // Reads the next CFDATA of the stream's folder into raw_ at `at`.
  CabError ReadDataBlock(size_t at, size_t* compressed, size_t* uncompressed) {
    OpenCabinet& cab = *streamCab_;
    const size_t reserve = cab.info.header.dataReserve;
    uint8_t hdr[kDataHeaderSize];
    if (!cab.input->Seek(blockOffset_) || cab.input->Read(hdr, sizeof hdr) != sizeof hdr)
      return CabError::kCorruptCabinet;
    uint32_t sum = ReadLe32(hdr + kDataChecksum);
    size_t cb = ReadLe16(hdr + kDataCompressed);
    size_t ub = ReadLe16(hdr + kDataUncompressed);
    if (cb > kMaxCompressedBlockBytes || ub > kMaxBlockBytes || at + cb > raw_.size())
      return CabError::kCorruptCabinet;
    if (reserve && !cab.input->Seek(blockOffset_ + kDataHeaderSize + reserve))
      return CabError::kCorruptCabinet;
    if (cab.input->Read(raw_.data() + at, cb) != cb) return CabError::kCorruptCabinet;
    if (sum != 0 && DataBlockChecksum(raw_.data() + at, cb, hdr + kDataCompressed) != sum)
      return CabError::kCorruptCabinet;
    blockOffset_ += kDataHeaderSize + reserve + cb;
    ++nextBlock_;
    *compressed = cb;
    *uncompressed = ub;
    return CabError::kNone;
  }

  CabError NextBlock() {
    // The folder's blocks in this cabinet are used up: go on in the next.
    while (nextBlock_ >= streamCab_->info.folders[streamFolder_].dataBlocks) {
      CabError err = CrossCabinet();
      if (err != CabError::kNone) return err;
    }
    size_t cb = 0, ub = 0;
    CabError err = ReadDataBlock(0, &cb, &ub);
    if (err != CabError::kNone) return err;
    // A block split across cabinets: a part with no uncompressed size of its
    // own goes on in the first block of the next cabinet's folder 0 (a small
    // block may pass through several cabinets this way).
    while (ub == 0) {
      if (nextBlock_ != streamCab_->info.folders[streamFolder_].dataBlocks)
        return CabError::kCorruptCabinet;
      err = CrossCabinet();
      if (err != CabError::kNone) return err;
      if (streamCab_->info.folders[0].dataBlocks == 0) return CabError::kCorruptCabinet;
      size_t part = 0;
      err = ReadDataBlock(cb, &part, &ub);
      if (err != CabError::kNone) return err;
      cb += part;
      if (cb > kMaxCompressedBlockBytes) return CabError::kCorruptCabinet;
    }
    decoded_ += ub;
    if (decoded_ > options_.maxDecodedBytes) return CabError::kUserAbort;
    CodecStatus st = codec_->DecodeBlock(raw_.data(), cb, block_.data(), ub);
    if (st == CodecStatus::kNoMemory) return CabError::kAllocFail;
    if (st != CodecStatus::kOk) return CabError::kDecompressorFailure;
    blockLen_ = ub;
    blockPos_ = 0;
    return CabError::kNone;
  }

  CabCallbacks& cb_;
  DecodeOptions options_;
  std::vector<uint8_t> raw_;
  std::vector<uint8_t> block_;
  std::unique_ptr<Decompressor> codecs_[4];
  int codecWindow_[4] = {-1, -1, -1, -1};
  Decompressor* codec_ = nullptr;

  bool haveStream_ = false;
  FolderId streamId_;
  std::shared_ptr<OpenCabinet> streamCab_;
  int streamFolder_ = 0;
  uint32_t nextBlock_ = 0;
  uint64_t blockOffset_ = 0;
  size_t blockLen_ = 0;
  size_t blockPos_ = 0;
  uint64_t streamPos_ = 0;
  uint64_t decoded_ = 0;
};

}  // namespace

CabError DecodeCabinetSet(std::unique_ptr<CabInput> first, CabCallbacks& callbacks,
                          const DecodeOptions& options) {
  try {
    SetDecoder decoder(callbacks, options);
    return decoder.Run(std::move(first));
  } catch (const std::bad_alloc&) {
    return CabError::kAllocFail;
  }
}

}  // namespace cab
