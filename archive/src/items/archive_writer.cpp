#include "items/archive_writer.h"

#include "arcfold/stream.h"
#include "directory/dir_manager.h"
#include "items/commit_context.h"
#include "items/path_parts.h"
#include "platform/files.h"

namespace arcfold {

namespace {

// Tries at names nobody took before giving up.
constexpr int kTempNameAttempts = 16;

// The archive file: the new archive goes to a temporary file beside it, so
// that the rename is one step.
class FileWriter final : public ArchiveWriter {
 public:
  FileWriter(CommitContext& context, afp::WideString target) : context_(context), target_(std::move(target)) {}

  void Begin() override {
    const afp::WideString folder = paths::FolderPart(paths::Backslashed(target_));
    // The copy of an archive that exists is for its owner's eyes until it
    // takes the archive's place (and its permissions) by the rename.
    const uint16_t create = context_.Unwritten() ? fmCreateNew : fmCreateNewPrivate;
    out_ = CreateTempFile(context_, folder, create, temp_name_);
  }
  TStream& Stream() override { return *out_; }
  bool Commit() override;
  void Rollback() noexcept override {
    if (out_) {
      out_.reset();
      afp::DeleteFile(temp_name_);
    }
  }

 private:
  void Publish();
  void Replace();
  [[noreturn]] void Refuse(NativeError code);

  CommitContext& context_;
  const afp::WideString target_;
  std::unique_ptr<TStream> out_;
  afp::WideString temp_name_;
};

bool FileWriter::Commit() {
  // Complete on the disk before it takes the archive's name: a power loss
  // leaves the old archive or the new one, never a part of either.
  out_->Flush();
  out_.reset();
  if (context_.Unwritten())
    Publish();
  else
    Replace();
  afp::SyncFolderOf(target_);
  context_.OpenStream(context_.FileName(), fmOpenReadWrite | fmShareDenyWrite);
  return true;
}

void FileWriter::Publish() {
  // A new archive never replaces one that another program created
  // meanwhile.
  if (!afp::RenameNoReplace(temp_name_, target_)) Refuse(NativeError::kCannotCreateOutputFile);
  context_.MarkWritten();
}

void FileWriter::Replace() {
  // Still the archive whose directory this commit read (a program that
  // takes no lock may have replaced it): its items would be lost.
  auto* file = dynamic_cast<TFileStream*>(context_.Stream());
  if (file && !afp::IsSameFile(file->Handle(), target_)) Refuse(NativeError::kCannotCreateOutputFile);
  afp::CopyPermissions(target_, temp_name_);
  // Where an open file cannot be replaced, the lock moves to the new file
  // first.
  if (afp::kOpenFilesBlockReplace) context_.MoveWriteLockTo(temp_name_);
  context_.ReplaceStream(nullptr);
  if (!afp::ReplaceFile(temp_name_, target_)) {
    afp::DeleteFile(temp_name_);
    context_.OpenStream(context_.FileName(), context_.OpenMode());
    ReadDirectoryAgain(context_);
    throw context_.Error(NativeError::kCannotCreateFile, {context_.FileName()});
  }
}

void FileWriter::Refuse(NativeError code) {
  afp::DeleteFile(temp_name_);
  throw context_.Error(code, {context_.FileName()});
}

// An archive in memory: a new memory stream replaces the old one only when
// complete.
class MemoryWriter final : public ArchiveWriter {
 public:
  explicit MemoryWriter(CommitContext& context) : context_(context) {}
  void Begin() override { out_ = std::make_unique<TMemoryStream>(); }
  TStream& Stream() override { return *out_; }
  bool Commit() override {
    context_.ReplaceStream(std::move(out_));
    return true;
  }
  void Rollback() noexcept override { out_.reset(); }

 private:
  CommitContext& context_;
  std::unique_ptr<TStream> out_;
};

}  // namespace

std::unique_ptr<ArchiveWriter> MakeFileWriter(CommitContext& context, afp::WideString target) {
  return std::make_unique<FileWriter>(context, std::move(target));
}

std::unique_ptr<ArchiveWriter> MakeMemoryWriter(CommitContext& context) {
  return std::make_unique<MemoryWriter>(context);
}

std::unique_ptr<TStream> CreateTempFile(CommitContext& context, const afp::WideString& folder, uint16_t mode,
                                        afp::WideString& name) {
  afp::RemoveDeadTempFiles(folder);
  for (int attempt = 0; attempt < kTempNameAttempts; ++attempt) {
    name = afp::UniqueTempName(folder);
    try {
      return std::make_unique<TFileStream>(name, mode);
    } catch (const EStreamError&) {
      // A name another file took meanwhile is tried again with the next.
      if (afp::GetPathType(name) == afp::PathType::None) throw context.Error(NativeError::kCannotCreateFile, {name});
    }
  }
  throw context.Error(NativeError::kCannotCreateFile, {context.FileName()});
}

void ReadDirectoryAgain(CommitContext& context) { context.Directory().ReadDirectory(); }

}  // namespace arcfold
