/// @file
/// TAFBaseArchiver and TArcfold: the ZIP archive component.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "arcfold/dir_array.h"
#include "arcfold/events.h"
#include "arcfold/exception.h"
#include "arcfold/export.h"
#include "arcfold/platform/codepage.h"
#include "arcfold/platform/files.h"
#include "arcfold/platform/media.h"
#include "arcfold/platform/prompts.h"
#include "arcfold/records.h"
#include "arcfold/search.h"
#include "arcfold/stream.h"
#include "arcfold/types.h"

namespace arcfold {

class ArchiveSession;
class TAFDirManager;

/// A list of masks or names.
using TWideStrings = std::vector<afp::WideString>;

/// The ZIP archive component: opens, lists, extracts, tests, creates and
/// changes one archive (a file, a set of volumes, or an archive in memory).
/// Failures raise exceptions derived from EAFError; failures of single
/// items go to OnProcessFileFailure first.
///
/// Thread safety: one archiver is used by one thread at a time. Archivers
/// of different archives may be used from different threads, but their
/// item runs (ExtractFiles, TestFiles, ProcessMarkedItems) take turns: each
/// holds the process-wide re-entrant lock afp::ProcessLock() for its whole
/// length. Events and questions come on the calling thread (see events.h
/// for what a handler may do). Writers of one archive file, in this process
/// or others, take turns through a lock on the file (OnArchiveBusy).
class ARCFOLD_API TAFBaseArchiver {
 public:
  TAFBaseArchiver();
  /// Closes the archive as CloseArchive does.
  virtual ~TAFBaseArchiver();
  TAFBaseArchiver(const TAFBaseArchiver&) = delete;
  TAFBaseArchiver& operator=(const TAFBaseArchiver&) = delete;

  // ---- component identity ----
  /// The component's name, the prefix of its messages ("Arcfold: ...").
  ///@{
  const std::string& Name() const;
  void SetName(const std::string& name);
  ///@}

  // ---- published properties ----
  /// The archive's file name (the first volume's for a volume set).
  ///@{
  const afp::WideString& FileName() const;
  void SetFileName(const afp::WideString& v);
  ///@}
  /// The folder that relative masks are added from and items are extracted
  /// to (empty: the current folder).
  ///@{
  const afp::WideString& BaseDir() const;
  void SetBaseDir(const afp::WideString& v);
  ///@}
  /// The folder of temporary files (empty: beside the archive).
  ///@{
  const afp::WideString& TempDir() const;
  void SetTempDir(const afp::WideString& v);
  ///@}
  /// The password of encrypted items, read and written (empty: none; the
  /// OnPassword event is asked when one is needed).
  ///@{
  const std::string& Password() const;
  virtual void SetPassword(const std::string& v);
  ///@}
  /// How the runs treat files and names.
  ///@{
  TAFOptions& Options();
  void SetOptions(const TAFOptions& v);
  ///@}
  /// Masks of the files an add takes, the names left out, and the names
  /// stored without compression.
  ///@{
  TWideStrings& FileMasks();
  TWideStrings& ExclusionMasks();
  TWideStrings& NoCompressionMasks();
  void SetFileMasks(const TWideStrings& v);
  void SetExclusionMasks(const TWideStrings& v);
  void SetNoCompressionMasks(const TWideStrings& v);
  ///@}
  /// The archive lives in memory (ArchiveStream()) instead of a file.
  ///@{
  bool InMemory() const;
  void SetInMemory(bool v);
  ///@}
  /// Whether the archive is one file or a set of volumes.
  ///@{
  TAFSpanningMode SpanningMode() const;
  void SetSpanningMode(TAFSpanningMode v);
  ///@}
  /// How volumes are named and sized.
  TAFSpanningOptions& SpanningOptions();
  /// The self-extractor stub put before a new archive (empty: none).
  ///@{
  const afp::WideString& SFXStub() const;
  void SetSFXStub(const afp::WideString& v);
  ///@}
  /// Items that fail their check are still written out when extracted.
  ///@{
  bool ExtractCorruptedFiles() const;
  void SetExtractCorruptedFiles(bool v);
  ///@}
  /// The compression of new items, as a level or as a mode 0..9.
  ///@{
  TAFCompressionLevel CompressionLevel() const;
  void SetCompressionLevel(TAFCompressionLevel v);
  uint8_t CompressionMode() const;
  void SetCompressionMode(int v);
  ///@}
  /// The component's version text (setting it does nothing).
  ///@{
  afp::WideString CurrentVersion() const;
  void SetCurrentVersion(const afp::WideString&) {}
  ///@}
  /// When ZIP64 records are written.
  ///@{
  TZip64Mode Zip64Mode() const;
  void SetZip64Mode(TZip64Mode v);
  ///@}
  /// Names are written with their exact UTF-16 form too (see the README).
  ///@{
  bool UnicodeFilenames() const;
  void SetUnicodeFilenames(bool v);
  ///@}
  /// The encryption of new items when a password is set.
  ///@{
  TAFCryptoAlgorithm EncryptionMethod() const;
  void SetEncryptionMethod(TAFCryptoAlgorithm v);
  ///@}
  /// A damaged archive is opened from its local headers when its central
  /// directory cannot be used (else opening fails).
  bool OpenDamagedArchives = true;

