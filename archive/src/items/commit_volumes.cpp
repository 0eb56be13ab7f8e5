// The writer of a split or spanned set: the new archive, complete in a
// temporary file, is laid out over the volumes. Each local header stays
// whole on one volume, data runs on over volume ends, every central header
// stays whole, and the end records go to the last volume, which takes the
// archive's own name.
#include <algorithm>
#include <memory>
#include <vector>

#include "arcfold/stream.h"
#include "directory/dir_manager.h"
#include "items/archive_writer.h"
#include "items/commit_context.h"
#include "items/commit_plan.h"
#include "platform/files.h"

namespace arcfold {

namespace {

// The end record, and the ZIP64 end record and locator when they come too.
constexpr int64_t kEndRecordsRoom =
    static_cast<int64_t>(TEndRecord::kSize + TZip64EndRecord::kSize + TZip64Locator::kSize);

class VolumeSetWriter final : public ArchiveWriter {
 public:
  VolumeSetWriter(CommitContext& context, std::vector<PlannedItem>& items, CentralRecordMaker central_record)
      : context_(context), dir_(context.Directory()), items_(items), central_record_(std::move(central_record)) {}

  void Begin() override {
    // A set's volumes may be on disks that are changed: its temporary file
    // goes to the temporary folder.
    const afp::WideString temp_dir = context_.Settings().temp_dir;
    out_ = CreateTempFile(context_, temp_dir.empty() ? afp::TempDirectory() : temp_dir, fmCreateNew, temp_name_);
  }
  TStream& Stream() override { return *out_; }
  bool Commit() override;
  void Rollback() noexcept override;

 private:
  void WriteItems();
  void WriteDirectory();
  void WriteEndRecords(int64_t dir_offset, uint32_t dir_disk, int64_t dir_size);
  afp::WideString NameLastVolume();

  CommitContext& context_;
  TAFDirManager& dir_;
  std::vector<PlannedItem>& items_;
  CentralRecordMaker central_record_;
  std::unique_ptr<TStream> out_;
  afp::WideString temp_name_;
  // The stream in memory that stood for the set until now; it comes back if
  // the volumes cannot be written.
  std::unique_ptr<TStream> placeholder_;
};

bool VolumeSetWriter::Commit() {
  placeholder_ = context_.ReleaseStream();
  context_.StartVolumes();
  WriteItems();
  WriteDirectory();
  const afp::WideString last_name = NameLastVolume();
  context_.OpenWrittenSet(last_name);
  context_.KeepVolumes();
  placeholder_.reset();
  out_.reset();
  afp::DeleteFile(temp_name_);
  // A split set is read back from its volumes; a spanned one keeps what was
  // just written, rather than asking for its first disk again.
  return context_.Settings().spanning == smSplitting;
}

void VolumeSetWriter::Rollback() noexcept {
  if (placeholder_) {
    context_.DiscardVolumes();
    context_.ReplaceStream(std::move(placeholder_));
  }
  if (out_) {
    out_.reset();
    afp::DeleteFile(temp_name_);
  }
}

void VolumeSetWriter::WriteItems() {
  TStream& whole = *out_;
  const int n = static_cast<int>(items_.size());
  const int64_t dir_start = dir_.DirectoryOffset();
  // A self-extractor stub goes first, whole.
  const int64_t first_item = n ? items_[0].offset : dir_start;
  whole.SetPosition(0);
  if (first_item > 0) context_.CopyToVolumes(whole, 0, first_item);
  std::vector<uint8_t> head;
  for (int i = 0; i < n; ++i) {
    const int64_t at = items_[i].offset;
    const int64_t end = i + 1 < n ? items_[i + 1].offset : dir_start;
    TLocalHeader local;
    whole.SetPosition(at);
    whole.ReadBuffer(local.data(), TLocalHeader::kSize);
    const int64_t head_len = static_cast<int64_t>(local.RecordLength());
    head.resize(static_cast<size_t>(head_len));
    whole.SetPosition(at);
    whole.ReadBuffer(head.data(), head_len);
    context_.WriteToVolumes(head.data(), head_len);
    const uint32_t disk = context_.VolumeNumber();
    items_[i].offset = context_.Stream()->Position() - head_len;
    TDirItem& item = dir_.Items().ItemRef(i);
    item.DiskNumberStart64 = disk;
    item.HeaderImage.SetDiskNumberStart(disk >= kZip64Marker16 ? kZip64Marker16 : static_cast<uint16_t>(disk));
    if (end - at > head_len) context_.CopyToVolumes(whole, -1, end - at - head_len);
  }
}

void VolumeSetWriter::WriteDirectory() {
  const int n = static_cast<int>(items_.size());
  int64_t dir_size = 0, dir_offset = 0;
  uint32_t dir_disk = 0;
  for (int i = 0; i < n; ++i) {
    std::vector<uint8_t> record = central_record_(i);
    const int64_t len = static_cast<int64_t>(record.size());
    context_.WriteToVolumes(record.data(), len);
    if (i == 0) {
      dir_disk = context_.VolumeNumber();
      dir_offset = context_.Stream()->Position() - len;
    }
    dir_size += len;
    TDirItem& item = dir_.Items().ItemRef(i);
    if (items_[i].offset < kZip64Marker) item.HeaderImage.SetLocalHeaderOffset(static_cast<uint32_t>(items_[i].offset));
    item.LocalHeaderOffset64 = items_[i].offset;
  }
  if (n == 0) {
    dir_disk = context_.VolumeNumber();
    dir_offset = context_.Stream()->Position();
  }
  WriteEndRecords(dir_offset, dir_disk, dir_size);
}

void VolumeSetWriter::WriteEndRecords(int64_t dir_offset, uint32_t dir_disk, int64_t dir_size) {
  // The end records stay together on the last volume: when they may not fit
  // beside the directory (ZIP64 records counted in), they begin a volume of
  // their own.
  const int64_t tail_size = kEndRecordsRoom + static_cast<int64_t>(dir_.Comment().size());
  const int64_t room = context_.RoomOnVolume();
  if (room >= 0 && room < tail_size && context_.Stream()->Size() > 0) {
    if (context_.Settings().spanning == smSpanning) context_.Stream()->Flush();
    context_.StartNextVolume();
  }
  dir_.WriteEndRecords(*context_.Stream(), dir_offset, dir_disk, dir_size, context_.VolumeNumber());
  context_.Stream()->Flush();
}

afp::WideString VolumeSetWriter::NameLastVolume() {
  // The last volume carries the archive's own name.
  const afp::WideString last_name = context_.LastVolumeName();
  const afp::WideString written = context_.CurrentVolumeName();
  context_.CloseVolume();
  if (written != last_name) {
    afp::DeleteFile(last_name);
    if (!afp::RenameFile(written, last_name)) throw context_.Error(NativeError::kCannotCreateFile, {last_name});
    context_.LastVolumeRenamed(last_name);
  }
  return last_name;
}

}  // namespace

std::unique_ptr<ArchiveWriter> MakeVolumeSetWriter(CommitContext& context, std::vector<PlannedItem>& items,
                                                   CentralRecordMaker central_record) {
  return std::make_unique<VolumeSetWriter>(context, items, std::move(central_record));
}

}  // namespace arcfold
