#include "codec/encode.h"

#include <algorithm>
#include <memory>
#include <thread>
#include <vector>

#include "arcfold/arcfold.h"
#include "codec/crc32.h"
#include "codec/second_core.h"
#include "codec/decode.h"
#include "codec/deflater.h"
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

// Progress once per chunk; false when the user cancelled.
bool ReportProgress(TAFBaseArchiver& a, const TDirItem& item, int64_t done, int64_t total) {
  if (!a.ProgressActive()) return !a.CancelFlag();
  const double fraction = total > 0 ? static_cast<double>(done) / static_cast<double>(total) : 0.0;
  bool cancel = a.CancelFlag();
  a.DoFileProgress(paths::Backslashed(item.ItemName), fraction * 100.0, item.Operation, ppProcess, cancel);
  const bool file_cancel = cancel;
  const double overall = a.TotalCount() > 0 ? (fraction + a.ProcessedCount()) / a.TotalCount() * 100.0 : 50.0;
  a.DoOverallProgress(overall, item.Operation, ppProcess, cancel);
  cancel = cancel || file_cancel;
  a.SetCancelFlag(cancel);
  return !cancel;
}

// One pass over the source: CRC, compression by the item's method,
// encryption, writing. data_bytes counts the compressed data without the
// encryption header and authentication code.
bool EncodeOnce(TAFBaseArchiver& archiver, TStream& source, TStream& archive, int64_t source_size, TDirItem& item,
                int64_t& data_bytes) {
  TCentralHeader header = item.HeaderImage;
  source.SetPosition(0);
  const int mode = item.ItemCompressionMode;
  const int64_t chunk_size = EncodeChunkSize(mode);
  const std::string password = item.Source ? item.Source->Password : std::string();
  const bool encrypted = !password.empty();
  const TAFCryptoAlgorithm algorithm = archiver.EncryptionMethod();
  const bool aes = encrypted && algorithm != caPkzipClassic;
  const uint16_t method = item.ActualMethod;

  std::unique_ptr<TAESCryptoTransform> transform;
  if (aes) {
    transform = std::make_unique<TAESCryptoTransform>(128 + 64 * (algorithm - 1), 2, method);
    header.SetMethod(kMethodAES);
    item.CryptoAlgorithm = algorithm;
  }
  std::vector<uint8_t> in(static_cast<size_t>(std::max<int64_t>(std::min(chunk_size, source_size), 1)));
  std::vector<uint8_t> out;
  uint32_t crc = 0;
  int64_t read = 0, written = 0;
  std::unique_ptr<Deflater> deflater;
  bool ready = true;
  if (method == kMethodDeflate) {
    deflater = MakeDeflater(mode);
    ready = deflater != nullptr;
  }
  TZipClassicKeys keys;
  if (ready && encrypted) {
    // The classic header's check bytes come from the CRC, so it is computed
    // before the data is written.
    for (int64_t pos = 0; pos < source_size;) {
      int64_t n = std::min(chunk_size, source_size - pos);
      int64_t got = source.Read(in.data(), n);
      if (got > 0) crc = Crc32Update(crc, in.data(), static_cast<size_t>(got));
      if (got != n) break;
      pos += n;
    }
    source.SetPosition(0);
    std::vector<uint8_t> head;
    if (aes) {
      transform->SetTransformMode(TAFCryptoTransform::kEncrypt);
      transform->SetPassword(password);
      head = transform->GetHeader();
    } else {
      auto h = BuildClassicHeader(password, crc, keys);
      head.assign(h.begin(), h.end());
    }
    if (!WriteWithDiskFullRetry(archiver, archive, head.data(), static_cast<int64_t>(head.size()))) ready = false;
    written += static_cast<int64_t>(head.size());
  }
  bool stopped = !ready;
  // Deflating a source of several chunks uses two cores: each chunk is its
  // own deflate stream, primed with the last 32 KiB of the chunk before and
  // ended by a sync flush (the last by the end of the stream), so the
  // streams join into one and the archive is the same whichever core made
  // which part. Two chunks are compressed at once and written in order.
  const bool two_cores = deflater && source_size > chunk_size && SecondCoreAllowed();
  std::vector<uint8_t> second_in, second_out, tail;
  auto compress = [mode](const uint8_t* data, size_t n, const std::vector<uint8_t>& dict, bool last,
                         std::vector<uint8_t>& result) {
    std::unique_ptr<Deflater> d = MakeDeflater(mode);
    result.clear();
    return d && d->SetDictionary(dict.data(), dict.size()) &&
           d->Deflate(data, n, last ? Deflater::Flush::Finish : Deflater::Flush::Sync, result);
  };
  auto emit = [&](std::vector<uint8_t>& bytes) {
    if (aes) transform->EncryptBlock(bytes.data(), 0, bytes.data(), 0, bytes.size());
    else if (encrypted) keys.EncryptBuffer(bytes.data(), bytes.size());
    if (!WriteWithDiskFullRetry(archiver, archive, bytes.data(), static_cast<int64_t>(bytes.size()))) return false;
    written += static_cast<int64_t>(bytes.size());
    data_bytes += static_cast<int64_t>(bytes.size());
    return true;
  };
  if (two_cores) second_in.resize(static_cast<size_t>(chunk_size));
  while (ready && read < source_size) {
    if (!ReportProgress(archiver, item, read, source_size)) {
      stopped = true;
      break;
    }
    const int64_t chunk = std::min(chunk_size, source_size - read);
    if (source.Read(in.data(), chunk) != chunk) break;
    if (!encrypted) crc = Crc32Update(crc, in.data(), static_cast<size_t>(chunk));
    if (two_cores) {
      const int64_t next = std::min(chunk_size, source_size - read - chunk);
      if (next > 0 && source.Read(second_in.data(), next) != next) break;
      if (next > 0 && !encrypted) crc = Crc32Update(crc, second_in.data(), static_cast<size_t>(next));
      const size_t keep = std::min<size_t>(static_cast<size_t>(chunk), 32768);
      std::vector<uint8_t> second_dict(in.begin() + (chunk - static_cast<int64_t>(keep)), in.begin() + chunk);
      bool second_ok = true;
      std::thread helper;
      if (next > 0) {
        helper = std::thread([&] {
          second_ok = compress(second_in.data(), static_cast<size_t>(next), second_dict,
                               read + chunk + next >= source_size, second_out);
        });
      }
      const bool first_ok = compress(in.data(), static_cast<size_t>(chunk), tail, next == 0 && read + chunk >= source_size, out);
      if (helper.joinable()) helper.join();
      if (!first_ok || !second_ok) break;
      if (!emit(out)) {
        stopped = true;
        break;
      }
      read += chunk;
      if (next > 0) {
        if (!emit(second_out)) {
          stopped = true;
          break;
        }
        read += next;
        const size_t t = std::min<size_t>(static_cast<size_t>(next), 32768);
        tail.assign(second_in.begin() + (next - static_cast<int64_t>(t)), second_in.begin() + next);
      } else {
        tail = second_dict;
      }
      continue;
    }
    out.clear();
    if (deflater) {
      const auto flush = read + chunk >= source_size ? Deflater::Flush::Finish : Deflater::Flush::Sync;
      if (!deflater->Deflate(in.data(), static_cast<size_t>(chunk), flush, out)) break;
    } else {
      out.assign(in.begin(), in.begin() + chunk);
    }
    if (!emit(out)) {
      stopped = true;
      break;
    }
    read += chunk;
  }
  if (aes && !stopped && read == source_size) {
    std::vector<uint8_t> code = transform->GetAuthenticationCode();
    if (!WriteWithDiskFullRetry(archiver, archive, code.data(), static_cast<int64_t>(code.size()))) return false;
    written += static_cast<int64_t>(code.size());
  }
  if (read != source_size) {
    if (archiver.CancelFlag()) return false;
    throw EAFException::CreateFmt(NativeError::kInvalidCompressedSize, &archiver, {source_size, read});
  }

  // Sizes that do not fit 32 bits, or every size under zmAlways, go to the
  // ZIP64 field.
  const bool always = archiver.Zip64Mode() == zmAlways;
  if (written >= 0xFFFFFFFFLL || always) {
    item.HasZip64 = true;
    header.SetCompressedSize(0xFFFFFFFF);
    item.CompressedSize64 = written;
  } else {
    header.SetCompressedSize(static_cast<uint32_t>(written));
  }
  if (source_size >= 0xFFFFFFFFLL || always) {
    item.HasZip64 = true;
    header.SetUncompressedSize(0xFFFFFFFF);
    item.UncompressedSize64 = source_size;
  } else {
    header.SetUncompressedSize(static_cast<uint32_t>(source_size));
  }
  // AE-2 leaves the CRC out: for small files it would tell about the
  // plaintext, and the authentication code checks the data instead.
  header.SetCrc32(aes ? 0 : crc);
  if (item.HasZip64 && archiver.Zip64Mode() == zmDisabled)
    throw EAFException::CreateFmt(NativeError::kZip64Refused, &archiver, {item.ItemName});
  if (source_size == 0) {
    item.ActualMethod = kMethodStored;
    if (!aes) header.SetMethod(kMethodStored);
  }
  item.HeaderImage = header;
  return true;
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

bool EncodeItemData(TAFBaseArchiver& archiver, TStream& source, TStream& archive, int64_t source_size, TDirItem& item) {
  const TCentralHeader before = item.HeaderImage;
  const bool zip64_before = item.HasZip64;
  const int64_t data_at = archive.Position();
  // Deflate at level 0 was asked for by name: its stored blocks stay.
  const bool may_store = item.ActualMethod == kMethodDeflate && item.ItemCompressionMode > 0;
  int64_t data_bytes = 0;
  if (!EncodeOnce(archiver, source, archive, source_size, item, data_bytes)) return false;
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

}  // namespace arcfold
