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

class Progress {
 public:
  Progress(TAFBaseArchiver& a, TDirItem& item, int64_t total)
      : a_(a), item_(item), name_(paths::Backslashed(item.ItemName)), total_(total) {}
  // Returns false when the user cancelled.
  bool Report(int64_t processed) {
    if (!a_.ProgressActive()) return !a_.CancelFlag();
    double item_fraction = static_cast<double>(processed) / static_cast<double>(total_);
    bool cancel = a_.CancelFlag();
    a_.DoFileProgress(name_, item_fraction * 100.0, item_.Operation, ppProcess, cancel);
    // Either event may cancel; the overall one (or its default, when no
    // handler is assigned) must not take back a cancel given by the first.
    const bool file_cancel = cancel;
    if (a_.TotalCount() > 0)
      a_.DoOverallProgress((item_fraction + a_.ProcessedCount()) / a_.TotalCount() * 100.0, item_.Operation,
                           ppProcess, cancel);
    cancel = cancel || file_cancel;
    a_.SetCancelFlag(cancel);
    return !cancel;
  }

 private:
  TAFBaseArchiver& a_;
  TDirItem& item_;
  afp::WideString name_;
  int64_t total_;
};

}  // namespace

bool WriteWithDiskFullRetry(TAFBaseArchiver& archiver, TStream& stream, const void* buffer, int64_t count) {
  int64_t pos = stream.Position();
  for (;;) {
    if (stream.Write(buffer, count) == count) return true;
    bool cancel = false;
    archiver.DoDiskFull(-1, archiver.FileName(), cancel);
    if (cancel) {
      archiver.SetCancelFlag(true);
      return false;
    }
    stream.SetPosition(pos);
  }
}

bool DecodeItemData(TAFBaseArchiver& archiver, TStream& archive, TStream& dest, TDirItem& item) {
  TLocalHeader local;
  archive.ReadBuffer(local.data(), 30);
  archive.Seek(local.NameLength() + local.ExtraLength(), SeekOrigin::Current);

  int64_t compressed = item.CompressedSize();
  const int64_t uncompressed = item.UncompressedSize();
  int64_t data_start = archive.Position();
  if (archiver.SpanningMode() == smNone && archiver.DirManager()) {
    TAFDirManager& dir = *archiver.DirManager();
    if (!dir.Recovered && !archiver.Options().AllowOverlappingItems && compressed >= 0 &&
        !dir.DataFits(item.LocalHeaderOffset(), data_start + compressed))
      return false;
    int64_t dir_start = dir.DirectoryOffset;
    if (dir_start > data_start && data_start + compressed > dir_start) compressed = dir_start - data_start;
  }
  // ZIP64 sizes are 64-bit fields: a "negative" one is damage, not a size.
  if (compressed < 0 || uncompressed < 0) return false;
  const int64_t progress_total = uncompressed == 0 ? 2 : uncompressed;
  archiver.SetSkipFlag(false);

  const uint16_t method = item.ActualMethod;
  if (method == kMethodDeflate64) throw EAFException::Create(55, &archiver);
  if (method != kMethodStored && method != kMethodDeflate) return false;

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
      if (archiver.AesKeyDeriver()) transform->SetDeriver(archiver.AesKeyDeriver());
      transform->SetPassword(archiver.Password());
      compressed -= static_cast<int64_t>(transform->GetHeaderSize() + 10);
    } else {
      compressed -= 12;
    }
    if (compressed < 0) return false;
    const int64_t header_pos = archive.Position();
    const afp::WideString name = paths::Backslashed(item.ItemName);
    for (;;) {
      archive.SetPosition(header_pos);
      bool right;
      if (aes) {
        transform->ReadHeader(archive);
        right = transform->CheckPassword(archiver.Password());
      } else {
        right = CheckClassicHeader(archive, archiver.Password(), classic, local.Crc32(), local.Time(), local.Flags());
      }
      if (right) break;
      std::string pw = archiver.Password();
      bool skip = false;
      archiver.DoPassword(name, pw, skip);
      archiver.SetPassword(pw);
      archiver.SetSkipFlag(skip);
      if (skip) return false;
    }
  }

  Progress progress(archiver, item, progress_total);
  const int64_t chunk_size = archiver.OnFileProgress || archiver.OnOverallProgress ? kReportedChunk : kQuietChunk;
  uint32_t crc = 0;
  int64_t read = 0, written = 0;
  // Buffers sized to the item, at most one chunk each; a small item does not
  // pay for clearing megabytes.
  TBuffer in(static_cast<size_t>(std::min<int64_t>(std::max<int64_t>(compressed, 1), chunk_size)));
  std::unique_ptr<Inflater> inflater;
  TBuffer out(0);
  if (method == kMethodDeflate) {
    inflater = MakeInflater();
    if (!inflater) return false;
    out = TBuffer(static_cast<size_t>(std::min<int64_t>(uncompressed + 1, chunk_size)));
  }
  bool stream_end = false;
  while (read < compressed && !stream_end) {
    int64_t chunk = std::min<int64_t>(chunk_size, compressed - read);
    if (archive.Read(in.data(), chunk) != chunk) return false;
    if (aes) transform->DecryptBlock(in.data(), 0, in.data(), 0, static_cast<size_t>(chunk));
    else if (encrypted) classic.DecryptBuffer(in.data(), static_cast<size_t>(chunk));
    if (method == kMethodStored) {
      for (int64_t off = 0; off < chunk; off += kStoredPiece) {
        int64_t piece = std::min<int64_t>(kStoredPiece, chunk - off);
        // A declared size smaller than the data is a lie the output must not follow.
        if (written + piece > uncompressed) return false;
        crc = Crc32Update(crc, in.data() + off, static_cast<size_t>(piece));
        if (!progress.Report(read + off + piece)) return false;
        if (!WriteWithDiskFullRetry(archiver, dest, in.data() + off, piece)) return false;
        written += piece;
      }
    } else {
      const uint8_t* ip = in.data();
      size_t il = static_cast<size_t>(chunk);
      for (;;) {
        if (!progress.Report(written)) return false;
        uint8_t* op = out.data();
        size_t ol = out.size();
        Inflater::Status st = inflater->Inflate(ip, il, op, ol);
        if (st == Inflater::Status::Error) return false;
        size_t made = out.size() - ol;
        if (made) {
          if (written + static_cast<int64_t>(made) > uncompressed) return false;
          if (!WriteWithDiskFullRetry(archiver, dest, out.data(), static_cast<int64_t>(made))) return false;
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
    if (archiver.CancelFlag()) return false;
  }
  if (aes) {
    // The code covers every byte of ciphertext, also any after the end of
    // the deflate stream.
    while (read < compressed) {
      int64_t chunk = std::min<int64_t>(chunk_size, compressed - read);
      if (archive.Read(in.data(), chunk) != chunk) return false;
      transform->DecryptBlock(in.data(), 0, in.data(), 0, static_cast<size_t>(chunk));
      read += chunk;
    }
  }
  if (written != uncompressed) return false;
  if (archiver.SkipFlag()) return true;
  if (legacy) return true;
  if (aes) {
    transform->ReadAuthenticationCode(archive);
    return !transform->CheckAuthenticationCode(item, crc);
  }
  return crc == item.HeaderImage.Crc32();
}

}  // namespace arcfold
