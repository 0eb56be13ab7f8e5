// The component as the context of its commits: each call reaches the one
// field or event of the archive that the commit needs.
#include "items/commit_context.h"

#include "arcfold/arcfold.h"
#include "codec/decode.h"
#include "codec/encode.h"
#include "component/session.h"
#include "directory/dir_manager.h"
#include "items/commit.h"

namespace arcfold {

namespace {

class CommitContextImpl final : public CommitContext {
 public:
  explicit CommitContextImpl(ArchiveSession& session) : a_(session) {}

  TAFDirManager& Directory() override { return *a_.dir_; }
  const afp::WideString& FileName() const override { return a_.file_name_; }
  CommitSettings Settings() const override {
    return {a_.zip64_mode_,        a_.encryption_method_,
            a_.unicode_filenames_, a_.options_.OEMFileNames,
            a_.CodePages,          a_.signatures_,
            a_.spanning_mode_,     a_.in_memory_,
            a_.temp_dir_,          a_.options_.Tuning.WithEnvironment()};
  }
  const std::string& SavedComment() const override { return a_.saved_comment_; }
  void AbandonChanges() noexcept override { a_.AbandonTransaction(); }
  TStream* Stream() override { return a_.stream_.get(); }
  std::unique_ptr<TStream> ReleaseStream() override { return std::move(a_.stream_); }
  void ReplaceStream(std::unique_ptr<TStream> next) override { a_.stream_ = std::move(next); }
  uint16_t OpenMode() const override { return a_.open_mode_; }
  void OpenStream(const afp::WideString& path, uint16_t mode) override {
    ReplaceStream(nullptr);
    a_.open_mode_ = mode;
    a_.stream_ = std::make_unique<TFileStream>(path, mode);
  }
  bool Unwritten() const override { return a_.unwritten_; }
  void MarkWritten() override { a_.unwritten_ = false; }
  void MoveWriteLockTo(const afp::WideString& path) noexcept override { a_.MoveWriteLockTo(path); }

  void StartRun() override {
    a_.processed_count_ = 0;
    a_.total_count_ = 0;
    a_.cancel_ = false;
    a_.progress_active_ = true;
    a_.last_run_aborted_ = false;
  }
  void CountToWrite() override { ++a_.total_count_; }
  bool AnyToWrite() const override { return a_.total_count_ != 0; }
  void CountWritten() override { ++a_.processed_count_; }
  void EndProgress() override { a_.progress_active_ = false; }
  bool Cancelled() const override { return a_.cancel_; }
  void Cancel() override { a_.cancel_ = true; }
  void MarkAborted() override { a_.last_run_aborted_ = true; }

  void OverallProgress(double progress, TAFProcessOperation op, TAFProgressPhase phase, bool& cancel) override {
    a_.DoOverallProgress(progress, op, phase, cancel);
  }
  void FileProgress(const afp::WideString& name, double progress, TAFProcessOperation op, TAFProgressPhase phase,
                    bool& cancel) override {
    a_.DoFileProgress(name, progress, op, phase, cancel);
  }
  void CopyTempProgress(double progress, TAFProgressPhase phase, bool& cancel) override {
    a_.DoCopyTempFileProgress(progress, phase, cancel);
  }
  void AskOnFailure(const afp::WideString& name, TAFProcessOperation op, int native_error, int error_code,
                    const afp::WideString& message, TAFAction& action) override {
    a_.DoProcessFileFailure(name, op, native_error, error_code, message, action);
  }

  EAFException Error(NativeError code) const override { return EAFException::Create(code, &a_.facade_); }
  EAFException Error(NativeError code, const std::vector<TAFFmtArg>& args) const override {
    return EAFException::CreateFmt(code, &a_.facade_, args);
  }

  bool EncodeItem(TStream& source, TStream& out, int64_t source_size, TDirItem& item,
                  const std::vector<uint8_t>* deflated) override {
    return EncodeItemData(a_.facade_, source, out, source_size, item, deflated);
  }
  bool WriteAsking(TStream& out, const void* buffer, int64_t count) override {
    return WriteWithDiskFullRetry(a_.facade_, out, buffer, count);
  }

  void StartVolumes() override {
    a_.created_volumes_.clear();
    a_.volume_info_.Reset();
    TAFVolumeNumberInfo first;
    first.MarkFirst();
    a_.SelectVolume(first);
  }
  uint32_t VolumeNumber() const override { return static_cast<uint32_t>(a_.volume_info_.VolumeNumber); }
  void WriteToVolumes(const void* buffer, int64_t count) override {
    a_.WriteAllAcrossVolumes(buffer, count, nullptr, 0);
  }
  void CopyToVolumes(TStream& source, int64_t reserve, int64_t count) override {
    bool abort = false;
    a_.CopyAcrossVolumes(source, false, nullptr, reserve, count, abort);
  }
  int64_t RoomOnVolume() override { return a_.RoomOnVolume(0); }
  void StartNextVolume() override { a_.SelectFollowingVolume(); }
  afp::WideString LastVolumeName() override {
    afp::WideString name = a_.file_name_;
    a_.VolumeFileName(name, -1, false);
    return name;
  }
  const afp::WideString& CurrentVolumeName() const override { return a_.current_volume_file_name_; }
  void CloseVolume() override { a_.CloseVolumeStream(); }
  void LastVolumeRenamed(const afp::WideString& name) override { a_.created_volumes_.back() = name; }
  void OpenWrittenSet(const afp::WideString& name) override {
    a_.open_mode_ = fmOpenRead | fmShareDenyNone;
    a_.stream_ = std::make_unique<TFileStream>(name, a_.open_mode_);
    a_.current_volume_file_name_ = name;
    a_.volume_info_.LastVolumeNumber = a_.volume_info_.VolumeNumber;
    a_.volume_info_.MarkLast();
  }
  void KeepVolumes() override {
    a_.created_volumes_.clear();
    a_.volumes_written_ = true;
  }
  void DiscardVolumes() noexcept override {
    a_.CloseVolumeStream();
    for (const afp::WideString& v : a_.created_volumes_) afp::DeleteFile(v);
    a_.created_volumes_.clear();
  }

 private:
  ArchiveSession& a_;
};

}  // namespace

void ArchiveSession::RunCommit() {
  CommitContextImpl context(*this);
  TCommit(context).Run();
}

}  // namespace arcfold
