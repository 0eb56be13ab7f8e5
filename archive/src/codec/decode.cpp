#include "codec/decode.h"

#include <algorithm>
#include <vector>

#include "crypto/aes_transform.h"
#include "arcfold/arcfold.h"
#include "crypto/classic_cipher.h"
#include "codec/crc32.h"
#include "directory/dir_manager.h"
#include "codec/inflater.h"
#include "arcfold/stream.h"
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
  double item_fraction = static_cast<double>(processed) / static_cast<double>(total);
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
  archiver.SetSkipFlag(false);
  ArchiverHost host(archiver, item, ProgressTotal(item));
  DecodeResult result = DecodeItemStream(host, settings, archive, dest, item);
  if (result == DecodeResult::kDeflate64) throw EAFException::Create(NativeError::kDeflate64Unsupported, &archiver);
  if (result == DecodeResult::kPasswordRefused) throw EAFException::Create(NativeError::kInvalidPassword, &archiver);
  return result == DecodeResult::kGood;
}

DecodeResult DecodeItemStream(DecodeHost& host, DecodeSettings& settings, TStream& archive, TStream& dest,
                              const TDirItem& item) {
  TLocalHeader local;
  archive.ReadBuffer(local.data(), 30);
  archive.Seek(local.NameLength() + local.ExtraLength(), SeekOrigin::Current);

  int64_t compressed = item.CompressedSize();
  const int64_t uncompressed = item.UncompressedSize();
  int64_t data_start = archive.Position();
  if (settings.sorted_offsets && compressed >= 0 &&
      !DataFitsBetween(*settings.sorted_offsets, item.LocalHeaderOffset(), data_start + compressed))
    return DecodeResult::kBad;
  const int64_t dir_start = settings.directory_offset;
  if (dir_start > data_start && data_start + compressed > dir_start) compressed = dir_start - data_start;
  // ZIP64 sizes are 64-bit fields: a "negative" one is damage, not a size.
  if (compressed < 0 || uncompressed < 0) return DecodeResult::kBad;

  const uint16_t method = item.ActualMethod;
  if (method == kMethodDeflate64) return DecodeResult::kDeflate64;
  if (method != kMethodStored && method != kMethodDeflate) return DecodeResult::kBad;

  // Encryption: the password loop leaves the keys ready at the first data byte.
  const bool legacy = item.HeaderImage.VersionNeeded() >= kAltVersion;
  const bool encrypted = (item.HeaderImage.Flags() & kFlagEncrypted) != 0;
  const bool aes = encrypted && !legacy && item.CryptoAlgorithm != caPkzipClassic;
  TZipClassicKeys classic;
  std::unique_ptr<TAESCryptoTransform> transform;
  if (encrypted) {
    if (aes) {
      transform = std::make_unique<TAESCryptoTransform>(128 + 64 * (item.CryptoAlgorithm - 1), 2, method);
      transform->SetTransformMode(TAFCryptoTransform::kDecrypt);
      if (settings.deriver) transform->SetDeriver(settings.deriver);
      transform->SetPassword(settings.password);
      compressed -= static_cast<int64_t>(transform->GetHeaderSize() + 10);
    } else {
      compressed -= 12;
    }
    if (compressed < 0) return DecodeResult::kBad;
    const int64_t header_pos = archive.Position();
    // A handler that leaves the password as it was (one that only logs), or
    // one that keeps guessing, would be asked forever.
    int wrong_answers = 0;
    for (;;) {
      archive.SetPosition(header_pos);
      bool right;
      if (aes) {
        transform->ReadHeader(archive);
        right = transform->CheckPassword(settings.password);
      } else {
        right = CheckClassicHeader(archive, settings.password, classic, local.Crc32(), local.Time(), local.Flags());
      }
      if (right) break;
      if (wrong_answers == kPasswordAnswersPerItem) return DecodeResult::kPasswordRefused;
      const std::string refused = settings.password;
      if (!host.PasswordRefused(settings.password)) return DecodeResult::kBad;
      if (settings.password == refused) return DecodeResult::kPasswordRefused;
      ++wrong_answers;
    }
  }

  const int64_t chunk_size = settings.chunk_size;
  uint32_t crc = 0;
  int64_t read = 0, written = 0;
  // Buffers sized to the item, at most one chunk each; a small item does not
  // pay for clearing megabytes.
  TBuffer in(static_cast<size_t>(std::min<int64_t>(std::max<int64_t>(compressed, 1), chunk_size)));
  std::unique_ptr<Inflater> inflater;
  TBuffer out(0);
  if (method == kMethodDeflate) {
    inflater = MakeInflater();
    if (!inflater) return DecodeResult::kBad;
    out = TBuffer(static_cast<size_t>(std::min<int64_t>(uncompressed + 1, chunk_size)));
  }
  bool stream_end = false;
  while (read < compressed && !stream_end) {
    int64_t chunk = std::min<int64_t>(chunk_size, compressed - read);
    if (archive.Read(in.data(), chunk) != chunk) return DecodeResult::kBad;
    if (aes) transform->DecryptBlock(in.data(), 0, in.data(), 0, static_cast<size_t>(chunk));
    else if (encrypted) classic.DecryptBuffer(in.data(), static_cast<size_t>(chunk));
    if (method == kMethodStored) {
      for (int64_t off = 0; off < chunk; off += kStoredPiece) {
        int64_t piece = std::min<int64_t>(kStoredPiece, chunk - off);
        // A declared size smaller than the data is a lie the output must not follow.
        if (written + piece > uncompressed) return DecodeResult::kBad;
        crc = Crc32Update(crc, in.data() + off, static_cast<size_t>(piece));
        if (!host.Report(read + off + piece)) return DecodeResult::kBad;
        if (!WriteBlock(host, dest, in.data() + off, piece)) return DecodeResult::kBad;
        written += piece;
      }
    } else {
      const uint8_t* ip = in.data();
      size_t il = static_cast<size_t>(chunk);
      for (;;) {
        if (!host.Report(written)) return DecodeResult::kBad;
        uint8_t* op = out.data();
        size_t ol = out.size();
        Inflater::Status st = inflater->Inflate(ip, il, op, ol);
        if (st == Inflater::Status::Error) return DecodeResult::kBad;
        size_t made = out.size() - ol;
        if (made) {
          if (written + static_cast<int64_t>(made) > uncompressed) return DecodeResult::kBad;
          if (!WriteBlock(host, dest, out.data(), static_cast<int64_t>(made))) return DecodeResult::kBad;
          crc = Crc32Update(crc, out.data(), made);
          written += static_cast<int64_t>(made);
        }
        if (st == Inflater::Status::StreamEnd) {
          stream_end = true;
          break;
        }
        if (ol == 0) continue;  // output buffer full: more may come from this input
        if (il == 0 || st == Inflater::Status::NeedInput) break;
      }
    }
    read += chunk;
    if (host.Stopped()) return DecodeResult::kBad;
  }
  if (aes) {
    // The code covers every byte of ciphertext, also any after the end of
    // the deflate stream.
    while (read < compressed) {
      int64_t chunk = std::min<int64_t>(chunk_size, compressed - read);
      if (archive.Read(in.data(), chunk) != chunk) return DecodeResult::kBad;
      transform->DecryptBlock(in.data(), 0, in.data(), 0, static_cast<size_t>(chunk));
      read += chunk;
    }
  }
  if (written != uncompressed) return DecodeResult::kBad;
  if (host.ChecksWaived() || legacy) return DecodeResult::kGood;
  if (aes) {
    transform->ReadAuthenticationCode(archive);
    return transform->AuthenticationCodeDiffers(item, crc) ? DecodeResult::kBad : DecodeResult::kGood;
  }
  return crc == item.HeaderImage.Crc32() ? DecodeResult::kGood : DecodeResult::kBad;
}

}  // namespace arcfold
