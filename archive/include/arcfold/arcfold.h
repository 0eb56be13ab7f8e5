/// @file
/// TAFBaseArchiver and TArcfold: the ZIP archive component.
#pragma once

#include <cstdint>
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

using TWideStrings = std::vector<afp::WideString>;

class ARCFOLD_API TAFBaseArchiver {
 public:
  TAFBaseArchiver();
  virtual ~TAFBaseArchiver();
  TAFBaseArchiver(const TAFBaseArchiver&) = delete;
  TAFBaseArchiver& operator=(const TAFBaseArchiver&) = delete;

  // ---- component identity ----
  const std::string& Name() const;
  void SetName(const std::string& name);

  // ---- published properties ----
  const afp::WideString& FileName() const;
  void SetFileName(const afp::WideString& v);
  const afp::WideString& BaseDir() const;
  void SetBaseDir(const afp::WideString& v);
  const afp::WideString& TempDir() const;
  void SetTempDir(const afp::WideString& v);
  const std::string& Password() const;
  virtual void SetPassword(const std::string& v);
  TAFOptions& Options();
  void SetOptions(const TAFOptions& v);
  TWideStrings& FileMasks();
  TWideStrings& ExclusionMasks();
  TWideStrings& NoCompressionMasks();
  void SetFileMasks(const TWideStrings& v);
  void SetExclusionMasks(const TWideStrings& v);
  void SetNoCompressionMasks(const TWideStrings& v);
  bool InMemory() const;
  void SetInMemory(bool v);
  TAFSpanningMode SpanningMode() const;
  void SetSpanningMode(TAFSpanningMode v);
  TAFSpanningOptions& SpanningOptions();
  const afp::WideString& SFXStub() const;
  void SetSFXStub(const afp::WideString& v);
  bool ExtractCorruptedFiles() const;
  void SetExtractCorruptedFiles(bool v);
  TAFCompressionLevel CompressionLevel() const;
  void SetCompressionLevel(TAFCompressionLevel v);
  uint8_t CompressionMode() const;
  void SetCompressionMode(int v);
  afp::WideString CurrentVersion() const;
  void SetCurrentVersion(const afp::WideString&) {}
  TZip64Mode Zip64Mode() const;
  void SetZip64Mode(TZip64Mode v);
  bool UnicodeFilenames() const;
  void SetUnicodeFilenames(bool v);
  TAFCryptoAlgorithm EncryptionMethod() const;
  void SetEncryptionMethod(TAFCryptoAlgorithm v);
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
  /// Where the built-in questions go; null: the process's default prompts.
  afp::Prompts* PromptUI = nullptr;
  /// The ANSI/OEM code pages of item names.
  afp::CodePagePair CodePages = afp::DefaultCodePages();
  /// The drives volumes are written to and read from; null: the system's.
  afp::VolumeMedia* Media = nullptr;

  // ---- lifecycle ----
  void OpenArchive();
  void OpenArchive(uint16_t mode);
  void CloseArchive() noexcept;
  /// Closes the archive dropping a pending transaction instead of committing
  /// it, and without writing an archive opened for creation that no commit
  /// has put in place yet: what a caller does when its run failed.
  void AbandonArchive() noexcept;
  bool Active() const;
  uint16_t OpenMode() const;
  /// A transaction: changes made between BeginUpdate and EndUpdate are
  /// written by one commit at EndUpdate (or CloseArchive). Each operation
  /// below opens and commits a transaction of its own when none is open.
  void BeginUpdate();
  void EndUpdate();
  bool InUpdate() const;

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
  /// An item named name (with "/" or "\" separators) with the given bytes.
  void AddFromBuffer(const afp::WideString& name, const void* data, int64_t size);
  /// An item named name with the whole content of stream; with owns the
  /// component frees the stream once the item is written or dropped.
  void AddFromStream(const afp::WideString& name, TStream* stream, bool owns = false);
  void DeleteFiles(const afp::WideString& file_mask, uint32_t search_attr = kAnyAttributes,
                   const afp::WideString& exclusion_mask = afp::WideString());
  /// Gives the item old_name the name new_name; error 59 when another item
  /// has it, error 16 when there is no item old_name.
  void RenameFile(const afp::WideString& old_name, const afp::WideString& new_name);
  void SetArchiveComment(const std::string& comment);
  /// The transaction's steps, for callers that choose items themselves.
  void DeleteItem(int index);
  void PrepareItemFromFile(int index, const afp::WideString& source);
  /// Prepares item index again from the file that corresponds to it (name
  /// under dest_folder, or name itself when absolute) when that file exists
  /// and the overwrite rules let it replace the item; folders are left alone.
  void UpdateItemFromFile(int index, const afp::WideString& name, const afp::WideString& dest_folder);

  // ---- items ----
  int ItemCount() const;
  const TDirItem& Item(int i) const;
  /// The directory's machinery (internal; its header is not part of the API).
  TAFDirManager* DirManager();
  /// Damage met while opening: the central directory could not be used and
  /// the items were rebuilt from their local headers; or the end record
  /// counted fewer items than the directory holds (all were read).
  bool DirectoryRebuilt() const;
  bool DirectoryUndercounted() const;
  /// Marks for ProcessMarkedItems, for callers that choose items themselves.
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
  bool CancelFlag() const;
  void SetCancelFlag(bool v);
  bool SkipFlag() const;
  void SetSkipFlag(bool v);
  bool ProgressActive() const;
  int ProcessedCount() const;
  int TotalCount() const;
  /// Items of the last run left alone because their file exists and the
  /// overwrite rules (or the answer to the question) kept it.
  int SkippedExistingCount() const;
  /// The last item run ended on an Abort answer.
  bool LastRunAborted() const;
  const afp::WideString& WorkingFolder() const;
  TStream* ArchiveStream();
  TAFVolumeNumberInfo& VolumeInfo();
  const TAFSignatureSet& Signatures() const;
  bool StandardSignatures() const;
  uint16_t CompressionMethod() const;

  /// Where AES key material comes from (null: derived on the spot).
  const TAesKeyDeriver& AesKeyDeriver() const;
  void SetAesKeyDeriver(TAesKeyDeriver d);

  // ---- event dispatchers: the handler if assigned, else the default ----
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

  // ---- volumes of a multi-volume archive ----
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

  // ---- item processing (shared by extract and test) ----
  void ProcessMarkedItems(TAFProcessOperation op, int index);
  void ExtractItem(int index, const afp::WideString& name, const afp::WideString& dest_folder);
  void TestItem(int index);
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

class ARCFOLD_API TArcfold : public TAFBaseArchiver {
 public:
  TArcfold();
  void UpdateCompressionMethod() override;
};

}  // namespace arcfold
