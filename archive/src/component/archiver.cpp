// Properties, open/close lifecycle and guards of the component.
#include <algorithm>
#include <stdexcept>

#include "arcfold/arcfold.h"
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

TAFBaseArchiver::TAFBaseArchiver() {
  SetCompressionLevel(clFastest);
  in_update_ = false;
  encryption_method_ = caPkzipClassic;
  extract_corrupted_files_ = false;
  OpenDamagedArchives = true;
  spanning_mode_ = smNone;
  zip64_mode_ = zmAuto;
  unicode_filenames_ = false;
}

TAFBaseArchiver::~TAFBaseArchiver() { CloseArchive(); }

TArcfold::TArcfold() {
  SetStandardSignatures(true);
  zip64_mode_ = zmDisabled;
  // The base constructor ran the base version of the method update.
  UpdateCompressionMethod();
}

void TAFBaseArchiver::SetStandardSignatures(bool on) {
  standard_signatures_ = on;
  signatures_ = on ? TAFSignatureSet::Standard() : TAFSignatureSet::Alternative();
}

void TAFBaseArchiver::UpdateCompressionMethod() { compression_method_ = 0xFFFF; }

void TArcfold::UpdateCompressionMethod() { compression_method_ = compression_mode_ != 0 ? 8 : 0; }

void TAFBaseArchiver::SetCompressionLevel(TAFCompressionLevel v) {
  static const uint8_t kModes[] = {0, 1, 6, 9};
  compression_level_ = v;
  compression_mode_ = kModes[v];
  UpdateCompressionMethod();
}

void TAFBaseArchiver::SetCompressionMode(int v) {
  if (v > 9 || v < 0) throw EAFException::Create(NativeError::kInvalidCompressionLevel, this);
  compression_mode_ = static_cast<uint8_t>(v);
  compression_level_ = v == 0 ? clNone : v <= 3 ? clFastest : v <= 6 ? clNormal : clMax;
  UpdateCompressionMethod();
}

afp::WideString TAFBaseArchiver::CurrentVersion() const { return u"6.94 "; }

void TAFBaseArchiver::SetSpanningMode(TAFSpanningMode v) {
  if (active_) throw std::runtime_error("Cannot set spanning mode on open archive");
  spanning_mode_ = v;
}