  // ---- events ----
  /// Handlers, called on the thread that runs the archiver (see events.h);
  /// without one the built-in behaviour (or question) applies.
  ///@{
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
  ///@}

  // ---- platform services of this instance ----
  /// Where the built-in questions go; null: the process's default prompts.
  afp::Prompts* PromptUI = nullptr;
  /// The ANSI/OEM code pages of item names.
  afp::CodePagePair CodePages = afp::DefaultCodePages();
  /// The drives volumes are written to and read from; null: the system's.
  afp::VolumeMedia* Media = nullptr;

  // ---- lifecycle ----
  /// Opens FileName: reads its central directory (or rebuilds it from the
  /// local headers, see OpenDamagedArchives), or creates the archive when
  /// there is none. Without a mode it is opened for writing where it can
  /// be, else for reading; mode is an fmOpen... | fmShare... code, or
  /// fmCreate. Raises EAFException (error 12 for a missing archive).
  ///@{
  void OpenArchive();
  void OpenArchive(uint16_t mode);
  ///@}
  /// Commits a pending transaction, then closes the archive.
  void CloseArchive() noexcept;
  /// Closes the archive dropping a pending transaction instead of committing
  /// it, and without writing an archive opened for creation that no commit
  /// has put in place yet: what a caller does when its run failed.
  void AbandonArchive() noexcept;
  /// Whether an archive is open, and the mode it was opened with.
  ///@{
  bool Active() const;
  uint16_t OpenMode() const;
  ///@}
  /// A transaction: changes made between BeginUpdate and EndUpdate are
  /// written by one commit at EndUpdate (or CloseArchive). Each operation
  /// below opens and commits a transaction of its own when none is open.
  ///@{
  void BeginUpdate();
  void EndUpdate();
  bool InUpdate() const;
  ///@}

  // ---- changing the archive ----
  /// Files and folders matching file_mask (a path with "*" and "?" in its
  /// last part, or a folder, relative to BaseDir); with Options().Recurse
  /// folders are added with what they hold. Names matching exclusion_mask
  /// are left out; names matching NoCompressionMasks are stored as they are.
  /// An item that already has the stored name is replaced.
  void AddFiles(const afp::WideString& file_mask, uint32_t search_attr = kAnyAttributes,
                const afp::WideString& exclusion_mask = afp::WideString());
  /// As AddFiles, but an item that exists is replaced only as the overwrite
  /// rules say (OverwriteMode against the file's time, ReplaceReadOnly).
  void UpdateFiles(const afp::WideString& file_mask, uint32_t search_attr = kAnyAttributes,
                   const afp::WideString& exclusion_mask = afp::WideString());
  /// As AddFiles; once the commit has written the archive, the files added
  /// are deleted, then the folders they leave empty (errors 27 and 60 go to
  /// OnProcessFileFailure). Folders that still hold something stay.
  void MoveFiles(const afp::WideString& file_mask, uint32_t search_attr = kAnyAttributes,
                 const afp::WideString& exclusion_mask = afp::WideString());
  /// AddFiles, UpdateFiles or MoveFiles (as how says: poAdd, poUpdate or
  /// poMove) of the one file or folder at path, which the caller's own walk
  /// has just looked at: known is what that look found (afp::GetFileInfo's,
  /// or a listing's from afp::ListDirectoryInfo), so it is not looked up
  /// again. A look that found nothing is made again here.
  void AddLookedAt(const afp::WideString& path, const afp::FileInfo& known, TAFProcessOperation how = poAdd);
  /// An item named name (with "/" or "\" separators) with the given bytes.
  void AddFromBuffer(const afp::WideString& name, const void* data, int64_t size);
  /// An item named name with the whole content of stream; with owns the
  /// component frees the stream once the item is written or dropped.
  void AddFromStream(const afp::WideString& name, TStream* stream, bool owns = false);
  /// Deletes the items matching file_mask (and not exclusion_mask).
  void DeleteFiles(const afp::WideString& file_mask, uint32_t search_attr = kAnyAttributes,
                   const afp::WideString& exclusion_mask = afp::WideString());
  /// Gives the item old_name the name new_name; error 59 when another item
  /// has it, error 16 when there is no item old_name.
  void RenameFile(const afp::WideString& old_name, const afp::WideString& new_name);
  /// Sets the archive's comment.
  void SetArchiveComment(const std::string& comment);
  /// The transaction's steps, for callers that choose items themselves:
  /// delete item index, or replace its data by the file source.
  ///@{
  void DeleteItem(int index);
  void PrepareItemFromFile(int index, const afp::WideString& source);
  ///@}
  /// Prepares item index again from the file that corresponds to it (name
  /// under dest_folder, or name itself when absolute) when that file exists
  /// and the overwrite rules let it replace the item; folders are left alone.
  void UpdateItemFromFile(int index, const afp::WideString& name, const afp::WideString& dest_folder);

