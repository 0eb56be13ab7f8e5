// Reading and writing bytes across volume boundaries.
#include <algorithm>
#include <vector>

#include "arcfold/arcfold.h"
#include "component/session.h"
#include "volumes/volume_reader.h"

namespace arcfold {

TStream& TVolumeReader::Current() {
  if (!volumes_.CurrentStream()) throw EReadError("No volume is open");
  return *volumes_.CurrentStream();
}

int64_t TVolumeReader::Read(void* buffer, int64_t count) {
  auto* out = static_cast<uint8_t*>(buffer);
  int64_t got = Current().Read(out, count);
  // Past the last volume there is nothing to go on to.
  while (got < count && volumes_.VolumeSpanning() != smNone && !volumes_.VolumeInfo().IsLast()) {
    volumes_.SelectFollowingVolume();
    Current().SetPosition(0);
    const int64_t more = Current().Read(out + got, count - got);
    if (more <= 0) break;
    got += more;
  }
  return got;
}

bool ArchiveSession::ReadAcrossVolumes(void* buffer, int64_t count) {
  TVolumeReader reader(*this);
  return reader.Read(buffer, count) == count;
}

int64_t ArchiveSession::WriteAcrossVolumes(const void* buffer, int64_t count, TStream* cache, int64_t reserve) {
  const auto* in = static_cast<const uint8_t*>(buffer);
  if (spanning_mode_ == smNone) return stream_->Write(in, count);
  int64_t written = 0;
  while (written < count) {
    const int64_t cached = cache ? cache->Size() : 0;
    const int64_t free = RoomOnVolume(cached);
    if (free < 0) return written;
    const int64_t left = count - written;
    // A record larger than a whole volume is split after all: a fresh
    // volume would not hold it either, and asking for one after another
    // would never end.
    const bool fresh = stream_->Size() == 0 && cached == 0;
    if (reserve == -1 || free >= reserve + left || fresh) {
      const int64_t n = std::min(free, left);
      TStream& to = cache ? *cache : *stream_;
      const int64_t took = n > 0 ? to.Write(in + written, n) : 0;
      written += took;
      if (took < n) return written;  // the device refused the rest
    }
    if (written < count) {
      if (cache && cache->Size() > 0) {
        cache->SetPosition(0);
        stream_->CopyFrom(*cache, cache->Size());
        cache->SetSize(0);
        cache->SetPosition(0);
      }
      if (spanning_mode_ == smSpanning) stream_->Flush();
      SelectFollowingVolume();
    }
  }
  return written;
}

int64_t ArchiveSession::RoomOnVolume(int64_t cached) {
  const int64_t free = FreeSpace(current_volume_file_name_);
  const int64_t limit = spanning_options_.LimitOf(std::max(volume_info_.VolumeNumber, 0));
  if (limit == -1) return free - cached;
  const int64_t room = limit - stream_->Size() - cached;
  // A drive that cannot say how much it takes leaves the limit to decide.
  return free < 0 ? room : std::min(room, free - cached);
}

void ArchiveSession::SelectFollowingVolume() {
  TAFVolumeNumberInfo next = volume_info_;
  next.SetNumber(std::max(volume_info_.VolumeNumber, 0) + 1);
  SelectVolume(next);
}

void ArchiveSession::WriteAllAcrossVolumes(const void* buffer, int64_t count, TStream* cache, int64_t reserve) {
  if (WriteAcrossVolumes(buffer, count, cache, reserve) != count)
    throw EAFException::Create(NativeError::kWriteToStreamFailed, &facade_);
}

void ArchiveSession::CopyAcrossVolumes(TStream& source, bool show_progress, TStream* cache, int64_t reserve,
                                       int64_t count, bool& abort) {
  abort = false;
  const int64_t total = count == -1 ? source.Size() - source.Position() : count;
  if (show_progress) {
    DoCopyTempFileProgress(0.0, ppStart, abort);
    if (abort) return;
  }
  std::vector<uint8_t> buf(static_cast<size_t>(std::min<int64_t>(std::max<int64_t>(total, 1), 1000000)));
  int64_t copied = 0;
  while (copied < total) {
    const int64_t n = std::min<int64_t>(static_cast<int64_t>(buf.size()), total - copied);
    source.ReadBuffer(buf.data(), n);
    WriteAllAcrossVolumes(buf.data(), n, cache, reserve);
    copied += n;
    if (show_progress) {
      DoCopyTempFileProgress(100.0 * static_cast<double>(copied) / static_cast<double>(total), ppProcess, abort);
      if (abort) return;
    }
  }
  if (show_progress) DoCopyTempFileProgress(100.0, ppEnd, abort);
}

}  // namespace arcfold
