#include "codec/decode.h"

#include <algorithm>
#include <vector>

#include "arcfold/arcfold.h"
#include "arcfold/stream.h"
#include "codec/crc32.h"
#include "codec/inflater.h"
#include "codec/methods.h"
#include "crypto/aes_transform.h"
#include "crypto/classic_cipher.h"
#include "directory/dir_manager.h"
#include "items/path_parts.h"

namespace arcfold {

namespace {

// Data moves in chunks of 1 MiB when a progress handler is assigned, since
// progress is reported once per chunk and handlers see that rhythm. Without
// one, nobody sees the chunks, and 128 KiB pieces keep the read, inflate and
// write copies within the processor's cache: twice as fast on large items.
constexpr int64_t kReportedChunk = 1 << 20;
constexpr int64_t kQuietChunk = 1 << 17;

// An uninitialised byte buffer.
class TBuffer {
 public:
  explicit TBuffer(size_t size) : data_(size ? new uint8_t[size] : nullptr), size_(size) {}
  uint8_t* data() { return data_.get(); }
  size_t size() const { return size_; }

 private:
  std::unique_ptr<uint8_t[]> data_;
  size_t size_;
};
constexpr int64_t kStoredPiece = 0xFFFF;

// The disk-full question after a short write: true to write again; a
// cancel is the run's.
bool DiskFullRetried(TAFBaseArchiver& a) {
  bool cancel = false;
  a.DoDiskFull(-1, a.FileName(), cancel);
  if (cancel) a.SetCancelFlag(true);
  return !cancel;
}

// The component as decode host: progress events, the password question,
// the disk-full question and the cancel flag, all on the calling thread.
class ArchiverHost : public DecodeHost {
 public:
  ArchiverHost(TAFBaseArchiver& a, TDirItem& item, int64_t total)
      : a_(a), item_(item), name_(paths::Backslashed(item.ItemName)), total_(total) {}

  bool Report(int64_t processed) override { return ReportItemProgress(a_, item_, name_, total_, processed); }

  bool PasswordRefused(std::string& password) override {
    std::string pw = a_.Password();
    bool skip = false;
    a_.DoPassword(name_, pw, skip);
    a_.SetPassword(pw);
    a_.SetSkipFlag(skip);
    password = pw;
    return !skip;
  }

  bool WriteFailed() override { return DiskFullRetried(a_); }

  bool Stopped() override { return a_.CancelFlag(); }
  bool ChecksWaived() override { return a_.SkipFlag(); }

 private:
  TAFBaseArchiver& a_;
  TDirItem& item_;
  afp::WideString name_;
  int64_t total_;
};

// Writes a block; after a short write, asks `write_again` whether to write
// it again from the same position.
template <typename Retry>
bool WriteRetrying(TStream& stream, const void* buffer, int64_t count, Retry write_again) {
  int64_t pos = stream.Position();
  for (;;) {
    if (stream.Write(buffer, count) == count) return true;
    if (!write_again()) return false;
    stream.SetPosition(pos);
  }
}

bool WriteBlock(DecodeHost& host, TStream& stream, const void* buffer, int64_t count) {
  return WriteRetrying(stream, buffer, count, [&] { return host.WriteFailed(); });
}

}  // namespace

int64_t DecodeChunkSize(const TAFBaseArchiver& archiver) {
  return archiver.OnFileProgress || archiver.OnOverallProgress ? kReportedChunk : kQuietChunk;
}

int64_t ProgressTotal(const TDirItem& item) {
  const int64_t uncompressed = item.UncompressedSize();
  return uncompressed == 0 ? 2 : uncompressed;
}

bool ReportItemProgress(TAFBaseArchiver& a, const TDirItem& item, const afp::WideString& name, int64_t total,
                        int64_t processed) {
  if (!a.ProgressActive()) return !a.CancelFlag();
  // Nothing to move is all done, never a division by zero.
  const double item_fraction = total > 0 ? static_cast<double>(processed) / static_cast<double>(total) : 1.0;
  bool cancel = a.CancelFlag();
  a.DoFileProgress(name, item_fraction * 100.0, item.Operation, ppProcess, cancel);
  // Either event may cancel; the overall one (or its default, when no
  // handler is assigned) must not take back a cancel given by the first.
  const bool file_cancel = cancel;
  if (a.TotalCount() > 0)
    a.DoOverallProgress((item_fraction + a.ProcessedCount()) / a.TotalCount() * 100.0, item.Operation, ppProcess,
                        cancel);
  cancel = cancel || file_cancel;
  a.SetCancelFlag(cancel);
  return !cancel;
}

bool WriteWithDiskFullRetry(TAFBaseArchiver& archiver, TStream& stream, const void* buffer, int64_t count) {
  return WriteRetrying(stream, buffer, count, [&] { return DiskFullRetried(archiver); });
}

bool DecodeItemData(TAFBaseArchiver& archiver, TStream& archive, TStream& dest, TDirItem& item) {
  DecodeSettings settings;
  settings.password = archiver.Password();
  settings.deriver = archiver.AesKeyDeriver();
  if (archiver.SpanningMode() == smNone && archiver.DirManager()) {
    TAFDirManager& dir = *archiver.DirManager();
    if (!dir.Recovered() && !archiver.Options().AllowOverlappingItems)
      settings.sorted_offsets = &dir.SortedLocalOffsets();
    settings.directory_offset = dir.DirectoryOffset();
  }
  settings.chunk_size = DecodeChunkSize(archiver);
  settings.tuning = archiver.Options().Tuning.WithEnvironment();
  archiver.SetSkipFlag(false);
  ArchiverHost host(archiver, item, ProgressTotal(item));
  DecodeResult result = DecodeItemStream(host, settings, archive, dest, item);
  if (result == DecodeResult::kPasswordRefused) throw EAFException::Create(NativeError::kInvalidPassword, &archiver);
  return result == DecodeResult::kGood;
}

namespace {

// One item's data decoded: its steps share the pass's buffers and counters.
class DecodePass {
 public:
  DecodePass(DecodeHost& host, DecodeSettings& settings, TStream& archive, TStream& dest, const TDirItem& item)
      : host_(host), settings_(settings), archive_(archive), dest_(dest), item_(item), method_(item.ActualMethod) {}
  DecodeResult Run();

