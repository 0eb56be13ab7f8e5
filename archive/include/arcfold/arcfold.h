// TAFBaseArchiver and TArcfold: the ZIP archive component.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "arcfold/dir_array.h"
#include "arcfold/events.h"
#include "arcfold/exception.h"
#include "arcfold/records.h"
#include "arcfold/search.h"
#include "arcfold/stream.h"
#include "arcfold/types.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/media.h"
#include "platform/prompts.h"

namespace arcfold {

class TAFDirManager;

using TWideStrings = std::vector<afp::WideString>;

class TAFBaseArchiver {
 public:
  TAFBaseArchiver();
  virtual ~TAFBaseArchiver();
  TAFBaseArchiver(const TAFBaseArchiver&) = delete;
  TAFBaseArchiver& operator=(const TAFBaseArchiver&) = delete;

  // ---- component identity ----
  const std::string& Name() const { return name_; }
  void SetName(const std::string& name) { name_ = name; }

  // ---- published properties ----
  const afp::WideString& FileName() const { return file_name_; }
  void SetFileName(const afp::WideString& v) { file_name_ = v; }
  const afp::WideString& BaseDir() const { return base_dir_; }
  void SetBaseDir(const afp::WideString& v) { base_dir_ = v; }
  const afp::WideString& TempDir() const { return temp_dir_; }
  void SetTempDir(const afp::WideString& v) { temp_dir_ = v; }
  const std::string& Password() const { return password_; }
  virtual void SetPassword(const std::string& v) { password_ = v; }
  TAFOptions& Options() { return options_; }
  void SetOptions(const TAFOptions& v) { options_.Assign(v); }
  TWideStrings& FileMasks() { return file_masks_; }
  TWideStrings& ExclusionMasks() { return exclusion_masks_; }
  TWideStrings& NoCompressionMasks() { return no_compression_masks_; }
  void SetFileMasks(const TWideStrings& v) { file_masks_ = v; }
  void SetExclusionMasks(const TWideStrings& v) { exclusion_masks_ = v; }
  void SetNoCompressionMasks(const TWideStrings& v) { no_compression_masks_ = v; }
  bool InMemory() const { return in_memory_; }
  void SetInMemory(bool v);
  TAFSpanningMode SpanningMode() const { return spanning_mode_; }
  void SetSpanningMode(TAFSpanningMode v);
  TAFSpanningOptions& SpanningOptions() { return spanning_options_; }
  const afp::WideString& SFXStub() const { return sfx_stub_; }
  void SetSFXStub(const afp::WideString& v) { sfx_stub_ = v; }
  bool ExtractCorruptedFiles() const { return extract_corrupted_files_; }
  void SetExtractCorruptedFiles(bool v) { extract_corrupted_files_ = v; }
  TAFCompressionLevel CompressionLevel() const { return compression_level_; }
  void SetCompressionLevel(TAFCompressionLevel v);
  uint8_t CompressionMode() const { return compression_mode_; }
  void SetCompressionMode(int v);
  afp::WideString CurrentVersion() const;
  void SetCurrentVersion(const afp::WideString&) {}
  TZip64Mode Zip64Mode() const { return zip64_mode_; }
  void SetZip64Mode(TZip64Mode v) { zip64_mode_ = v; }
  bool UnicodeFilenames() const { return unicode_filenames_; }
  void SetUnicodeFilenames(bool v) { unicode_filenames_ = v; }
  TAFCryptoAlgorithm EncryptionMethod() const { return encryption_method_; }
  void SetEncryptionMethod(TAFCryptoAlgorithm v) { encryption_method_ = v; }
  bool OpenDamagedArchives = true;

  // ---- events ----
  TAFFileProgressEvent OnFileProgress;
  TAFProgressEvent OnOverallProgress;
  TAFCopyTempFileProgressEvent OnCopyTempFileProgress;
  TAFConfirmOverwriteEvent OnConfirmOverwrite;
  TAFConfirmProcessFileEvent OnConfirmProcessFile;
  TNotifyEvent AfterOpen;
  TAFOnPasswordEvent OnPassword;
  TAFProcessFileFailureEvent OnProcessFileFailure;
  TAFOnRequestBlankVolumeEvent OnRequestBlankVolume;
  TAFOnRequestFirstVolumeEvent OnRequestFirstVolume;
  TAFOnRequestLastVolumeEvent OnRequestLastVolume;
  TAFOnRequestMiddleVolumeEvent OnRequestMiddleVolume;
  TAFOnDiskFullEvent OnDiskFull;
  TAFOnStoreFileEvent OnStoreFile;
  TAFOnExtractFileEvent OnExtractFile;
  TAFArchiveBusyEvent OnArchiveBusy;

