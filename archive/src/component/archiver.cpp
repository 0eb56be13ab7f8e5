// Properties, open/close lifecycle and guards of the component.
#include <algorithm>
#include <stdexcept>

#include "arcfold/arcfold.h"
#include "component/session.h"
#include "directory/dir_manager.h"
#include "platform/files.h"

namespace arcfold {

namespace {

// The file-name part of a path: the text after the last "\" or ":" (and "/").
afp::WideString NamePart(const afp::WideString& path) {
  size_t cut = path.find_last_of(u"\\:/");
  return cut == afp::WideString::npos ? path : path.substr(cut + 1);
}

}  // namespace

ArchiveSession::ArchiveSession(TAFBaseArchiver& facade)
    : facade_(facade), OpenDamagedArchives(facade.OpenDamagedArchives), CodePages(facade.CodePages) {}

ArchiveSession::~ArchiveSession() = default;

void ArchiveSession::SetStandardSignatures(bool on) {
  standard_signatures_ = on;
  signatures_ = on ? TAFSignatureSet::Standard() : TAFSignatureSet::Alternative();
}

std::unique_ptr<TAFDirManager> ArchiveSession::NewDirectory(bool new_archive) {
  return std::make_unique<TAFDirManager>(*this, *this, new_archive);
}

void ArchiveSession::SetCompressionLevel(TAFCompressionLevel v) {
  static const uint8_t kModes[] = {0, 1, 6, 9};
  compression_level_ = v;
  compression_mode_ = kModes[v];
  UpdateCompressionMethod();
}

void ArchiveSession::SetCompressionMode(int v) {
  if (v > 9 || v < 0) throw EAFException::Create(NativeError::kInvalidCompressionLevel, &facade_);
  compression_mode_ = static_cast<uint8_t>(v);
  compression_level_ = v == 0 ? clNone : v <= 3 ? clFastest : v <= 6 ? clNormal : clMax;
  UpdateCompressionMethod();
}

void ArchiveSession::SetSpanningMode(TAFSpanningMode v) {
  if (active_) throw EAFError("Cannot set spanning mode on open archive");
  spanning_mode_ = v;
}

void ArchiveSession::SetInMemory(bool v) {
  if (v == in_memory_) return;
  if (active_) {
    if (in_memory_) {
      if (NamePart(file_name_).empty()) throw EAFException::Create(NativeError::kBlankFileNameLeavingMemory, &facade_);
      auto* mem = dynamic_cast<TMemoryStream*>(stream_.get());
      // A new archive gets its end record only on close; without it the
      // saved file would not open again.
      if (mem && dir_ && mem->Size() == dir_->StubLength()) dir_->WriteDirectory();
      if (mem) mem->SaveToFile(file_name_);
      CloseArchive();
      in_memory_ = false;
      OpenArchive();
    } else {
      // The archive's bytes come along, so that leaving memory later writes
      // back the same archive rather than an empty one.
      const bool is_new = dir_ && stream_ && stream_->Size() == dir_->StubLength();
      auto mem = std::make_unique<TMemoryStream>();
      if (!is_new && stream_) {
        stream_->SetPosition(0);
        mem->CopyFrom(*stream_, stream_->Size());
      }
      CloseArchive();
      in_memory_ = true;
      if (is_new) {
        OpenArchive();
      } else {
        OpenInMemory(std::move(mem));
      }
    }
  }
  in_memory_ = v;
}

void ArchiveSession::OpenArchive() {
  if (!in_memory_ && NamePart(file_name_).empty()) throw EAFException::Create(NativeError::kBlankFileName, &facade_);
  uint16_t mode;
  if (in_memory_ || !afp::FileExists(file_name_)) {
    mode = fmCreate;
  } else {
    try {
      TFileStream probe(file_name_, fmOpenReadWrite | fmShareDenyWrite);
      mode = fmOpenReadWrite | fmShareDenyWrite;
    } catch (const EFOpenError&) {
      mode = fmOpenRead | fmShareDenyNone;
    }
  }
  OpenArchive(mode);
}

void ArchiveSession::CheckOpenable(uint16_t mode) {
  if (!in_memory_ && NamePart(file_name_).empty())
    throw EAFException::Create(NativeError::kBlankFileNameForMode, &facade_);
  if (mode != fmCreate && !afp::FileExists(file_name_) && spanning_mode_ != smSpanning &&
      !MediaInUse().IsRemovable(file_name_))
    throw EAFException::CreateFmt(NativeError::kArchiveFileNotFound, &facade_, {file_name_});
  if (mode != fmCreate && in_memory_)
    throw EAFException::CreateFmt(NativeError::kInMemoryCreateOnly, &facade_, {file_name_});
}

void ArchiveSession::OpenArchive(uint16_t mode) {
  CheckOpenable(mode);
  CloseArchive();
  open_mode_ = mode;
  InternalOpen();
  active_ = true;
  DoAfterOpen();
}

void ArchiveSession::OpenInMemory(std::unique_ptr<TMemoryStream> content) {
  open_mode_ = fmOpenReadWrite;
  volume_info_.Reset();
  stream_ = std::move(content);
  try {
    dir_ = NewDirectory(false);
    if (!dir_->CheckEndRecord()) throw EAFException::Create(NativeError::kArchiveDamaged, &facade_);
    dir_->ReadDirectory();
  } catch (...) {
    dir_.reset();
    stream_.reset();
    throw;
  }
  active_ = true;
  DoAfterOpen();
}

void ArchiveSession::InternalOpen() {
  if (open_mode_ == fmCreate || in_memory_) {
    volumes_written_ = false;
    stream_ = std::make_unique<TMemoryStream>();
    if (in_memory_) {
      // The archive lives in memory, whatever its name.
    } else if (spanning_mode_ != smNone) {
      // A new set is written by its commit, all volumes at once; until then
      // it lives in memory, and no blank disk is asked for.
      current_volume_file_name_.clear();
    } else {
      // Nothing appears under the archive's name until its first commit
      // renames the whole archive there: an interrupted creation leaves no
      // half archive behind.
      unwritten_ = true;
      current_volume_file_name_ = file_name_;
    }
    volume_info_.Reset();
    try {
      dir_ = NewDirectory(true);
    } catch (...) {
      stream_.reset();
      throw;
    }
    return;
  }
  spanning_mode_ = smNone;
  volume_info_.Reset();
  volumes_written_ = false;
  try {
    DetectSpanning();
    if (!dir_->CheckEndRecord()) {
      dir_.reset();
      throw EAFException::Create(NativeError::kArchiveDamaged, &facade_);
    }
    dir_->ReadDirectory();
  } catch (...) {
    dir_.reset();
    stream_.reset();
    throw;
  }
}

void ArchiveSession::AbandonArchive() noexcept {
  if (in_update_) AbandonTransaction();
  unwritten_ = false;
  CloseArchive();
}

void ArchiveSession::CloseArchive() noexcept {
  if (active_) {
    try {
      if (in_update_) EndUpdate();
      if (stream_ && dir_ && stream_->Size() == dir_->StubLength()) dir_->WriteDirectory();
      if (unwritten_) PublishUnwrittenArchive();
    } catch (...) {
    }
    active_ = false;
  }
  UnlockAfterWriting();
  unwritten_ = false;
  dir_.reset();
  stream_.reset();
  in_update_ = false;
  walk_rebuilt_ = walk_undercounted_ = false;
}

void ArchiveSession::CheckActiveNoUpdate() {
  if (!active_) throw EAFException::Create(NativeError::kArchiveNotOpen, &facade_);
  if (in_update_) throw EAFException::Create(NativeError::kUpdateNotEnded, &facade_);
}

int ArchiveSession::ItemCount() const { return dir_ ? dir_->Items().Count() : 0; }

const TDirItem& ArchiveSession::Item(int i) const {
  if (!dir_) throw EAFException::Create(NativeError::kArchiveNotOpen, &facade_);
  return dir_->Items().ItemRef(i);
}

bool ArchiveSession::DirectoryRebuilt() const { return dir_ ? dir_->Recovered() : walk_rebuilt_; }
bool ArchiveSession::DirectoryUndercounted() const { return dir_ ? dir_->ExtraEntriesFound() : walk_undercounted_; }

void ArchiveSession::ListItems(const std::function<bool(const TDirItem&)>& visit) {
  if (!active_) {
    WalkClosedArchive(visit);
    return;
  }
  for (int i = 0; i < ItemCount(); ++i)
    if (!visit(Item(i))) return;
}

void ArchiveSession::WalkClosedArchive(const std::function<bool(const TDirItem&)>& visit) {
  const uint16_t mode = fmOpenRead | fmShareDenyNone;
  CheckOpenable(mode);
  CloseArchive();
  open_mode_ = mode;
  spanning_mode_ = smNone;
  volume_info_.Reset();
  volumes_written_ = false;
  // The walk ends with the archive closed, whatever way it ends.
  struct Closer {
    ArchiveSession& session;
    ~Closer() {
      session.dir_.reset();
      session.stream_.reset();
    }
  } closer{*this};
  DetectSpanning();
  if (!dir_->CheckEndRecord()) throw EAFException::Create(NativeError::kArchiveDamaged, &facade_);
  if (!dir_->WalkDirectory(visit)) {
    dir_->ReadDirectory();
    for (int i = 0; i < dir_->Items().Count(); ++i)
      if (!visit(dir_->Items().ItemRef(i))) break;
  }
  walk_rebuilt_ = dir_->Recovered();
  walk_undercounted_ = dir_->ExtraEntriesFound();
}

void ArchiveSession::ClearMarks() {
  if (!dir_) throw EAFException::Create(NativeError::kArchiveNotOpen, &facade_);
  dir_->Items().ClearMarks();
}

void ArchiveSession::SetMarked(int index, bool marked) {
  if (!dir_) throw EAFException::Create(NativeError::kArchiveNotOpen, &facade_);
  dir_->Items().ItemRef(index).Marked = marked;
}

const std::string& ArchiveSession::ArchiveComment() const {
  static const std::string kEmpty;
  return dir_ ? dir_->Comment() : kEmpty;
}

afp::WideString ArchiveSession::DestinationFolder() const {
  afp::WideString d = base_dir_.empty() ? working_folder_ : base_dir_;
  if (d.empty() || (d.back() != u'\\' && d.back() != u'/')) d += u'\\';
  return d;
}

}  // namespace arcfold
