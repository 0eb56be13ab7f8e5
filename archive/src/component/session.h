// One archive as the component holds it: the stream, the item array, the
// settings in force, the transaction and the item run under way. The
// public TAFBaseArchiver is a façade over one session; the session fires
// the public events through it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "arcfold/arcfold.h"
#include "directory/dir_manager.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/media.h"
#include "platform/prompts.h"

namespace arcfold {

class TAesKeyPrefetcher;
class TExtractAhead;

class ArchiveSession final : public TAFVolumeSource, public TAFDirSettings {
 public:
  explicit ArchiveSession(TAFBaseArchiver& facade);
  ~ArchiveSession();
  ArchiveSession(const ArchiveSession&) = delete;
  ArchiveSession& operator=(const ArchiveSession&) = delete;

  // ---- settings ----
  void SetInMemory(bool v);
  void SetSpanningMode(TAFSpanningMode v);
  void SetCompressionLevel(TAFCompressionLevel v);
  void SetCompressionMode(int v);
  void SetStandardSignatures(bool on);

  // ---- lifecycle ----
  void OpenArchive();
  void OpenArchive(uint16_t mode);
  void CloseArchive() noexcept;
  void AbandonArchive() noexcept;
  void BeginUpdate();
  void EndUpdate();
  // Drops the transaction under way: the items and the comment as they were
  // when it began, the writer's lock released.
  void AbandonTransaction() noexcept;
  // Writes the transaction's changes: the commit, through its context.
  void RunCommit();

  // ---- changing the archive ----
  void AddFiles(const afp::WideString& file_mask, uint32_t search_attr, const afp::WideString& exclusion_mask);
  void UpdateFiles(const afp::WideString& file_mask, uint32_t search_attr, const afp::WideString& exclusion_mask);
  void MoveFiles(const afp::WideString& file_mask, uint32_t search_attr, const afp::WideString& exclusion_mask);
  void AddLookedAt(const afp::WideString& path, const afp::FileInfo& known, TAFProcessOperation how);
  void AddFromBuffer(const afp::WideString& name, const void* data, int64_t size);
  void AddFromStream(const afp::WideString& name, TStream* stream, bool owns);
  void DeleteFiles(const afp::WideString& file_mask, uint32_t search_attr, const afp::WideString& exclusion_mask);
  void RenameFile(const afp::WideString& old_name, const afp::WideString& new_name);
  void SetArchiveComment(const std::string& comment);
  void DeleteItem(int index);
  void PrepareItemFromFile(int index, const afp::WideString& source);
  void UpdateItemFromFile(int index, const afp::WideString& name, const afp::WideString& dest_folder);

  // ---- items ----
  int ItemCount() const;
  const TDirItem& Item(int i) const;
  bool DirectoryRebuilt() const;
  bool DirectoryUndercounted() const;
  void ListItems(const std::function<bool(const TDirItem&)>& visit);
  void ClearMarks();
  void SetMarked(int index, bool marked);
  const std::string& ArchiveComment() const;
  void ExtractFiles(const afp::WideString& file_mask, uint32_t search_attr, const afp::WideString& exclusion_mask);
  void TestFiles(const afp::WideString& file_mask, uint32_t search_attr, const afp::WideString& exclusion_mask);
  bool FindFirst(const afp::WideString& file_mask, TAFArchiveItem& item, uint32_t search_attr,
                 const afp::WideString& exclusion_mask);
  bool FindNext(TAFArchiveItem& item);
  void MarkItems(const afp::WideString& file_mask, uint32_t search_attr, const afp::WideString& exclusion_mask);
  bool ItemMatches(int index, const TInternalSearchRec& state);
  void ProcessMarkedItems(TAFProcessOperation op, int index);
  void ExtractItem(int index, const afp::WideString& name, const afp::WideString& dest_folder);
  void TestItem(int index);
  void DecodeItem(int index, TStream& out);

  // ---- volumes ----
  void VolumeFileName(afp::WideString& name, int index, bool try_other);
  void SelectVolume(const TAFVolumeNumberInfo& requested) override;
  void SelectFollowingVolume() override;
  int64_t FreeSpace(const afp::WideString& path);
  int64_t WriteAcrossVolumes(const void* buffer, int64_t count, TStream* cache, int64_t reserve);
  void WriteAllAcrossVolumes(const void* buffer, int64_t count, TStream* cache, int64_t reserve);
  void CopyAcrossVolumes(TStream& source, bool show_progress, TStream* cache, int64_t reserve, int64_t count,
                         bool& abort);
  bool ReadAcrossVolumes(void* buffer, int64_t count);