 private:
  bool ReadBounds();
  DecodeResult StartDecryption();
  DecodeResult MatchPassword();
  bool MakeBuffers();
  bool DecodeChunks();
  bool CopyStored(int64_t chunk);
  bool InflateChunk(int64_t chunk);
  bool ReadToCodeEnd();
  DecodeResult Verdict();

  DecodeHost& host_;
  DecodeSettings& settings_;
  TStream& archive_;
  TStream& dest_;
  const TDirItem& item_;
  const uint16_t method_;
  TLocalHeader local_;
  int64_t compressed_ = 0, uncompressed_ = 0;
  bool legacy_ = false, encrypted_ = false, aes_ = false;
  TZipClassicKeys classic_;
  std::unique_ptr<TAESCryptoTransform> transform_;
  TBuffer in_{0}, out_{0};
  std::unique_ptr<Inflater> inflater_;
  uint32_t crc_ = 0;
  int64_t read_ = 0, written_ = 0;
  bool stream_end_ = false;
};

DecodeResult DecodePass::Run() {
  if (!ReadBounds()) return DecodeResult::kBad;
  if (!MethodDecodable(method_)) return DecodeResult::kBad;
  // Encryption: the password loop leaves the keys ready at the first data byte.
  legacy_ = item_.HeaderImage.VersionNeeded() >= kAltVersion;
  encrypted_ = (item_.HeaderImage.Flags() & kFlagEncrypted) != 0;
  aes_ = encrypted_ && !legacy_ && item_.CryptoAlgorithm != caPkzipClassic;
  if (encrypted_) {
    const DecodeResult started = StartDecryption();
    if (started != DecodeResult::kGood) return started;
  }
  if (!MakeBuffers() || !DecodeChunks()) return DecodeResult::kBad;
  // The code covers every byte of ciphertext, also any after the end of
  // the deflate stream.
  if (aes_ && !ReadToCodeEnd()) return DecodeResult::kBad;
  return Verdict();
}

// Past the local header to the data, with the sizes it may take; false for
// sizes that cannot be this item's.
bool DecodePass::ReadBounds() {
  archive_.ReadBuffer(local_.data(), 30);
  archive_.Seek(local_.NameLength() + local_.ExtraLength(), SeekOrigin::Current);
  compressed_ = item_.CompressedSize();
  uncompressed_ = item_.UncompressedSize();
  const int64_t data_start = archive_.Position();
  if (settings_.sorted_offsets && compressed_ >= 0 &&
      !DataFitsBetween(*settings_.sorted_offsets, item_.LocalHeaderOffset(), data_start + compressed_))
    return false;
  const int64_t dir_start = settings_.directory_offset;
  if (dir_start > data_start && data_start + compressed_ > dir_start) compressed_ = dir_start - data_start;
  // ZIP64 sizes are 64-bit fields: a "negative" one is damage, not a size.
  return compressed_ >= 0 && uncompressed_ >= 0;
}

DecodeResult DecodePass::StartDecryption() {
  if (aes_) {
    transform_ = std::make_unique<TAESCryptoTransform>(AesKeyBits(item_.CryptoAlgorithm), 2, method_);
    transform_->SetTransformMode(TAFCryptoTransform::kDecrypt);
    transform_->SetShaInstructions(settings_.tuning.ShaInstructions);
    if (settings_.deriver) transform_->SetDeriver(settings_.deriver);
    transform_->SetPassword(settings_.password);
    compressed_ -= static_cast<int64_t>(transform_->GetHeaderSize() + 10);
  } else {
    compressed_ -= 12;
  }
  if (compressed_ < 0) return DecodeResult::kBad;
  return MatchPassword();
}

// Reads the encryption header with the password, asking for another one
// while it does not fit.
DecodeResult DecodePass::MatchPassword() {
  const int64_t header_pos = archive_.Position();
  // A handler that leaves the password as it was (one that only logs), or
  // one that keeps guessing, would be asked forever.
  int wrong_answers = 0;
  for (;;) {
    archive_.SetPosition(header_pos);
    bool right;
    if (aes_) {
      transform_->ReadHeader(archive_);
      right = transform_->CheckPassword(settings_.password);
    } else {
      right = CheckClassicHeader(archive_, settings_.password, classic_, local_.Crc32(), local_.Time(), local_.Flags());
    }
    if (right) return DecodeResult::kGood;
    if (wrong_answers == kPasswordAnswersPerItem) return DecodeResult::kPasswordRefused;
    const std::string refused = settings_.password;
    if (!host_.PasswordRefused(settings_.password)) return DecodeResult::kBad;
    if (settings_.password == refused) return DecodeResult::kPasswordRefused;
    ++wrong_answers;
  }
}

// Buffers sized to the item, at most one chunk each; a small item does not
// pay for clearing megabytes.
bool DecodePass::MakeBuffers() {
  const int64_t chunk_size = settings_.chunk_size;
  in_ = TBuffer(static_cast<size_t>(std::min<int64_t>(std::max<int64_t>(compressed_, 1), chunk_size)));
  if (method_ == kMethodStored) return true;
  inflater_ = MakeDecompressor(method_, {uncompressed_, settings_.tuning});
  if (!inflater_) return false;
  out_ = TBuffer(static_cast<size_t>(std::min<int64_t>(uncompressed_ + 1, chunk_size)));
  return true;
}

bool DecodePass::DecodeChunks() {
  while (read_ < compressed_ && !stream_end_) {
    int64_t chunk = std::min<int64_t>(settings_.chunk_size, compressed_ - read_);
    if (archive_.Read(in_.data(), chunk) != chunk) return false;
    if (aes_)
      transform_->DecryptBlock(in_.data(), 0, in_.data(), 0, static_cast<size_t>(chunk));
    else if (encrypted_)
      classic_.DecryptBuffer(in_.data(), static_cast<size_t>(chunk));
    if (!(method_ == kMethodStored ? CopyStored(chunk) : InflateChunk(chunk))) return false;
    read_ += chunk;
    if (host_.Stopped()) return false;
  }
  return true;
}

bool DecodePass::CopyStored(int64_t chunk) {
  for (int64_t off = 0; off < chunk; off += kStoredPiece) {
    int64_t piece = std::min<int64_t>(kStoredPiece, chunk - off);
    // A declared size smaller than the data is a lie the output must not follow.
    if (written_ + piece > uncompressed_) return false;
    crc_ = Crc32Update(crc_, in_.data() + off, static_cast<size_t>(piece));
    if (!host_.Report(read_ + off + piece)) return false;
    if (!WriteBlock(host_, dest_, in_.data() + off, piece)) return false;
    written_ += piece;
  }
  return true;
}

bool DecodePass::InflateChunk(int64_t chunk) {
  const uint8_t* ip = in_.data();
  size_t il = static_cast<size_t>(chunk);
  for (;;) {
    if (!host_.Report(written_)) return false;
    uint8_t* op = out_.data();
    size_t ol = out_.size();
    Inflater::Status st = inflater_->Inflate(ip, il, op, ol);
    if (st == Inflater::Status::Error) return false;
    size_t made = out_.size() - ol;
    if (made) {
      if (written_ + static_cast<int64_t>(made) > uncompressed_) return false;
      if (!WriteBlock(host_, dest_, out_.data(), static_cast<int64_t>(made))) return false;
      crc_ = Crc32Update(crc_, out_.data(), made);
      written_ += static_cast<int64_t>(made);
    }
    if (st == Inflater::Status::StreamEnd) {
      stream_end_ = true;
      return true;
    }
    if (ol == 0) continue;  // output buffer full: more may come from this input
    if (il == 0 || st == Inflater::Status::NeedInput) return true;
  }
}

bool DecodePass::ReadToCodeEnd() {
  while (read_ < compressed_) {
    int64_t chunk = std::min<int64_t>(settings_.chunk_size, compressed_ - read_);
    if (archive_.Read(in_.data(), chunk) != chunk) return false;
    transform_->DecryptBlock(in_.data(), 0, in_.data(), 0, static_cast<size_t>(chunk));
    read_ += chunk;
  }
  return true;
}

DecodeResult DecodePass::Verdict() {
  if (written_ != uncompressed_) return DecodeResult::kBad;
  if (host_.ChecksWaived() || legacy_) return DecodeResult::kGood;
  if (aes_) {
    transform_->ReadAuthenticationCode(archive_);
    return transform_->AuthenticationCodeDiffers(item_, crc_) ? DecodeResult::kBad : DecodeResult::kGood;
  }
  return crc_ == item_.HeaderImage.Crc32() ? DecodeResult::kGood : DecodeResult::kBad;
}

}  // namespace

DecodeResult DecodeItemStream(DecodeHost& host, DecodeSettings& settings, TStream& archive, TStream& dest,
                              const TDirItem& item) {
  return DecodePass(host, settings, archive, dest, item).Run();
}

}  // namespace arcfold
