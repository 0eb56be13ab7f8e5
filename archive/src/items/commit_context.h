// What a commit needs from the archive it writes, and nothing more: the
// archive's stream and name, the options in force, the run's counters and
// cancel flag, the events it fires, the write lock and the volumes of a set.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "arcfold/events.h"
#include "arcfold/exception.h"
#include "arcfold/records.h"
#include "arcfold/types.h"
#include "platform/codepage.h"
#include "platform/wide.h"

namespace arcfold {

class TAFDirManager;
class TStream;
struct TDirItem;

// The archive's options that shape what a commit writes, as they are when
// asked for.
struct CommitSettings {
  TZip64Mode zip64 = zmAuto;
  TAFCryptoAlgorithm encryption = caPkzipClassic;
  bool unicode_names = false;  // a unicode-name extra field with every new item
  bool oem_names = false;
  afp::CodePagePair code_pages;
  TAFSignatureSet signatures = TAFSignatureSet::Standard();
  TAFSpanningMode spanning = smNone;
  bool in_memory = false;
  afp::WideString temp_dir;  // empty: the system's
  TAFTuning tuning;          // with the environment's choices
};

class CommitContext {
 public:
  virtual ~CommitContext() = default;

  // The archive.
  virtual TAFDirManager& Directory() = 0;
  virtual const afp::WideString& FileName() const = 0;
  virtual CommitSettings Settings() const = 0;
  virtual const std::string& SavedComment() const = 0;
  // Puts the items and the comment back as they were when the transaction
  // began, and ends it.
  virtual void AbandonChanges() noexcept = 0;
  // The stream the archive is read from (null while none is open).
  virtual TStream* Stream() = 0;
  // Takes the stream out of the archive, which then has none.
  virtual std::unique_ptr<TStream> ReleaseStream() = 0;
  // Deletes the archive's stream and puts next (may be null) in its place.
  virtual void ReplaceStream(std::unique_ptr<TStream> next) = 0;
  virtual uint16_t OpenMode() const = 0;
  // Opens path in mode as the archive's stream, in place of the one before.
  virtual void OpenStream(const afp::WideString& path, uint16_t mode) = 0;
  // A new archive that nothing has been written for yet under its name.
  virtual bool Unwritten() const = 0;
  virtual void MarkWritten() = 0;
  // Moves the write lock to the file about to take the archive's place.
  virtual void MoveWriteLockTo(const afp::WideString& path) noexcept = 0;

  // The run: counters, cancel flag, progress and abort.
  virtual void StartRun() = 0;
  virtual void CountToWrite() = 0;
  virtual bool AnyToWrite() const = 0;
  virtual void CountWritten() = 0;
  virtual void EndProgress() = 0;
  virtual bool Cancelled() const = 0;
  virtual void Cancel() = 0;
  virtual void MarkAborted() = 0;

  // Events.
  virtual void OverallProgress(double progress, TAFProcessOperation op, TAFProgressPhase phase, bool& cancel) = 0;
  virtual void FileProgress(const afp::WideString& name, double progress, TAFProcessOperation op,
                            TAFProgressPhase phase, bool& cancel) = 0;
  virtual void CopyTempProgress(double progress, TAFProgressPhase phase, bool& cancel) = 0;
  virtual void AskOnFailure(const afp::WideString& name, TAFProcessOperation op, int native_error, int error_code,
                            const afp::WideString& message, TAFAction& action) = 0;

  // The archive's exception for code, with the arguments of its message.
  virtual EAFException Error(NativeError code) const = 0;
  virtual EAFException Error(NativeError code, const std::vector<TAFFmtArg>& args) const = 0;

  // An item's data encoded into out (false: not written, the run goes on or
  // was cancelled; deflated: the source of one chunk already deflated), and a
  // write that asks again when the disk is full.
  virtual bool EncodeItem(TStream& source, TStream& out, int64_t source_size, TDirItem& item,
                          const std::vector<uint8_t>* deflated) = 0;
  virtual bool WriteAsking(TStream& out, const void* buffer, int64_t count) = 0;

  // Volumes of a set, written one after another from the first.
  virtual void StartVolumes() = 0;
  virtual uint32_t VolumeNumber() const = 0;
  virtual void WriteToVolumes(const void* buffer, int64_t count) = 0;
  // count bytes of source (reserve as CopyAcrossVolumes takes it).
  virtual void CopyToVolumes(TStream& source, int64_t reserve, int64_t count) = 0;
  // What still fits on the current volume; negative when unlimited.
  virtual int64_t RoomOnVolume() = 0;
  virtual void StartNextVolume() = 0;
  virtual afp::WideString LastVolumeName() = 0;
  virtual const afp::WideString& CurrentVolumeName() const = 0;
  virtual void CloseVolume() = 0;
  // The volume just written now goes by name.
  virtual void LastVolumeRenamed(const afp::WideString& name) = 0;
  // The written set opened at its last volume, name, and kept.
  virtual void OpenWrittenSet(const afp::WideString& name) = 0;
  virtual void KeepVolumes() = 0;
  // Every volume this commit created deleted again.
  virtual void DiscardVolumes() noexcept = 0;
};

}  // namespace arcfold
