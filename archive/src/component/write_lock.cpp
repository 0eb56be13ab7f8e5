// One writer at a time per archive file, between processes. A commit
// replaces the archive by renaming a new file over it, so the lock taken on
// the file that was opened may belong to an archive that is no longer there:
// after the lock is taken, the name must still lead to the locked file, else
// the new file is locked instead. A transaction that finds the archive
// replaced since it was opened reads its directory again before it changes
// anything, so that it builds on what the other writer left.
#include <chrono>
#include <thread>

#include "arcfold/arcfold.h"
#include "component/session.h"
#include "directory/dir_manager.h"
#include "items/path_parts.h"
#include "platform/file_io.h"
#include "platform/files.h"

namespace arcfold {

namespace {

constexpr auto kBusyPoll = std::chrono::milliseconds(100);

}  // namespace

void ArchiveSession::LockForWriting() {
  if (in_memory_ || spanning_mode_ != smNone || write_lock_ != afp::kNoFile) return;
  const afp::WideString target = afp::FinalLinkTarget(file_name_);
  if (unwritten_ && !afp::FileExists(target)) return;  // a creation: its commit will not replace anything
  afp::FileHandle lock = afp::kNoFile;
  bool told = false;
  for (;;) {
    lock = afp::OpenFile(target, afp::FileOpen::Read, nullptr);
    if (lock == afp::kNoFile) throw EAFException::CreateFmt(NativeError::kArchiveFileNotFound, &facade_, {file_name_});
    if (afp::TryLockFile(lock)) {
      if (afp::IsSameFile(lock, target)) break;
      afp::CloseFile(lock);  // replaced while we waited: lock the new one
      continue;
    }
    afp::CloseFile(lock);
    bool cancel = !options_.WaitForOtherWriters;
    if (!cancel && !told) DoArchiveBusy(file_name_, cancel);
    told = true;
    if (cancel) throw EAFException::CreateFmt(NativeError::kCannotCreateOutputFile, &facade_, {file_name_});
    std::this_thread::sleep_for(kBusyPoll);
    DoArchiveBusy(file_name_, cancel);
    if (cancel) throw EAFException::CreateFmt(NativeError::kCannotCreateOutputFile, &facade_, {file_name_});
  }
  write_lock_ = lock;
  auto* file = dynamic_cast<TFileStream*>(stream_.get());
  if (file && afp::IsSameFile(file->Handle(), target)) return;
  // Another program created or replaced the archive since it was opened:
  // its directory is the one to change.
  try {
    dir_.reset();
    stream_.reset();
    unwritten_ = false;
    open_mode_ = fmOpenReadWrite | fmShareDenyWrite;
    InternalOpen();
  } catch (...) {
    active_ = false;
    UnlockAfterWriting();
    throw;
  }
}

void ArchiveSession::UnlockAfterWriting() noexcept {
  if (write_lock_ == afp::kNoFile) return;
  afp::UnlockFile(write_lock_);
  afp::CloseFile(write_lock_);
  write_lock_ = afp::kNoFile;
}

void ArchiveSession::MoveWriteLockTo(const afp::WideString& path) noexcept {
  if (write_lock_ == afp::kNoFile) return;
  const afp::FileHandle next = afp::OpenFile(path, afp::FileOpen::Read, nullptr);
  if (next != afp::kNoFile && !afp::TryLockFile(next)) {
    afp::CloseFile(next);
    return;
  }
  UnlockAfterWriting();
  write_lock_ = next;
}

void ArchiveSession::PublishUnwrittenArchive() noexcept {
  auto* memory = dynamic_cast<TMemoryStream*>(stream_.get());
  if (!memory) return;
  const afp::WideString target = afp::FinalLinkTarget(file_name_);
  const afp::WideString folder = paths::FolderPart(paths::Backslashed(target));
  afp::WideString temp;
  try {
    for (int attempt = 0; attempt < 16 && temp.empty(); ++attempt) {
      afp::WideString name = afp::UniqueTempName(folder);
      try {
        TFileStream out(name, fmCreateNew);
        temp = name;
        out.WriteBuffer(memory->Data().data(), memory->Size());
        out.Flush();
      } catch (const EFOpenError&) {
        if (afp::GetPathType(name) == afp::PathType::None) return;
      }
    }
    if (temp.empty()) return;
    if (afp::RenameNoReplace(temp, target)) {
      afp::SyncFolderOf(target);
      unwritten_ = false;
      return;
    }
  } catch (...) {
  }
  if (!temp.empty()) afp::DeleteFile(temp);
}

}  // namespace arcfold
