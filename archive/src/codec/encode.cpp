#include "codec/encode.h"

#include <algorithm>
#include <memory>
#include <thread>
#include <vector>

#include "arcfold/arcfold.h"
#include "codec/crc32.h"
#include "codec/decode.h"
#include "codec/deflater.h"
#include "codec/methods.h"
#include "codec/second_core.h"
#include "crypto/aes_transform.h"
#include "crypto/classic_cipher.h"
#include "items/path_parts.h"

namespace arcfold {

int64_t EncodeChunkSize(int mode) {
  if (mode >= 1 && mode <= 3) return 0x80000;
  if (mode >= 7) return 0x180000;
  return 0x100000;
}

namespace {

// What a thread keeps from one item of several chunks to the next while a
// commit runs: the chunk buffers and a deflater for each core. New ones
// would be new memory for every item and chunk, and the system's first
// touch of each page costs more than deflating the page at the fast levels.
struct ChunkWorkspace {
  std::vector<uint8_t> in, out, second_in, second_out;
  // What the deflaters were made for.
  int mode = -1;
  TAFTuningSwitch fast_deflate = tsDefault;
  std::unique_ptr<Deflater> first, second;
  bool busy = false;
};

thread_local ChunkWorkspace kept_workspace;

// The thread's kept workspace, or one of its own for a pass that runs while
// another uses it (an event handler that writes another archive).
class WorkspaceLease {
 public:
  WorkspaceLease() {
    if (kept_workspace.busy) own_ = std::make_unique<ChunkWorkspace>();
    workspace().busy = true;
  }
  ~WorkspaceLease() { workspace().busy = false; }
  WorkspaceLease(const WorkspaceLease&) = delete;
  WorkspaceLease& operator=(const WorkspaceLease&) = delete;
  ChunkWorkspace& workspace() { return own_ ? *own_ : kept_workspace; }

 private:
  std::unique_ptr<ChunkWorkspace> own_;
};

// One pass over the source: CRC, compression by the item's method,
// encryption, writing. Its steps share the pass's buffers and counters.
class EncodePass {
 public:
  EncodePass(TAFBaseArchiver& archiver, TStream& source, TStream& archive, int64_t source_size, TDirItem& item,
             const std::vector<uint8_t>* deflated);
  // data_bytes counts the compressed data without the encryption header and
  // authentication code.
  bool Run(int64_t& data_bytes);

 private:
  // How a step of the loop over the chunks ended.
  enum class Step { kNext, kShort, kStopped };

  bool StartEncryption();
  void ChecksumAhead();
  void CompressChunks();
  bool UsesTwoCores() const;
  Step OneCoreStep(int64_t chunk);
  Step TwoCoreStep(int64_t chunk);
  bool Emit(std::vector<uint8_t>& bytes);
  bool FinishData();
  void RecordSizes();

