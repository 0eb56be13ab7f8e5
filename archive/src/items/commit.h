// Committing an update transaction: the items of the archive written anew
// from the first changed one, then a new central directory.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "arcfold/types.h"
#include "platform/files.h"
#include "platform/wide.h"

namespace arcfold {

class ArchiveWriter;
class CommitContext;
class TAddAhead;
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
// Each way is an ArchiveWriter (items/archive_writer.h). Items copied from
// the old archive keep their local header, data and central header byte for
// byte (only the offset changes); a renamed item gets a new name in both
// headers. Afterwards the directory is read again from what was written, so
// that the item array describes the new archive.
class TCommit {
 public:
  explicit TCommit(CommitContext& context);
  ~TCommit();
  // Runs the commit; raises what made it fail after the rollback.
  void Run();

 private:
  struct Plan;
  struct NewItem;
  class CopyProgress;
  enum class ItemOutcome { kWritten, kFailed, kStopped };

  bool FindFirstChange();
  TAFProcessOperation CountItemsToWrite();
  void ReadOldDirectory();
  void IndexOldCentralRecords();
  std::unique_ptr<ArchiveWriter> ChooseWriter();
  // Writes the whole archive through writer and puts it in place; false
  // when the run stopped (cancel or abort) and nothing changed.
  bool WriteArchive(ArchiveWriter& writer, const std::string& comment);
  void CopyPrefix(TStream& out);
  bool WriteItems(TStream& out, int from);
  ItemOutcome WriteOneItem(int index, TStream& out, CopyProgress& progress);
  void DropFailedItem(int index);
  void NoteMovedSource(int index);
  void CopyOldItem(int index, TStream& out);
  bool WriteNewItem(int index, TStream& out);
  void OpenSource(NewItem& n);
  bool TakeReadAhead(NewItem& n, int index);
  void PrepareNewHeader(NewItem& n);
  bool EncodeNewItem(NewItem& n, TStream& out);
  void SettleZip64Sizes(NewItem& n);
  std::vector<uint8_t> LocalHeaderBytes(NewItem& n, bool final);
  void WriteCentralDirectory(TStream& out);
  std::vector<uint8_t> CentralRecord(int index);
  std::vector<uint8_t> BuildCentralRecord(int index);
  void KeepUnicodeNameFields();
  void Reload();
  void Restore();
  // Undoes what the commit wrote and gives the items back their state
  // before it.
  void RollBack(ArchiveWriter& writer);
  void RemoveMovedSources();
  bool RemoveMovedSource(const afp::WideString& path, bool folder, const afp::FileStamp& stamp);

  CommitContext& ctx_;
  TAFDirManager& dir_;
  std::unique_ptr<Plan> plan_;
  // The next small files read and deflated on a second core; null when the
  // commit keeps to the calling thread.
  std::unique_ptr<TAddAhead> ahead_;
};

}  // namespace arcfold