  // ---- items ----
  /// The number of items, and item i (0 <= i < ItemCount()).
  ///@{
  int ItemCount() const;
  const TDirItem& Item(int i) const;
  ///@}
  /// The directory's machinery (internal; its header is not part of the API).
  TAFDirManager* DirManager();
  /// Damage met while opening: the central directory could not be used and
  /// the items were rebuilt from their local headers; or the end record
  /// counted fewer items than the directory holds (all were read).
  ///@{
  bool DirectoryRebuilt() const;
  bool DirectoryUndercounted() const;
  ///@}
  /// Hands each item to visit in archive order; visit returns false to stop.
  /// An open archive's items come from memory. A closed archive is opened
  /// read-only for the walk and closed after it, and its central directory
  /// is read one header at a time, so that memory does not grow with the
  /// number of items; a volume set, a self-extractor stub or a directory that
  /// does not read from its first header on is read whole first. Damage met
  /// after items were visited raises EReadError. DirectoryRebuilt and
  /// DirectoryUndercounted then tell the damage the walk met.
  void ListItems(const std::function<bool(const TDirItem&)>& visit);
  /// Marks for ProcessMarkedItems, for callers that choose items themselves.
  ///@{
  void ClearMarks();
  void SetMarked(int index, bool marked);
  ///@}
  /// The archive's comment.
  const std::string& ArchiveComment() const;
  /// Extracts the items matching file_mask (and not exclusion_mask) below
  /// BaseDir; an item that fails goes to OnProcessFileFailure. An item run:
  /// it holds the process-wide lock.
  void ExtractFiles(const afp::WideString& file_mask, uint32_t search_attr = kAnyAttributes,
                    const afp::WideString& exclusion_mask = afp::WideString());
  /// Decodes the items matching file_mask and checks them, writing nothing;
  /// failures go to OnProcessFileFailure. An item run, as ExtractFiles.
  void TestFiles(const afp::WideString& file_mask, uint32_t search_attr = kAnyAttributes,
                 const afp::WideString& exclusion_mask = afp::WideString());
  /// Finds the first item matching file_mask (and not exclusion_mask), then
  /// the next ones; false when there is none (more).
  ///@{
  bool FindFirst(const afp::WideString& file_mask, TAFArchiveItem& item, uint32_t search_attr,
                 const afp::WideString& exclusion_mask = afp::WideString());
  bool FindNext(TAFArchiveItem& item);
  ///@}
  /// Marks the items matching file_mask (and not exclusion_mask) for
  /// ProcessMarkedItems, and tells whether item index matches a search.
  ///@{
  void MarkItems(const afp::WideString& file_mask, uint32_t search_attr, const afp::WideString& exclusion_mask);
  bool ItemMatches(int index, const TInternalSearchRec& state);
  ///@}