  TAFBaseArchiver& archiver_;
  TStream& source_;
  TStream& archive_;
  const int64_t source_size_;
  TDirItem& item_;
  TCentralHeader header_;
  const int mode_;
  const int64_t chunk_size_;
  const std::string password_;
  const bool encrypted_;
  const TAFCryptoAlgorithm algorithm_;
  const bool aes_;
  const afp::WideString name_;
  const TAFTuning tuning_;
  // The whole source compressed ahead by the item's method (for deflate,
  // a source of one chunk).
  const std::vector<uint8_t>* const deflated_;
  std::unique_ptr<TAESCryptoTransform> transform_;
  TZipClassicKeys keys_;
  std::unique_ptr<Deflater> deflater_;
  WorkspaceLease lease_;
  ChunkWorkspace& work_ = lease_.workspace();
  std::vector<uint8_t>&in_ = work_.in, &out_ = work_.out, &second_in_ = work_.second_in,
  &second_out_ = work_.second_out;
  std::vector<uint8_t> tail_;
  uint32_t crc_ = 0;
  int64_t read_ = 0, written_ = 0, data_bytes_ = 0;
  bool stopped_ = false;
};

EncodePass::EncodePass(TAFBaseArchiver& archiver, TStream& source, TStream& archive, int64_t source_size,
                       TDirItem& item, const std::vector<uint8_t>* deflated)
    : archiver_(archiver),
      source_(source),
      archive_(archive),
      source_size_(source_size),
      item_(item),
      header_(item.HeaderImage),
      mode_(item.ItemCompressionMode),
      chunk_size_(EncodeChunkSize(mode_)),
      password_(item.Source ? item.Source->Password : std::string()),
      encrypted_(!password_.empty()),
      algorithm_(archiver.EncryptionMethod()),
      aes_(encrypted_ && algorithm_ != caPkzipClassic),
      name_(paths::Backslashed(item.ItemName)),
      tuning_(archiver.Options().Tuning.WithEnvironment()),
      deflated_(item.ActualMethod != kMethodDeflate || source_size <= chunk_size_ ? deflated : nullptr) {}

bool EncodePass::Run(int64_t& data_bytes) {
  source_.SetPosition(0);
  const uint16_t method = item_.ActualMethod;
  if (aes_) {
    transform_ = std::make_unique<TAESCryptoTransform>(AesKeyBits(algorithm_), 2, method);
    transform_->SetShaInstructions(tuning_.ShaInstructions);
    header_.SetMethod(kMethodAES);
    item_.CryptoAlgorithm = algorithm_;
  }
  in_.resize(static_cast<size_t>(std::max<int64_t>(std::min(chunk_size_, source_size_), 1)));
  bool ready = true;
  // The two-core path uses the workspace's deflaters.
  if (method != kMethodStored && !deflated_ && !UsesTwoCores()) {
    deflater_ = MakeCompressor(method, mode_, source_size_, tuning_);
    ready = deflater_ != nullptr;
  }
  if (ready && encrypted_) ready = StartEncryption();
  stopped_ = !ready;
  if (ready) CompressChunks();
  const bool finished = FinishData();
  data_bytes += data_bytes_;
  if (!finished) return false;
  RecordSizes();
  return true;
}

// The encryption header goes first; false when it could not be written.
bool EncodePass::StartEncryption() {
  // The classic header's check bytes come from the CRC, so it is computed
  // before the data is written.
  ChecksumAhead();
  std::vector<uint8_t> head;
  if (aes_) {
    transform_->SetTransformMode(TAFCryptoTransform::kEncrypt);
    transform_->SetPassword(password_);
    head = transform_->GetHeader();
  } else {
    auto h = BuildClassicHeader(password_, crc_, keys_);
    head.assign(h.begin(), h.end());
  }
  const bool ok = WriteWithDiskFullRetry(archiver_, archive_, head.data(), static_cast<int64_t>(head.size()));
  written_ += static_cast<int64_t>(head.size());
  return ok;
}

void EncodePass::ChecksumAhead() {
  for (int64_t pos = 0; pos < source_size_;) {
    int64_t n = std::min(chunk_size_, source_size_ - pos);
    int64_t got = source_.Read(in_.data(), n);
    if (got > 0) crc_ = Crc32Update(crc_, in_.data(), static_cast<size_t>(got));
    if (got != n) break;
    pos += n;
  }
  source_.SetPosition(0);
}

void EncodePass::CompressChunks() {
  // Deflating a source of several chunks uses two cores: each chunk is its
  // own deflate stream, primed with the last 32 KiB of the chunk before and
  // ended by a sync flush (the last by the end of the stream), so the
  // streams join into one and the archive is the same whichever core made
  // which part. Two chunks are compressed at once and written in order.
  // (The other methods' libraries use their own threads, or none.)
  const bool two_cores = UsesTwoCores();
  if (two_cores) second_in_.resize(static_cast<size_t>(chunk_size_));
  while (read_ < source_size_) {
    if (!ReportItemProgress(archiver_, item_, name_, source_size_, read_)) {
      stopped_ = true;
      return;
    }
    const int64_t chunk = std::min(chunk_size_, source_size_ - read_);
    if (source_.Read(in_.data(), chunk) != chunk) return;
    if (!encrypted_) crc_ = Crc32Update(crc_, in_.data(), static_cast<size_t>(chunk));
    const Step step = two_cores ? TwoCoreStep(chunk) : OneCoreStep(chunk);
    if (step == Step::kStopped) stopped_ = true;
    if (step != Step::kNext) return;
  }
}

bool EncodePass::UsesTwoCores() const {
  return item_.ActualMethod == kMethodDeflate && source_size_ > chunk_size_ && SecondCoreAllowed(tuning_);
}

EncodePass::Step EncodePass::OneCoreStep(int64_t chunk) {
  out_.clear();
  if (deflated_) {
    // The whole data, compressed ahead, goes out with the first chunk.
    if (read_ == 0) out_ = *deflated_;
  } else if (deflater_) {
    const auto flush = read_ + chunk >= source_size_ ? Deflater::Flush::Finish : Deflater::Flush::Sync;
    if (!deflater_->Deflate(in_.data(), static_cast<size_t>(chunk), flush, out_)) return Step::kShort;
  } else {
    out_.assign(in_.begin(), in_.begin() + chunk);
  }
  if (!Emit(out_)) return Step::kStopped;
  read_ += chunk;
  return Step::kNext;
}

// The dictionary a chunk's stream starts from: the last bytes before it.
constexpr size_t kDeflateWindow = 32768;

// One chunk as a deflate stream of its own, primed with dict.
bool CompressChunk(Deflater& d, const uint8_t* data, size_t n, const std::vector<uint8_t>& dict, bool last,
                   std::vector<uint8_t>& result) {
  result.clear();
  return d.SetDictionary(dict.data(), dict.size()) &&
         d.Deflate(data, n, last ? Deflater::Flush::Finish : Deflater::Flush::Sync, result);
}

// The workspace's two deflaters, each ready for a new stream (the ones kept,
// reset, where they can be); false when one cannot be made.
bool ReadyDeflaters(ChunkWorkspace& work, int mode, const TAFTuning& tuning) {
  const bool fits = work.mode == mode && work.fast_deflate == tuning.FastDeflate;
  work.mode = mode;
  work.fast_deflate = tuning.FastDeflate;
  for (std::unique_ptr<Deflater>* d : {&work.first, &work.second})
    if (!fits || !*d || !(*d)->Reset()) *d = MakeDeflater(mode, tuning);
  if (work.first && work.second) return true;
  work.mode = -1;
  return false;
}

// The chunk in in_ (already read) and the one after it, compressed at once.
EncodePass::Step EncodePass::TwoCoreStep(int64_t chunk) {
  const int64_t next = std::min(chunk_size_, source_size_ - read_ - chunk);
  if (next > 0 && source_.Read(second_in_.data(), next) != next) return Step::kShort;
  if (next > 0 && !encrypted_) crc_ = Crc32Update(crc_, second_in_.data(), static_cast<size_t>(next));
  const size_t keep = std::min<size_t>(static_cast<size_t>(chunk), kDeflateWindow);
  std::vector<uint8_t> second_dict(in_.begin() + (chunk - static_cast<int64_t>(keep)), in_.begin() + chunk);
  if (!ReadyDeflaters(work_, mode_, tuning_)) return Step::kShort;
  bool second_ok = true;
  std::thread helper;
  if (next > 0) {
    helper = std::thread([&] {
      second_ok = CompressChunk(*work_.second, second_in_.data(), static_cast<size_t>(next), second_dict,
                                read_ + chunk + next >= source_size_, second_out_);
    });
  }
  const bool first_ok = CompressChunk(*work_.first, in_.data(), static_cast<size_t>(chunk), tail_,
                                      next == 0 && read_ + chunk >= source_size_, out_);
  if (helper.joinable()) helper.join();
  if (!first_ok || !second_ok) return Step::kShort;
  if (!Emit(out_)) return Step::kStopped;
  read_ += chunk;
  if (next == 0) {
    tail_ = second_dict;
    return Step::kNext;
  }
  // Each chunk reports its progress, as on one core.
  if (!ReportItemProgress(archiver_, item_, name_, source_size_, read_)) return Step::kStopped;
  if (!Emit(second_out_)) return Step::kStopped;
  read_ += next;
  const size_t t = std::min<size_t>(static_cast<size_t>(next), kDeflateWindow);
  tail_.assign(second_in_.begin() + (next - static_cast<int64_t>(t)), second_in_.begin() + next);
  return Step::kNext;
}

bool EncodePass::Emit(std::vector<uint8_t>& bytes) {
  if (aes_)
    transform_->EncryptBlock(bytes.data(), 0, bytes.data(), 0, bytes.size());
  else if (encrypted_)
    keys_.EncryptBuffer(bytes.data(), bytes.size());
  if (!WriteWithDiskFullRetry(archiver_, archive_, bytes.data(), static_cast<int64_t>(bytes.size()))) return false;
  written_ += static_cast<int64_t>(bytes.size());
  data_bytes_ += static_cast<int64_t>(bytes.size());
  return true;
}

// The authentication code after whole data; false on a cancel. Raises
// error 34 when the source delivered less than its size.
bool EncodePass::FinishData() {
  if (aes_ && !stopped_ && read_ == source_size_) {
    std::vector<uint8_t> code = transform_->GetAuthenticationCode();
    if (!WriteWithDiskFullRetry(archiver_, archive_, code.data(), static_cast<int64_t>(code.size()))) return false;
    written_ += static_cast<int64_t>(code.size());
  }
  if (read_ != source_size_) {
    if (archiver_.CancelFlag()) return false;
    throw EAFException::CreateFmt(NativeError::kInvalidCompressedSize, &archiver_, {source_size_, read_});
  }
  return true;
}

void EncodePass::RecordSizes() {
  // Sizes that do not fit 32 bits, or every size under zmAlways, go to the
  // ZIP64 field.
  const bool always = archiver_.Zip64Mode() == zmAlways;
  if (written_ >= 0xFFFFFFFFLL || always) {
    item_.HasZip64 = true;
    header_.SetCompressedSize(0xFFFFFFFF);
    item_.CompressedSize64 = written_;
  } else {
    header_.SetCompressedSize(static_cast<uint32_t>(written_));
  }
  if (source_size_ >= 0xFFFFFFFFLL || always) {
    item_.HasZip64 = true;
    header_.SetUncompressedSize(0xFFFFFFFF);
    item_.UncompressedSize64 = source_size_;
  } else {
    header_.SetUncompressedSize(static_cast<uint32_t>(source_size_));
  }
  // AE-2 leaves the CRC out: for small files it would tell about the
  // plaintext, and the authentication code checks the data instead.
  header_.SetCrc32(aes_ ? 0 : crc_);
  if (item_.HasZip64 && archiver_.Zip64Mode() == zmDisabled)
    throw EAFException::CreateFmt(NativeError::kZip64Refused, &archiver_, {item_.ItemName});
  if (source_size_ == 0) {
    item_.ActualMethod = kMethodStored;
    if (!aes_) header_.SetMethod(kMethodStored);
  }
  item_.HeaderImage = header_;
}

bool EncodeOnce(TAFBaseArchiver& archiver, TStream& source, TStream& archive, int64_t source_size, TDirItem& item,
                int64_t& data_bytes, const std::vector<uint8_t>* deflated = nullptr) {
  return EncodePass(archiver, source, archive, source_size, item, deflated).Run(data_bytes);
}

// Whether the source can be read again from its start.
bool Rewinds(TStream& source) {
  try {
    return source.Seek(0, SeekOrigin::Begin) == 0;
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace

bool EncodeItemData(TAFBaseArchiver& archiver, TStream& source, TStream& archive, int64_t source_size, TDirItem& item,
                    const std::vector<uint8_t>* deflated) {
  const TCentralHeader before = item.HeaderImage;
  const bool zip64_before = item.HasZip64;
  const int64_t data_at = archive.Position();
  // Deflate at level 0 was asked for by name: its stored blocks stay.
  const bool may_store = item.ActualMethod != kMethodStored && item.ItemCompressionMode > 0;
  int64_t data_bytes = 0;
  if (!EncodeOnce(archiver, source, archive, source_size, item, data_bytes, deflated)) return false;
  if (!may_store || data_bytes <= source_size || !Rewinds(source)) return true;
  // Data that does not compress grew by the deflate framing: the item is
  // stored instead, as every other zip tool does, from a second reading of
  // the source over the deflated data (a new encryption header and salt
  // with it). A source that cannot be read again keeps its deflated data.
  item.HeaderImage = before;
  item.HeaderImage.SetMethod(kMethodStored);
  item.ActualMethod = kMethodStored;
  item.HasZip64 = zip64_before;
  archive.SetPosition(data_at);
  archive.SetSize(data_at);
  data_bytes = 0;
  return EncodeOnce(archiver, source, archive, source_size, item, data_bytes);
}

void ReleaseEncodeWorkspace() {
  if (!kept_workspace.busy) kept_workspace = ChunkWorkspace();
}

}  // namespace arcfold