  // ---- platform services of this instance ----
  // Where the built-in questions go; null: the process's default prompts.
  afp::Prompts* PromptUI = nullptr;
  // The ANSI/OEM code pages of item names.
  afp::CodePagePair CodePages = afp::DefaultCodePages();
  // The drives volumes are written to and read from; null: the system's.
  afp::VolumeMedia* Media = nullptr;

  // ---- lifecycle ----
  void OpenArchive();
  void OpenArchive(uint16_t mode);
  void CloseArchive() noexcept;
  // Closes the archive dropping a pending transaction instead of committing
  // it, and without writing an archive opened for creation that no commit
  // has put in place yet: what a caller does when its run failed.
  void AbandonArchive() noexcept;
  bool Active() const { return active_; }
  uint16_t OpenMode() const { return open_mode_; }
  // A transaction: changes made between BeginUpdate and EndUpdate are
  // written by one commit at EndUpdate (or CloseArchive). Each operation
  // below opens and commits a transaction of its own when none is open.
  void BeginUpdate();
  void EndUpdate();
  bool InUpdate() const { return in_update_; }

  // ---- changing the archive ----
  // Files and folders matching file_mask (a path with "*" and "?" in its
  // last part, or a folder, relative to BaseDir); with Options().Recurse
  // folders are added with what they hold. Names matching exclusion_mask
  // are left out; names matching NoCompressionMasks are stored as they are.
  // An item that already has the stored name is replaced.
  void AddFiles(const afp::WideString& file_mask, uint32_t search_attr = kAnyAttributes,
                const afp::WideString& exclusion_mask = afp::WideString());
  // As AddFiles, but an item that exists is replaced only as the overwrite
  // rules say (OverwriteMode against the file's time, ReplaceReadOnly).
  void UpdateFiles(const afp::WideString& file_mask, uint32_t search_attr = kAnyAttributes,
                   const afp::WideString& exclusion_mask = afp::WideString());
  // As AddFiles; once the commit has written the archive, the files added
  // are deleted, then the folders they leave empty (errors 27 and 60 go to
  // OnProcessFileFailure). Folders that still hold something stay.
  void MoveFiles(const afp::WideString& file_mask, uint32_t search_attr = kAnyAttributes,
                 const afp::WideString& exclusion_mask = afp::WideString());
  // An item named name (with "/" or "\" separators) with the given bytes.
  void AddFromBuffer(const afp::WideString& name, const void* data, int64_t size);
  // An item named name with the whole content of stream; with owns the
  // component frees the stream once the item is written or dropped.
  void AddFromStream(const afp::WideString& name, TStream* stream, bool owns = false);
  void DeleteFiles(const afp::WideString& file_mask, uint32_t search_attr = kAnyAttributes,
                   const afp::WideString& exclusion_mask = afp::WideString());
  // Gives the item old_name the name new_name; error 59 when another item
  // has it, error 16 when there is no item old_name.
  void RenameFile(const afp::WideString& old_name, const afp::WideString& new_name);
  void SetArchiveComment(const std::string& comment);
  // The transaction's steps, for callers that choose items themselves.
  void DeleteItem(int index);
  void PrepareItemFromFile(int index, const afp::WideString& source);
  // Prepares item index again from the file that corresponds to it (name
  // under dest_folder, or name itself when absolute) when that file exists
  // and the overwrite rules let it replace the item; folders are left alone.
  void UpdateItemFromFile(int index, const afp::WideString& name, const afp::WideString& dest_folder);

  // ---- items ----
  int ItemCount() const;
  const TDirItem& Item(int i) const;
  // The directory's machinery (internal; its header is not part of the API).
  TAFDirManager* DirManager() { return dir_.get(); }
  // Damage met while opening: the central directory could not be used and
  // the items were rebuilt from their local headers; or the end record
  // counted fewer items than the directory holds (all were read).
  bool DirectoryRebuilt() const;
  bool DirectoryUndercounted() const;
  // Marks for ProcessMarkedItems, for callers that choose items themselves.
  void ClearMarks();
  void SetMarked(int index, bool marked);
  const std::string& ArchiveComment() const;
  void ExtractFiles(const afp::WideString& file_mask, uint32_t search_attr = kAnyAttributes,
                    const afp::WideString& exclusion_mask = afp::WideString());
  void TestFiles(const afp::WideString& file_mask, uint32_t search_attr = kAnyAttributes,
                 const afp::WideString& exclusion_mask = afp::WideString());
  bool FindFirst(const afp::WideString& file_mask, TAFArchiveItem& item, uint32_t search_attr,
                 const afp::WideString& exclusion_mask = afp::WideString());
  bool FindNext(TAFArchiveItem& item);
  void MarkItems(const afp::WideString& file_mask, uint32_t search_attr, const afp::WideString& exclusion_mask);
  bool ItemMatches(int index, const TInternalSearchRec& state);

