// The last step of a commit that writes a split or spanned set: the new
// archive, complete in a temporary file, is laid out over the volumes.
// Each local header stays whole on one volume, data runs on over volume
// ends, every central header stays whole, and the end records go to the
// last volume, which takes the archive's own name.
#include <algorithm>
#include <memory>
#include <vector>

#include "arcfold/arcfold.h"
#include "component/session.h"
#include "directory/dir_manager.h"
#include "items/commit.h"
#include "items/commit_plan.h"
#include "platform/files.h"

namespace arcfold {

void TCommit::WriteVolumes() {
  Plan& p = *plan_;
  TStream& whole = *p.out;
  TAFDirArray& items = dir_.Items();
  const int n = items.Count();
  const int64_t dir_start = dir_.DirectoryOffset();
  // The stream in memory that stood for the set until now comes back if the
  // volumes cannot be written.
  std::unique_ptr<TStream> placeholder = std::move(a_.stream_);
  a_.created_volumes_.clear();
  try {
    a_.volume_info_.Reset();
    TAFVolumeNumberInfo first;
    first.MarkFirst();
    a_.SelectVolume(first);
    bool abort = false;
    // A self-extractor stub goes first, whole.
    const int64_t first_item = n ? p.offset[0] : dir_start;
    whole.SetPosition(0);
    if (first_item > 0) a_.CopyAcrossVolumes(whole, false, nullptr, 0, first_item, abort);

    std::vector<uint8_t> head;
    for (int i = 0; i < n; ++i) {
      const int64_t at = p.offset[i];
      const int64_t end = i + 1 < n ? p.offset[i + 1] : dir_start;
      TLocalHeader local;
      whole.SetPosition(at);
      whole.ReadBuffer(local.data(), 30);
      const int64_t head_len = 30 + local.NameLength() + local.ExtraLength();
      head.resize(static_cast<size_t>(head_len));
      whole.SetPosition(at);
      whole.ReadBuffer(head.data(), head_len);
      a_.WriteAllAcrossVolumes(head.data(), head_len, nullptr, 0);
      const uint32_t disk = static_cast<uint32_t>(a_.volume_info_.VolumeNumber);
      p.offset[i] = a_.stream_->Position() - head_len;
      TDirItem& item = items.ItemRef(i);
      item.DiskNumberStart64 = disk;
      item.HeaderImage.SetDiskNumberStart(disk >= 0xFFFF ? 0xFFFF : static_cast<uint16_t>(disk));
      if (end - at > head_len) a_.CopyAcrossVolumes(whole, false, nullptr, -1, end - at - head_len, abort);
    }

    int64_t dir_size = 0, dir_offset = 0;
    uint32_t dir_disk = 0;
    for (int i = 0; i < n; ++i) {
      std::vector<uint8_t> record = CentralRecord(i);
      const int64_t len = static_cast<int64_t>(record.size());
      a_.WriteAllAcrossVolumes(record.data(), len, nullptr, 0);
      if (i == 0) {
        dir_disk = static_cast<uint32_t>(a_.volume_info_.VolumeNumber);
        dir_offset = a_.stream_->Position() - len;
      }
      dir_size += len;
      TDirItem& item = items.ItemRef(i);
      if (p.offset[i] < 0xFFFFFFFFLL) item.HeaderImage.SetLocalHeaderOffset(static_cast<uint32_t>(p.offset[i]));
      item.LocalHeaderOffset64 = p.offset[i];
    }
    if (n == 0) {
      dir_disk = static_cast<uint32_t>(a_.volume_info_.VolumeNumber);
      dir_offset = a_.stream_->Position();
    }
    // The end records stay together on the last volume: when they may not
    // fit beside the directory (ZIP64 records counted in), they begin a
    // volume of their own.
    const int64_t tail_size = 22 + 56 + 20 + static_cast<int64_t>(dir_.Comment().size());
    const int64_t room = a_.RoomOnVolume(0);
    if (room >= 0 && room < tail_size && a_.stream_->Size() > 0) {
      if (a_.spanning_mode_ == smSpanning) a_.stream_->Flush();
      a_.SelectFollowingVolume();
    }
    dir_.WriteEndRecords(*a_.stream_, dir_offset, dir_disk, dir_size,
                         static_cast<uint32_t>(a_.volume_info_.VolumeNumber));
    a_.stream_->Flush();

    // The last volume carries the archive's own name.
    afp::WideString last_name = a_.file_name_;
    a_.VolumeFileName(last_name, -1, false);
    const afp::WideString written = a_.current_volume_file_name_;
    a_.CloseVolumeStream();
    if (written != last_name) {
      afp::DeleteFile(last_name);
      if (!afp::RenameFile(written, last_name))
        throw EAFException::CreateFmt(NativeError::kCannotCreateFile, &a_.facade_, {last_name});
      a_.created_volumes_.back() = last_name;
    }
    a_.open_mode_ = fmOpenRead | fmShareDenyNone;
    a_.stream_ = std::make_unique<TFileStream>(last_name, a_.open_mode_);
    a_.current_volume_file_name_ = last_name;
    a_.volume_info_.LastVolumeNumber = a_.volume_info_.VolumeNumber;
    a_.volume_info_.MarkLast();
  } catch (...) {
    a_.CloseVolumeStream();
    for (const afp::WideString& v : a_.created_volumes_) afp::DeleteFile(v);
    a_.created_volumes_.clear();
    a_.stream_ = std::move(placeholder);
    throw;
  }
  a_.created_volumes_.clear();
  a_.volumes_written_ = true;
}

}  // namespace arcfold