  // ---- what the directory reader and the volume reader see ----
  TStream* CurrentStream() override { return stream_.get(); }
  TAFVolumeNumberInfo& VolumeInfo() override { return volume_info_; }
  TAFSpanningMode VolumeSpanning() const override { return spanning_mode_; }
  const TAFSignatureSet& Signatures() const override { return signatures_; }
  bool StandardSignatures() const override { return standard_signatures_; }
  bool OpenDamaged() const override { return OpenDamagedArchives; }
  bool OemNames() const override { return options_.OEMFileNames; }
  const afp::CodePagePair& NameCodePages() const override { return CodePages; }
  const afp::WideString& StubFile() const override { return sfx_stub_; }
  int64_t FirstVolumeLimit() const override { return spanning_options_.LimitOf(0); }

  // ---- the façade's dispatchers (the handler if assigned, else the default) ----
  void UpdateCompressionMethod() { facade_.UpdateCompressionMethod(); }
  void DoAfterOpen() { facade_.DoAfterOpen(); }
  void DoArchiveBusy(const afp::WideString& file_name, bool& cancel) { facade_.DoArchiveBusy(file_name, cancel); }
  void DoOverallProgress(double progress, TAFProcessOperation op, TAFProgressPhase phase, bool& cancel) {
    facade_.DoOverallProgress(progress, op, phase, cancel);
  }
  void DoFileProgress(const afp::WideString& file_name, double progress, TAFProcessOperation op, TAFProgressPhase phase,
                      bool& cancel) {
    facade_.DoFileProgress(file_name, progress, op, phase, cancel);
  }
  void DoCopyTempFileProgress(double progress, TAFProgressPhase phase, bool& cancel) {
    facade_.DoCopyTempFileProgress(progress, phase, cancel);
  }
  void DoConfirmOverwrite(const afp::WideString& source, afp::WideString& dest, bool& confirm) {
    facade_.DoConfirmOverwrite(source, dest, confirm);
  }
  void DoConfirmProcessFile(const afp::WideString& file_name, TAFProcessOperation op, bool& confirm) {
    facade_.DoConfirmProcessFile(file_name, op, confirm);
  }
  void DoProcessFileFailure(const afp::WideString& file_name, TAFProcessOperation op, int native_error, int error_code,
                            const afp::WideString& message, TAFAction& action) {
    facade_.DoProcessFileFailure(file_name, op, native_error, error_code, message, action);
  }
  void DoRequestBlankVolume(int volume_number, afp::WideString& volume_file_name, bool& cancel) {
    facade_.DoRequestBlankVolume(volume_number, volume_file_name, cancel);
  }
  void DoRequestFirstVolume(afp::WideString& volume_file_name, bool& cancel) {
    facade_.DoRequestFirstVolume(volume_file_name, cancel);
  }
  void DoRequestLastVolume(afp::WideString& volume_file_name, bool& cancel) {
    facade_.DoRequestLastVolume(volume_file_name, cancel);
  }
  void DoRequestMiddleVolume(int volume_number, afp::WideString& volume_file_name, bool& cancel) {
    facade_.DoRequestMiddleVolume(volume_number, volume_file_name, cancel);
  }
  void DoDiskFull(int volume_number, const afp::WideString& volume_file_name, bool& cancel) {
    facade_.DoDiskFull(volume_number, volume_file_name, cancel);
  }
  void DoStoreFile(afp::WideString& file_name, int32_t& attr, std::string& comment, const afp::WideString& original) {
    facade_.DoStoreFile(file_name, attr, comment, original);
  }
  void DoExtractFile(afp::WideString& file_name, uint32_t& attr, const std::string& comment) {
    facade_.DoExtractFile(file_name, attr, comment);
  }