  // ---- item run state (read by the pipelines) ----
  bool CancelFlag() const { return cancel_; }
  void SetCancelFlag(bool v) { cancel_ = v; }
  bool SkipFlag() const { return skip_; }
  void SetSkipFlag(bool v) { skip_ = v; }
  bool ProgressActive() const { return progress_active_; }
  int ProcessedCount() const { return processed_count_; }
  int TotalCount() const { return total_count_; }
  // Items of the last run left alone because their file exists and the
  // overwrite rules (or the answer to the question) kept it.
  int SkippedExistingCount() const { return skipped_existing_; }
  // The last item run ended on an Abort answer.
  bool LastRunAborted() const { return last_run_aborted_; }
  const afp::WideString& WorkingFolder() const { return working_folder_; }
  TStream* ArchiveStream() { return stream_; }
  TAFVolumeNumberInfo& VolumeInfo() { return volume_info_; }
  const TAFSignatureSet& Signatures() const { return signatures_; }
  bool StandardSignatures() const { return standard_signatures_; }
  uint16_t CompressionMethod() const { return compression_method_; }

  // Where AES key material comes from (null: derived on the spot).
  const TAesKeyDeriver& AesKeyDeriver() const { return aes_key_deriver_; }
  void SetAesKeyDeriver(TAesKeyDeriver d) { aes_key_deriver_ = std::move(d); }

  // ---- event dispatchers: the handler if assigned, else the default ----
  // Volume numbers given to the dispatchers are internal (0-based) indexes;
  // handlers and questions see them 1-based.
  virtual void UpdateCompressionMethod();
  virtual void DoOverallProgress(double progress, TAFProcessOperation op, TAFProgressPhase phase, bool& cancel);
  virtual void DoFileProgress(const afp::WideString& file_name, double progress, TAFProcessOperation op,
                              TAFProgressPhase phase, bool& cancel);
  virtual void DoCopyTempFileProgress(double progress, TAFProgressPhase phase, bool& cancel);
  virtual void DoConfirmOverwrite(const afp::WideString& source, afp::WideString& dest, bool& confirm);
  virtual void DoConfirmProcessFile(const afp::WideString& file_name, TAFProcessOperation op, bool& confirm);
  virtual void DoPassword(const afp::WideString& file_name, std::string& new_password, bool& skip);
  virtual void DoProcessFileFailure(const afp::WideString& file_name, TAFProcessOperation op, int native_error,
                                    int error_code, const afp::WideString& message, TAFAction& action);
  virtual void DoRequestBlankVolume(int volume_number, afp::WideString& volume_file_name, bool& cancel);
  virtual void DoRequestFirstVolume(afp::WideString& volume_file_name, bool& cancel);
  virtual void DoRequestLastVolume(afp::WideString& volume_file_name, bool& cancel);
  virtual void DoRequestMiddleVolume(int volume_number, afp::WideString& volume_file_name, bool& cancel);
  virtual void DoDiskFull(int volume_number, const afp::WideString& volume_file_name, bool& cancel);
  virtual void DoInternalNotify() {}
  virtual void DoStoreFile(afp::WideString& file_name, int32_t& attr, std::string& comment,
                           const afp::WideString& original);
  virtual void DoExtractFile(afp::WideString& file_name, uint32_t& attr, const std::string& comment);
  virtual void DoAfterOpen();
  virtual void DoArchiveBusy(const afp::WideString& file_name, bool& cancel);

  // ---- volumes of a multi-volume archive ----
  // Rewrites name into the file name of volume index (-1: the last one);
  // with try_other, a spanned volume that is not there under the configured
  // naming is looked for under the other one.
  void VolumeFileName(afp::WideString& name, int index, bool try_other);
  // Makes the requested volume the current one, asking for it (or, while
  // creating, for a blank one) through the volume events; error 45 when the
  // answer is cancel.
  void SelectVolume(const TAFVolumeNumberInfo& requested);
  // The same for the volume after the current one.
  void SelectFollowingVolume();
  const afp::WideString& CurrentVolumeFileName() const { return current_volume_file_name_; }
  int64_t FreeSpace(const afp::WideString& path);
  // Writes count bytes over as many volumes as they need, through cache
  // when given; with reserve other than -1, what is left goes to the
  // current volume only if it fits there with reserve bytes to spare (0
  // keeps a record whole). Returns the bytes written.
  int64_t WriteAcrossVolumes(const void* buffer, int64_t count, TStream* cache, int64_t reserve);
  // The same; error 46 when fewer than count bytes went out.
  void WriteAllAcrossVolumes(const void* buffer, int64_t count, TStream* cache, int64_t reserve);
  // count bytes of source (all from its position with -1) through
  // WriteAcrossVolumes in chunks, with OnCopyTempFileProgress when
  // show_progress; abort is set when a handler asks to stop.
  void CopyAcrossVolumes(TStream& source, bool show_progress, TStream* cache, int64_t reserve, int64_t count,
                         bool& abort);
  // Reads count bytes from the archive stream, going on at the start of the
  // following volumes when one ends; true when all arrived.
  bool ReadAcrossVolumes(void* buffer, int64_t count);

