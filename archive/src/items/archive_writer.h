// Where a commit writes the new archive, one implementation per way of
// putting it in place: a temporary file beside the archive renamed over it,
// a new memory stream, or a temporary file laid over the volumes of a set.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "platform/wide.h"

namespace arcfold {

class CommitContext;
class TStream;
struct PlannedItem;

class ArchiveWriter {
 public:
  virtual ~ArchiveWriter() = default;
  // Makes the place the new archive is written to.
  virtual void Begin() = 0;
  // Where the new archive is written, from Begin on.
  virtual TStream& Stream() = 0;
  // Puts the finished archive in the old one's place, as the archive's
  // stream; true when its directory is then to be read back from it.
  virtual bool Commit() = 0;
  // Undoes what Begin, the writes and a failed Commit left: the archive stays
  // as it was and nothing written remains.
  virtual void Rollback() noexcept = 0;
};

// The archive file at target (its name, links followed).
std::unique_ptr<ArchiveWriter> MakeFileWriter(CommitContext& context, afp::WideString target);
// An archive held in memory.
std::unique_ptr<ArchiveWriter> MakeMemoryWriter(CommitContext& context);
// A split or spanned set. items are the written items with their offsets in
// the temporary file, which become their offsets on the volumes;
// central_record gives an item's central record as it stands then.
using CentralRecordMaker = std::function<std::vector<uint8_t>(int index)>;
std::unique_ptr<ArchiveWriter> MakeVolumeSetWriter(CommitContext& context, std::vector<PlannedItem>& items,
                                                   CentralRecordMaker central_record);

// A new temporary file in folder, opened in mode; its name in name. Dead
// temporary files of killed runs in folder go first.
std::unique_ptr<TStream> CreateTempFile(CommitContext& context, const afp::WideString& folder, uint16_t mode,
                                        afp::WideString& name);
// Reads the directory again from the archive's stream.
void ReadDirectoryAgain(CommitContext& context);

}  // namespace arcfold
