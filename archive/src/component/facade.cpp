// The component's public surface: each property and operation is the
// session's, which holds the archive.
#include "arcfold/arcfold.h"
#include "component/session.h"

namespace arcfold {

TAFBaseArchiver::TAFBaseArchiver() : session_(std::make_unique<ArchiveSession>(*this)) {
  SetCompressionLevel(clFastest);
}

TAFBaseArchiver::~TAFBaseArchiver() { CloseArchive(); }

TArcfold::TArcfold() {
  Session().SetStandardSignatures(true);
  Session().zip64_mode_ = zmDisabled;
  // The base constructor ran the base version of the method update.
  UpdateCompressionMethod();
}

void TAFBaseArchiver::UpdateCompressionMethod() { session_->compression_method_ = 0xFFFF; }

void TArcfold::UpdateCompressionMethod() { Session().compression_method_ = Session().compression_mode_ != 0 ? 8 : 0; }

afp::WideString TAFBaseArchiver::CurrentVersion() const { return u"6.94 "; }

// ---- properties ----
const std::string& TAFBaseArchiver::Name() const { return session_->name_; }
void TAFBaseArchiver::SetName(const std::string& name) { session_->name_ = name; }
const afp::WideString& TAFBaseArchiver::FileName() const { return session_->file_name_; }
void TAFBaseArchiver::SetFileName(const afp::WideString& v) { session_->file_name_ = v; }
const afp::WideString& TAFBaseArchiver::BaseDir() const { return session_->base_dir_; }
void TAFBaseArchiver::SetBaseDir(const afp::WideString& v) { session_->base_dir_ = v; }
const afp::WideString& TAFBaseArchiver::TempDir() const { return session_->temp_dir_; }
void TAFBaseArchiver::SetTempDir(const afp::WideString& v) { session_->temp_dir_ = v; }
const std::string& TAFBaseArchiver::Password() const { return session_->password_; }
void TAFBaseArchiver::SetPassword(const std::string& v) { session_->password_ = v; }
TAFOptions& TAFBaseArchiver::Options() { return session_->options_; }
void TAFBaseArchiver::SetOptions(const TAFOptions& v) { session_->options_.Assign(v); }
TWideStrings& TAFBaseArchiver::FileMasks() { return session_->file_masks_; }
TWideStrings& TAFBaseArchiver::ExclusionMasks() { return session_->exclusion_masks_; }
TWideStrings& TAFBaseArchiver::NoCompressionMasks() { return session_->no_compression_masks_; }
void TAFBaseArchiver::SetFileMasks(const TWideStrings& v) { session_->file_masks_ = v; }
void TAFBaseArchiver::SetExclusionMasks(const TWideStrings& v) { session_->exclusion_masks_ = v; }
void TAFBaseArchiver::SetNoCompressionMasks(const TWideStrings& v) { session_->no_compression_masks_ = v; }
bool TAFBaseArchiver::InMemory() const { return session_->in_memory_; }
TAFSpanningMode TAFBaseArchiver::SpanningMode() const { return session_->spanning_mode_; }
TAFSpanningOptions& TAFBaseArchiver::SpanningOptions() { return session_->spanning_options_; }
const afp::WideString& TAFBaseArchiver::SFXStub() const { return session_->sfx_stub_; }
void TAFBaseArchiver::SetSFXStub(const afp::WideString& v) { session_->sfx_stub_ = v; }
bool TAFBaseArchiver::ExtractCorruptedFiles() const { return session_->extract_corrupted_files_; }
void TAFBaseArchiver::SetExtractCorruptedFiles(bool v) { session_->extract_corrupted_files_ = v; }
TAFCompressionLevel TAFBaseArchiver::CompressionLevel() const { return session_->compression_level_; }
uint8_t TAFBaseArchiver::CompressionMode() const { return session_->compression_mode_; }
TZip64Mode TAFBaseArchiver::Zip64Mode() const { return session_->zip64_mode_; }
void TAFBaseArchiver::SetZip64Mode(TZip64Mode v) { session_->zip64_mode_ = v; }
bool TAFBaseArchiver::UnicodeFilenames() const { return session_->unicode_filenames_; }
void TAFBaseArchiver::SetUnicodeFilenames(bool v) { session_->unicode_filenames_ = v; }
TAFCryptoAlgorithm TAFBaseArchiver::EncryptionMethod() const { return session_->encryption_method_; }
void TAFBaseArchiver::SetEncryptionMethod(TAFCryptoAlgorithm v) { session_->encryption_method_ = v; }
bool TAFBaseArchiver::Active() const { return session_->active_; }
uint16_t TAFBaseArchiver::OpenMode() const { return session_->open_mode_; }
bool TAFBaseArchiver::InUpdate() const { return session_->in_update_; }
TAFDirManager* TAFBaseArchiver::DirManager() { return session_->dir_.get(); }
bool TAFBaseArchiver::CancelFlag() const { return session_->cancel_; }
void TAFBaseArchiver::SetCancelFlag(bool v) { session_->cancel_ = v; }
bool TAFBaseArchiver::SkipFlag() const { return session_->skip_; }
void TAFBaseArchiver::SetSkipFlag(bool v) { session_->skip_ = v; }
bool TAFBaseArchiver::ProgressActive() const { return session_->progress_active_; }
int TAFBaseArchiver::ProcessedCount() const { return session_->processed_count_; }
int TAFBaseArchiver::TotalCount() const { return session_->total_count_; }
int TAFBaseArchiver::SkippedExistingCount() const { return session_->skipped_existing_; }
bool TAFBaseArchiver::LastRunAborted() const { return session_->last_run_aborted_; }
const afp::WideString& TAFBaseArchiver::WorkingFolder() const { return session_->working_folder_; }
TStream* TAFBaseArchiver::ArchiveStream() { return session_->stream_.get(); }
TAFVolumeNumberInfo& TAFBaseArchiver::VolumeInfo() { return session_->volume_info_; }
const TAFSignatureSet& TAFBaseArchiver::Signatures() const { return session_->signatures_; }
bool TAFBaseArchiver::StandardSignatures() const { return session_->standard_signatures_; }
uint16_t TAFBaseArchiver::CompressionMethod() const { return session_->compression_method_; }
const TAesKeyDeriver& TAFBaseArchiver::AesKeyDeriver() const { return session_->aes_key_deriver_; }
void TAFBaseArchiver::SetAesKeyDeriver(TAesKeyDeriver d) { session_->aes_key_deriver_ = std::move(d); }
const afp::WideString& TAFBaseArchiver::CurrentVolumeFileName() const { return session_->current_volume_file_name_; }
void TAFBaseArchiver::SetInMemory(bool v) { session_->SetInMemory(v); }
void TAFBaseArchiver::SetSpanningMode(TAFSpanningMode v) { session_->SetSpanningMode(v); }
void TAFBaseArchiver::SetCompressionLevel(TAFCompressionLevel v) { session_->SetCompressionLevel(v); }
void TAFBaseArchiver::SetCompressionMode(int v) { session_->SetCompressionMode(v); }

// ---- lifecycle ----
void TAFBaseArchiver::OpenArchive() { session_->OpenArchive(); }
void TAFBaseArchiver::OpenArchive(uint16_t mode) { session_->OpenArchive(mode); }
void TAFBaseArchiver::CloseArchive() noexcept { session_->CloseArchive(); }
void TAFBaseArchiver::AbandonArchive() noexcept { session_->AbandonArchive(); }
void TAFBaseArchiver::BeginUpdate() { session_->BeginUpdate(); }
void TAFBaseArchiver::EndUpdate() { session_->EndUpdate(); }

// ---- changing the archive ----
void TAFBaseArchiver::AddFiles(const afp::WideString& file_mask, uint32_t search_attr,
                               const afp::WideString& exclusion_mask) {
  session_->AddFiles(file_mask, search_attr, exclusion_mask);
}
void TAFBaseArchiver::UpdateFiles(const afp::WideString& file_mask, uint32_t search_attr,
                                  const afp::WideString& exclusion_mask) {
  session_->UpdateFiles(file_mask, search_attr, exclusion_mask);
}
void TAFBaseArchiver::MoveFiles(const afp::WideString& file_mask, uint32_t search_attr,
                                const afp::WideString& exclusion_mask) {
  session_->MoveFiles(file_mask, search_attr, exclusion_mask);
}
void TAFBaseArchiver::AddLookedAt(const afp::WideString& path, const afp::FileInfo& known, TAFProcessOperation how) {
  session_->AddLookedAt(path, known, how);
}
void TAFBaseArchiver::AddFromBuffer(const afp::WideString& name, const void* data, int64_t size) {
  session_->AddFromBuffer(name, data, size);
}
void TAFBaseArchiver::AddFromStream(const afp::WideString& name, TStream* stream, bool owns) {
  session_->AddFromStream(name, stream, owns);
}
void TAFBaseArchiver::DeleteFiles(const afp::WideString& file_mask, uint32_t search_attr,
                                  const afp::WideString& exclusion_mask) {
  session_->DeleteFiles(file_mask, search_attr, exclusion_mask);
}
void TAFBaseArchiver::RenameFile(const afp::WideString& old_name, const afp::WideString& new_name) {
  session_->RenameFile(old_name, new_name);
}
void TAFBaseArchiver::SetArchiveComment(const std::string& comment) { session_->SetArchiveComment(comment); }
void TAFBaseArchiver::DeleteItem(int index) { session_->DeleteItem(index); }
void TAFBaseArchiver::PrepareItemFromFile(int index, const afp::WideString& source) {
  session_->PrepareItemFromFile(index, source);
}
void TAFBaseArchiver::UpdateItemFromFile(int index, const afp::WideString& name, const afp::WideString& dest_folder) {
  session_->UpdateItemFromFile(index, name, dest_folder);
}

// ---- items ----
int TAFBaseArchiver::ItemCount() const { return session_->ItemCount(); }
const TDirItem& TAFBaseArchiver::Item(int i) const { return session_->Item(i); }
bool TAFBaseArchiver::DirectoryRebuilt() const { return session_->DirectoryRebuilt(); }
bool TAFBaseArchiver::DirectoryUndercounted() const { return session_->DirectoryUndercounted(); }
void TAFBaseArchiver::ListItems(const std::function<bool(const TDirItem&)>& visit) { session_->ListItems(visit); }
void TAFBaseArchiver::ClearMarks() { session_->ClearMarks(); }
void TAFBaseArchiver::SetMarked(int index, bool marked) { session_->SetMarked(index, marked); }
const std::string& TAFBaseArchiver::ArchiveComment() const { return session_->ArchiveComment(); }
void TAFBaseArchiver::ExtractFiles(const afp::WideString& file_mask, uint32_t search_attr,
                                   const afp::WideString& exclusion_mask) {
  session_->ExtractFiles(file_mask, search_attr, exclusion_mask);
}
void TAFBaseArchiver::TestFiles(const afp::WideString& file_mask, uint32_t search_attr,
                                const afp::WideString& exclusion_mask) {
  session_->TestFiles(file_mask, search_attr, exclusion_mask);
}
bool TAFBaseArchiver::FindFirst(const afp::WideString& file_mask, TAFArchiveItem& item, uint32_t search_attr,
                                const afp::WideString& exclusion_mask) {
  return session_->FindFirst(file_mask, item, search_attr, exclusion_mask);
}
bool TAFBaseArchiver::FindNext(TAFArchiveItem& item) { return session_->FindNext(item); }
void TAFBaseArchiver::MarkItems(const afp::WideString& file_mask, uint32_t search_attr,
                                const afp::WideString& exclusion_mask) {
  session_->MarkItems(file_mask, search_attr, exclusion_mask);
}
bool TAFBaseArchiver::ItemMatches(int index, const TInternalSearchRec& state) {
  return session_->ItemMatches(index, state);
}

// ---- volumes ----
void TAFBaseArchiver::VolumeFileName(afp::WideString& name, int index, bool try_other) {
  session_->VolumeFileName(name, index, try_other);
}
void TAFBaseArchiver::SelectVolume(const TAFVolumeNumberInfo& requested) { session_->SelectVolume(requested); }
void TAFBaseArchiver::SelectFollowingVolume() { session_->SelectFollowingVolume(); }
int64_t TAFBaseArchiver::FreeSpace(const afp::WideString& path) { return session_->FreeSpace(path); }
int64_t TAFBaseArchiver::WriteAcrossVolumes(const void* buffer, int64_t count, TStream* cache, int64_t reserve) {
  return session_->WriteAcrossVolumes(buffer, count, cache, reserve);
}
void TAFBaseArchiver::WriteAllAcrossVolumes(const void* buffer, int64_t count, TStream* cache, int64_t reserve) {
  session_->WriteAllAcrossVolumes(buffer, count, cache, reserve);
}
void TAFBaseArchiver::CopyAcrossVolumes(TStream& source, bool show_progress, TStream* cache, int64_t reserve,
                                        int64_t count, bool& abort) {
  session_->CopyAcrossVolumes(source, show_progress, cache, reserve, count, abort);
}
bool TAFBaseArchiver::ReadAcrossVolumes(void* buffer, int64_t count) {
  return session_->ReadAcrossVolumes(buffer, count);
}

// ---- item processing ----
void TAFBaseArchiver::ProcessMarkedItems(TAFProcessOperation op, int index) { session_->ProcessMarkedItems(op, index); }
void TAFBaseArchiver::ExtractItem(int index, const afp::WideString& name, const afp::WideString& dest_folder) {
  session_->ExtractItem(index, name, dest_folder);
}
void TAFBaseArchiver::TestItem(int index) { session_->TestItem(index); }
void TAFBaseArchiver::DecodeItem(int index, TStream& out) { session_->DecodeItem(index, out); }

}  // namespace arcfold