  // ---- item processing (shared by extract and test) ----
  void ProcessMarkedItems(TAFProcessOperation op, int index);
  void ExtractItem(int index, const afp::WideString& name, const afp::WideString& dest_folder);
  void TestItem(int index);
  // Decodes one item into out. Outside a run every failure raises, a
  // password question answered with skip included (error 67), and the
  // message names the item.
  void DecodeItem(int index, TStream& out);

 protected:
  void SetStandardSignatures(bool on);
  // Whether helper threads may read the archive (a file, a second core).
  bool OtherThreadsCanRead() const;
  std::unique_ptr<class TAesKeyPrefetcher> StartAesPrefetch(int index);
  // Helpers decoding the next items of an extract or test run; null when
  // the run goes one item at a time.
  std::unique_ptr<class TExtractAhead> StartExtractAhead(TAFProcessOperation op, int index);
  // Finishes an item from what the helpers decoded (its progress replayed,
  // its file renamed over target); false leaves the item to be decoded here.
  bool FinishDecodedAhead(int index, const afp::WideString& target);
  // The counts and flags a run of ProcessMarkedItems starts from.
  void StartRunCounts(int index);
  // Processes the marked items (index alone unless -1), each with its
  // failure question; the last answer to it.
  TAFAction RunMarkedItems(TAFProcessOperation op, int index, class TExtractAhead* ahead);
  // Makes the folders of an extracted item's file_name below dest (once per
  // run of items in one folder), refusing links where they are not allowed.
  void MakeExtractFolder(const afp::WideString& dest, const afp::WideString& file_name, bool absolute);
  // Decodes the item into a new file beside target, renamed over it once
  // it checked; a failure leaves what was at target.
  void DecodeIntoFile(int index, uint32_t attr, const afp::WideString& target);
  afp::Prompts& PromptsInUse() { return PromptUI ? *PromptUI : afp::DefaultPrompts(); }
  void CheckActiveNoUpdate();
  void InternalOpen();
  afp::VolumeMedia& MediaInUse() { return Media ? *Media : afp::SystemMedia(); }
  bool SfxFlag() const;
  // Finds out, from the files present, whether the archive is one file, a
  // split set or a spanned set, and opens its last volume.
  void DetectSpanning();
  void DetectSpanningLoop();
  // Bytes the current volume still takes: its drive's free space less what
  // cached holds back, within the volume's size limit; negative when none.
  int64_t RoomOnVolume(int64_t cached);

  void OpenLastVolumeDirectory();
  void CloseVolumeStream();
  friend class TCommit;
  // Opens a transaction for one operation when none is open; Finish commits
  // it, and the destructor abandons it when the operation failed.
  class TOwnTransaction {
   public:
    explicit TOwnTransaction(TAFBaseArchiver& a);
    ~TOwnTransaction();
    void Finish();

   private:
    TAFBaseArchiver& a_;
    bool own_;
  };
  int NewItemSlot(const afp::WideString& name, TAFProcessOperation op);
  void AddOnePath(const afp::WideString& full, bool folder);
  // The archive's own files (the archive, the volumes of its set) as they
  // are when adding starts, and whether path is one of them or a temporary
  // file of a commit beside the archive: none of them is ever a source.
  void NoteOwnFiles();
  bool IsOwnFile(const afp::WideString& path) const;
  afp::WideString AddingBase() const;
  void SetNewHeader(TDirItem& item, uint16_t method, uint32_t dos_time, uint32_t attributes);
  void AddMatching(const afp::WideString& file_mask, uint32_t search_attr, const afp::WideString& exclusion_mask,
                   TAFProcessOperation how);
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
  bool stream_is_callers_ = false;
  // A new archive that is not on disk yet: it appears, whole, with its
  // first commit (or an empty one on close).
  bool unwritten_ = false;
  intptr_t write_lock_ = -1;
  TStream* stream_ = nullptr;
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
  TAesKeyDeriver aes_key_deriver_;
  class TExtractAhead* ahead_ = nullptr;  // the run's helpers, while it lasts
};

class TArcfold : public TAFBaseArchiver {
 public:
  TArcfold();
  void UpdateCompressionMethod() override;
};

}  // namespace arcfold