void TAFBaseArchiver::SetInMemory(bool v) {
  if (v == in_memory_) return;
  if (active_) {
    if (in_memory_) {
      if (NamePart(file_name_).empty()) throw EAFException::Create(NativeError::kBlankFileNameLeavingMemory, this);
      auto* mem = dynamic_cast<TMemoryStream*>(stream_);
      // A new archive gets its end record only on close; without it the
      // saved file would not open again.
      if (mem && dir_ && mem->Size() == dir_->StubLength) dir_->WriteDirectory();
      if (mem) mem->SaveToFile(file_name_);
      CloseArchive();
      in_memory_ = false;
      OpenArchive();
    } else {
      // The archive's bytes come along, so that leaving memory later writes
      // back the same archive rather than an empty one.
      const bool is_new = dir_ && stream_ && stream_->Size() == dir_->StubLength;
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

void TAFBaseArchiver::OpenArchive() {
  if (!in_memory_ && NamePart(file_name_).empty()) throw EAFException::Create(NativeError::kBlankFileName, this);
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

void TAFBaseArchiver::OpenArchive(uint16_t mode) {
  if (!in_memory_ && NamePart(file_name_).empty()) throw EAFException::Create(NativeError::kBlankFileNameForMode, this);
  if (mode != fmCreate && !afp::FileExists(file_name_) && spanning_mode_ != smSpanning &&
      !MediaInUse().IsRemovable(file_name_))
    throw EAFException::CreateFmt(NativeError::kArchiveFileNotFound, this, {file_name_});
  if (mode != fmCreate && in_memory_)
    throw EAFException::CreateFmt(NativeError::kInMemoryCreateOnly, this, {file_name_});
  CloseArchive();
  stream_is_callers_ = false;
  open_mode_ = mode;
  InternalOpen();
  active_ = true;
  DoAfterOpen();
}

void TAFBaseArchiver::OpenInMemory(std::unique_ptr<TMemoryStream> content) {
  stream_is_callers_ = false;
  open_mode_ = fmOpenReadWrite;
  volume_info_.Reset();
  stream_ = content.release();
  try {
    dir_ = std::make_unique<TAFDirManager>(stream_, this, false);
    if (!dir_->CheckEndRecord()) throw EAFException::Create(NativeError::kArchiveDamaged, this);
    dir_->ReadDirectory();
  } catch (...) {
    dir_.reset();
    delete stream_;
    stream_ = nullptr;
    throw;
  }
  active_ = true;
  DoAfterOpen();
}

void TAFBaseArchiver::InternalOpen() {
  if (open_mode_ == fmCreate || in_memory_) {
    volumes_written_ = false;
    if (in_memory_) {
      stream_ = new TMemoryStream();
    } else if (spanning_mode_ != smNone) {
      // A new set is written by its commit, all volumes at once; until then
      // it lives in memory, and no blank disk is asked for.
      stream_ = new TMemoryStream();
      current_volume_file_name_.clear();
    } else {
      // Nothing appears under the archive's name until its first commit
      // renames the whole archive there: an interrupted creation leaves no
      // half archive behind.
      stream_ = new TMemoryStream();
      unwritten_ = true;
      current_volume_file_name_ = file_name_;
    }
    volume_info_.Reset();
    try {
      dir_ = std::make_unique<TAFDirManager>(stream_, this, true);
    } catch (...) {
      delete stream_;
      stream_ = nullptr;
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
      throw EAFException::Create(NativeError::kArchiveDamaged, this);
    }
    dir_->ReadDirectory();
  } catch (...) {
    dir_.reset();
    if (!stream_is_callers_) delete stream_;
    stream_ = nullptr;
    throw;
  }
}

void TAFBaseArchiver::AbandonArchive() noexcept {
  if (in_update_ && dir_) {
    dir_->Items.Assign(dir_->SavedItems);
    dir_->Comment = saved_comment_;
  }
  in_update_ = false;
  unwritten_ = false;
  CloseArchive();
}

void TAFBaseArchiver::CloseArchive() noexcept {
  if (active_) {
    try {
      if (in_update_) EndUpdate();
      if (stream_ && dir_ && stream_->Size() == dir_->StubLength) dir_->WriteDirectory();
      if (unwritten_) PublishUnwrittenArchive();
    } catch (...) {
    }
    active_ = false;
  }
  UnlockAfterWriting();
  unwritten_ = false;
  if (!stream_is_callers_) delete stream_;
  stream_ = nullptr;
  dir_.reset();
  in_update_ = false;
}

void TAFBaseArchiver::CheckActiveNoUpdate() {
  if (!active_) throw EAFException::Create(NativeError::kArchiveNotOpen, this);
  if (in_update_) throw EAFException::Create(NativeError::kUpdateNotEnded, this);
}

int TAFBaseArchiver::ItemCount() const { return dir_ ? dir_->Items.Count() : 0; }

const TDirItem& TAFBaseArchiver::Item(int i) const {
  if (!dir_) throw EAFException::Create(NativeError::kArchiveNotOpen, this);
  return dir_->Items.ItemRef(i);
}

bool TAFBaseArchiver::DirectoryRebuilt() const { return dir_ && dir_->Recovered; }
bool TAFBaseArchiver::DirectoryUndercounted() const { return dir_ && dir_->ExtraEntriesFound; }

void TAFBaseArchiver::ClearMarks() {
  if (!dir_) throw EAFException::Create(NativeError::kArchiveNotOpen, this);
  dir_->Items.ClearMarks();
}

void TAFBaseArchiver::SetMarked(int index, bool marked) {
  if (!dir_) throw EAFException::Create(NativeError::kArchiveNotOpen, this);
  dir_->Items.ItemRef(index).Marked = marked;
}

const std::string& TAFBaseArchiver::ArchiveComment() const {
  static const std::string kEmpty;
  return dir_ ? dir_->Comment : kEmpty;
}

afp::WideString TAFBaseArchiver::DestinationFolder() const {
  afp::WideString d = base_dir_.empty() ? working_folder_ : base_dir_;
  if (d.empty() || (d.back() != u'\\' && d.back() != u'/')) d += u'\\';
  return d;
}

}  // namespace arcfold
