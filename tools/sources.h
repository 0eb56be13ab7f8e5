// Walking what add, update and move are given: files, folders (with -r, all
// they hold) and masks in the last part of a path ("src/*.c"). The walk
// decides what may be read; the caller decides what is stored.
#pragma once

#include <string>

#include "platform/files.h"
#include "platform/wide.h"

namespace arcfold_cli {

class SourceVisitor {
 public:
  virtual ~SourceVisitor() = default;
  // A regular file (or a link to one); known: what its folder's listing
  // found of it, when the walk listed one (known->exists false: nothing).
  virtual void File(const afp::WideString& path, const afp::FileInfo* known) = 0;
  // A folder (or a link to one); true when what it holds is to be walked.
  virtual bool Folder(const afp::WideString& path) = 0;
  // Something that is not read, and why: a FIFO, socket or device (opening
  // one may wait forever or read without end), a link that leads nowhere or
  // back to a folder that holds it.
  virtual void Skipped(const afp::WideString& path, const std::string& why) = 0;
  // Something that was to be stored and cannot be, or not whole, and why: a
  // folder that cannot be read (what it holds is missing), a name that the
  // archive cannot keep. A failure of the run, unlike Skipped.
  virtual void NotAdded(const afp::WideString& path, const std::string& why) = 0;
};

// Walks path: a file; a folder with the files it holds (with recurse, its
// folders too, all the way down); or, when its last part has "*" or "?",
// the files of its folder that match it (with recurse, in all folders
// below too). Links are followed. list_ahead: a second thread looks at the
// entries of the next folder while the visitor is given those of this one.
void WalkSource(const afp::WideString& path, bool recurse, SourceVisitor& visitor, bool list_ahead = false);

}  // namespace arcfold_cli
