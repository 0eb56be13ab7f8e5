// Committing an update transaction: the items of the archive written anew
// from the first changed one, then a new central directory.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/wide.h"

namespace arcfold {

class ArchiveSession;
class TAFDirManager;
class TStream;
struct TDirItem;

// One commit, start to end. How it keeps the archive whole:
//  1. An archive file (a new one too): the whole new archive is written to a
//     temporary file beside it (readable by its owner only while it is one),
//     flushed, given the old file's permissions and renamed over it (a new
//     archive only where nothing appeared under its name meanwhile); then
//     the folder is flushed. A failure or cancel deletes the temporary
//     file; the old archive is never touched, and a kill or power loss
//     leaves either the old archive or the new one, and a temporary file
//     that the next commit in the folder deletes.
//  2. A split or spanned set: the same temporary file, then laid over the
//     volumes.
//  3. An archive held in memory is written to a new memory stream that
//     replaces the old one only when complete.
// Items copied from the old archive keep their local header, data and
// central header byte for byte (only the offset changes); a renamed item
// gets a new name in both headers. Afterwards the directory is read again
// from what was written, so that the item array describes the new archive.
class TCommit {
 public:
  explicit TCommit(ArchiveSession& archiver);
  ~TCommit();
  // Runs the commit; raises what made it fail after the rollback.
  void Run();

 private:
  struct Plan;
  bool FindFirstChange();
  void ReadOldDirectory();
  void CopyOldItem(int index, TStream& out);
  bool WriteNewItem(int index, TStream& out);
  bool WriteItems(TStream& out, int from);
  void WriteCentralDirectory(TStream& out);
  // Lays the finished archive in plan_->out over the volumes of a set.
  void WriteVolumes();
  std::vector<uint8_t> CentralRecord(int index);
  void Reload();
  void RemoveMovedSources();
  // Renames the finished temporary file over the archive (target: the
  // archive's file, links followed) and opens it as the archive.
  void PutInPlace(const afp::WideString& target);
  // Undoes what the commit wrote: the new archive's temporary file gone.
  void RollBackBytes() noexcept;

  ArchiveSession& a_;
  TAFDirManager& dir_;
  std::unique_ptr<Plan> plan_;
};

}  // namespace arcfold
