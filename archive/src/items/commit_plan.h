// What one commit knows while it runs (internal to the commit's files).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "arcfold/stream.h"
#include "items/commit.h"
#include "platform/files.h"
#include "platform/wide.h"

namespace arcfold {

struct TCommit::Plan {
  int first = 0;
  // The old directory with its end records and comment, as they were.
  std::vector<uint8_t> old_tail;
  int64_t old_tail_at = 0;
  // Each saved item's central record inside old_tail (offset, length);
  // length 0 when the directory could not be used (a recovered archive).
  std::vector<std::pair<size_t, size_t>> raw;
  // Per current item: its saved item (-1 for a new one), whether its name
  // changed, its new local header offset, and the name bytes written for it.
  std::vector<int> saved;
  std::vector<char> renamed;
  std::vector<int64_t> offset;
  std::vector<std::string> name_bytes;
  std::vector<char> utf8;
  std::unique_ptr<TStream> out;
  afp::WideString temp_name;
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