  // ---- the parts of the session's work ----
  // Whether helper threads may read the archive (a file, a second core).
  bool OtherThreadsCanRead() const;
  std::unique_ptr<TAesKeyPrefetcher> StartAesPrefetch(int index);
  // Helpers decoding the next items of an extract or test run; null when
  // the run goes one item at a time.
  std::unique_ptr<TExtractAhead> StartExtractAhead(TAFProcessOperation op, int index);
  // Finishes an item from what the helpers decoded (its progress replayed,
  // its file renamed over target); false leaves the item to be decoded here.
  bool FinishDecodedAhead(int index, const afp::WideString& target);
  // The counts and flags a run of ProcessMarkedItems starts from.
  void StartRunCounts(int index);
  // Processes the marked items (index alone unless -1), each with its
  // failure question; the last answer to it.
  TAFAction RunMarkedItems(TAFProcessOperation op, int index, TExtractAhead* ahead);
  // One item of a run, after its confirmation question; true when the item
  // was deleted (its successor moved into its place).
  bool ProcessOneItem(TAFProcessOperation op, int index, const afp::WideString& name);
  // Makes the folders of an extracted item's file_name below dest (once per
  // run of items in one folder), refusing links where they are not allowed.
  void MakeExtractFolder(const afp::WideString& dest, const afp::WideString& file_name, bool absolute);
  // Decodes the item into a new file beside target, renamed over it once
  // it checked; a failure leaves what was at target.
  void DecodeIntoFile(int index, uint32_t attr, const afp::WideString& target);
  afp::Prompts& PromptsInUse() { return facade_.PromptUI ? *facade_.PromptUI : afp::DefaultPrompts(); }
  void CheckActiveNoUpdate();
  // Refuses to open the archive in mode when it has no name, is missing or
  // lives in memory.
  void CheckOpenable(uint16_t mode);
  void InternalOpen();
  // The items of the archive, opened read-only for the walk and closed
  // after it.
  void WalkClosedArchive(const std::function<bool(const TDirItem&)>& visit);
  afp::VolumeMedia& MediaInUse() { return facade_.Media ? *facade_.Media : afp::SystemMedia(); }
  bool SfxFlag() const;
  // Finds out, from the files present, whether the archive is one file, a
  // split set or a spanned set, and opens its last volume.
  void DetectSpanning();
  void DetectSpanningLoop();
  // Bytes the current volume still takes: its drive's free space less what
  // cached holds back, within the volume's size limit; negative when none.
  int64_t RoomOnVolume(int64_t cached);
  void CloseVolumeStream();
  // The volume now open is requested; last_known: the last volume's number
  // known before.
  void RecordVolume(const TAFVolumeNumberInfo& requested, int32_t last_known);
  // A blank volume asked for and created (false: the answer was cancel);
  // name: the file the answers named.
  bool CreateVolume(const TAFVolumeNumberInfo& requested, afp::WideString& name);
  enum class VolumeAnswer { kOpened, kCancelled, kNoName };
  // The requested volume of a set being read, asked for until it is there.
  VolumeAnswer OpenRequestedVolume(const TAFVolumeNumberInfo& requested, afp::WideString& name);
  // Opens a transaction for one operation when none is open; Finish commits
  // it, and the destructor abandons it when the operation failed.
  class TOwnTransaction {
   public:
    explicit TOwnTransaction(ArchiveSession& a);
    ~TOwnTransaction();
    void Finish();

   private:
    ArchiveSession& a_;
    bool own_;
  };
  int NewItemSlot(const afp::WideString& name, TAFProcessOperation op);
  // known: what a look at full just found, when the caller made one.
  void AddOnePath(const afp::WideString& full, bool folder, const afp::FileInfo* known = nullptr);
  // PrepareItemFromFile with the name already worked out for source; known
  // as for AddOnePath.
  void PrepareItemAs(int index, const afp::WideString& source, afp::WideString stored,
                     const afp::FileInfo* known = nullptr);
  // The archive's own files (the archive, the volumes of its set) as they
  // are when the transaction's adding starts, and whether path is one of
  // them or a temporary file of a commit beside the archive: none of them is
  // ever a source. The archive is locked or not yet written while the
  // transaction lasts, so one look serves all its AddFiles calls.
  void NoteOwnFiles();
  bool IsOwnFile(const afp::WideString& path) const;
  afp::WideString AddingBase() const;
  void SetNewHeader(TDirItem& item, uint16_t method, uint32_t dos_time, uint32_t attributes);
  // known: as for AddOnePath, of what file_mask names.
  void AddMatching(const afp::WideString& file_mask, uint32_t search_attr, const afp::WideString& exclusion_mask,
                   TAFProcessOperation how, const afp::FileInfo* known = nullptr);
  bool ReplaceWith(int index, const afp::WideString& file);
  void AddPath(const afp::WideString& path, const afp::WideString& mask, const afp::WideString& exclusion_mask,
               bool recurse);
  void OpenInMemory(std::unique_ptr<TMemoryStream> content);
  // The writer's lock on the archive file, held from the start of a
  // transaction to the end of its commit, so that two programs never build
  // on the same old archive; the directory is read again when another
  // program replaced the archive since it was opened.
  void LockForWriting();
  void UnlockAfterWriting() noexcept;
  // Locks the file at path (the finished new archive) and lets go of the
  // old one.
  void MoveWriteLockTo(const afp::WideString& path) noexcept;
  // Writes a new archive that no commit has written (an empty one) under
  // its name, unless another program created one there meanwhile.
  void PublishUnwrittenArchive() noexcept;
  bool SearchStep(TAFArchiveItem& item);
  bool ItemMatchesMask(int index, const afp::WideString& mask, const TInternalSearchRec& state);
  void FillSearchItem(int index, TAFArchiveItem& item);
  afp::WideString DestinationFolder() const;
  // DecodeItem as a run does it: false when the password question was
  // answered with skip (or a cancel came); other failures raise.
  bool DecodeItemOfRun(int index, TStream& out);
  // A new directory manager over the current stream.
  std::unique_ptr<TAFDirManager> NewDirectory(bool new_archive);