  // ---- item run state (read by the pipelines) ----
  /// The run is to end (a handler may set it), or the current item is to be
  /// passed over.
  ///@{
  bool CancelFlag() const;
  void SetCancelFlag(bool v);
  bool SkipFlag() const;
  void SetSkipFlag(bool v);
  ///@}
  /// Whether a run reports progress now, and its items done and in all.
  ///@{
  bool ProgressActive() const;
  int ProcessedCount() const;
  int TotalCount() const;
  ///@}
  /// Items of the last run left alone because their file exists and the
  /// overwrite rules (or the answer to the question) kept it.
  int SkippedExistingCount() const;
  /// The last item run ended on an Abort answer.
  bool LastRunAborted() const;
  /// The folder the archive's temporary files go to.
  const afp::WideString& WorkingFolder() const;
  /// The open archive's stream (the memory of an in-memory archive).
  TStream* ArchiveStream();
  /// The volume the archive is at.
  TAFVolumeNumberInfo& VolumeInfo();
  /// @cond INTERNAL
  const TAFSignatureSet& Signatures() const;
  bool StandardSignatures() const;
  /// @endcond
  /// The compression method of new items (8: deflate, 0: stored).
  uint16_t CompressionMethod() const;

  /// Where AES key material comes from (null: derived on the spot).
  ///@{
  const TAesKeyDeriver& AesKeyDeriver() const;
  void SetAesKeyDeriver(TAesKeyDeriver d);
  ///@}

  // ---- event dispatchers: the handler if assigned, else the default ----
  /// @cond INTERNAL
  /// Volume numbers given to the dispatchers are internal (0-based) indexes;
  /// handlers and questions see them 1-based.
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
  /// @endcond

  // ---- volumes of a multi-volume archive ----
  /// @cond INTERNAL
  /// Rewrites name into the file name of volume index (-1: the last one);
  /// with try_other, a spanned volume that is not there under the configured
  /// naming is looked for under the other one.
  void VolumeFileName(afp::WideString& name, int index, bool try_other);
  /// Makes the requested volume the current one, asking for it (or, while
  /// creating, for a blank one) through the volume events; error 45 when the
  /// answer is cancel.
  void SelectVolume(const TAFVolumeNumberInfo& requested);
  /// The same for the volume after the current one.
  void SelectFollowingVolume();
  const afp::WideString& CurrentVolumeFileName() const;
  int64_t FreeSpace(const afp::WideString& path);
  /// Writes count bytes over as many volumes as they need, through cache
  /// when given; with reserve other than -1, what is left goes to the
  /// current volume only if it fits there with reserve bytes to spare (0
  /// keeps a record whole). Returns the bytes written.
  int64_t WriteAcrossVolumes(const void* buffer, int64_t count, TStream* cache, int64_t reserve);
  /// The same; error 46 when fewer than count bytes went out.
  void WriteAllAcrossVolumes(const void* buffer, int64_t count, TStream* cache, int64_t reserve);
  /// count bytes of source (all from its position with -1) through
  /// WriteAcrossVolumes in chunks, with OnCopyTempFileProgress when
  /// show_progress; abort is set when a handler asks to stop.
  void CopyAcrossVolumes(TStream& source, bool show_progress, TStream* cache, int64_t reserve, int64_t count,
                         bool& abort);
  /// Reads count bytes from the archive stream, going on at the start of the
  /// following volumes when one ends; true when all arrived.
  bool ReadAcrossVolumes(void* buffer, int64_t count);
  /// @endcond

  // ---- item processing (shared by extract and test) ----
  /// Runs op (poExtract, poTest) over the marked items, or over item index
  /// alone when it is not -1. An item run: it holds the process-wide lock.
  void ProcessMarkedItems(TAFProcessOperation op, int index);
  /// Extracts item index as name below dest_folder, or tests it, inside a
  /// run.
  ///@{
  void ExtractItem(int index, const afp::WideString& name, const afp::WideString& dest_folder);
  void TestItem(int index);
  ///@}
  /// Decodes one item into out. Outside a run every failure raises, a
  /// password question answered with skip included (error 67), and the
  /// message names the item.
  void DecodeItem(int index, TStream& out);

 protected:
  /// The archive session behind the component (for its subclasses in this
  /// library).
  ArchiveSession& Session() const { return *session_; }

 private:
  std::unique_ptr<ArchiveSession> session_;
};

/// The archive component as programs use it: TAFBaseArchiver with deflate
/// as its compression.
class ARCFOLD_API TArcfold : public TAFBaseArchiver {
 public:
  TArcfold();
  /// @cond INTERNAL
  void UpdateCompressionMethod() override;
  /// @endcond
};

}  // namespace arcfold
