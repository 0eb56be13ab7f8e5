// Which volume is open: naming, asking for a volume, creating one, and
// telling a split or spanned set from a single file on opening.
#include <fmt/format.h>

#include <algorithm>
#include <memory>

#include "arcfold/arcfold.h"
#include "component/session.h"
#include "directory/dir_manager.h"
#include "platform/files.h"
#include "volumes/volume_name.h"

namespace arcfold {

namespace {

// Detection looks at the end record alone; damaged archives are not
// rebuilt while it guesses, and the setting comes back however it ends.
class TDamagedOff {
 public:
  explicit TDamagedOff(bool& flag) : flag_(flag), was_(flag) { flag_ = false; }
  ~TDamagedOff() { flag_ = was_; }

 private:
  bool& flag_;
  bool was_;
};

}  // namespace

bool ArchiveSession::SfxFlag() const {
  if (dir_ && dir_->StubLength() != 0) return true;
  return !sfx_stub_.empty() || MentionsExe(file_name_);
}

void ArchiveSession::VolumeFileName(afp::WideString& name, int index, bool try_other) {
  TVolumeNaming naming{spanning_mode_, spanning_options_.AdvancedNaming, SfxFlag(), compression_method_};
  afp::WideString built = VolumeName(name, index, naming);
  const bool reading = open_mode_ != fmCreate;
  if (reading) built = MediaInUse().Spelling(built);
  if (index != -1 && spanning_mode_ == smSpanning && try_other && !afp::FileExists(built)) {
    naming.advanced = !naming.advanced;
    afp::WideString other = MediaInUse().Spelling(VolumeName(name, index, naming));
    if (afp::FileExists(other)) built = other;
  }
  name = built;
}

int64_t ArchiveSession::FreeSpace(const afp::WideString& path) { return MediaInUse().FreeSpace(path); }

void ArchiveSession::CloseVolumeStream() { stream_.reset(); }

void ArchiveSession::RecordVolume(const TAFVolumeNumberInfo& requested, int32_t last_known) {
  volume_info_.Kind = requested.Kind;
  volume_info_.VolumeNumber = requested.VolumeNumber;
  volume_info_.LastVolumeNumber = requested.LastVolumeNumber >= 0 ? requested.LastVolumeNumber : last_known;
}

void ArchiveSession::SelectVolume(const TAFVolumeNumberInfo& requested) {
  const int32_t last_known = volume_info_.LastVolumeNumber;
  if (spanning_mode_ == smNone) {
    if (!stream_) {
      stream_ = std::make_unique<TFileStream>(file_name_, open_mode_);
      current_volume_file_name_ = file_name_;
    }
    RecordVolume(requested, last_known);
    return;
  }
  afp::WideString name;
  if (open_mode_ == fmCreate) {
    if (CreateVolume(requested, name)) return RecordVolume(requested, last_known);
  } else {
    if (stream_ && requested.SameVolume(volume_info_)) return;
    switch (OpenRequestedVolume(requested, name)) {
      case VolumeAnswer::kOpened: return RecordVolume(requested, last_known);
      case VolumeAnswer::kNoName: return;
      case VolumeAnswer::kCancelled: break;
    }
  }
  // The volume asked for is not there: say which file was looked for.
  std::string message = EAFException::Create(NativeError::kVolumeNotFound, &facade_).what();
  if (!name.empty() && !afp::FileExists(name)) message += ": \"" + afp::NativePath(name) + "\" was not found";
  throw EAFException::Reraised(NativeError::kVolumeNotFound, EAFException::CategoryOf(NativeError::kVolumeNotFound),
                               message);
}

bool ArchiveSession::CreateVolume(const TAFVolumeNumberInfo& requested, afp::WideString& name) {
  CloseVolumeStream();
  bool cancel = false;
  const int index = std::max(requested.VolumeNumber, 0);
  const int64_t limit = spanning_options_.LimitOf(index);
  for (;;) {
    name = file_name_;
    DoRequestBlankVolume(index, name, cancel);
    if (cancel) return false;
    const int64_t free = FreeSpace(name);
    if (free > 65536 && (limit <= 0 || spanning_mode_ != smSpanning || free >= limit)) break;
    DoDiskFull(index, name, cancel);
    if (cancel) return false;
  }
  try {
    stream_ = std::make_unique<TFileStream>(name, fmCreate);
  } catch (const EStreamError&) {
    throw EAFException::CreateFmt(NativeError::kCannotCreateFile, &facade_, {name});
  }
  created_volumes_.push_back(name);
  current_volume_file_name_ = name;
  if (spanning_mode_ == smSpanning)
    MediaInUse().SetLabel(name, fmt::format("pkback# {:03}", index + 1));  // a label that will not stick is no loss
  return true;
}

ArchiveSession::VolumeAnswer ArchiveSession::OpenRequestedVolume(const TAFVolumeNumberInfo& requested,
                                                                 afp::WideString& name) {
  for (;;) {
    name = file_name_;
    bool cancel = false;
    if (requested.IsFirst())
      DoRequestFirstVolume(name, cancel);
    else if (requested.IsLast())
      DoRequestLastVolume(name, cancel);
    else
      DoRequestMiddleVolume(requested.VolumeNumber, name, cancel);
    if (cancel) return VolumeAnswer::kCancelled;
    if (name.empty() && spanning_mode_ == smSplitting) return VolumeAnswer::kNoName;
    if (afp::FileExists(name)) {
      CloseVolumeStream();
      stream_ = std::make_unique<TFileStream>(name, open_mode_);
      current_volume_file_name_ = name;
      return VolumeAnswer::kOpened;
    }
  }
}

void ArchiveSession::DetectSpanning() {
  TDamagedOff damaged_off(OpenDamagedArchives);
  if (HasExeExtension(file_name_)) {
    spanning_mode_ = smNone;
    TAFVolumeNumberInfo last;
    last.MarkLast();
    SelectVolume(last);
    dir_ = NewDirectory(false);
    if (!dir_->CheckEndRecord()) {
      // A self-extractor that is the first volume of a split set: the set
      // ends in Base.ZIP beside it.
      spanning_mode_ = smSplitting;
      afp::WideString last_name = file_name_;
      VolumeFileName(last_name, -1, false);
      if (afp::FileExists(last_name)) {
        volume_info_.Reset();
        dir_.reset();
        CloseVolumeStream();
        stream_ = std::make_unique<TFileStream>(last_name, open_mode_);
        current_volume_file_name_ = last_name;
      }
      spanning_mode_ = smNone;
    }
  }
  DetectSpanningLoop();
}

void ArchiveSession::DetectSpanningLoop() {
  for (;;) {
    dir_.reset();
    volume_info_.Reset();
    TAFVolumeNumberInfo last;
    last.MarkLast();
    const bool removable = MediaInUse().IsRemovable(file_name_);
    if (!afp::FileExists(file_name_) && removable) spanning_mode_ = smSpanning;
    SelectVolume(last);
    dir_ = NewDirectory(false);
    const bool usable = dir_->CheckEndRecord();
    if (!usable) {
      spanning_mode_ = removable ? smSpanning : smNone;
    } else if (dir_->EndRecord().ThisDisk() == 0) {
      spanning_mode_ = smNone;
    } else {
      const int disk = dir_->EndRecord().ThisDisk();
      spanning_mode_ = smSplitting;
      afp::WideString previous = file_name_;
      VolumeFileName(previous, disk - 1, false);
      if (!afp::FileExists(previous)) {
        spanning_options_.AdvancedNaming = !spanning_options_.AdvancedNaming;
        previous = file_name_;
        VolumeFileName(previous, disk - 1, false);
        if (!afp::FileExists(previous)) {
          spanning_options_.AdvancedNaming = !spanning_options_.AdvancedNaming;
          spanning_mode_ = !MentionsExe(file_name_) && (disk > 0 || removable) ? smSpanning : smNone;
        }
      }
    }
    if (usable || spanning_mode_ == smNone) break;
  }
  volume_info_.LastVolumeNumber = dir_->EndRecord().ThisDisk() == 0xFFFF ? -1 : dir_->EndRecord().ThisDisk();
  volume_info_.MarkLast();
}

}  // namespace arcfold