  // ---- state ----
  // The component this session works for: its events, its questions and
  // its name in error messages.
  TAFBaseArchiver& facade_;
  // The façade's public settings the session's work reads.
  bool& OpenDamagedArchives;
  afp::CodePagePair& CodePages;

  std::string name_;
  afp::WideString file_name_, base_dir_, temp_dir_, sfx_stub_;
  std::string password_;
  TAFOptions options_;
  TWideStrings file_masks_, exclusion_masks_, no_compression_masks_;
  bool in_memory_ = false;
  TAFSpanningMode spanning_mode_ = smNone;
  TAFSpanningOptions spanning_options_;
  bool extract_corrupted_files_ = false;
  TAFCompressionLevel compression_level_ = clFastest;
  uint8_t compression_mode_ = 1;
  TZip64Mode zip64_mode_ = zmAuto;
  bool unicode_filenames_ = false;
  TAFCryptoAlgorithm encryption_method_ = caPkzipClassic;
  TAFVolumeNumberInfo volume_info_;
  uint16_t compression_method_ = 0xFFFF;

  bool active_ = false;
  bool in_update_ = false;
  uint16_t open_mode_ = 0;
  // A new archive that is not on disk yet: it appears, whole, with its
  // first commit (or an empty one on close).
  bool unwritten_ = false;
  intptr_t write_lock_ = -1;
  // The archive's bytes: its file, the current volume of a set, or memory.
  std::unique_ptr<TStream> stream_;
  std::unique_ptr<TAFDirManager> dir_;
  afp::WideString current_volume_file_name_;
  // Volumes created by the commit under way, deleted again when it fails.
  std::vector<afp::WideString> created_volumes_;
  // A multi-volume set takes one commit: the one that creates it.
  bool volumes_written_ = false;
  bool standard_signatures_ = false;
  TAFSignatureSet signatures_ = TAFSignatureSet::Alternative();

  bool cancel_ = false;
  bool skip_ = false;
  bool progress_active_ = false;
  // Inside ProcessMarkedItems: a password skip passes its item over there,
  // while an item decoded on its own fails.
  bool in_item_run_ = false;
  int processed_count_ = 0;
  int total_count_ = 0;
  int skipped_existing_ = 0;
  bool last_run_aborted_ = false;
  // Damage the walk of a closed archive met (until the archive is opened
  // or closed again).
  bool walk_rebuilt_ = false;
  bool walk_undercounted_ = false;
  afp::WideString working_folder_;
  afp::WideString last_folder_made_;
  // The folder last extracted into, and whether its drive is removable.
  afp::WideString removable_checked_for_;
  bool removable_folder_ = false;
  // Inside a transaction: the comment as it was.
  std::string saved_comment_;
  // What AddFiles, UpdateFiles and MoveFiles are doing: poAdd, poUpdate or poMove.
  TAFProcessOperation adding_ = poAdd;
  afp::WideString adding_base_;
  std::vector<afp::FileTarget> own_files_;
  bool own_files_noted_ = false;  // in this transaction,
  afp::WideString own_files_of_;  // for this archive name
  // The last absolute path expanded, and its expansion: the files added one
  // by one under one folder share their bases.
  struct TExpansionMemo {
    afp::WideString path, expanded;
  };
  TExpansionMemo naming_base_memo_, adding_base_memo_;
  const afp::WideString& ExpandedOnce(TExpansionMemo& memo, const afp::WideString& path);
  TAesKeyDeriver aes_key_deriver_;
  TExtractAhead* ahead_ = nullptr;  // the run's helpers, while it lasts
};

}  // namespace arcfold
