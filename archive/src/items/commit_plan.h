// What one commit knows while it runs (internal to the commit's files).
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "items/commit.h"
#include "platform/files.h"
#include "platform/wide.h"

namespace arcfold {

// One current item as the commit writes it.
struct PlannedItem {
  int saved = -1;        // its saved item; -1 for a new one
  bool renamed = false;  // its name differs from the saved item's
  int64_t offset = 0;    // its new local header offset
};

struct TCommit::Plan {
  int first = 0;
  // The old directory with its end records and comment, as they were.
  std::vector<uint8_t> old_tail;
  int64_t old_tail_at = 0;
  // Each saved item's central record inside old_tail (offset, length);
  // length 0 when the directory could not be used (a recovered archive).
  std::vector<std::pair<size_t, size_t>> raw;
  // In the order of the current items.
  std::vector<PlannedItem> items;
  // Sources of moved items that were written, to remove after the commit;
  // a file only when it still has the size and time it had when it was
  // opened for its item (opened_stamp, of the source last opened).
  struct MovedFile {
    afp::WideString path;
    afp::FileStamp stamp;
  };
  std::vector<MovedFile> moved_files;
  std::vector<afp::WideString> moved_folders;
  afp::FileStamp opened_stamp;
};

}  // namespace arcfold
